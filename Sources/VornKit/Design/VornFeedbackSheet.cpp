#include "VornFeedbackSheet.h"

#include "VornAppIdentity.h"
#include "VornBrandMark.h"
#include "VornButtons.h"
#include "VornFileIO.h"
#include "VornGlassCard.h"
#include "VornGlassInputField.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornLocalizationStore.h"
#include "VornPainting.h"
#include "VornSheetParts.h"
#include "VornSymbol.h"
#include "VornTaskCancelled.h"
#include "VornTypography.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <array>
#include <chrono>
#include <system_error>
#include <thread>

namespace {

constexpr std::array allKinds{VornFeedbackKind::bug, VornFeedbackKind::feature, VornFeedbackKind::newApp,
                              VornFeedbackKind::general};

QString q(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

std::string s(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

std::string pngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) {
        return {};
    }
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

// The MIME type a chosen file is sent with, by its extension in lower case.
std::string mimeTypeFor(const QString& path) {
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("jpg") || extension == QLatin1String("jpeg")) {
        return "image/jpeg";
    }
    if (extension == QLatin1String("webp")) {
        return "image/webp";
    }
    if (extension == QLatin1String("gif")) {
        return "image/gif";
    }
    return "image/png";
}

std::string tooManyText() {
    return VornFeedbackError::tooManyScreenshots(std::int64_t(VornFeedbackService::maxScreenshots)).errorDescription();
}

}  // namespace

// The submission in flight: one worker thread, stopped and joined when the sheet goes.
struct VornFeedbackSheet::Submission {
    std::jthread worker;
};

std::optional<VornFeedbackScreenshot> vornReadScreenshotFromClipboard() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data == nullptr) {
        return std::nullopt;
    }
    std::string bytes;
    const QByteArray png = data->data(QStringLiteral("image/png"));
    if (!png.isEmpty()) {
        bytes.assign(png.constData(), std::size_t(png.size()));
    } else if (data->hasImage()) {
        bytes = pngBytes(qvariant_cast<QImage>(data->imageData()));
    }
    if (bytes.empty()) {
        return std::nullopt;
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    return VornFeedbackScreenshot{VornUUID::random(), "clipboard-" + std::to_string(seconds) + ".png", "image/png",
                                  std::move(bytes)};
}

// One choice of the kind grid: the kind's symbol and title on a rounded glass chip, outlined in the
// accent colour while chosen.
class VornFeedbackKindChip : public QAbstractButton {
public:
    VornFeedbackKindChip(VornFeedbackKind kind, QColor accent, QWidget* parent)
        : QAbstractButton(parent), kind_(kind), accent_(accent) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setCheckable(false);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    VornFeedbackKind kind() const { return kind_; }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected) {
        if (selected_ != selected) {
            selected_ = selected;
            update();
        }
    }
    void setTitle(const QString& title) {
        setText(title);
        setAccessibleName(title);
        updateGeometry();
    }

    QSize sizeHint() const override {
        const QFontMetricsF metrics(vornFont(VornTextStyle::caption, QFont::DemiBold));
        return {int(std::ceil(20 + 13 + 8 + metrics.horizontalAdvance(text()))), int(std::ceil(16 + metrics.height()))};
    }
    QSize minimumSizeHint() const override { return {80, sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.setOpacity(isDown() ? 0.78 : 1.0);
        const QRectF bounds(rect());
        QColor stroke = accent_;
        stroke.setAlphaF(0.85f);
        vornPaintGlassRoundedRect(painter, bounds, 10, selected_ ? VornGlassTokens::surface3() : VornGlassTokens::surface1(),
                                  selected_ ? stroke : VornGlassTokens::borderSubtle());
        const QFont font = vornFont(VornTextStyle::caption, selected_ ? QFont::DemiBold : QFont::Medium);
        const QFontMetricsF metrics(font);
        const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
        const QRectF content = bounds.adjusted(10, 8, -10, -8);
        constexpr double side = 13;
        const double symbolX = rightToLeft ? content.right() - side : content.left();
        VornSymbol::paint(painter, QRectF(symbolX, content.center().y() - side / 2, side, side), symbolName(kind_),
                          selected_ ? accent_ : VornGlassTokens::textSecondary());
        const double room = std::max(0.0, content.width() - side - 8);
        const QString shown = metrics.elidedText(text(), Qt::ElideRight, room);
        const double textWidth = metrics.horizontalAdvance(shown);
        const double textX = rightToLeft ? content.right() - side - 8 - textWidth : content.left() + side + 8;
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(textX, content.top(), textWidth + 1, content.height()), Qt::AlignVCenter | Qt::AlignLeft,
                         shown);
        if (hasFocus()) {
            vornPaintFocusRing(painter, bounds, 10);
        }
    }

