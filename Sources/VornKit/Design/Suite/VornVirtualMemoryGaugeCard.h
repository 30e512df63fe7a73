#pragma once

#include "VornGlassCard.h"
#include "VornLanguage.h"
#include "VornSuiteApp.h"
#include "VornSuiteCommandBus.h"
#include "VornVirtualMemorySummary.h"

#include <QColor>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class VornGlassButton;
class VornSuiteProgressTrack;
class VornSuiteText;
class QWidget;

// A glass card that explains the machine's memory: a title with state badges, gauges for physical
// RAM and for the virtual area (swap plus the memory-offload app's pools, sparse disk images and RAM
// disks), four stat pills and, when the memory-offload app is installed, buttons that send it
// commands. It holds no state: the owner passes each new summary; command results reach the owner
// only through its feedback action.
class VornVirtualMemoryGaugeCard : public VornGlassCard {
public:
    using Feedback = std::function<void(const QString&)>;

    struct Gauge {
        QString title;
        QString valueText;
        double fraction = 0;
        QColor tint;
    };
    struct Stat {
        QString label;
        QString value;
        std::optional<QString> detail;
        QColor tint;
    };
    struct Action {
        QString label;
        std::string symbol;
        bool isActive = false;
        VornSuiteCommandKind kind = VornSuiteCommandKind::quarnSmartOffload;
        bool bringToFront = false;
        std::optional<std::pair<std::string, std::string>> feedback;  // English, Turkish
    };

    VornVirtualMemoryGaugeCard(VornVirtualMemorySummary summary, VornLanguage language, QColor accentColor,
                               VornSuiteApp sourceApp, Feedback onFeedback, QWidget* parent = nullptr);

    const VornVirtualMemorySummary& summary() const { return summary_; }
    void setSummary(VornVirtualMemorySummary summary);
    void setLanguage(VornLanguage language);
    void setOnFeedback(Feedback onFeedback) { onFeedback_ = std::move(onFeedback); }
    // Looks again at whether the memory-offload app is installed.
    void refresh();

    // Critical pressure, else pools, sparse disks or RAM disks, else swap in use, else success.
    static QColor statusColor(const VornVirtualMemorySummary& summary);
    static QString stateBadgeText(const VornVirtualMemorySummary& summary, VornLanguage language);
    // "Effective: <capacity>" when anything virtual is allocated.
    static std::optional<QString> capacityBadgeText(const VornVirtualMemorySummary& summary, VornLanguage language);
    static std::array<Gauge, 2> gauges(const VornVirtualMemorySummary& summary, VornLanguage language,
                                       const QColor& accentColor);
    static std::array<Stat, 4> stats(const VornVirtualMemorySummary& summary, VornLanguage language);
    // The buttons for this summary; none when the memory-offload app is not installed.
    static std::vector<Action> actions(const VornVirtualMemorySummary& summary, VornLanguage language);
    // A gauge's fill for a track `width` wide: all of it at 1 and above, none at 0 or below (or not a
    // number), and at least a 4-point sliver for anything above 0.
    static double gaugeFillWidth(double fraction, double width);

    // Sends the action's command to the memory-offload app; on delivery, its feedback (if any) goes
    // to the owner. Returns whether it was delivered.
    bool perform(const Action& action);

    // What the card shows.
    QString stateBadge() const;
    bool showsLiveBadge() const;
    std::optional<QString> capacityBadge() const;
    std::vector<VornGlassButton*> actionButtons() const { return actionButtons_; }
    // The action row sits below the title and badges because they do not fit side by side.
    bool actionsBelowTitle() const;
    const std::array<Gauge, 2>& shownGauges() const { return gauges_; }
    const std::array<Stat, 4>& shownStats() const { return stats_; }
    std::array<const VornSuiteProgressTrack*, 2> gaugeTracks() const;

private:
    void rebuild();
    VornVirtualMemorySummary summary_;
    VornLanguage language_;
    QColor accentColor_;
    VornSuiteApp sourceApp_;
    Feedback onFeedback_;
    std::array<Gauge, 2> gauges_;
    std::array<Stat, 4> stats_;
    std::vector<Action> actions_;
    QWidget* body_ = nullptr;
    QWidget* header_ = nullptr;
    std::vector<VornGlassButton*> actionButtons_;
    std::array<VornSuiteProgressTrack*, 2> tracks_{};
};
