#include "VornEmblemArtworkSystemNet.h"

#include "VornEmblemCanvas.h"
#include "VornFlatDraw.h"

#include <QPainter>

#include <array>

using namespace detail;

bool VornEmblemArtworkSystemNet::draw(VornAppIdentity identity, QPainter& painter, const VornEmblemTone& tone) {
    using I = VornAppIdentity;
    switch (identity) {
        case I::vornMonitor: drawVornMonitor(painter, tone); return true;
        case I::vornClean: drawVornClean(painter, tone); return true;
        case I::vornDisk: drawVornDisk(painter, tone); return true;
        case I::vornBackup: drawVornBackup(painter, tone); return true;
        case I::vornVault: drawVornVault(painter, tone); return true;
        case I::vornFirewall: drawVornFirewall(painter, tone); return true;
        case I::vornTunnel: drawVornTunnel(painter, tone); return true;
        case I::vornMemoryOffload: drawVornMemoryOffload(painter, tone); return true;
        case I::vornBattery: drawVornBattery(painter, tone); return true;
        case I::vornNetScope: drawVornNetScope(painter, tone); return true;
        case I::vornPing: drawVornPing(painter, tone); return true;
        case I::vornResolve: drawVornResolve(painter, tone); return true;
        case I::vornShell: drawVornShell(painter, tone); return true;
        case I::vornTerminal: drawVornTerminal(painter, tone); return true;
        case I::vornPorts: drawVornPorts(painter, tone); return true;
        case I::vornWifi: drawVornWifi(painter, tone); return true;
        case I::vornUpdate: drawVornUpdate(painter, tone); return true;
        case I::vornUninstall: drawVornUninstall(painter, tone); return true;
        case I::vornArchive: drawVornArchive(painter, tone); return true;
        case I::vornMirror: drawVornMirror(painter, tone); return true;
        case I::vornSled: drawVornSled(painter, tone); return true;
        case I::vornMount: drawVornMount(painter, tone); return true;
        case I::vornHotkeys: drawVornHotkeys(painter, tone); return true;
        case I::vornWindows: drawVornWindows(painter, tone); return true;
        case I::vornDock: drawVornDock(painter, tone); return true;
        case I::vornMenubar: drawVornMenubar(painter, tone); return true;
        case I::vornSensors: drawVornSensors(painter, tone); return true;
        case I::vornConsole: drawVornConsole(painter, tone); return true;
        case I::vornServer: drawVornServer(painter, tone); return true;
        case I::vornHash: drawVornHash(painter, tone); return true;
        case I::vornPrivacy: drawVornPrivacy(painter, tone); return true;
        case I::vornBoot: drawVornBoot(painter, tone); return true;
        default: return false;
    }
}

namespace {

// The whole shield that three emblems carry their marks on.
QPainterPath wholeShield() {
    QPainterPath path(QPointF(50, 20));
    path.lineTo(74, 29);
    path.cubicTo(74, 50, 67, 67, 50, 79);
    path.cubicTo(33, 67, 26, 50, 26, 29);
    path.closeSubpath();
    return path;
}

QPainterPath arrowHead(QPointF tip, double degrees, double length, double halfWidth) {
    const QPointF back = emblemPolar(length, degrees + 180, tip);
    const QPointF left = emblemPolar(halfWidth, degrees - 90, back);
    const QPointF right = emblemPolar(halfWidth, degrees + 90, back);
    return emblemPolyline({tip, left, right}, true);
}

// A four-pointed sparkle.
QPainterPath sparkle(QPointF centre, double radius) {
    const double x = centre.x();
    const double y = centre.y();
    const double k = radius * 0.18;
    QPainterPath path(QPointF(x, y - radius));
    path.cubicTo(x + k, y - k, x + k, y - k, x + radius, y);
    path.cubicTo(x + k, y + k, x + k, y + k, x, y + radius);
    path.cubicTo(x - k, y + k, x - k, y + k, x - radius, y);
    path.cubicTo(x - k, y - k, x - k, y - k, x, y - radius);
    path.closeSubpath();
    return path;
}

// A lightning bolt fitted to the box (x, y, w, h).
QPainterPath bolt(double x, double y, double w, double h) {
    const auto at = [&](double u, double v) { return QPointF(x + u * w, y + v * h); };
    return emblemPolyline({at(0.62, 0), at(0.05, 0.58), at(0.45, 0.58), at(0.35, 1), at(0.95, 0.4), at(0.55, 0.4),
                           at(0.75, 0)},
                          true);
}

}  // namespace

