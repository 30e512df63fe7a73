#include "LanAirDropView.h"

#include "SledChrome.h"
#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornGlassCard.h"
#include "VornGlassInputField.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTextLayout>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr double rowPadding = 8;

QFont captionFont(QFont::Weight weight = QFont::Normal) {
    return vornFont(VornTextStyle::caption, weight);
}
QFont caption2Font(QFont::Weight weight = QFont::Normal, VornFontDesign design = VornFontDesign::standard) {
    return vornFont(vornTextStylePoints(VornTextStyle::caption2), weight, design);
}
// The shelf's details end in a digest, which reads best in fixed-width letters.
QFont sharedDetailFont() {
    return caption2Font(QFont::Normal, VornFontDesign::monospaced);
}

// The local files of a drop; addresses of anything else (web links) are left out.
std::vector<std::filesystem::path> droppedFiles(const QMimeData* mime) {
    std::vector<std::filesystem::path> files;
    if (mime == nullptr || !mime->hasUrls()) {
        return files;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            // The bytes of the name as the file system has them, whatever they decode to.
            files.emplace_back(QFile::encodeName(url.toLocalFile()).toStdString());
        }
    }
    return files;
}

// A multi-line caption that wraps inside its column.
QLabel* wrappingLabel(const QColor& color, const QFont& font, QWidget* parent) {
    QLabel* label = sledLabel(color, font, parent);
    label->setWordWrap(true);
    return label;
}

QListView* makeRowList(QAbstractItemModel* rows, QWidget* parent) {
    auto* list = new QListView(parent);
    list->setModel(rows);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setUniformItemSizes(false);
    list->setResizeMode(QListView::Adjust);
    list->setMouseTracking(true);
    vornMakeTransparent(list);
    return list;
}

// A glass button's look for a symbol-only button painted inside a row.
void paintRowButton(QPainter& painter, const QRectF& rect, std::string_view symbol) {
    vornPaintGlassButtonShape(painter, rect, false);
    const double side = 13;
    VornSymbol::paint(painter, QRectF(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side), symbol,
                      VornGlassTokens::textPrimary());
}

bool isLeftRelease(QEvent* event) {
    if (event->type() != QEvent::MouseButtonRelease) {
        return false;
    }
    return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
}

// The start of a clipboard text, enough for the three lines a row shows: a peer may send
// megabytes on one line, and a row must not lay all of it out on every paint.
QString clipboardPreview(const std::string& text) {
    constexpr std::size_t previewBytes = 16384;
    return sledDisplayText(text.size() > previewBytes ? text.substr(0, previewBytes) : text);
}

// The rounded ground every row of the tab stands on; gives back the row without the gap below it.
QRectF paintRowGround(QPainter& painter, const QRectF& rowRect, int rowGap) {
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF row = rowRect.adjusted(0, 0, 0, -rowGap);
    painter.fillPath(vornRoundedRectPath(row, 8), VornGlassTokens::surface1());
    return row;
}

// The shelf's and the received files' rows: a file's name over a line of details, centred on the
// row, and a symbol button at the row's end.
constexpr double fileRowButtonWidth = 34;
constexpr double fileRowButtonHeight = 27;

QFont fileNameFont() {
    return captionFont(QFont::DemiBold);
}

double fileRowTextHeight(const QFont& detailFont) {
    return QFontMetricsF(fileNameFont()).height() + 2 + QFontMetricsF(detailFont).height();
}

QSize fileRowSize(const QStyleOptionViewItem& option, const QFont& detailFont, int rowGap) {
    const double height = rowPadding + std::max(fileRowTextHeight(detailFont), fileRowButtonHeight) + rowPadding;
    return QSize(option.rect.width(), static_cast<int>(std::ceil(height)) + rowGap);
}

QRectF fileRowButtonRect(const QRectF& rowRect, int rowGap) {
    const QRectF row = rowRect.adjusted(0, 0, 0, -rowGap);
    return QRectF(row.right() - rowPadding - fileRowButtonWidth, row.center().y() - fileRowButtonHeight / 2,
                  fileRowButtonWidth, fileRowButtonHeight);
}

// Where the name line of a file row (the row without its gap) begins.
QPointF fileRowTextOrigin(const QRectF& row, const QFont& detailFont) {
    return QPointF(row.left() + rowPadding, row.center().y() - fileRowTextHeight(detailFont) / 2);
}

// The name, cut in the middle, over the details, cut at the end, each in its own width.
void paintFileRowText(QPainter& painter, const QPointF& origin, const QString& name, double nameWidth,
                      const QString& detail, const QFont& detailFont, double detailWidth) {
    const QFont nameFont = fileNameFont();
    const QFontMetricsF nameMetrics(nameFont);
    const QFontMetricsF detailMetrics(detailFont);
    painter.setFont(nameFont);
    painter.setPen(VornGlassTokens::textPrimary());
    painter.drawText(QRectF(origin.x(), origin.y(), nameWidth, nameMetrics.height()), Qt::AlignVCenter | Qt::AlignLeft,
                     nameMetrics.elidedText(name, Qt::ElideMiddle, nameWidth));
    painter.setFont(detailFont);
    painter.setPen(VornGlassTokens::textMuted());
    painter.drawText(QRectF(origin.x(), origin.y() + nameMetrics.height() + 2, detailWidth, detailMetrics.height()),
                     Qt::AlignVCenter | Qt::AlignLeft, detailMetrics.elidedText(detail, Qt::ElideRight, detailWidth));
}

template <class Row>
const Row* rowAt(const std::deque<Row>& rows, const QModelIndex& index) {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= rows.size()) {
        return nullptr;
    }
    return &rows[static_cast<std::size_t>(index.row())];
}

}  // namespace

std::optional<std::string> LanAirDropUIState::pinOrNone() const {
    if (peerPIN.isEmpty()) {
        return std::nullopt;
    }
    return peerPIN.toStdString();
}

// --- Card title -------------------------------------------------------------------------------------

