#include "VornEmblemArtworkProductivity.h"

#include "VornEmblemCanvas.h"

#include <QPainter>

#include <array>

using namespace detail;

bool VornEmblemArtworkProductivity::draw(VornAppIdentity identity, QPainter& painter, const VornEmblemTone& tone) {
    using I = VornAppIdentity;
    switch (identity) {
        case I::vornNotes: drawVornNotes(painter, tone); return true;
        case I::vornTasks: drawVornTasks(painter, tone); return true;
        case I::vornMail: drawVornMail(painter, tone); return true;
        case I::vornCalendar: drawVornCalendar(painter, tone); return true;
        case I::vornDocs: drawVornDocs(painter, tone); return true;
        case I::vornSheets: drawVornSheets(painter, tone); return true;
        case I::vornSlides: drawVornSlides(painter, tone); return true;
        case I::vornPdf: drawVornPdf(painter, tone); return true;
        case I::vornScan: drawVornScan(painter, tone); return true;
        case I::vornClip: drawVornClip(painter, tone); return true;
        case I::vornType: drawVornType(painter, tone); return true;
        case I::vornFocus: drawVornFocus(painter, tone); return true;
        case I::vornTimer: drawVornTimer(painter, tone); return true;
        case I::vornMarkdown: drawVornMarkdown(painter, tone); return true;
        case I::vornJournal: drawVornJournal(painter, tone); return true;
        case I::vornContacts: drawVornContacts(painter, tone); return true;
        case I::vornReader: drawVornReader(painter, tone); return true;
        case I::vornTranslate: drawVornTranslate(painter, tone); return true;
        case I::vornLexicon: drawVornLexicon(painter, tone); return true;
        case I::vornMind: drawVornMind(painter, tone); return true;
        case I::vornForms: drawVornForms(painter, tone); return true;
        case I::vornSign: drawVornSign(painter, tone); return true;
        case I::vornInvoice: drawVornInvoice(painter, tone); return true;
        case I::vornBudget: drawVornBudget(painter, tone); return true;
        case I::vornHabit: drawVornHabit(painter, tone); return true;
        case I::vornLauncher: drawVornLauncher(painter, tone); return true;
        case I::vornSnippets: drawVornSnippets(painter, tone); return true;
        default: return false;
    }
}

// A sheet with three text lines and a plus badge.
void VornEmblemArtworkProductivity::drawVornNotes(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(25, 22, 46, 54, 8, tone.primary());
    c.roundedRect(33, 34, 28, 4.2, 2.1, tone.cutout(0.72));
    c.roundedRect(33, 44, 22, 4.2, 2.1, tone.cutout(0.56));
    c.roundedRect(33, 54, 15, 4.2, 2.1, tone.cutout(0.56));
    if (tone.isWhiteGlass()) {
        c.roundedRect(52, 52, 28, 28, 8.5, VornFlatPaint::cutout(1.0));
    }
    c.roundedRect(54, 54, 24, 24, 7, tone.accent());
    c.line(66, 60.5, 66, 71.5, tone.cutout(1.0), 3.4);
    c.line(60.5, 66, 71.5, 66, tone.cutout(1.0), 3.4);
}

// A checklist: two ticked rows and an open one.
void VornEmblemArtworkProductivity::drawVornTasks(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(22, 21, 56, 58, 10, tone.primary());
    const std::array<double, 3> rows{35, 50, 65};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double y = rows[i];
        if (i < 2) {
            c.stroke(emblemPolyline({{30, y}, {34, y + 4}, {41, y - 4}}, false),
                     i == 0 ? tone.onPrimaryAccent() : tone.cutout(1.0), 3.8);
        } else {
            c.strokeCircle(35.5, y, 4.6, tone.cutout(0.7), 2.6);
        }
        c.capsule(47, y - 2.1, i == 1 ? 19 : 24, 4.2, tone.cutout(i == 2 ? 0.5 : 0.62));
    }
}

// An envelope with its flap and an unread badge.
void VornEmblemArtworkProductivity::drawVornMail(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(19, 30, 56, 42, 8, tone.primary());
    c.stroke(emblemPolyline({{23, 35}, {47, 53}, {71, 35}}, false), tone.cutout(1.0), 4.2);
    c.stroke(emblemPolyline({{24, 67}, {39, 54}}, false), tone.cutout(0.55), 2.6);
    c.stroke(emblemPolyline({{70, 67}, {55, 54}}, false), tone.cutout(0.55), 2.6);
    c.gapCircle(72, 30, 9);
    c.fillCircle(72, 30, 9, tone.accent());
}

