#pragma once

#include "PaneBrowserCard.h"
#include "SledViewModel.h"

#include <QAbstractButton>
#include <QColor>
#include <QWidget>

#include <string>

class VornGlassCard;

// One of the transfer rail's buttons: a symbol above a short text, as wide as the rail, drawn as
// the primary (filled) button or as a glass button that may look active.
class SledRailButton : public QAbstractButton {
public:
    enum class Style { primary, glass };
    SledRailButton(Style style, std::string symbol, double symbolSide, const QColor& symbolColor, QFont textFont,
                   double spacing, double verticalPadding, QWidget* parent = nullptr);
    void setLabel(const QString& label);
    QString label() const { return label_; }
    Style style() const { return style_; }
    bool isActive() const { return active_; }
    void setActive(bool active);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Style style_;
    std::string symbol_;
    double symbolSide_;
    QColor symbolColor_;
    QFont textFont_;
    double spacing_;
    double verticalPadding_;
    QString label_;
    bool active_ = false;
};

// The dual-pane tab: the left and right pane cards with the transfer rail between them (send the
// left selection right, pull the right selection left, open the sync preview, swap the panes).
// The rail's enabling follows both panes' selections as they change.
class DualPaneExplorerView : public QWidget {
public:
    explicit DualPaneExplorerView(SledViewModel& viewModel, QWidget* parent = nullptr);

    SledViewModel& viewModel() const { return model_; }
    QColor accent() const { return accent_; }
    PaneBrowserCard* leftCard() const { return leftCard_; }
    PaneBrowserCard* rightCard() const { return rightCard_; }
    VornGlassCard* rail() const { return rail_; }
    SledRailButton* sendButton() const { return send_; }
    SledRailButton* pullButton() const { return pull_; }
    SledRailButton* syncButton() const { return sync_; }
    SledRailButton* swapButton() const { return swap_; }

    static constexpr int railWidth = 96;

private:
    void retranslate();
    void syncRail();

    SledViewModel& model_;
    QColor accent_;
    PaneBrowserCard* leftCard_;
    PaneBrowserCard* rightCard_;
    VornGlassCard* rail_;
    SledRailButton* send_;
    SledRailButton* pull_;
    SledRailButton* sync_;
    SledRailButton* swap_;
};