private:
    VornFeedbackKind kind_;
    QColor accent_;
    bool selected_ = false;
};

namespace {

// One attached screenshot: its picture (when the bytes decode as an image), its size and a remove
// button.
class ScreenshotTile : public VornFilledBox {
public:
    ScreenshotTile(const VornFeedbackScreenshot& screenshot, std::function<void()> onRemove, QWidget* parent)
        : VornFilledBox(VornGlassTokens::surface1(), 10, std::nullopt, parent) {
        setObjectName(QStringLiteral("screenshotTile"));
        setFixedWidth(124);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(6, 6, 6, 6);
        column->setSpacing(4);
        QImage image;
        if (image.loadFromData(reinterpret_cast<const uchar*>(screenshot.data.data()), int(screenshot.data.size()))) {
            auto* picture = new QLabel(this);
            picture->setObjectName(QStringLiteral("screenshotPicture"));
            picture->setFixedSize(112, 68);
            picture->setPixmap(QPixmap::fromImage(thumbnail(image)));
            column->addWidget(picture);
        }
        auto* row = new QHBoxLayout;
        row->setSpacing(4);
        auto* size = vornTextLabel(q(screenshot.formattedSize()),
                                   vornFont(vornTextStylePoints(VornTextStyle::caption2), QFont::Normal,
                                            VornFontDesign::monospaced),
                                   VornGlassTokens::textMuted(), this);
        size->setObjectName(QStringLiteral("screenshotSize"));
        row->addWidget(size);
        row->addStretch(1);
        auto* remove = new VornSymbolButton("xmark.circle.fill", 12, VornGlassTokens::danger(), this);
        remove->setObjectName(QStringLiteral("removeScreenshot"));
        remove->setAccessibleName(q(screenshot.filename));
        connect(remove, &QAbstractButton::clicked, this, std::move(onRemove));
        row->addWidget(remove);
        column->addLayout(row);
    }

private:
    // The picture scaled to fill 112 × 68, cut to that frame and to rounded corners.
    static QImage thumbnail(const QImage& image) {
        const QSize frame(112, 68);
        const QImage scaled = image.scaled(frame, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        QImage result(frame, QImage::Format_ARGB32_Premultiplied);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setClipPath(vornRoundedRectPath(QRectF(QPointF(0, 0), QSizeF(frame)), 8));
        painter.drawImage(QPointF((frame.width() - scaled.width()) / 2.0, (frame.height() - scaled.height()) / 2.0),
                          scaled);
        return result;
    }
};

// The camera line of the receipt: the attachment count after a picture symbol. The text it stands
// for ("📷 2") is its accessible name; the desktop's fonts rarely carry the emoji.
QWidget* attachmentsLine(QLabel** count, QWidget* parent) {
    auto* line = new QWidget(parent);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto* symbol = new QLabel(line);
    symbol->setPixmap(QPixmap::fromImage(VornSymbol::image("photo.on.rectangle.angled", 13,
                                                           VornGlassTokens::textSecondary())));
    row->addWidget(symbol);
    *count = vornTextLabel({}, vornFont(VornTextStyle::caption), VornGlassTokens::textSecondary(), line);
    row->addWidget(*count);
    return line;
}

}  // namespace

VornFeedbackSheet::VornFeedbackSheet(std::string appName, VornAppVersion version, VornProductPalette palette,
                                     VornLanguage language, std::optional<std::string> baseURL, OnClose onClose,
                                     QWidget* parent)
    : QWidget(parent),
      appName_(std::move(appName)),
      version_(std::move(version)),
      palette_(palette),
      language_(language),
      baseURL_(std::move(baseURL)),
      onClose_(std::move(onClose)),
      session_(VornFeedbackService::defaultSession()),
      submission_(std::make_unique<Submission>()) {
    setObjectName(QStringLiteral("feedbackSheet"));
    setMinimumSize(minimumWidth, minimumHeight);
    chooser_ = [](QWidget* parent, const QString& title) -> std::optional<QStringList> {
        QFileDialog dialog(parent, title);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setNameFilter(QStringLiteral("Images (*.png *.jpg *.jpeg *.webp *.gif *.PNG *.JPG *.JPEG *.WEBP *.GIF)"));
        if (dialog.exec() != QDialog::Accepted) {
            return std::nullopt;
        }
        return dialog.selectedFiles();
    };

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("feedbackScroll"));
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    vornMakeTransparent(scroll_);
    auto* content = new QWidget(scroll_);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    column->addWidget(buildHeaderRow());
    form_ = buildComposerForm();
    column->addWidget(form_);
    receiptCard_ = buildReceiptCard();
    column->addWidget(receiptCard_);
    column->addStretch(1);
    scroll_->setWidget(content);
    outer->addWidget(scroll_);

