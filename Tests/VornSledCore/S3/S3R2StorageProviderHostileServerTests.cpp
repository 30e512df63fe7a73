#include "S3ProviderTestSupport.h"

#include "RecursiveDirectoryWalker.h"
#include "SledListingError.h"
#include "VornChecksum.h"
#include "VornTestHTTPServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

// Replies the S3 test server never sends but a broken or hostile service may: error documents
// with status 200, odd tokens, oversized or malformed listings, bodies that are not UTF-8, answers
// that are not HTTP. A loopback HTTP server plays that service and records what the provider sent.

namespace fs = std::filesystem;

namespace {

S3R2StorageProvider providerOn(const VornTestHTTPServer& server) {
    ConnectionProfile profile;
    profile.name = "Hostile";
    profile.kind = ConnectionProtocolKind::s3Compatible;
    profile.endpointURL = server.baseURL();
    profile.bucket = "b";
    profile.accessKeyID = "AKID";
    profile.usePathStyleAddressing = true;
    return S3R2StorageProvider(profile, "secret");
}

std::string page(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ListBucketResult>" + inner + "</ListBucketResult>";
}

std::string file(const std::string& key, int size) {
    return "<Contents><Key>" + key + "</Key><Size>" + std::to_string(size) + "</Size></Contents>";
}

const std::string errorDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>InternalError</Code><Message>We encountered an "
    "internal error. Please try again.</Message></Error>";

VornTestHTTPReply xml(int status, std::string body) {
    return {VornTestHTTPReply::Action::respond, status, {{"Content-Type", "application/xml"}}, std::move(body)};
}

// A TCP peer on loopback that answers the first request with bytes that are not HTTP.
class NotHTTPPeer {
public:
    NotHTTPPeer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on loopback");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            char buffer[4096];
            (void)::recv(connection, buffer, sizeof(buffer), 0);
            const std::string_view answer = "SSH-2.0-OpenSSH_9.2\r\nhello there\r\n\r\n";
            (void)::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(connection);
        });
    }
    ~NotHTTPPeer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace

TEST(S3R2StorageProviderHostileServer, PagingSendsTokensAsSignedAndMergesPages) {
    int pagesServed = 0;
    VornTestHTTPServer server([&](const VornRecordedRequest&) {
        ++pagesServed;
        if (pagesServed == 1) {
            return xml(200, page("<IsTruncated>true</IsTruncated><NextContinuationToken>1+a/b= c==</NextContinuationToken>" +
                                 file("d/x.txt", 1) + file("d/y.txt", 1)));
        }
        // The same path again: the later page wins.
        return xml(200, page("<IsTruncated>false</IsTruncated>" + file("d/y.txt", 22) + file("d/z.txt", 3)));
    });
    const auto provider = providerOn(server);
    const auto entries = provider.listDirectory("/d", {});
    ASSERT_EQ(s3EntryNames(entries), (std::vector<std::string>{"x.txt", "y.txt", "z.txt"}));
    EXPECT_EQ(entries[1].sizeBytes, 22);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/b?list-type=2&delimiter=%2F&max-keys=1000&prefix=d%2F");
    EXPECT_EQ(requests[1].target,
              "/b?list-type=2&delimiter=%2F&max-keys=1000&prefix=d%2F&continuation-token=1%2Ba%2Fb%3D%20c%3D%3D");
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.header("x-amz-content-sha256"), AWSSigV4Signer::emptyPayloadSHA256);
        EXPECT_TRUE(request.header("Authorization").value_or("").starts_with("AWS4-HMAC-SHA256 Credential=AKID/"));
    }

    // The bucket root sends no prefix.
    server.setReply(xml(200, page("")));
    EXPECT_TRUE(provider.listDirectory("/", {}).empty());
    EXPECT_EQ(server.requests().back().target, "/b?list-type=2&delimiter=%2F&max-keys=1000");
}