// A heartbeat line across a glass panel.
void VornEmblemArtworkSystemNet::drawVornMonitor(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath panel = emblemRoundedRect(19, 23, 62, 54, 10);
    c.fill(panel, tone.soft());
    c.stroke(panel, tone.primaryAlpha(0.72), 3);
    c.stroke(emblemPolyline({{26, 52}, {36, 52}, {41, 40}, {49, 64}, {56, 34}, {61, 52}, {67, 52}}, false),
             tone.primary(), 4.6);
    c.fillCircle(72, 52, 4.2, tone.accent());
}

// A broom sweeping, with sparkles where it cleaned.
void VornEmblemArtworkSystemNet::drawVornClean(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    painter.save();
    painter.translate(46, 54);
    painter.rotate(-45);
    c.capsule(6, -2.6, 34, 5.2, tone.primaryAlpha(0.72));
    QPainterPath head(QPointF(6, -9));
    head.lineTo(6, 9);
    head.lineTo(-18, 12);
    head.cubicTo(-21, 12, -22, 10, -22, 8);
    head.lineTo(-22, -8);
    head.cubicTo(-22, -10, -21, -12, -18, -12);
    head.closeSubpath();
    c.fill(head, tone.primary());
    c.line(-2, -10.5, -2, 10.5, tone.cutout(0.8), 2.2);
    c.line(-11, -6, -19, -6, tone.cutout(0.55), 1.8);
    c.line(-11, 0, -19, 0, tone.cutout(0.55), 1.8);
    c.line(-11, 6, -19, 6, tone.cutout(0.55), 1.8);
    painter.restore();
    c.fill(sparkle(QPointF(66, 66), 10), tone.accent());
    c.fill(sparkle(QPointF(27, 30), 6), tone.mid());
}

// A drive: platter, spindle, read arm and its light.
void VornEmblemArtworkSystemNet::drawVornDisk(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(22, 19, 56, 62, 10, tone.primary());
    c.strokeCircle(50, 44, 17, tone.cutout(0.9), 3);
    c.fillCircle(50, 44, 4.2, tone.cutout(1.0));
    c.line(66, 67, 55, 49, tone.onPrimaryAccent(), 3.8);
    c.fillCircle(66, 67, 4, tone.onPrimaryAccent());
    c.capsule(29, 70, 14, 4, tone.cutout(0.6));
}

// A ring buoy: what saves the day.
void VornEmblemArtworkSystemNet::drawVornBackup(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.fillCircle(50, 50, 28, tone.primary());
    c.fillCircle(50, 50, 13, tone.cutout(1.0));
    for (int i = 0; i < 4; ++i) {
        const double from = 45 + 90 * i - 17;
        const double to = 45 + 90 * i + 17;
        const QPainterPath band = emblemRingSegment(QPointF(50, 50), 13.5, 27.6, from, to);
        c.fill(band, tone.onPrimaryAccent());
    }
    c.strokeCircle(50, 50, 20.5, tone.cutout(0.45), 1.6);
}

