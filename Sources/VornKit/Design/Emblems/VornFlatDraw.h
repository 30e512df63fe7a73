#pragma once

#include "VornEmblemTone.h"

class QPainter;

// Shapes that several emblems share, at fixed coordinates of the 100-unit design space; the
// calling drawing adds its own marks on top.
struct VornFlatDraw {
    // A screen on a stand (no accent colour).
    static void displayFrame(QPainter& painter, const VornEmblemTone& tone);
    // A page with a folded top-right corner.
    static void foldedSheet(QPainter& painter, const VornEmblemTone& tone);
    // A shield split down the middle with a 2.6-unit gap (no accent colour).
    static void splitShield(QPainter& painter, const VornEmblemTone& tone);
};
