#pragma once

#include "SledViewModel.h"

#include <QColor>
#include <QDialog>
#include <QStyledItemDelegate>

class QCheckBox;
class QLabel;
class QListView;
class QStackedWidget;
class VornGlassButton;
class VornPrimaryButton;
class VornSegmentedControl;
class VornSpinner;

// Paints one plan item: the action's symbol, the relative name shortened in the middle, the reason
// and, for a transfer, its size; on a surface1 rounded rectangle.
class SledSyncPlanRowDelegate : public QStyledItemDelegate {
public:
    SledSyncPlanRowDelegate(SledViewModel& viewModel, const QColor& accent, QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    static std::string actionSymbol(SyncActionKind action);
    QColor actionColor(SyncActionKind action) const;
    // The reason as the row shows it, in the chosen language where the text is a known one.
    QString shownReason(const SyncPlanItem& item) const;
    // The relative name as a row `rowWidth` wide shows it.
    QString shownName(const SyncPlanItem& item, int rowWidth) const;

    static constexpr int rowGap = 6;

private:
    const SyncPlanItem* item(const QModelIndex& index) const;
    SledViewModel& model_;
    QColor accent_;
};

// The sync preview: a window-modal sheet made afresh for each presentation that shows the model's
// sync plan, edits the model's mode and two options (each change asks for one new plan) and runs
// the plan. It holds no state of its own. Run stays disabled while a plan is being worked out, so
// the plan run is always the one shown, and the summary claims SHA-256 verification only while it
// is switched on.
class SyncPreviewSheetView : public QDialog {
public:
    explicit SyncPreviewSheetView(SledViewModel& viewModel, QWidget* parent = nullptr);

    static constexpr QSize sheetSize{660, 500};

    // The plan items whose action is not identicalSkip, and the bytes they move.
    std::size_t actionableCount() const;
    std::int64_t actionableBytes() const;
    // Whether the scanning state shows instead of the plan.
    bool showsScanning() const;

    // The pieces, for tests and the screenshots.
    QLabel* titleLabel() const { return title_; }
    QLabel* panesLabel() const { return panes_; }
    VornGlassButton* closeButton() const { return close_; }
    VornSegmentedControl* modePicker() const { return mode_; }
    QCheckBox* subfoldersToggle() const { return subfolders_; }
    QCheckBox* deleteOrphansToggle() const { return deleteOrphans_; }
    QListView* planList() const { return list_; }
    SledSyncPlanRowDelegate* delegate() const { return delegate_; }
    QLabel* scanningLabel() const { return scanningText_; }
    QLabel* summaryLabel() const { return summary_; }
    // Why no plan stands (the planning failed); shown in place of the list.
    QLabel* failureLabel() const { return failureText_; }
    // Why the plan on show cannot run (it compared other folders); hidden while it can.
    QLabel* noticeLabel() const { return notice_; }
    VornGlassButton* compareAgainButton() const { return compareAgain_; }
    bool showsFailure() const;
    VornGlassButton* cancelButton() const { return cancel_; }
    VornPrimaryButton* runButton() const { return run_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void retranslate();
    void syncOptions();
    void syncPlan();
    void syncPanes();

    SledViewModel& model_;
    QColor accent_;

    QLabel* title_ = nullptr;
    QLabel* panes_ = nullptr;
    VornGlassButton* close_ = nullptr;
    VornSegmentedControl* mode_ = nullptr;
    QCheckBox* subfolders_ = nullptr;
    QCheckBox* deleteOrphans_ = nullptr;
    QStackedWidget* area_ = nullptr;
    QWidget* scanning_ = nullptr;
    VornSpinner* scanningSpinner_ = nullptr;
    QLabel* scanningText_ = nullptr;
    QWidget* failure_ = nullptr;
    QLabel* failureText_ = nullptr;
    QWidget* noticeRow_ = nullptr;
    QLabel* notice_ = nullptr;
    VornGlassButton* compareAgain_ = nullptr;
    QListView* list_ = nullptr;
    SledSyncPlanRowDelegate* delegate_ = nullptr;
    QLabel* summary_ = nullptr;
    VornGlassButton* cancel_ = nullptr;
    VornPrimaryButton* run_ = nullptr;
};
