#include "S3R2StorageProvider.h"
#include "SledError.h"
#include "VornTestSupport.h"

#include <chrono>

// The ListObjectsV2 reply reader, on replies written the way S3 writes them and on hostile ones.

namespace {

using Page = S3R2StorageProvider::ListObjectsV2Page;

std::string contents(const std::string& key, const std::string& extra = "<Size>5</Size>") {
    return "<Contents><Key>" + key + "</Key>" + extra + "</Contents>";
}

std::string commonPrefix(const std::string& prefix) {
    return "<CommonPrefixes><Prefix>" + prefix + "</Prefix></CommonPrefixes>";
}

std::string listing(const std::string& inner) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>)"
           R"(<ListBucketResult xmlns="http://s3.amazonaws.com/doc/2006-03-01/"><Name>b</Name>)" +
           inner + "</ListBucketResult>";
}

Page parse(const std::string& body, const std::string& prefix = "photos/") {
    return S3R2StorageProvider::parseListObjectsV2PageXML(body, prefix);
}

std::vector<std::string> namesOf(const std::vector<SledFileEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& entry : entries) names.push_back(entry.name + (entry.isDirectory ? "/" : ""));
    return names;
}

}  // namespace

TEST(S3ObjectListingParser, ReadsFilesAndFoldersOfOneLevel) {
    const auto page = parse(listing(
        "<KeyCount>6</KeyCount><IsTruncated>false</IsTruncated>" + contents("photos/") +
        contents("photos/b 10.jpg",
                 "<LastModified>2025-01-02T03:04:05.678Z</LastModified><ETag>&quot;abc&quot;</ETag><Size>1234"
                 "</Size><StorageClass>STANDARD</StorageClass>") +
        contents("photos/b 9.jpg", "<LastModified>2025-01-02T03:04:05Z</LastModified><ETag></ETag><Size>x</Size>") +
        contents("photos/nested/") + contents("elsewhere.txt", "<LastModified>yesterday</LastModified>") +
        commonPrefix("photos/2024/") + commonPrefix("photos/") + commonPrefix("photos/10/") +
        commonPrefix("photos/9/")));

    EXPECT_EQ(namesOf(page.entries),
              (std::vector<std::string>{"9/", "10/", "2024/", "b 9.jpg", "b 10.jpg", "elsewhere.txt"}));
    EXPECT_EQ(page.keyCount, 9u);
    EXPECT_EQ(page.documentElement, "ListBucketResult");
    EXPECT_FALSE(page.isTruncated);
    EXPECT_FALSE(page.nextContinuationToken);

    const SledFileEntry folder{"2024", "/photos/2024/", true, 0, std::nullopt, std::nullopt, std::nullopt};
    EXPECT_EQ(page.entries[2], folder);

    const SledFileEntry big{"b 10.jpg", "/photos/b 10.jpg", false, 1234,
                            VornDate(std::chrono::sys_days(std::chrono::year(2025) / 1 / 2)) + std::chrono::hours(3) +
                                std::chrono::minutes(4) + std::chrono::milliseconds(5678),
                            std::nullopt, "abc"};
    EXPECT_EQ(page.entries[4], big);

    // Unparsable size and an empty entity tag; a date without fractional seconds.
    EXPECT_EQ(page.entries[3].sizeBytes, 0);
    EXPECT_FALSE(page.entries[3].eTag);
    ASSERT_TRUE(page.entries[3].modifiedAt);
    EXPECT_EQ(vornISO8601String(*page.entries[3].modifiedAt, false), "2025-01-02T03:04:05Z");

    // A key outside the prefix keeps its whole key as name; an unreadable date gives none.
    EXPECT_EQ(page.entries[5].path, "/elsewhere.txt");
    EXPECT_FALSE(page.entries[5].modifiedAt);
}

