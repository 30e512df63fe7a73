#pragma once

#include "SledViewModel.h"
#include "VornGlassCard.h"

#include <QColor>
#include <QStyledItemDelegate>

#include <string>
#include <unordered_set>

class QLabel;
class QListView;
class QStackedWidget;
class VornGlassButton;

// Paints one transfer as a glass row: status symbol, name, route, badge, size, progress, error.
class SledTransferRowDelegate : public QStyledItemDelegate {
public:
    SledTransferRowDelegate(SledViewModel& viewModel, const QColor& accent, QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // The badge's rectangle in a row drawn in `rowRect`; empty when the record shows no badge.
    QRectF badgeRect(const SledTransferRecord& record, const QRectF& rowRect) const;
    // "SHA-256 " and the first ten characters of the digest, then "…".
    static QString badgeText(const std::string& sha256Hex);
    static std::string statusSymbol(SledTransferStatus status);
    QColor statusColor(SledTransferStatus status) const;

    static constexpr int rowGap = 8;

private:
    const SledTransferRecord* record(const QModelIndex& index) const;
    SledViewModel& model_;
    QColor accent_;
};

// The transfers tab: every transfer of this session, newest first, with "Clear Completed" and an
// empty state. Rows repaint one at a time as their progress changes.
class SledTransferQueueView : public VornGlassCard {
public:
    explicit SledTransferQueueView(SledViewModel& viewModel, QWidget* parent = nullptr);

    QListView* listView() const { return list_; }
    VornGlassButton* clearButton() const { return clear_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }
    QLabel* emptyLabel() const { return emptyText_; }
    bool showsEmptyState() const;
    SledTransferRowDelegate* delegate() const { return delegate_; }

private:
    void retranslate();
    void syncEmpty();

    SledViewModel& model_;
    QColor accent_;
    QLabel* title_;
    QLabel* subtitle_;
    VornGlassButton* clear_;
    QStackedWidget* content_;
    QWidget* empty_;
    QLabel* emptyText_;
    QListView* list_;
    SledTransferRowDelegate* delegate_;
    // Rows already laid out with their error line.
    std::unordered_set<std::string> rowsWithError_;
};
