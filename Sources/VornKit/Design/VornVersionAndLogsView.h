#pragma once

#include "VornAppLogger.h"
#include "VornAppVersion.h"
#include "VornLanguage.h"
#include "VornPalette.h"
#include "VornReleaseLogReader.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QLabel;
class QVBoxLayout;
class VornGlassButton;
class VornSegmentedControl;

// One application's version and build, its release history (the bundle's release log, or the
// given fallback records) and the tail of its rotating runtime log with a level filter, copy,
// reveal and clear. With an `onClose` it is a sheet of its own: the ground, a header with a close
// button, and Escape; without, only the three cards, for embedding.
class VornVersionAndLogsView : public QWidget {
public:
    using OnClose = std::function<void()>;

    static constexpr int entryLimit = 120;
    static constexpr int copyLimit = 250;

    VornVersionAndLogsView(std::string appName, VornAppVersion version, std::shared_ptr<VornAppLogger> logger,
                           VornProductPalette palette, VornLanguage language,
                           std::vector<VornReleaseLogRecord> fallbackReleases = {}, OnClose onClose = {},
                           QWidget* parent = nullptr);

    const std::string& appName() const { return appName_; }
    const std::shared_ptr<VornAppLogger>& logger() const { return logger_; }
    VornLanguage language() const { return language_; }

    // The state the cards show.
    VornLogLevel selectedMinLevel() const { return selectedMinLevel_; }
    const std::vector<VornLogEntry>& entries() const { return entries_; }
    const std::vector<VornReleaseLogRecord>& releases() const { return releases_; }
    bool copiedToast() const { return copiedToast_; }

    // Re-reads the release records and the log entries (also each time the view is shown).
    void reloadAll();
    // The controls' actions.
    void setSelectedMinLevel(VornLogLevel level);
    void refreshEntries();
    void copyEntries();
    void revealLogs();
    void clearLogs();

    // A log row's time: up to 8 characters after the first "T", else the first 8 characters.
    static QString rowTimestamp(std::string_view timestamp);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildVersionCard();
    QWidget* buildReleaseCard();
    QWidget* buildLogsCard();
    QWidget* infoChip(const QString& title, const QString& value, QWidget* parent);
    QWidget* releaseRow(const VornReleaseLogRecord& record, QWidget* parent);
    QWidget* logRow(const VornLogEntry& entry, QWidget* parent);
    void showReleases();
    void showEntries();
    QString t(std::string_view en, std::string_view tr) const;

    std::string appName_;
    VornAppVersion version_;
    std::shared_ptr<VornAppLogger> logger_;
    VornProductPalette palette_;
    VornLanguage language_;
    std::vector<VornReleaseLogRecord> fallbackReleases_;
    OnClose onClose_;

    VornLogLevel selectedMinLevel_ = VornLogLevel::debug;
    std::vector<VornLogEntry> entries_;
    std::vector<VornReleaseLogRecord> releases_;
    bool copiedToast_ = false;

    QVBoxLayout* releaseRows_ = nullptr;
    QLabel* noReleases_ = nullptr;
    QVBoxLayout* logRows_ = nullptr;
    QLabel* noEntries_ = nullptr;
    VornSegmentedControl* levelPicker_ = nullptr;
    VornGlassButton* copy_ = nullptr;
};

// The version badge as a button: a click opens the version-and-logs view as a window-modal sheet
// (at least 720 × 560), made anew each time; optionally the compact feedback button beside it.
class VornVersionBadgeButton : public QWidget {
public:
    // Without a logger the application's shared logger of `appName` is used.
    VornVersionBadgeButton(std::string appName, VornAppVersion version, std::shared_ptr<VornAppLogger> logger,
                           VornProductPalette palette, VornLanguage language, bool showBuild, bool showFeedbackButton,
                           QWidget* parent = nullptr);

    const std::shared_ptr<VornAppLogger>& logger() const { return logger_; }
    // "Version v1.4.2 (57) — Click to view Release History & Logs" (the build always shown).
    QString helpText() const;
    QWidget* badgeButton() const { return badgeButton_; }
    QWidget* feedbackButton() const { return feedbackButton_; }

    bool isPresented() const { return isPresented_; }
    // Opens or closes the sheet.
    void setPresented(bool presented);
    // The open sheet, or null.
    QDialog* sheet() const { return sheet_; }

private:
    std::string appName_;
    VornAppVersion version_;
    std::shared_ptr<VornAppLogger> logger_;
    VornProductPalette palette_;
    VornLanguage language_;
    bool isPresented_ = false;
    QWidget* badgeButton_ = nullptr;
    QWidget* feedbackButton_ = nullptr;
    QPointer<QDialog> sheet_;
};