// A month page on two rings with today marked.
void VornEmblemArtworkProductivity::drawVornCalendar(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath page = emblemRoundedRect(21, 25, 58, 53, 10);
    c.fill(page, tone.primary());
    c.within(page, [&] { c.line(20, 39, 80, 39, tone.cutout(1.0), 2.6); });
    for (const double x : {35.0, 65.0}) {
        c.gapRoundedRect(x - 3, 18, 6, 14, 3, 1.6);
        c.capsule(x - 3, 18, 6, 14, tone.primary());
    }
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column) {
            if (row == 2 && column == 2) {
                continue;
            }
            c.fillCircle(32 + column * 12, 49 + row * 10, 2.6, tone.cutout(row == 0 && column == 0 ? 0.42 : 0.66));
        }
    }
    c.roundedRect(50.5, 63.5, 11, 11, 3.5, tone.onPrimaryAccent());
}

// A written page in front of a second one.
void VornEmblemArtworkProductivity::drawVornDocs(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(36, 20, 42, 54, 8, tone.mid());
    c.gapRoundedRect(22, 26, 42, 54, 8);
    c.roundedRect(22, 26, 42, 54, 8, tone.primary());
    c.capsule(29, 35, 20, 5.5, tone.cutout(0.88));
    c.capsule(29, 46, 28, 3.6, tone.cutout(0.6));
    c.capsule(29, 53, 28, 3.6, tone.cutout(0.6));
    c.capsule(29, 60, 28, 3.6, tone.cutout(0.6));
    c.capsule(29, 67, 17, 3.6, tone.cutout(0.6));
    c.capsule(50, 67, 7, 3.6, tone.onPrimaryAccent());
}

// A spreadsheet grid with a header row and one selected cell.
void VornEmblemArtworkProductivity::drawVornSheets(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath grid = emblemRoundedRect(21, 23, 58, 54, 9);
    c.fill(grid, tone.primary());
    c.roundedRect(24, 26, 52, 9, 5, tone.cutout(0.42));
    c.within(grid, [&] {
        for (const double y : {36.0, 49.0, 62.0}) {
            c.line(20, y, 80, y, tone.cutout(1.0), 2.4);
        }
        for (const double x : {38.0, 58.0}) {
            c.line(x, 36, x, 78, tone.cutout(1.0), 2.4);
        }
    });
    c.roundedRect(42, 52.5, 12.5, 6, 2.5, tone.onPrimaryAccent());
}

// A screen on an easel showing a title and rising bars.
void VornEmblemArtworkProductivity::drawVornSlides(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.line(50, 60, 50, 76, tone.primary(), 3.8);
    c.line(48, 64, 37, 78, tone.primary(), 3.8);
    c.line(52, 64, 63, 78, tone.primary(), 3.8);
    c.roundedRect(19, 22, 62, 41, 8, tone.primary());
    c.capsule(27, 30, 20, 4.6, tone.cutout(0.82));
    c.capsule(27, 39, 14, 3.6, tone.cutout(0.56));
    c.capsule(27, 46, 17, 3.6, tone.cutout(0.56));
    c.capsule(54, 45, 5.2, 11, tone.cutout(0.7));
    c.capsule(61.5, 39, 5.2, 17, tone.cutout(0.7));
    c.capsule(69, 31, 5.2, 25, tone.onPrimaryAccent());
}

// A page with a label that spells the format.
void VornEmblemArtworkProductivity::drawVornPdf(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(30, 18, 44, 60, 8, tone.primary());
    c.capsule(38, 27, 26, 4.2, tone.cutout(0.62));
    c.capsule(38, 35, 20, 4.2, tone.cutout(0.62));
    c.gapRoundedRect(20, 46, 42, 22, 7);
    c.roundedRect(20, 46, 42, 22, 7, tone.accent());
    const VornFlatPaint letter = tone.cutout(1.0);
    QPainterPath p(QPointF(26.5, 62));
    p.lineTo(26.5, 52);
    p.lineTo(29.5, 52);
    p.cubicTo(33.5, 52, 33.5, 57.5, 29.5, 57.5);
    p.lineTo(26.5, 57.5);
    c.stroke(p, letter, 2.6);
    QPainterPath d(QPointF(37, 52));
    d.lineTo(37, 62);
    d.lineTo(39, 62);
    d.cubicTo(44.6, 62, 44.6, 52, 39, 52);
    d.closeSubpath();
    c.stroke(d, letter, 2.6);
    c.stroke(emblemPolyline({{55.5, 52}, {49.5, 52}, {49.5, 62}}, false), letter, 2.6);
    c.line(49.5, 57, 54, 57, letter, 2.6);
}

