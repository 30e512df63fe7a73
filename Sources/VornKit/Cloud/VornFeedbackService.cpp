#include "VornFeedbackService.h"

#include "VornAppIdentity.h"
#include "VornBundle.h"
#include "VornByteFormatter.h"
#include "VornDesktop.h"
#include "VornJSON.h"
#include "VornLocalizationStore.h"
#include "VornLoopback.h"
#include "VornURLComponents.h"
#include "VornUnicode.h"
#include "VornUserDefaults.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <sys/utsname.h>

namespace {

// A base address as configured: blanks around it and "/" at either end removed.
std::string cleanedBaseURL(std::string_view text) {
    std::string value = VornUnicode::trimmed(text);
    const std::size_t first = value.find_first_not_of('/');
    if (first == std::string::npos) {
        return {};
    }
    return value.substr(first, value.find_last_not_of('/') - first + 1);
}

// Components of a web address (http or https with a host); nothing for anything else, so that no
// configured value can make us open a local file or another scheme.
std::optional<VornURLComponents> webAddress(std::string_view text) {
    auto parts = VornURLComponents::parse(text);
    if (!parts || (parts->scheme != "http" && parts->scheme != "https") || !parts->host || parts->host->empty()) {
        return std::nullopt;
    }
    return parts;
}

// Text that may stand in a header field: control characters (CR, LF and NUL among them) removed.
std::string headerSafe(std::string_view text) {
    std::string out;
    VornUnicode::forEachCodePoint(text, [&](const VornCodePoint& point) {
        if (point.valid && !VornUnicode::isControl(point.value)) {
            out.append(text.substr(point.offset, point.length));
        }
    });
    return out;
}

std::string thankYou(VornLanguage language) {
    return vornText("Thank you! Your feedback has been received.", "Teşekkürler! Geri bildiriminiz bize ulaştı.",
                    std::nullopt, language);
}

std::string english(VornFeedbackError::Kind kind, std::int64_t number, const std::string& text) {
    using K = VornFeedbackError::Kind;
    switch (kind) {
    case K::tooManyScreenshots: return "You can attach up to " + std::to_string(number) + " screenshots.";
    case K::screenshotTooLarge: return "Each screenshot must be smaller than " + std::to_string(number) + " MB.";
    case K::serverRejected: return text;
    case K::networkFailure:
        return "Could not reach " + std::string(VornFeedbackService::siteHost) + " (" + text +
               "). You can open the feedback page in your browser instead.";
    case K::invalidEndpoint: return "Feedback server address could not be resolved.";
    case K::invalidEmail: return "Please enter a valid email address.";
    case K::messageTooShort: return "Please write a bit more detail (at least 10 characters).";
    }
    return text;
}

VornFeedbackReceipt parseReceipt(const std::string& body, std::size_t screenshotCount, VornLanguage language) {
    VornFeedbackReceipt receipt{"VORN-FB-OK", static_cast<std::int64_t>(screenshotCount), thankYou(language)};
    const nlohmann::json json = vornJSONParseOrDiscarded(body, VornFeedbackService::maxReplyBytes);
    if (json.is_discarded() || !json.is_object()) {
        return receipt;  // a success whose body says nothing is still a success
    }
    if (const auto code = json.find("reference_code"); code != json.end() && code->is_string()) {
        receipt.referenceCode = code->get<std::string>();
    }
    if (const auto count = json.find("attachments_count"); count != json.end() && count->is_number_integer() &&
                                                            !(count->is_number_unsigned() &&
                                                              count->get<std::uint64_t>() > INT64_MAX)) {
        receipt.attachmentsCount = count->get<std::int64_t>();
    }
    if (const auto message = json.find("message"); message != json.end() && message->is_string()) {
        receipt.message = message->get<std::string>();
    }
    return receipt;
}

std::string rejection(const VornHTTPResponse& response) {
    const nlohmann::json json = vornJSONParseOrDiscarded(response.body, VornFeedbackService::maxReplyBytes);
    if (!json.is_discarded() && json.is_object()) {
        if (const auto message = json.find("message");
            message != json.end() && message->is_string() && !message->get<std::string>().empty()) {
            return message->get<std::string>();
        }
    }
    return "HTTP " + std::to_string(response.statusCode);
}

}  // namespace