TEST(S3ObjectListingParser, TruncationFlagsAndTokens) {
    struct Case {
        std::string inner;
        bool truncated;
        std::optional<std::string> token;
    };
    const Case cases[] = {
        {"<IsTruncated>true</IsTruncated><NextContinuationToken>1/a+b=</NextContinuationToken>", true, "1/a+b="},
        {"<IsTruncated>True</IsTruncated>", true, std::nullopt},
        {"<IsTruncated> TRUE\n</IsTruncated><NextContinuationToken>  </NextContinuationToken>", true, std::nullopt},
        {"<IsTruncated>yes</IsTruncated><NextContinuationToken>t</NextContinuationToken>", false, "t"},
        {"<IsTruncated>1</IsTruncated>", false, std::nullopt},
        // Inside an entry these names mean nothing to the page.
        {contents("photos/a", "<IsTruncated>true</IsTruncated><NextContinuationToken>x</NextContinuationToken>"),
         false, std::nullopt},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.inner);
        const auto page = parse(listing(item.inner));
        EXPECT_EQ(page.isTruncated, item.truncated);
        EXPECT_EQ(page.nextContinuationToken, item.token);
    }
}

// White space around a key is part of the key: "x.txt " and " x" are objects of their own, and a
// name read without it could be neither downloaded nor deleted. Numbers and flags are read past it.
TEST(S3ObjectListingParser, KeysAndPrefixesAreKeptAsSent) {
    struct Case {
        std::string inner;
        std::string name, path;
        std::int64_t size;
    };
    const Case cases[] = {
        {contents("photos/x.txt ", "<Size> 12\n</Size>"), "x.txt ", "/photos/x.txt ", 12},
        {contents("photos/ x", "<Size>\t7 </Size>"), " x", "/photos/ x", 7},
        {contents("photos/\n\tnl\t\n"), "\n\tnl\t\n", "/photos/\n\tnl\t\n", 5},
        {contents(" photosa"), " photosa", "/ photosa", 5},  // another folder's key, whole
        {commonPrefix("photos/trip /"), "trip ", "/photos/trip /", 0},
        {commonPrefix("photos/ /"), " ", "/photos/ /", 0},
        {commonPrefix("photos/\tlead/"), "\tlead", "/photos/\tlead/", 0},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.inner);
        const auto page = parse(listing(item.inner));
        ASSERT_EQ(page.entries.size(), 1u);
        EXPECT_EQ(page.entries[0].name, item.name);
        EXPECT_EQ(page.entries[0].path, item.path);
        EXPECT_EQ(page.entries[0].sizeBytes, item.size);
    }

    // Tokens go back to the service exactly as they came.
    const auto page =
        parse(listing("<IsTruncated>\n true \n</IsTruncated><NextContinuationToken> a b= </NextContinuationToken>"));
    EXPECT_TRUE(page.isTruncated);
    EXPECT_EQ(page.nextContinuationToken, " a b= ");
}

// A key whose name in the folder is not exactly one path component is never an entry: joined to
// a local folder it would name a place outside it. It is kept, with its reason, for a walk to report.
TEST(S3ObjectListingParser, NamesThatAreNotOnePathComponentAreSetAsideWithTheirReason) {
    struct Case {
        std::string inner;
        std::string name;
        std::string path;
        bool isDirectory;
    };
    const Case cases[] = {
        {commonPrefix("photos/../"), "..", "/photos/../", true},
        {commonPrefix("photos/./"), ".", "/photos/./", true},
        {commonPrefix("photos//"), "", "/photos//", true},
        // A server that ignores the delimiter lists deeper keys and keys that climb.
        {contents("photos/../../evil"), "../../evil", "/photos/../../evil", false},
        {contents("photos/a/b.txt"), "a/b.txt", "/photos/a/b.txt", false},
        {contents(" photos/a"), " photos/a", "/ photos/a", false},
        {contents("photos/..", "<Size>3</Size>"), "..", "/photos/..", false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.inner);
        const auto page = parse(listing(contents("photos/ok.txt") + item.inner));
        EXPECT_EQ(namesOf(page.entries), (std::vector<std::string>{"ok.txt"}));
        ASSERT_EQ(page.skipped.size(), 1u);
        EXPECT_EQ(page.skipped[0].name, item.name);
        EXPECT_EQ(page.skipped[0].path, item.path);
        EXPECT_EQ(page.skipped[0].isDirectory, item.isDirectory);
        EXPECT_NE(page.skipped[0].reason.find("is not a single name"), std::string::npos) << page.skipped[0].reason;
    }
}

