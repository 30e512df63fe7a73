#include "PaneBrowserCard.h"

#include "SledChrome.h"
#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornGlassInputField.h"
#include "VornGlassTokens.h"
#include "VornMessageText.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornPalette.h"
#include "VornSpinner.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFontMetricsF>
#include <QGridLayout>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <unordered_set>

namespace {

std::string bytesOf(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

QString decimal(std::size_t value) {
    return QString::number(static_cast<qulonglong>(value));
}

// Trims spaces and tabs (every white space but line breaks) from both ends.
QString trimmedExceptLineBreaks(const QString& text) {
    auto blank = [](QChar c) { return c.isSpace() && c != QLatin1Char('\n') && c != QLatin1Char('\r'); };
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && blank(text[first])) {
        ++first;
    }
    while (last > first && blank(text[last - 1])) {
        --last;
    }
    return text.mid(first, last - first);
}

// The path of a dropped file URL as the bytes the file system uses: names need not be UTF-8, and
// the URL carries them percent-encoded, so they are decoded to bytes, never through a QString.
std::optional<std::filesystem::path> localPathOf(const QUrl& url) {
    if (!url.isLocalFile()) {
        return std::nullopt;
    }
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.isEmpty() || bytes.contains('\0')) {
        return std::nullopt;
    }
    return std::filesystem::path(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// The drop highlight: the accent at low opacity with a dashed accent border; clicks go through it.
class SledDropHighlight : public QWidget {
public:
    SledDropHighlight(const QColor& accent, QWidget* parent) : QWidget(parent), accent_(accent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds = QRectF(rect()).adjusted(1, 1, -1, -1);
        QColor fill = accent_;
        fill.setAlphaF(0.14f);
        painter.fillPath(vornRoundedRectPath(bounds, 10), fill);
        QPen pen(accent_, 2);
        pen.setDashPattern({3.0, 2.5});  // 6 on, 5 off at a width of 2
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(vornRoundedRectPath(bounds, 10));
    }

private:
    QColor accent_;
};

QLabel* symbolLabel(const std::string& symbol, int side, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(QPixmap::fromImage(VornSymbol::image(symbol, side, color)));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// A menu item that runs `action` when chosen (while `context` lives).
template <class Action>
QAction* addMenuItem(QMenu* menu, const QIcon& icon, const QString& text, QObject* context, Action action) {
    QAction* item = icon.isNull() ? menu->addAction(text) : menu->addAction(icon, text);
    QObject::connect(item, &QAction::triggered, context, std::move(action));
    return item;
}

VornGlassButton* symbolButton(const std::string& symbol, QWidget* parent) {
    auto* button = new VornGlassButton(QString(), false, parent);
    button->setSymbol(symbol);
    return button;
}

}  // namespace

// --- Chip button -----------------------------------------------------------------------------------

SledChipButton::SledChipButton(double horizontalPadding, double verticalPadding, QWidget* parent)
    : QAbstractButton(parent), horizontalPadding_(horizontalPadding), verticalPadding_(verticalPadding) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SledChipButton::setLeading(const std::string& symbol, const QColor& color, double side) {
    leading_ = symbol;
    leadingColor_ = color;
    leadingSide_ = side;
    updateGeometry();
    update();
}

void SledChipButton::setText(const QString& text, const QFont& font, const QColor& color) {
    text_ = text;
    textFont_ = font;
    textColor_ = color;
    setAccessibleName(text);
    updateGeometry();
    update();
    syncToolTip();
}

void SledChipButton::setTrailing(const std::string& symbol, const QColor& color, double side) {
    trailing_ = symbol;
    trailingColor_ = color;
    trailingSide_ = side;
    updateGeometry();
    update();
}

QSize SledChipButton::sizeHint() const {
    const QFontMetricsF metrics(textFont_);
    double width = 0;
    double height = std::max(leadingSide_, trailingSide_);
    int parts = 0;
    if (!leading_.empty()) {
        width += leadingSide_;
        ++parts;
    }
    if (!text_.isEmpty()) {
        width += metrics.horizontalAdvance(text_) + 1;
        height = std::max(height, metrics.height());
        ++parts;
    }
    if (!trailing_.empty()) {
        width += trailingSide_;
        ++parts;
    }
    width += 6.0 * std::max(0, parts - 1);
    return QSize(int(std::ceil(width + 2 * horizontalPadding_)), int(std::ceil(height + 2 * verticalPadding_)));
}

bool SledChipButton::isTextElided() const {
    return !text_.isEmpty() && width() < sizeHint().width();
}

void SledChipButton::syncToolTip() {
    // The whole name where the chip shows only its ends.
    const QString tip = isTextElided() ? sledPlainToolTip(text_) : QString();
    if (tip != toolTip()) {
        setToolTip(tip);
    }
}

void SledChipButton::resizeEvent(QResizeEvent* event) {
    QAbstractButton::resizeEvent(event);
    syncToolTip();
}

QSize SledChipButton::minimumSizeHint() const {
    QSize hint = sizeHint();
    if (!text_.isEmpty()) {
        // The text may shrink to a few letters and an ellipsis.
        const QFontMetricsF metrics(textFont_);
        hint.setWidth(hint.width() - int(metrics.horizontalAdvance(text_)) +
                      int(metrics.horizontalAdvance(QStringLiteral("Mm…"))));
    }
    return hint;
}

void SledChipButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity((isEnabled() ? 1.0 : vornDisabledOpacity) * (isDown() ? 0.78 : 1.0));
    const QRectF bounds(rect());
    painter.fillPath(vornRoundedRectPath(bounds, 8), VornGlassTokens::surface2());
    const QRectF inner = bounds.adjusted(horizontalPadding_, 0, -horizontalPadding_, 0);
    double left = inner.left();
    double right = inner.right();
    if (!leading_.empty()) {
        VornSymbol::paint(painter, QRectF(left, bounds.center().y() - leadingSide_ / 2, leadingSide_, leadingSide_),
                          leading_, leadingColor_);
        left += leadingSide_ + 6;
    }
    if (!trailing_.empty()) {
        VornSymbol::paint(painter,
                          QRectF(right - trailingSide_, bounds.center().y() - trailingSide_ / 2, trailingSide_,
                                 trailingSide_),
                          trailing_, trailingColor_);
        right -= trailingSide_ + 6;
    }
    if (!text_.isEmpty()) {
        const QFontMetricsF metrics(textFont_);
        painter.setFont(textFont_);
        painter.setPen(textColor_);
        const double room = std::max(0.0, right - left);
        painter.drawText(QRectF(left, 0, room + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                         metrics.elidedText(text_, Qt::ElideMiddle, room));
    }
    if (hasFocus()) {
        vornPaintFocusRing(painter, bounds, 8);
    }
}

// --- Text button -----------------------------------------------------------------------------------

SledTextButton::SledTextButton(const QColor& color, const QFont& font, QWidget* parent)
    : QAbstractButton(parent), color_(color) {
    setFont(font);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SledTextButton::setLabel(const QString& label) {
    if (label != label_) {
        label_ = label;
        setAccessibleName(label);
        updateGeometry();
        update();
    }
}

QSize SledTextButton::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSizeF(metrics.horizontalAdvance(label_) + 4, metrics.height() + 4).toSize() + QSize(1, 0);
}

void SledTextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(isDown() ? 0.7 : 1.0);
    painter.setFont(font());
    painter.setPen(color_);
    painter.drawText(QRectF(rect()), Qt::AlignCenter, label_);
    if (hasFocus()) {
        vornPaintFocusRing(painter, QRectF(rect()), 4);
    }
}

// --- Rows ------------------------------------------------------------------------------------------

SledPaneRowDelegate::SledPaneRowDelegate(PaneBrowserState& pane, const QColor& accent, QObject* parent)
    : QStyledItemDelegate(parent), pane_(pane), accent_(accent) {}

QFont SledPaneRowDelegate::nameFont(bool folder) {
    return vornFont(12.5, folder ? QFont::DemiBold : QFont::Normal);
}

QSize SledPaneRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const double text = std::max(QFontMetricsF(nameFont(true)).height(),
                                 QFontMetricsF(vornFont(VornTextStyle::caption2, QFont::Bold)).height());
    return QSize(option.rect.width(), int(std::ceil(text + 12)) + rowGap);
}

void SledPaneRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const auto& rows = pane_.entryList()->rows();
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= rows.size()) {
        return;
    }
    const SledFileEntry& entry = rows[static_cast<std::size_t>(index.row())];
    const bool selected = pane_.selectedPaths().count(entry.path) != 0;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    const QRectF row = QRectF(option.rect).adjusted(0, 0, 0, -rowGap);
    if (selected) {
        QColor fill = accent_;
        fill.setAlphaF(0.22f);
        QColor border = accent_;
        border.setAlphaF(0.6f);
        vornPaintGlassRoundedRect(*painter, row, 7, fill, border);
    }
    const bool rtl = option.direction == Qt::RightToLeft;
    const QRectF inner = row.adjusted(9, 6, -9, -6);

    // The trailing tag first, so the name knows its room.
    const QString tag = entry.isDirectory ? QStringLiteral("DIR")
                                          : QString::fromStdString(VornByteFormatter::format(entry.sizeBytes));
    QFont tagFont = entry.isDirectory ? vornFont(VornTextStyle::caption2, QFont::Bold) : vornFont(VornTextStyle::caption2);
    const QFontMetricsF tagMetrics(tagFont);
    const double tagWidth = tagMetrics.horizontalAdvance(tag) + 1;
    painter->setFont(tagFont);
    painter->setPen(entry.isDirectory ? VornGlassTokens::textMuted() : VornGlassTokens::textSecondary());
    const QRectF tagRect = rtl ? QRectF(inner.left(), inner.top(), tagWidth, inner.height())
                               : QRectF(inner.right() - tagWidth, inner.top(), tagWidth, inner.height());
    painter->drawText(tagRect, Qt::AlignVCenter | (rtl ? Qt::AlignLeft : Qt::AlignRight), tag);

    const double symbol = QFontMetricsF(vornFont(VornTextStyle::caption)).height() - 2;
    const double symbolFrame = 16;
    const QRectF symbolRect = rtl ? QRectF(inner.right() - symbolFrame, inner.center().y() - symbol / 2, symbolFrame, symbol)
                                  : QRectF(inner.left(), inner.center().y() - symbol / 2, symbolFrame, symbol);
    VornSymbol::paint(*painter, symbolRect, entry.isDirectory ? "folder.fill" : "doc.fill",
                      entry.isDirectory ? accent_ : VornGlassTokens::textSecondary());

    const QFont font = nameFont(entry.isDirectory);
    const QFontMetricsF metrics(font);
    const double room = std::max(0.0, inner.width() - symbolFrame - 8 - 8 - tagWidth);
    const QRectF nameRect = rtl ? QRectF(inner.right() - symbolFrame - 8 - room, inner.top(), room, inner.height())
                                : QRectF(inner.left() + symbolFrame + 8, inner.top(), room, inner.height());
    painter->setFont(font);
    painter->setPen(VornGlassTokens::textPrimary());
    painter->drawText(nameRect, Qt::AlignVCenter | (rtl ? Qt::AlignRight : Qt::AlignLeft),
                      metrics.elidedText(sledOneLine(sledDisplayText(entry.name)), Qt::ElideMiddle, room));
    // The keyboard's place in the list; the view marks it only while the list has focus.
    if (option.state & QStyle::State_HasFocus) {
        vornPaintFocusRing(*painter, row, 7);
    }
    painter->restore();
}

// --- List ------------------------------------------------------------------------------------------

SledPaneListView::SledPaneListView(PaneBrowserCard& card, QWidget* parent) : QListView(parent), card_(card) {
    clickTimer_.setSingleShot(true);
    connect(&clickTimer_, &QTimer::timeout, this, [this] { applyPendingClick(); });
}

std::optional<SledFileEntry> SledPaneListView::entryAt(const QPoint& position) const {
    const QModelIndex index = indexAt(position);
    const auto& rows = card_.pane().entryList()->rows();
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= rows.size()) {
        return std::nullopt;
    }
    return rows[static_cast<std::size_t>(index.row())];
}

void SledPaneListView::applyPendingClick() {
    clickTimer_.stop();
    if (!pendingPath_) {
        return;
    }
    const std::string path = *pendingPath_;
    const SledPanePlace place = *pendingPlace_;
    pendingPath_.reset();
    pendingPlace_.reset();
    // A click on a listing the pane has since left selects nothing there.
    if (card_.pane().listedPlace() && *card_.pane().listedPlace() == place) {
        card_.toggleSelection(path);
    }
}