std::string_view symbolName(VornFeedbackKind kind) {
    switch (kind) {
    case VornFeedbackKind::bug: return "ladybug.fill";
    case VornFeedbackKind::feature: return "sparkles";
    case VornFeedbackKind::newApp: return "lightbulb.fill";
    case VornFeedbackKind::general: return "bubble.left.and.bubble.right.fill";
    }
    return "bubble.left.and.bubble.right.fill";
}

std::string title(VornFeedbackKind kind, VornLanguage language) {
    switch (kind) {
    case VornFeedbackKind::bug: return vornText("Bug Report", "Hata Bildirimi", std::nullopt, language);
    case VornFeedbackKind::feature:
        return vornText("Feature & Improvement", "Özellik & İyileştirme", std::nullopt, language);
    case VornFeedbackKind::newApp: return vornText("New App Idea", "Yeni Program Fikri", std::nullopt, language);
    case VornFeedbackKind::general: return vornText("General Feedback", "Genel Görüş", std::nullopt, language);
    }
    return {};
}

std::string VornFeedbackScreenshot::formattedSize() const {
    return VornByteFormatter::format(static_cast<std::int64_t>(data.size()));
}

VornFeedbackError::VornFeedbackError(Kind kind, std::int64_t number, std::string text)
    : kind_(kind), number_(number), text_(std::move(text)), english_(english(kind_, number_, text_)) {}

std::string VornFeedbackError::errorDescription(VornLanguage language) const {
    const std::string host(VornFeedbackService::siteHost);
    const std::string n = std::to_string(number_);
    switch (kind_) {
    case Kind::tooManyScreenshots:
        return vornText(english_, "En fazla " + n + " ekran görüntüsü ekleyebilirsiniz.", std::nullopt, language);
    case Kind::screenshotTooLarge:
        return vornText(english_, "Her ekran görüntüsü en fazla " + n + " MB olabilir.", std::nullopt, language);
    case Kind::serverRejected: return text_;
    case Kind::networkFailure:
        return vornText(english_,
                        host + " adresine ulaşılamadı (" + text_ + "). Dilerseniz tarayıcıdan göndermeyi deneyebilirsiniz.",
                        std::nullopt, language);
    case Kind::invalidEndpoint:
        return vornText(english_, "Geri bildirim sunucu adresi çözümlenemedi.", std::nullopt, language);
    case Kind::invalidEmail:
        return vornText(english_, "Lütfen geçerli bir e-posta adresi girin.", std::nullopt, language);
    case Kind::messageTooShort:
        return vornText(english_, "Lütfen en az 10 karakterlik kısa bir açıklama yazın.", std::nullopt, language);
    }
    return english_;
}

std::string VornFeedbackService::resolvedBaseURL(const std::optional<std::string>& override) {
    std::optional<std::string> candidates[3];
    candidates[0] = override;
    if (const char* environment = std::getenv(std::string(baseURLEnvironmentKey).c_str())) {
        candidates[1] = environment;
    }
    candidates[2] = VornUserDefaults::standard().string(baseURLDefaultsKey);
    for (const auto& candidate : candidates) {
        if (candidate && !VornUnicode::trimmed(*candidate).empty()) {
            return cleanedBaseURL(*candidate);
        }
    }
    return std::string(defaultBaseURL);
}

std::string VornFeedbackService::normalizedAppSlug(std::string_view from) {
    return VornAppIdentities::normalizedName(from);
}

