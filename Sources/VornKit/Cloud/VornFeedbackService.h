#pragma once

#include "VornAppVersion.h"
#include "VornHTTPClient.h"
#include "VornLanguage.h"
#include "VornRawValue.h"
#include "VornUUID.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class VornBundle;

enum class VornFeedbackKind { bug, feature, newApp, general };

// "bug", "feature", "new_app", "general".
template <>
struct VornRawValueTable<VornFeedbackKind> {
    static constexpr std::string_view typeName = "VornFeedbackKind";
    static constexpr std::array entries{
        std::pair{VornFeedbackKind::bug, std::string_view("bug")},
        std::pair{VornFeedbackKind::feature, std::string_view("feature")},
        std::pair{VornFeedbackKind::newApp, std::string_view("new_app")},
        std::pair{VornFeedbackKind::general, std::string_view("general")},
    };
};
// The icon's symbol name ("ladybug.fill", ...).
std::string_view symbolName(VornFeedbackKind kind);
// "Bug Report", "Feature & Improvement", "New App Idea", "General Feedback" (and the Turkish titles).
std::string title(VornFeedbackKind kind, VornLanguage language);

// One image sent with the feedback.
struct VornFeedbackScreenshot {
    VornUUID id;
    std::string filename;
    std::string mimeType;  // "image/png"
    std::string data;      // the image file's bytes

    // The size of `data` in decimal units ("1.5 MB").
    std::string formattedSize() const;
};

// What the feedback server answered to a submission.
struct VornFeedbackReceipt {
    std::string referenceCode;
    std::int64_t attachmentsCount = 0;
    std::string message;

    friend bool operator==(const VornFeedbackReceipt&, const VornFeedbackReceipt&) = default;
};

class VornFeedbackError : public std::exception {
public:
    enum class Kind {
        tooManyScreenshots,  // number(): the allowed count
        screenshotTooLarge,  // number(): the allowed size in MB
        serverRejected,      // text(): what the server said, or "HTTP <status>"
        networkFailure,      // text(): what went wrong on the way
        invalidEndpoint,
        invalidEmail,
        messageTooShort,
    };

    static VornFeedbackError tooManyScreenshots(std::int64_t max) { return {Kind::tooManyScreenshots, max, {}}; }
    static VornFeedbackError screenshotTooLarge(std::int64_t maxMB) { return {Kind::screenshotTooLarge, maxMB, {}}; }
    static VornFeedbackError serverRejected(std::string text) { return {Kind::serverRejected, 0, std::move(text)}; }
    static VornFeedbackError networkFailure(std::string text) { return {Kind::networkFailure, 0, std::move(text)}; }
    static VornFeedbackError invalidEndpoint() { return {Kind::invalidEndpoint, 0, {}}; }
    static VornFeedbackError invalidEmail() { return {Kind::invalidEmail, 0, {}}; }
    static VornFeedbackError messageTooShort() { return {Kind::messageTooShort, 0, {}}; }

    Kind kind() const { return kind_; }
    std::int64_t number() const { return number_; }
    const std::string& text() const { return text_; }

    // The user's text in `language` (by default the current interface language).
    std::string errorDescription(VornLanguage language = VornLanguage::current()) const;
    // English, for logs.
    const char* what() const noexcept override { return english_.c_str(); }

    friend bool operator==(const VornFeedbackError& a, const VornFeedbackError& b) {
        return a.kind_ == b.kind_ && a.number_ == b.number_ && a.text_ == b.text_;
    }

private:
    VornFeedbackError(Kind kind, std::int64_t number, std::string text);

    Kind kind_;
    std::int64_t number_;
    std::string text_;
    std::string english_;
};

// Feedback from every application of the suite: the maker's feedback page opened in the browser,
// or a validated multipart form posted to the feedback server. No state: every call reads the
// environment and the user defaults afresh.
struct VornFeedbackService {
    static constexpr std::string_view defaultBaseURL = "https://feedback.vornworks.com";
    // The feedback site's host as the error texts name it, whatever address is configured.
    static constexpr std::string_view siteHost = "feedback.vornworks.com";
    static constexpr std::string_view baseURLDefaultsKey = "com.vornworks.feedbackBaseURL";
    static constexpr std::string_view baseURLEnvironmentKey = "VORNWORKS_FEEDBACK_BASE_URL";
    static constexpr std::size_t maxScreenshots = 5;
    static constexpr std::size_t maxScreenshotBytes = 5 * 1024 * 1024;
    // A reply body larger than this is not read.
    static constexpr std::size_t maxReplyBytes = 1024 * 1024;

    // The first non-blank of: `override`, $VORNWORKS_FEEDBACK_BASE_URL, the user default
    // "com.vornworks.feedbackBaseURL" (each trimmed of white space and of "/" at both ends);
    // else defaultBaseURL.
    static std::string resolvedBaseURL(const std::optional<std::string>& override = std::nullopt);

    // The application name in lower case with only letters, marks and digits: "Sled Pro 2" -> "sledpro2".
    static std::string normalizedAppSlug(std::string_view from);

    // The first non-blank (trimmed) of the bundle's display name, its name and the process name;
    // else `fallback` unchanged.
    static std::string resolvedCurrentAppName(const VornBundle& bundle, std::string_view fallback);

    // "Linux 6.1.0 (x86_64)": the kernel's major.minor.patch and the machine architecture.
    static std::string currentOSDescription();

    // The feedback page for the application, with type, source, os, app and version in the query;
    // nothing when the base address does not make a web address.
    static std::optional<std::string> webFeedbackURL(std::string_view appName, const VornAppVersion& version,
                                                     VornFeedbackKind kind, VornLanguage language,
                                                     const std::optional<std::string>& baseURL = std::nullopt);

    // Opens webFeedbackURL in the default browser (xdg-open); does nothing without an address.
    static void openInBrowser(std::string_view appName, const VornAppVersion& version, VornFeedbackKind kind,
                              VornLanguage language, const std::optional<std::string>& baseURL = std::nullopt);

    // How submissions are sent: connect and idle time-outs of 25 seconds.
    static VornHTTPOptions defaultSession();

    // Validates everything first (nothing is sent when a check fails), posts the form to
    // <base>/api/v1/feedback and returns the server's receipt. Throws VornFeedbackError, or
    // VornTaskCancelled when `stopToken` asks to stop.
    static VornFeedbackReceipt submit(std::string_view appName, const VornAppVersion& version, VornFeedbackKind kind,
                                      std::string_view email, std::string_view senderName, std::string_view subject,
                                      std::string_view message, const std::vector<VornFeedbackScreenshot>& screenshots,
                                      VornLanguage language, const std::optional<std::string>& baseURL = std::nullopt,
                                      const VornHTTPOptions& session = defaultSession(),
                                      std::stop_token stopToken = {});

    // multipart/form-data: every field with a non-empty value, then every screenshot as
    // "screenshots[]", then the closing boundary. Lines end with CR LF.
    static std::string buildMultipartBody(std::string_view boundary,
                                          const std::vector<std::pair<std::string, std::string>>& fields,
                                          const std::vector<VornFeedbackScreenshot>& screenshots);
};