void SledPaneListView::mousePressEvent(QMouseEvent* event) {
    // The view's own selection and current-item handling stay out: the pane's selection is the
    // only one.
    event->accept();
}

void SledPaneListView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void SledPaneListView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    if (swallowRelease_) {
        swallowRelease_ = false;
        return;
    }
    const std::optional<SledFileEntry> entry = entryAt(event->position().toPoint());
    if (!entry || !card_.pane().listedPlace()) {
        return;
    }
    // A click on another row first settles the one before.
    if (pendingPath_ && *pendingPath_ != entry->path) {
        applyPendingClick();
    }
    if (pendingPath_) {
        return;
    }
    if (hasFocus()) {
        setCurrentIndex(indexAt(event->position().toPoint()));
    }
    pendingPath_ = entry->path;
    pendingPlace_ = *card_.pane().listedPlace();
    clickTimer_.start(QApplication::doubleClickInterval());
}

void SledPaneListView::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const std::optional<SledFileEntry> entry = entryAt(event->position().toPoint());
    if (pendingPath_ && (!entry || *pendingPath_ != entry->path)) {
        applyPendingClick();
    }
    clickTimer_.stop();
    pendingPath_.reset();
    pendingPlace_.reset();
    swallowRelease_ = true;
    if (entry) {
        card_.openEntry(*entry);
    }
}

std::optional<SledFileEntry> SledPaneListView::focusEntry() const {
    const QModelIndex index = currentIndex();
    const auto& rows = card_.pane().entryList()->rows();
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= rows.size()) {
        return std::nullopt;
    }
    return rows[static_cast<std::size_t>(index.row())];
}

void SledPaneListView::moveFocusRow(int step) {
    const int count = model() ? model()->rowCount() : 0;
    if (count == 0) {
        return;
    }
    const QModelIndex current = currentIndex();
    // Without a focus row yet (a new listing), the first key shows one at the top.
    const int row = current.isValid() ? std::clamp(current.row() + step, 0, count - 1) : 0;
    const QModelIndex target = model()->index(row, 0);
    setCurrentIndex(target);
    scrollTo(target);
}

void SledPaneListView::focusInEvent(QFocusEvent* event) {
    // The base shows a focus row at the first entry when there is none yet.
    QListView::focusInEvent(event);
    viewport()->update();
}

void SledPaneListView::keyPressEvent(QKeyEvent* event) {
    // Only the keys that let the list be used without a mouse; everything else, and every key
    // with a modifier, goes on to the window as if the list had not seen it.
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        event->ignore();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        moveFocusRow(event->key() == Qt::Key_Up ? -1 : 1);
        event->accept();
        return;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        event->accept();
        if (!focusEntry()) {
            moveFocusRow(0);
            return;
        }
        const SledFileEntry entry = *focusEntry();
        // A click still waiting for its double-click interval lands first, so the keys and the
        // mouse act in the order the user gave them.
        applyPendingClick();
        if (event->key() == Qt::Key_Space) {
            if (card_.pane().listedPlace()) {
                card_.toggleSelection(entry.path);
            }
        } else {
            card_.openEntry(entry);
        }
        return;
    }
    default:
        event->ignore();
        return;
    }
}

