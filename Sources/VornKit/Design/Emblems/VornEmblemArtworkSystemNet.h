#pragma once

#include "VornAppIdentity.h"
#include "VornEmblemTone.h"

class QPainter;

// The emblems of the system and network applications: shields, chips, screens, signals.
struct VornEmblemArtworkSystemNet {
    // Draws the identity's emblem when it belongs to this family; false (and nothing drawn) otherwise.
    static bool draw(VornAppIdentity identity, QPainter& painter, const VornEmblemTone& tone);

private:
    static void drawVornMonitor(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornClean(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornDisk(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornBackup(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornVault(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornFirewall(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornTunnel(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornMemoryOffload(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornBattery(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornNetScope(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornPing(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornResolve(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornShell(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornTerminal(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornPorts(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornWifi(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornUpdate(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornUninstall(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornArchive(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornMirror(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornSled(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornMount(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornHotkeys(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornWindows(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornDock(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornMenubar(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornSensors(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornConsole(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornServer(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornHash(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornPrivacy(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornBoot(QPainter& painter, const VornEmblemTone& tone);
};