// A page that says more follows but gives no token, or a token leading back to a page already
// read, leaves the rest of the folder unknown. The listing then fails as incomplete with what it
// read (a pane may show that), and a walk for a sync, copy or rename fails with it, so nothing is
// ever deleted or moved on the strength of part of a folder.
TEST(S3R2StorageProviderHostileServer, TruncatedListingsWithoutAWayOnAreIncomplete) {
    const std::string truncated = "<IsTruncated>true</IsTruncated>";
    const auto token = [](const std::string& value) {
        return "<NextContinuationToken>" + value + "</NextContinuationToken>";
    };
    const struct {
        const char* what;
        std::vector<std::string> pages;
        std::vector<std::string> names;  // read before the listing stopped
    } cases[] = {
        {"no token", {truncated + file("d/a", 1)}, {"a"}},
        {"blank token", {truncated + token(" \n ") + file("d/a", 1)}, {"a"}},
        {"token repeated", {truncated + token("t1") + file("d/a", 1), truncated + token("t1") + file("d/b", 1)},
         {"a", "b"}},
        {"token cycle",
         {truncated + token("t1") + file("d/a", 1), truncated + token("t2") + file("d/b", 1),
          truncated + token("t1") + file("d/c", 1)},
         {"a", "b", "c"}},
        {"later page without token",
         {truncated + token("t1") + file("d/a", 1), truncated + "<Contents><Key>d/sub/</Key></Contents>" +
                                                       "<CommonPrefixes><Prefix>d/sub/</Prefix></CommonPrefixes>"},
         {"sub/", "a"}},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        std::size_t served = 0;
        VornTestHTTPServer server([&](const VornRecordedRequest& request) {
            // The rename's target is free.
            if (request.target.find("prefix=e%2F") != std::string::npos) return xml(200, page(""));
            // Past the script the folder looks empty and whole: only the provider's rule can
            // tell that the listing is incomplete.
            const std::string body = served < item.pages.size() ? item.pages[served] : "";
            ++served;
            return xml(200, page(body));
        });
        const auto provider = providerOn(server);
        try {
            (void)provider.listDirectory("/d", {});
            ADD_FAILURE() << "listed as a whole folder";
        } catch (const SledListingError& error) {
            EXPECT_EQ(error.kind(), SledListingError::Kind::incomplete);
            EXPECT_TRUE(error.isPartialListing());
            EXPECT_EQ(error.folderPath(), "/d");
            EXPECT_EQ(s3EntryNames(error.entriesRead()), item.names);
            EXPECT_STREQ(error.what(), "Listing incomplete: /d");
        }
        EXPECT_EQ(served, item.pages.size()) << "no page is asked for twice";

        served = 0;
        EXPECT_THROW((void)RecursiveDirectoryWalker::collectFiles("/d", provider, {}, 12, {}), SledListingError);
        served = 0;
        EXPECT_THROW(provider.renameItem("/d", "/e", true, {}), SledListingError);
    }
}

