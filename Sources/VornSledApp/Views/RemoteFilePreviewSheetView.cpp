#include "RemoteFilePreviewSheetView.h"

#include "SledChrome.h"
#include "VornBrandMark.h"
#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornPalette.h"
#include "VornSpinner.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// A rounded rectangle of a fixed fill with an optional border drawn inside its edge; the ground of
// the text, editor, image and dump areas.
class PanelFrame : public QWidget {
public:
    PanelFrame(QColor fill, QColor border, double borderWidth, QWidget* parent)
        : QWidget(parent), fill_(fill), border_(border), borderWidth_(borderWidth) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds(rect());
        painter.fillPath(vornRoundedRectPath(bounds, 10), fill_);
        if (borderWidth_ > 0) {
            const double inset = borderWidth_ / 2;
            painter.setPen(QPen(border_, borderWidth_));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(vornRoundedRectPath(bounds.adjusted(inset, inset, -inset, -inset), 10 - inset));
        }
    }

private:
    QColor fill_;
    QColor border_;
    double borderWidth_;
};

QColor blackAt(double opacity) {
    return QColor::fromRgbF(0, 0, 0, static_cast<float>(opacity));
}

// A plain-text area on a frame: transparent, no frame of its own, primary text in `font`.
QPlainTextEdit* textArea(QWidget* parent, const QFont& font, bool readOnly, QPlainTextEdit::LineWrapMode wrap) {
    auto* area = new QPlainTextEdit(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setFont(font);
    area->setReadOnly(readOnly);
    area->setLineWrapMode(wrap);
    area->setTabChangesFocus(false);
    area->setUndoRedoEnabled(!readOnly);
    if (readOnly) {
        area->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    QPalette palette = area->palette();
    palette.setColor(QPalette::Text, VornGlassTokens::textPrimary());
    palette.setColor(QPalette::Base, Qt::transparent);
    area->setPalette(palette);
    vornMakeTransparent(area);
    return area;
}

// A frame holding one text area, padded as the design asks.
QWidget* framed(QWidget* parent, QWidget* content, QColor fill, QColor border, double borderWidth, int padding) {
    auto* frame = new PanelFrame(fill, border, borderWidth, parent);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(padding, padding, padding, padding);
    content->setParent(frame);
    layout->addWidget(content);
    return frame;
}

}  // namespace

// --- Small pieces ----------------------------------------------------------------------------------

SledMiddleElidedLabel::SledMiddleElidedLabel(const QColor& color, const QFont& font, Qt::TextElideMode mode,
                                             QWidget* parent)
    : QWidget(parent), color_(color), mode_(mode) {
    setFont(font);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void SledMiddleElidedLabel::setText(const QString& text) {
    if (text != text_) {
        text_ = text;
        updateGeometry();
        update();
    }
}

QString SledMiddleElidedLabel::shownText() const {
    return QFontMetricsF(font()).elidedText(text_, mode_, width());
}

QSize SledMiddleElidedLabel::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSizeF(metrics.horizontalAdvance(text_) + 1, metrics.height()).toSize();
}

QSize SledMiddleElidedLabel::minimumSizeHint() const {
    return QSize(0, sizeHint().height());
}

void SledMiddleElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(color_);
    painter.setFont(font());
    painter.drawText(QRectF(rect()), Qt::AlignVCenter | Qt::AlignLeading, shownText());
}

