#include "AWSSigV4Signer.h"
#include "VornTestSupport.h"

#include <random>

// Requests signed by AWSSigV4Signer and sent by VornHTTPClient to the S3 test server, which
// recomputes every signature and refuses a wrong one with 403.

namespace {

struct S3Service {
    std::string endpoint = VornTestServices::value("S3_ENDPOINT");
    std::string bucket = VornTestServices::value("S3_BUCKET");
    AWSSigV4Signer signer{VornTestServices::value("S3_ACCESS_KEY"), VornTestServices::value("S3_SECRET_KEY"),
                          VornTestServices::value("S3_REGION"), "s3"};

    // A path-style object URL; each segment of the key encoded the way the signer encodes it.
    std::string objectURL(const std::string& key, const std::string& query = "") const {
        std::string path;
        std::size_t start = 0;
        while (true) {
            const auto slash = key.find('/', start);
            path += "/" + AWSSigV4Signer::awsPercentEncode(key.substr(start, slash - start));
            if (slash == std::string::npos) break;
            start = slash + 1;
        }
        return endpoint + "/" + bucket + path + (query.empty() ? "" : "?" + query);
    }
};

VornHTTPOptions loopback() {
    VornHTTPOptions options;
    options.bypassProxy = true;
    options.idleTimeout = std::chrono::seconds(30);
    return options;
}

VornHTTPResponse sendSigned(const AWSSigV4Signer& signer, VornHTTPRequest request, const std::string& body = {}) {
    request.setHeader("Content-Length", std::to_string(body.size()));
    const auto signed_ = signer.sign(request, AWSSigV4Signer::sha256Hex(body), vornDateNow());
    return VornHTTPClient::send(signed_, body.empty() ? VornHTTPBody::none() : VornHTTPBody::bytes(body),
                                VornHTTPSink::memory(1 << 20), loopback());
}

std::string uniqueKey(const std::string& stem) {
    static std::mt19937_64 random{std::random_device{}()};
    return "run " + std::to_string(random() % 1'000'000'000) + "/" + stem;
}

VornDate now() {
    return vornDateNow();
}

}  // namespace

TEST(S3SignedRequests, PutThenGetAndListWithAwkwardKeys) {
    VORN_REQUIRE_SERVICE("s3");
    const S3Service s3;
    for (const std::string stem : {"plain.txt", "Özel klasör/rapor 1+1 ~ * (ç).txt"}) {
        SCOPED_TRACE(stem);
        const auto key = uniqueKey(stem);
        const std::string content = "content of " + stem;

        VornHTTPRequest put{"PUT", s3.objectURL(key), {{"Content-Type", "text/plain; charset=utf-8"}}};
        put.setHeader("x-amz-meta-sha256", AWSSigV4Signer::sha256Hex(content));
        const auto stored = sendSigned(s3.signer, put, content);
        ASSERT_EQ(stored.statusCode, 200) << stored.body;

        const auto fetched = sendSigned(s3.signer, {"GET", s3.objectURL(key), {}});
        ASSERT_EQ(fetched.statusCode, 200) << fetched.body;
        EXPECT_EQ(fetched.body, content);
        EXPECT_EQ(fetched.header("x-amz-meta-sha256"), AWSSigV4Signer::sha256Hex(content));

        // A signed query with an empty value and an encoded slash.
        const auto prefix = key.substr(0, key.find('/') + 1);
        const auto listed = sendSigned(
            s3.signer, {"GET", s3.endpoint + "/" + s3.bucket + "?list-type=2&delimiter&prefix=" +
                                   AWSSigV4Signer::awsPercentEncode(prefix), {}});
        ASSERT_EQ(listed.statusCode, 200) << listed.body;
        EXPECT_NE(listed.body.find("<KeyCount>1</KeyCount>"), std::string::npos) << listed.body;
    }
}

TEST(S3SignedRequests, WrongSecretIsRefused) {
    VORN_REQUIRE_SERVICE("s3");
    const S3Service s3;
    const AWSSigV4Signer impostor(VornTestServices::value("S3_ACCESS_KEY"), "not-the-secret",
                                  VornTestServices::value("S3_REGION"), "s3");
    const auto key = uniqueKey("refused.txt");
    const auto refusedPut = sendSigned(impostor, {"PUT", s3.objectURL(key), {}}, "x");
    EXPECT_EQ(refusedPut.statusCode, 403);
    EXPECT_NE(refusedPut.body.find("SignatureDoesNotMatch"), std::string::npos) << refusedPut.body;

    ASSERT_EQ(sendSigned(s3.signer, {"PUT", s3.objectURL(key), {}}, "x").statusCode, 200);
    EXPECT_EQ(sendSigned(impostor, {"GET", s3.objectURL(key), {}}).statusCode, 403);

    // A signed header changed after signing is caught as well.
    VornHTTPRequest get{"GET", s3.objectURL(key), {{"x-amz-meta-note", "original"}}};
    auto signed_ = s3.signer.sign(get, AWSSigV4Signer::emptyPayloadSHA256, now());
    signed_.setHeader("x-amz-meta-note", "changed");
    EXPECT_EQ(VornHTTPClient::send(signed_, VornHTTPBody::none(), VornHTTPSink::memory(1 << 16), loopback()).statusCode,
              403);
}

TEST(S3SignedRequests, PresignedLinkWorksWithCurlAndTamperingFails) {
    VORN_REQUIRE_SERVICE("s3");
    VORN_REQUIRE_TOOL("curl");
    const S3Service s3;
    const auto key = uniqueKey("shared link ğ.txt");
    ASSERT_EQ(sendSigned(s3.signer, {"PUT", s3.objectURL(key), {}}, "shared bytes").statusCode, 200);

    const auto link = s3.signer.presignedURL(s3.objectURL(key), "GET", 600, now());
    const auto fetch = [](const std::string& url) {
        return vornShell("curl -sS --noproxy '*' -w '|%{http_code}' " + vornShellQuote(url)).output;
    };
    EXPECT_EQ(fetch(link), "shared bytes|200");

    const auto expiresAt = link.find("X-Amz-Expires=600");
    ASSERT_NE(expiresAt, std::string::npos);
    const std::string cases[] = {
        link.substr(0, expiresAt) + "X-Amz-Expires=601" + link.substr(expiresAt + 17),
        link.substr(0, link.size() - 1) + (link.back() == '0' ? "1" : "0"),
        s3.signer.presignedURL(s3.objectURL(key), "PUT", 600, now()),  // signed for another method
    };
    for (const auto& tampered : cases) {
        const auto answer = fetch(tampered);
        EXPECT_TRUE(answer.ends_with("|403")) << answer;
        EXPECT_NE(answer.find("SignatureDoesNotMatch"), std::string::npos) << answer;
    }
}

// The test server judges a write's condition as S3 does: "If-None-Match: *" only where there is no
// object, "If-Match" only over the object with that entity tag (404 where there is none), each
// refusal a 412 that leaves the object as it was.
TEST(S3SignedRequests, ConditionalWritesAreJudgedAsS3JudgesThem) {
    VORN_REQUIRE_SERVICE("s3");
    const S3Service s3;
    const std::string url = s3.objectURL(uniqueKey("conditional.txt"));
    const auto write = [&](const std::string& method, const std::string& header, const std::string& value,
                           const std::string& body = {}) {
        VornHTTPRequest request{method, url, {}};
        request.setHeader(header, value);
        return sendSigned(s3.signer, request, body);
    };
    const auto stored = [&]() -> std::optional<std::string> {
        const VornHTTPResponse response = sendSigned(s3.signer, VornHTTPRequest{"GET", url, {}});
        if (response.statusCode == 404) return std::nullopt;
        EXPECT_EQ(response.statusCode, 200);
        return response.body;
    };
    EXPECT_EQ(write("PUT", "If-Match", "\"0123456789abcdef0123456789abcdef\"", "x").statusCode, 404);
    EXPECT_EQ(write("DELETE", "If-Match", "*").statusCode, 404);
    const VornHTTPResponse created = write("PUT", "If-None-Match", "*", "first");
    EXPECT_EQ(created.statusCode, 200);
    EXPECT_EQ(stored(), "first");
    const VornHTTPResponse refused = write("PUT", "If-None-Match", "*", "second");
    EXPECT_EQ(refused.statusCode, 412);
    EXPECT_NE(refused.body.find("PreconditionFailed"), std::string::npos) << refused.body;
    const std::string first = created.header("etag").value_or("");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(write("PUT", "If-Match", "\"0123456789abcdef0123456789abcdef\"", "second").statusCode, 412);
    EXPECT_EQ(stored(), "first");
    const VornHTTPResponse replaced = write("PUT", "If-Match", first, "second");
    EXPECT_EQ(replaced.statusCode, 200);
    EXPECT_EQ(stored(), "second");
    EXPECT_EQ(write("DELETE", "If-Match", first).statusCode, 412);
    EXPECT_EQ(stored(), "second");
    EXPECT_EQ(write("DELETE", "If-Match", replaced.header("etag").value_or("")).statusCode, 204);
    EXPECT_EQ(stored(), std::nullopt);
}