// A page in viewfinder corners crossed by the scanning beam.
void VornEmblemArtworkProductivity::drawVornScan(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const double lo = 21;
    const double hi = 79;
    const double arm = 13;
    c.stroke(emblemPolyline({{lo, lo + arm}, {lo, lo}, {lo + arm, lo}}, false), tone.primary(), 4.6);
    c.stroke(emblemPolyline({{hi - arm, lo}, {hi, lo}, {hi, lo + arm}}, false), tone.primary(), 4.6);
    c.stroke(emblemPolyline({{lo, hi - arm}, {lo, hi}, {lo + arm, hi}}, false), tone.primary(), 4.6);
    c.stroke(emblemPolyline({{hi - arm, hi}, {hi, hi}, {hi, hi - arm}}, false), tone.primary(), 4.6);
    c.roundedRect(34, 30, 32, 40, 5, tone.mid());
    c.capsule(39, 37, 18, 3.6, tone.cutout(0.6));
    c.capsule(39, 59, 22, 3.6, tone.cutout(0.6));
    c.gapRoundedRect(25, 47.5, 50, 5, 2.5, 1.8);
    c.capsule(25, 47.5, 50, 5, tone.accent());
}

// A clipboard holding a list.
void VornEmblemArtworkProductivity::drawVornClip(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(24, 24, 52, 56, 9, tone.primary());
    c.gapRoundedRect(37, 17, 26, 13, 5);
    c.roundedRect(37, 17, 26, 13, 5, tone.accent());
    c.capsule(45, 21.5, 10, 3.6, tone.cutout(0.9));
    for (int i = 0; i < 3; ++i) {
        const double y = 42 + i * 10;
        c.fillCircle(34, y + 2.1, 2.4, tone.cutout(0.72));
        c.capsule(40, y, i == 2 ? 16 : 26, 4.2, tone.cutout(0.6));
    }
}

// A letter T in a glass key with the text cursor beside it.
void VornEmblemArtworkProductivity::drawVornType(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath key = emblemRoundedRect(22, 22, 56, 56, 11);
    c.fill(key, tone.soft());
    c.stroke(key, tone.primary(), 3.4);
    c.capsule(32, 32, 28, 7, tone.primary());
    c.capsule(42.5, 32, 7, 36, tone.primary());
    c.capsule(62, 42, 4.2, 26, tone.accent());
    c.capsule(58.5, 40, 11.2, 3, tone.accent());
    c.capsule(58.5, 67, 11.2, 3, tone.accent());
}

// A target with its bull's eye.
void VornEmblemArtworkProductivity::drawVornFocus(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.fillCircle(50, 50, 28, tone.primary());
    c.strokeCircle(50, 50, 19.5, tone.cutout(1.0), 3.6);
    c.strokeCircle(50, 50, 11, tone.cutout(0.8), 3.6);
    c.gapCircle(50, 50, 5.2, 1.6);
    c.fillCircle(50, 50, 5.2, tone.accent());
}

// A stopwatch with its crown, ticks and running hand.
void VornEmblemArtworkProductivity::drawVornTimer(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPointF centre(50, 54);
    c.capsule(42, 17, 16, 6, tone.primary());
    c.roundedRect(47.5, 21, 5, 8, 1.2, tone.primary());
    painter.save();
    painter.translate(centre);
    painter.rotate(-45);
    c.roundedRect(-3, -32.5, 6, 8, 2, tone.mid());
    painter.restore();
    c.fillCircle(centre.x(), centre.y(), 25, tone.primary());
    for (int i = 0; i < 12; ++i) {
        const QPointF outer = emblemPolar(20.5, i * 30.0, centre);
        const QPointF inner = emblemPolar(i % 3 == 0 ? 16 : 18, i * 30.0, centre);
        c.line(inner.x(), inner.y(), outer.x(), outer.y(), tone.cutout(i % 3 == 0 ? 0.9 : 0.55), i % 3 == 0 ? 2.6 : 1.8);
    }
    c.stroke(emblemArc(centre.x(), centre.y(), 11, -90, 30), tone.onPrimaryAccent(), 3.4);
    const QPointF tip = emblemPolar(14, 30, centre);
    c.line(centre.x(), centre.y(), tip.x(), tip.y(), tone.cutout(1.0), 3.4);
    c.fillCircle(centre.x(), centre.y(), 3.2, tone.cutout(1.0));
}

