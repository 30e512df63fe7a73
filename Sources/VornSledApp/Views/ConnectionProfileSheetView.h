#pragma once

#include "ProfileFormState.h"
#include "SledViewModel.h"

#include <QAbstractButton>
#include <QColor>
#include <QDialog>

#include <array>

class QCheckBox;
class QLabel;
class QStackedWidget;
class VornGlassButton;
class VornGlassInputField;
class VornPrimaryButton;
class VornSegmentedControl;
class VornMessageText;
class VornSpinner;

// One button of the kind selector: the kind's symbol and label on a glass rounded rectangle, the
// chosen one brighter with an accent border.
class SledKindButton : public QAbstractButton {
public:
    SledKindButton(ConnectionProtocolKind kind, const QColor& accent, QWidget* parent = nullptr);
    ConnectionProtocolKind kind() const { return kind_; }
    void setSelected(bool selected);
    bool isSelected() const { return selected_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ConnectionProtocolKind kind_;
    QColor accent_;
    bool selected_ = false;
};

// The connection editor sheet: a window-modal dialog made afresh for each presentation, with the
// form laid out for the chosen kind. Test runs off the GUI thread and a result that arrives after
// the sheet closed is dropped. No button is a default button: Return in a field presses nothing.
class ConnectionProfileSheetView : public QDialog {
public:
    ConnectionProfileSheetView(SledViewModel& viewModel, const std::optional<ConnectionProfile>& existingProfile,
                               QWidget* parent = nullptr);

    const ProfileFormState& form() const { return form_; }

    // The pieces, for tests and the screenshots.
    QLabel* titleLabel() const { return title_; }
    SledKindButton* kindButton(ConnectionProtocolKind kind) const;
    VornGlassInputField* field(const char* name) const;
    VornSegmentedControl* authPicker() const { return authPicker_; }
    QCheckBox* pathStyleToggle() const { return pathStyle_; }
    VornGlassButton* testButton() const { return test_; }
    VornGlassButton* deleteButton() const { return delete_; }
    VornGlassButton* cancelButton() const { return cancel_; }
    VornGlassButton* closeButton() const { return close_; }
    VornPrimaryButton* saveButton() const { return save_; }
    VornMessageText* feedbackLabel() const { return feedbackText_; }
    VornSpinner* testSpinner() const { return testSpinner_; }
    QLabel* secretLabel() const { return secretLabel_; }
    QAbstractButton* browseButton() const;

    void runConnectionTest();
    void save();
    void deleteStoredProfile();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* labeledField(const char* key, QLabel** label, const char* placeholder, std::string ProfileFormState::*text,
                          bool monospaced = true);
    void buildLayout();
    void retranslate();
    void syncFromForm();
    void syncFeedback();
    void chooseKind(ConnectionProtocolKind kind);
    void browseForKey();
    const ConnectionProfile* storedProfile() const;
    bool hasEdits() const;

    SledViewModel& model_;
    ProfileFormState form_;
    QColor accent_;
    bool edited_ = false;
    // A save is waiting for the keyring; the sheet closes only once it succeeded.
    bool saving_ = false;

    QLabel* title_ = nullptr;
    VornGlassButton* close_ = nullptr;
    std::array<SledKindButton*, 4> kindButtons_{};
    QWidget* sftpFields_ = nullptr;
    QWidget* storageFields_ = nullptr;
    QWidget* keyRow_ = nullptr;
    QWidget* passwordRow_ = nullptr;
    QWidget* accountRow_ = nullptr;
    QWidget* endpointRow_ = nullptr;
    VornSegmentedControl* authPicker_ = nullptr;
    QCheckBox* pathStyle_ = nullptr;
    VornGlassButton* browse_ = nullptr;
    QWidget* feedbackRow_ = nullptr;
    QLabel* feedbackIcon_ = nullptr;
    VornMessageText* feedbackText_ = nullptr;
    VornGlassButton* test_ = nullptr;
    VornSpinner* testSpinner_ = nullptr;
    VornGlassButton* delete_ = nullptr;
    VornGlassButton* cancel_ = nullptr;
    VornPrimaryButton* save_ = nullptr;

    // Labels that change with the language or the kind.
    QLabel* nameLabel_ = nullptr;
    QLabel* pathLabel_ = nullptr;
    QLabel* hostLabel_ = nullptr;
    QLabel* portLabel_ = nullptr;
    QLabel* userLabel_ = nullptr;
    QLabel* authLabel_ = nullptr;
    QLabel* keyLabel_ = nullptr;
    QLabel* passwordLabel_ = nullptr;
    QLabel* accountLabel_ = nullptr;
    QLabel* endpointLabel_ = nullptr;
    QLabel* bucketLabel_ = nullptr;
    QLabel* regionLabel_ = nullptr;
    QLabel* accessKeyLabel_ = nullptr;
    QLabel* secretLabel_ = nullptr;
    VornGlassInputField* passwordField_ = nullptr;
    VornGlassInputField* secretField_ = nullptr;
};
