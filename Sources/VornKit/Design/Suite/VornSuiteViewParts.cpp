#include "VornSuiteViewParts.h"

#include "VornPainting.h"
#include "VornSymbol.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <cmath>
#include <limits>

QColor vornWithOpacity(const QColor& color, double opacity) {
    QColor result = color;
    result.setAlphaF(float(std::clamp(std::isfinite(opacity) ? opacity : 0.0, 0.0, 1.0)));
    return result;
}

long long vornRoundedPercent(double percent) {
    if (std::isnan(percent)) {
        return 0;
    }
    // 2^63 as a double: anything at or past it cannot be held.
    constexpr double limit = 9223372036854775808.0;
    if (percent >= limit) {
        return std::numeric_limits<long long>::max();
    }
    if (percent <= -limit) {
        return std::numeric_limits<long long>::min();
    }
    return std::llround(percent);
}

double vornClampedFraction(double fraction) {
    if (std::isnan(fraction)) {
        return 0;
    }
    return std::clamp(fraction, 0.0, 1.0);
}

QString vornSingleLine(const QString& text, qsizetype maximumLength) {
    QString line = text.left(std::max<qsizetype>(0, maximumLength));
    // A surrogate pair cut in half would be left without its partner.
    if (!line.isEmpty() && line.back().isHighSurrogate()) {
        line.chop(1);
    }
    for (QChar& c : line) {
        const char16_t code = c.unicode();
        const bool directionMark = (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
        const QChar::Category category = c.category();
        if (directionMark || category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph) {
            c = QLatin1Char(' ');
        }
    }
    return line;
}

QString vornSingleLine(const std::string& text, qsizetype maximumLength) {
    // Decoding more than the kept length would only be thrown away (four bytes per character at most).
    const std::size_t bytes = std::min(text.size(), std::size_t(std::max<qsizetype>(0, maximumLength)) * 4 + 4);
    return vornSingleLine(QString::fromUtf8(text.data(), qsizetype(bytes)), maximumLength);
}

double vornSymbolSideForPoints(double points) {
    if (!std::isfinite(points)) {
        return 1;
    }
    return std::ceil(std::max(1.0, points) * 1.1);
}

QSizeF vornSuiteTagSize(const VornSuiteTagLook& look) {
    const QFontMetricsF metrics(look.font);
    const double side = look.symbol.empty() ? 0.0 : vornSymbolSideForPoints(look.symbolPoints);
    const double text = look.text.isEmpty() ? 0.0 : metrics.horizontalAdvance(look.text);
    const double gap = (side > 0 && text > 0) ? look.spacing : 0.0;
    const double height = std::max(metrics.height(), side);
    return {std::ceil(side + gap + text + 2 * look.horizontalPadding), std::ceil(height + 2 * look.verticalPadding)};
}

void vornPaintSuiteTag(QPainter& painter, const QRectF& rect, const VornSuiteTagLook& look,
                       Qt::LayoutDirection direction) {
    if (!rect.isValid()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QColor border = look.border.value_or(QColor(Qt::transparent));
    if (look.cornerRadius < 0) {
        vornPaintGlassCapsule(painter, rect, look.fill, border);
    } else {
        vornPaintGlassRoundedRect(painter, rect, look.cornerRadius, look.fill, border);
    }

    const QRectF content = rect.adjusted(look.horizontalPadding, look.verticalPadding, -look.horizontalPadding,
                                         -look.verticalPadding);
    const QFontMetricsF metrics(look.font);
    const double side = look.symbol.empty() ? 0.0 : vornSymbolSideForPoints(look.symbolPoints);
    const double gap = (side > 0 && !look.text.isEmpty()) ? look.spacing : 0.0;
    const double textRoom = std::max(0.0, content.width() - side - gap);
    const QString shown = metrics.elidedText(look.text, Qt::ElideRight, textRoom);
    const double textWidth = shown.isEmpty() ? 0.0 : std::min(textRoom, metrics.horizontalAdvance(shown));
    const double total = side + (shown.isEmpty() ? 0.0 : gap + textWidth);
    const double start = content.left() + (look.centred ? std::max(0.0, (content.width() - total) / 2.0) : 0.0);
    const bool rightToLeft = direction == Qt::RightToLeft;
    // Mirrors a run [x, x + width) of the content for right-to-left languages.
    const auto place = [&](double x, double width) { return rightToLeft ? content.left() + content.right() - x - width : x; };

    painter.setClipRect(rect);
    if (side > 0) {
        VornSymbol::paint(painter, QRectF(place(start, side), content.center().y() - side / 2, side, side), look.symbol,
                          look.symbolColor.value_or(look.foreground));
    }
    if (!shown.isEmpty()) {
        painter.setFont(look.font);
        painter.setPen(look.foreground);
        const double x = start + side + gap;
        painter.drawText(QRectF(place(x, textWidth), content.top(), textWidth + 1, content.height()),
                         Qt::AlignVCenter | Qt::AlignLeft, shown);
    }
    painter.restore();
}

namespace {

QSize ceilSize(const QSizeF& size) { return QSize(int(std::ceil(size.width())), int(std::ceil(size.height()))); }

// Room for the padding, the symbol and an ellipsis.
QSize minimumTagSize(const VornSuiteTagLook& look) {
    VornSuiteTagLook shortest = look;
    shortest.text = look.text.isEmpty() ? QString() : QStringLiteral("…");
    return ceilSize(vornSuiteTagSize(shortest));
}

}  // namespace

VornSuiteTag::VornSuiteTag(VornSuiteTagLook look, bool expanding, QWidget* parent)
    : QWidget(parent), look_(std::move(look)), expanding_(expanding) {
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setSizePolicy(expanding ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(look_.text);
}

void VornSuiteTag::setLook(VornSuiteTagLook look) {
    look_ = std::move(look);
    setAccessibleName(look_.text);
    updateGeometry();
    update();
}

QSize VornSuiteTag::sizeHint() const { return ceilSize(vornSuiteTagSize(look_)); }

QSize VornSuiteTag::minimumSizeHint() const { return expanding_ ? minimumTagSize(look_) : sizeHint(); }

void VornSuiteTag::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    vornPaintSuiteTag(painter, QRectF(rect()), look_, layoutDirection());
}

VornSuiteTagButton::VornSuiteTagButton(VornSuiteTagLook look, QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setLook(std::move(look));
}

void VornSuiteTagButton::setLook(VornSuiteTagLook look) {
    look_ = std::move(look);
    setText(look_.text);
    setAccessibleName(look_.text);
    updateGeometry();
    update();
}

QSize VornSuiteTagButton::sizeHint() const { return ceilSize(vornSuiteTagSize(look_)); }

QSize VornSuiteTagButton::minimumSizeHint() const { return minimumTagSize(look_); }

void VornSuiteTagButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!isEnabled()) {
        painter.setOpacity(vornDisabledOpacity);
    } else if (isDown()) {
        painter.setOpacity(0.78);
    }
    const QRectF bounds(rect());
    vornPaintSuiteTag(painter, bounds, look_, layoutDirection());
    if (hasFocus()) {
        vornPaintFocusRing(painter, bounds, look_.cornerRadius);
    }
}