std::string VornFeedbackService::resolvedCurrentAppName(const VornBundle& bundle, std::string_view fallback) {
    const std::optional<std::string> candidates[] = {bundle.infoText(VornBundle::displayNameKey),
                                                     bundle.infoText(VornBundle::nameKey), VornBundle::processName()};
    for (const auto& candidate : candidates) {
        if (candidate) {
            std::string name = VornUnicode::trimmed(*candidate);
            if (!name.empty()) {
                return name;
            }
        }
    }
    return std::string(fallback);
}

std::string VornFeedbackService::currentOSDescription() {
    utsname system{};
    if (::uname(&system) != 0) {
        return "Linux 0.0.0 (unknown)";
    }
    // "6.1.0-18-amd64" -> 6, 1, 0; missing numbers count as 0.
    std::string_view release = system.release;
    std::string numbers;
    for (int part = 0; part < 3; ++part) {
        std::size_t digits = 0;
        while (digits < release.size() && release[digits] >= '0' && release[digits] <= '9') {
            ++digits;
        }
        numbers += (part > 0 ? "." : "") + (digits > 0 ? std::string(release.substr(0, digits)) : std::string("0"));
        release.remove_prefix(digits);
        if (release.starts_with('.')) {
            release.remove_prefix(1);
        } else {
            release = {};
        }
    }
    return "Linux " + numbers + " (" + system.machine + ")";
}

std::optional<std::string> VornFeedbackService::webFeedbackURL(std::string_view appName, const VornAppVersion& version,
                                                               VornFeedbackKind kind, VornLanguage language,
                                                               const std::optional<std::string>& baseURL) {
    const std::string path =
        language == VornLanguage::tr ? "/tr/geri-bildirim" : "/" + std::string(language.code()) + "/feedback";
    auto parts = webAddress(resolvedBaseURL(baseURL) + path);
    if (!parts) {
        return std::nullopt;
    }
    std::vector<std::pair<std::string, std::string>> items{
        {"type", rawValue(kind)}, {"source", "desktop_app"}, {"os", currentOSDescription()}};
    if (const std::string slug = normalizedAppSlug(appName); !slug.empty()) {
        items.emplace_back("app", slug);
    }
    if (!version.shortVersion.empty()) {
        items.emplace_back("version", version.shortVersion);
    }
    std::string query;
    for (const auto& [name, value] : items) {
        query += (query.empty() ? "" : "&") + VornURLComponents::percentEncodeUnreserved(name) + "=" +
                 VornURLComponents::percentEncodeUnreserved(value);
    }
    parts->percentEncodedQuery = query;
    return parts->string();
}

void VornFeedbackService::openInBrowser(std::string_view appName, const VornAppVersion& version, VornFeedbackKind kind,
                                        VornLanguage language, const std::optional<std::string>& baseURL) {
    if (const auto address = webFeedbackURL(appName, version, kind, language, baseURL)) {
        VornDesktop::open(*address);
    }
}

VornHTTPOptions VornFeedbackService::defaultSession() {
    VornHTTPOptions options;
    options.connectTimeout = std::chrono::seconds(25);
    options.idleTimeout = std::chrono::seconds(25);
    return options;
}