// A safe: door, dial and handle.
void VornEmblemArtworkSystemNet::drawVornVault(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(20, 20, 60, 56, 10, tone.primary());
    c.roundedRect(25, 76, 10, 5, 2, tone.mid());
    c.roundedRect(65, 76, 10, 5, 2, tone.mid());
    c.stroke(emblemRoundedRect(26, 26, 48, 44, 6), tone.cutout(0.5), 1.8);
    c.strokeCircle(48, 48, 11, tone.cutout(1.0), 3.4);
    for (int i = 0; i < 4; ++i) {
        const QPointF a = emblemPolar(4.5, 45 + 90 * i, QPointF(48, 48));
        const QPointF b = emblemPolar(8.5, 45 + 90 * i, QPointF(48, 48));
        c.line(a.x(), a.y(), b.x(), b.y(), tone.cutout(0.8), 2.4);
    }
    c.capsule(66, 38, 4.6, 20, tone.onPrimaryAccent());
}

// A shield of bricks.
void VornEmblemArtworkSystemNet::drawVornFirewall(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath shield = wholeShield();
    c.fill(shield, tone.primary());
    const std::array<double, 4> courses{35, 47, 59, 71};
    c.within(shield, [&] {
        for (const double y : courses) {
            c.line(20, y, 80, y, tone.cutout(1.0), 2.4);
        }
        for (int row = 0; row < 5; ++row) {
            const double top = row == 0 ? 18 : courses[std::size_t(row - 1)];
            const double bottom = row == 4 ? 82 : courses[std::size_t(row)];
            const std::array<double, 2> joints =
                row % 2 == 0 ? std::array<double, 2>{42, 58} : std::array<double, 2>{34, 66};
            for (const double x : joints) {
                c.line(x, top, x, bottom, tone.cutout(1.0), 2.4);
            }
            if (row % 2 == 1) {
                c.line(50, top, 50, bottom, tone.cutout(1.0), 2.4);
            }
        }
    });
    c.roundedRect(51.5, 48.5, 13, 9, 2, tone.onPrimaryAccent());
}

// A split shield with a gem of a connection running through it.
void VornEmblemArtworkSystemNet::drawVornTunnel(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    VornFlatDraw::splitShield(painter, tone);
    c.line(30, 48, 70, 48, tone.cutout(1.0), 3);
    c.fill(emblemPolyline({{50, 36}, {61, 48}, {50, 60}, {39, 48}}, true), tone.onPrimaryAccent());
}

// A memory module giving its contents away: a chip with pins and an outgoing arrow.
void VornEmblemArtworkSystemNet::drawVornMemoryOffload(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    for (int i = 0; i < 3; ++i) {
        const double at = 38.5 + i * 10;
        c.capsule(at, 19, 3.4, 9, tone.mid());
        c.capsule(19, at, 9, 3.4, tone.mid());
        c.capsule(72, at, 9, 3.4, tone.mid());
        c.capsule(at, 72, 3.4, 9, tone.accent());
    }
    c.roundedRect(27, 27, 46, 46, 9, tone.primary());
    c.stroke(emblemRoundedRect(34, 34, 32, 32, 5), tone.cutout(0.5), 1.8);
    c.line(50, 39, 50, 60, tone.cutout(1.0), 4.6);
    c.stroke(emblemPolyline({{42, 53}, {50, 61}, {58, 53}}, false), tone.cutout(1.0), 4.6);
}

// A battery charging: outlined case, charge level and a bolt.
void VornEmblemArtworkSystemNet::drawVornBattery(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath body = emblemRoundedRect(17, 32, 58, 36, 9);
    c.fill(body, tone.soft());
    c.stroke(body, tone.primary(), 4.2);
    c.roundedRect(77.5, 43, 5.5, 14, 2.2, tone.primary());
    c.roundedRect(24, 39, 32, 22, 4.5, tone.primary());
    const QPainterPath charge = bolt(40, 27, 24, 46);
    c.gapPath(charge, 2.2);
    c.fill(charge, tone.accent());
}