VornSuiteProgressTrack::VornSuiteProgressTrack(double height, QColor track, WidthRule rule, QWidget* parent)
    : QWidget(parent), height_(height), track_(std::move(track)), rule_(rule) {
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(int(std::ceil(height)));
}

void VornSuiteProgressTrack::setFraction(double fraction) {
    fraction_ = fraction;
    update();
}

void VornSuiteProgressTrack::setFillColors(const QColor& fillStart, const QColor& fillEnd) {
    fillStart_ = fillStart;
    fillEnd_ = fillEnd;
    update();
}

double VornSuiteProgressTrack::fillWidth() const {
    const double width = std::max(0.0, double(this->width()));
    return std::clamp(rule_(fraction_, width), 0.0, width);
}

QSize VornSuiteProgressTrack::sizeHint() const { return QSize(120, int(std::ceil(height_))); }

void VornSuiteProgressTrack::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    const QRectF bounds(0, (height() - height_) / 2.0, width(), height_);
    painter.setBrush(track_);
    painter.drawPath(vornCapsulePath(bounds));
    const double fill = fillWidth();
    if (fill <= 0) {
        return;
    }
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    const QRectF filled(rightToLeft ? bounds.right() - fill : bounds.left(), bounds.top(), fill, bounds.height());
    QLinearGradient gradient(rightToLeft ? filled.topRight() : filled.topLeft(),
                             rightToLeft ? filled.topLeft() : filled.topRight());
    gradient.setColorAt(0, fillStart_);
    gradient.setColorAt(1, fillEnd_);
    painter.setBrush(gradient);
    painter.drawPath(vornCapsulePath(filled));
}

VornAdaptiveGridLayout::VornAdaptiveGridLayout(double minimumColumnWidth, double columnSpacing, double rowSpacing,
                                               QWidget* parent)
    : QLayout(parent),
      minimumColumnWidth_(std::max(1.0, minimumColumnWidth)),
      columnSpacing_(std::max(0.0, columnSpacing)),
      rowSpacing_(std::max(0.0, rowSpacing)) {
    setContentsMargins(0, 0, 0, 0);
}

VornAdaptiveGridLayout::~VornAdaptiveGridLayout() {
    while (QLayoutItem* item = takeAt(0)) {
        delete item;
    }
}

