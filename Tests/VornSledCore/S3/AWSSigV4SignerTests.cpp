#include "AWSSigV4Signer.h"
#include "SledError.h"
#include "VornTestSupport.h"
#include "VornURLComponents.h"

#include <nlohmann/json.hpp>

#include <map>

using namespace std::chrono;
using Instant = VornDate;

namespace {

// "20130524T000000Z" as an instant.
Instant instantFromAMZDate(const std::string& text) {
    const auto number = [&](std::size_t at, std::size_t count) { return std::stoi(text.substr(at, count)); };
    const sys_days day = year{number(0, 4)} / month{static_cast<unsigned>(number(4, 2))} /
                         std::chrono::day{static_cast<unsigned>(number(6, 2))};
    return Instant{day} + hours{number(9, 2)} + minutes{number(11, 2)} + seconds{number(13, 2)};
}

const nlohmann::json& vectors() {
    static const nlohmann::json data = nlohmann::json::parse(
        vornReadFile(VORN_TEST_SOURCE_DIR "/Tests/VornSledCore/S3/vectors/sigv4_vectors.json"));
    return data;
}

AWSSigV4Signer exampleSigner(const std::string& region = "us-east-1") {
    return AWSSigV4Signer(vectors()["accessKeyID"], vectors()["secretAccessKey"], region, "s3");
}

const Instant exampleInstant = instantFromAMZDate("20260301T091502Z");

std::map<std::string, std::string> queryOf(const std::string& url) {
    std::map<std::string, std::string> items;
    for (const auto& item : VornURLComponents::parse(url).value().queryItems()) {
        items[item.name] = item.value.value_or("");
    }
    return items;
}

std::string signedHost(const std::string& url) {
    VornHTTPRequest request;
    request.url = url;
    return exampleSigner().sign(request, AWSSigV4Signer::emptyPayloadSHA256, exampleInstant).header("Host").value();
}

}  // namespace

// The published examples of the S3 documentation and botocore's results for awkward keys,
// queries, ports and headers (vectors/make_vectors.py).
TEST(AWSSigV4Signer, HeaderSigningMatchesPublishedExamplesAndBotocore) {
    for (const auto& vector : vectors()["header"]) {
        SCOPED_TRACE(vector["name"].get<std::string>());
        VornHTTPRequest request;
        request.method = vector["method"];
        request.url = vector["url"];
        for (const auto& field : vector["headers"]) request.setHeader(field[0].get<std::string>(), field[1].get<std::string>());
        const VornHTTPRequest original = request;

        const auto date = instantFromAMZDate(vector["date"]);
        const auto signed_ = exampleSigner(vector["region"]).sign(request, vector["payloadSHA256"].get<std::string>(), date);

        EXPECT_EQ(signed_.header("Authorization"), vector["authorization"].get<std::string>());
        EXPECT_EQ(signed_.header("x-amz-date"), vector["date"].get<std::string>());
        EXPECT_EQ(signed_.header("x-amz-content-sha256"), vector["payloadSHA256"].get<std::string>());
        EXPECT_EQ(request.headers, original.headers) << "the caller's request must not change";
    }
}

TEST(AWSSigV4Signer, PresignedLinksMatchPublishedExampleAndBotocore) {
    for (const auto& vector : vectors()["presign"]) {
        SCOPED_TRACE(vector["name"].get<std::string>());
        const std::string link = exampleSigner(vector["region"]).presignedURL(
            vector["url"].get<std::string>(), vector["method"].get<std::string>(), vector["expires"].get<std::int64_t>(),
            instantFromAMZDate(vector["date"]));

        if (!vector["expectedURL"].is_null()) {
            EXPECT_EQ(link, vector["expectedURL"].get<std::string>());
        }
        std::map<std::string, std::string> expected;
        for (const auto& item : vector["queryItems"]) expected[item[0]] = item[1];
        EXPECT_EQ(queryOf(link), expected);
        const auto signature = "&X-Amz-Signature=" + vector["signature"].get<std::string>();
        EXPECT_TRUE(link.ends_with(signature)) << link;
    }
}