LanCardTitle::LanCardTitle(std::string symbol, QWidget* parent) : QWidget(parent), symbol_(std::move(symbol)) {
    setFont(vornFont(VornTextStyle::callout, QFont::Bold));
    // A narrow card wraps its title onto more lines rather than cutting it short; a fixed height
    // would hold it to one line.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void LanCardTitle::setText(const QString& text) {
    if (text != text_) {
        text_ = text;
        setAccessibleName(text);
        updateGeometry();
        update();
    }
}

double LanCardTitle::symbolSide() const {
    return std::ceil(QFontMetricsF(font()).height());
}

QRectF LanCardTitle::textBounds(double width) const {
    const double room = std::max(1.0, width - symbolSide() - 6);
    return QFontMetricsF(font()).boundingRect(QRectF(0, 0, room, 1e6), Qt::TextWordWrap | Qt::AlignLeft, text_);
}

QSize LanCardTitle::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSizeF(symbolSide() + 6 + metrics.horizontalAdvance(text_) + 1, metrics.height() + 2).toSize();
}

QSize LanCardTitle::minimumSizeHint() const {
    // As narrow as its longest word: words wrap, none is cut.
    const QFontMetricsF metrics(font());
    double longest = 0;
    for (const QString& word : text_.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        longest = std::max(longest, metrics.horizontalAdvance(word));
    }
    return QSizeF(symbolSide() + 6 + std::ceil(longest) + 1, metrics.height() + 2).toSize();
}

bool LanCardTitle::hasHeightForWidth() const {
    return true;
}

int LanCardTitle::heightForWidth(int width) const {
    return static_cast<int>(std::ceil(std::max(textBounds(width).height(), QFontMetricsF(font()).height()))) + 2;
}

bool LanCardTitle::isWrapped() const {
    return textBounds(width()).height() > QFontMetricsF(font()).height() * 1.5;
}

void LanCardTitle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF metrics(font());
    const double symbol = symbolSide();
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    // The lines stand centred in the row the card's controls make; the symbol beside the first.
    const double block = std::max(textBounds(width()).height(), metrics.height());
    const double textTop = std::max(0.0, (height() - block) / 2.0);
    VornSymbol::paint(painter, QRectF(rtl ? width() - symbol : 0, textTop + (metrics.height() - symbol) / 2.0, symbol, symbol),
                      symbol_, VornGlassTokens::textPrimary());
    const double room = std::max(0.0, width() - symbol - 6);
    painter.setFont(font());
    painter.setPen(VornGlassTokens::textPrimary());
    painter.drawText(QRectF(rtl ? 0 : symbol + 6, textTop, room, height() - textTop),
                     Qt::TextWordWrap | Qt::AlignTop | (rtl ? Qt::AlignRight : Qt::AlignLeft), text_);
}

// --- QR code ----------------------------------------------------------------------------------------

LanQRCodeView::LanQRCodeView(QWidget* parent) : QWidget(parent) {
    setFixedSize(130, 130);
}

void LanQRCodeView::setImage(const QImage& image) {
    image_ = image;
    update();
}

void LanQRCodeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    if (!image_.isNull()) {
        painter.fillPath(vornRoundedRectPath(bounds, 10), Qt::white);
        // Modules stay sharp: no smoothing, so a camera sees clean black and white.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(bounds.adjusted(6, 6, -6, -6), image_);
        return;
    }
    painter.fillPath(vornRoundedRectPath(bounds, 10), VornGlassTokens::surface2());
    const double side = vornTextStylePoints(VornTextStyle::largeTitle);
    VornSymbol::paint(painter, QRectF(bounds.center().x() - side / 2, bounds.center().y() - side / 2, side, side),
                      "qrcode", VornGlassTokens::textMuted());
}

// --- Shelf card and drop zone -----------------------------------------------------------------------

// The dashed area that invites a drop while the shelf is empty.
class LanDropZone : public QWidget {
public:
    LanDropZone(const LanAirDropUIState& state, const QColor& accent, QWidget* parent)
        : QWidget(parent), state_(state), accent_(accent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool targeted = state_.isShareDropTargeted;
        QColor fill = accent_;
        fill.setAlphaF(0.16f);
        const QRectF bounds = QRectF(rect());
        painter.fillPath(vornRoundedRectPath(bounds, 10), targeted ? fill : VornGlassTokens::surface1());
        QPen pen(targeted ? accent_ : VornGlassTokens::borderSubtle(), 1.2);
        pen.setDashPattern({5 / 1.2, 4 / 1.2});
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(vornRoundedRectPath(bounds.adjusted(0.6, 0.6, -0.6, -0.6), 10));
    }

private:
    const LanAirDropUIState& state_;
    QColor accent_;
};

class LanShareShelfCard : public VornGlassCard {
public:
    LanShareShelfCard(LanAirDropView& tab, QWidget* parent) : VornGlassCard(14, 14, parent), tab_(tab) {
        setAcceptDrops(true);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasUrls()) {
            tab_.setShareDropTargeted(true);
            event->acceptProposedAction();
        }
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        if (event->mimeData()->hasUrls()) {
            event->acceptProposedAction();
        }
    }
    void dragLeaveEvent(QDragLeaveEvent*) override { tab_.setShareDropTargeted(false); }
    void dropEvent(QDropEvent* event) override {
        tab_.setShareDropTargeted(false);
        if (tab_.dropOnShelf(event->mimeData())) {
            event->acceptProposedAction();
        } else {
            event->ignore();
        }
    }

private:
    LanAirDropView& tab_;
};

// --- Peer card --------------------------------------------------------------------------------------