// A radar scope: rings, a sweep and one echo.
void VornEmblemArtworkSystemNet::drawVornNetScope(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath scope = emblemCircle(50, 50, 28);
    c.fill(scope, tone.primary());
    c.strokeCircle(50, 50, 18.5, tone.cutout(0.62), 2.2);
    c.strokeCircle(50, 50, 9, tone.cutout(0.62), 2.2);
    c.within(scope, [&] {
        c.line(21, 50, 79, 50, tone.cutout(0.5), 1.6);
        c.line(50, 21, 50, 79, tone.cutout(0.5), 1.6);
    });
    c.fill(emblemWedge(QPointF(50, 50), 26, -90, -35), tone.cutout(0.6));
    const QPointF edge = emblemPolar(26, -35);
    c.line(50, 50, edge.x(), edge.y(), tone.cutout(1.0), 3);
    c.fillCircle(62, 64, 3.6, tone.onPrimaryAccent());
}

// A ping going out: a source and fading rings.
void VornEmblemArtworkSystemNet::drawVornPing(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.strokeCircle(50, 50, 27, tone.primaryAlpha(0.32), 3.4);
    c.strokeCircle(50, 50, 19, tone.primaryAlpha(0.62), 3.8);
    c.strokeCircle(50, 50, 11, tone.primary(), 4.2);
    c.fillCircle(50, 50, 5, tone.accent());
}

// A globe with a lookup pin.
void VornEmblemArtworkSystemNet::drawVornResolve(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.fillCircle(48, 50, 26, tone.soft());
    c.strokeCircle(48, 50, 26, tone.primary(), 3.8);
    c.strokeEllipse(37, 24, 22, 52, tone.primary(), 3);
    c.line(22, 50, 74, 50, tone.primary(), 3);
    c.stroke(emblemArc(48, 94, 38, -125, -55), tone.primaryAlpha(0.72), 2.6);
    c.stroke(emblemArc(48, 6, 38, 55, 125), tone.primaryAlpha(0.72), 2.6);
    QPainterPath pin(QPointF(70, 82));
    pin.cubicTo(64, 74, 61, 70, 61, 66);
    pin.cubicTo(61, 61, 65, 57, 70, 57);
    pin.cubicTo(75, 57, 79, 61, 79, 66);
    pin.cubicTo(79, 70, 76, 74, 70, 82);
    pin.closeSubpath();
    c.gapPath(pin, 2);
    c.fill(pin, tone.accent());
    c.fillCircle(70, 66, 3.2, tone.cutout(1.0));
}

// A shell prompt: the dollar sign and a waiting cursor.
void VornEmblemArtworkSystemNet::drawVornShell(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(20, 21, 60, 58, 12, tone.primary());
    QPainterPath s(QPointF(46, 37));
    s.cubicTo(43, 34, 31, 33, 31, 41);
    s.cubicTo(31, 48, 46, 46, 46, 55);
    s.cubicTo(46, 63, 33, 63, 30, 59);
    c.stroke(s, tone.cutout(1.0), 4.2);
    c.line(38.5, 30, 38.5, 67, tone.cutout(1.0), 3);
    c.capsule(54, 58, 16, 5.5, tone.onPrimaryAccent());
}

// A terminal window with its prompt.
void VornEmblemArtworkSystemNet::drawVornTerminal(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath window = emblemRoundedRect(18, 22, 64, 56, 10);
    c.fill(window, tone.primary());
    for (int i = 0; i < 3; ++i) {
        c.fillCircle(27 + i * 6.5, 30, 2.2, tone.cutout(0.62));
    }
    c.within(window, [&] { c.line(17, 37, 83, 37, tone.cutout(1.0), 2); });
    c.stroke(emblemPolyline({{29, 48}, {38, 56}, {29, 64}}, false), tone.cutout(1.0), 4.6);
    c.capsule(43, 61.5, 17, 4.6, tone.onPrimaryAccent());
}