    vornApplyContentLayoutDirection(this, language_);
    rebuildTiles();
    sync();
}

VornFeedbackSheet::~VornFeedbackSheet() {
    if (submission_->worker.joinable()) {
        submission_->worker.request_stop();
        submission_->worker.join();
    }
}

QString VornFeedbackSheet::t(std::string_view en, std::string_view tr) const { return vornQText(en, tr, language_); }

void VornFeedbackSheet::setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

void VornFeedbackSheet::setSession(const VornHTTPOptions& session) { session_ = session; }

QWidget* VornFeedbackSheet::buildHeaderRow() {
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("feedbackHeader"));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    const std::optional<VornAppIdentity> identity = VornAppIdentities::resolve(appName_);
    row->addWidget(new VornBrandMark(28, identity ? VornBrandMarkStyle::app(*identity) : VornBrandMarkStyle::currentApp(),
                                     header),
                   0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto* title = vornTextLabel(t("We continuously improve our programs by listening to you",
                                  "Sizi dinleyerek programlarımızı sürekli geliştiriyoruz"),
                                vornFont(16, QFont::Bold), Qt::white, header);
    title->setWordWrap(true);
    titles->addWidget(title);
    const QString app = q(appName_);
    auto* subtitle = vornTextLabel(
        language_ == VornLanguage::tr
            ? app + QStringLiteral(" içinde bir hata mı gördünüz, özellik öneriniz ya da yeni bir program fikriniz mi "
                                   "var? E-postanız ve ekran görüntüsüyle bize yazın.")
            : vornQText("Spotted a bug in ", "", language_) + app +
                  vornQText(", have a feature wish, or a new app idea? Share your email and an optional screenshot.", "",
                            language_),
        vornFont(VornTextStyle::caption), VornGlassTokens::textSecondary(), header);
    subtitle->setObjectName(QStringLiteral("feedbackSubtitle"));
    subtitle->setWordWrap(true);
    titles->addWidget(subtitle);
    row->addLayout(titles, 1);
    if (onClose_) {
        auto* close = new VornSymbolButton("xmark.circle.fill", 18, VornGlassTokens::textSecondary(), header);
        close->setObjectName(QStringLiteral("closeButton"));
        close->setAccessibleName(t("Close", "Kapat"));
        connect(close, &QAbstractButton::clicked, this, [this] { onClose_(); });
        row->addWidget(close, 0, Qt::AlignTop);
    }
    return header;
}

QWidget* VornFeedbackSheet::labeledField(QLabel** label, QWidget* editor) {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    *label = vornTextLabel({}, vornFont(VornTextStyle::caption, QFont::DemiBold), VornGlassTokens::textSecondary(), box);
    column->addWidget(*label);
    editor->setParent(box);
    column->addWidget(editor);
    return box;
}