SledPreviewBadge::SledPreviewBadge(QWidget* parent) : QWidget(parent) {
    setFont(vornFont(VornTextStyle::caption2, QFont::Bold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SledPreviewBadge::set(const QString& text, const QColor& color) {
    if (text != text_ || color != color_) {
        text_ = text;
        color_ = color;
        updateGeometry();
        update();
    }
}

QSize SledPreviewBadge::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSizeF(metrics.horizontalAdvance(text_) + 16 + 1, metrics.height() + 4).toSize();
}

void SledPreviewBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(vornCapsulePath(QRectF(rect())), VornGlassTokens::surface2());
    painter.setPen(color_);
    painter.setFont(font());
    painter.drawText(QRectF(rect()), Qt::AlignCenter, text_);
}

SledPreviewImageView::SledPreviewImageView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void SledPreviewImageView::setImage(QImage image) {
    image_ = std::move(image);
    scaled_ = QPixmap();
    update();
}

QRectF SledPreviewImageView::imageRect() const {
    const QRectF area = QRectF(rect()).adjusted(8, 8, -8, -8);
    if (image_.isNull() || area.isEmpty()) {
        return {};
    }
    QSizeF size = QSizeF(image_.size()).scaled(area.size(), Qt::KeepAspectRatio);
    return QRectF(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2, size.width(),
                  size.height());
}

void SledPreviewImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(vornRoundedRectPath(QRectF(rect()), 10), blackAt(0.28));
    const QRectF target = imageRect();
    if (target.isEmpty()) {
        return;
    }
    const QSize pixels = target.size().toSize();
    if (scaled_.size() != pixels) {
        scaled_ = QPixmap::fromImage(image_.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    painter.drawPixmap(target.topLeft(), scaled_);
}

// --- Sheet -----------------------------------------------------------------------------------------

RemoteFilePreviewSheetView::RemoteFilePreviewSheetView(SledViewModel& viewModel, QWidget* parent)
    : QDialog(parent), model_(viewModel), accent_(accentColor(VornProductPalette::deepCoral)) {
    setObjectName(QStringLiteral("remoteFilePreviewSheet"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(sheetSize);
    buildLayout();
    connect(&model_, &SledViewModel::languageChanged, this, &RemoteFilePreviewSheetView::retranslate);
    connect(&model_, &SledViewModel::isLoadingPreviewChanged, this, &RemoteFilePreviewSheetView::syncBody);
    connect(&model_, &SledViewModel::previewErrorChanged, this, &RemoteFilePreviewSheetView::syncBody);
    connect(&model_, &SledViewModel::previewResultChanged, this, &RemoteFilePreviewSheetView::syncResult);
    connect(&model_, &SledViewModel::isSavingPreviewEditChanged, this, &RemoteFilePreviewSheetView::syncSaving);
    connect(&model_, &SledViewModel::previewSaveErrorChanged, this, &RemoteFilePreviewSheetView::syncSaveRefusal);
    retranslate();
    syncResult();
    syncSaving();
}

void RemoteFilePreviewSheetView::buildLayout() {
    const auto [ground, column] = sledSheetPage(this, 18, 12);

    auto* header = new QHBoxLayout();
    header->addWidget(new VornBrandMark(20, VornBrandMarkStyle::currentApp(), ground));
    auto* titles = new QVBoxLayout();
    titles->setSpacing(1);
    title_ = new SledMiddleElidedLabel(VornGlassTokens::textPrimary(), vornFont(15, QFont::Bold, VornFontDesign::rounded),
                                       Qt::ElideRight, ground);
    titles->addWidget(title_);
    subtitle_ = new SledMiddleElidedLabel(
        VornGlassTokens::textSecondary(),
        vornFont(vornTextStylePoints(VornTextStyle::caption2), QFont::Normal, VornFontDesign::monospaced),
        Qt::ElideMiddle, ground);
    titles->addWidget(subtitle_);
    header->addLayout(titles, 1);
    close_ = new VornGlassButton(QString(), false, ground);
    close_->setSymbol("xmark");
    connect(close_, &QAbstractButton::clicked, this, &QDialog::reject);
    header->addWidget(close_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    body_ = new QStackedWidget(ground);
    column->addWidget(body_, 1);

    // Loading.
    const SledBusyPage loading = sledBusyPage(body_);
    loadingPage_ = loading.page;
    loadingSpinner_ = loading.spinner;
    loadingText_ = loading.text;
    body_->addWidget(loadingPage_);

    // Error.
    errorPage_ = new QWidget(body_);
    auto* error = new QVBoxLayout(errorPage_);
    error->setSpacing(8);
    error->addStretch(1);
    auto* warning = new QLabel(errorPage_);
    warning->setPixmap(QPixmap::fromImage(VornSymbol::image(
        "exclamationmark.triangle.fill", static_cast<int>(vornTextStylePoints(VornTextStyle::title)), VornGlassTokens::warning())));
    error->addWidget(warning, 0, Qt::AlignHCenter);
    errorText_ = sledLabel(VornGlassTokens::textPrimary(), vornFont(VornTextStyle::callout), errorPage_);
    errorText_->setAlignment(Qt::AlignHCenter);
    errorText_->setWordWrap(true);
    error->addWidget(errorText_);
    error->addStretch(1);
    body_->addWidget(errorPage_);

    // Nothing to show.
    emptyPage_ = new QWidget(body_);
    body_->addWidget(emptyPage_);

    // The result: its payload and the action bar.
    resultPage_ = new QWidget(body_);
    auto* result = new QVBoxLayout(resultPage_);
    result->setContentsMargins(0, 0, 0, 0);
    result->setSpacing(12);
    payload_ = new QStackedWidget(resultPage_);
    result->addWidget(payload_, 1);

    textPage_ = new QWidget(payload_);
    auto* text = new QVBoxLayout(textPage_);
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(6);
    auto* infoRow = new QHBoxLayout();
    info_ = sledLabel(accent_, vornFont(VornTextStyle::caption2, QFont::DemiBold), textPage_);
    infoRow->addWidget(info_);
    infoRow->addStretch(1);
    badge_ = new SledPreviewBadge(textPage_);
    infoRow->addWidget(badge_);
    text->addLayout(infoRow);
    textStack_ = new QStackedWidget(textPage_);
    textView_ = textArea(nullptr, vornFont(12, QFont::Normal, VornFontDesign::monospaced), true, QPlainTextEdit::NoWrap);
    textStack_->addWidget(framed(textStack_, textView_, blackAt(0.32), VornGlassTokens::borderSubtle(), 1, 10));
    editor_ = textArea(nullptr, vornFont(12, QFont::Normal, VornFontDesign::monospaced), false, QPlainTextEdit::NoWrap);
    QColor editorBorder = accent_;
    editorBorder.setAlphaF(0.65f);
    editorFrame_ = framed(textStack_, editor_, blackAt(0.42), editorBorder, 1.2, 8);
    textStack_->addWidget(editorFrame_);
    connect(editor_, &QPlainTextEdit::textChanged, this, &RemoteFilePreviewSheetView::onEditorChanged);
    text->addWidget(textStack_, 1);
    payload_->addWidget(textPage_);

    imagePage_ = new QWidget(payload_);
    auto* image = new QVBoxLayout(imagePage_);
    image->setContentsMargins(0, 0, 0, 0);
    image->setSpacing(8);
    dimensions_ = sledLabel(accent_, vornFont(vornTextStylePoints(VornTextStyle::caption), QFont::Normal,
                                              VornFontDesign::monospaced),
                            imagePage_);
    image->addWidget(dimensions_, 0, Qt::AlignHCenter);
    imageView_ = new SledPreviewImageView(imagePage_);
    image->addWidget(imageView_, 1);
    payload_->addWidget(imagePage_);

    binaryPage_ = new QWidget(payload_);
    auto* binary = new QVBoxLayout(binaryPage_);
    binary->setContentsMargins(0, 0, 0, 0);
    binary->setSpacing(6);
    binaryHeading_ = sledLabel(accent_, vornFont(VornTextStyle::caption, QFont::DemiBold), binaryPage_);
    binary->addWidget(binaryHeading_);
    hexView_ = textArea(nullptr, vornFont(11.5, QFont::Normal, VornFontDesign::monospaced), true,
                        QPlainTextEdit::WidgetWidth);
    hexView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    binary->addWidget(framed(binaryPage_, hexView_, blackAt(0.32), VornGlassTokens::borderSubtle(), 1, 10), 1);
    payload_->addWidget(binaryPage_);

    // A refused save keeps the draft in the editor and says why right above the buttons.
    saveRefusal_ = sledLabel(VornGlassTokens::warning(), vornFont(VornTextStyle::caption, QFont::DemiBold), resultPage_);
    saveRefusal_->setWordWrap(true);
    saveRefusal_->hide();
    result->addWidget(saveRefusal_);

    actionBar_ = new QWidget(resultPage_);
    auto* actions = new QHBoxLayout(actionBar_);
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(10);
    const QFont hashFont = vornFont(vornTextStylePoints(VornTextStyle::caption), QFont::Normal, VornFontDesign::monospaced);
    auto* hashRow = new QHBoxLayout();
    hashRow->setSpacing(4);
    auto* shield = new QLabel(actionBar_);
    shield->setPixmap(QPixmap::fromImage(VornSymbol::image("checkmark.shield.fill", 12, VornGlassTokens::success())));
    hashRow->addWidget(shield);
    hashText_ = sledLabel(VornGlassTokens::success(), hashFont, actionBar_);
    hashRow->addWidget(hashText_);
    actions->addLayout(hashRow);
    actions->addStretch(1);
    discard_ = new VornGlassButton(QString(), false, actionBar_);
    connect(discard_, &QAbstractButton::clicked, this, &RemoteFilePreviewSheetView::discardEdit);
    actions->addWidget(discard_);
    save_ = new VornPrimaryButton(QString(), actionBar_);
    connect(save_, &QAbstractButton::clicked, this, &RemoteFilePreviewSheetView::saveEdit);
    saveSpinner_ = new VornSpinner(12, save_);
    saveSpinner_->setColor(QColor(0x1A, 0x12, 0x1C));
    saveSpinner_->hide();
    actions->addWidget(save_);
    copyHash_ = new VornGlassButton(QString(), false, actionBar_);
    copyHash_->setSymbol("doc.on.doc");
    connect(copyHash_, &QAbstractButton::clicked, this, [this] {
        if (const auto& result = model_.previewResult()) {
            model_.copyText(result->sha256Hex, "SHA-256");
        }
    });
    actions->addWidget(copyHash_);
    copyText_ = new VornGlassButton(QString(), false, actionBar_);
    copyText_->setSymbol("doc.on.clipboard");
    connect(copyText_, &QAbstractButton::clicked, this, [this] {
        // The file's text as previewed, never the draft.
        if (const SledPreviewPayload::Text* text = textPayload()) {
            model_.copyText(text->content, model_.t("Text", "Metin"));
        }
    });
    actions->addWidget(copyText_);
    edit_ = new VornPrimaryButton(QString(), actionBar_);
    edit_->setSymbol("pencil");
    connect(edit_, &QAbstractButton::clicked, this, &RemoteFilePreviewSheetView::startEditing);
    actions->addWidget(edit_);
    result->addWidget(actionBar_);
    body_->addWidget(resultPage_);
}

QString RemoteFilePreviewSheetView::hashLabelText(const std::string& sha256Hex) {
    return QStringLiteral("SHA-256: ") + q(sha256Hex.substr(0, 20)) + QChar(0x2026);
}

const SledPreviewPayload::Text* RemoteFilePreviewSheetView::textPayload() const {
    const auto& result = model_.previewResult();
    return result ? result->payload.asText() : nullptr;
}

bool RemoteFilePreviewSheetView::hasUnsavedChanges() const {
    const SledPreviewPayload::Text* text = textPayload();
    return isEditing_ && (text == nullptr || draftText_ != text->content);
}

RemoteFilePreviewSheetView::Body RemoteFilePreviewSheetView::body() const {
    if (model_.isLoadingPreview()) {
        return Body::loading;
    }
    if (model_.previewError()) {
        return Body::error;
    }
    if (model_.previewResult()) {
        return Body::result;
    }
    return Body::nothing;
}

void RemoteFilePreviewSheetView::retranslate() {
    const VornLanguage language = model_.language();
    auto t = [language](const char* en, const char* tr) { return vornQText(en, tr, language); };
    close_->setAccessibleName(t("Close", "Kapat"));
    loadingText_->setText(t("Fetching preview & computing SHA-256\u2026", "Önizleme alınıyor ve SHA-256 hesaplanıyor\u2026"));
    binaryHeading_->setText(t("Binary File \u2022 First 256 Bytes (Hex + ASCII)", "İkili Dosya \u2022 İlk 256 Bayt (Hex + ASCII)"));
    discard_->setLabel(t("Discard", "Vazgeç"));
    copyHash_->setLabel(t("Copy SHA-256", "SHA-256 Kopyala"));
    copyText_->setLabel(t("Copy Text", "Metni Kopyala"));
    edit_->setLabel(t("Edit File", "Dosyayı Düzenle"));
    vornApplyContentLayoutDirection(this, language);
    syncResult();
    syncSaving();
}

void RemoteFilePreviewSheetView::syncBody() {
    const Body shown = body();
    switch (shown) {
    case Body::loading: body_->setCurrentWidget(loadingPage_); break;
    case Body::error: body_->setCurrentWidget(errorPage_); break;
    case Body::result: body_->setCurrentWidget(resultPage_); break;
    case Body::nothing: body_->setCurrentWidget(emptyPage_); break;
    }
    if (shown == Body::loading) {
        loadingSpinner_->start();
    } else {
        loadingSpinner_->stop();
    }
    errorText_->setText(q(model_.previewError().value_or(std::string())));
}

void RemoteFilePreviewSheetView::syncResult() {
    const VornLanguage language = model_.language();
    const auto& result = model_.previewResult();
    const QString fallbackTitle = vornQText("File Preview", "Dosya Önizleme", language);
    title_->setText(result ? sledOneLine(q(result->fileName)) : fallbackTitle);
    setWindowTitle(title_->text());
    subtitle_->setVisible(result.has_value());
    if (result) {
        const std::string separator = " \u2022 ";
        subtitle_->setText(sledOneLine(q(result->sourceName + separator + VornByteFormatter::format(result->sizeBytes) +
                                         separator + result->fullPath)));
        hashText_->setText(hashLabelText(result->sha256Hex));
        // The payload's widgets are filled once per file contents (a language change redraws only
        // the texts around them).
        const bool fresh = shownDigest_ != result->sha256Hex;
        shownDigest_ = result->sha256Hex;
        if (const SledPreviewPayload::Text* text = result->payload.asText()) {
            const std::string count = std::to_string(text->lineCount);
            std::string en = "Text / Code (" + count + " lines)";
            std::string tr = "Metin / Kod (" + count + " satır)";
            if (text->isTruncated) {
                en += " \u2022 read-only (truncated at 512 KB)";
                tr += " \u2022 salt okunur (ilk 512 KB)";
            }
            info_->setText(vornQText(en, tr, language));
            if (fresh) {
                textView_->setPlainText(q(text->content));
            }
            payload_->setCurrentWidget(textPage_);
        } else if (const SledPreviewPayload::Image* image = result->payload.asImage()) {
            dimensions_->setText(QString::number(image->width) + QString::fromUtf8(" \u00D7 ") +
                                 QString::number(image->height) + QStringLiteral(" px"));
            if (fresh) {
                imageView_->setImage(sledDecodePreviewImage(image->data));
            }
            // Data that does not decode shows only its dimension line.
            imageView_->setVisible(!imageView_->image().isNull());
            payload_->setCurrentWidget(imagePage_);
        } else if (const SledPreviewPayload::Binary* binary = result->payload.asBinary(); binary && fresh) {
            hexView_->setPlainText(binary->hexPreview.empty() ? QStringLiteral("(Empty file)") : q(binary->hexPreview));
        }
        if (result->payload.kind() == SledPreviewPayload::Kind::binary) {
            payload_->setCurrentWidget(binaryPage_);
        }
    }
    // An edit lives only on a text that was read whole.
    const SledPreviewPayload::Text* text = textPayload();
    if (isEditing_ && (text == nullptr || text->isTruncated)) {
        isEditing_ = false;
    }
    syncBody();
    syncEditor();
}

void RemoteFilePreviewSheetView::syncEditor() {
    const SledPreviewPayload::Text* text = textPayload();
    textStack_->setCurrentWidget(isEditing_ ? editorFrame_ : textView_->parentWidget());
    badge_->setVisible(isEditing_);
    discard_->setVisible(isEditing_);
    save_->setVisible(isEditing_);
    copyHash_->setVisible(!isEditing_);
    copyText_->setVisible(!isEditing_ && text != nullptr);
    edit_->setVisible(!isEditing_ && text != nullptr && !text->isTruncated);
    syncBadge();
    syncSaveRefusal();
}

void RemoteFilePreviewSheetView::syncBadge() {
    const VornLanguage language = model_.language();
    if (hasUnsavedChanges()) {
        badge_->set(vornQText("Unsaved changes", "Kaydedilmemiş değişiklik", language), VornGlassTokens::warning());
    } else {
        badge_->set(vornQText("Edit Mode", "Düzenleme Modu", language), VornGlassTokens::textSecondary());
    }
}

void RemoteFilePreviewSheetView::syncSaving() {
    const bool saving = model_.isSavingPreviewEdit();
    discard_->setEnabled(!saving);
    save_->setEnabled(!saving);
    const VornLanguage language = model_.language();
    if (saving) {
        save_->setSymbol({});
        // Room at the start of the label for the spinner.
        save_->setLabel(QStringLiteral("      ") + vornQText("Uploading & Verifying\u2026", "Yükleniyor ve Doğrulanıyor\u2026", language));
        const QFontMetricsF metrics(save_->labelFont());
        const double textWidth = metrics.horizontalAdvance(save_->label());
        const double start = (save_->sizeHint().width() - textWidth) / 2;
        saveSpinner_->move(static_cast<int>(start), (save_->sizeHint().height() - saveSpinner_->height()) / 2);
        saveSpinner_->show();
        saveSpinner_->start();
    } else {
        saveSpinner_->stop();
        saveSpinner_->hide();
        save_->setSymbol("arrow.up.doc.fill");
        save_->setLabel(vornQText("Save & Verify SHA-256", "Kaydet & SHA-256 Doğrula", language));
    }
}

void RemoteFilePreviewSheetView::onEditorChanged() {
    if (loadingEditor_ || !editorSource_) {
        return;
    }
    draftText_ = editorSource_->fileBytes(editor_->document()->toRawText());
    syncBadge();
}

void RemoteFilePreviewSheetView::startEditing() {
    const SledPreviewPayload::Text* text = textPayload();
    if (isEditing_ || text == nullptr || text->isTruncated) {
        return;
    }
    editorSource_.emplace(text->content);
    loadingEditor_ = true;
    editor_->setPlainText(editorSource_->editorText());
    loadingEditor_ = false;
    // The editor must give back exactly what it was given; a text it would change (characters the
    // document reserves for its own structure) stays read-only rather than be saved altered.
    if (editorSource_->fileBytes(editor_->document()->toRawText()) != text->content) {
        editorSource_.reset();
        editor_->clear();
        model_.showToast(model_.t("This file holds characters the editor cannot keep unchanged, so it stays read-only.",
                                  "Bu dosya editörün değiştirmeden tutamayacağı karakterler içeriyor; salt okunur kalır."),
                         true);
        return;
    }
    draftText_ = text->content;
    isEditing_ = true;
    editor_->moveCursor(QTextCursor::Start);
    syncEditor();
    editor_->setFocus();
}

void RemoteFilePreviewSheetView::syncSaveRefusal() {
    const std::optional<std::string>& refusal = model_.previewSaveError();
    if (refusal) {
        saveRefusal_->setText(q(*refusal));
    }
    saveRefusal_->setVisible(isEditing_ && refusal.has_value());
}

void RemoteFilePreviewSheetView::discardEdit() {
    if (!isEditing_ || model_.isSavingPreviewEdit()) {
        return;
    }
    isEditing_ = false;
    syncEditor();
}

void RemoteFilePreviewSheetView::saveEdit() {
    if (!isEditing_ || model_.isSavingPreviewEdit()) {
        return;
    }
    QPointer<RemoteFilePreviewSheetView> sheet(this);
    model_.saveEditedPreviewText(draftText_, [sheet](bool saved) {
        // The sheet may have closed while the save ran.
        if (sheet && saved) {
            sheet->isEditing_ = false;
            sheet->syncEditor();
        }
    });
}

void RemoteFilePreviewSheetView::closeDiscardingEdits() {
    closingWithoutQuestion_ = true;
    close();
}

void RemoteFilePreviewSheetView::reject() {
    if (!closingWithoutQuestion_ && hasUnsavedChanges()) {
        SledConfirmation* confirmation = model_.confirmation();
        // Without anyone to ask, the edit stays.
        if (confirmation == nullptr ||
            !confirmation->confirm(model_.t("Discard unsaved changes?", "Kaydedilmemiş değişiklikler atılsın mı?"),
                                   model_.t("The edited text has not been saved.", "Düzenlenen metin kaydedilmedi."))) {
            return;
        }
    }
    QDialog::reject();
}

void RemoteFilePreviewSheetView::keyPressEvent(QKeyEvent* event) {
    // Return and Enter never press a button of the sheet.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
