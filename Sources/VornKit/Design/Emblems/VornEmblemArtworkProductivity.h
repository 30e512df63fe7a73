#pragma once

#include "VornAppIdentity.h"
#include "VornEmblemTone.h"

class QPainter;

// The emblems of the productivity applications: sheets, cards, trays, tools.
struct VornEmblemArtworkProductivity {
    // Draws the identity's emblem when it belongs to this family; false (and nothing drawn) otherwise.
    static bool draw(VornAppIdentity identity, QPainter& painter, const VornEmblemTone& tone);

private:
    static void drawVornNotes(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornTasks(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornMail(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornCalendar(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornDocs(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornSheets(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornSlides(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornPdf(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornScan(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornClip(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornType(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornFocus(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornTimer(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornMarkdown(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornJournal(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornContacts(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornReader(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornTranslate(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornLexicon(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornMind(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornForms(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornSign(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornInvoice(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornBudget(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornHabit(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornLauncher(QPainter& painter, const VornEmblemTone& tone);
    static void drawVornSnippets(QPainter& painter, const VornEmblemTone& tone);
};