// The markdown mark: an M and a down arrow on a plate.
void VornEmblemArtworkProductivity::drawVornMarkdown(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(17, 29, 66, 42, 9, tone.primary());
    c.stroke(emblemPolyline({{27, 61}, {27, 39}, {37, 51}, {47, 39}, {47, 61}}, false), tone.cutout(1.0), 5.5);
    c.line(65, 39, 65, 58, tone.onPrimaryAccent(), 5.5);
    c.stroke(emblemPolyline({{57, 52}, {65, 61}, {73, 52}}, false), tone.onPrimaryAccent(), 5.5);
}

// A bound notebook with a title label, its elastic band and a ribbon.
void VornEmblemArtworkProductivity::drawVornJournal(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath ribbon(QPointF(52, 66));
    ribbon.lineTo(60, 66);
    ribbon.lineTo(60, 84);
    ribbon.lineTo(56, 80);
    ribbon.lineTo(52, 84);
    ribbon.closeSubpath();
    c.fill(ribbon, tone.accent());
    c.gapRoundedRect(25, 19, 48, 58, 8, 1.6);
    const QPainterPath cover = emblemRoundedRect(25, 19, 48, 58, 8);
    c.fill(cover, tone.primary());
    c.within(cover, [&] { c.line(33, 18, 33, 78, tone.cutout(0.5), 2.2); });
    c.roundedRect(39, 30, 24, 13, 3.5, tone.cutout(0.7));
    c.roundedRect(64, 19, 4.2, 58, 0, tone.cutout(0.55));
}

// A contact card: portrait and details.
void VornEmblemArtworkProductivity::drawVornContacts(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(19, 24, 62, 52, 10, tone.primary());
    c.fillCircle(37, 42, 7.5, tone.cutout(1.0));
    QPainterPath shoulders(QPointF(24.5, 66));
    shoulders.cubicTo(24.5, 57, 30, 52.5, 37, 52.5);
    shoulders.cubicTo(44, 52.5, 49.5, 57, 49.5, 66);
    shoulders.closeSubpath();
    c.fill(shoulders, tone.cutout(1.0));
    c.capsule(55, 39, 18, 4.2, tone.cutout(0.8));
    c.capsule(55, 48, 13, 3.6, tone.cutout(0.56));
    c.capsule(55, 56, 16, 3.6, tone.cutout(0.56));
}

// A reading device with a page of text and the reading progress.
void VornEmblemArtworkProductivity::drawVornReader(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(26, 17, 48, 66, 9, tone.primary());
    for (int i = 0; i < 5; ++i) {
        const double widths[] = {30, 30, 26, 30, 18};
        c.capsule(33, 27 + i * 7.5, widths[i], 3.6, tone.cutout(i == 0 ? 0.82 : 0.56));
    }
    c.capsule(33, 69, 34, 4.2, tone.cutout(0.5));
    c.capsule(33, 69, 20, 4.2, tone.onPrimaryAccent());
}

// Two speech bubbles: a Latin letter and a glyph of another script.
void VornEmblemArtworkProductivity::drawVornTranslate(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath back = emblemRoundedRect(18, 20, 40, 32, 8);
    back.addPath(emblemPolyline({{26, 48}, {26, 59}, {36, 48}}, true));
    c.fill(back, tone.mid());
    c.stroke(emblemPolyline({{30, 45}, {38, 27}, {46, 45}}, false), tone.primary(), 3.4);
    c.line(33.5, 39, 42.5, 39, tone.primary(), 3.4);
    QPainterPath front = emblemRoundedRect(42, 42, 40, 32, 8);
    front.addPath(emblemPolyline({{74, 70}, {74, 81}, {64, 70}}, true));
    c.gapPath(front);
    c.fill(front, tone.primary());
    const VornFlatPaint glyph = tone.cutout(1.0);
    c.line(51, 51, 73, 51, glyph, 3);
    c.line(62, 47, 62, 51, glyph, 3);
    QPainterPath sweep(QPointF(67, 55));
    sweep.cubicTo(64, 62, 58, 66, 51, 67);
    c.stroke(sweep, glyph, 3);
    QPainterPath tail(QPointF(56, 57));
    tail.cubicTo(59, 62, 65, 66, 73, 67);
    c.stroke(tail, tone.onPrimaryAccent(), 3);
}