QWidget* VornFeedbackSheet::buildComposerForm() {
    const QColor accent = accentColor(palette_);
    auto* form = new QWidget(this);
    form->setObjectName(QStringLiteral("composerForm"));
    auto* column = new QVBoxLayout(form);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    const QFont heading = vornFont(VornTextStyle::caption, QFont::DemiBold);

    // Kind.
    auto* kindCard = new VornGlassCard(14, 14, form);
    kindCard->contentLayout()->setSpacing(10);
    kindCard->contentLayout()->addWidget(
        vornTextLabel(t("What is this about?", "Konu türü"), heading, VornGlassTokens::textSecondary(), kindCard));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    for (std::size_t index = 0; index < allKinds.size(); ++index) {
        auto* chip = new VornFeedbackKindChip(allKinds[index], accent, kindCard);
        chip->setObjectName(QStringLiteral("kind-") + q(std::string(rawValue(allKinds[index]))));
        chip->setTitle(q(title(allKinds[index], language_)));
        connect(chip, &QAbstractButton::clicked, this, [this, kind = allKinds[index]] { chooseKind(kind); });
        grid->addWidget(chip, int(index / 2), int(index % 2));
        chips_.push_back(chip);
    }
    kindCard->contentLayout()->addLayout(grid);
    column->addWidget(kindCard);

    // Fields.
    auto* fieldsCard = new VornGlassCard(14, 14, form);
    fieldsCard->contentLayout()->setSpacing(12);
    auto field = [this](const char* name, const QString& placeholder) {
        auto* edit = new VornGlassInputField(nullptr, 6, 8, 5);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setPlaceholderText(placeholder);
        edit->setMaxLength(4096);
        return edit;
    };
    email_ = field("email", t("you@example.com", "siz@ornek.com"));
    senderName_ = field("senderName", t("Optional", "Opsiyonel"));
    subject_ = field("subject", t("Summarize in one line…", "Konuyu tek cümlede özetleyin…"));
    connect(email_, &QLineEdit::textEdited, this, [this](const QString& text) { state_.email = s(text); changed(); });
    connect(senderName_, &QLineEdit::textEdited, this, [this](const QString& text) {
        state_.senderName = s(text);
        changed();
    });
    connect(subject_, &QLineEdit::textEdited, this, [this](const QString& text) { state_.subject = s(text); changed(); });
    QLabel* label = nullptr;
    auto* identityRow = new QHBoxLayout;
    identityRow->setSpacing(10);
    identityRow->addWidget(labeledField(&label, email_), 1);
    label->setText(t("Your Email *", "E-posta Adresiniz *"));
    identityRow->addWidget(labeledField(&label, senderName_), 1);
    label->setText(t("Name (optional)", "Adınız (opsiyonel)"));
    fieldsCard->contentLayout()->addLayout(identityRow);
    fieldsCard->contentLayout()->addWidget(labeledField(&label, subject_));
    label->setText(t("Short Title *", "Kısa Başlık *"));

    auto* messageFrame = new VornFilledBox(VornGlassTokens::surface1(), 8, VornGlassTokens::borderSubtle());
    auto* frameLayout = new QVBoxLayout(messageFrame);
    frameLayout->setContentsMargins(6, 6, 6, 6);
    message_ = new QPlainTextEdit(messageFrame);
    message_->setObjectName(QStringLiteral("message"));
    message_->setFont(vornFont(13));
    message_->setFrameShape(QFrame::NoFrame);
    message_->setTabChangesFocus(true);
    vornMakeTransparent(message_);
    QPalette messagePalette = message_->palette();
    messagePalette.setColor(QPalette::Text, VornGlassTokens::textPrimary());
    message_->setPalette(messagePalette);
    message_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    message_->setFixedHeight(120 - 12);
    connect(message_, &QPlainTextEdit::textChanged, this, [this] {
        const std::string text = s(message_->toPlainText());
        if (text != state_.message) {
            state_.message = text;
            changed();
        }
    });
    frameLayout->addWidget(message_);
    messageFrame->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fieldsCard->contentLayout()->addWidget(labeledField(&label, messageFrame));
    label->setText(t("Details *", "Detaylar / Fikriniz *"));
    column->addWidget(fieldsCard);

    // Screenshots.
    auto* shotsCard = new VornGlassCard(14, 14, form);
    shotsCard->contentLayout()->setSpacing(10);
    auto* shotsHeader = new QHBoxLayout;
    shotsHeader->setSpacing(8);
    auto* shotsSymbol = new QLabel(shotsCard);
    shotsSymbol->setPixmap(QPixmap::fromImage(VornSymbol::image("photo.on.rectangle.angled", 13, Qt::white)));
    shotsHeader->addWidget(shotsSymbol);
    auto* shotsTitle = vornTextLabel(t("Screenshots (optional, up to 5)", "Ekran Görüntüleri (opsiyonel, en fazla 5)"),
                                     heading, Qt::white, shotsCard);
    shotsTitle->setWordWrap(true);
    shotsHeader->addWidget(shotsTitle, 1);
    auto* paste = new VornGlassButton(t("Paste Clipboard", "Panodan Yapıştır"), false, shotsCard);
    paste->setObjectName(QStringLiteral("pasteClipboard"));
    paste->setSymbol("doc.on.clipboard");
    paste->setLabelFont(vornFont(VornTextStyle::caption, QFont::Medium));
    paste->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(paste, &QAbstractButton::clicked, this, &VornFeedbackSheet::pasteFromClipboard);
    shotsHeader->addWidget(paste);
    auto* choose = new VornGlassButton(t("Choose Image…", "Görsel Seç…"), false, shotsCard);
    choose->setObjectName(QStringLiteral("chooseImage"));
    choose->setSymbol("plus.circle");
    choose->setLabelFont(vornFont(VornTextStyle::caption, QFont::Medium));
    choose->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(choose, &QAbstractButton::clicked, this, &VornFeedbackSheet::pickScreenshotsFromDisk);
    shotsHeader->addWidget(choose);
    shotsCard->contentLayout()->addLayout(shotsHeader);
    statusHint_ = vornTextLabel({}, vornFont(VornTextStyle::caption2), VornGlassTokens::textSecondary(), shotsCard);
    statusHint_->setObjectName(QStringLiteral("statusHint"));
    statusHint_->setWordWrap(true);
    shotsCard->contentLayout()->addWidget(statusHint_);
    tileScroll_ = new QScrollArea(shotsCard);
    tileScroll_->setObjectName(QStringLiteral("screenshotStrip"));
    tileScroll_->setWidgetResizable(true);
    tileScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tileScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tileScroll_->viewport()->installEventFilter(this);
    vornMakeTransparent(tileScroll_);
    auto* strip = new QWidget(tileScroll_);
    tiles_ = new QHBoxLayout(strip);
    tiles_->setContentsMargins(0, 0, 0, 0);
    tiles_->setSpacing(10);
    tiles_->addStretch(1);
    tileScroll_->setWidget(strip);
    shotsCard->contentLayout()->addWidget(tileScroll_);
    column->addWidget(shotsCard);

    // Error banner.
    QColor bannerFill = VornGlassTokens::danger();
    bannerFill.setAlphaF(0.22f);
    errorBanner_ = new VornFilledBox(bannerFill, 10, std::nullopt, form);
    errorBanner_->setObjectName(QStringLiteral("errorBanner"));
    auto* banner = new QHBoxLayout(errorBanner_);
    banner->setContentsMargins(10, 10, 10, 10);
    banner->setSpacing(8);
    auto* warning = new QLabel(errorBanner_);
    warning->setPixmap(QPixmap::fromImage(
        VornSymbol::image("exclamationmark.triangle.fill", 14, VornGlassTokens::warning())));
    banner->addWidget(warning, 0, Qt::AlignTop);
    errorText_ = vornTextLabel({}, vornFont(VornTextStyle::caption), Qt::white, errorBanner_);
    errorText_->setObjectName(QStringLiteral("errorText"));
    errorText_->setWordWrap(true);
    banner->addWidget(errorText_, 1);
    column->addWidget(errorBanner_);

    // Bottom row.
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(10);
    auto* browser = new VornGlassButton(t("Open in Browser", "Tarayıcıda Aç"), false, form);
    browser->setObjectName(QStringLiteral("openInBrowser"));
    browser->setSymbol("safari");
    browser->setLabelFont(vornFont(VornTextStyle::caption, QFont::Medium));
    connect(browser, &QAbstractButton::clicked, this, &VornFeedbackSheet::openInBrowser);
    bottom->addWidget(browser);
    bottom->addStretch(1);
    auto* versionLine = vornTextLabel(q(appName_ + " v" + version_.shortVersion),
                                      vornFont(vornTextStylePoints(VornTextStyle::caption2), QFont::Normal,
                                               VornFontDesign::monospaced),
                                      VornGlassTokens::textMuted(), form);
    versionLine->setObjectName(QStringLiteral("versionLine"));
    bottom->addWidget(versionLine);
    send_ = new VornTintedButton({}, accent, vornFont(VornTextStyle::callout, QFont::DemiBold), form);
    send_->setObjectName(QStringLiteral("sendFeedback"));
    connect(send_, &QAbstractButton::clicked, this, &VornFeedbackSheet::submitFeedback);
    bottom->addWidget(send_);
    column->addLayout(bottom);
    return form;
}