void SledPaneListView::contextMenuEvent(QContextMenuEvent* event) {
    const std::optional<SledFileEntry> entry = entryAt(event->pos());
    if (!entry) {
        return;
    }
    QMenu* menu = card_.buildContextMenu(*entry, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// --- Header ----------------------------------------------------------------------------------------

SledPaneHeader::SledPaneHeader(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(7);
    top_ = new QHBoxLayout();
    top_->setSpacing(8);
    column->addLayout(top_);
    bottom_ = new QHBoxLayout();
    bottom_->setSpacing(8);
    bottom_->addStretch(1);
    column->addLayout(bottom_);
}

void SledPaneHeader::setParts(QWidget* title, SledChipButton* endpoint, QWidget* tools) {
    title_ = title;
    endpoint_ = endpoint;
    tools_ = tools;
    top_->addWidget(title_);
    top_->addWidget(endpoint_, 0);
    top_->addStretch(1);
    top_->addWidget(tools_);
}

int SledPaneHeader::oneRowWidth() const {
    return title_->sizeHint().width() + endpoint_->sizeHint().width() + tools_->sizeHint().width() +
           2 * top_->spacing();
}

void SledPaneHeader::arrange() {
    if (!tools_) {
        return;
    }
    const bool stack = width() > 0 && width() < oneRowWidth();
    if (stack == stacked_) {
        return;
    }
    stacked_ = stack;
    if (stack) {
        top_->removeWidget(tools_);
        bottom_->addWidget(tools_);
    } else {
        bottom_->removeWidget(tools_);
        top_->addWidget(tools_);
    }
}

void SledPaneHeader::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange();
}

// --- Card ------------------------------------------------------------------------------------------

PaneBrowserCard::PaneBrowserCard(PaneBrowserState& pane, SledViewModel& viewModel, bool isLeft, QWidget* parent)
    : VornGlassCard(12, 14, parent),
      pane_(pane),
      model_(viewModel),
      isLeft_(isLeft),
      accent_(accentColor(VornProductPalette::deepCoral)) {
    setAcceptDrops(true);
    auto* column = contentLayout();
    column->setSpacing(9);
    column->addWidget(makeHeader());
    column->addWidget(makePathBar());
    column->addWidget(makeNewFolderRow());
    column->addWidget(makeRenameRow());
    column->addWidget(makeListingArea(), 1);
    column->addWidget(makeFooter());

    connect(&pane_, &PaneBrowserState::endpointChanged, this, [this] {
        syncEndpoint();
        syncPathDraft();
        syncSelectionControls();
    });
    connect(&pane_, &PaneBrowserState::currentPathChanged, this, [this] {
        syncPathDraft();
        syncEndpoint();
    });
    connect(&pane_, &PaneBrowserState::entriesChanged, this, [this] {
        syncSelectionControls();
        syncListingState();
        syncFooter();
    });
    connect(&pane_, &PaneBrowserState::selectedPathsChanged, this, [this] {
        syncSelectionControls();
        syncFooter();
        list_->viewport()->update();
    });
    connect(&pane_, &PaneBrowserState::searchQueryChanged, this, [this] {
        if (filterField_->text() != pane_.searchQuery()) {
            filterField_->setText(pane_.searchQuery());
        }
        syncListingState();
        syncFooter();
    });
    connect(&pane_, &PaneBrowserState::isLoadingChanged, this, [this] {
        syncListingState();
        syncSelectionControls();
    });
    connect(&pane_, &PaneBrowserState::errorMessageChanged, this, &PaneBrowserCard::syncListingState);
    connect(&model_, &SledViewModel::languageChanged, this, &PaneBrowserCard::retranslate);
    connect(&model_, &SledViewModel::profilesChanged, this, [this] {
        syncEndpoint();
        syncSelectionControls();
    });
    connect(&model_, &SledViewModel::settingsChanged, this, &PaneBrowserCard::syncEndpoint);

    // The whole card is the drop destination: no field takes a dragged file's text for itself.
    for (QLineEdit* field : {static_cast<QLineEdit*>(pathField_), static_cast<QLineEdit*>(filterField_),
                             static_cast<QLineEdit*>(newFolderField_), static_cast<QLineEdit*>(renameField_)}) {
        field->setAcceptDrops(false);
    }
    retranslate();
    syncPathDraft();
    filterField_->setText(pane_.searchQuery());
    syncInputRows();
    syncListingState();
}

QWidget* PaneBrowserCard::makeHeader() {
    header_ = new SledPaneHeader(this);
    sideTitle_ = sledLabel(accent_, vornFont(VornTextStyle::caption2, QFont::Bold), header_);
    endpointButton_ = new SledChipButton(10, 5, header_);
    endpointButton_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(endpointButton_, &QAbstractButton::clicked, this,
            [this] { popUnder(buildEndpointMenu(this), endpointButton_); });

    // The tools, in one group the header places beside the name or below it.
    QWidget* header = new QWidget(header_);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    header_->setParts(sideTitle_, endpointButton_, header);

    editConnection_ = symbolButton("slider.horizontal.3", header);
    connect(editConnection_, &QAbstractButton::clicked, this, [this] {
        if (pane_.endpoint().isLocal()) {
            return;
        }
        for (const ConnectionProfile& profile : model_.profiles()) {
            if (profile.id == *pane_.endpoint().profileID()) {
                model_.openEditProfileSheet(profile);
                return;
            }
        }
    });
    row->addWidget(editConnection_);

    bookmarkButton_ = new SledChipButton(8, 6, header);
    connect(bookmarkButton_, &QAbstractButton::clicked, this,
            [this] { popUnder(buildBookmarkMenu(this), bookmarkButton_); });
    row->addWidget(bookmarkButton_);

    previewButton_ = symbolButton("eye.fill", header);
    connect(previewButton_, &QAbstractButton::clicked, this, &PaneBrowserCard::previewSelectedAction);
    row->addWidget(previewButton_);

    linkButton_ = new SledChipButton(8, 6, header);
    connect(linkButton_, &QAbstractButton::clicked, this, [this] { popUnder(buildLinkMenu(this), linkButton_); });
    row->addWidget(linkButton_);

    renameButton_ = symbolButton("pencil", header);
    connect(renameButton_, &QAbstractButton::clicked, this, &PaneBrowserCard::renameSelectedAction);
    row->addWidget(renameButton_);

    newFolderButton_ = symbolButton("folder.badge.plus", header);
    connect(newFolderButton_, &QAbstractButton::clicked, this, &PaneBrowserCard::toggleNewFolderInput);
    row->addWidget(newFolderButton_);

    deleteButton_ = symbolButton("trash", header);
    connect(deleteButton_, &QAbstractButton::clicked, this, &PaneBrowserCard::deleteSelectedAction);
    row->addWidget(deleteButton_);

    refreshButton_ = symbolButton("arrow.clockwise", header);
    connect(refreshButton_, &QAbstractButton::clicked, this, [this] { model_.refresh(&pane_); });
    row->addWidget(refreshButton_);
    return header_;
}

QWidget* PaneBrowserCard::makePathBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    upButton_ = symbolButton("chevron.up", bar);
    connect(upButton_, &QAbstractButton::clicked, this, [this] { model_.navigateUp(&pane_); });
    row->addWidget(upButton_);

    pathField_ = new VornGlassInputField(bar, 7, 9, 6);
    pathField_->setFont(vornFont(11.5, QFont::Normal, VornFontDesign::monospaced));
    pathField_->setPlaceholderText(QStringLiteral("/"));
    // The field is a draft: typing moves nothing; Return lists the typed folder.
    connect(pathField_, &QLineEdit::returnPressed, this, &PaneBrowserCard::submitPathDraft);
    row->addWidget(pathField_, 1);

    filterField_ = new VornGlassInputField(bar, 7, 8, 6);
    filterField_->setFont(vornFont(11.5));
    filterField_->setFixedWidth(filterWidth);
    connect(filterField_, &QLineEdit::textChanged, this, [this](const QString& text) { pane_.setSearchQuery(text); });
    row->addWidget(filterField_);
    return bar;
}

QWidget* PaneBrowserCard::makeNewFolderRow() {
    newFolderRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(newFolderRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    newFolderField_ = new VornGlassInputField(newFolderRow_, 7, 9, 5);
    connect(newFolderField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        ui_.newFolderName = text;
        createButton_->setEnabled(!trimmedExceptLineBreaks(text).isEmpty());
    });
    connect(newFolderField_, &QLineEdit::returnPressed, this, &PaneBrowserCard::createFolderAction);
    row->addWidget(newFolderField_, 1);
    createButton_ = new VornPrimaryButton(QString(), newFolderRow_);
    createButton_->setEnabled(false);
    connect(createButton_, &QAbstractButton::clicked, this, &PaneBrowserCard::createFolderAction);
    row->addWidget(createButton_);
    return newFolderRow_;
}

