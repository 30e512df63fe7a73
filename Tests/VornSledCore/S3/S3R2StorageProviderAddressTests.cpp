#include "S3R2StorageProvider.h"
#include "SledError.h"
#include "VornTestSupport.h"

// Keys, request addresses, presigned links and reply checks: everything the provider decides
// before or after a request, without sending one.

namespace {

ConnectionProfile profileFor(ConnectionProtocolKind kind, std::string endpoint, std::string bucket, bool pathStyle,
                             std::string region = "") {
    ConnectionProfile profile;
    profile.name = "Bucket pane";
    profile.kind = kind;
    profile.endpointURL = std::move(endpoint);
    profile.bucket = std::move(bucket);
    profile.usePathStyleAddressing = pathStyle;
    profile.region = std::move(region);
    profile.accessKeyID = "AKIDEXAMPLE";
    return profile;
}

S3R2StorageProvider providerFor(ConnectionProtocolKind kind, std::string endpoint, std::string bucket, bool pathStyle,
                                std::string region = "") {
    return S3R2StorageProvider(profileFor(kind, std::move(endpoint), std::move(bucket), pathStyle, std::move(region)),
                               "secret");
}

// The message of the SledError::invalidProfile that `action` throws, or a note that it did not.
template <typename Action>
std::string invalidProfileMessage(Action&& action) {
    try {
        action();
    } catch (const SledError& error) {
        if (error.kind() != SledError::Kind::invalidProfile) return "other kind: " + std::string(error.what());
        return error.message();
    }
    return "no error";
}

VornHTTPResponse reply(int status, std::string body) {
    VornHTTPResponse response;
    response.statusCode = status;
    response.body = std::move(body);
    return response;
}

}  // namespace

TEST(S3R2StorageProviderAddress, NormalizesKeysAndPrefixes) {
    struct Case {
        std::string path, key, prefix;
    };
    // Keys are exact: only the one leading "/" of a path goes, so " x", "x " and "a//" each
    // address the object of that very key.
    const Case cases[] = {
        {"/photos/a.jpg", "photos/a.jpg", "photos/a.jpg/"},
        {"/", "", ""},
        {"", "", ""},
        {"/photos/2024", "photos/2024", "photos/2024/"},
        {"/photos/", "photos/", "photos/"},
        {"/photos ", "photos ", "photos /"},
        {"/ x", " x", " x/"},
        {"/x.txt ", "x.txt ", "x.txt /"},
        {" / /", " / /", " / /"},
        {"// a b //", "/ a b //", "/ a b //"},
        {"\t/x/\n", "\t/x/\n", "\t/x/\n/"},
        {"/a//b/", "a//b/", "a//b/"},
        {"/a//", "a//", "a//"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.path);
        EXPECT_EQ(S3R2StorageProvider::normalizeObjectKey(item.path), item.key);
        EXPECT_EQ(S3R2StorageProvider::normalizePrefix(item.path), item.prefix);
    }
}

