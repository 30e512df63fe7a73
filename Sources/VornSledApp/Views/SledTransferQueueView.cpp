#include "SledTransferQueueView.h"

#include "SledChrome.h"
#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornPalette.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

constexpr double rowPadding = 11;
constexpr double progressHeight = 5;

QFont nameFont() {
    return vornFont(13, QFont::DemiBold);
}
QFont captionFont() {
    return vornFont(VornTextStyle::caption);
}
QFont badgeFont() {
    return vornFont(vornTextStylePoints(VornTextStyle::caption2), QFont::Bold, VornFontDesign::monospaced);
}
QFont errorFont() {
    return vornFont(VornTextStyle::caption2);
}

}  // namespace

SledTransferRowDelegate::SledTransferRowDelegate(SledViewModel& viewModel, const QColor& accent, QObject* parent)
    : QStyledItemDelegate(parent), model_(viewModel), accent_(accent) {}

const SledTransferRecord* SledTransferRowDelegate::record(const QModelIndex& index) const {
    const auto& rows = model_.transfers();
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= rows.size()) {
        return nullptr;
    }
    return &rows[static_cast<std::size_t>(index.row())];
}

std::string SledTransferRowDelegate::statusSymbol(SledTransferStatus status) {
    switch (status) {
    case SledTransferStatus::queued: return "clock";
    case SledTransferStatus::transferring: return "bolt.horizontal.circle.fill";
    case SledTransferStatus::verifying: return "lock.shield.fill";
    case SledTransferStatus::completed: return "checkmark.circle.fill";
    case SledTransferStatus::failed: return "exclamationmark.triangle.fill";
    case SledTransferStatus::cancelled: return "xmark.circle";
    }
    return "clock";
}

QColor SledTransferRowDelegate::statusColor(SledTransferStatus status) const {
    switch (status) {
    case SledTransferStatus::queued: return VornGlassTokens::warning();
    case SledTransferStatus::transferring:
    case SledTransferStatus::verifying: return accent_;
    case SledTransferStatus::completed: return VornGlassTokens::success();
    case SledTransferStatus::failed:
    case SledTransferStatus::cancelled: return VornGlassTokens::danger();
    }
    return accent_;
}

QString SledTransferRowDelegate::badgeText(const std::string& sha256Hex) {
    return QStringLiteral("SHA-256 ") + QString::fromStdString(sha256Hex.substr(0, 10)) + QChar(0x2026);
}

QSize SledTransferRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const SledTransferRecord* row = record(index);
    const double head = QFontMetricsF(nameFont()).height() + 2 + QFontMetricsF(captionFont()).height();
    double height = rowPadding + head + 6 + progressHeight + rowPadding;
    if (row && row->errorMessage) {
        height += 6 + QFontMetricsF(errorFont()).height();
    }
    return QSize(option.rect.width(), static_cast<int>(std::ceil(height)) + rowGap);
}

QRectF SledTransferRowDelegate::badgeRect(const SledTransferRecord& record, const QRectF& rowRect) const {
    if (!record.isSHA256Verified || !record.sha256Hex) {
        return {};
    }
    const QFontMetricsF badgeMetrics(badgeFont());
    const QFontMetricsF sizeMetrics(captionFont());
    const QString size = QString::fromStdString(VornByteFormatter::format(record.totalBytes));
    const double badgeWidth = 8 + 11 + 4 + badgeMetrics.horizontalAdvance(badgeText(*record.sha256Hex)) + 8;
    const double badgeHeight = badgeMetrics.height() + 6;
    const double right = rowRect.right() - rowPadding - sizeMetrics.horizontalAdvance(size) - 10;
    const double headHeight = QFontMetricsF(nameFont()).height() + 2 + sizeMetrics.height();
    const double top = rowRect.top() + rowPadding + (headHeight - badgeHeight) / 2;
    return QRectF(right - badgeWidth, top, badgeWidth, badgeHeight);
}

void SledTransferRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    const SledTransferRecord* row = record(index);
    if (!row) {
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF rowRect = QRectF(option.rect).adjusted(0, 0, 0, -rowGap);
    painter->fillPath(vornRoundedRectPath(rowRect, 10), VornGlassTokens::surface1());

    const QColor status = statusColor(row->status);
    const QFontMetricsF nameMetrics(nameFont());
    const QFontMetricsF captionMetrics(captionFont());
    const double headHeight = nameMetrics.height() + 2 + captionMetrics.height();
    const double left = rowRect.left() + rowPadding;
    const double top = rowRect.top() + rowPadding;

    const double symbol = 17;
    VornSymbol::paint(*painter, QRectF(left, top + (headHeight - symbol) / 2, symbol, symbol), statusSymbol(row->status),
                      status);

    // Right side first: the size, then the badge, so the name knows how much room it has.
    const QString size = QString::fromStdString(VornByteFormatter::format(row->totalBytes));
    const double sizeWidth = captionMetrics.horizontalAdvance(size) + 1;
    painter->setFont(captionFont());
    painter->setPen(VornGlassTokens::textPrimary());
    painter->drawText(QRectF(rowRect.right() - rowPadding - sizeWidth, top, sizeWidth, headHeight),
                      Qt::AlignVCenter | Qt::AlignRight, size);
    double textRight = rowRect.right() - rowPadding - sizeWidth - 10;
    const QRectF badge = badgeRect(*row, rowRect);
    if (!badge.isEmpty()) {
        QColor fill = VornGlassTokens::success();
        fill.setAlphaF(0.16f);
        painter->fillPath(vornCapsulePath(badge), fill);
        VornSymbol::paint(*painter, QRectF(badge.left() + 8, badge.center().y() - 5.5, 11, 11), "checkmark.shield.fill",
                          VornGlassTokens::success());
        painter->setFont(badgeFont());
        painter->setPen(VornGlassTokens::success());
        painter->drawText(badge.adjusted(8 + 11 + 4, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft,
                          badgeText(*row->sha256Hex));
        textRight = badge.left() - 10;
    }

    const double textLeft = left + symbol + 10;
    const double textWidth = std::max(0.0, textRight - textLeft);
    painter->setFont(nameFont());
    painter->setPen(VornGlassTokens::textPrimary());
    painter->drawText(QRectF(textLeft, top, textWidth, nameMetrics.height()), Qt::AlignVCenter | Qt::AlignLeft,
                      nameMetrics.elidedText(sledDisplayText(row->fileName), Qt::ElideMiddle, textWidth));
    painter->setFont(captionFont());
    painter->setPen(VornGlassTokens::textSecondary());
    // Source, arrow, destination read from the left in every language: a right-to-left run would
    // put the destination first and point the arrow back at the source.
    const QString route = QChar(0x2066) + sledDisplayText(row->sourceLabel) + QString::fromUtf8(" \u2192 ") +
                          sledDisplayText(row->destinationLabel) + QChar(0x2069);
    painter->drawText(QRectF(textLeft, top + nameMetrics.height() + 2, textWidth, captionMetrics.height()),
                      Qt::AlignVCenter | Qt::AlignLeft, captionMetrics.elidedText(route, Qt::ElideRight, textWidth));

    const QRectF track(left, top + headHeight + 6, rowRect.width() - 2 * rowPadding, progressHeight);
    painter->fillPath(vornCapsulePath(track), VornGlassTokens::surface2());
    const double fraction = std::clamp(row->fractionCompleted(), 0.0, 1.0);
    if (fraction > 0) {
        painter->fillPath(vornCapsulePath(QRectF(track.left(), track.top(), std::max(track.height(), track.width() * fraction),
                                                 track.height())),
                          status);
    }
    if (row->errorMessage) {
        const QFontMetricsF errorMetrics(errorFont());
        painter->setFont(errorFont());
        painter->setPen(VornGlassTokens::danger());
        painter->drawText(QRectF(left, track.bottom() + 6, track.width(), errorMetrics.height()),
                          Qt::AlignVCenter | Qt::AlignLeft,
                          errorMetrics.elidedText(sledDisplayText(*row->errorMessage), Qt::ElideRight, track.width()));
    }
    painter->restore();
}

bool SledTransferRowDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease) {
        return false;
    }
    const SledTransferRecord* row = record(index);
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (!row || mouse->button() != Qt::LeftButton) {
        return false;
    }
    const QRectF badge = badgeRect(*row, QRectF(option.rect).adjusted(0, 0, 0, -rowGap));
    if (!badge.isEmpty() && badge.contains(mouse->position())) {
        // The whole digest, never the shortened text on the badge.
        model_.copyText(*row->sha256Hex, "SHA-256");
        return true;
    }
    return false;
}

