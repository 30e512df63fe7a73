#pragma once

#include "VornAppVersion.h"
#include "VornFeedbackService.h"
#include "VornLanguage.h"
#include "VornPalette.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <memory>
#include <vector>

class QAbstractButton;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QScrollArea;
class VornFeedbackKindChip;
class VornFilledBox;
class VornGlassButton;
class VornGlassCard;
class VornTintedButton;

// The general clipboard's image as a feedback attachment: PNG data as it is, any other image
// re-encoded as PNG; named "clipboard-<seconds since 1970>.png". Nothing when the clipboard holds
// no image. GUI thread only.
std::optional<VornFeedbackScreenshot> vornReadScreenshotFromClipboard();

// What the composer's form holds.
struct VornFeedbackSheetState {
    VornFeedbackKind kind = VornFeedbackKind::feature;
    std::string email;
    std::string senderName;
    std::string subject;
    std::string message;
    std::vector<VornFeedbackScreenshot> screenshots;
    bool isSubmitting = false;
    std::optional<std::string> errorMessage;
    std::optional<std::string> statusHint;
    std::optional<VornFeedbackReceipt> receipt;
};

// The framework's in-app feedback form: kind, e-mail, optional name, a short title, the message and
// up to five screenshots (pasted or chosen from disk), sent through the feedback service off the GUI
// thread; then the server's receipt. A host shows it in a dialog or window of its own; with an
// `onClose` it offers a close button, Escape and "Done". Laid out right to left for Arabic,
// Persian and Hebrew.
class VornFeedbackSheet : public QWidget {
public:
    using OnClose = std::function<void()>;
    // Runs the file chooser; nothing when the user cancelled. Tests pass their own.
    using FileChooser = std::function<std::optional<QStringList>(QWidget* parent, const QString& title)>;

    static constexpr int minimumWidth = 560;
    static constexpr int minimumHeight = 540;

    VornFeedbackSheet(std::string appName, VornAppVersion version, VornProductPalette palette, VornLanguage language,
                      std::optional<std::string> baseURL = std::nullopt, OnClose onClose = {},
                      QWidget* parent = nullptr);
    // Stops a submission still in flight; its result is dropped.
    ~VornFeedbackSheet() override;

    const std::string& appName() const { return appName_; }
    const VornAppVersion& version() const { return version_; }
    VornLanguage language() const { return language_; }
    const std::optional<std::string>& baseURL() const { return baseURL_; }
    const VornFeedbackSheetState& state() const { return state_; }

    void setFileChooser(FileChooser chooser);
    // How submissions are sent (the service's default session unless set).
    void setSession(const VornHTTPOptions& session);

    // The form's actions, as its controls run them.
    void chooseKind(VornFeedbackKind kind);
    void pasteFromClipboard();
    void pickScreenshotsFromDisk();
    void removeScreenshot(const VornUUID& id);
    void submitFeedback();
    void sendAnotherNote();
    void openInBrowser();

    // Called on the GUI thread after any change of the state, and when a submission ended (with
    // the receipt shown or the error banner).
    void setOnStateChanged(std::function<void()> callback) { onStateChanged_ = std::move(callback); }
    void setOnSubmissionFinished(std::function<void()> callback) { onSubmissionFinished_ = std::move(callback); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildHeaderRow();
    QWidget* buildComposerForm();
    QWidget* buildReceiptCard();
    QWidget* labeledField(QLabel** label, QWidget* editor);
    void addScreenshotFiles(const QStringList& paths);
    void rebuildTiles();
    void sync();
    void changed();
    QString t(std::string_view en, std::string_view tr) const;

    std::string appName_;
    VornAppVersion version_;
    VornProductPalette palette_;
    VornLanguage language_;
    std::optional<std::string> baseURL_;
    OnClose onClose_;
    VornFeedbackSheetState state_;
    FileChooser chooser_;
    VornHTTPOptions session_;

    QScrollArea* scroll_ = nullptr;
    QWidget* form_ = nullptr;
    QWidget* receiptCard_ = nullptr;
    std::vector<VornFeedbackKindChip*> chips_;
    QLineEdit* email_ = nullptr;
    QLineEdit* senderName_ = nullptr;
    QLineEdit* subject_ = nullptr;
    QPlainTextEdit* message_ = nullptr;
    QLabel* statusHint_ = nullptr;
    QScrollArea* tileScroll_ = nullptr;
    QHBoxLayout* tiles_ = nullptr;
    VornFilledBox* errorBanner_ = nullptr;
    QLabel* errorText_ = nullptr;
    VornTintedButton* send_ = nullptr;
    QLabel* receiptMessage_ = nullptr;
    QLabel* reference_ = nullptr;
    QWidget* attachments_ = nullptr;
    QLabel* attachmentsCount_ = nullptr;

    std::function<void()> onStateChanged_;
    std::function<void()> onSubmissionFinished_;
    struct Submission;
    std::unique_ptr<Submission> submission_;
};
