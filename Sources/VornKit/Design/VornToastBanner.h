#pragma once

#include <QString>
#include <QWidget>

// A transient status message: a dark capsule with a status symbol and the message (shown as given,
// never translated). It takes no clicks or hover, so whatever lies under it stays usable. The
// widget reserves room around the capsule for its shadow and draws nothing outside itself; a
// message longer than the room it is given is elided.
class VornToastBanner : public QWidget {
public:
    explicit VornToastBanner(const QString& message = {}, bool isError = false, QWidget* parent = nullptr);

    QString message() const { return message_; }
    bool isError() const { return isError_; }
    void setMessage(const QString& message);
    void setError(bool isError);

    // The symbol name for the current state.
    std::string symbolName() const;
    // The capsule inside the widget (the rest is the shadow's room).
    QRectF capsuleRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Room kept for the shadow on each side (the shadow falls 4 points lower).
    static constexpr int shadowMargin = 14;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString message_;
    bool isError_;
};
