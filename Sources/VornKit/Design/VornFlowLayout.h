#pragma once

#include <QLayout>
#include <QList>
#include <QRectF>
#include <QSizeF>

#include <optional>
#include <vector>

// Wrapping placement: items left to right at their ideal sizes, `spacing` apart, and a new line
// `lineSpacing` lower when the next item would pass the right edge. The first item of a line is
// never wrapped, however wide; items are never split or shrunk.

// The size the items need for a proposed width (none: one unbounded line). Sizing allows no overflow.
QSizeF vornFlowSizeThatFits(const std::vector<QSizeF>& itemSizes, std::optional<double> proposedWidth, double spacing,
                            double lineSpacing);
// Each item's rectangle inside `bounds`. Placement allows half a point of overflow before it wraps,
// so rounding never pushes an item that just fits onto a line of its own.
std::vector<QRectF> vornFlowPlace(const std::vector<QSizeF>& itemSizes, const QRectF& bounds, double spacing,
                                  double lineSpacing);

// The same rules as a Qt layout (height for width, right-to-left mirrored).
class VornFlowLayout : public QLayout {
public:
    explicit VornFlowLayout(QWidget* parent = nullptr, double spacing = 8, double lineSpacing = 8);
    ~VornFlowLayout() override;

    double horizontalSpacing() const { return spacing_; }
    double lineSpacing() const { return lineSpacing_; }
    void setHorizontalSpacing(double spacing);
    void setLineSpacing(double lineSpacing);

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
    std::vector<QSizeF> visibleSizes() const;
    QList<QLayoutItem*> items_;
    double spacing_;
    double lineSpacing_;
};