// A dictionary with thumb-index notches and a bookmark.
void VornEmblemArtworkProductivity::drawVornLexicon(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath ribbon(QPointF(32, 66));
    ribbon.lineTo(40, 66);
    ribbon.lineTo(40, 84);
    ribbon.lineTo(36, 80);
    ribbon.lineTo(32, 84);
    ribbon.closeSubpath();
    c.fill(ribbon, tone.accent());
    c.gapRoundedRect(24, 19, 50, 59, 8, 1.6);
    c.roundedRect(24, 19, 50, 59, 8, tone.primary());
    for (int i = 0; i < 4; ++i) {
        c.roundedRect(68, 25 + i * 12, 10, 7, 2.5, tone.cutout(i == 1 ? 1.0 : 0.6));
    }
    c.stroke(emblemPolyline({{35, 60}, {44, 36}, {53, 60}}, false), tone.cutout(1.0), 4.6);
    c.line(38.5, 52, 49.5, 52, tone.cutout(1.0), 4.2);
}

// A mind map: a central idea with four branches.
void VornEmblemArtworkProductivity::drawVornMind(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const std::array<QPointF, 4> nodes{QPointF(26, 28), QPointF(74, 30), QPointF(26, 72), QPointF(74, 70)};
    for (const QPointF& node : nodes) {
        QPainterPath branch(QPointF(50, 50));
        branch.cubicTo((50 + node.x()) / 2, 50, (50 + node.x()) / 2, node.y(), node.x(), node.y());
        c.stroke(branch, tone.primaryAlpha(0.62), 3.4);
    }
    c.fillCircle(50, 50, 12, tone.primary());
    c.fillCircle(50, 50, 4.5, tone.cutout(0.8));
    c.fillCircle(nodes[0].x(), nodes[0].y(), 7, tone.primary());
    c.fillCircle(nodes[1].x(), nodes[1].y(), 7, tone.accent());
    c.fillCircle(nodes[2].x(), nodes[2].y(), 7, tone.mid());
    c.fillCircle(nodes[3].x(), nodes[3].y(), 7, tone.primary());
}

// A form: two fields, a ticked box and the submit button.
void VornEmblemArtworkProductivity::drawVornForms(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(22, 18, 56, 64, 10, tone.primary());
    c.capsule(29, 26, 14, 3.6, tone.cutout(0.56));
    c.roundedRect(29, 32, 42, 8, 3, tone.cutout(0.7));
    c.capsule(29, 45, 18, 3.6, tone.cutout(0.56));
    c.roundedRect(29, 51, 42, 8, 3, tone.cutout(0.7));
    c.roundedRect(29, 64, 9, 9, 2.5, tone.cutout(1.0));
    c.stroke(emblemPolyline({{31, 68.5}, {33, 70.5}, {36.5, 66}}, false), tone.primary(), 1.8);
    c.capsule(48, 64, 23, 9, tone.onPrimaryAccent());
}

// A signature on its line, with the pen that wrote it.
void VornEmblemArtworkProductivity::drawVornSign(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath stroke(QPointF(21, 60));
    stroke.cubicTo(27, 40, 35, 38, 33, 52);
    stroke.cubicTo(31, 64, 39, 64, 43, 54);
    stroke.cubicTo(46, 46, 49, 52, 50, 58);
    stroke.cubicTo(51, 62, 55, 60, 58, 55);
    c.stroke(stroke, tone.primary(), 4.2);
    c.capsule(20, 69, 60, 4.2, tone.mid());
    painter.save();
    painter.translate(60, 53);
    painter.rotate(-45);
    QPainterPath pen = emblemRoundedRect(6, -5, 30, 10, 3);
    pen.addPath(emblemPolyline({{7, -5}, {-2, 0}, {7, 5}}, true));
    c.gapPath(pen, 2);
    c.fill(emblemRoundedRect(6, -5, 30, 10, 3), tone.primary());
    c.fill(emblemPolyline({{6.5, -5}, {-2, 0}, {6.5, 5}}, true), tone.accent());
    c.line(14, -5, 14, 5, tone.cutout(0.6), 2);
    painter.restore();
}