QWidget* PaneBrowserCard::makeRenameRow() {
    renameRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(renameRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(symbolLabel("pencil", int(QFontMetricsF(vornFont(VornTextStyle::caption)).height()), accent_,
                               renameRow_));
    renameField_ = new VornGlassInputField(renameRow_, 7, 9, 5);
    connect(renameField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        ui_.renameDraftName = text;
        syncRenameEnabling();
    });
    connect(renameField_, &QLineEdit::returnPressed, this, &PaneBrowserCard::commitRenameAction);
    row->addWidget(renameField_, 1);
    commitRenameButton_ = new VornPrimaryButton(QString(), renameRow_);
    connect(commitRenameButton_, &QAbstractButton::clicked, this, &PaneBrowserCard::commitRenameAction);
    row->addWidget(commitRenameButton_);
    cancelRenameButton_ = symbolButton("xmark", renameRow_);
    connect(cancelRenameButton_, &QAbstractButton::clicked, this, &PaneBrowserCard::cancelRename);
    row->addWidget(cancelRenameButton_);
    return renameRow_;
}

QWidget* PaneBrowserCard::makeListingArea() {
    auto* area = new QWidget(this);
    auto* grid = new QGridLayout(area);
    grid->setContentsMargins(0, 0, 0, 0);
    listing_ = new QStackedWidget(area);

    auto centredColumn = [](QWidget* page, int spacing) {
        auto* column = new QVBoxLayout(page);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(spacing);
        column->addStretch(1);
        return column;
    };

    loadingPage_ = new QWidget(listing_);
    auto* loading = centredColumn(loadingPage_, 10);
    spinner_ = new VornSpinner(18, loadingPage_);
    spinner_->setColor(VornGlassTokens::textSecondary());
    loading->addWidget(spinner_, 0, Qt::AlignHCenter);
    loadingText_ = sledLabel(VornGlassTokens::textSecondary(), vornFont(VornTextStyle::caption), loadingPage_);
    loadingText_->setAlignment(Qt::AlignCenter);
    loading->addWidget(loadingText_);
    loading->addStretch(1);
    listing_->addWidget(loadingPage_);

    errorPage_ = new QWidget(listing_);
    auto* error = centredColumn(errorPage_, 8);
    error->addWidget(symbolLabel("exclamationmark.triangle.fill", 20, VornGlassTokens::warning(), errorPage_));
    // A server's reply or a long path can be one unbroken word: the message wraps inside it and
    // scrolls past a few lines, and can be copied whole.
    errorText_ = new VornMessageText(vornFont(VornTextStyle::caption), VornGlassTokens::textSecondary(), 6, errorPage_);
    errorText_->setTextAlignment(Qt::AlignHCenter);
    auto* errorRow = new QHBoxLayout();
    errorRow->setContentsMargins(16, 0, 16, 0);
    errorRow->addWidget(errorText_);
    error->addLayout(errorRow);
    retryButton_ = new VornGlassButton(QString(), false, errorPage_);
    connect(retryButton_, &QAbstractButton::clicked, this, [this] { model_.refresh(&pane_); });
    error->addWidget(retryButton_, 0, Qt::AlignHCenter);
    error->addStretch(1);
    listing_->addWidget(errorPage_);

    emptyPage_ = new QWidget(listing_);
    auto* empty = centredColumn(emptyPage_, 8);
    empty->addWidget(symbolLabel("folder", 20, VornGlassTokens::textMuted(), emptyPage_));
    emptyText_ = sledLabel(VornGlassTokens::textSecondary(), vornFont(VornTextStyle::caption), emptyPage_);
    emptyText_->setAlignment(Qt::AlignCenter);
    emptyText_->setWordWrap(true);
    empty->addWidget(emptyText_);
    empty->addStretch(1);
    listing_->addWidget(emptyPage_);

    list_ = new SledPaneListView(*this, listing_);
    list_->setModel(pane_.entryList());
    delegate_ = new SledPaneRowDelegate(pane_, accent_, list_);
    list_->setItemDelegate(delegate_);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Reached with Tab, so the keyboard alone can pick and open entries; a click keeps its
    // own meaning and does not take the focus away from a field.
    list_->setFocusPolicy(Qt::TabFocus);
    list_->setUniformItemSizes(true);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setAcceptDrops(false);
    vornMakeTransparent(list_);
    listing_->addWidget(list_);

    grid->addWidget(listing_, 0, 0);
    dropHighlight_ = new SledDropHighlight(accent_, area);
    grid->addWidget(dropHighlight_, 0, 0);
    dropHighlight_->hide();
    connect(pane_.entryList(), &QAbstractItemModel::modelReset, this, [this] {
        syncListingState();
        syncFooter();
    });
    return area;
}

QWidget* PaneBrowserCard::makeFooter() {
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    counts_ = sledLabel(VornGlassTokens::textMuted(), vornFont(VornTextStyle::caption2), footer);
    row->addWidget(counts_);
    row->addStretch(1);
    selectFiles_ = new SledTextButton(accent_, vornFont(VornTextStyle::caption2, QFont::DemiBold), footer);
    connect(selectFiles_, &QAbstractButton::clicked, this, &PaneBrowserCard::selectFilesAction);
    row->addWidget(selectFiles_);
    return footer;
}

void PaneBrowserCard::popUnder(QMenu* menu, QWidget* anchor) {
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(anchor->mapToGlobal(QPoint(0, anchor->height())));
}

// --- Menus -----------------------------------------------------------------------------------------

QMenu* PaneBrowserCard::buildEndpointMenu(QWidget* parent) {
    const VornLanguage language = model_.language();
    auto* menu = new QMenu(parent);
    const QColor tint = VornGlassTokens::textPrimary();
    addMenuItem(menu, VornSymbol::icon("laptopcomputer", tint),
                    vornEscapeMnemonic(vornQText("This Computer", "Bu Bilgisayar", language)), this,
                    [this] { model_.selectEndpoint(PaneEndpoint::local(), &pane_); });
    if (!model_.profiles().empty()) {
        menu->addSeparator();
        for (const ConnectionProfile& profile : model_.profiles()) {
            const QString title = sledDisplayText(profile.name) + QStringLiteral(" (") +
                                  QString::fromStdString(label(profile.kind, language)) + QStringLiteral(")");
            const VornUUID id = profile.id;
            addMenuItem(menu, VornSymbol::icon(symbolName(profile.kind), tint), vornEscapeMnemonic(title), this,
                            [this, id] { model_.selectEndpoint(PaneEndpoint::remote(id), &pane_); });
        }
    }
    menu->addSeparator();
    addMenuItem(menu, VornSymbol::icon("plus", tint),
                    vornEscapeMnemonic(vornQText("Add SFTP / S3 / R2 Server…", "SFTP / S3 / R2 Sunucu Ekle…", language)),
                    this, [this] { model_.openNewProfileSheet(); });
    return menu;
}

