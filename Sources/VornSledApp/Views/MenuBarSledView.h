#pragma once

#include "SledViewModel.h"
#include "VornGroundBackground.h"

#include <functional>

class QLabel;
class SledStatusDot;
class VornFeedbackButton;
class VornGlassButton;
class VornPrimaryButton;

// The tray panel, 280 points wide: the receiver's state, the portal address with a copy button,
// sharing the clipboard on the portal, and bringing the main window back.
class MenuBarSledView : public VornGroundBackground {
public:
    // `showMainWindow` shows the main window again (the same one) and fronts it.
    MenuBarSledView(SledViewModel& viewModel, std::function<void()> showMainWindow, QWidget* parent = nullptr);

    static constexpr int panelWidth = 280;

    SledStatusDot* statusDot() const { return dot_; }
    QLabel* captionLabel() const { return caption_; }
    QLabel* addressLabel() const { return address_; }
    VornGlassButton* copyButton() const { return copy_; }
    VornPrimaryButton* shareButton() const { return share_; }
    VornGlassButton* openButton() const { return open_; }

private:
    void retranslate();
    void syncReceiver();

    SledViewModel& model_;
    std::function<void()> showMainWindow_;
    VornFeedbackButton* feedback_;
    SledStatusDot* dot_;
    QLabel* caption_;
    QLabel* address_;
    VornGlassButton* copy_;
    VornPrimaryButton* share_;
    VornGlassButton* open_;
};