TEST(S3R2StorageProviderAddress, BuildsPathStyleAndVirtualHostedURLs) {
    using enum ConnectionProtocolKind;
    struct Case {
        ConnectionProtocolKind kind;
        std::string endpoint, bucket;
        bool pathStyle;
        std::string key;
        std::vector<VornURLQueryItem> query;
        std::string url;
    };
    const Case cases[] = {
        {s3Compatible, "http://127.0.0.1:9000", "b", true, "a/b.txt", {}, "http://127.0.0.1:9000/b/a/b.txt"},
        {s3Compatible, "http://127.0.0.1:9000", "b", true, "", {}, "http://127.0.0.1:9000/b"},
        {s3Compatible, "https://h.example/some/path?x=1#f", "b", false, "k", {}, "https://b.h.example/k"},
        {s3Compatible, "https://h.example:8443/p", "b", false, "", {}, "https://b.h.example:8443/"},
        {s3Compatible, "  https://h.example \n", " b\t", true, "k/", {}, "https://h.example/b/k/"},
        // A key is taken whole: a leading "/" and empty pieces are part of it.
        {s3Compatible, "http://h", "b", true, "/k", {}, "http://h/b//k"},
        {s3Compatible, "http://h", "b", false, "/k//", {}, "http://b.h//k//"},
        // R2 is always path-style.
        {cloudflareR2, "https://acct.r2.example", "b", false, "k", {}, "https://acct.r2.example/b/k"},
        // Spaces, "+", non-ASCII and empty pieces, each piece encoded on its own.
        {s3Compatible, "http://h", "my bucket", true, "Özel klasör/a+b ~*%.txt", {},
         "http://h/my%20bucket/%C3%96zel%20klas%C3%B6r/a%2Bb%20~%2A%25.txt"},
        {s3Compatible, "http://h", "b", true, "a//b", {}, "http://h/b/a//b"},
        // The query is encoded as it is signed, in the order given.
        {s3Compatible, "http://h", "b", true, "",
         {{"list-type", "2"}, {"delimiter", "/"}, {"prefix", "a b/"}, {"continuation-token", "1+a/b=="}, {"flag", {}}},
         "http://h/b?list-type=2&delimiter=%2F&prefix=a%20b%2F&continuation-token=1%2Ba%2Fb%3D%3D&flag"},
        // An AWS profile without an endpoint goes to the regional host.
        {awsS3, "", "b", false, "k", {}, "https://b.s3.eu-west-1.amazonaws.com/k"},
        // Without a scheme there is no host; path style still builds a (host-less) address.
        {s3Compatible, "s3.example.com", "b", true, "k", {}, "/b/k"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.endpoint + " " + item.key);
        const auto provider = providerFor(item.kind, item.endpoint, item.bucket, item.pathStyle,
                                          item.kind == awsS3 ? "eu-west-1" : "");
        EXPECT_EQ(provider.buildObjectURL(item.key, item.query), item.url);
    }
}

TEST(S3R2StorageProviderAddress, RefusesEndpointsAndBucketsItCannotAddress) {
    using enum ConnectionProtocolKind;
    struct Case {
        ConnectionProtocolKind kind;
        std::string endpoint, bucket;
        bool pathStyle;
        std::string region, message;
    };
    const Case cases[] = {
        {s3Compatible, "", "b", true, "", "Endpoint and bucket name are required."},
        {s3Compatible, " \n", "b", true, "", "Endpoint and bucket name are required."},
        {s3Compatible, "http://h", "  ", true, "", "Endpoint and bucket name are required."},
        {cloudflareR2, "", "b", true, "", "Endpoint and bucket name are required."},  // no account ID
        {s3Compatible, "http://bad host", "b", true, "", "Invalid endpoint URL: http://bad host"},
        {s3Compatible, "http://h/\xC3\xA7", "b", true, "", "Invalid endpoint URL: http://h/\xC3\xA7"},
        // A region with a space makes no host name.
        {awsS3, "", "b", false, "eu west", "Invalid endpoint URL: https://s3.eu west.amazonaws.com"},
        {s3Compatible, "s3.example.com", "b", false, "", "Invalid endpoint host"},
        {s3Compatible, "localhost:9000", "b", false, "", "Invalid endpoint host"},
        // A bucket that is no host label must not redirect the request elsewhere.
        {s3Compatible, "http://h", "evil.example/x", false, "", "Could not assemble S3/R2 request URL"},
        {s3Compatible, "http://h", "a b", false, "", "Could not assemble S3/R2 request URL"},
        {s3Compatible, "http://h", "user@other", false, "", "Could not assemble S3/R2 request URL"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.endpoint + " | " + item.bucket);
        const auto provider = providerFor(item.kind, item.endpoint, item.bucket, item.pathStyle, item.region);
        EXPECT_EQ(invalidProfileMessage([&] { (void)provider.buildObjectURL("k"); }), item.message);
    }
}

