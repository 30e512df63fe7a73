#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>
#include <QWidget>

#include <optional>
#include <string>

class VornSpinner;

// Small pieces the framework's sheets share (the feedback composer, the version-and-logs view).

// A plain text label in one font and colour; never read as rich text, so a hostile name or message
// shows as typed.
QLabel* vornTextLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);
// Changes the colour of a label made by vornTextLabel.
void vornSetLabelColor(QLabel* label, const QColor& color);

// A box that paints a rounded rectangle (continuous corners) behind its children: badges, chips,
// banners, tiles and rows. Give it a layout.
class VornFilledBox : public QWidget {
public:
    VornFilledBox(QColor fill, double cornerRadius, std::optional<QColor> border = std::nullopt,
                  QWidget* parent = nullptr);

    QColor fill() const { return fill_; }
    void setFill(const QColor& fill);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    double cornerRadius_;
    std::optional<QColor> border_;
};

// A button that is only a symbol (close, remove): no shape of its own, dimmed while pressed.
class VornSymbolButton : public QAbstractButton {
public:
    VornSymbolButton(std::string symbol, double size, QColor color, QWidget* parent = nullptr);

    const std::string& symbol() const { return symbol_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    double size_;
    QColor color_;
};

// The prominent button of a sheet: filled with the product's accent colour, white semibold label.
// While busy a small spinner leads the label.
class VornTintedButton : public QAbstractButton {
public:
    VornTintedButton(const QString& label, QColor tint, QFont font, QWidget* parent = nullptr);

    QString label() const { return label_; }
    void setLabel(const QString& label);
    bool isBusy() const { return busy_; }
    void setBusy(bool busy);
    VornSpinner* spinner() const { return spinner_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeSpinner();
    QString label_;
    QColor tint_;
    QFont font_;
    bool busy_ = false;
    VornSpinner* spinner_;
};