// A receipt with its torn edge and the total picked out.
void VornEmblemArtworkProductivity::drawVornInvoice(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath receipt(QPointF(31, 19));
    receipt.lineTo(69, 19);
    receipt.cubicTo(72.3, 19, 75, 21.7, 75, 25);
    receipt.lineTo(75, 79);
    for (int i = 0; i < 5; ++i) {
        receipt.lineTo(75 - 5 * (2 * i + 1), 74.5);
        receipt.lineTo(75 - 10 * (i + 1), 79);
    }
    receipt.lineTo(25, 25);
    receipt.cubicTo(25, 21.7, 27.7, 19, 31, 19);
    receipt.closeSubpath();
    c.fill(receipt, tone.primary());
    c.capsule(32, 28, 22, 4.6, tone.cutout(0.82));
    c.capsule(32, 38, 20, 3.6, tone.cutout(0.56));
    c.capsule(58, 38, 10, 3.6, tone.cutout(0.56));
    c.capsule(32, 45, 16, 3.6, tone.cutout(0.56));
    c.capsule(58, 45, 10, 3.6, tone.cutout(0.56));
    c.line(32, 54, 68, 54, tone.cutout(0.5), 1.8);
    c.capsule(32, 60, 12, 5.5, tone.cutout(0.7));
    c.capsule(50, 60, 18, 5.5, tone.onPrimaryAccent());
}

// A pie chart with one slice pulled out: primary and accent only, the same in both modes.
void VornEmblemArtworkProductivity::drawVornBudget(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPointF centre(47, 53);
    c.fill(emblemWedge(centre, 27, 0, 130), tone.primary());
    c.fill(emblemWedge(centre + QPointF(-1.2, 1.0), 27, 134, 270), tone.primaryAlpha(0.6));
    c.fill(emblemWedge(centre + QPointF(5, -5), 27, -90, 0), tone.accent());
}

// A streak of days: done, missed and today.
void VornEmblemArtworkProductivity::drawVornHabit(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const int index = row * 3 + column;
            const double x = 22 + column * 20;
            const double y = 22 + row * 20;
            if (index == 4) {
                const QPainterPath cell = emblemRoundedRect(x + 1.3, y + 1.3, 13.4, 13.4, 4.2);
                c.fill(cell, tone.soft());
                c.stroke(cell, tone.primaryAlpha(0.62), 2.6);
            } else if (index == 7) {
                c.roundedRect(x, y, 16, 16, 5, tone.accent());
            } else if (index == 8) {
                const QPainterPath cell = emblemRoundedRect(x + 1.3, y + 1.3, 13.4, 13.4, 4.2);
                c.stroke(cell, tone.stroke(), 2.6);
            } else {
                c.roundedRect(x, y, 16, 16, 5, tone.primary());
                c.stroke(emblemPolyline({{x + 4.5, y + 8.5}, {x + 7, y + 11}, {x + 11.5, y + 5.5}}, false),
                         tone.cutout(1.0), 2.4);
            }
        }
    }
}

// A rocket taking off.
void VornEmblemArtworkProductivity::drawVornLauncher(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    painter.save();
    painter.translate(50, 50);
    painter.rotate(-45);
    QPainterPath flame(QPointF(-17, -5));
    flame.cubicTo(-24, -4, -30, -1, -33, 0);
    flame.cubicTo(-30, 1, -24, 4, -17, 5);
    flame.closeSubpath();
    c.fill(flame, tone.accent());
    QPainterPath fins(QPointF(-12, -8));
    fins.lineTo(-22, -18);
    fins.lineTo(-14, -18);
    fins.lineTo(-2, -9);
    fins.closeSubpath();
    fins.moveTo(-12, 8);
    fins.lineTo(-22, 18);
    fins.lineTo(-14, 18);
    fins.lineTo(-2, 9);
    fins.closeSubpath();
    c.fill(fins, tone.mid());
    QPainterPath body(QPointF(30, 0));
    body.cubicTo(22, -9, 10, -11, -16, -10);
    body.lineTo(-16, 10);
    body.cubicTo(10, 11, 22, 9, 30, 0);
    body.closeSubpath();
    c.gapPath(body, 1.8);
    c.fill(body, tone.primary());
    c.fillCircle(6, 0, 4.8, tone.cutout(1.0));
    c.line(-10, -7, -10, 7, tone.cutout(0.55), 2.2);
    painter.restore();
}

// Code brackets on a plate.
void VornEmblemArtworkProductivity::drawVornSnippets(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(19, 23, 62, 54, 10, tone.primary());
    c.stroke(emblemPolyline({{38, 39}, {28, 50}, {38, 61}}, false), tone.cutout(1.0), 5);
    c.stroke(emblemPolyline({{62, 39}, {72, 50}, {62, 61}}, false), tone.cutout(1.0), 5);
    c.line(54, 37, 46, 63, tone.onPrimaryAccent(), 5);
}
