#pragma once

#include "VornLanguage.h"

#include <QAbstractButton>
#include <QLocale>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <string_view>

class QComboBox;
class QLabel;
class QMenu;

// vornText for Qt: the pair resolved for `language`, as a QString.
QString vornQText(std::string_view en, std::string_view tr, VornLanguage language);

// Right to left for Arabic, Persian and Hebrew, left to right for every other language.
Qt::LayoutDirection vornLayoutDirection(VornLanguage language);
// The locale whose name is the language's code ("pt-BR").
QLocale vornLocale(VornLanguage language);
// Lays the widget (and the children that inherit it) out in the language's direction.
void vornApplyContentLayoutDirection(QWidget* widget, VornLanguage language);
// Formats numbers and dates in the widget in the language's locale.
void vornApplyLocale(QWidget* widget, VornLanguage language);

// What both language controls share: whether the user follows the system language, and the two
// ways of choosing. Choices go through the framework's language store and are reported to the
// owner, who passes the new language back in; the controls never change their language themselves.
class VornLanguageChoice {
public:
    using OnSelect = std::function<void(VornLanguage)>;

    VornLanguageChoice();

    bool isFollowingSystem() const { return followingSystem_; }
    // Re-reads the stored preference ("system" in any letter case means following the system).
    void syncFromDefaults();
    // Stores "system" and reports the resolved system language. A language the owner applies in
    // response is shown but not stored, so the stored preference stays "system".
    void followSystem(const OnSelect& onSelect);
    // Stores `language` and reports it.
    void choose(VornLanguage language, const OnSelect& onSelect);

    // "System Language (<native name of the resolved system language>)" in `language`.
    static QString systemLanguageLabel(VornLanguage language);

private:
    bool followingSystem_;
};

// A titled picker for settings forms: the system entry, a divider, then every language.
class VornLanguagePicker : public QWidget {
public:
    // No title: "Language" in the given language.
    VornLanguagePicker(std::optional<QString> title, VornLanguage language, bool showTitle,
                       VornLanguageChoice::OnSelect onSelect, QWidget* parent = nullptr);

    VornLanguage language() const { return language_; }
    // The owner passes the language in effect; the texts follow at once.
    void setLanguage(VornLanguage language);
    QString title() const;
    bool isFollowingSystem() const { return choice_.isFollowingSystem(); }
    // system() while following the system, else the language in effect.
    VornLanguageSelection selection() const;
    // What picking an entry does.
    void select(const VornLanguageSelection& selection);
    QComboBox* comboBox() const { return combo_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void retranslate();
    void syncCurrentIndex();
    std::optional<QString> title_;
    VornLanguage language_;
    bool showTitle_;
    VornLanguageChoice::OnSelect onSelect_;
    VornLanguageChoice choice_;
    QLabel* label_;
    QComboBox* combo_;
};

// A compact capsule for toolbars and headers: a globe and the language's short code; clicking
// opens a menu with the system entry and every language, the current choice checked.
class VornLanguageMenuButton : public QAbstractButton {
public:
    VornLanguageMenuButton(VornLanguage language, VornLanguageChoice::OnSelect onSelect, QWidget* parent = nullptr);

    VornLanguage language() const { return language_; }
    void setLanguage(VornLanguage language);
    bool isFollowingSystem() const { return choice_.isFollowingSystem(); }
    // Builds the menu afresh (the stored preference is read again first); the button owns it.
    QMenu* buildMenu();
    // The badge text: "EN", "PT", "PT-PT", "ZH", "ZH-TW", ...
    QString shortCode() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void retranslate();
    VornLanguage language_;
    VornLanguageChoice::OnSelect onSelect_;
    VornLanguageChoice choice_;
    QPointer<QMenu> menu_;
};
