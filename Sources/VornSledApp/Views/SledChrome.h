#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>
#include <QLabel>
#include <QWidget>

#include <string>

// Small pieces of the workspace's chrome that several views share.

// A glass bar: its children on a rounded rectangle filled with surface1 and a glass border.
class SledGlassBar : public QWidget {
public:
    explicit SledGlassBar(double cornerRadius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double cornerRadius_;
};

// A filled circle, for a receiver's state.
class SledStatusDot : public QWidget {
public:
    explicit SledStatusDot(int diameter, QWidget* parent = nullptr);
    QColor color() const { return color_; }
    void setColor(const QColor& color);
    QSize sizeHint() const override { return {diameter_, diameter_}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int diameter_;
    QColor color_;
};

// A thin vertical rule in borderSubtle.
class SledVerticalDivider : public QWidget {
public:
    explicit SledVerticalDivider(int height, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {1, height_}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int height_;
};

// A thin horizontal rule in borderSubtle.
class SledHorizontalDivider : public QWidget {
public:
    explicit SledHorizontalDivider(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {1, 1}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A short text on a capsule tinted with its own colour ("by Vornworks", badges).
class SledPill : public QWidget {
public:
    SledPill(const QString& text, const QColor& color, QFont font, double horizontalPadding, double verticalPadding,
             QWidget* parent = nullptr);
    QString text() const { return text_; }
    void setText(const QString& text);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_;
    double horizontalPadding_;
    double verticalPadding_;
};

// A plain button whose label is a symbol and a text, drawn in one colour, with no shape of its
// own; used where the design shows a borderless menu or link.
class SledPlainSymbolButton : public QAbstractButton {
public:
    SledPlainSymbolButton(std::string symbol, const QColor& color, QFont font, QWidget* parent = nullptr);
    void setLabel(const QString& label);
    QString label() const { return label_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    QColor color_;
    QString label_;
};

// A label with the design's text settings: colour, font, no rich text.
class QLabel;
QLabel* sledLabel(const QColor& color, const QFont& font, QWidget* parent = nullptr);

// `text` as a tooltip that shows it as it stands: Qt takes a tooltip that looks like markup for
// rich text, and a name holding tags would otherwise be rendered, not shown.
QString sledPlainToolTip(const QString& text);

// A one-line label of secondary words (a tagline) that gives way when its row runs short: it asks
// for its whole text but may shrink to a few letters and an ellipsis, and then shows the whole
// text in its tooltip, so the names and buttons beside it keep theirs.
class SledYieldingLabel : public QLabel {
public:
    SledYieldingLabel(const QColor& color, const QFont& font, QWidget* parent = nullptr);
    bool isElided() const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A sheet's page: the product's ground filling the whole sheet, and the column its content goes
// in, `margin` points from every edge. The ground is the parent of everything the sheet shows.
class QVBoxLayout;
struct SledSheetPage {
    QWidget* ground;
    QVBoxLayout* column;
};
SledSheetPage sledSheetPage(QWidget* sheet, int margin, int spacing);

// A sheet's page while work is under way: a spinner above a callout, centred.
class VornSpinner;
struct SledBusyPage {
    QWidget* page;
    VornSpinner* spinner;
    QLabel* text;
};
SledBusyPage sledBusyPage(QWidget* parent);
