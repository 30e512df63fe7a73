#pragma once

#include <QColor>
#include <QWidget>

class QTimer;

// A small indeterminate progress circle: a faint track with a bright arc turning around it. It
// turns only while visible and running.
class VornSpinner : public QWidget {
public:
    explicit VornSpinner(int diameter = 16, QWidget* parent = nullptr);

    int diameter() const { return diameter_; }
    void setDiameter(int diameter);
    QColor color() const { return color_; }
    void setColor(const QColor& color);

    bool isRunning() const { return running_; }
    void start();
    void stop();
    // Where the arc starts, in degrees; fixed angles make pictures repeatable.
    double angle() const { return angle_; }
    void setAngle(double degrees);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void syncTimer();
    int diameter_;
    QColor color_;
    bool running_ = true;
    double angle_ = 0;
    QTimer* timer_;
};
