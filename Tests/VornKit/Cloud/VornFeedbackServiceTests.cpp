#include "VornBundle.h"
#include "VornFeedbackService.h"
#include "VornTestBrowser.h"
#include "VornTestHTTPServer.h"
#include "VornTestSupport.h"
#include "VornURLComponents.h"
#include "VornUserDefaults.h"

#include <nlohmann/json.hpp>

#include <chrono>

namespace fs = std::filesystem;

namespace {

// Every test runs with its own user defaults and no inherited address, so nothing can reach the
// real feedback site.
class FeedbackTest : public testing::Test {
protected:
    VornTestTempDir dir;
    VornScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
    VornScopedEnv environment{"VORNWORKS_FEEDBACK_BASE_URL", std::nullopt};
    VornTestHTTPServer server;

    VornHTTPOptions quickSession() const {
        VornHTTPOptions options;
        options.connectTimeout = std::chrono::seconds(5);
        options.idleTimeout = std::chrono::seconds(1);
        return options;
    }

    VornFeedbackReceipt send(std::string_view app, VornFeedbackKind kind, std::string_view email,
                             std::string_view sender, std::string_view subject, std::string_view message,
                             const std::vector<VornFeedbackScreenshot>& screenshots,
                             VornLanguage language = VornLanguage::en) {
        return VornFeedbackService::submit(app, VornAppVersion("2.1.0", "57"), kind, email, sender, subject, message,
                                           screenshots, language, server.baseURL(), quickSession());
    }

    VornFeedbackError failureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const VornFeedbackError& error) {
            return error;
        }
        ADD_FAILURE() << "no VornFeedbackError was thrown";
        return VornFeedbackError::invalidEndpoint();
    }
};

VornFeedbackScreenshot shot(std::string name, std::size_t bytes, char fill = 'p') {
    return {VornUUID::random(), std::move(name), "image/png", std::string(bytes, fill)};
}

std::string part(std::string_view boundary, std::string_view name, std::string_view value) {
    return "--" + std::string(boundary) + "\r\nContent-Disposition: form-data; name=\"" + std::string(name) +
           "\"\r\n\r\n" + std::string(value) + "\r\n";
}

}  // namespace

TEST_F(FeedbackTest, BaseAddressComesFromOverrideEnvironmentDefaultsThenTheSite) {
    EXPECT_EQ(VornFeedbackService::resolvedBaseURL(), "https://feedback.vornworks.com");
    VornUserDefaults::standard().setString("com.vornworks.feedbackBaseURL", " http://defaults.test/ ");
    EXPECT_EQ(VornFeedbackService::resolvedBaseURL(), "http://defaults.test");
    {
        VornScopedEnv set("VORNWORKS_FEEDBACK_BASE_URL", std::string("\thttp://env.test//\n"));
        EXPECT_EQ(VornFeedbackService::resolvedBaseURL(), "http://env.test");
        EXPECT_EQ(VornFeedbackService::resolvedBaseURL("  http://override.test// "), "http://override.test");
        EXPECT_EQ(VornFeedbackService::resolvedBaseURL("   "), "http://env.test");  // blank override ignored
        VornScopedEnv blank("VORNWORKS_FEEDBACK_BASE_URL", std::string("  "));
        EXPECT_EQ(VornFeedbackService::resolvedBaseURL(), "http://defaults.test");
    }
    VornUserDefaults::standard().setString("com.vornworks.feedbackBaseURL", "\n");
    EXPECT_EQ(VornFeedbackService::resolvedBaseURL(), "https://feedback.vornworks.com");
}

