#include "VornAIClient.h"
#include "VornJSON.h"
#include "VornLanguage.h"
#include "VornTaskCancelled.h"
#include "VornTestHTTPServer.h"
#include "VornTestSupport.h"

#include <nlohmann/json.hpp>

namespace {

class AIClientTest : public testing::Test {
protected:
    VornTestHTTPServer server;
    VornAIClient client = [] {
        VornAIClient quick;
        quick.session.connectTimeout = std::chrono::seconds(5);
        quick.session.idleTimeout = std::chrono::seconds(1);
        return quick;
    }();

    VornAIConfig config(VornAIProvider provider, std::string path = "/chat") const {
        return VornAIConfig(provider, server.baseURL() + path, "test-model");
    }

    std::string ask(VornAIProvider provider, const std::optional<std::string>& key = "sk-test") {
        return client.complete("You are terse.", "Say hi", config(provider), key);
    }

    VornAIClientError failureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const VornAIClientError& error) {
            return error;
        }
        ADD_FAILURE() << "no VornAIClientError was thrown";
        return VornAIClientError::emptyResponse();
    }
};

}  // namespace

TEST_F(AIClientTest, RequestsCarryModelMessagesAndTheProvidersHeaders) {
    server.setReply(VornTestHTTPReply::json(200, R"({"message":{"content":" hello "}})"));
    EXPECT_EQ(client.complete("Sys \"quoted\"", "Ünïcode ✓\nline", config(VornAIProvider::ollamaLocal, "/api/chat"),
                              "ignored-key"),
              "hello");
    EXPECT_EQ(ask(VornAIProvider::openAI, "  sk-with-blanks "), "hello");
    EXPECT_EQ(ask(VornAIProvider::vornWorksCredits, "credit-token"), "hello");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
        EXPECT_EQ(request.headerCount("Content-Length"), 1u);
    }
    EXPECT_EQ(requests[0].target, "/api/chat");
    EXPECT_EQ(requests[0].headerCount("Authorization"), 0u);  // never for the local server
    EXPECT_EQ(nlohmann::json::parse(requests[0].body),
              nlohmann::json::parse(R"({"model":"test-model","stream":false,"messages":[
                  {"role":"system","content":"Sys \"quoted\""},{"role":"user","content":"Ünïcode ✓\nline"}]})"));
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer   sk-with-blanks");  // sent as given (the server trims OWS)
    EXPECT_NE(requests[1].raw.find("\r\nAuthorization: Bearer   sk-with-blanks \r\n"), std::string::npos);
    const auto openAIBody = nlohmann::json::parse(requests[1].body);
    EXPECT_FALSE(openAIBody.contains("stream"));
    EXPECT_EQ(openAIBody.at("messages").size(), 2u);
    EXPECT_EQ(requests[2].header("Authorization"), "Bearer credit-token");
}

