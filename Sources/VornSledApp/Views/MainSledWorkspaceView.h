#pragma once

#include "ConnectionProfileSheetView.h"
#include "RemoteFilePreviewSheetView.h"
#include "SledViewModel.h"
#include "SyncPreviewSheetView.h"
#include "VornGroundBackground.h"

#include <QAbstractButton>
#include <QColor>
#include <QPointer>

#include <array>
#include <string>

class QCheckBox;
class QDialog;
class QLabel;
class QStackedWidget;
class QVariantAnimation;

class SledPill;
class SledPlainSymbolButton;
class SledStatusDot;
class VornFeedbackButton;
class VornLanguageMenuButton;
class VornPrimaryButton;
class VornToastBanner;

// One of the toolbar's tab buttons: a symbol and a title; the active one sits on a brighter
// rounded rectangle with an accent border.
class SledTabButton : public QAbstractButton {
public:
    SledTabButton(SledWorkspaceTab tab, std::string symbol, const QColor& accent, QWidget* parent = nullptr);
    SledWorkspaceTab tab() const { return tab_; }
    bool isActive() const { return active_; }
    void setActive(bool active);
    void setTitle(const QString& title);
    QString title() const { return title_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont titleFont() const;
    SledWorkspaceTab tab_;
    std::string symbol_;
    QColor accent_;
    QString title_;
    bool active_ = false;
};

// The main window's content: the toolbar, the active tab's page, the status bar, the toast and
// the sheets bound to the model's flags. Holds no state of its own; everything it shows lives in
// the model and is read again whenever the model reports a change.
class MainSledWorkspaceView : public VornGroundBackground {
public:
    explicit MainSledWorkspaceView(SledViewModel& viewModel, QWidget* parent = nullptr);

    SledViewModel& viewModel() const { return model_; }
    QColor accent() const { return accent_; }

    // The pieces, for tests and the screenshots.
    SledTabButton* tabButton(SledWorkspaceTab tab) const;
    QWidget* page(SledWorkspaceTab tab) const;
    QWidget* currentPage() const;
    VornPrimaryButton* addServerButton() const { return addServer_; }
    VornLanguageMenuButton* languageButton() const { return languageButton_; }
    VornFeedbackButton* feedbackButton() const { return feedbackButton_; }
    QLabel* taglineLabel() const { return tagline_; }
    QLabel* receiverLabel() const { return receiverText_; }
    SledStatusDot* receiverDot() const { return receiverDot_; }
    QLabel* countsLabel() const { return counts_; }
    QCheckBox* verifyToggle() const { return verifyToggle_; }
    SledPlainSymbolButton* streamsButton() const { return streamsButton_; }
    VornToastBanner* toast() const { return toast_; }
    // The open connection editor (null while the model's flag is false).
    ConnectionProfileSheetView* profileSheet() const { return profileSheet_; }
    // The open file preview and sync preview (null while their flags are false).
    RemoteFilePreviewSheetView* previewSheet() const { return previewSheet_; }
    SyncPreviewSheetView* syncSheet() const { return syncSheet_; }

    // What the parallel-streams menu offers.
    static constexpr std::array<std::int64_t, 5> parallelStreamChoices{1, 2, 4, 6, 8};
    // Builds the parallel-streams menu as the button shows it (the caller owns it).
    class QMenu* buildStreamsMenu(QWidget* parent);
    // The two settings of the status bar, written as the user would.
    void setVerifySHA256(bool on);
    void setParallelWorkers(std::int64_t workers);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* makeToolbar();
    QWidget* makeStatusBar();
    void retranslate();
    void syncTab();
    void syncCounts();
    void syncReceiver();
    void syncSettings();
    void syncToast();
    void placeToast();
    void syncProfileSheet();
    void syncPreviewSheet();
    void syncSyncSheet();

    SledViewModel& model_;
    QColor accent_;

    QLabel* tagline_ = nullptr;
    std::array<SledTabButton*, 3> tabButtons_{};
    VornFeedbackButton* feedbackButton_ = nullptr;
    VornLanguageMenuButton* languageButton_ = nullptr;
    VornPrimaryButton* addServer_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    std::array<QWidget*, 3> pageWidgets_{};
    SledStatusDot* receiverDot_ = nullptr;
    QLabel* receiverText_ = nullptr;
    QLabel* counts_ = nullptr;
    QCheckBox* verifyToggle_ = nullptr;
    SledPlainSymbolButton* streamsButton_ = nullptr;
    VornToastBanner* toast_ = nullptr;
    QVariantAnimation* toastAnimation_ = nullptr;
    double toastLift_ = 1.0;
    QPointer<ConnectionProfileSheetView> profileSheet_;
    QPointer<RemoteFilePreviewSheetView> previewSheet_;
    QPointer<SyncPreviewSheetView> syncSheet_;
};
