#pragma once

#include "VornHTTPClient.h"

#include "VornRawValue.h"

#include <array>
#include <exception>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

class VornLanguage;

// The kinds of chat service the client talks to.
enum class VornAIProvider { ollamaLocal, openAI, vornWorksCredits };

// "ollamaLocal", "openAI", "vornWorksCredits": also the identity.
template <>
struct VornRawValueTable<VornAIProvider> {
    static constexpr std::string_view typeName = "VornAIProvider";
    static constexpr std::array entries{
        std::pair{VornAIProvider::ollamaLocal, std::string_view("ollamaLocal")},
        std::pair{VornAIProvider::openAI, std::string_view("openAI")},
        std::pair{VornAIProvider::vornWorksCredits, std::string_view("vornWorksCredits")},
    };
};

void to_json(nlohmann::json& json, VornAIProvider provider);
void from_json(const nlohmann::json& json, VornAIProvider& provider);

// The provider's name in the current interface language.
std::string displayName(VornAIProvider provider);
std::string displayName(VornAIProvider provider, VornLanguage language);
std::string_view defaultEndpoint(VornAIProvider provider);
std::string_view defaultModel(VornAIProvider provider);

// The stored choice of provider, endpoint and model.
struct VornAIConfig {
    VornAIProvider provider = VornAIProvider::ollamaLocal;
    std::string endpointURL;
    std::string model;

    // The local server with its defaults.
    VornAIConfig() : VornAIConfig(VornAIProvider::ollamaLocal) {}
    // An absent endpoint or model takes the provider's default; a given one, even empty, stays.
    explicit VornAIConfig(VornAIProvider provider, std::optional<std::string> endpointURL = std::nullopt,
                          std::optional<std::string> model = std::nullopt);

    friend bool operator==(const VornAIConfig&, const VornAIConfig&) = default;
};

// Keys "provider", "endpointURL", "model"; all three are required when read.
void to_json(nlohmann::json& json, const VornAIConfig& config);
void from_json(const nlohmann::json& json, VornAIConfig& config);

class VornAIClientError : public std::exception {
public:
    enum class Kind { httpError, invalidEndpoint, missingAPIKey, emptyResponse };

    static VornAIClientError httpError(int statusCode, std::string message) {
        return {Kind::httpError, statusCode, std::move(message)};
    }
    static VornAIClientError invalidEndpoint() { return {Kind::invalidEndpoint, 0, {}}; }
    static VornAIClientError missingAPIKey() { return {Kind::missingAPIKey, 0, {}}; }
    static VornAIClientError emptyResponse() { return {Kind::emptyResponse, 0, {}}; }

    Kind kind() const { return kind_; }
    int statusCode() const { return statusCode_; }
    const std::string& message() const { return message_; }

    // The user's text in the current interface language.
    std::string errorDescription() const;
    std::string errorDescription(VornLanguage language) const;
    // English, for logs.
    const char* what() const noexcept override { return english_.c_str(); }

    friend bool operator==(const VornAIClientError& a, const VornAIClientError& b) {
        return a.kind_ == b.kind_ && a.statusCode_ == b.statusCode_ && a.message_ == b.message_;
    }

private:
    VornAIClientError(Kind kind, int statusCode, std::string message);

    Kind kind_;
    int statusCode_;
    std::string message_;
    std::string english_;
};

// One chat-completion request per call: a system prompt and a user prompt in, the reply text out.
struct VornAIClient {
    // How requests are sent: connect and idle time-outs of 90 seconds.
    VornHTTPOptions session = defaultSession();
    // A reply body larger than this is refused.
    static constexpr std::size_t maxReplyBytes = 8 * 1024 * 1024;

    static VornHTTPOptions defaultSession();

    // Throws VornAIClientError (bad endpoint, missing key, error status, no reply text),
    // VornHTTPError when the exchange fails, nlohmann::json::exception when a prompt is not valid
    // UTF-8, VornDecodingError when a 2xx body is not JSON (or nests too deeply), and VornTaskCancelled when `stopToken` asks to stop.
    std::string complete(std::string_view systemPrompt, std::string_view userPrompt, const VornAIConfig& config,
                         const std::optional<std::string>& apiKey, std::stop_token stopToken = {}) const;
};
