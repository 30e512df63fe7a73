#pragma once

#include "VornLanguage.h"
#include "VornSuiteLiveStatus.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <string>

class QBoxLayout;
class VornAdaptiveGridLayout;
class VornGlassButton;
class VornSpinner;
class VornSuiteProgressTrack;
class VornSuiteTag;
class VornSuiteTagButton;
class VornSuiteText;

// The progress of a memory offload run of the memory-offload app: state, step and phase, a bar, an
// optional detail line and, in the regular size, the run's four steps. A cancel button while the
// run goes on and a dismiss button once it stopped, each only when the owner gives its action. It
// holds no state: the owner passes each new progress record.
class VornOffloadProgressBanner : public QWidget {
public:
    using Action = std::function<void()>;

    VornOffloadProgressBanner(QuarnOffloadLiveProgress progress, VornLanguage language, bool compact = false,
                              Action onCancel = {}, Action onDismiss = {}, QWidget* parent = nullptr);

    const QuarnOffloadLiveProgress& progress() const { return progress_; }
    VornLanguage language() const { return language_; }
    bool isCompact() const { return compact_; }
    void setProgress(QuarnOffloadLiveProgress progress);
    void setLanguage(VornLanguage language);
    void setOnCancel(Action onCancel);
    void setOnDismiss(Action onDismiss);

    // Success for a completed summary, else by live pressure (danger, warning), else violet.
    static QColor accentColor(const QuarnOffloadLiveProgress& progress);
    // The fraction as a whole percentage; a fraction outside 0…1 (or not a number) is clamped first.
    static long long percent(const QuarnOffloadLiveProgress& progress);
    // "DONE", or "STEP 2/4".
    static QString stepBadgeText(const QuarnOffloadLiveProgress& progress, VornLanguage language);
    // The bar's fill for a track `width` wide: nothing at 0, at least 6 points above it.
    static double fillWidth(double fraction, double width);
    // The allocated and target amounts are shown only while running towards a target.
    static bool showsByteText(const QuarnOffloadLiveProgress& progress);

    struct StepState {
        bool done = false;
        bool current = false;
        bool operator==(const StepState&) const = default;
    };
    // The state of step `index` (1…4).
    static StepState stepState(const QuarnOffloadLiveProgress& progress, int index);
    static QString stepTitle(int index, VornLanguage language);

    // What the banner shows, for tests and for the owner's accessibility.
    bool showsSpinner() const;
    QString stepBadge() const;
    QString phaseText() const;
    QString percentText() const;
    QString byteText() const;  // empty when hidden
    QString detailText() const;  // empty when hidden
    VornGlassButton* cancelButton() const;  // nullptr when not shown
    VornSuiteTagButton* dismissButton() const;  // nullptr when not shown
    const VornSuiteProgressTrack* bar() const { return bar_; }
    // The step pills in order; none in the compact size.
    std::vector<const VornSuiteTag*> stepPills() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void build();
    void refresh();
    QuarnOffloadLiveProgress progress_;
    VornLanguage language_;
    bool compact_;
    Action onCancel_;
    Action onDismiss_;

    VornSpinner* spinner_ = nullptr;
    VornSuiteTag* doneSeal_ = nullptr;
    VornSuiteTag* badge_ = nullptr;
    VornSuiteText* phase_ = nullptr;
    VornSuiteText* bytes_ = nullptr;
    VornSuiteText* percent_ = nullptr;
    VornGlassButton* cancel_ = nullptr;
    VornSuiteTagButton* dismiss_ = nullptr;
    VornSuiteProgressTrack* bar_ = nullptr;
    VornSuiteText* detail_ = nullptr;
    QWidget* pillHost_ = nullptr;
    std::array<VornSuiteTag*, 4> pills_{};
};