QWidget* VornFeedbackSheet::buildReceiptCard() {
    auto* card = new VornGlassCard(20, 14, this);
    card->setObjectName(QStringLiteral("receiptCard"));
    card->contentLayout()->setSpacing(12);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    auto* seal = new QLabel(card);
    seal->setPixmap(QPixmap::fromImage(VornSymbol::image("checkmark.seal.fill", 22, VornGlassTokens::success())));
    titleRow->addWidget(seal);
    titleRow->addWidget(vornTextLabel(t("Thank you for sharing!", "Zaman ayırıp yazdığınız için teşekkürler!"),
                                      vornFont(VornTextStyle::headline), Qt::white, card),
                        1);
    card->contentLayout()->addLayout(titleRow);
    receiptMessage_ = vornTextLabel({}, vornFont(VornTextStyle::callout), VornGlassTokens::textSecondary(), card);
    receiptMessage_->setObjectName(QStringLiteral("receiptMessage"));
    receiptMessage_->setWordWrap(true);
    card->contentLayout()->addWidget(receiptMessage_);

    auto* badgeRow = new QHBoxLayout;
    badgeRow->setSpacing(10);
    auto* badge = new VornFilledBox(VornGlassTokens::surface2(), 8, std::nullopt, card);
    auto* badgeLayout = new QHBoxLayout(badge);
    badgeLayout->setContentsMargins(10, 5, 10, 5);
    reference_ = vornTextLabel({}, vornFont(vornTextStylePoints(VornTextStyle::caption), QFont::Bold,
                                            VornFontDesign::monospaced),
                               VornGlassTokens::textPrimary(), badge);
    reference_->setObjectName(QStringLiteral("referenceBadge"));
    reference_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    badgeLayout->addWidget(reference_);
    badgeRow->addWidget(badge);
    attachments_ = attachmentsLine(&attachmentsCount_, card);
    attachments_->setObjectName(QStringLiteral("attachmentsLine"));
    badgeRow->addWidget(attachments_);
    badgeRow->addStretch(1);
    card->contentLayout()->addLayout(badgeRow);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    auto* another = new VornGlassButton(t("Send Another Note", "Yeni Bildirim Gönder"), false, card);
    another->setObjectName(QStringLiteral("sendAnotherNote"));
    another->setLabelFont(vornFont(VornTextStyle::caption, QFont::Medium));
    connect(another, &QAbstractButton::clicked, this, &VornFeedbackSheet::sendAnotherNote);
    buttons->addWidget(another);
    buttons->addStretch(1);
    if (onClose_) {
        auto* done = new VornTintedButton(t("Done", "Tamam"), accentColor(palette_),
                                          vornFont(VornTextStyle::callout, QFont::DemiBold), card);
        done->setObjectName(QStringLiteral("doneButton"));
        connect(done, &QAbstractButton::clicked, this, [this] { onClose_(); });
        buttons->addWidget(done);
    }
    card->contentLayout()->addLayout(buttons);
    return card;
}