VornFeedbackReceipt VornFeedbackService::submit(std::string_view appName, const VornAppVersion& version,
                                                VornFeedbackKind kind, std::string_view email,
                                                std::string_view senderName, std::string_view subject,
                                                std::string_view message,
                                                const std::vector<VornFeedbackScreenshot>& screenshots,
                                                VornLanguage language, const std::optional<std::string>& baseURL,
                                                const VornHTTPOptions& session, std::stop_token stopToken) {
    const std::string cleanEmail = VornUnicode::trimmed(email);
    if (cleanEmail.find('@') == std::string::npos || cleanEmail.find('.') == std::string::npos ||
        VornUnicode::graphemeCount(cleanEmail) <= 4) {
        throw VornFeedbackError::invalidEmail();
    }
    const std::string cleanMessage = VornUnicode::trimmed(message);
    if (VornUnicode::graphemeCount(cleanMessage) <= 9) {
        throw VornFeedbackError::messageTooShort();
    }
    if (screenshots.size() > maxScreenshots) {
        throw VornFeedbackError::tooManyScreenshots(static_cast<std::int64_t>(maxScreenshots));
    }
    for (const VornFeedbackScreenshot& screenshot : screenshots) {
        if (screenshot.data.size() > maxScreenshotBytes) {
            throw VornFeedbackError::screenshotTooLarge(static_cast<std::int64_t>(maxScreenshotBytes / (1024 * 1024)));
        }
    }
    const std::string endpoint = resolvedBaseURL(baseURL) + "/api/v1/feedback";
    if (!webAddress(endpoint)) {
        throw VornFeedbackError::invalidEndpoint();
    }

    const std::string boundary = "VornFeedback-" + VornUUID::random().uuidString();
    std::string cleanSubject = VornUnicode::trimmed(subject);
    if (VornUnicode::graphemeCount(cleanSubject) < 3) {
        cleanSubject = std::string(appName) + " \u2014 " + title(kind, language);
    }
    const std::vector<std::pair<std::string, std::string>> fields{
        {"type", rawValue(kind)},
        {"program_slug", kind == VornFeedbackKind::newApp ? "new_app" : normalizedAppSlug(appName)},
        {"program_name", std::string(appName)},
        {"email", cleanEmail},
        {"sender_name", VornUnicode::trimmed(senderName)},
        {"subject", cleanSubject},
        {"message", cleanMessage},
        {"app_version", version.shortVersion},
        {"os_info", currentOSDescription()},
        {"locale", std::string(language.code())},
        {"source", "desktop_app"},
    };

    VornHTTPRequest request;
    request.method = "POST";
    request.url = endpoint;
    request.setHeader("Content-Type", "multipart/form-data; boundary=" + boundary);
    request.setHeader("Accept", "application/json");
    request.setHeader("User-Agent", "Vornworks/" + headerSafe(appName) + " VornKit");
    VornHTTPOptions options = session;
    options.bypassProxy = options.bypassProxy || vornIsLoopbackURL(endpoint);

    VornHTTPResponse response;
    try {
        response = VornHTTPClient::send(request, VornHTTPBody::bytes(buildMultipartBody(boundary, fields, screenshots)),
                                        VornHTTPSink::memory(maxReplyBytes), options, stopToken);
    } catch (const VornHTTPError& failure) {
        throw VornFeedbackError::networkFailure(failure.what());
    }
    if (response.statusCode >= 200 && response.statusCode <= 299) {
        return parseReceipt(response.body, screenshots.size(), language);
    }
    throw VornFeedbackError::serverRejected(rejection(response));
}

std::string VornFeedbackService::buildMultipartBody(std::string_view boundary,
                                                    const std::vector<std::pair<std::string, std::string>>& fields,
                                                    const std::vector<VornFeedbackScreenshot>& screenshots) {
    const std::string separator = "--" + std::string(boundary) + "\r\n";
    std::string body;
    for (const auto& [name, value] : fields) {
        if (value.empty()) {
            continue;
        }
        body += separator;
        body += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
        body += value + "\r\n";
    }
    for (const VornFeedbackScreenshot& screenshot : screenshots) {
        std::string filename;
        for (const char c : screenshot.filename) {
            if (c != '"' && c != '\r' && c != '\n') {
                filename += c;
            }
        }
        body += separator;
        body += "Content-Disposition: form-data; name=\"screenshots[]\"; filename=\"" + filename + "\"\r\n";
        body += "Content-Type: " + screenshot.mimeType + "\r\n\r\n";
        body += screenshot.data;
        body += "\r\n";
    }
    body += "--" + std::string(boundary) + "--\r\n";
    return body;
}
