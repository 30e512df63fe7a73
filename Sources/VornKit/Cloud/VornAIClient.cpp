#include "VornAIClient.h"

#include "VornJSON.h"
#include "VornLanguage.h"
#include "VornLocalizationStore.h"
#include "VornLoopback.h"
#include "VornURLComponents.h"
#include "VornUnicode.h"

#include <nlohmann/json.hpp>
#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>

namespace {

constexpr std::string_view accountSiteHost = "account.vornworks.com";
constexpr std::size_t errorMessageCharacters = 300;

// The first `count` user-perceived characters of `text`.
std::string prefixCharacters(const std::string& text, std::size_t count) {
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !characters) {
        return text.substr(0, count);
    }
    characters->setText(unicode);
    int32_t end = characters->first();
    for (std::size_t taken = 0; taken < count; ++taken) {
        const int32_t next = characters->next();
        if (next == icu::BreakIterator::DONE) {
            return text;
        }
        end = next;
    }
    std::string prefix;
    unicode.tempSubString(0, end).toUTF8String(prefix);
    return prefix;
}

bool holdsLineBreakOrNul(std::string_view key) {
    return key.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The reply text of the three shapes the services answer with, in this order: OpenAI-style
// "choices", then Ollama-style "message", then a plain "response".
std::optional<std::string> replyText(const nlohmann::json& json) {
    if (const auto choices = json.find("choices"); choices != json.end() && choices->is_array() && !choices->empty()) {
        const nlohmann::json& first = choices->front();
        if (first.is_object()) {
            if (const auto message = first.find("message"); message != first.end() && message->is_object()) {
                if (const auto content = message->find("content"); content != message->end() && content->is_string()) {
                    return content->get<std::string>();
                }
            }
        }
    }
    if (const auto message = json.find("message"); message != json.end() && message->is_object()) {
        if (const auto content = message->find("content"); content != message->end() && content->is_string()) {
            return content->get<std::string>();
        }
    }
    if (const auto response = json.find("response"); response != json.end() && response->is_string()) {
        return response->get<std::string>();
    }
    return std::nullopt;
}

std::string english(VornAIClientError::Kind kind, int statusCode, const std::string& message) {
    switch (kind) {
    case VornAIClientError::Kind::httpError: return "HTTP " + std::to_string(statusCode) + ": " + message;
    case VornAIClientError::Kind::invalidEndpoint: return "Invalid AI endpoint URL.";
    case VornAIClientError::Kind::missingAPIKey:
        return "API key or Vornworks credit token is required for this provider.";
    case VornAIClientError::Kind::emptyResponse: return "Provider returned an empty response.";
    }
    return message;
}

}  // namespace

void to_json(nlohmann::json& json, VornAIProvider provider) { json = rawValue(provider); }

void from_json(const nlohmann::json& json, VornAIProvider& provider) {
    provider = vornJSONGetEnumOrTypeError<VornAIProvider>(json);
}

std::string displayName(VornAIProvider provider) { return displayName(provider, VornLanguage::current()); }

std::string displayName(VornAIProvider provider, VornLanguage language) {
    const std::string host(accountSiteHost);
    switch (provider) {
    case VornAIProvider::ollamaLocal:
        return vornText("Local Ollama (100% Offline)", "Yerel Ollama (%100 Çevrimdışı)", std::nullopt, language);
    case VornAIProvider::openAI:
        return vornText("OpenAI-Compatible (BYO Key)", "OpenAI Uyumlu (Kendi Anahtarın)", std::nullopt, language);
    case VornAIProvider::vornWorksCredits:
        return vornText("Vornworks Credits (" + host + ")", "Vornworks Kredisi (" + host + ")", std::nullopt, language);
    }
    return {};
}

std::string_view defaultEndpoint(VornAIProvider provider) {
    switch (provider) {
    case VornAIProvider::ollamaLocal: return "http://127.0.0.1:11434/api/chat";
    case VornAIProvider::openAI: return "https://api.openai.com/v1/chat/completions";
    case VornAIProvider::vornWorksCredits: return "https://api.vornworks.com/v1/ai/chat";
    }
    return {};
}

std::string_view defaultModel(VornAIProvider provider) {
    switch (provider) {
    case VornAIProvider::ollamaLocal: return "llama3.2";
    case VornAIProvider::openAI: return "gpt-4o-mini";
    case VornAIProvider::vornWorksCredits: return "vornworks-doc-fast";
    }
    return {};
}

