#pragma once

#include <QTranslator>

// Qt's own widgets (message-box and dialog-box buttons, the file chooser, the edit menu of text
// fields and labels, scroll-bar menus) write their texts in English. This translator gives them
// the user's current language through vornText, read each time a text is made, so a dialog made
// after a language change speaks the new language. English keeps Qt's texts as they are.
class VornStandardTextTranslator final : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return false; }
};

// Installs one translator on the application (a second call does nothing).
void vornInstallStandardTexts();
