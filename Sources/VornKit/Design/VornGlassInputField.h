#pragma once

#include <QLineEdit>

// A text field in the glass look: no frame of its own, 12.5-point text in textPrimary, on a rounded
// rectangle filled with surface2 and bordered inside with borderSubtle.
class VornGlassInputField : public QLineEdit {
public:
    explicit VornGlassInputField(QWidget* parent = nullptr, double cornerRadius = 8, double horizontalPadding = 10,
                                 double verticalPadding = 6);

    double cornerRadius() const { return cornerRadius_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double cornerRadius_;
    double horizontalPadding_;
    double verticalPadding_;
};