TEST(AWSSigV4Signer, HostCarriesOnlyNonDefaultPorts) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://s3.example.com:443/b/k", "s3.example.com"},
        {"https://s3.example.com:9000/b/k", "s3.example.com:9000"},
        {"http://s3.example.com:80/b/k", "s3.example.com"},
        {"http://s3.example.com:443/b/k", "s3.example.com:443"},
        {"https://s3.example.com/b/k", "s3.example.com"},
        {"http://[::1]:9000/b", "[::1]:9000"},
    };
    for (const auto& [url, host] : cases) EXPECT_EQ(signedHost(url), host) << url;
}

TEST(AWSSigV4Signer, CanonicalPathAndQueryForms) {
    const std::pair<const char*, const char*> paths[] = {
        {"https://h/my%20bucket/a+b/c/", "/my%20bucket/a%2Bb/c/"},
        {"https://h/bucket", "/bucket"},
        {"https://h", "/"},
        {"https://h/", "/"},
        {"https://h/a//b", "/a//b"},
        {"https://h/b/a//", "/b/a//"},  // trailing empty segments belong to the key
        {"https://h/b/photos///", "/b/photos///"},
        {"https://h//", "//"},
        {"https://h/%C3%96zel/%7Ex", "/%C3%96zel/~x"},
        {"https://h/already%2520encoded", "/already%2520encoded"},
        {"not a url", "/"},
    };
    for (const auto& [url, path] : paths) EXPECT_EQ(AWSSigV4Signer::canonicalURIPath(url), path) << url;

    const std::pair<const char*, const char*> queries[] = {
        {"https://h/?b=2&a=1&a=0", "a=0&a=1&b=2"},
        {"https://h/?uploads", "uploads="},
        {"https://h/?prefix=&delimiter=%2F", "delimiter=%2F&prefix="},
        {"https://h/?z=1&Z=1&_=1", "Z=1&_=1&z=1"},
        {"https://h/?k=a+b%20c", "k=a%2Bb%20c"},
        {"https://h/?a=1&&b=2", "a=1&b=2"},
        {"https://h/", ""},
    };
    for (const auto& [url, query] : queries) EXPECT_EQ(AWSSigV4Signer::canonicalQueryString(url), query) << url;
}

TEST(AWSSigV4Signer, PercentEncodingKeepsOnlyUnreservedBytes) {
    const std::pair<const char*, const char*> cases[] = {
        {"AZaz09-._~", "AZaz09-._~"}, {"a b", "a%20b"},     {"a/b", "a%2Fb"},       {"+*%=&", "%2B%2A%25%3D%26"},
        {"ğ", "%C4%9F"},              {"\x7f\x01", "%7F%01"}, {"", ""},
    };
    for (const auto& [text, encoded] : cases) EXPECT_EQ(AWSSigV4Signer::awsPercentEncode(text), encoded) << text;
}