LanPeerCard::LanPeerCard(LanAirDropView& tab, LANPeerInfo peer, QWidget* parent)
    : QWidget(parent), tab_(tab), peer_(std::move(peer)) {
    setFixedWidth(245);
    setAcceptDrops(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(6);

    auto* head = new QHBoxLayout();
    auto* symbol = new QLabel(this);
    const int side = static_cast<int>(std::ceil(QFontMetricsF(captionFont()).height()));
    symbol->setPixmap(QPixmap::fromImage(VornSymbol::image("desktopcomputer", side, tab.accent())));
    head->addWidget(symbol);
    name_ = sledLabel(VornGlassTokens::textPrimary(), captionFont(QFont::Bold), this);
    name_->setText(sledDisplayText(peer_.deviceName));
    name_->setMinimumWidth(1);
    head->addWidget(name_, 1);
    platform_ = sledLabel(VornGlassTokens::textMuted(), caption2Font(), this);
    platform_->setText(sledDisplayText(peer_.platform));
    head->addWidget(platform_);
    column->addLayout(head);

    address_ = sledLabel(VornGlassTokens::textSecondary(), caption2Font(QFont::Normal, VornFontDesign::monospaced), this);
    address_->setText(sledDisplayText(peer_.host) + QStringLiteral(":") + QString::number(peer_.port));
    column->addWidget(address_);

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(6);
    sendFiles_ = new VornPrimaryButton(QString(), this);
    connect(sendFiles_, &QAbstractButton::clicked, this,
            [this] { tab_.viewModel().chooseFilesAndSled(peer_, tab_.uiState().pinOrNone()); });
    buttons->addWidget(sendFiles_);
    clipboard_ = new VornGlassButton(QString(), false, this);
    connect(clipboard_, &QAbstractButton::clicked, this,
            [this] { tab_.viewModel().sledMacClipboard(peer_, tab_.uiState().pinOrNone()); });
    buttons->addWidget(clipboard_);
    buttons->addStretch(1);
    column->addLayout(buttons);
    retranslate();
}

void LanPeerCard::retranslate() {
    const VornLanguage language = tab_.viewModel().language();
    sendFiles_->setLabel(vornQText("Send Files", "Dosya Gönder", language));
    clipboard_->setLabel(vornQText("Clipboard", "Pano", language));
}

void LanPeerCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(vornRoundedRectPath(QRectF(rect()), 10), VornGlassTokens::surface2());
}

void LanPeerCard::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void LanPeerCard::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void LanPeerCard::dropEvent(QDropEvent* event) {
    if (tab_.dropOnPeer(peer_, event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

// --- Shelf rows -------------------------------------------------------------------------------------

LanSharedFileDelegate::LanSharedFileDelegate(SledViewModel& viewModel, QObject* parent)
    : QStyledItemDelegate(parent), model_(viewModel) {}

QString LanSharedFileDelegate::detailText(const LANSharedFileItem& item) {
    return QString::fromStdString(VornByteFormatter::format(item.sizeBytes)) + QString::fromUtf8(" • SHA-256 ") +
           QString::fromStdString(item.sha256Hex.substr(0, 10)) + QChar(0x2026);
}

QSize LanSharedFileDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return fileRowSize(option, sharedDetailFont(), rowGap);
}

QRectF LanSharedFileDelegate::buttonRect(const QRectF& rowRect) {
    return fileRowButtonRect(rowRect, rowGap);
}

void LanSharedFileDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const LANSharedFileItem* item = rowAt(model_.sharedLANFiles(), index);
    if (item == nullptr) {
        return;
    }
    painter->save();
    const QRectF row = paintRowGround(*painter, QRectF(option.rect), rowGap);
    const QRectF button = buttonRect(QRectF(option.rect));
    paintRowButton(*painter, button, "xmark");

    const QFont detailFont = sharedDetailFont();
    const QPointF origin = fileRowTextOrigin(row, detailFont);
    const double width = std::max(0.0, button.left() - 8 - origin.x());
    paintFileRowText(*painter, origin, sledDisplayText(item->fileName), width, detailText(*item), detailFont, width);
    painter->restore();
}

bool LanSharedFileDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) {
    const LANSharedFileItem* item = rowAt(model_.sharedLANFiles(), index);
    if (item == nullptr || !isLeftRelease(event)) {
        return false;
    }
    if (buttonRect(QRectF(option.rect)).contains(static_cast<QMouseEvent*>(event)->position())) {
        // The id is copied first: the row goes away during the call.
        const std::string id = item->id;
        model_.removeSharedLANFile(id);
        return true;
    }
    return false;
}

// --- Clipboard rows ---------------------------------------------------------------------------------

LanClipboardDelegate::LanClipboardDelegate(SledViewModel& viewModel, const QColor& accent, QListView* view)
    : QStyledItemDelegate(view), model_(viewModel), accent_(accent), view_(view) {}

QColor LanClipboardDelegate::senderColor(const LANClipboardMessage& message) const {
    return message.isOutgoing ? accent_ : VornGlassTokens::success();
}

double LanClipboardDelegate::textWidth() const {
    return std::max(20.0, view_->viewport()->width() - 2 * rowPadding);
}

QStringList LanClipboardDelegate::shownLines(const QString& text, double width) {
    const QFont font = captionFont();
    const QFontMetricsF metrics(font);
    constexpr qsizetype laidOutCharacters = 4096;
    QString flat = text.left(laidOutCharacters);
    // Line breaks of the text break lines here too (the layout only knows its own separator).
    flat.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    flat.replace(QChar('\r'), QChar('\n'));
    flat.replace(QChar('\n'), QChar(QChar::LineSeparator));
    flat.replace(QChar('\t'), QChar(' '));
    while (flat.endsWith(QChar(QChar::LineSeparator))) {
        flat.chop(1);
    }
    QTextLayout layout(flat, font);
    QTextOption options;
    options.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(options);
    QStringList lines;
    layout.beginLayout();
    bool more = text.size() > laidOutCharacters;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        if (lines.size() == maximumLines) {
            more = true;
            break;
        }
        lines.append(flat.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    for (QString& line : lines) {
        while (line.endsWith(QChar(QChar::LineSeparator)) || line.endsWith(QChar(' '))) {
            line.chop(1);
        }
    }
    if (lines.isEmpty()) {
        lines.append(QString());
    }
    if (more) {
        QString& last = lines.back();
        last = metrics.elidedText(last + QChar(0x2026), Qt::ElideRight, width);
        if (!last.endsWith(QChar(0x2026))) {
            last.append(QChar(0x2026));
        }
    }
    return lines;
}

QRectF LanClipboardDelegate::copyButtonRect(const QRectF& rowRect) {
    const double side = 18;
    return QRectF(rowRect.right() - rowPadding - side, rowRect.top() + rowPadding - 3, side, side);
}

QSize LanClipboardDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    const LANClipboardMessage* message = rowAt(model_.clipboardMessages(), index);
    const int lines = message ? static_cast<int>(shownLines(clipboardPreview(message->text), textWidth()).size()) : 1;
    const double height = rowPadding + QFontMetricsF(caption2Font(QFont::Bold)).height() + 4 +
                          lines * QFontMetricsF(captionFont()).lineSpacing() + rowPadding;
    return QSize(view_->viewport()->width(), static_cast<int>(std::ceil(height)) + rowGap);
}

void LanClipboardDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const LANClipboardMessage* message = rowAt(model_.clipboardMessages(), index);
    if (message == nullptr) {
        return;
    }
    painter->save();
    const QRectF row = paintRowGround(*painter, QRectF(option.rect), rowGap);
    const QRectF copy = copyButtonRect(row);
    VornSymbol::paint(*painter, copy.adjusted(2, 2, -2, -2), "doc.on.doc", VornGlassTokens::textSecondary());

    const double left = row.left() + rowPadding;
    const QFont senderFont = caption2Font(QFont::Bold);
    const QFontMetricsF senderMetrics(senderFont);
    const double senderWidth = std::max(0.0, copy.left() - 6 - left);
    painter->setFont(senderFont);
    painter->setPen(senderColor(*message));
    painter->drawText(QRectF(left, row.top() + rowPadding, senderWidth, senderMetrics.height()),
                      Qt::AlignVCenter | Qt::AlignLeft,
                      senderMetrics.elidedText(sledDisplayText(message->senderName), Qt::ElideRight, senderWidth));

    const QFont textFont = captionFont();
    const QFontMetricsF textMetrics(textFont);
    const double width = row.width() - 2 * rowPadding;
    painter->setFont(textFont);
    painter->setPen(VornGlassTokens::textPrimary());
    double y = row.top() + rowPadding + senderMetrics.height() + 4;
    for (const QString& line : shownLines(clipboardPreview(message->text), width)) {
        painter->drawText(QRectF(left, y, width, textMetrics.lineSpacing()), Qt::AlignVCenter | Qt::AlignLeft, line);
        y += textMetrics.lineSpacing();
    }
    painter->restore();
}

bool LanClipboardDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) {
    const LANClipboardMessage* message = rowAt(model_.clipboardMessages(), index);
    if (message == nullptr || !isLeftRelease(event)) {
        return false;
    }
    const QRectF row = QRectF(option.rect).adjusted(0, 0, 0, -rowGap);
    if (copyButtonRect(row).contains(static_cast<QMouseEvent*>(event)->position())) {
        // The whole text, never the lines the row shows.
        const std::string text = message->text;
        model_.copyText(text, model_.t("Clipboard", "Pano"));
        return true;
    }
    return false;
}

// --- Received rows ----------------------------------------------------------------------------------

LanReceivedFileDelegate::LanReceivedFileDelegate(SledViewModel& viewModel, QObject* parent)
    : QStyledItemDelegate(parent), model_(viewModel) {}

QString LanReceivedFileDelegate::detailText(const LANReceivedFileItem& item) {
    return sledDisplayText(item.senderName) + QString::fromUtf8(" • ") +
           QString::fromStdString(VornByteFormatter::format(item.sizeBytes));
}

std::string LanReceivedFileDelegate::shieldSymbol(const LANReceivedFileItem& item) {
    return item.verifiedMatch ? "checkmark.shield.fill" : "shield";
}

QColor LanReceivedFileDelegate::shieldColor(const LANReceivedFileItem& item) {
    return item.verifiedMatch ? VornGlassTokens::success() : VornGlassTokens::textMuted();
}

QString LanReceivedFileDelegate::shieldToolTip(const LANReceivedFileItem& item) const {
    const VornLanguage language = model_.language();
    return item.verifiedMatch ? vornQText("SHA-256 verified", "SHA-256 doğrulandı", language)
                              : vornQText("SHA-256 not verified: the sender gave no digest to check against",
                                          "SHA-256 doğrulanmadı: gönderen, karşılaştırılacak bir özet vermedi",
                                          language);
}

QSize LanReceivedFileDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return fileRowSize(option, caption2Font(), rowGap);
}

QRectF LanReceivedFileDelegate::buttonRect(const QRectF& rowRect) {
    return fileRowButtonRect(rowRect, rowGap);
}

QRectF LanReceivedFileDelegate::shieldRect(const LANReceivedFileItem& item, const QRectF& rowRect) const {
    const QFontMetricsF nameMetrics(fileNameFont());
    const QPointF origin = fileRowTextOrigin(rowRect.adjusted(0, 0, 0, -rowGap), caption2Font());
    const double top = origin.y();
    const double left = origin.x();
    const double shield = std::ceil(QFontMetricsF(caption2Font()).height());
    const double room = std::max(0.0, buttonRect(rowRect).left() - 8 - left - 5 - shield);
    const double nameWidth = std::min(room, nameMetrics.horizontalAdvance(sledDisplayText(item.fileName)) + 1);
    return QRectF(left + nameWidth + 5, top + (nameMetrics.height() - shield) / 2, shield, shield);
}

void LanReceivedFileDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    const LANReceivedFileItem* item = rowAt(model_.receivedLANFiles(), index);
    if (item == nullptr) {
        return;
    }
    painter->save();
    const QRectF row = paintRowGround(*painter, QRectF(option.rect), rowGap);
    const QRectF button = buttonRect(QRectF(option.rect));
    paintRowButton(*painter, button, "folder.fill");

    const QPointF origin = fileRowTextOrigin(row, caption2Font());
    const QRectF shield = shieldRect(*item, QRectF(option.rect));
    // The name ends where the shield begins; the details run on to the button.
    const double nameWidth = std::max(0.0, shield.left() - 5 - origin.x()) + 1;
    const double detailWidth = std::max(0.0, button.left() - 8 - origin.x());
    paintFileRowText(*painter, origin, sledDisplayText(item->fileName), nameWidth, detailText(*item), caption2Font(),
                     detailWidth);
    VornSymbol::paint(*painter, shield, shieldSymbol(*item), shieldColor(*item));
    painter->restore();
}