SledTransferQueueView::SledTransferQueueView(SledViewModel& viewModel, QWidget* parent)
    : VornGlassCard(16, 14, parent), model_(viewModel), accent_(accentColor(VornProductPalette::deepCoral)) {
    auto* column = contentLayout();
    column->setSpacing(12);

    auto* header = new QHBoxLayout();
    auto* titles = new QVBoxLayout();
    titles->setSpacing(2);
    title_ = sledLabel(VornGlassTokens::textPrimary(), vornFont(16, QFont::Bold, VornFontDesign::rounded), this);
    subtitle_ = sledLabel(VornGlassTokens::textSecondary(), vornFont(VornTextStyle::caption), this);
    subtitle_->setWordWrap(true);
    titles->addWidget(title_);
    titles->addWidget(subtitle_);
    header->addLayout(titles, 1);
    clear_ = new VornGlassButton(QString(), false, this);
    connect(clear_, &QAbstractButton::clicked, this, [this] { model_.clearCompletedTransfers(); });
    header->addWidget(clear_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    content_ = new QStackedWidget(this);
    empty_ = new QWidget(content_);
    auto* emptyColumn = new QVBoxLayout(empty_);
    emptyColumn->setSpacing(10);
    emptyColumn->addStretch(1);
    auto* icon = new QLabel(empty_);
    icon->setPixmap(QPixmap::fromImage(VornSymbol::image("checkmark.shield", 40, accent_)));
    icon->setAlignment(Qt::AlignCenter);
    emptyColumn->addWidget(icon);
    emptyText_ = sledLabel(VornGlassTokens::textSecondary(), vornFont(VornTextStyle::callout), empty_);
    emptyText_->setAlignment(Qt::AlignCenter);
    emptyText_->setWordWrap(true);
    emptyColumn->addWidget(emptyText_);
    emptyColumn->addStretch(1);
    content_->addWidget(empty_);

    list_ = new QListView(content_);
    list_->setModel(model_.transferList());
    delegate_ = new SledTransferRowDelegate(model_, accent_, list_);
    list_->setItemDelegate(delegate_);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setUniformItemSizes(false);
    list_->setMouseTracking(true);
    vornMakeTransparent(list_);
    content_->addWidget(list_);
    column->addWidget(content_, 1);

    QAbstractItemModel* rows = model_.transferList();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &SledTransferQueueView::syncEmpty);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &SledTransferQueueView::syncEmpty);
    connect(rows, &QAbstractItemModel::modelReset, this, &SledTransferQueueView::syncEmpty);
    // A progress report repaints its own row only; the list is laid out again just when a row
    // gains its error line, which makes it taller.
    connect(rows, &QAbstractItemModel::dataChanged, list_,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                const auto& records = model_.transfers();
                bool taller = false;
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
                    if (row < 0 || static_cast<std::size_t>(row) >= records.size()) {
                        continue;
                    }
                    const SledTransferRecord& record = records[static_cast<std::size_t>(row)];
                    if (record.errorMessage && rowsWithError_.insert(record.id.uuidString()).second) {
                        taller = true;
                    }
                }
                if (taller) {
                    list_->doItemsLayout();
                }
            });
    connect(&model_, &SledViewModel::languageChanged, this, &SledTransferQueueView::retranslate);
    retranslate();
    syncEmpty();
}

bool SledTransferQueueView::showsEmptyState() const {
    return content_->currentWidget() == empty_;
}

void SledTransferQueueView::retranslate() {
    const VornLanguage language = model_.language();
    title_->setText(vornQText("Parallel Network Transfers & SHA-256 Integrity Log",
                              "Paralel Ağ Transferleri ve SHA-256 Bütünlük Kaydı", language));
    subtitle_->setText(vornQText("Every SFTP, AWS S3, Cloudflare R2, and LAN transfer runs with parallel worker streams "
                                 "and end-to-end SHA-256 verification.",
                                 "Her SFTP, AWS S3, Cloudflare R2 ve LAN aktarımı paralel iş parçacıkları ve uçtan uca "
                                 "SHA-256 doğrulamasıyla çalışır.",
                                 language));
    clear_->setLabel(vornQText("Clear Completed", "Tamamlananları Temizle", language));
    emptyText_->setText(vornQText("No transfers yet. Send files across panes or sled via LAN Drop.",
                                  "Henüz transfer yok. Paneller arası dosya aktarın veya LAN Drop kullanın.", language));
}

void SledTransferQueueView::syncEmpty() {
    const bool empty = model_.transfers().empty();
    clear_->setVisible(!empty);
    content_->setCurrentWidget(empty ? empty_ : static_cast<QWidget*>(list_));
}