TEST_F(AIClientTest, EndpointAndKeyAreCheckedBeforeAnythingIsSent) {
    const struct {
        const char* name;
        VornAIConfig config;
        std::optional<std::string> key;
        VornAIClientError expected;
    } cases[] = {
        {"empty endpoint before the key", VornAIConfig(VornAIProvider::openAI, "", std::nullopt), std::nullopt,
         VornAIClientError::invalidEndpoint()},
        {"not an address", VornAIConfig(VornAIProvider::ollamaLocal, "local host:11434", std::nullopt), std::nullopt,
         VornAIClientError::invalidEndpoint()},
        {"no key", config(VornAIProvider::openAI), std::nullopt, VornAIClientError::missingAPIKey()},
        {"blank key", config(VornAIProvider::vornWorksCredits), " \t\n", VornAIClientError::missingAPIKey()},
        {"key with a line break", config(VornAIProvider::openAI), "sk-abc\r\nX-Injected: 1",
         VornAIClientError::missingAPIKey()},
        {"key with NUL", config(VornAIProvider::openAI), std::string("sk-abc\0def", 10),
         VornAIClientError::missingAPIKey()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf([&] { client.complete("s", "u", c.config, c.key); }), c.expected) << c.name;
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(AIClientTest, ReplyShapesAreReadInOrder) {
    const struct {
        const char* body;
        std::optional<std::string> expected;  // nothing: emptyResponse
    } cases[] = {
        {R"({"choices":[{"message":{"content":"  from choices \n"}}],"message":{"content":"no"}})", "from choices"},
        {R"({"choices":[],"response":"  plain  "})", "plain"},
        {R"({"choices":[{"message":{"role":"assistant"}}],"message":{"content":"from message"},"response":"no"})",
         "from message"},
        {R"({"choices":[{"message":{}}],"message":{"content":3},"response":"last resort"})", "last resort"},
        {R"({"choices":"odd","message":"flat","response":"r"})", "r"},
        {R"({"choices":[{"message":{"content":"   "}}]})", ""},
        {R"({"done":true})", std::nullopt},
        {R"(["an","array"])", std::nullopt},
        {R"({"response":null})", std::nullopt},
    };
    for (const auto& c : cases) {
        server.setReply(VornTestHTTPReply::json(200, c.body));
        if (c.expected) {
            EXPECT_EQ(ask(VornAIProvider::openAI), *c.expected) << c.body;
        } else {
            EXPECT_EQ(failureOf([&] { ask(VornAIProvider::openAI); }), VornAIClientError::emptyResponse()) << c.body;
        }
    }
    server.setReply(VornTestHTTPReply::text(200, "not json"));
    EXPECT_THROW(ask(VornAIProvider::openAI), VornDecodingError);
    // A reply nested past the reading limit is refused before anything is built from it.
    server.setReply(VornTestHTTPReply::json(200, std::string(1 << 20, '[')));
    EXPECT_THROW(ask(VornAIProvider::openAI), VornDecodingError);
}

TEST_F(AIClientTest, ErrorStatusesCarryTheFirst300Characters) {
    const std::string ascii(1000, 'e');
    std::string wide;
    for (int i = 0; i < 400; ++i) {
        wide += "ğ";
    }
    const struct {
        VornTestHTTPReply reply;
        VornAIClientError expected;
    } cases[] = {
        {VornTestHTTPReply::text(500, ascii), VornAIClientError::httpError(500, ascii.substr(0, 300))},
        {VornTestHTTPReply::text(401, wide), VornAIClientError::httpError(401, wide.substr(0, 600))},  // 300 × 2 bytes
        {VornTestHTTPReply::json(429, R"({"error":"slow down"})"),
         VornAIClientError::httpError(429, R"({"error":"slow down"})")},
        {VornTestHTTPReply::text(502, "\xff\xfe bad bytes"), VornAIClientError::httpError(502, "")},
        {VornTestHTTPReply::text(404, ""), VornAIClientError::httpError(404, "")},
    };
    for (const auto& c : cases) {
        server.setReply(c.reply);
        EXPECT_EQ(failureOf([&] { ask(VornAIProvider::ollamaLocal, std::nullopt); }), c.expected) << c.reply.status;
    }
    EXPECT_EQ(VornAIClientError::httpError(429, "x").errorDescription(VornLanguage::tr), "HTTP 429: x");
}

TEST_F(AIClientTest, ServersThatHangUpOrFallSilentEndInTransportErrors) {
    for (auto reply : {VornTestHTTPReply::hangUp(), VornTestHTTPReply::staySilent()}) {
        server.setReply(reply);
        EXPECT_THROW(ask(VornAIProvider::openAI), VornHTTPError);
    }
    std::stop_source stop;
    stop.request_stop();
    server.setReply(VornTestHTTPReply::json(200, R"({"response":"x"})"));
    EXPECT_THROW(client.complete("s", "u", config(VornAIProvider::ollamaLocal), std::nullopt, stop.get_token()),
                 VornTaskCancelled);
}

TEST(VornAIConfig, DefaultsCodingAndTexts) {
    const VornAIConfig local(VornAIProvider::ollamaLocal);
    EXPECT_EQ(local.endpointURL, "http://127.0.0.1:11434/api/chat");
    EXPECT_EQ(local.model, "llama3.2");
    EXPECT_EQ(VornAIConfig(VornAIProvider::openAI).model, "gpt-4o-mini");
    EXPECT_EQ(VornAIConfig(VornAIProvider::vornWorksCredits).model, "vornworks-doc-fast");
    EXPECT_TRUE(defaultEndpoint(VornAIProvider::openAI).ends_with("/v1/chat/completions"));
    EXPECT_TRUE(defaultEndpoint(VornAIProvider::vornWorksCredits).ends_with("/v1/ai/chat"));
    const VornAIConfig blank(VornAIProvider::openAI, "", "");
    EXPECT_EQ(blank.endpointURL, "");
    EXPECT_EQ(blank.model, "");

    const nlohmann::json json = VornAIConfig(VornAIProvider::vornWorksCredits, "https://x.test/c", "m");
    EXPECT_EQ(json, nlohmann::json::parse(R"({"provider":"vornWorksCredits","endpointURL":"https://x.test/c","model":"m"})"));
    EXPECT_EQ(json.get<VornAIConfig>(), VornAIConfig(VornAIProvider::vornWorksCredits, "https://x.test/c", "m"));
    for (const char* broken : {R"({"provider":"openAI","endpointURL":"e"})", R"({"provider":"OpenAI","endpointURL":"e","model":"m"})",
                               R"({"provider":"openAI","endpointURL":1,"model":"m"})"}) {
        EXPECT_THROW((void)nlohmann::json::parse(broken).get<VornAIConfig>(), nlohmann::json::exception) << broken;
    }

    EXPECT_EQ(displayName(VornAIProvider::ollamaLocal, VornLanguage::en), "Local Ollama (100% Offline)");
    EXPECT_EQ(displayName(VornAIProvider::ollamaLocal, VornLanguage::tr), "Yerel Ollama (%100 Çevrimdışı)");
    EXPECT_EQ(displayName(VornAIProvider::openAI, VornLanguage::tr), "OpenAI Uyumlu (Kendi Anahtarın)");
    EXPECT_EQ(displayName(VornAIProvider::vornWorksCredits, VornLanguage::en), "Vornworks Credits (account.vornworks.com)");
    EXPECT_EQ(VornAIClientError::missingAPIKey().errorDescription(VornLanguage::tr),
              "Bu sağlayıcı için API anahtarı veya Vornworks kredi jetonu gereklidir.");
    EXPECT_STREQ(VornAIClientError::invalidEndpoint().what(), "Invalid AI endpoint URL.");
    EXPECT_EQ(VornAIClientError::emptyResponse().errorDescription(VornLanguage::en), "Provider returned an empty response.");
    EXPECT_EQ(fromRawValue<VornAIProvider>("openAI"), VornAIProvider::openAI);
    EXPECT_EQ(fromRawValue<VornAIProvider>("openai"), std::nullopt);
}