bool LanReceivedFileDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) {
    const LANReceivedFileItem* item = rowAt(model_.receivedLANFiles(), index);
    if (item == nullptr || !isLeftRelease(event)) {
        return false;
    }
    if (buttonRect(QRectF(option.rect)).contains(static_cast<QMouseEvent*>(event)->position())) {
        const std::string path = item->savedPath;
        model_.revealPathInFinder(path);
        return true;
    }
    return false;
}

bool LanReceivedFileDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) {
    const LANReceivedFileItem* item = rowAt(model_.receivedLANFiles(), index);
    if (item == nullptr || event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    const QRectF shield = shieldRect(*item, QRectF(option.rect)).adjusted(-3, -3, 3, 3);
    if (shield.contains(event->pos())) {
        QToolTip::showText(event->globalPos(), shieldToolTip(*item), view->viewport(), shield.toAlignedRect());
        return true;
    }
    QToolTip::hideText();
    return true;
}

// --- The tab ----------------------------------------------------------------------------------------

LanAirDropView::LanAirDropView(SledViewModel& viewModel, const QColor& accent, QWidget* parent)
    : QWidget(parent), model_(viewModel), accent_(accent) {
    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(12);

    auto* leftHolder = new QWidget(this);
    leftHolder->setFixedWidth(410);
    auto* left = new QVBoxLayout(leftHolder);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(12);
    left->addWidget(makeReceiverCard());
    left->addWidget(makeShelfCard(), 1);
    columns->addWidget(leftHolder);

    auto* right = new QVBoxLayout();
    right->setSpacing(12);
    right->addWidget(makePeersCard());
    auto* lower = new QHBoxLayout();
    lower->setSpacing(12);
    lower->addWidget(makeClipboardCard(), 1);
    lower->addWidget(makeReceivedCard(), 1);
    right->addLayout(lower, 1);
    columns->addLayout(right, 1);

    connect(&model_, &SledViewModel::languageChanged, this, &LanAirDropView::retranslate);
    connect(&model_, &SledViewModel::isLANServerRunningChanged, this, &LanAirDropView::syncReceiver);
    connect(&model_, &SledViewModel::activeLANPortChanged, this, &LanAirDropView::syncReceiver);
    connect(&model_, &SledViewModel::localLANIPChanged, this, &LanAirDropView::syncReceiver);
    connect(&model_, &SledViewModel::lanQRCodeImageChanged, this, &LanAirDropView::syncReceiver);
    connect(&model_, &SledViewModel::settingsChanged, this, &LanAirDropView::syncReceiver);

    // Each list's card shows its rows or its empty state, so it follows every change in their count.
    const auto follow = [this](QAbstractItemModel* rows, void (LanAirDropView::*sync)()) {
        connect(rows, &QAbstractItemModel::rowsInserted, this, sync);
        connect(rows, &QAbstractItemModel::rowsRemoved, this, sync);
        connect(rows, &QAbstractItemModel::modelReset, this, sync);
    };
    follow(model_.sharedFileList(), &LanAirDropView::syncShelf);
    follow(model_.peerList(), &LanAirDropView::syncPeers);
    follow(model_.clipboardList(), &LanAirDropView::syncClipboard);
    follow(model_.receivedFileList(), &LanAirDropView::syncReceived);

    retranslate();
    syncShelf();
    syncPeers();
    syncClipboard();
    syncReceived();
}

VornGlassCard* LanAirDropView::sharedShelfCard() const {
    return shelfCard_;
}

VornGlassCard* LanAirDropView::makeReceiverCard() {
    receiverCard_ = new VornGlassCard(14, 14, this);
    // As tall as its texts need at the width it gets (a wrapped hint takes more lines); the cards
    // below take what is left.
    receiverCard_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    auto* column = receiverCard_->contentLayout();
    column->setSpacing(12);

    auto* head = new QHBoxLayout();
    auto* titles = new QVBoxLayout();
    titles->setSpacing(2);
    title_ = sledLabel(VornGlassTokens::textPrimary(), vornFont(15, QFont::Bold, VornFontDesign::rounded), receiverCard_);
    subtitle_ = sledLabel(VornGlassTokens::textSecondary(), captionFont(), receiverCard_);
    titles->addWidget(title_);
    titles->addWidget(subtitle_);
    head->addLayout(titles, 1);
    serverButton_ = new VornGlassButton(QString(), false, receiverCard_);
    connect(serverButton_, &QAbstractButton::clicked, this, [this] { model_.toggleLANServer(); });
    head->addWidget(serverButton_, 0, Qt::AlignVCenter);
    column->addLayout(head);

    auto* portal = new QHBoxLayout();
    portal->setSpacing(14);
    qrCode_ = new LanQRCodeView(receiverCard_);
    portal->addWidget(qrCode_, 0, Qt::AlignVCenter);
    auto* details = new QVBoxLayout();
    details->setSpacing(8);
    details->addStretch(1);
    portalCaption_ = wrappingLabel(VornGlassTokens::textSecondary(), captionFont(), receiverCard_);
    details->addWidget(portalCaption_);
    portalAddress_ = sledLabel(accent_, vornFont(12.5, QFont::Bold, VornFontDesign::monospaced), receiverCard_);
    portalAddress_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details->addWidget(portalAddress_);
    auto* copyRow = new QHBoxLayout();
    copyRow->setSpacing(6);
    copyURL_ = new VornGlassButton(QString(), false, receiverCard_);
    copyURL_->setSymbol("doc.on.doc");
    // The address as it reads now, running or not.
    connect(copyURL_, &QAbstractButton::clicked, this, [this] { model_.copyText(model_.lanPortalURLString(), "LAN URL"); });
    copyRow->addWidget(copyURL_);
    copyRow->addStretch(1);
    details->addLayout(copyRow);
    pinToggle_ = new QCheckBox(receiverCard_);
    pinToggle_->setFont(captionFont());
    QPalette palette = pinToggle_->palette();
    palette.setColor(QPalette::WindowText, VornGlassTokens::textPrimary());
    palette.setColor(QPalette::Base, QColor(0x2A, 0x20, 0x2C));
    palette.setColor(QPalette::Text, accent_);
    palette.setColor(QPalette::Highlight, accent_);
    pinToggle_->setPalette(palette);
    pinToggle_->setCursor(Qt::PointingHandCursor);
    connect(pinToggle_, &QCheckBox::clicked, this, [this](bool on) { setRequirePIN(on); });
    details->addWidget(pinToggle_, 0, Qt::AlignLeft);
    details->addStretch(1);
    portal->addLayout(details, 1);
    column->addLayout(portal);
    return receiverCard_;
}

VornGlassCard* LanAirDropView::makeShelfCard() {
    shelfCard_ = new LanShareShelfCard(*this, this);
    auto* column = shelfCard_->contentLayout();
    column->setSpacing(10);

    auto* head = new QHBoxLayout();
    shelfTitle_ = new LanCardTitle("square.and.arrow.up.on.square.fill", shelfCard_);
    head->addWidget(shelfTitle_, 1);
    addFiles_ = new VornGlassButton(QString(), false, shelfCard_);
    connect(addFiles_, &QAbstractButton::clicked, this, [this] { model_.chooseFilesForLANShare(); });
    head->addWidget(addFiles_);
    column->addLayout(head);

    shelfContent_ = new QStackedWidget(shelfCard_);
    dropZone_ = new LanDropZone(ui_, accent_, shelfContent_);
    auto* zone = new QVBoxLayout(dropZone_);
    zone->setContentsMargins(12, 12, 12, 12);
    zone->setSpacing(6);
    zone->addStretch(1);
    auto* tray = new QLabel(dropZone_);
    tray->setPixmap(QPixmap::fromImage(
        VornSymbol::image("tray.and.arrow.up", static_cast<int>(vornTextStylePoints(VornTextStyle::title2)) + 3, accent_)));
    tray->setAlignment(Qt::AlignCenter);
    zone->addWidget(tray);
    dropZoneText_ = wrappingLabel(VornGlassTokens::textSecondary(), captionFont(), dropZone_);
    dropZoneText_->setAlignment(Qt::AlignCenter);
    zone->addWidget(dropZoneText_);
    zone->addStretch(1);
    shelfContent_->addWidget(dropZone_);

    shelfList_ = makeRowList(model_.sharedFileList(), shelfContent_);
    shelfList_->setItemDelegate(new LanSharedFileDelegate(model_, shelfList_));
    shelfContent_->addWidget(shelfList_);
    column->addWidget(shelfContent_, 1);
    return shelfCard_;
}

VornGlassCard* LanAirDropView::makePeersCard() {
    peersCard_ = new VornGlassCard(14, 14, this);
    // As tall as its hint needs at the width it gets (see the receiver card).
    peersCard_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    auto* column = peersCard_->contentLayout();
    column->setSpacing(10);

    auto* head = new QHBoxLayout();
    peersTitle_ = new LanCardTitle("wifi", peersCard_);
    head->addWidget(peersTitle_, 1);
    auto* connectGroup = new QHBoxLayout();
    connectGroup->setSpacing(6);
    const auto field = [this](const QString& placeholder, int width, QString LanAirDropUIState::*member) {
        auto* input = new VornGlassInputField(peersCard_, 7, 8, 5);
        input->setFont(vornFont(vornTextStylePoints(VornTextStyle::caption), QFont::Normal, VornFontDesign::monospaced));
        input->setPlaceholderText(placeholder);
        input->setFixedWidth(width);
        connect(input, &QLineEdit::textChanged, this, [this, member](const QString& text) {
            ui_.*member = text;
            syncConnectButton();
        });
        return input;
    };
    hostField_ = field(QStringLiteral("192.168.1.42"), 130, &LanAirDropUIState::manualHost);
    portField_ = field(QStringLiteral("53318"), 58, &LanAirDropUIState::manualPort);
    pinField_ = field(QStringLiteral("PIN"), 52, &LanAirDropUIState::peerPIN);
    connectGroup->addWidget(hostField_);
    connectGroup->addWidget(portField_);
    connectGroup->addWidget(pinField_);
    connect_ = new VornGlassButton(QString(), false, peersCard_);
    // Never disabled: an empty or malformed address is the model's to refuse.
    connect(connect_, &QAbstractButton::clicked, this,
            [this] { model_.connectManualPeer(ui_.manualHost.toStdString(), ui_.manualPort.toStdString()); });
    connectGroup->addWidget(connect_);
    head->addLayout(connectGroup);
    column->addLayout(head);

    peersContent_ = new QStackedWidget(peersCard_);
    scanningHint_ = new QWidget(peersContent_);
    scanningHint_->setAutoFillBackground(false);
    auto* hint = new QHBoxLayout(scanningHint_);
    hint->setContentsMargins(10, 10, 10, 10);
    hint->setSpacing(10);
    auto* antenna = new QLabel(scanningHint_);
    antenna->setPixmap(QPixmap::fromImage(VornSymbol::image("antenna.radiowaves.left.and.right", 16, accent_)));
    hint->addWidget(antenna, 0, Qt::AlignVCenter);
    scanningText_ = wrappingLabel(VornGlassTokens::textSecondary(), captionFont(), scanningHint_);
    hint->addWidget(scanningText_, 1);
    // The hint sits on its own rounded surface.
    class HintSurface : public QObject {
    public:
        using QObject::QObject;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint) {
                auto* widget = static_cast<QWidget*>(watched);
                QPainter painter(widget);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.fillPath(vornRoundedRectPath(QRectF(widget->rect()), 9), VornGlassTokens::surface1());
            }
            return false;
        }
    };
    scanningHint_->installEventFilter(new HintSurface(scanningHint_));
    auto* hintHolder = new QWidget(peersContent_);
    auto* hintColumn = new QVBoxLayout(hintHolder);
    hintColumn->setContentsMargins(0, 0, 0, 0);
    hintColumn->addWidget(scanningHint_);
    hintColumn->addStretch(1);
    peersContent_->addWidget(hintHolder);

    peersScroll_ = new QScrollArea(peersContent_);
    peersScroll_->setWidgetResizable(true);
    peersScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    peersScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    vornMakeTransparent(peersScroll_);
    peersStrip_ = new QWidget(peersScroll_);
    peersStrip_->setAutoFillBackground(false);
    peersRow_ = new QHBoxLayout(peersStrip_);
    peersRow_->setContentsMargins(0, 0, 0, 0);
    peersRow_->setSpacing(10);
    peersRow_->addStretch(1);
    peersScroll_->setWidget(peersStrip_);
    peersContent_->addWidget(peersScroll_);
    column->addWidget(peersContent_);
    return peersCard_;
}