VornAIConfig::VornAIConfig(VornAIProvider provider, std::optional<std::string> endpointURL,
                           std::optional<std::string> model)
    : provider(provider),
      endpointURL(endpointURL ? std::move(*endpointURL) : std::string(defaultEndpoint(provider))),
      model(model ? std::move(*model) : std::string(defaultModel(provider))) {}

void to_json(nlohmann::json& json, const VornAIConfig& config) {
    json = {{"provider", config.provider}, {"endpointURL", config.endpointURL}, {"model", config.model}};
}

void from_json(const nlohmann::json& json, VornAIConfig& config) {
    config = VornAIConfig(json.at("provider").get<VornAIProvider>(), json.at("endpointURL").get<std::string>(),
                          json.at("model").get<std::string>());
}

VornAIClientError::VornAIClientError(Kind kind, int statusCode, std::string message)
    : kind_(kind), statusCode_(statusCode), message_(std::move(message)),
      english_(english(kind_, statusCode_, message_)) {}

std::string VornAIClientError::errorDescription() const { return errorDescription(VornLanguage::current()); }

std::string VornAIClientError::errorDescription(VornLanguage language) const {
    switch (kind_) {
    case Kind::httpError: return english_;
    case Kind::invalidEndpoint: return vornText(english_, "Geçersiz AI uç noktası adresi.", std::nullopt, language);
    case Kind::missingAPIKey:
        return vornText(english_, "Bu sağlayıcı için API anahtarı veya Vornworks kredi jetonu gereklidir.",
                        std::nullopt, language);
    case Kind::emptyResponse: return vornText(english_, "Sağlayıcı boş yanıt döndürdü.", std::nullopt, language);
    }
    return english_;
}

VornHTTPOptions VornAIClient::defaultSession() {
    VornHTTPOptions options;
    options.connectTimeout = std::chrono::seconds(90);
    options.idleTimeout = std::chrono::seconds(90);
    return options;
}

std::string VornAIClient::complete(std::string_view systemPrompt, std::string_view userPrompt,
                                   const VornAIConfig& config, const std::optional<std::string>& apiKey,
                                   std::stop_token stopToken) const {
    const auto endpoint = VornURLComponents::parse(config.endpointURL);
    if (!endpoint || (endpoint->scheme != "http" && endpoint->scheme != "https") || !endpoint->host ||
        endpoint->host->empty()) {
        throw VornAIClientError::invalidEndpoint();
    }
    const bool local = config.provider == VornAIProvider::ollamaLocal;
    // A key that could end the Authorization field early is no usable key at all.
    if (!local && (!apiKey || VornUnicode::trimmed(*apiKey).empty() || holdsLineBreakOrNul(*apiKey))) {
        throw VornAIClientError::missingAPIKey();
    }

    VornHTTPRequest request;
    request.method = "POST";
    request.url = config.endpointURL;
    request.setHeader("Content-Type", "application/json");
    if (!local) {
        request.setHeader("Authorization", "Bearer " + *apiKey);
    }
    nlohmann::json body = {{"model", config.model},
                           {"messages",
                            {{{"role", "system"}, {"content", systemPrompt}},
                             {{"role", "user"}, {"content", userPrompt}}}}};
    if (local) {
        body["stream"] = false;
    }
    VornHTTPOptions options = session;
    options.bypassProxy = options.bypassProxy || vornIsLoopbackURL(config.endpointURL);

    const VornHTTPResponse response = VornHTTPClient::send(request, VornHTTPBody::bytes(body.dump()),
                                                           VornHTTPSink::memory(maxReplyBytes), options, stopToken);
    if (response.statusCode < 200 || response.statusCode > 299) {
        const std::string text = VornUnicode::isValidUTF8(response.body) ? response.body : std::string();
        throw VornAIClientError::httpError(response.statusCode, prefixCharacters(text, errorMessageCharacters));
    }
    const nlohmann::json reply = vornJSONParse(response.body, maxReplyBytes);
    if (!reply.is_object()) {
        throw VornAIClientError::emptyResponse();
    }
    if (auto text = replyText(reply)) {
        return VornUnicode::trimmed(*text);
    }
    throw VornAIClientError::emptyResponse();
}