TEST(S3R2StorageProviderAddress, PresignedLinks) {
    const auto provider = providerFor(ConnectionProtocolKind::s3Compatible, "http://127.0.0.1:9000", "b", true);
    const VornDate date = VornDate(std::chrono::sys_days(std::chrono::year(2026) / 3 / 1));
    const std::string link = provider.generatePresignedDownloadURL("/dir/a b.txt", 3600, date);
    EXPECT_TRUE(link.starts_with("http://127.0.0.1:9000/b/dir/a%20b.txt?X-Amz-Algorithm=AWS4-HMAC-SHA256&"
                                 "X-Amz-Credential=AKIDEXAMPLE%2F20260301%2Fus-east-1%2Fs3%2Faws4_request&"
                                 "X-Amz-Date=20260301T000000Z&X-Amz-Expires=3600&X-Amz-SignedHeaders=host&"
                                 "X-Amz-Signature="))
        << link;
    EXPECT_NE(provider.generatePresignedDownloadURL("/dir/a b.txt", 10'000'000, date).find("X-Amz-Expires=604800&"),
              std::string::npos);

    for (const std::string root : {"/", ""}) {
        EXPECT_EQ(invalidProfileMessage([&] { (void)provider.generatePresignedDownloadURL(root, 60, date); }),
                  "Cannot generate a signed link for bucket root.");
    }
    // Spaces are part of a key, not the root.
    EXPECT_TRUE(provider.generatePresignedDownloadURL("/ / ", 60, date).starts_with("http://127.0.0.1:9000/b/%20/%20?"));
    // Without a scheme the address has no host, which the signer refuses.
    const auto hostless = providerFor(ConnectionProtocolKind::s3Compatible, "s3.example.com", "b", true);
    EXPECT_EQ(invalidProfileMessage([&] { (void)hostless.generatePresignedDownloadURL("/k", 60, date); }),
              "Missing request host");
}

TEST(S3R2StorageProviderAddress, ValidateHTTPMessages) {
    const std::string longXML = "<?xml version=\"1.0\"?><Error><Code>AccessDenied</Code><Message>" +
                                std::string(500, 'x') + "</Message></Error>";
    // A two-byte character cut by the 400-byte limit becomes one replacement character.
    const std::string cutCharacter = std::string(399, 'a') + "\xC3\xA7" + "tail";
    struct Case {
        int status;
        std::string body;
        std::string message;
    };
    const Case cases[] = {
        {403, longXML, longXML.substr(0, 400)},
        {404, "", "Not Found"},
        {500, "  \n", "  \n"},  // untrimmed
        {503, "bad \xFF\xFE bytes", "bad \xEF\xBF\xBD\xEF\xBF\xBD bytes"},
        {400, cutCharacter, std::string(399, 'a') + "\xEF\xBF\xBD"},
        {418, "", "HTTP status 418"},
        {302, "", "Found"},  // redirects are not followed, so they fail too
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.status);
        try {
            S3R2StorageProvider::validateHTTP(reply(item.status, item.body));
            ADD_FAILURE() << "passed";
        } catch (const SledError& error) {
            EXPECT_EQ(error.kind(), SledError::Kind::httpStatus);
            EXPECT_EQ(error.statusCode(), item.status);
            EXPECT_EQ(error.message(), item.message);
        }
    }
    for (const int status : {200, 204, 299}) EXPECT_NO_THROW(S3R2StorageProvider::validateHTTP(reply(status, "x")));
    try {
        S3R2StorageProvider::validateHTTP(reply(0, ""));
        ADD_FAILURE() << "passed";
    } catch (const SledError& error) {
        EXPECT_EQ(error.kind(), SledError::Kind::connectionFailed);
        EXPECT_EQ(error.message(), "Invalid HTTP response");
    }
}

TEST(S3R2StorageProviderAddress, DisplayNameAndSigningRegion) {
    const auto r2 = providerFor(ConnectionProtocolKind::cloudflareR2, "https://x.example", "b", false);
    EXPECT_EQ(r2.displayName(), "Bucket pane");
    EXPECT_EQ(r2.signer().region(), "auto");
    EXPECT_EQ(r2.signer().service(), "s3");
    EXPECT_EQ(providerFor(ConnectionProtocolKind::awsS3, "", "b", false, " eu ").signer().region(), " eu ");
}
