#pragma once

#include <QWidget>

class QVBoxLayout;

// A glass container: its content inset by `padding` on every side, on a rounded rectangle filled
// with surface1 and bordered inside with borderSubtle. Give it one content widget (or add widgets to
// contentLayout()).
class VornGlassCard : public QWidget {
public:
    explicit VornGlassCard(double padding = 16, double cornerRadius = 14, QWidget* parent = nullptr);

    double padding() const { return padding_; }
    double cornerRadius() const { return cornerRadius_; }
    void setPadding(double padding);
    void setCornerRadius(double cornerRadius);

    // Replaces the content; the card takes ownership. nullptr leaves the card empty.
    void setContent(QWidget* content);
    QWidget* content() const { return content_; }
    QVBoxLayout* contentLayout() const { return layout_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double padding_;
    double cornerRadius_;
    QVBoxLayout* layout_;
    QWidget* content_ = nullptr;
};
