#pragma once

#include "VornAppIdentity.h"
#include "VornEmblemTone.h"

class QPainter;

// The emblems of the media applications, called one by one by the renderer, which draws the
// fourth media identity itself from the shared screen.
struct VornEmblemArtworkMedia {
    static void drawVornPhotos(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornFrame(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornCut(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornPodcast(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornRadio(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornCast(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornShot(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornPixel(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornVector(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornColor(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornFonts(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornIcons(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornLoop(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornSubtitle(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornTune(QPainter& painter, const VornEmblemTone& tone);
};