QMenu* PaneBrowserCard::buildBookmarkMenu(QWidget* parent) {
    const VornLanguage language = model_.language();
    auto* menu = new QMenu(parent);
    const QColor tint = VornGlassTokens::textPrimary();
    const bool bookmarked = model_.isCurrentPathBookmarked(&pane_);
    addMenuItem(menu, VornSymbol::icon(bookmarked ? "star.slash" : "star.fill", tint),
                    vornEscapeMnemonic(bookmarked ? vornQText("Remove Current Path Bookmark",
                                                              "Bu Klasörü Favorilerden Çıkar", language)
                                                  : vornQText("Bookmark Current Folder", "Bu Klasörü Favorilere Ekle",
                                                              language)),
                    this, [this] { model_.toggleBookmark(&pane_); });
    const std::vector<SledBookmark>& bookmarks = model_.settings().bookmarks;
    if (!bookmarks.empty()) {
        menu->addSeparator();
        for (const SledBookmark& bookmark : bookmarks) {
            const QString title = sledDisplayText(bookmark.label) + QStringLiteral("  (") +
                                  sledDisplayText(bookmark.path) + QStringLiteral(")");
            addMenuItem(menu, VornSymbol::icon(bookmark.endpoint.isLocal() ? "folder.fill" : "server.rack", tint),
                            vornEscapeMnemonic(title), this,
                            [this, bookmark] { model_.jumpToBookmark(bookmark, &pane_); });
        }
    }
    return menu;
}

QMenu* PaneBrowserCard::buildLinkMenu(QWidget* parent) {
    const VornLanguage language = model_.language();
    auto* menu = new QMenu(parent);
    const std::optional<SledFileEntry> file = selectedFile();
    if (!file) {
        return menu;
    }
    const std::array<std::tuple<const char*, const char*, std::int64_t>, 3> items{{
        {"Copy Signed Link (1 Hour)", "İmzalı Link Kopyala (1 Saat)", 3600},
        {"Copy Signed Link (24 Hours)", "İmzalı Link Kopyala (24 Saat)", 86400},
        {"Copy Signed Link (7 Days)", "İmzalı Link Kopyala (7 Gün)", 604800},
    }};
    for (const auto& [en, tr, seconds] : items) {
        addMenuItem(menu, QIcon(), vornEscapeMnemonic(vornQText(en, tr, language)), this,
                        [this, entry = *file, seconds = seconds] { model_.copyPresignedURL(entry, &pane_, seconds); });
    }
    return menu;
}

QMenu* PaneBrowserCard::buildContextMenu(const SledFileEntry& entry, QWidget* parent) {
    const VornLanguage language = model_.language();
    auto* menu = new QMenu(parent);
    const QColor tint = VornGlassTokens::textPrimary();
    if (!entry.isDirectory) {
        addMenuItem(menu, VornSymbol::icon("eye.fill", tint),
                        vornEscapeMnemonic(vornQText("Quick Preview / Edit", "Hızlı Önizle / Düzenle", language)), this,
                        [this, entry] { model_.openQuickPreview(entry, &pane_); });
        if (model_.supportsPresignedURL(pane_.endpoint())) {
            QMenu* links = menu->addMenu(vornEscapeMnemonic(
                vornQText("Copy Signed Share Link", "İmzalı Paylaşım Linki Kopyala", language)));
            const std::array<std::tuple<const char*, const char*, std::int64_t>, 3> items{{
                {"Valid for 1 Hour", "1 Saat Geçerli", 3600},
                {"Valid for 24 Hours", "24 Saat Geçerli", 86400},
                {"Valid for 7 Days", "7 Gün Geçerli", 604800},
            }};
            for (const auto& [en, tr, seconds] : items) {
                addMenuItem(links, QIcon(), vornEscapeMnemonic(vornQText(en, tr, language)), this,
                                 [this, entry, seconds = seconds] { model_.copyPresignedURL(entry, &pane_, seconds); });
            }
        }
        menu->addSeparator();
    }
    addMenuItem(menu, VornSymbol::icon("pencil", tint),
                    vornEscapeMnemonic(vornQText("Rename…", "Yeniden Adlandır…", language)), this,
                    [this, entry] { beginRename(entry); });
    QAction* remove = addMenuItem(menu, VornSymbol::icon("trash", VornGlassTokens::danger()),
                                      vornEscapeMnemonic(vornQText("Delete", "Sil", language)), this, [this, entry] {
                                          // Exactly the clicked entry, whatever was selected before.
                                          pane_.setSelectedPaths({entry.path});
                                          model_.deleteSelected(&pane_);
                                      });
    remove->setObjectName(QStringLiteral("delete"));
    return menu;
}

// --- Actions ---------------------------------------------------------------------------------------

std::optional<SledFileEntry> PaneBrowserCard::selectedFile() const {
    for (const SledFileEntry& entry : pane_.selectedEntries()) {
        if (!entry.isDirectory) {
            return entry;
        }
    }
    return std::nullopt;
}

void PaneBrowserCard::beginRename(const SledFileEntry& entry) {
    ui_.showingNewFolderInput = false;
    ui_.renameTargetEntry = entry;
    ui_.renameTargetPlace = pane_.listedPlace();
    ui_.renameDraftName = sledDisplayText(entry.name);
    ui_.showingRenameInput = true;
    renameField_->setText(ui_.renameDraftName);
    syncInputRows();
    renameField_->setFocus();
    renameField_->selectAll();
}

void PaneBrowserCard::cancelRename() {
    ui_.showingRenameInput = false;
    ui_.renameTargetEntry.reset();
    ui_.renameTargetPlace.reset();
    syncInputRows();
}

void PaneBrowserCard::toggleNewFolderInput() {
    ui_.showingRenameInput = false;
    ui_.showingNewFolderInput = !ui_.showingNewFolderInput;
    syncInputRows();
    if (ui_.showingNewFolderInput) {
        newFolderField_->setFocus();
    }
}

void PaneBrowserCard::createFolderAction() {
    const QString name = ui_.newFolderName.trimmed();
    if (name.isEmpty()) {
        return;
    }
    model_.createFolder(bytesOf(name), &pane_);
    newFolderField_->clear();
    ui_.newFolderName.clear();
    ui_.showingNewFolderInput = false;
    syncInputRows();
}