// A switch plate with two network jacks and link lights.
void VornEmblemArtworkSystemNet::drawVornPorts(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(18, 26, 64, 48, 10, tone.primary());
    for (const double x : {26.0, 53.0}) {
        QPainterPath jack(QPointF(x, 40));
        jack.lineTo(x + 21, 40);
        jack.lineTo(x + 21, 58);
        jack.lineTo(x + 16, 58);
        jack.lineTo(x + 16, 63);
        jack.lineTo(x + 5, 63);
        jack.lineTo(x + 5, 58);
        jack.lineTo(x, 58);
        jack.closeSubpath();
        c.fill(jack, tone.cutout(1.0));
        for (int pin = 0; pin < 4; ++pin) {
            c.line(x + 5 + pin * 3.7, 40, x + 5 + pin * 3.7, 45, tone.primaryAlpha(0.72), 1.6);
        }
    }
    c.fillCircle(31, 33, 2.4, tone.onPrimaryAccent());
    c.fillCircle(58, 33, 2.4, tone.onPrimaryAccent());
}

// Wi-Fi: a source and three arcs.
void VornEmblemArtworkSystemNet::drawVornWifi(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPointF source(50, 70);
    c.fillCircle(source.x(), source.y(), 5.5, tone.accent());
    c.stroke(emblemArc(source.x(), source.y(), 14, -135, -45), tone.primary(), 5.5);
    c.stroke(emblemArc(source.x(), source.y(), 26, -135, -45), tone.primary(), 5.5);
    c.stroke(emblemArc(source.x(), source.y(), 38, -135, -45), tone.primary(), 5.5);
}

// A shield refreshed: the arrow that brings the latest version.
void VornEmblemArtworkSystemNet::drawVornUpdate(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.fill(wholeShield(), tone.primary());
    const QPointF centre(50, 50);
    c.stroke(emblemArc(centre.x(), centre.y(), 12.5, 10, 285), tone.cutout(1.0), 4.2);
    // The head continues the arc clockwise from its end.
    const QPointF end = emblemPolar(12.5, 285, centre);
    c.fill(arrowHead(end + QPointF(6.5 * 0.966, 6.5 * 0.259), 15, 10, 6.5), tone.cutout(1.0));
    c.fillCircle(50, 50, 3.4, tone.onPrimaryAccent());
}

// A bin with its lid lifted and a minus badge.
void VornEmblemArtworkSystemNet::drawVornUninstall(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.capsule(24, 27, 48, 6, tone.primary());
    c.roundedRect(41, 21, 14, 8, 3, tone.primary());
    c.fillCircle(48, 25, 1.6, tone.cutout(1.0));
    QPainterPath bin(QPointF(28, 37));
    bin.lineTo(68, 37);
    bin.lineTo(65, 73);
    bin.cubicTo(64.7, 76.5, 62.5, 79, 59, 79);
    bin.lineTo(37, 79);
    bin.cubicTo(33.5, 79, 31.3, 76.5, 31, 73);
    bin.closeSubpath();
    c.fill(bin, tone.primary());
    for (const double x : {40.0, 48.0, 56.0}) {
        c.line(x, 45, x, 71, tone.cutout(0.7), 2.6);
    }
    c.gapCircle(69, 67, 10);
    c.fillCircle(69, 67, 10, tone.accent());
    c.line(63.5, 67, 74.5, 67, tone.cutout(1.0), 3.4);
}

// A parcel seen from its corner: an isometric cube with its tape.
void VornEmblemArtworkSystemNet::drawVornArchive(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPointF top(50, 20);
    const QPointF left(24, 35);
    const QPointF right(76, 35);
    const QPointF centre(50, 50);
    const QPointF bottom(50, 80);
    const QPointF leftBottom(24, 65);
    const QPointF rightBottom(76, 65);
    c.fill(emblemPolyline({top, right, centre, left}, true), tone.primary());
    c.fill(emblemPolyline({left, centre, bottom, leftBottom}, true), tone.primaryAlpha(0.72));
    c.fill(emblemPolyline({centre, right, rightBottom, bottom}, true), tone.mid());
    c.stroke(emblemPolyline({left, centre, right}, false), tone.cutout(1.0), 2.2);
    c.line(50, 50, 50, 80, tone.cutout(1.0), 2.2);
    c.stroke(emblemPolyline({{37, 27.5}, {63, 42.5}, {63, 57}}, false), tone.onPrimaryAccent(), 4.6);
}