void VornFeedbackSheet::changed() {
    if (onStateChanged_) {
        onStateChanged_();
    }
}

void VornFeedbackSheet::sync() {
    const bool showReceipt = state_.receipt.has_value();
    form_->setVisible(!showReceipt);
    receiptCard_->setVisible(showReceipt);
    for (VornFeedbackKindChip* chip : chips_) {
        chip->setSelected(chip->kind() == state_.kind);
    }
    // Only text that differs is written back, so typing never moves the cursor.
    if (s(email_->text()) != state_.email) {
        email_->setText(q(state_.email));
    }
    if (s(senderName_->text()) != state_.senderName) {
        senderName_->setText(q(state_.senderName));
    }
    if (s(subject_->text()) != state_.subject) {
        subject_->setText(q(state_.subject));
    }
    if (s(message_->toPlainText()) != state_.message) {
        message_->setPlainText(q(state_.message));
    }
    statusHint_->setVisible(state_.statusHint.has_value());
    statusHint_->setText(q(state_.statusHint.value_or(std::string())));
    errorBanner_->setVisible(state_.errorMessage.has_value());
    errorText_->setText(q(state_.errorMessage.value_or(std::string())));
    send_->setEnabled(!state_.isSubmitting);
    send_->setBusy(state_.isSubmitting);
    send_->setLabel(state_.isSubmitting ? t("Sending…", "Gönderiliyor…") : t("Send Feedback", "Geri Bildirimi Gönder"));
    if (state_.receipt) {
        receiptMessage_->setText(q(state_.receipt->message));
        reference_->setText(t("Reference", "Takip Kodu") + QStringLiteral(": ") + q(state_.receipt->referenceCode));
        attachments_->setVisible(state_.receipt->attachmentsCount >= 1);
        attachmentsCount_->setText(QString::number(state_.receipt->attachmentsCount));
        attachments_->setAccessibleName(QStringLiteral("📷 ") + QString::number(state_.receipt->attachmentsCount));
    }
    changed();
}