void VornAdaptiveGridLayout::setFitsWidestItem(bool fits) {
    fitsWidestItem_ = fits;
    invalidate();
}

double VornAdaptiveGridLayout::columnMinimum() const {
    double minimum = minimumColumnWidth_;
    if (fitsWidestItem_) {
        for (QLayoutItem* item : items_) {
            if (!item->isEmpty()) {
                minimum = std::max(minimum, double(item->sizeHint().width()));
            }
        }
    }
    return minimum;
}

int VornAdaptiveGridLayout::columnsFor(double width) const {
    const double minimum = columnMinimum();
    if (!std::isfinite(width) || width <= minimum) {
        return 1;
    }
    return std::max(1, int(std::floor((width + columnSpacing_) / (minimum + columnSpacing_))));
}

void VornAdaptiveGridLayout::addItem(QLayoutItem* item) {
    items_.append(item);
    invalidate();
}

int VornAdaptiveGridLayout::count() const { return int(items_.size()); }

QLayoutItem* VornAdaptiveGridLayout::itemAt(int index) const {
    return (index >= 0 && index < items_.size()) ? items_.at(index) : nullptr;
}

QLayoutItem* VornAdaptiveGridLayout::takeAt(int index) {
    if (index < 0 || index >= items_.size()) {
        return nullptr;
    }
    QLayoutItem* item = items_.takeAt(index);
    invalidate();
    return item;
}

Qt::Orientations VornAdaptiveGridLayout::expandingDirections() const { return Qt::Horizontal; }

bool VornAdaptiveGridLayout::hasHeightForWidth() const { return true; }

int VornAdaptiveGridLayout::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const double inner = std::max(0, width - margins.left() - margins.right());
    return int(std::ceil(heightFor(inner, nullptr))) + margins.top() + margins.bottom();
}

QSize VornAdaptiveGridLayout::sizeHint() const {
    // Ideally every item sits in a column of its own at the minimum width.
    int visible = 0;
    for (QLayoutItem* item : items_) {
        visible += item->isEmpty() ? 0 : 1;
    }
    const double width = visible == 0 ? 0.0 : visible * columnMinimum() + (visible - 1) * columnSpacing_;
    const QMargins margins = contentsMargins();
    return QSize(int(std::ceil(width)) + margins.left() + margins.right(),
                 int(std::ceil(heightFor(width, nullptr))) + margins.top() + margins.bottom());
}

QSize VornAdaptiveGridLayout::minimumSize() const {
    // Qt takes a minimum height at the minimum width, where every item sits in a row of its own;
    // that height would hold at every wider width too. The height the width really needs comes
    // from heightForWidth, so the minimum asks only for the shortest arrangement.
    const QMargins margins = contentsMargins();
    const int column = int(std::ceil(minimumColumnWidth_));
    return QSize(column + margins.left() + margins.right(),
                 int(std::ceil(heightFor(sizeHint().width() - margins.left() - margins.right(), nullptr))) +
                     margins.top() + margins.bottom());
}

void VornAdaptiveGridLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    heightFor(inner.width(), &inner);
}

double VornAdaptiveGridLayout::heightFor(double width, const QRect* place) const {
    const int columns = columnsFor(width);
    const double cellWidth = std::max(0.0, (width - (columns - 1) * columnSpacing_) / columns);
    const bool rightToLeft = place && parentWidget() && parentWidget()->layoutDirection() == Qt::RightToLeft;
    double y = 0;
    double rowHeight = 0;
    int column = 0;
    bool anyRow = false;
    // The items of the current row, placed once the row's height is known.
    QList<QLayoutItem*> row;
    const auto finishRow = [&] {
        if (row.isEmpty()) {
            return;
        }
        if (place) {
            for (int i = 0; i < row.size(); ++i) {
                const double x = i * (cellWidth + columnSpacing_);
                const double left = rightToLeft ? width - x - cellWidth : x;
                row[i]->setGeometry(QRect(int(std::lround(place->left() + left)), int(std::lround(place->top() + y)),
                                          int(std::lround(cellWidth)), int(std::lround(rowHeight))));
            }
        }
        y += rowHeight;
        anyRow = true;
        row.clear();
        rowHeight = 0;
        column = 0;
    };
    for (QLayoutItem* item : items_) {
        if (item->isEmpty()) {
            continue;
        }
        if (column == 0 && anyRow) {
            y += rowSpacing_;
        }
        const int itemWidth = int(std::lround(cellWidth));
        const double height = item->hasHeightForWidth() ? item->heightForWidth(itemWidth) : item->sizeHint().height();
        rowHeight = std::max(rowHeight, height);
        row.append(item);
        if (++column == columns) {
            finishRow();
        }
    }
    finishRow();
    return y;
}