TEST_F(FeedbackTest, SlugsNamesAndSystemDescription) {
    EXPECT_EQ(VornFeedbackService::normalizedAppSlug("Sled Pro 2"), "sledpro2");
    EXPECT_EQ(VornFeedbackService::normalizedAppSlug("İş Takibi!"), "i̇ştakibi");
    EXPECT_EQ(VornFeedbackService::normalizedAppSlug("-- ! --"), "");

    const VornBundle named(std::nullopt, {{"CFBundleDisplayName", "  "}, {"CFBundleName", " Vorn Mail\n"}}, {});
    EXPECT_EQ(VornFeedbackService::resolvedCurrentAppName(named, "Fallback"), "Vorn Mail");
    const VornBundle unnamed(std::nullopt, {{"CFBundleDisplayName", 4}}, {});
    EXPECT_EQ(VornFeedbackService::resolvedCurrentAppName(unnamed, "Fallback"), VornBundle::processName());

    const std::string os = VornFeedbackService::currentOSDescription();
    EXPECT_TRUE(os.starts_with("Linux ") && os.ends_with(")")) << os;
    const auto open = os.find(" (");
    ASSERT_NE(open, std::string::npos);
    EXPECT_TRUE(VornSemVer::parsing(os.substr(6, open - 6)).has_value()) << os;
}

TEST_F(FeedbackTest, WebPageAddressCarriesTheApplicationInItsQuery) {
    const VornAppVersion version("2.1.0", "57");
    const auto english = VornFeedbackService::webFeedbackURL("Sled Pro", version, VornFeedbackKind::newApp,
                                                             VornLanguage::en, "https://site.test/");
    ASSERT_TRUE(english.has_value());
    const auto parts = VornURLComponents::parse(*english);
    ASSERT_TRUE(parts.has_value()) << *english;
    EXPECT_EQ(parts->host, "site.test");
    EXPECT_EQ(parts->path(), "/en/feedback");
    const std::vector<VornURLQueryItem> expected{{"type", "new_app"},
                                                 {"source", "desktop_app"},
                                                 {"os", VornFeedbackService::currentOSDescription()},
                                                 {"app", "sledpro"},
                                                 {"version", "2.1.0"}};
    EXPECT_EQ(parts->queryItems(), expected);
    EXPECT_EQ(parts->percentEncodedQuery->find(' '), std::string::npos);

    const auto turkish = VornFeedbackService::webFeedbackURL("...", VornAppVersion("", "1"), VornFeedbackKind::bug,
                                                             VornLanguage::tr, "https://site.test");
    ASSERT_TRUE(turkish.has_value());
    EXPECT_EQ(VornURLComponents::parse(*turkish)->path(), "/tr/geri-bildirim");
    EXPECT_EQ(turkish->find("app="), std::string::npos);  // no slug, no version
    EXPECT_EQ(turkish->find("version="), std::string::npos);
    EXPECT_EQ(VornURLComponents::parse(*VornFeedbackService::webFeedbackURL("a", version, VornFeedbackKind::bug,
                                                                            VornLanguage::ptBR, "http://x.test"))
                  ->path(),
              "/pt-BR/feedback");

    for (const char* unusable : {"not a site", "file:///etc", "javascript:alert(1)", "http://"}) {
        EXPECT_EQ(VornFeedbackService::webFeedbackURL("a", version, VornFeedbackKind::bug, VornLanguage::en, unusable),
                  std::nullopt)
            << unusable;
    }
}