void VornFeedbackSheet::rebuildTiles() {
    while (tiles_->count() > 1) {
        QLayoutItem* item = tiles_->takeAt(0);
        delete item->widget();
        delete item;
    }
    int index = 0;
    for (const VornFeedbackScreenshot& screenshot : state_.screenshots) {
        auto* tile = new ScreenshotTile(screenshot, [this, id = screenshot.id] { removeScreenshot(id); },
                                        tileScroll_->widget());
        tiles_->insertWidget(index++, tile);
    }
    tileScroll_->setVisible(!state_.screenshots.empty());
    if (!state_.screenshots.empty()) {
        tileScroll_->setFixedHeight(tiles_->itemAt(0)->widget()->sizeHint().height());
    }
}

void VornFeedbackSheet::chooseKind(VornFeedbackKind kind) {
    state_.kind = kind;
    sync();
}

void VornFeedbackSheet::pasteFromClipboard() {
    state_.errorMessage.reset();
    if (state_.screenshots.size() >= VornFeedbackService::maxScreenshots) {
        state_.errorMessage = tooManyText();
        sync();
        return;
    }
    std::optional<VornFeedbackScreenshot> screenshot = vornReadScreenshotFromClipboard();
    if (!screenshot) {
        state_.statusHint = s(t("No image found on the clipboard right now. Take a screenshot first, then click Paste.",
                                "Panoda görsel bulunamadı. Önce ekran görüntüsü alıp ardından Panodan Yapıştır'a "
                                "tıklayın."));
        sync();
        return;
    }
    if (screenshot->data.size() > VornFeedbackService::maxScreenshotBytes) {
        state_.errorMessage = VornFeedbackError::screenshotTooLarge(5).errorDescription();
        sync();
        return;
    }
    state_.screenshots.push_back(std::move(*screenshot));
    state_.statusHint = s(t("Screenshot pasted from clipboard.", "Panodaki ekran görüntüsü eklendi."));
    rebuildTiles();
    sync();
}

void VornFeedbackSheet::pickScreenshotsFromDisk() {
    state_.errorMessage.reset();
    sync();
    const std::optional<QStringList> chosen = chooser_ ? chooser_(this, t("Choose Image…", "Görsel Seç…")) : std::nullopt;
    if (!chosen) {
        return;
    }
    addScreenshotFiles(*chosen);
}