void PaneBrowserCard::commitRenameAction() {
    if (!ui_.renameTargetEntry) {
        return;
    }
    const SledFileEntry entry = *ui_.renameTargetEntry;
    const QString newName = ui_.renameDraftName.trimmed();
    // A name that is not UTF-8 is shown with replacement characters; leaving that text as it was
    // means "the old name", never a rename to the replacement characters.
    if (newName.isEmpty() || newName == sledDisplayText(entry.name) || bytesOf(newName) == entry.name) {
        return;
    }
    if (ui_.renameTargetPlace) {
        model_.renameEntry(entry, bytesOf(newName), *ui_.renameTargetPlace);
    } else {
        model_.renameEntry(entry, bytesOf(newName), &pane_);
    }
    ui_.showingRenameInput = false;
    ui_.renameTargetEntry.reset();
    ui_.renameTargetPlace.reset();
    ui_.renameDraftName.clear();
    renameField_->clear();
    syncInputRows();
}

void PaneBrowserCard::deleteSelectedAction() {
    const std::vector<SledFileEntry> selected = pane_.selectedEntries();
    if (pane_.selectedPaths().empty()) {
        return;
    }
    std::unordered_set<std::string> shown;
    for (const SledFileEntry& entry : pane_.entryList()->rows()) {
        shown.insert(entry.path);
    }
    const auto hidden = static_cast<std::size_t>(std::count_if(
        selected.begin(), selected.end(), [&](const SledFileEntry& entry) { return shown.count(entry.path) == 0; }));
    if (hidden > 0) {
        // Entries the filter hides are not on screen: deleting them unseen needs a yes first.
        const std::string count = std::to_string(hidden);
        const std::string total = std::to_string(selected.size());
        const std::string title = model_.t("Delete Hidden Items?", "Gizli Öğeler Silinsin mi?");
        const std::string message =
            model_.t(count + " of the " + total + " selected items are hidden by the filter. Delete all " + total + "?",
                     "Seçili " + total + " öğeden " + count + " tanesi filtre yüzünden görünmüyor. " + total +
                         " öğenin hepsi silinsin mi?");
        SledConfirmation* confirmation = model_.confirmation();
        if (confirmation == nullptr || !confirmation->confirm(title, message)) {
            return;
        }
    }
    model_.deleteSelected(&pane_);
}

void PaneBrowserCard::previewSelectedAction() {
    if (const std::optional<SledFileEntry> file = selectedFile()) {
        model_.openQuickPreview(*file, &pane_);
    }
}

void PaneBrowserCard::renameSelectedAction() {
    const std::vector<SledFileEntry> selected = pane_.selectedEntries();
    if (selected.size() == 1) {
        beginRename(selected.front());
    }
}

void PaneBrowserCard::submitPathDraft() {
    const QString typed = pathField_->text();
    // The path shown as it is means the pane's own path, byte for byte, even when it is not UTF-8.
    if (typed == sledDisplayText(pane_.currentPath())) {
        model_.openTypedPath(pane_.currentPath(), &pane_);
    } else {
        model_.openTypedPath(bytesOf(typed), &pane_);
    }
    // A refused path stays in the field to be corrected; a new folder resets it on arrival.
}

void PaneBrowserCard::selectFilesAction() {
    std::set<std::string> files;
    for (const SledFileEntry& entry : pane_.entryList()->rows()) {
        if (!entry.isDirectory) {
            files.insert(entry.path);
        }
    }
    pane_.setSelectedPaths(pane_.selectedPaths() == files ? std::set<std::string>{} : files);
}

void PaneBrowserCard::toggleSelection(const std::string& path) {
    std::set<std::string> selection = pane_.selectedPaths();
    if (selection.erase(path) == 0) {
        selection.insert(path);
    }
    pane_.setSelectedPaths(selection);
}

void PaneBrowserCard::openEntry(const SledFileEntry& entry) {
    if (entry.isDirectory) {
        model_.openDirectory(entry, &pane_);
    } else {
        model_.openQuickPreview(entry, &pane_);
    }
}

// --- Drops -----------------------------------------------------------------------------------------

void PaneBrowserCard::setDropTargeted(bool targeted) {
    ui_.isDropTargeted = targeted;
    dropHighlight_->setVisible(targeted);
    if (targeted) {
        dropHighlight_->raise();
    }
}

void PaneBrowserCard::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropTargeted(true);
}

void PaneBrowserCard::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void PaneBrowserCard::dragLeaveEvent(QDragLeaveEvent* event) {
    setDropTargeted(false);
    event->accept();
}

void PaneBrowserCard::dropEvent(QDropEvent* event) {
    setDropTargeted(false);
    std::vector<std::filesystem::path> paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (std::optional<std::filesystem::path> path = localPathOf(url)) {
            paths.push_back(std::move(*path));
        }
    }
    model_.handleDroppedLocalURLs(paths, &pane_);
    if (paths.empty()) {
        event->ignore();
    } else {
        event->acceptProposedAction();
    }
}

// --- Synchronisation -------------------------------------------------------------------------------

PaneBrowserCard::ListingState PaneBrowserCard::listingState() const {
    const QWidget* page = listing_->currentWidget();
    if (page == loadingPage_) {
        return ListingState::loading;
    }
    if (page == errorPage_) {
        return ListingState::error;
    }
    if (page == emptyPage_) {
        return ListingState::empty;
    }
    return ListingState::list;
}

void PaneBrowserCard::retranslate() {
    const VornLanguage language = model_.language();
    sideTitle_->setText(isLeft_ ? vornQText("LEFT PANE", "SOL PANEL", language)
                                : vornQText("RIGHT PANE", "SAĞ PANEL", language));
    editConnection_->setToolTip(vornQText("Edit Connection", "Bağlantıyı Düzenle", language));
    bookmarkButton_->setToolTip(vornQText("Favorite Folder Bookmarks", "Favori Klasör Yer İmleri", language));
    previewButton_->setToolTip(vornQText("Quick Preview & Inline Edit", "Hızlı Önizle ve Düzenle", language));
    linkButton_->setToolTip(
        vornQText("Generate Presigned S3/R2 Share URL", "Ön İmzalı S3/R2 Paylaşım Linki Oluştur", language));
    renameButton_->setToolTip(vornQText("Rename Selected Item", "Seçili Öğeyi Yeniden Adlandır", language));
    newFolderButton_->setToolTip(vornQText("New Folder", "Yeni Klasör", language));
    filterField_->setPlaceholderText(vornQText("Filter…", "Filtrele…", language));
    newFolderField_->setPlaceholderText(vornQText("New folder name…", "Yeni klasör adı…", language));
    createButton_->setLabel(vornQText("Create", "Oluştur", language));
    commitRenameButton_->setLabel(vornQText("Rename", "Adlandır", language));
    loadingText_->setText(vornQText("Loading directory…", "Klasör yükleniyor…", language));
    retryButton_->setLabel(vornQText("Retry", "Tekrar Dene", language));
    emptyText_->setText(vornQText("Empty folder — drop files here to upload", "Klasör boş — yüklemek için dosya bırakın",
                                  language));
    syncEndpoint();
    syncInputRows();
    syncFooter();
}

