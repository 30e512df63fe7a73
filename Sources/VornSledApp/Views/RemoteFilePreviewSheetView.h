#pragma once

#include "PreviewEditorText.h"
#include "SledPreviewImage.h"
#include "SledViewModel.h"

#include <QColor>
#include <QDialog>
#include <QImage>
#include <QPixmap>

#include <memory>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;
class SledMiddleElidedLabel;
class SledPreviewBadge;
class SledPreviewImageView;
class VornGlassButton;
class VornPrimaryButton;
class VornSpinner;

// The remote file preview: a window-modal sheet made afresh for each presentation, showing the
// model's preview state (loading, error, text, image or hex dump) with its size and SHA-256, and for
// a text read whole an inline editor saved back through the model. The editor gives back exactly
// the bytes it was given where the user changed nothing, and closing it with unsaved changes asks
// first.
class RemoteFilePreviewSheetView : public QDialog {
public:
    explicit RemoteFilePreviewSheetView(SledViewModel& viewModel, QWidget* parent = nullptr);

    static constexpr QSize sheetSize{760, 560};

    // The editor's state: whether the editor shows, and the bytes it holds.
    bool isEditing() const { return isEditing_; }
    const std::string& draftText() const { return draftText_; }
    // The draft differs from the previewed text.
    bool hasUnsavedChanges() const;

    // What the body shows.
    enum class Body { loading, error, result, nothing };
    Body body() const;

    // The pieces, for tests and the screenshots.
    SledMiddleElidedLabel* titleLabel() const { return title_; }
    SledMiddleElidedLabel* subtitleLabel() const { return subtitle_; }
    QLabel* errorLabel() const { return errorText_; }
    QLabel* loadingLabel() const { return loadingText_; }
    QLabel* infoLabel() const { return info_; }
    SledPreviewBadge* editBadge() const { return badge_; }
    QPlainTextEdit* textView() const { return textView_; }
    QPlainTextEdit* editor() const { return editor_; }
    SledPreviewImageView* imageView() const { return imageView_; }
    QLabel* dimensionLabel() const { return dimensions_; }
    QLabel* binaryHeading() const { return binaryHeading_; }
    QPlainTextEdit* hexView() const { return hexView_; }
    QLabel* hashLabel() const { return hashText_; }
    // Why the last save was refused, shown over the action bar while editing.
    QLabel* saveRefusalLabel() const { return saveRefusal_; }
    QWidget* actionBar() const { return actionBar_; }
    VornGlassButton* closeButton() const { return close_; }
    VornGlassButton* discardButton() const { return discard_; }
    VornPrimaryButton* saveButton() const { return save_; }
    VornGlassButton* copyHashButton() const { return copyHash_; }
    VornGlassButton* copyTextButton() const { return copyText_; }
    VornPrimaryButton* editButton() const { return edit_; }

    // The buttons' actions, as a click runs them.
    void startEditing();
    void discardEdit();
    void saveEdit();
    // The hash label's text for a digest: its first 20 characters and "…".
    static QString hashLabelText(const std::string& sha256Hex);

    // Closes without asking; for the model's flag turning false.
    void closeDiscardingEdits();

    // Escape, the close button and the window's close: asks before unsaved changes are dropped.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void retranslate();
    void syncBody();
    void syncResult();
    void syncEditor();
    void syncBadge();
    void syncSaving();
    void syncSaveRefusal();
    void onEditorChanged();
    const SledPreviewPayload::Text* textPayload() const;

    SledViewModel& model_;
    QColor accent_;
    bool isEditing_ = false;
    std::string draftText_;
    // The text the editor was loaded from, with the file's line breaks.
    std::optional<PreviewEditorText> editorSource_;
    bool loadingEditor_ = false;
    bool closingWithoutQuestion_ = false;
    // The digest of the contents the payload widgets show.
    std::optional<std::string> shownDigest_;

    SledMiddleElidedLabel* title_ = nullptr;
    SledMiddleElidedLabel* subtitle_ = nullptr;
    VornGlassButton* close_ = nullptr;
    QStackedWidget* body_ = nullptr;
    QWidget* loadingPage_ = nullptr;
    VornSpinner* loadingSpinner_ = nullptr;
    QLabel* loadingText_ = nullptr;
    QWidget* errorPage_ = nullptr;
    QLabel* errorText_ = nullptr;
    QWidget* resultPage_ = nullptr;
    QWidget* emptyPage_ = nullptr;
    QStackedWidget* payload_ = nullptr;
    QWidget* textPage_ = nullptr;
    QLabel* info_ = nullptr;
    SledPreviewBadge* badge_ = nullptr;
    QStackedWidget* textStack_ = nullptr;
    QPlainTextEdit* textView_ = nullptr;
    QWidget* editorFrame_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    QWidget* imagePage_ = nullptr;
    QLabel* dimensions_ = nullptr;
    SledPreviewImageView* imageView_ = nullptr;
    QWidget* binaryPage_ = nullptr;
    QLabel* binaryHeading_ = nullptr;
    QPlainTextEdit* hexView_ = nullptr;
    QWidget* actionBar_ = nullptr;
    QLabel* hashText_ = nullptr;
    QLabel* saveRefusal_ = nullptr;
    VornGlassButton* discard_ = nullptr;
    VornPrimaryButton* save_ = nullptr;
    VornSpinner* saveSpinner_ = nullptr;
    VornGlassButton* copyHash_ = nullptr;
    VornGlassButton* copyText_ = nullptr;
    VornPrimaryButton* edit_ = nullptr;
};

// A one-line label that shortens its text (in the middle, or where asked) to fit its width.
class SledMiddleElidedLabel : public QWidget {
public:
    SledMiddleElidedLabel(const QColor& color, const QFont& font, Qt::TextElideMode mode = Qt::ElideMiddle,
                          QWidget* parent = nullptr);
    QString text() const { return text_; }
    void setText(const QString& text);
    // The text as drawn at the current width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_;
    Qt::TextElideMode mode_;
};

// The edit badge: a short bold text on a surface2 capsule, in its own colour.
class SledPreviewBadge : public QWidget {
public:
    explicit SledPreviewBadge(QWidget* parent = nullptr);
    QString text() const { return text_; }
    QColor color() const { return color_; }
    void set(const QString& text, const QColor& color);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_;
};

// A decoded image scaled to fit with its aspect ratio kept, padded 8, on black at 0.28 in a
// rounded rectangle. The scaled copy is made once per size, not on every paint.
class SledPreviewImageView : public QWidget {
public:
    explicit SledPreviewImageView(QWidget* parent = nullptr);
    const QImage& image() const { return image_; }
    void setImage(QImage image);
    // Where the image is drawn inside the widget.
    QRectF imageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    QPixmap scaled_;
};