void VornFeedbackSheet::addScreenshotFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        if (state_.screenshots.size() >= VornFeedbackService::maxScreenshots) {
            state_.errorMessage = tooManyText();
            break;
        }
        // The size is checked on the open file before a byte is read, so a huge file never comes
        // into memory; a FIFO or device in a file's place is refused without blocking.
        std::error_code error;
        std::optional<std::string> data =
            vornReadFileCapped(std::filesystem::path(QFile::encodeName(path).toStdString()),
                               VornFeedbackService::maxScreenshotBytes, error);
        if (error == std::errc::file_too_large) {
            state_.errorMessage = vornText("Each screenshot must be smaller than 5 MB.",
                                           "Her ekran görüntüsü en fazla 5 MB olabilir.", std::nullopt,
                                           VornLanguage::current());
            continue;
        }
        if (!data || data->empty()) {
            continue;
        }
        state_.screenshots.push_back(
            {VornUUID::random(), s(QFileInfo(path).fileName()), mimeTypeFor(path), std::move(*data)});
    }
    rebuildTiles();
    sync();
}

void VornFeedbackSheet::removeScreenshot(const VornUUID& id) {
    std::erase_if(state_.screenshots, [&id](const VornFeedbackScreenshot& screenshot) { return screenshot.id == id; });
    // The tile whose button called here is deleted later, once its click has returned.
    QMetaObject::invokeMethod(this, [this] { rebuildTiles(); }, Qt::QueuedConnection);
    sync();
}

void VornFeedbackSheet::submitFeedback() {
    if (state_.isSubmitting) {
        return;
    }
    state_.errorMessage.reset();
    state_.isSubmitting = true;
    sync();
    if (submission_->worker.joinable()) {
        submission_->worker.join();  // the previous submission has already reported
    }
    submission_->worker = std::jthread([this, appName = appName_, version = version_, kind = state_.kind, email = state_.email,
                            senderName = state_.senderName, subject = state_.subject, message = state_.message,
                            screenshots = state_.screenshots, language = language_, baseURL = baseURL_,
                            session = session_](std::stop_token stop) {
        std::optional<VornFeedbackReceipt> receipt;
        std::string failure;
        try {
            receipt = VornFeedbackService::submit(appName, version, kind, email, senderName, subject, message,
                                                  screenshots, language, baseURL, session, stop);
        } catch (const VornTaskCancelled&) {
            return;  // the sheet is closing
        } catch (const VornFeedbackError& error) {
            failure = error.errorDescription(VornLanguage::current());
        } catch (const std::exception& error) {
            failure = error.what();
        }
        QMetaObject::invokeMethod(
            this,
            [this, receipt = std::move(receipt), failure = std::move(failure)] {
                state_.isSubmitting = false;
                if (receipt) {
                    state_.receipt = receipt;
                } else {
                    state_.errorMessage = failure;
                }
                sync();
                if (onSubmissionFinished_) {
                    onSubmissionFinished_();
                }
            },
            Qt::QueuedConnection);
    });
}

void VornFeedbackSheet::sendAnotherNote() {
    state_.receipt.reset();
    state_.subject.clear();
    state_.message.clear();
    state_.screenshots.clear();
    state_.errorMessage.reset();
    rebuildTiles();
    sync();
}

void VornFeedbackSheet::openInBrowser() {
    VornFeedbackService::openInBrowser(appName_, version_, state_.kind, language_, baseURL_);
}

void VornFeedbackSheet::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    vornPaintGround(painter, QRectF(rect()), palette_);
}

bool VornFeedbackSheet::eventFilter(QObject* watched, QEvent* event) {
    // The strip has no scroll bar: a mouse wheel turned over it moves it sideways.
    if (watched == tileScroll_->viewport() && event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint delta = wheel->angleDelta();
        const int step = delta.x() != 0 ? delta.x() : delta.y();
        QScrollBar* bar = tileScroll_->horizontalScrollBar();
        bar->setValue(bar->value() - step / 2);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void VornFeedbackSheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        // Escape closes only where there is a close action; it is taken either way so that a host
        // dialog does not close the sheet behind the user's back.
        if (onClose_) {
            onClose_();
        }
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