// A screen with two opposite arrows: the picture sent out and back.
void VornEmblemArtworkSystemNet::drawVornMirror(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    VornFlatDraw::displayFrame(painter, tone);
    c.line(32, 38, 62, 38, tone.primary(), 3.8);
    c.fill(arrowHead(QPointF(69, 38), 0, 9, 6), tone.primary());
    c.line(68, 51, 38, 51, tone.accent(), 3.8);
    c.fill(arrowHead(QPointF(31, 51), 180, 9, 6), tone.accent());
}

// Two panes with a file crossing between them.
void VornEmblemArtworkSystemNet::drawVornSled(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(17, 24, 30, 52, 8, tone.primary());
    for (int i = 0; i < 4; ++i) {
        c.capsule(23, 33 + i * 9, i % 2 == 0 ? 18 : 13, 3.6, tone.cutout(i == 0 ? 0.85 : 0.56));
    }
    c.roundedRect(53, 24, 30, 52, 8, tone.mid());
    QPainterPath arrow = emblemCapsule(30, 45.5, 36, 9);
    arrow.addPath(arrowHead(QPointF(77, 50), 0, 14, 11));
    c.gapPath(arrow, 2.2);
    c.fill(arrow, tone.accent());
}

// A drive being attached: an arrow coming down onto it.
void VornEmblemArtworkSystemNet::drawVornMount(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(19, 53, 62, 26, 8, tone.primary());
    c.capsule(27, 63.5, 26, 5, tone.cutout(0.72));
    c.fillCircle(70, 66, 3.2, tone.onPrimaryAccent());
    c.capsule(45.5, 19, 9, 20, tone.primary());
    c.fill(arrowHead(QPointF(50, 48), 90, 12, 12), tone.primary());
}

// A key cap with a bolt: a shortcut.
void VornEmblemArtworkSystemNet::drawVornHotkeys(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(21, 21, 58, 58, 12, tone.primary());
    c.roundedRect(27, 25, 46, 42, 9, tone.cutout(0.42));
    c.fill(bolt(38, 29, 24, 34), tone.onPrimaryAccent());
}

// Windows stacked on the desktop.
void VornEmblemArtworkSystemNet::drawVornWindows(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(19, 21, 44, 36, 8, tone.mid());
    c.gapRoundedRect(35, 41, 46, 38, 8);
    const QPainterPath front = emblemRoundedRect(35, 41, 46, 38, 8);
    c.fill(front, tone.primary());
    c.within(front, [&] { c.line(34, 51, 82, 51, tone.cutout(1.0), 2.2); });
    for (int i = 0; i < 3; ++i) {
        c.fillCircle(41.5 + i * 5.5, 46, 1.9, i == 0 ? tone.onPrimaryAccent() : tone.cutout(0.62));
    }
}

// A dock with three applications, the middle one raised.
void VornEmblemArtworkSystemNet::drawVornDock(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(17, 58, 66, 19, 9, tone.mid());
    c.roundedRect(23, 46, 16, 16, 5, tone.primary());
    c.gapRoundedRect(41, 34, 18, 18, 5.5, 1.6);
    c.roundedRect(41, 34, 18, 18, 5.5, tone.accent());
    c.roundedRect(61, 46, 16, 16, 5, tone.primary());
    // Running applications show a light under them.
    for (const double x : {31.0, 50.0, 69.0}) {
        c.fillCircle(x, 69.5, 2, tone.primary());
    }
}

