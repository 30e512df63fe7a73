#include "LANProtocol.h"
#include "LANWebPortalHTML.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using Route = LANProtocol::Route;

TEST(LANProtocol, RoutesMatchMethodAndPathExactly) {
    const struct {
        const char* method;
        const char* path;
        Route route;
        const char* token;
    } cases[] = {
        {"GET", "/", Route::portal, ""},
        {"GET", "/index.html", Route::portal, ""},
        {"POST", "/", Route::notFound, ""},
        {"GET", "/api/v1/info", Route::info, ""},
        {"GET", "/API/v1/info", Route::notFound, ""},
        {"GET", "/api/v1/info/", Route::notFound, ""},
        {"POST", "/api/v1/upload", Route::upload, ""},
        {"GET", "/api/v1/upload", Route::notFound, ""},
        {"POST", "/api/v1/clipboard", Route::clipboardPost, ""},
        {"GET", "/api/v1/clipboard", Route::clipboardGet, ""},
        {"PUT", "/api/v1/clipboard", Route::notFound, ""},
        {"GET", "/api/v1/shares", Route::shares, ""},
        {"GET", "/api/v1/download/abc-1", Route::download, "abc-1"},
        {"GET", "/api/v1/download/", Route::download, ""},
        {"DELETE", "/api/v1/download/abc", Route::notFound, ""},
    };
    for (const auto& c : cases) {
        std::string token;
        EXPECT_EQ(LANProtocol::resolveRoute(c.method, c.path, &token), c.route) << c.method << " " << c.path;
        EXPECT_EQ(token, c.token) << c.path;
    }
    EXPECT_FALSE(LANProtocol::routeNeedsPIN(Route::portal));
    EXPECT_FALSE(LANProtocol::routeNeedsPIN(Route::info));
    EXPECT_TRUE(LANProtocol::routeNeedsPIN(Route::notFound));
}

TEST(LANProtocol, OriginMustNameTheHost) {
    const struct {
        std::optional<std::string> origin;
        std::optional<std::string> host;
        bool allowed;
    } cases[] = {
        {std::nullopt, std::nullopt, true},
        {std::nullopt, "10.0.0.2:53318", true},
        {"http://10.0.0.2:53318", "10.0.0.2:53318", true},
        {"HTTP://Box.Local:80", "box.local", true},
        {"http://evil.example", "10.0.0.2:53318", false},
        {"https://10.0.0.2:53318", "10.0.0.2:53318", false},
        {"null", "10.0.0.2:53318", false},
        {"http://10.0.0.2:53318", std::nullopt, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LANProtocol::originMatchesHost(c.origin, c.host), c.allowed) << c.origin.value_or("-");
    }
}

TEST(LANProtocol, ResponseHeadsAreExact) {
    EXPECT_EQ(LANProtocol::errorResponse(LANProtocol::statusNotFound, "Endpoint not found"),
              "HTTP/1.1 404 Not Found\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: 30\r\n"
              "Cache-Control: no-store\r\nConnection: close\r\n\r\n{\"error\":\"Endpoint not found\"}");
    EXPECT_EQ(LANProtocol::downloadHead("../we\"ird\r\nname.txt", 12, "ab12"),
              "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 12\r\n"
              "Content-Disposition: attachment; filename=\"we_ird__name.txt\"\r\nX-VornSled-SHA256: ab12\r\n"
              "Connection: close\r\n\r\n");
    // Text that is no UTF-8 cannot become JSON: the body falls back to "{}".
    EXPECT_EQ(LANProtocol::jsonText(nlohmann::json{{"text", std::string("\xFF")}}), "{}");
}

TEST(LANProtocol, BonjourRecordCarriesItsKeys) {
    const auto txt = LANProtocol::bonjourTXTRecord("1a2b3c4d-5e6", "Desk", true);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"id", "1a2b3c4d-5e6"}, {"name", "Desk"}, {"platform", "Linux"}, {"pin", "1"}, {"v", "1"}};
    EXPECT_EQ(txt, expected);
    EXPECT_EQ(LANProtocol::bonjourTXTRecord("x", "y", false)[3].second, "0");
}

TEST(LANWebPortalHTML, EscapesTheNameInAllFivePlaces) {
    const std::string page = LANWebPortalHTML::render("Tom & \"Jerry\" <Lab>'s", false);
    const std::string escaped = "Tom &amp; &quot;Jerry&quot; &lt;Lab&gt;'s";
    std::size_t count = 0;
    for (std::size_t at = page.find(escaped); at != std::string::npos; at = page.find(escaped, at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(page.find("<Lab>"), std::string::npos);
    EXPECT_NE(page.find("<title>VornSled LAN — " + escaped + "</title>"), std::string::npos);
    EXPECT_NE(page.find("placeholder=\"Paste text to sled straight to " + escaped + "'s clipboard...\""),
              std::string::npos);
}

TEST(LANWebPortalHTML, PINFieldOnlyWhenRequired) {
    const std::string field = "<input id=\"pin\" placeholder=\"Enter 4-digit LAN PIN shown on this computer\" maxlength=\"8\"";
    EXPECT_EQ(LANWebPortalHTML::render("Desk", false).find(field), std::string::npos);
    const std::string withPIN = LANWebPortalHTML::render("Desk", true);
    const std::size_t subtitle = withPIN.find("transfer with SHA-256 verification</div>");
    const std::size_t pin = withPIN.find(field);
    ASSERT_NE(pin, std::string::npos);
    EXPECT_LT(subtitle, pin);
    EXPECT_EQ(withPIN.find("Mac"), std::string::npos);
}

}  // namespace