TEST_F(FeedbackTest, ValidationFailsBeforeAnyTraffic) {
    const std::string ok = "Ten chars!";
    const struct {
        const char* name;
        std::function<void()> call;
        VornFeedbackError expected;
    } cases[] = {
        {"four-character e-mail", [&] { send("A", VornFeedbackKind::bug, " a@b. ", "", "", ok, {}); },
         VornFeedbackError::invalidEmail()},
        {"no dot", [&] { send("A", VornFeedbackKind::bug, "ab@cd", "", "", ok, {}); },
         VornFeedbackError::invalidEmail()},
        {"e-mail before message", [&] { send("A", VornFeedbackKind::bug, "x", "", "", "short", {}); },
         VornFeedbackError::invalidEmail()},
        {"nine-character message", [&] { send("A", VornFeedbackKind::bug, "a@b.c", "", "", "  123456789 \n", {}); },
         VornFeedbackError::messageTooShort()},
        {"count before size",
         [&] {
             std::vector<VornFeedbackScreenshot> six(6, shot("a.png", 1));
             six[0] = shot("big.png", VornFeedbackService::maxScreenshotBytes + 1);
             send("A", VornFeedbackKind::bug, "a@b.c", "", "", ok, six);
         },
         VornFeedbackError::tooManyScreenshots(5)},
        {"one byte too large",
         [&] {
             send("A", VornFeedbackKind::bug, "a@b.c", "", "", ok,
                  {shot("a.png", 3), shot("b.png", VornFeedbackService::maxScreenshotBytes + 1)});
         },
         VornFeedbackError::screenshotTooLarge(5)},
        {"unusable endpoint",
         [&] {
             VornFeedbackService::submit("A", {}, VornFeedbackKind::bug, "a@b.c", "", "", ok, {}, VornLanguage::en,
                                         "ftp://files.test", quickSession());
         },
         VornFeedbackError::invalidEndpoint()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf(c.call), c.expected) << c.name;
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(FeedbackTest, SubmissionSendsTheMultipartFormByteForByte) {
    server.setReply(VornTestHTTPReply::json(200, R"({"reference_code":"FB-42","attachments_count":2,"message":"ok"})"));
    const std::vector<VornFeedbackScreenshot> screenshots{
        shot("sc\"reen\r\n1.png", 3, 'a'),
        {VornUUID::random(), "two.jpg", "image/jpeg", std::string("\x00\xff\r\n--", 6)},
    };
    const auto receipt = send("Sled Pro 2", VornFeedbackKind::bug, "  me@example.test ", " ", " Hi ",
                              "  The copy stalls at 99%.  ", screenshots);
    EXPECT_EQ(receipt, (VornFeedbackReceipt{"FB-42", 2, "ok"}));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const VornRecordedRequest& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/api/v1/feedback");
    EXPECT_EQ(request.header("Accept"), "application/json");
    EXPECT_EQ(request.header("User-Agent"), "Vornworks/Sled Pro 2 VornKit");
    EXPECT_EQ(request.headerCount("Content-Length"), 1u);
    const std::string contentType = request.header("Content-Type").value_or("");
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_TRUE(contentType.starts_with(prefix)) << contentType;
    const std::string boundary = contentType.substr(prefix.size());
    ASSERT_TRUE(boundary.starts_with("VornFeedback-"));
    const auto uuid = VornUUID::fromString(boundary.substr(13));
    ASSERT_TRUE(uuid.has_value());
    EXPECT_EQ(uuid->uuidString(), boundary.substr(13));

    const std::string expected =
        part(boundary, "type", "bug") + part(boundary, "program_slug", "sledpro2") +
        part(boundary, "program_name", "Sled Pro 2") + part(boundary, "email", "me@example.test") +
        part(boundary, "subject", "Sled Pro 2 \u2014 Bug Report") +
        part(boundary, "message", "The copy stalls at 99%.") + part(boundary, "app_version", "2.1.0") +
        part(boundary, "os_info", VornFeedbackService::currentOSDescription()) + part(boundary, "locale", "en") +
        part(boundary, "source", "desktop_app") + "--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"screenshots[]\"; filename=\"screen1.png\"\r\n"
        "Content-Type: image/png\r\n\r\naaa\r\n"
        "--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"screenshots[]\"; filename=\"two.jpg\"\r\n"
        "Content-Type: image/jpeg\r\n\r\n" + std::string("\x00\xff\r\n--", 6) + "\r\n--" + boundary + "--\r\n";
    EXPECT_EQ(request.body, expected);
    EXPECT_EQ(VornFeedbackService::buildMultipartBody(boundary, {{"a", ""}, {"b", "x"}}, {}),
              part(boundary, "b", "x") + "--" + boundary + "--\r\n");
}

TEST_F(FeedbackTest, SubjectSlugAndHeaderFollowKindLanguageAndName) {
    static constexpr char evil[] = "Notes\r\nX-Injected: 1\0";  // CR, LF and NUL in the name
    send(std::string_view(evil, sizeof evil - 1), VornFeedbackKind::newApp, "a@b.co", "Ayşe", "abc", "Yeni bir fikrim var.", {},
         VornLanguage::tr);
    send("Notes", VornFeedbackKind::feature, "a@b.co", "", "ab", "Please add tabs.", {}, VornLanguage::tr);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("User-Agent"), "Vornworks/NotesX-Injected: 1 VornKit");
    EXPECT_EQ(requests[0].headerCount("X-Injected"), 0u);
    EXPECT_NE(requests[0].body.find("name=\"program_slug\"\r\n\r\nnew_app\r\n"), std::string::npos);
    EXPECT_NE(requests[0].body.find("name=\"program_name\"\r\n\r\n" + std::string(evil, sizeof evil - 1) + "\r\n"),
              std::string::npos);
    EXPECT_NE(requests[0].body.find("name=\"subject\"\r\n\r\nabc\r\n"), std::string::npos);
    EXPECT_NE(requests[0].body.find("name=\"sender_name\"\r\n\r\nAyşe\r\n"), std::string::npos);
    EXPECT_NE(requests[0].body.find("name=\"locale\"\r\n\r\ntr\r\n"), std::string::npos);
    EXPECT_NE(requests[1].body.find("name=\"subject\"\r\n\r\nNotes \u2014 Özellik & İyileştirme\r\n"), std::string::npos);
    EXPECT_EQ(requests[1].body.find("sender_name"), std::string::npos);
}

TEST_F(FeedbackTest, RepliesBecomeReceiptsOrTheSpecifiedErrors) {
    const auto shots = std::vector<VornFeedbackScreenshot>{shot("a.png", 1), shot("b.png", 1), shot("c.png", 1)};
    const struct {
        VornTestHTTPReply reply;
        VornFeedbackReceipt expected;
    } accepted[] = {
        {VornTestHTTPReply::json(200, ""), {"VORN-FB-OK", 3, "Thank you! Your feedback has been received."}},
        {VornTestHTTPReply::text(201, "<html>ok</html>"), {"VORN-FB-OK", 3, "Thank you! Your feedback has been received."}},
        {VornTestHTTPReply::json(200, R"({"reference_code":7,"attachments_count":"2","message":null})"),
         {"VORN-FB-OK", 3, "Thank you! Your feedback has been received."}},
        {VornTestHTTPReply::json(202, R"({"reference_code":"R","attachments_count":0,"message":""})"), {"R", 0, ""}},
        {VornTestHTTPReply::json(200, R"(["not","an","object"])"),
         {"VORN-FB-OK", 3, "Thank you! Your feedback has been received."}},
    };
    for (const auto& c : accepted) {
        server.setReply(c.reply);
        EXPECT_EQ(send("A", VornFeedbackKind::general, "a@b.c", "", "", "Ten chars!", shots), c.expected)
            << c.reply.body;
    }
    server.setReply(VornTestHTTPReply::json(200, "{}"));
    EXPECT_EQ(send("A", VornFeedbackKind::general, "a@b.c", "", "", "Ten chars!", {}, VornLanguage::tr).message,
              "Teşekkürler! Geri bildiriminiz bize ulaştı.");

    const struct {
        VornTestHTTPReply reply;
        VornFeedbackError expected;
    } rejected[] = {
        {VornTestHTTPReply::json(404, R"({"message":""})"), VornFeedbackError::serverRejected("HTTP 404")},
        {VornTestHTTPReply::json(500, R"({"message":"Database is down"})"),
         VornFeedbackError::serverRejected("Database is down")},
        {VornTestHTTPReply::text(502, "Bad gateway"), VornFeedbackError::serverRejected("HTTP 502")},
        {VornTestHTTPReply::json(429, R"({"message":5})"), VornFeedbackError::serverRejected("HTTP 429")},
    };
    for (const auto& c : rejected) {
        server.setReply(c.reply);
        EXPECT_EQ(failureOf([&] { send("A", VornFeedbackKind::bug, "a@b.c", "", "", "Ten chars!", {}); }),
                  c.expected)
            << c.reply.status;
    }

    // A server that hangs up, one that never answers and one that is not there at all.
    for (auto reply : {VornTestHTTPReply::hangUp(), VornTestHTTPReply::staySilent()}) {
        server.setReply(reply);
        const auto error = failureOf([&] { send("A", VornFeedbackKind::bug, "a@b.c", "", "", "Ten chars!", {}); });
        EXPECT_EQ(error.kind(), VornFeedbackError::Kind::networkFailure);
        EXPECT_FALSE(error.text().empty());
    }
    std::string closedAddress;
    {
        VornTestHTTPServer gone;
        closedAddress = gone.baseURL();
    }
    const auto refused = failureOf([&] {
        VornFeedbackService::submit("A", {}, VornFeedbackKind::bug, "a@b.c", "", "", "Ten chars!", {},
                                    VornLanguage::en, closedAddress, quickSession());
    });
    EXPECT_EQ(refused.kind(), VornFeedbackError::Kind::networkFailure);
}

TEST_F(FeedbackTest, ErrorTextsInEnglishAndTurkish) {
    const struct {
        VornFeedbackError error;
        const char* en;
        const char* tr;
    } cases[] = {
        {VornFeedbackError::tooManyScreenshots(5), "You can attach up to 5 screenshots.",
         "En fazla 5 ekran görüntüsü ekleyebilirsiniz."},
        {VornFeedbackError::screenshotTooLarge(5), "Each screenshot must be smaller than 5 MB.",
         "Her ekran görüntüsü en fazla 5 MB olabilir."},
        {VornFeedbackError::serverRejected("Nope"), "Nope", "Nope"},
        {VornFeedbackError::networkFailure("timed out"),
         "Could not reach feedback.vornworks.com (timed out). You can open the feedback page in your browser instead.",
         "feedback.vornworks.com adresine ulaşılamadı (timed out). Dilerseniz tarayıcıdan göndermeyi deneyebilirsiniz."},
        {VornFeedbackError::invalidEndpoint(), "Feedback server address could not be resolved.",
         "Geri bildirim sunucu adresi çözümlenemedi."},
        {VornFeedbackError::invalidEmail(), "Please enter a valid email address.",
         "Lütfen geçerli bir e-posta adresi girin."},
        {VornFeedbackError::messageTooShort(), "Please write a bit more detail (at least 10 characters).",
         "Lütfen en az 10 karakterlik kısa bir açıklama yazın."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.errorDescription(VornLanguage::en), c.en);
        EXPECT_STREQ(c.error.what(), c.en);
        EXPECT_EQ(c.error.errorDescription(VornLanguage::tr), c.tr);
    }
    EXPECT_EQ(title(VornFeedbackKind::newApp, VornLanguage::tr), "Yeni Program Fikri");
    EXPECT_EQ(symbolName(VornFeedbackKind::general), "bubble.left.and.bubble.right.fill");
    EXPECT_EQ(fromRawValue<VornFeedbackKind>("new_app"), VornFeedbackKind::newApp);
    EXPECT_EQ(fromRawValue<VornFeedbackKind>("newApp"), std::nullopt);
    EXPECT_EQ(shot("a", 1500).formattedSize(), "1.5 KB");
}

TEST_F(FeedbackTest, OpenInBrowserHandsThePageToXdgOpen) {
    VORN_REQUIRE_TOOL("xdg-open");
    const VornTestBrowser browser(dir);
    const VornAppVersion version("1.0.0", "1");
    VornFeedbackService::openInBrowser("Vorn Sled", version, VornFeedbackKind::bug, VornLanguage::de, server.baseURL());
    EXPECT_EQ(browser.awaitOpened(),
              VornFeedbackService::webFeedbackURL("Vorn Sled", version, VornFeedbackKind::bug, VornLanguage::de,
                                                  server.baseURL())
                  .value_or("?"));
    EXPECT_EQ(server.requestCount(), 0u);  // the browser, not this program, talks to the site
}
