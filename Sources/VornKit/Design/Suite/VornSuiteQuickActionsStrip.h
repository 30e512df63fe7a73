#pragma once

#include "VornLanguage.h"
#include "VornSuiteApp.h"
#include "VornSuiteCommandBus.h"
#include "VornSuiteLiveStatus.h"
#include "VornSuiteViewParts.h"
#include "VornVirtualMemorySummary.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QHBoxLayout;
class QScrollArea;

// A horizontal strip of small capsule buttons through which any application of the suite drives
// three siblings: the memory-offload app, the process killer and the system monitor. Each chip
// sends one suite command (starting the target when needed) and reports the outcome as a short
// text to the owner. The host's own chips and those of siblings that are not installed are left
// out; the counts come from the summary and status the owner passes in.
class VornSuiteQuickActionsStrip : public QWidget {
public:
    using Feedback = std::function<void(const QString&)>;

    // One chip: what it shows and what it sends.
    struct Chip {
        int row = 0;  // its place in the full list of chips, 1…9
        QString title;
        std::string symbol;
        QColor tint;
        bool emphasized = false;
        QString helpText;
        VornSuiteCommandKind kind = VornSuiteCommandKind::quarnSmartOffload;
        VornSuiteApp target = VornSuiteApp::quarn;
        bool bringToFront = false;
        std::string resultEN;
        std::string resultTR;
    };

    VornSuiteQuickActionsStrip(VornSuiteApp currentApp, std::optional<VornVirtualMemorySummary> vmSummary,
                               std::optional<BrakkaLiveStatus> killStatus, VornLanguage language, bool compact = false,
                               Feedback onFeedback = {}, QWidget* parent = nullptr);

    VornSuiteApp currentApp() const { return currentApp_; }
    VornLanguage language() const { return language_; }
    bool isCompact() const { return compact_; }
    void setVMSummary(std::optional<VornVirtualMemorySummary> vmSummary);
    void setKillStatus(std::optional<BrakkaLiveStatus> killStatus);
    void setLanguage(VornLanguage language);
    void setOnFeedback(Feedback onFeedback) { onFeedback_ = std::move(onFeedback); }
    // Looks again at which siblings are installed and rebuilds the chips.
    void refresh();

    // The group of `app` is shown: it is not the host and it is installed (checked at each call).
    static bool showsGroup(VornSuiteApp currentApp, VornSuiteApp app);
    // The chips in order for these inputs.
    static std::vector<Chip> chips(VornSuiteApp currentApp, const std::optional<VornVirtualMemorySummary>& vmSummary,
                                   const std::optional<BrakkaLiveStatus>& killStatus, VornLanguage language, bool compact);
    // A chip's label: tint-coloured on a faint capsule, or white on a stronger one when emphasized.
    static VornSuiteTagLook chipLook(const QString& title, const std::string& symbol, const QColor& tint,
                                     bool emphasized, bool compact);

    // Sends `kind` to `to` from the host, starting it when needed, and tells the owner what
    // happened: the result text on success, "<target> is not installed" when it could not be sent.
    // Returns whether it was sent.
    bool trigger(VornSuiteCommandKind kind, VornSuiteApp to, bool bringToFront, std::string_view enToast,
                 std::string_view trToast);

    // The chips as shown, and whether the strip shows anything at all.
    const std::vector<Chip>& shownChips() const { return chips_; }
    std::vector<VornSuiteTagButton*> chipButtons() const;
    bool isEmpty() const { return chips_.empty(); }
    bool showsHeader() const;

    // How far the row is scrolled (0 at its leading end) and how far it can go.
    int scrollOffset() const;
    int scrollRange() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    VornSuiteApp currentApp_;
    std::optional<VornVirtualMemorySummary> vmSummary_;
    std::optional<BrakkaLiveStatus> killStatus_;
    VornLanguage language_;
    bool compact_;
    Feedback onFeedback_;
    std::vector<Chip> chips_;
    QScrollArea* scroll_ = nullptr;
    QWidget* row_ = nullptr;
    VornSuiteTag* header_ = nullptr;
    std::vector<VornSuiteTagButton*> buttons_;
};
