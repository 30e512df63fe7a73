#pragma once

#include <QAbstractButton>
#include <QFont>
#include <QString>

#include <string>

class QVariantAnimation;

// What the design's buttons share: a one-line label, optionally led by a symbol, elided when the
// button is narrower than its text (it never overflows its shape), drawn at 0.4 opacity while
// disabled. The label is shown exactly as given: "&" is no mnemonic marker here.
class VornDesignButton : public QAbstractButton {
public:
    QString label() const { return label_; }
    void setLabel(const QString& label);
    std::string symbol() const { return symbol_; }
    // A symbol name shown before the label; empty for none.
    void setSymbol(const std::string& symbol);
    QFont labelFont() const { return labelFont_; }
    void setLabelFont(const QFont& font);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    VornDesignButton(const QString& label, QFont font, double horizontalPadding, double verticalPadding,
                     QWidget* parent);

    // The symbol and the label, centred in `rect` in the widget's layout direction.
    void paintLabel(QPainter& painter, const QRectF& rect, const QColor& color) const;
    double horizontalPadding() const { return horizontalPadding_; }
    double verticalPadding() const { return verticalPadding_; }

private:
    double symbolSide() const;
    QString label_;
    std::string symbol_;
    QFont labelFont_;
    double horizontalPadding_;
    double verticalPadding_;
};

// The call to action: a near-white rounded rectangle with dark text. Pressing lightens the fill and
// shrinks the button slightly, easing over 0.12 seconds.
class VornPrimaryButton : public VornDesignButton {
public:
    explicit VornPrimaryButton(const QString& label = {}, QWidget* parent = nullptr);

    // 0 at rest, 1 fully pressed.
    double pressProgress() const { return pressProgress_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void animatePress(bool down);
    double pressProgress_ = 0;
    QVariantAnimation* animation_;
};

// Secondary buttons: a glass rounded rectangle; `active` marks the selected one of a group with a
// brighter fill and border. Pressing only dims the whole button to 0.78.
class VornGlassButton : public VornDesignButton {
public:
    explicit VornGlassButton(const QString& label = {}, bool active = false, QWidget* parent = nullptr);

    bool isActive() const { return active_; }
    void setActive(bool active);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool active_;
};

// The glass look alone, for controls that are not VornGlassButtons but must match them.
void vornPaintGlassButtonShape(QPainter& painter, const QRectF& rect, bool active);
