#pragma once

#include "VornAppVersion.h"
#include "VornFeedbackService.h"
#include "VornLanguage.h"

#include <QAbstractButton>

#include <optional>
#include <string>

enum class VornFeedbackButtonStyle { compactIcon, labeledPill };

// Opens the running application's feedback page in the browser. compactIcon is a small glass
// capsule with the symbol only (its help text is also its accessible name); labeledPill is a glass
// button with the symbol and a title.
class VornFeedbackButton : public QAbstractButton {
public:
    VornFeedbackButton(std::string appName, VornAppVersion version, VornFeedbackKind kind, VornLanguage language,
                       VornFeedbackButtonStyle style, std::optional<std::string> baseURL = std::nullopt,
                       QWidget* parent = nullptr);

    const std::string& appName() const { return appName_; }
    const VornAppVersion& version() const { return version_; }
    VornFeedbackKind kind() const { return kind_; }
    VornLanguage language() const { return language_; }
    VornFeedbackButtonStyle style() const { return style_; }
    const std::optional<std::string>& baseURL() const { return baseURL_; }

    // The texts follow at once.
    void setLanguage(VornLanguage language);
    // "Listening to you — Report a bug or share an idea", in the button's language.
    QString helpText() const;
    // The labelled pill's title; the compact icon shows none.
    QString title() const;
    // The page a click opens (the feedback service's address for the button's values).
    std::optional<std::string> feedbackURL() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr std::string_view symbolName = "bubble.left.and.exclamationmark.bubble.right";

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void retranslate();
    std::string appName_;
    VornAppVersion version_;
    VornFeedbackKind kind_;
    VornLanguage language_;
    VornFeedbackButtonStyle style_;
    std::optional<std::string> baseURL_;
};