VornGlassCard* LanAirDropView::makeClipboardCard() {
    clipboardCard_ = new VornGlassCard(14, 14, this);
    auto* column = clipboardCard_->contentLayout();
    column->setSpacing(10);
    auto* head = new QHBoxLayout();
    clipboardTitle_ = new LanCardTitle("doc.on.clipboard.fill", clipboardCard_);
    head->addWidget(clipboardTitle_, 1);
    shareClipboard_ = new VornPrimaryButton(QString(), clipboardCard_);
    connect(shareClipboard_, &QAbstractButton::clicked, this, [this] { model_.publishMacClipboardToLANPortal(); });
    head->addWidget(shareClipboard_);
    column->addLayout(head);

    clipboardContent_ = new QStackedWidget(clipboardCard_);
    clipboardEmpty_ = wrappingLabel(VornGlassTokens::textSecondary(), captionFont(), clipboardContent_);
    clipboardEmpty_->setAlignment(Qt::AlignCenter);
    clipboardContent_->addWidget(clipboardEmpty_);
    clipboardList_ = makeRowList(model_.clipboardList(), clipboardContent_);
    clipboardDelegate_ = new LanClipboardDelegate(model_, accent_, clipboardList_);
    clipboardList_->setItemDelegate(clipboardDelegate_);
    clipboardContent_->addWidget(clipboardList_);
    column->addWidget(clipboardContent_, 1);
    return clipboardCard_;
}