TEST(S3ObjectListingParser, TextArrivingInPiecesAndEntities) {
    // Entities and character references split the text into several pieces.
    const auto page = parse(listing(contents("photos/a &amp; b &#252; &lt;c&gt; &#x1F600;.txt") +
                                    contents("<![CDATA[photos/cd]]>ata.bin")),
                            "photos/");
    EXPECT_EQ(namesOf(page.entries), (std::vector<std::string>{"a & b ü <c> 😀.txt", "cdata.bin"}));

    // A reply larger than the parser's slices, with a key straddling the slice boundary.
    std::string many;
    for (int index = 0; index < 20000; ++index) many += contents("photos/file-" + std::to_string(index) + ".dat");
    const auto large = parse(listing(many));
    ASSERT_GT(listing(many).size(), 1024u * 1024u);
    ASSERT_EQ(large.entries.size(), 20000u);
    EXPECT_EQ(large.entries.front().name, "file-0.dat");
    EXPECT_EQ(large.entries.back().name, "file-19999.dat");
}

TEST(S3ObjectListingParser, BadXMLFailsClearly) {
    const std::string billionLaughs = R"(<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol "lol">)"
                                      R"(<!ENTITY lol2 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">)"
                                      R"(<!ENTITY lol3 "&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;">)"
                                      R"(]><ListBucketResult><Contents><Key>&lol3;</Key></Contents></ListBucketResult>)";
    const std::string externalEntity = R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY x SYSTEM "file:///etc/passwd">]>)"
                                       R"(<ListBucketResult><Contents><Key>&x;</Key></Contents></ListBucketResult>)";
    const std::string full = listing(contents("photos/a.txt") + commonPrefix("photos/b/"));
    const std::string cases[] = {
        "",
        "   ",
        "not xml at all",
        full.substr(0, full.size() / 2),                         // cut off mid-document
        full.substr(0, full.size() - 3),                         // cut off in the last end tag
        listing("<Contents><Key>photos/a</Key>"),                // unclosed element
        listing(contents("photos/\xC3\x28.txt")),                // invalid UTF-8
        listing(contents("photos/undefined &nbsp; entity")),     // entity never declared
        billionLaughs,
        externalEntity,
        R"(<!DOCTYPE ListBucketResult><ListBucketResult/>)",     // any document type is refused
        listing("") + "<Trailing/>",                             // two document elements
    };
    for (const auto& body : cases) {
        SCOPED_TRACE(body.substr(0, 80));
        try {
            (void)parse(body);
            ADD_FAILURE() << "parsed";
        } catch (const SledError& error) {
            EXPECT_EQ(error.kind(), SledError::Kind::xmlParseFailed);
            EXPECT_STREQ(error.what(), "Failed to parse S3/R2 XML listing response.");
        }
    }
}

TEST(S3ObjectListingParser, WellFormedDocumentsWithoutAListing) {
    const auto error = parse(R"(<?xml version="1.0" encoding="UTF-8"?><Error><Code>InternalError</Code>)"
                             R"(<Message>We encountered an internal error.</Message></Error>)");
    EXPECT_EQ(error.documentElement, "Error");
    EXPECT_TRUE(error.entries.empty());

    const auto other = parse("<Other><Contents><Key>photos/x</Key></Contents></Other>");
    EXPECT_EQ(other.documentElement, "Other");
    EXPECT_EQ(namesOf(other.entries), (std::vector<std::string>{"x"}));

    // A namespace prefix is part of the element's name: nothing matches.
    const auto prefixed = parse(R"(<s3:ListBucketResult xmlns:s3="urn:x"><s3:Contents><s3:Key>photos/y</s3:Key>)"
                                R"(</s3:Contents></s3:ListBucketResult>)");
    EXPECT_TRUE(prefixed.entries.empty());

    // Element names are case-sensitive.
    EXPECT_TRUE(parse(listing("<contents><Key>photos/z</Key></contents>")).entries.empty());

    // Latin-1 declared documents are read as what they declare.
    EXPECT_EQ(namesOf(parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><L>" + contents("photos/\xFC.txt") + "</L>")
                          .entries),
              (std::vector<std::string>{"ü.txt"}));
}

TEST(S3ObjectListingParser, EntriesOnlyVariantAndRootPrefix) {
    const auto body = listing(contents("top.txt") + contents("dir/") + commonPrefix("dir/") + commonPrefix("/"));
    EXPECT_EQ(namesOf(S3R2StorageProvider::parseListObjectsV2XML(body, "")),
              (std::vector<std::string>{"dir/", "top.txt"}));
}