TEST(AWSSigV4Signer, HashesAndDates) {
    EXPECT_EQ(AWSSigV4Signer::sha256Hex(std::string_view{}), AWSSigV4Signer::emptyPayloadSHA256);
    // RFC 4231, test case 2.
    const std::string_view key = "Jefe";
    EXPECT_EQ(AWSSigV4Signer::hmacHex({reinterpret_cast<const std::uint8_t*>(key.data()), key.size()},
                                      "what do ya want for nothing?"),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");

    const std::pair<Instant, const char*> dates[] = {
        {instantFromAMZDate("20260301T091502Z") + microseconds{999'999}, "20260301T091502Z"},
        {Instant{sys_days{year{1969} / 12 / 31}} + hours{23} + minutes{59} + seconds{59} + microseconds{500'000},
         "19691231T235959Z"},
        {Instant{sys_days{year{987} / 1 / 2}} + hours{3}, "09870102T030000Z"},
    };
    for (const auto& [instant, text] : dates) EXPECT_EQ(AWSSigV4Signer::formatAMZDate(instant), text);
}

TEST(AWSSigV4Signer, HeaderValuesFoldedNamesLoweredMethodDefaultsToGET) {
    VornHTTPRequest tidy;
    tidy.method = "GET";
    tidy.url = "https://bucket.example.com/k";
    tidy.setHeader("x-amz-meta-note", "two words");

    VornHTTPRequest messy = tidy;
    messy.method = "";
    messy.headers = {{"X-Amz-META-Note", "  two   \t words  "}};

    const auto signer = exampleSigner();
    const auto a = signer.sign(tidy, AWSSigV4Signer::emptyPayloadSHA256, exampleInstant);
    const auto b = signer.sign(messy, AWSSigV4Signer::emptyPayloadSHA256, exampleInstant);
    EXPECT_EQ(a.header("Authorization"), b.header("Authorization"));
    EXPECT_NE(a.header("Authorization")->find("SignedHeaders=host;x-amz-content-sha256;x-amz-date;x-amz-meta-note,"),
              std::string::npos);

    // Same instant, same signature; another instant changes date, scope and signature.
    EXPECT_EQ(signer.sign(tidy, AWSSigV4Signer::emptyPayloadSHA256, exampleInstant).header("Authorization"),
              a.header("Authorization"));
    const auto later = signer.sign(tidy, AWSSigV4Signer::emptyPayloadSHA256, exampleInstant + days{1});
    EXPECT_EQ(later.header("x-amz-date"), "20260302T091502Z");
    EXPECT_NE(later.header("Authorization")->find("/20260302/us-east-1/s3/aws4_request"), std::string::npos);
    EXPECT_NE(later.header("Authorization"), a.header("Authorization"));

    // Earlier values of the three fields the signer owns are replaced, not doubled.
    VornHTTPRequest stale = tidy;
    stale.headers.emplace_back("HOST", "evil.example.com");
    stale.headers.emplace_back("X-Amz-Date", "19990101T000000Z");
    const auto resigned = signer.sign(stale, AWSSigV4Signer::emptyPayloadSHA256, exampleInstant);
    EXPECT_EQ(resigned.header("Host"), "bucket.example.com");
    EXPECT_EQ(resigned.header("Authorization"), a.header("Authorization"));
    EXPECT_EQ(resigned.headers.size(), 5u);
}

TEST(AWSSigV4Signer, PresignLifetimeIsClampedAndOwnQueryItemsStay) {
    const auto signer = exampleSigner();
    const std::pair<std::int64_t, const char*> lifetimes[] = {
        {0, "1"}, {-5, "1"}, {1, "1"}, {604800, "604800"}, {1'000'000, "604800"}};
    for (const auto& [asked, given] : lifetimes) {
        EXPECT_EQ(queryOf(signer.presignedURL("https://b.example.com/k", "GET", asked, exampleInstant))["X-Amz-Expires"],
                  given)
            << asked;
    }

    const auto link = signer.presignedURL("https://b.example.com/a%20b?response-content-type=text%2Fplain&versionId",
                                          "get", 60, exampleInstant);
    const auto query = link.substr(link.find('?') + 1);
    EXPECT_TRUE(query.starts_with("X-Amz-Algorithm=AWS4-HMAC-SHA256&X-Amz-Credential=")) << query;
    EXPECT_NE(query.find("&X-Amz-SignedHeaders=host&response-content-type=text%2Fplain&versionId=&X-Amz-Signature="),
              std::string::npos)
        << query;
    EXPECT_TRUE(link.starts_with("https://b.example.com/a%20b?"));
}

TEST(AWSSigV4Signer, RequestsWithoutHostAreRefused) {
    const auto signer = exampleSigner();
    for (const char* url : {"", "/relative/path", "mailto:someone", "https:///nohost", "https://bad host/x",
                            "https://h/%zz"}) {
        SCOPED_TRACE(url);
        VornHTTPRequest request;
        request.url = url;
        try {
            (void)signer.sign(request, AWSSigV4Signer::emptyPayloadSHA256, exampleInstant);
            ADD_FAILURE() << "signed a request without host";
        } catch (const SledError& error) {
            EXPECT_EQ(error.kind(), SledError::Kind::invalidProfile);
            EXPECT_EQ(error.message(), "Missing request host");
        }
        try {
            (void)signer.presignedURL(url, "GET", 60, exampleInstant);
            ADD_FAILURE() << "presigned a URL without host";
        } catch (const SledError& error) {
            EXPECT_EQ(error.kind(), SledError::Kind::invalidProfile);
            EXPECT_EQ(error.message(), "Missing request host");
        }
    }
}