VornGlassCard* LanAirDropView::makeReceivedCard() {
    receivedCard_ = new VornGlassCard(14, 14, this);
    auto* column = receivedCard_->contentLayout();
    column->setSpacing(10);
    auto* head = new QHBoxLayout();
    receivedTitle_ = new LanCardTitle("arrow.down.doc.fill", receivedCard_);
    head->addWidget(receivedTitle_, 1);
    folderButton_ = new VornGlassButton(QString(), false, receivedCard_);
    folderButton_->setSymbol("folder");
    connect(folderButton_, &QAbstractButton::clicked, this,
            [this] { model_.revealPathInFinder(model_.settings().lanDownloadDirectory); });
    head->addWidget(folderButton_);
    column->addLayout(head);

    receivedContent_ = new QStackedWidget(receivedCard_);
    receivedEmpty_ = wrappingLabel(VornGlassTokens::textSecondary(), captionFont(), receivedContent_);
    receivedEmpty_->setAlignment(Qt::AlignCenter);
    receivedContent_->addWidget(receivedEmpty_);
    receivedList_ = makeRowList(model_.receivedFileList(), receivedContent_);
    receivedDelegate_ = new LanReceivedFileDelegate(model_, receivedList_);
    receivedList_->setItemDelegate(receivedDelegate_);
    receivedContent_->addWidget(receivedList_);
    column->addWidget(receivedContent_, 1);
    return receivedCard_;
}

void LanAirDropView::retranslate() {
    const VornLanguage language = model_.language();
    title_->setText(vornQText("Cross-Platform LAN Drop", "Platform Bağımsız LAN Drop", language));
    subtitle_->setText(vornQText("Linux ↔ Windows / Android / Mac (Zero Account)",
                                 "Linux ↔ Windows / Android / Mac (Hesap Gerekmez)", language));
    portalCaption_->setText(vornQText("Open on any device on Wi-Fi:", "Aynı Wi-Fi'deki herhangi bir cihazda açın:", language));
    copyURL_->setLabel(vornQText("Copy URL", "URL Kopyala", language));

    shelfTitle_->setText(vornQText("Files Shared from This Computer", "Bu Bilgisayardan Paylaşılan Dosyalar", language));
    addFiles_->setLabel(vornQText("Add Files", "Dosya Ekle", language));
    dropZoneText_->setText(vornQText(
        "Drop files here so Windows/Android/Linux devices can download them directly from the QR portal.",
        "Windows/Android/Linux cihazların QR portalından doğrudan indirmesi için dosyaları buraya bırakın.", language));

    peersTitle_->setText(vornQText("Nearby LAN Devices (mDNS + Direct IP)",
                                   "Yakındaki Yerel Ağ Cihazları (mDNS + Doğrudan IP)", language));
    connect_->setLabel(vornQText("Connect", "Bağlan", language));
    scanningText_->setText(vornQText(
        "Scanning local Wi-Fi via mDNS (_vornsled._tcp). Or scan the QR code on Windows/Android/Linux to transfer "
        "right now!",
        "mDNS (_vornsled._tcp) ile yerel ağ taranıyor. Veya Windows/Android/Linux cihazdan QR kodu okutup anında "
        "aktarım başlatın!",
        language));
    for (LanPeerCard* card : peerCards()) {
        card->retranslate();
    }

    clipboardTitle_->setText(vornQText("LAN Clipboard Bridge", "Yerel Ağ Pano Köprüsü", language));
    shareClipboard_->setLabel(vornQText("Share Clipboard", "Panoyu Paylaş", language));
    clipboardEmpty_->setText(vornQText("Sleded text snippets between Mac, Windows, Android & Linux appear here.",
                                       "Mac, Windows, Android ve Linux arasında paylaşılan pano metinleri burada görünür.",
                                       language));
    receivedTitle_->setText(vornQText("Received Files (SHA-256)", "Gelen Dosyalar (SHA-256)", language));
    folderButton_->setLabel(vornQText("Folder", "Klasör", language));
    receivedEmpty_->setText(vornQText(
        "Files sent from phones or PCs are verified with SHA-256 and saved into ~/Downloads/VornSled.",
        "Telefon veya PC'lerden gelen dosyalar SHA-256 ile doğrulanıp ~/Downloads/VornSled klasörüne kaydedilir.",
        language));
    vornApplyContentLayoutDirection(this, language);
    syncReceiver();
    // Row texts (the copy label, tooltips) follow the language on their next paint.
    clipboardList_->viewport()->update();
    receivedList_->viewport()->update();
}