// A screen with its menu bar and an open menu.
void VornEmblemArtworkSystemNet::drawVornMenubar(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath screen = emblemRoundedRect(19, 22, 62, 56, 10);
    c.fill(screen, tone.soft());
    c.stroke(screen, tone.primaryAlpha(0.72), 3);
    QPainterPath bar = emblemRoundedRect(19, 22, 62, 12, 6);
    bar.addRect(QRectF(19, 28, 62, 6));
    c.fill(bar, tone.primary());
    c.capsule(26, 26.5, 8, 3, tone.cutout(0.7));
    c.capsule(38, 26.5, 8, 3, tone.cutout(0.7));
    c.gapRoundedRect(36, 37, 30, 32, 5, 1.6);
    c.roundedRect(36, 37, 30, 32, 5, tone.primary());
    c.capsule(41, 43, 20, 3.6, tone.cutout(0.6));
    c.capsule(39, 50, 24, 6, tone.onPrimaryAccent());
    c.capsule(41, 60, 16, 3.6, tone.cutout(0.6));
}

// A thermometer beside its scale.
void VornEmblemArtworkSystemNet::drawVornSensors(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath glass = emblemCapsule(37, 18, 16, 48);
    glass.addPath(emblemCircle(45, 66, 13));
    c.fill(glass, tone.primary());
    c.capsule(42, 24, 6, 38, tone.cutout(0.55));
    c.capsule(42, 40, 6, 24, tone.onPrimaryAccent());
    c.fillCircle(45, 66, 7.5, tone.onPrimaryAccent());
    for (int i = 0; i < 4; ++i) {
        c.capsule(60, 24 + i * 9, i % 2 == 0 ? 14 : 9, 3.4, tone.mid());
    }
}

// A log console: rows of messages, one flagged.
void VornEmblemArtworkSystemNet::drawVornConsole(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(19, 20, 62, 60, 11, tone.primary());
    const std::array<double, 4> widths{30, 24, 34, 20};
    for (int i = 0; i < 4; ++i) {
        const double y = 32 + i * 12;
        c.fillCircle(29, y, 3, i == 2 ? tone.onPrimaryAccent() : tone.cutout(0.9));
        c.capsule(37, y - 2.1, widths[std::size_t(i)], 4.2, tone.cutout(i == 2 ? 0.88 : 0.55));
    }
}

// A server rack: three capsules with status lights.
void VornEmblemArtworkSystemNet::drawVornServer(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    for (int i = 0; i < 3; ++i) {
        const double y = 21 + i * 20.5;
        c.roundedRect(20, y, 60, 17, 8.5, tone.primary());
        c.fillCircle(30, y + 8.5, 3, i == 0 ? tone.onPrimaryAccent() : tone.cutout(1.0));
        c.capsule(52, y + 6.7, 20, 3.6, tone.cutout(0.6));
    }
}

// A shield stamped with the hash sign.
void VornEmblemArtworkSystemNet::drawVornHash(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.fill(wholeShield(), tone.primary());
    c.line(45, 34, 41, 64, tone.cutout(1.0), 4.2);
    c.line(59, 34, 55, 64, tone.cutout(1.0), 4.2);
    c.line(35, 43, 65, 43, tone.cutout(1.0), 4.2);
    c.line(34, 55, 64, 55, tone.onPrimaryAccent(), 4.2);
}

// A split shield with a keyhole.
void VornEmblemArtworkSystemNet::drawVornPrivacy(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    VornFlatDraw::splitShield(painter, tone);
    QPainterPath keyhole = emblemCircle(50, 43, 7);
    keyhole.addPath(emblemPolyline({{46, 46}, {54, 46}, {56.5, 62}, {43.5, 62}}, true));
    c.fill(keyhole, tone.onPrimaryAccent());
}

// A split shield with the power sign: a trusted start.
void VornEmblemArtworkSystemNet::drawVornBoot(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    VornFlatDraw::splitShield(painter, tone);
    c.stroke(emblemArc(50, 50, 12, -50, 230), tone.cutout(1.0), 4.2);
    c.line(50, 33, 50, 48, tone.cutout(1.0), 4.2);
}
