#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLayout>
#include <QList>
#include <QString>
#include <QWidget>

#include <optional>
#include <string>

class QPainter;

// Building blocks the suite views share: tinted capsules and pills with a symbol and a one-line
// text, progress tracks, an adaptive column grid, and the number rules the views print with.

// An opaque sRGB colour from 0…255 components.
inline QColor vornSuiteRGB(int red, int green, int blue) { return QColor(red, green, blue); }
// `color` with its alpha replaced by `opacity`.
QColor vornWithOpacity(const QColor& color, double opacity);

// A percentage as the suite views print it: rounded to a whole number, halves away from zero.
// Not-a-number prints 0; infinities and values past the 64-bit range saturate.
long long vornRoundedPercent(double percent);
// A fraction that can safely become a width or a percentage: within 0…1, not-a-number as 0.
double vornClampedFraction(double fraction);

// Text that another process wrote, made fit for one line: control characters, line breaks and the
// marks that reverse the reading direction become spaces, and it is cut to `maximumLength`
// characters (a status file is no place for a book).
QString vornSingleLine(const QString& text, qsizetype maximumLength = 512);
QString vornSingleLine(const std::string& text, qsizetype maximumLength = 512);

// The side of a symbol drawn beside text of `points` (the symbol is as tall as that font's
// capitals and a little more, like the design's buttons).
double vornSymbolSideForPoints(double points);

// What a tag (a badge, a chip, a pill) shows and how.
struct VornSuiteTagLook {
    QString text;
    std::string symbol;          // empty: no symbol
    double symbolPoints = 10;    // the symbol's design size
    QFont font;
    double spacing = 5;          // between symbol and text
    double horizontalPadding = 8;
    double verticalPadding = 4;
    double cornerRadius = -1;    // negative: a capsule
    QColor fill = Qt::transparent;
    std::optional<QColor> border;  // a 1-point line inside the edge
    QColor foreground = Qt::white;
    std::optional<QColor> symbolColor;  // the foreground when absent
    bool centred = true;         // content centred in a wider rectangle, else at the leading edge
};

// The tag's ideal size: padding around the symbol and the text on one line.
QSizeF vornSuiteTagSize(const VornSuiteTagLook& look);
// Draws the tag into `rect`; a text longer than the room is elided at its tail.
void vornPaintSuiteTag(QPainter& painter, const QRectF& rect, const VornSuiteTagLook& look,
                       Qt::LayoutDirection direction = Qt::LeftToRight);

// A tag as a widget: ideal size fixed, or as wide as its layout cell allows when `expanding`.
class VornSuiteTag : public QWidget {
public:
    explicit VornSuiteTag(VornSuiteTagLook look = {}, bool expanding = false, QWidget* parent = nullptr);

    const VornSuiteTagLook& look() const { return look_; }
    void setLook(VornSuiteTagLook look);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    VornSuiteTagLook look_;
    bool expanding_;
};

// A plain button (no system chrome) whose label is a tag; the tooltip carries its help text.
class VornSuiteTagButton : public QAbstractButton {
public:
    explicit VornSuiteTagButton(VornSuiteTagLook look = {}, QWidget* parent = nullptr);

    const VornSuiteTagLook& look() const { return look_; }
    void setLook(VornSuiteTagLook look);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    VornSuiteTagLook look_;
};

// A horizontal progress track: a capsule track and, from the leading edge, a capsule fill with a
// gradient from `fillStart` (leading) to `fillEnd` (trailing). Its height is fixed, its width
// whatever the layout gives; the fill's width is the owner's rule, applied to the track width.
class VornSuiteProgressTrack : public QWidget {
public:
    using WidthRule = double (*)(double fraction, double trackWidth);

    VornSuiteProgressTrack(double height, QColor track, WidthRule rule, QWidget* parent = nullptr);

    double fraction() const { return fraction_; }
    void setFraction(double fraction);
    void setFillColors(const QColor& fillStart, const QColor& fillEnd);
    // The fill's width at the current size.
    double fillWidth() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double height_;
    QColor track_;
    WidthRule rule_;
    double fraction_ = 0;
    QColor fillStart_ = Qt::white;
    QColor fillEnd_ = Qt::white;
};

// Columns of at least `minimumColumnWidth`, as many as fit, `columnSpacing` apart, sharing the
// width equally; items fill their cell's width, rows `rowSpacing` apart and as tall as their
// tallest item. Mirrored right to left.
class VornAdaptiveGridLayout : public QLayout {
public:
    VornAdaptiveGridLayout(double minimumColumnWidth, double columnSpacing, double rowSpacing,
                           QWidget* parent = nullptr);
    ~VornAdaptiveGridLayout() override;

    // How many columns a width holds (at least one).
    int columnsFor(double width) const;
    // Columns are also never narrower than the widest item's ideal width, so no item is cut while
    // fewer columns would show it whole.
    void setFitsWidestItem(bool fits);

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    double heightFor(double width, const QRect* place) const;
    double columnMinimum() const;
    QList<QLayoutItem*> items_;
    bool fitsWidestItem_ = false;
    double minimumColumnWidth_;
    double columnSpacing_;
    double rowSpacing_;
};

// Text in one colour and font, wrapped onto at most `maxLines` lines; what does not fit is elided
// (at the tail, or in the middle for names). With one line it never wraps. Optionally the font may
// shrink down to `minimumScale` of its size before any eliding happens.
class VornSuiteText : public QWidget {
public:
    VornSuiteText(QString text, QFont font, QColor color, int maxLines = 1, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    void setColor(const QColor& color);
    void setFont(const QFont& font);
    void setElideMode(Qt::TextElideMode mode);
    void setMinimumScale(double scale);
    // The lines as drawn at the current width.
    QStringList shownLines() const;
    // The font as drawn at the current width (smaller than the set font when it had to shrink).
    QFont shownFont() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList linesFor(double width, const QFont& font) const;
    QFont fontFor(double width) const;
    QString text_;
    QFont font_;
    QColor color_;
    int maxLines_;
    Qt::TextElideMode elide_ = Qt::ElideRight;
    double minimumScale_ = 1;
};