void PaneBrowserCard::syncEndpoint() {
    const bool local = pane_.endpoint().isLocal();
    endpointButton_->setLeading(local ? "laptopcomputer" : "server.rack", accent_, 14);
    endpointButton_->setText(sledDisplayText(model_.endpointTitle(pane_.endpoint())), vornFont(13, QFont::Bold),
                             VornGlassTokens::textPrimary());
    endpointButton_->setTrailing("chevron.down", VornGlassTokens::textMuted(),
                                 QFontMetricsF(vornFont(VornTextStyle::caption2)).capHeight() * 1.4);

    bool hasProfile = false;
    if (!local) {
        for (const ConnectionProfile& profile : model_.profiles()) {
            hasProfile = hasProfile || profile.id == *pane_.endpoint().profileID();
        }
    }
    editConnection_->setVisible(hasProfile);

    const bool bookmarked = model_.isCurrentPathBookmarked(&pane_);
    const double small = QFontMetricsF(vornFont(VornTextStyle::caption)).capHeight() * 1.45;
    bookmarkButton_->setLeading(bookmarked ? "star.fill" : "star",
                                bookmarked ? accent_ : VornGlassTokens::textSecondary(), small);
    linkButton_->setVisible(model_.supportsPresignedURL(pane_.endpoint()));
    syncSelectionControls();
    header_->arrange();
}

void PaneBrowserCard::syncPathDraft() {
    pathField_->setText(sledDisplayText(pane_.currentPath()));
    pathField_->setCursorPosition(0);
    // The bookmark star follows the folder shown.
    const bool bookmarked = model_.isCurrentPathBookmarked(&pane_);
    const double small = QFontMetricsF(vornFont(VornTextStyle::caption)).capHeight() * 1.45;
    bookmarkButton_->setLeading(bookmarked ? "star.fill" : "star",
                                bookmarked ? accent_ : VornGlassTokens::textSecondary(), small);
}

void PaneBrowserCard::syncSelectionControls() {
    const std::vector<SledFileEntry> selected = pane_.selectedEntries();
    const bool hasFile = std::any_of(selected.begin(), selected.end(), [](const SledFileEntry& e) { return !e.isDirectory; });
    previewButton_->setEnabled(hasFile);
    linkButton_->setEnabled(hasFile);
    const double small = QFontMetricsF(vornFont(VornTextStyle::caption)).capHeight() * 1.45;
    linkButton_->setLeading("link.badge.plus", hasFile ? accent_ : VornGlassTokens::textMuted(), small);
    renameButton_->setEnabled(selected.size() == 1);
    deleteButton_->setEnabled(!pane_.selectedPaths().empty());
}

void PaneBrowserCard::syncListingState() {
    QWidget* page = list_;
    if (pane_.isLoading()) {
        page = loadingPage_;
    } else if (pane_.errorMessage()) {
        errorText_->setText(sledDisplayText(*pane_.errorMessage()));
        page = errorPage_;
    } else if (pane_.entryList()->rowCount() == 0) {
        page = emptyPage_;
    }
    listing_->setCurrentWidget(page);
    if (page == loadingPage_) {
        spinner_->start();
    } else {
        spinner_->stop();
    }
}

void PaneBrowserCard::syncFooter() {
    const VornLanguage language = model_.language();
    const std::size_t shown = static_cast<std::size_t>(pane_.entryList()->rowCount());
    const std::size_t selected = pane_.selectedPaths().size();
    counts_->setText(decimal(shown) + vornQText(" items • ", " öğe • ", language) + decimal(selected) +
                     vornQText(" selected", " seçili", language));
    selectFiles_->setVisible(shown > 0);
    // The label says what a press does: it clears exactly when the selection is the set of shown
    // files, the same comparison the press makes. The sets are equal when every shown file is
    // selected and nothing else is (no copy of a large listing is made for it).
    const std::set<std::string>& selection = pane_.selectedPaths();
    std::size_t files = 0;
    std::size_t selectedFiles = 0;
    for (const SledFileEntry& entry : pane_.entryList()->rows()) {
        if (!entry.isDirectory) {
            ++files;
            if (!selection.empty() && selection.count(entry.path) != 0) {
                ++selectedFiles;
            }
        }
    }
    const bool allFilesExactly = selectedFiles == files && selection.size() == files;
    selectFiles_->setLabel(allFilesExactly ? vornQText("Clear", "Temizle", language)
                                           : vornQText("Select Files", "Dosyaları Seç", language));
}

void PaneBrowserCard::syncInputRows() {
    newFolderRow_->setVisible(ui_.showingNewFolderInput);
    const bool renaming = ui_.showingRenameInput && ui_.renameTargetEntry.has_value();
    renameRow_->setVisible(renaming);
    if (ui_.renameTargetEntry) {
        const std::string name = bytesOf(sledDisplayText(ui_.renameTargetEntry->name));
        renameField_->setPlaceholderText(
            vornQText("New name for " + name + "…", name + " için yeni ad…", model_.language()));
    }
    syncRenameEnabling();
}

void PaneBrowserCard::syncRenameEnabling() {
    bool enabled = false;
    if (ui_.renameTargetEntry) {
        const QString draft = ui_.renameDraftName;
        enabled = !draft.trimmed().isEmpty() && draft != sledDisplayText(ui_.renameTargetEntry->name) &&
                  bytesOf(draft) != ui_.renameTargetEntry->name;
    }
    commitRenameButton_->setEnabled(enabled);
}