void LanAirDropView::syncReceiver() {
    const VornLanguage language = model_.language();
    const bool running = model_.isLANServerRunning();
    serverButton_->setLabel(running ? vornQText("Active", "Açık", language) : vornQText("Start", "Başlat", language));
    serverButton_->setActive(running);
    // An image kept from an earlier run is never shown while nothing listens.
    qrCode_->setImage(running ? model_.lanQRCodeImage() : QImage());
    portalAddress_->setText(QString::fromStdString(model_.lanPortalURLString()));
    const SledSettings& settings = model_.settings();
    const QString pin = QString::fromStdString(settings.lanPIN);
    pinToggle_->setText(vornEscapeMnemonic(vornQText("Require PIN (", "PIN İste (", language) + pin + QStringLiteral(")")));
    pinToggle_->setChecked(settings.lanRequirePIN);
}

void LanAirDropView::setRequirePIN(bool on) {
    SledSettings settings = model_.settings();
    settings.lanRequirePIN = on;
    // The running receiver takes the new requirement at once; a stopped one at its next start.
    model_.saveSettings(settings, model_.isLANServerRunning());
    pinToggle_->setChecked(model_.settings().lanRequirePIN);
}

bool LanAirDropView::showsShelfDropZone() const {
    return shelfContent_->currentWidget() == dropZone_;
}

void LanAirDropView::syncShelf() {
    shelfContent_->setCurrentWidget(model_.sharedLANFiles().empty() ? dropZone_ : static_cast<QWidget*>(shelfList_));
}

bool LanAirDropView::showsScanningHint() const {
    return peersContent_->currentWidget() != peersScroll_;
}

std::vector<LanPeerCard*> LanAirDropView::peerCards() const {
    std::vector<LanPeerCard*> cards;
    for (int index = 0; index < peersRow_->count(); ++index) {
        if (auto* card = dynamic_cast<LanPeerCard*>(peersRow_->itemAt(index)->widget())) {
            cards.push_back(card);
        }
    }
    return cards;
}

void LanAirDropView::syncPeers() {
    // The peer list is small and replaced whole when discovery reports; the cards follow it.
    for (LanPeerCard* card : peerCards()) {
        peersRow_->removeWidget(card);
        delete card;
    }
    int at = 0;
    for (const LANPeerInfo& peer : model_.peerList()->rows()) {
        peersRow_->insertWidget(at++, new LanPeerCard(*this, peer, peersStrip_));
    }
    peersContent_->setCurrentIndex(model_.peerList()->rows().empty() ? 0 : 1);
    fitPeersContent();
}

void LanAirDropView::fitPeersContent() {
    // The card is as tall as what it shows: the hint wrapped to the card's width, or the cards
    // with room for a scroll bar when they overflow.
    if (model_.peerList()->rows().empty()) {
        // The right column's width less the card's padding (the cards are laid out after this).
        const int width = std::max(100, this->width() - 410 - 12 - 28);
        const int wrapped = scanningHint_->layout()->heightForWidth(width);
        peersContent_->setFixedHeight(wrapped > 0 ? wrapped : scanningHint_->sizeHint().height());
        return;
    }
    peersScroll_->setFixedHeight(peersRow_->sizeHint().height() + peersScroll_->horizontalScrollBar()->sizeHint().height());
    peersContent_->setFixedHeight(peersScroll_->height());
}

void LanAirDropView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitPeersContent();
}

bool LanAirDropView::showsClipboardEmptyState() const {
    return clipboardContent_->currentWidget() == clipboardEmpty_;
}

void LanAirDropView::syncClipboard() {
    clipboardContent_->setCurrentWidget(model_.clipboardMessages().empty() ? static_cast<QWidget*>(clipboardEmpty_)
                                                                           : clipboardList_);
}

bool LanAirDropView::showsReceivedEmptyState() const {
    return receivedContent_->currentWidget() == receivedEmpty_;
}

void LanAirDropView::syncReceived() {
    receivedContent_->setCurrentWidget(model_.receivedLANFiles().empty() ? static_cast<QWidget*>(receivedEmpty_)
                                                                         : receivedList_);
}

void LanAirDropView::syncConnectButton() {
    connect_->setActive(!ui_.manualHost.isEmpty());
}

void LanAirDropView::resetUIState() {
    ui_ = LanAirDropUIState();
    hostField_->setText(ui_.manualHost);
    portField_->setText(ui_.manualPort);
    pinField_->setText(ui_.peerPIN);
    syncConnectButton();
    dropZone_->update();
}

void LanAirDropView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Coming back to the tab starts the form afresh; a window merely restored keeps it.
    if (!event->spontaneous()) {
        resetUIState();
    }
}

void LanAirDropView::setShareDropTargeted(bool targeted) {
    if (ui_.isShareDropTargeted != targeted) {
        ui_.isShareDropTargeted = targeted;
        dropZone_->update();
    }
}

bool LanAirDropView::dropOnShelf(const QMimeData* mime) {
    const std::vector<std::filesystem::path> files = droppedFiles(mime);
    if (files.empty()) {
        return false;
    }
    // Hashing starts after the drop has returned; a model gone by then takes nothing.
    QPointer<SledViewModel> model(&model_);
    QMetaObject::invokeMethod(
        &model_,
        [model, files] {
            if (model) {
                model->addFilesToLANShareShelf(files);
            }
        },
        Qt::QueuedConnection);
    return true;
}

bool LanAirDropView::dropOnPeer(const LANPeerInfo& peer, const QMimeData* mime) {
    const std::vector<std::filesystem::path> files = droppedFiles(mime);
    model_.sledFiles(files, peer, ui_.pinOrNone());
    return !files.empty();
}
