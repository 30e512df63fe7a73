#pragma once

#include "VornPalette.h"

#include <QWidget>

// The window's backdrop: fills the whole widget with the palette's ground. Put content on top of it
// (as children or in its layout); it takes no input of its own.
class VornGroundBackground : public QWidget {
public:
    explicit VornGroundBackground(VornProductPalette palette = VornProductPalette::deepCoral, QWidget* parent = nullptr);

    VornProductPalette palette() const { return palette_; }
    void setPalette(VornProductPalette palette);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    VornProductPalette palette_;
};
