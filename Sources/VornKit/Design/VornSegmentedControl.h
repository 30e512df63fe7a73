#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

// A row of mutually exclusive segments in a glass capsule; the chosen one is lifted onto a brighter
// glass pill. Clicks and the arrow keys choose; currentIndexChanged reports every change.
class VornSegmentedControl : public QWidget {
    Q_OBJECT

public:
    struct Segment {
        QString title;
        std::string symbol;  // empty for none
    };

    explicit VornSegmentedControl(QWidget* parent = nullptr);

    void setSegments(const std::vector<Segment>& segments);
    // Keeps the selection; for a language change.
    void setTitles(const QStringList& titles);
    int count() const { return int(segments_.size()); }
    QString title(int index) const;

    // -1 when there are no segments.
    int currentIndex() const { return current_; }
    // Out-of-range indices are ignored.
    void setCurrentIndex(int index);
    // The segment's rectangle inside the widget.
    QRectF segmentRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void currentIndexChanged(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int indexAt(const QPointF& point) const;
    std::vector<Segment> segments_;
    int current_ = -1;
    int pressed_ = -1;
};