TEST(S3R2StorageProviderHostileServer, BadListingRepliesFail) {
    VornTestHTTPServer server;
    const auto provider = providerOn(server);
    const std::string huge = page(std::string(S3R2StorageProvider::maxListingReplyBytes, ' '));
    const struct {
        VornTestHTTPReply reply;
        SledError::Kind kind;
        std::string message;
    } cases[] = {
        {xml(200, errorDocument), SledError::Kind::httpStatus, errorDocument},
        {xml(200, page(file("a", 1)).substr(0, 60)), SledError::Kind::xmlParseFailed, ""},
        {xml(200, ""), SledError::Kind::xmlParseFailed, ""},
        {xml(200, huge), SledError::Kind::xmlParseFailed, ""},
        {xml(200, "<!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\">]><ListBucketResult>&a;</ListBucketResult>"),
         SledError::Kind::xmlParseFailed, ""},
        {xml(500, "d\xE9j\xE0 vu \xFF"), SledError::Kind::httpStatus, "d\xEF\xBF\xBDj\xEF\xBF\xBD vu \xEF\xBF\xBD"},
        {xml(503, ""), SledError::Kind::httpStatus, "Service Unavailable"},
        {xml(403, std::string(100'000, 'x')), SledError::Kind::httpStatus, std::string(400, 'x')},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.reply.body.substr(0, 60));
        server.setReply(item.reply);
        const auto error = s3ExpectSledError([&] { (void)provider.listDirectory("/", {}); });
        EXPECT_EQ(error.kind(), item.kind);
        EXPECT_EQ(error.message(), item.message);
        if (item.kind == SledError::Kind::httpStatus) {
            EXPECT_EQ(error.statusCode(), item.reply.status);
        }
    }
}

TEST(S3R2StorageProviderHostileServer, DownloadDigestHeaders) {
    VornTestHTTPServer server;
    const auto provider = providerOn(server);
    const VornTestTempDir temp;
    // base64 of the SHA-256 of "abc".
    const std::string abcBase64 = "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=";
    const std::string abcHex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const struct {
        std::vector<std::pair<std::string, std::string>> headers;
        std::optional<std::string> digest;
    } cases[] = {
        {{{"x-amz-meta-vornsled-sha256", "ABCDEF"}, {"x-amz-checksum-sha256", abcBase64}}, "ABCDEF"},
        {{{"x-amz-checksum-sha256", abcBase64}}, abcHex},
        {{{"x-amz-checksum-sha256", "not base64 at all, but forty-four chars long"}}, std::nullopt},
        {{{"x-amz-checksum-sha256", "YWJj"}}, std::nullopt},  // a digest of the wrong length
        {{}, std::nullopt},
    };
    for (const auto& item : cases) {
        server.setReply({VornTestHTTPReply::Action::respond, 200, item.headers, "abc"});
        const auto result = provider.downloadFile("/k", temp / "k", {}, {});
        EXPECT_EQ(result.bytes, 3);
        EXPECT_EQ(result.remoteSHA256, item.digest);
    }
}

// Only a 200 delivers the object. A 206 nobody asked for is part of it; a 200 carrying an error
// document (and no entity tag) is a failure the service reported late. Either fails, the file at
// the destination stays as it was, and no folder made for the download is left behind.
TEST(S3R2StorageProviderHostileServer, DownloadAnswersThatAreNotTheObject) {
    VornTestHTTPServer server;
    const auto provider = providerOn(server);
    const struct {
        const char* what;
        VornTestHTTPReply reply;
        std::string message;
    } failures[] = {
        {"unrequested range",
         {VornTestHTTPReply::Action::respond, 206, {{"Content-Range", "bytes 0-2/10"}, {"ETag", "\"e\""}}, "abc"},
         "Partial Content"},
        {"error document with 200", xml(200, errorDocument), errorDocument},
        {"error document, no declaration",
         {VornTestHTTPReply::Action::respond, 200, {}, "<Error><Code>SlowDown</Code></Error>"},
         "<Error><Code>SlowDown</Code></Error>"},
        {"other success", {VornTestHTTPReply::Action::respond, 203, {{"ETag", "\"e\""}}, "abc"}, "HTTP status 203"},
        {"not found", xml(404, errorDocument), "Not Found"},
    };
    for (const auto& item : failures) {
        SCOPED_TRACE(item.what);
        const VornTestTempDir temp;
        temp.write("existing/keep", "old content");
        server.setReply(item.reply);
        for (const fs::path& destination : {temp / "existing/keep", temp / "new/deeper/k", temp / "existing/new/k"}) {
            const auto error = s3ExpectSledError([&] { (void)provider.downloadFile("/k", destination, {}, {}); });
            EXPECT_EQ(error.kind(), SledError::Kind::httpStatus);
            EXPECT_EQ(error.statusCode(), item.reply.status);
            EXPECT_EQ(error.message(), item.message);
        }
        EXPECT_EQ(vornReadFile(temp / "existing/keep"), "old content");
        EXPECT_FALSE(fs::exists(temp / "new"));
        EXPECT_FALSE(fs::exists(temp / "existing/new"));
        EXPECT_EQ(std::distance(fs::directory_iterator(temp / "existing"), fs::directory_iterator()), 1);
    }

    // An object that happens to hold an error document comes with its entity tag and downloads.
    const VornTestTempDir temp;
    server.setReply({VornTestHTTPReply::Action::respond, 200,
                     {{"Content-Type", "application/xml"}, {"ETag", "\"0123\""}}, errorDocument});
    const auto result = provider.downloadFile("/saved-error.xml", temp / "a/b/saved-error.xml", {}, {});
    EXPECT_EQ(result.bytes, static_cast<std::int64_t>(errorDocument.size()));
    EXPECT_EQ(vornReadFile(temp / "a/b/saved-error.xml"), errorDocument);
}

TEST(S3R2StorageProviderHostileServer, UploadRequestShape) {
    VornTestHTTPServer server([](const VornRecordedRequest&) { return xml(200, ""); });
    const auto provider = providerOn(server);
    const VornTestTempDir temp;
    const auto local = temp.write("f", "payload bytes");
    provider.uploadFile(local, "/dir/a+b ç.txt", std::nullopt, {}, {});
    const auto request = server.requests().at(0);
    const std::string digest = VornSHA256::hexDigest("payload bytes");
    EXPECT_EQ(request.method, "PUT");
    EXPECT_EQ(request.target, "/b/dir/a%2Bb%20%C3%A7.txt");
    EXPECT_TRUE(request.raw.starts_with("PUT /b/dir/a%2Bb%20%C3%A7.txt HTTP/1.1\r\n"));
    EXPECT_EQ(request.headerCount("Content-Length"), 1u);
    EXPECT_EQ(request.header("Content-Length"), "13");
    EXPECT_EQ(request.headerCount("Expect"), 0u);
    EXPECT_EQ(request.headerCount("Transfer-Encoding"), 0u);
    EXPECT_EQ(request.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(request.header("x-amz-meta-vornsled-sha256"), digest);
    EXPECT_EQ(request.header("x-amz-content-sha256"), digest);
    EXPECT_NE(request.header("Authorization").value_or("").find(
                  "SignedHeaders=content-length;content-type;host;x-amz-content-sha256;x-amz-date;"
                  "x-amz-meta-vornsled-sha256,"),
              std::string::npos);
    EXPECT_EQ(request.body, "payload bytes");
}

// Keys other tools made with empty segments or outer spaces go out exactly as they are, and the
// path that is signed is the path that is sent (the service refuses the request otherwise).
TEST(S3R2StorageProviderHostileServer, OddKeysAreSentAndSignedVerbatim) {
    VornTestHTTPServer server([](const VornRecordedRequest&) { return xml(204, ""); });
    const auto provider = providerOn(server);
    const std::pair<const char*, const char*> cases[] = {
        {"/photos//", "/b/photos//"},
        {"/a//b//", "/b/a//b//"},
        {"//lead", "/b//lead"},
        {"/ x /y ", "/b/%20x%20/y%20"},
    };
    for (const auto& [path, target] : cases) {
        SCOPED_TRACE(path);
        provider.deleteItem(path, false, {});
        const auto request = server.requests().back();
        EXPECT_EQ(request.target, target);
        EXPECT_EQ(AWSSigV4Signer::canonicalURIPath(server.baseURL() + request.target), target);
    }
}

TEST(S3R2StorageProviderHostileServer, CopyFailingAfterItsStatusKeepsTheSource) {
    VornTestHTTPServer server([](const VornRecordedRequest& request) {
        if (request.method == "HEAD") return xml(404, "");
        return xml(200, errorDocument);  // the copy "succeeds" with an error document
    });
    const auto provider = providerOn(server);
    const auto error = s3ExpectSledError([&] { provider.renameItem("/a.txt", "/b.txt", false, {}); });
    EXPECT_EQ(error.kind(), SledError::Kind::httpStatus);
    EXPECT_EQ(error.statusCode(), 200);
    std::vector<std::string> sent;
    for (const auto& request : server.requests()) sent.push_back(request.method + " " + request.target);
    EXPECT_EQ(sent, (std::vector<std::string>{"HEAD /b/b.txt", "PUT /b/b.txt"}));  // no DELETE
    EXPECT_EQ(server.requests().at(1).header("x-amz-copy-source"), "/b/a.txt");
    EXPECT_EQ(server.requests().at(1).header("x-amz-metadata-directive"), "COPY");
}

TEST(S3R2StorageProviderHostileServer, NothingIsSentForTheBucketRoot) {
    VornTestHTTPServer server;
    const auto provider = providerOn(server);
    EXPECT_THROW(provider.deleteItem("/", true, {}), SledError);
    EXPECT_THROW(provider.deleteItem("", false, {}), SledError);
    provider.createDirectory("/", {});
    provider.createDirectory("", {});
    provider.renameItem("/", "/x", true, {});
    provider.renameItem("/a", "/a/", true, {});
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(S3R2StorageProviderHostileServer, AnswerThatIsNotHTTP) {
    const NotHTTPPeer peer;
    ConnectionProfile profile;
    profile.kind = ConnectionProtocolKind::s3Compatible;
    profile.endpointURL = peer.url();
    profile.bucket = "b";
    profile.usePathStyleAddressing = true;
    const auto error = s3ExpectSledError([&] { S3R2StorageProvider(profile, "secret").testConnection({}); });
    EXPECT_EQ(error.kind(), SledError::Kind::connectionFailed);
    EXPECT_EQ(error.message(), "Invalid HTTP response");
}

// A service that ignores the delimiter, or holds keys with "..", "." or empty pieces: the walk
// neither fails on them nor loses them silently, and never builds a path from them.
TEST(S3R2StorageProviderHostileServer, KeysThatAreNotOneNameAreReportedByTheWalk) {
    VornTestHTTPServer server([&](const VornRecordedRequest& request) {
        if (request.target.find("prefix=d%2Fsub%2F") != std::string::npos) {
            return xml(200, page(file("d/sub/deep.txt", 4)));
        }
        return xml(200, page(file("d/ok.txt", 2) + file("d/../../evil", 5) + file("d/x/y", 1) +
                             "<CommonPrefixes><Prefix>d/../</Prefix></CommonPrefixes>"
                             "<CommonPrefixes><Prefix>d//</Prefix></CommonPrefixes>"
                             "<CommonPrefixes><Prefix>d/sub/</Prefix></CommonPrefixes>"));
    });
    const auto provider = providerOn(server);
    EXPECT_EQ(s3EntryNames(provider.listDirectory("/d", {})), (std::vector<std::string>{"sub/", "ok.txt"}));

    const RecursiveDirectoryWalker::Collected found =
        RecursiveDirectoryWalker::collectFilesAndSkipped("/d", provider, {}, 12, {});
    std::vector<std::string> files;
    for (const RelativeFileNode& node : found.files) files.push_back(node.relativePath);
    EXPECT_EQ(files, (std::vector<std::string>{"ok.txt", "sub/deep.txt"}));
    std::vector<std::string> skipped;
    for (const SkippedFileNode& node : found.skipped) {
        skipped.push_back(node.relativePath);
        EXPECT_FALSE(node.entry.reason.empty());
    }
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, (std::vector<std::string>{"", "..", "../../evil", "x/y"}));

    // A caller that cannot report what was left out gets no part of the tree.
    try {
        (void)RecursiveDirectoryWalker::collectFiles("/d", provider, {}, 12, {});
        ADD_FAILURE() << "a walk that left keys out passed for a whole one";
    } catch (const SledListingError& error) {
        EXPECT_EQ(error.kind(), SledListingError::Kind::unsafeName);
        EXPECT_EQ(error.folderPath(), "/d");
    }
}