VornSuiteText::VornSuiteText(QString text, QFont font, QColor color, int maxLines, QWidget* parent)
    : QWidget(parent), text_(std::move(text)), font_(std::move(font)), color_(std::move(color)), maxLines_(std::max(1, maxLines)) {
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(maxLines_ > 1);
    setSizePolicy(policy);
    setAccessibleName(text_);
}

void VornSuiteText::setText(const QString& text) {
    if (text_ != text) {
        text_ = text;
        setAccessibleName(text_);
        updateGeometry();
        update();
    }
}

void VornSuiteText::setColor(const QColor& color) {
    color_ = color;
    update();
}

void VornSuiteText::setFont(const QFont& font) {
    font_ = font;
    updateGeometry();
    update();
}

void VornSuiteText::setElideMode(Qt::TextElideMode mode) {
    elide_ = mode;
    update();
}

void VornSuiteText::setMinimumScale(double scale) {
    minimumScale_ = std::isfinite(scale) ? std::clamp(scale, 0.1, 1.0) : 1.0;
    updateGeometry();
    update();
}

QFont VornSuiteText::fontFor(double width) const {
    if (minimumScale_ >= 1 || maxLines_ > 1) {
        return font_;
    }
    const double full = QFontMetricsF(font_).horizontalAdvance(text_);
    if (full <= width || full <= 0) {
        return font_;
    }
    QFont smaller = font_;
    const double scale = std::max(minimumScale_, width / full);
    smaller.setPointSizeF(std::max(0.5, font_.pointSizeF() * scale));
    return smaller;
}

QStringList VornSuiteText::linesFor(double width, const QFont& font) const {
    const QFontMetricsF metrics(font);
    if (text_.isEmpty()) {
        return {};
    }
    if (maxLines_ == 1) {
        return {metrics.elidedText(text_, elide_, std::max(0.0, width))};
    }
    // Greedy word wrap; a word longer than a line is broken where it overflows.
    QStringList lines;
    QString rest = text_.simplified();
    while (!rest.isEmpty() && lines.size() < maxLines_ - 1) {
        if (metrics.horizontalAdvance(rest) <= width) {
            lines << rest;
            rest.clear();
            break;
        }
        // The longest prefix that fits (found by halving), then back to its last space if any.
        qsizetype low = 1;
        qsizetype high = rest.size();
        while (low < high) {
            const qsizetype middle = (low + high + 1) / 2;
            if (metrics.horizontalAdvance(rest.left(middle)) <= width) {
                low = middle;
            } else {
                high = middle - 1;
            }
        }
        const qsizetype cut = low;
        const qsizetype lastSpace = cut < rest.size() ? rest.left(cut + 1).lastIndexOf(QLatin1Char(' ')) : -1;
        const qsizetype end = lastSpace > 0 ? lastSpace : std::max<qsizetype>(1, cut);
        lines << rest.left(end);
        rest = rest.mid(end).trimmed();
    }
    if (!rest.isEmpty()) {
        lines << metrics.elidedText(rest, elide_, std::max(0.0, width));
    }
    return lines;
}

QStringList VornSuiteText::shownLines() const { return linesFor(width(), fontFor(width())); }

QFont VornSuiteText::shownFont() const { return fontFor(width()); }

QSize VornSuiteText::sizeHint() const {
    const QFontMetricsF metrics(font_);
    return QSize(int(std::ceil(metrics.horizontalAdvance(text_))), int(std::ceil(metrics.height())));
}

QSize VornSuiteText::minimumSizeHint() const {
    const QFontMetricsF metrics(font_);
    return QSize(text_.isEmpty() ? 0 : int(std::ceil(metrics.horizontalAdvance(QStringLiteral("…")))),
                 int(std::ceil(metrics.height())));
}

bool VornSuiteText::hasHeightForWidth() const { return maxLines_ > 1; }

int VornSuiteText::heightForWidth(int width) const {
    const QFontMetricsF metrics(font_);
    const qsizetype lines = std::max<qsizetype>(1, linesFor(width, font_).size());
    return int(std::ceil(lines * metrics.lineSpacing() - metrics.leading()));
}

void VornSuiteText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QFont font = fontFor(width());
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.setPen(color_);
    const Qt::Alignment align = Qt::AlignVCenter | (layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft);
    const QStringList lines = linesFor(width(), font);
    if (lines.size() == 1) {
        painter.drawText(QRectF(rect()), align, lines.front());
        return;
    }
    double y = 0;
    for (const QString& line : lines) {
        painter.drawText(QRectF(0, y, width(), metrics.height()), align, line);
        y += metrics.lineSpacing();
    }
}
