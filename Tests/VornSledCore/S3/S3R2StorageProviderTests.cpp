#include "S3ProviderTestSupport.h"

#include "LocalFileProvider.h"
#include "ParallelSledTransferEngine.h"
#include "RecursiveDirectoryWalker.h"
#include "SledListingError.h"
#include "VornChecksum.h"
#include "VornTaskCancelled.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <thread>

// The provider against the S3 test server, which checks every signature: a request whose sent
// form differs from its signed form (key encoding, query encoding, continuation tokens) fails there.

namespace fs = std::filesystem;

namespace {

std::string bytesOfLength(std::size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    std::mt19937 random(seed);
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

void put(const S3R2StorageProvider& provider, const VornTestTempDir& temp, const std::string& path,
         std::string_view content) {
    const auto local = temp.write("upload-" + VornUUID::random().uuidString(), content);
    provider.uploadFile(local, path, std::nullopt, {}, {});
}

std::string get(const S3R2StorageProvider& provider, const VornTestTempDir& temp, const std::string& path) {
    const auto local = temp / ("download-" + VornUUID::random().uuidString());
    provider.downloadFile(path, local, {}, {});
    return vornReadFile(local);
}

// Every file below `folder`, as relative paths.
std::vector<std::string> tree(const S3R2StorageProvider& provider, const std::string& folder) {
    std::vector<std::string> paths;
    for (const auto& node : RecursiveDirectoryWalker::collectFiles(folder, provider, {}, 12, {})) {
        paths.push_back(node.relativePath);
    }
    return paths;
}

}  // namespace

TEST(S3R2StorageProvider, UploadAndDownloadRoundTripWithAwkwardKeys) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    const std::string names[] = {"plain.txt", "Özel klasör/rapor 1+1 ~ * (ç).txt", "\"d\" (x) [y] {z} ~!.bin",
                                 "100% sure=yes?.txt", "empty.bin", "jerry & tom's <best>.txt"};
    unsigned seed = 1;
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const std::string content = name == "empty.bin" ? "" : bytesOfLength(70'000 + seed * 13, seed);
        ++seed;
        const auto local = temp.write("source", content);
        std::vector<std::pair<std::int64_t, std::int64_t>> progress;
        provider.uploadFile(local, root + "/" + name, std::nullopt,
                            [&](std::int64_t done, std::int64_t total) { progress.emplace_back(done, total); }, {});
        const auto size = static_cast<std::int64_t>(content.size());
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), std::make_pair(size, size));

        // Downloading creates missing folders and replaces a file already there.
        const auto destination = temp / "into" / "new folder" / "file";
        if (seed % 2 == 0) temp.write("into/new folder/file", "older and longer content than some");
        progress.clear();
        const auto result = provider.downloadFile(
            root + "/" + name, destination,
            [&](std::int64_t done, std::int64_t total) { progress.emplace_back(done, total); }, {});
        EXPECT_EQ(vornReadFile(destination), content);
        EXPECT_EQ(result.bytes, size);
        EXPECT_EQ(result.remoteSHA256, VornSHA256::hexDigest(content));
        EXPECT_EQ(progress.back(), std::make_pair(size, size));
    }
    // No temporary file stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(temp / "into" / "new folder"), fs::directory_iterator()), 1);

    const auto listed = provider.listDirectory(root, {});
    EXPECT_EQ(s3EntryNames(listed), (std::vector<std::string>{"Özel klasör/", "\"d\" (x) [y] {z} ~!.bin",
                                                              "100% sure=yes?.txt", "empty.bin",
                                                              "jerry & tom's <best>.txt", "plain.txt"}));
    const auto& plain = listed.back();
    EXPECT_EQ(plain.path, root + "/plain.txt");
    EXPECT_EQ(plain.sizeBytes, 70'013);
    EXPECT_TRUE(plain.modifiedAt);
    ASSERT_TRUE(plain.eTag);
    EXPECT_EQ(plain.eTag->size(), 32u);  // the MD5 of a single-part upload, without its quotes
    EXPECT_EQ(listed.front().path, root + "/Özel klasör/");
}

TEST(S3R2StorageProvider, GivenDigestIsStoredUnchanged) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string path = s3TestFolder() + "/claimed.bin";
    // The caller's digest is what the engine computed; it is the signed payload hash and comes
    // back with a download.
    const std::string bytes = "actual bytes";
    const std::string digest = VornChecksum::sha256(temp.write("f", bytes), VornChecksum::defaultChunkSize);
    provider.uploadFile(temp / "f", path, digest, {}, {});
    const auto result = provider.downloadFile(path, temp / "back", {}, {});
    EXPECT_EQ(result.remoteSHA256, digest);
    EXPECT_EQ(vornReadFile(temp / "back"), bytes);

    // Bytes that are not the ones hashed (a file changed after its digest was taken) are refused
    // as S3 refuses them, and the stored object stays as it was.
    const std::string claimed(64, 'a');
    const auto refused =
        s3ExpectSledError([&] { provider.uploadFile(temp.write("g", "other bytes"), path, claimed, {}, {}); });
    EXPECT_EQ(refused.kind(), SledError::Kind::httpStatus);
    EXPECT_EQ(refused.statusCode(), 400);
    EXPECT_NE(refused.message().find("XAmzContentSHA256Mismatch"), std::string::npos) << refused.message();
    EXPECT_EQ(get(provider, temp, path), bytes);
    EXPECT_EQ(provider.downloadFile(path, temp / "again", {}, {}).remoteSHA256, digest);
}

// A PUT cut off half way leaves the object that was there, whole, as S3 does.
TEST(S3R2StorageProvider, AnUploadCutOffHalfWayLeavesTheStoredObject) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string folder = s3TestFolder();
    const std::string path = folder + "/kept.bin";
    const std::string old = bytesOfLength(1024 * 1024, 7);
    put(provider, temp, path, old);

    const std::int64_t size = 32 * 1024 * 1024;
    const auto local = temp.write("replacement", bytesOfLength(static_cast<std::size_t>(size), 8));
    std::stop_source cut;
    EXPECT_THROW(provider.uploadFile(
                     local, path, std::nullopt,
                     [&](std::int64_t done, std::int64_t) {
                         if (done >= size / 2) cut.request_stop();
                     },
                     cut.get_token()),
                 VornTaskCancelled);
    EXPECT_EQ(get(provider, temp, path), old);
    EXPECT_EQ(s3EntryNames(provider.listDirectory(folder, {})), std::vector<std::string>{"kept.bin"});
}

TEST(S3R2StorageProvider, FoldersMarkersAndDeletes) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    provider.createDirectory(root + "/empty", {});
    provider.createDirectory(root + "/sub/", {});
    provider.createDirectory("/", {});  // the bucket root: nothing to do
    put(provider, temp, root + "/a.txt", "a");
    put(provider, temp, root + "/sub/b.txt", "b");
    put(provider, temp, root + "/sub/deeper/c.txt", "c");

    EXPECT_EQ(s3EntryNames(provider.listDirectory(root, {})), (std::vector<std::string>{"empty/", "sub/", "a.txt"}));
    // The folder's own marker is not listed in it; a trailing "/" changes nothing.
    EXPECT_EQ(s3EntryNames(provider.listDirectory(root + "/sub/", {})),
              (std::vector<std::string>{"deeper/", "b.txt"}));
    EXPECT_TRUE(provider.listDirectory(root + "/empty", {}).empty());

    // A folder delete is one DELETE of its marker, so a folder that still holds anything (files,
    // only a nested folder's marker, files without a marker of its own) is refused and keeps it all.
    provider.createDirectory(root + "/outer", {});
    provider.createDirectory(root + "/outer/inner", {});
    put(provider, temp, root + "/implicit/x.txt", "x");
    for (const std::string folder : {"sub", "outer", "implicit"}) {
        SCOPED_TRACE(folder);
        const auto refused = s3ExpectSledError([&] { provider.deleteItem(root + "/" + folder, true, {}); });
        EXPECT_EQ(refused.kind(), SledError::Kind::remoteCommandFailed);
        EXPECT_EQ(refused.message(), "The folder '" + folder + "' is not empty; delete what it holds first.");
    }
    provider.deleteItem(root + "/empty", true, {});
    provider.deleteItem(root + "/a.txt", false, {});
    EXPECT_EQ(s3EntryNames(provider.listDirectory(root, {})),
              (std::vector<std::string>{"implicit/", "outer/", "sub/"}));
    EXPECT_EQ(s3EntryNames(provider.listDirectory(root + "/outer", {})), std::vector<std::string>{"inner/"});
    EXPECT_EQ(tree(provider, root), (std::vector<std::string>{"implicit/x.txt", "sub/b.txt", "sub/deeper/c.txt"}));

    // Emptied from the inside out, each goes; the refused ones kept their markers meanwhile.
    provider.deleteItem(root + "/sub/b.txt", false, {});
    provider.deleteItem(root + "/sub/deeper/c.txt", false, {});
    provider.deleteItem(root + "/outer/inner/", true, {});
    EXPECT_EQ(s3EntryNames(provider.listDirectory(root, {})),
              (std::vector<std::string>{"implicit/", "outer/", "sub/"}));
    provider.deleteItem(root + "/sub", true, {});
    provider.deleteItem(root + "/outer", true, {});
    EXPECT_EQ(s3EntryNames(provider.listDirectory(root, {})), std::vector<std::string>{"implicit/"});
}

// Object keys are UTF-8 text. A name of other bytes (a file of this disk, say) is refused as a
// name before anything is sent — on a port where nothing listens a request would fail to connect
// instead — and in a batch it fails its own row only.
TEST(S3R2StorageProvider, AKeyThatIsNotUTF8IsRefusedAsANameBeforeAnythingIsSent) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const S3R2StorageProvider nowhere(s3TestProfile("http://127.0.0.1:1"), VornTestServices::value("S3_SECRET_KEY"));
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    const std::string bad = root + "/caf\351.txt";
    const auto badLocal = temp.write("L/caf\351.txt", "not sent");
    const auto okLocal = temp.write("L/ok.txt", "sent");
    for (const S3R2StorageProvider* through : {&provider, &nowhere}) {
        const std::function<void()> calls[] = {
            [&] { through->uploadFile(badLocal, bad, std::nullopt, {}, {}); },
            [&] { through->downloadFile(bad, temp / "back", {}, {}); },
            [&] { through->createDirectory(root + "/caf\351", {}); },
            [&] { through->deleteItem(bad, false, {}); },
            [&] { through->deleteItem(root + "/caf\351", true, {}); },
            [&] { through->renameItem(root + "/ok.txt", bad, false, {}); },
            [&] { through->renameItem(root + "/ok", root + "/caf\351", true, {}); },
            [&] { through->listDirectory(root + "/caf\351", {}); },
            [&] { (void)through->generatePresignedDownloadURL(bad, 60, vornDateNow()); },
        };
        for (std::size_t i = 0; i < std::size(calls); ++i) {
            SCOPED_TRACE(std::to_string(i) + (through == &nowhere ? " nowhere" : " server"));
            const auto refused = s3ExpectSledError(calls[i]);
            EXPECT_EQ(refused.kind(), SledError::Kind::remoteCommandFailed);
            EXPECT_NE(refused.message().find("caf\uFFFD"), std::string::npos) << refused.message();
            EXPECT_NE(refused.message().find("is not UTF-8 text"), std::string::npos) << refused.message();
        }
    }
    EXPECT_FALSE(fs::exists(temp / "back"));
    EXPECT_TRUE(provider.pathOutOfReach(bad, true).has_value());
    EXPECT_FALSE(provider.pathOutOfReach(root + "/ok.txt", true).has_value());

    const ParallelSledTransferEngine engine;
    std::vector<SledTransferJobSpec> jobs;
    for (const fs::path& source : {badLocal, okLocal}) {
        jobs.push_back({VornUUID::random(), source.filename().string(), source.string(),
                        root + "/" + source.filename().string(), 4, SledTransferDirection::upload});
    }
    const auto results = engine.executeBatch(jobs, LocalFileProvider(), provider, 2, true, {});
    for (const SledTransferJobResult& result : results) {
        if (result.recordID == jobs[0].recordID) {
            EXPECT_FALSE(result.success);
            EXPECT_NE(result.errorMessage.value_or("").find("is not UTF-8 text"), std::string::npos);
        } else {
            EXPECT_TRUE(result.success) << result.errorMessage.value_or("");
        }
    }
    EXPECT_EQ(s3EntryNames(provider.listDirectory(root, {})), std::vector<std::string>{"ok.txt"});
}

TEST(S3R2StorageProvider, RenamesFilesWithoutOverwriting) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    const std::string content = bytesOfLength(5000, 7);
    put(provider, temp, root + "/a~b c (1).txt", content);
    put(provider, temp, root + "/taken.txt", "keep me");

    // The metadata travels with the copy; spaces and non-ASCII names survive the copy source.
    // (The test server decodes the copy source with JavaScript's decodeURI, which leaves "%2B" and
    // the other reserved escapes undecoded, so keys with "+", "&", "=" ... cannot be copied there.)
    provider.renameItem(root + "/a~b c (1).txt", root + "/moved/ğ 1 x.txt", false, {});
    const auto back = provider.downloadFile(root + "/moved/ğ 1 x.txt", temp / "back", {}, {});
    EXPECT_EQ(vornReadFile(temp / "back"), content);
    EXPECT_EQ(back.remoteSHA256, VornSHA256::hexDigest(content));
    EXPECT_EQ(tree(provider, root), (std::vector<std::string>{"moved/ğ 1 x.txt", "taken.txt"}));

    const auto refused = s3ExpectSledError(
        [&] { provider.renameItem(root + "/moved/ğ 1 x.txt", root + "/taken.txt", false, {}); });
    EXPECT_EQ(refused.kind(), SledError::Kind::remoteCommandFailed);
    EXPECT_EQ(refused.message(), "An item named 'taken.txt' already exists.");
    EXPECT_EQ(get(provider, temp, root + "/taken.txt"), "keep me");
    EXPECT_EQ(get(provider, temp, root + "/moved/ğ 1 x.txt"), content);

    // Onto itself or to the root: nothing happens.
    provider.renameItem(root + "/taken.txt", root + "/taken.txt", false, {});
    provider.renameItem(root + "/taken.txt", "/", false, {});
    EXPECT_EQ(tree(provider, root), (std::vector<std::string>{"moved/ğ 1 x.txt", "taken.txt"}));
}

TEST(S3R2StorageProvider, RenamesFoldersWithoutMerging) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    for (const std::string name : {"src/one.txt", "src/a b/two (2).txt", "src/a b/c/three.txt"}) {
        put(provider, temp, root + "/" + name, name);
    }
    provider.createDirectory(root + "/src", {});
    provider.createDirectory(root + "/existing", {});
    put(provider, temp, root + "/busy/file.txt", "busy");

    // A target holding anything (its marker alone, or files) is refused before anything moves.
    for (const std::string target : {"/existing", "/busy/"}) {
        SCOPED_TRACE(target);
        const auto refused = s3ExpectSledError([&] { provider.renameItem(root + "/src", root + target, true, {}); });
        EXPECT_EQ(refused.kind(), SledError::Kind::remoteCommandFailed);
        EXPECT_EQ(refused.message(), "An item named '" + std::string(target.substr(1, target.find_last_not_of('/')))
                                         + "' already exists.");
    }
    EXPECT_EQ(tree(provider, root + "/src"), (std::vector<std::string>{"a b/c/three.txt", "a b/two (2).txt", "one.txt"}));

    provider.renameItem(root + "/src/", root + "/renamed", true, {});
    EXPECT_EQ(tree(provider, root + "/renamed"),
              (std::vector<std::string>{"a b/c/three.txt", "a b/two (2).txt", "one.txt"}));
    EXPECT_EQ(get(provider, temp, root + "/renamed/a b/two (2).txt"), "src/a b/two (2).txt");
    EXPECT_EQ(s3EntryNames(provider.listDirectory(root, {})),
              (std::vector<std::string>{"busy/", "existing/", "renamed/"}));

    // An empty folder: the marker moves.
    provider.renameItem(root + "/existing", root + "/was empty", true, {});
    EXPECT_EQ(s3EntryNames(provider.listDirectory(root, {})),
              (std::vector<std::string>{"busy/", "renamed/", "was empty/"}));

    // A failure ends the rename and says what stayed: here the server cannot store the new name
    // at all (longer than its disk takes), so everything stays under the old one.
    const std::string tooLong(300, 'n');
    const auto stopped = s3ExpectSledError([&] { provider.renameItem(root + "/renamed", root + "/" + tooLong, true, {}); });
    EXPECT_EQ(stopped.kind(), SledError::Kind::remoteCommandFailed);
    const std::string key = root.substr(1) + "/renamed/";
    EXPECT_EQ(stopped.message().rfind("The rename stopped at '" + key + "': ", 0), 0u) << stopped.message();
    EXPECT_NE(stopped.message().find(" 4 item(s) from there on stay under '" + key + "'"), std::string::npos)
        << stopped.message();
    EXPECT_EQ(tree(provider, root + "/renamed"),
              (std::vector<std::string>{"a b/c/three.txt", "a b/two (2).txt", "one.txt"}));
}

// Keys differing only in spaces at either end are different objects: each is listed, read,
// deleted and renamed as itself, through the paths its listing gives.
TEST(S3R2StorageProvider, KeysWithOuterSpacesAreTheirOwnObjects) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    const std::pair<std::string, std::string> objects[] = {
        {"/x.txt", "plain"},          {"/x.txt ", "trailing"},           {"/ x.txt", "leading"},
        {"/photos/a.txt", "in photos"}, {"/photos /a.txt", "in photos-space"},
    };
    for (const auto& [path, content] : objects) put(provider, temp, root + path, content);

    auto listed = s3EntryNames(provider.listDirectory(root, {}));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{" x.txt", "photos /", "photos/", "x.txt", "x.txt "}));
    for (const auto& entry : provider.listDirectory(root, {})) {
        if (entry.isDirectory) continue;
        SCOPED_TRACE("[" + entry.name + "]");
        const std::string expected = entry.name == "x.txt" ? "plain" : entry.name == "x.txt " ? "trailing" : "leading";
        EXPECT_EQ(get(provider, temp, entry.path), expected);
    }
    EXPECT_EQ(get(provider, temp, root + "/photos /a.txt"), "in photos-space");

    // Deleting "x.txt " removes that object and no other.
    provider.deleteItem(root + "/x.txt ", false, {});
    listed = s3EntryNames(provider.listDirectory(root, {}));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{" x.txt", "photos /", "photos/", "x.txt"}));
    EXPECT_EQ(get(provider, temp, root + "/x.txt"), "plain");

    // Renaming the folder "photos " moves its own files only.
    provider.renameItem(root + "/photos ", root + "/moved", true, {});
    EXPECT_EQ(tree(provider, root + "/photos"), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(get(provider, temp, root + "/photos/a.txt"), "in photos");
    EXPECT_EQ(tree(provider, root + "/moved"), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(get(provider, temp, root + "/moved/a.txt"), "in photos-space");
    EXPECT_TRUE(tree(provider, root + "/photos ").empty());
}

TEST(S3R2StorageProvider, PagesThroughMoreThanAThousandKeys) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    const auto local = temp.write("tiny", "x");
    const std::string digest = VornChecksum::sha256(local);
    constexpr int keyCount = 1205;
    // Uploaded from several threads at once through the provider: it shares nothing between calls.
    std::atomic<int> next{0};
    std::atomic<int> failures{0};
    std::vector<std::jthread> workers;
    for (int worker = 0; worker < 8; ++worker) {
        workers.emplace_back([&] {
            for (int index = next++; index < keyCount; index = next++) {
                try {
                    provider.uploadFile(local, root + "/big/k" + std::to_string(index), digest, {}, {});
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    workers.clear();
    ASSERT_EQ(failures, 0);
    provider.createDirectory(root + "/big/zz folder", {});

    // Two pages with continuation tokens holding "+", "/" and "=", each signed as sent.
    const auto entries = provider.listDirectory(root + "/big", {});
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(keyCount + 1));
    EXPECT_EQ(entries[0].name, "zz folder");
    EXPECT_EQ(entries[1].name, "k0");
    EXPECT_EQ(entries[10].name, "k9");
    EXPECT_EQ(entries[11].name, "k10");
    EXPECT_EQ(entries.back().name, "k1204");

    // At the page limit the listing stops with what it read, as an error a walk cannot ignore.
    const S3R2StorageProvider limited(s3TestProfile(), VornTestServices::value("S3_SECRET_KEY"), {400, 2, 2});
    try {
        (void)limited.listDirectory(root + "/big", {});
        ADD_FAILURE() << "a truncated listing passed for a whole one";
    } catch (const SledListingError& error) {
        EXPECT_EQ(error.kind(), SledListingError::Kind::tooLarge);
        EXPECT_EQ(error.folderPath(), root + "/big");
        EXPECT_EQ(error.entriesRead().size(), 800u);
        EXPECT_EQ(error.entriesRead()[2].name, "k2");  // sorted as a listing, not in key order
    }
    EXPECT_THROW((void)RecursiveDirectoryWalker::collectFiles(root, limited, {}, 12, {}), SledListingError);
    // A rename of a folder too large to list moves nothing.
    EXPECT_THROW(limited.renameItem(root + "/big", root + "/moved", true, {}), SledListingError);
    EXPECT_TRUE(provider.listDirectory(root + "/moved", {}).empty());
    EXPECT_EQ(provider.listDirectory(root + "/big", {}).size(), static_cast<std::size_t>(keyCount + 1));
}

// A flat listing reads every key under a prefix at any depth, markers included, page after page
// in key order, and one longer than its page limit fails as too large rather than pass for all.
TEST(S3R2StorageProvider, AFlatListingReadsEveryKeyUnderAFolderAtAnyDepth) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    provider.createDirectory(root + "/tree", {});
    provider.createDirectory(root + "/tree/a/empty", {});
    for (const std::string name : {"top.txt", "a/b/c/d/deep.txt", "a/one.txt", "z z/two.txt"}) {
        put(provider, temp, root + "/tree/" + name, name);
    }
    put(provider, temp, root + "/tree-sibling.txt", "not under the folder");
    const std::vector<std::string> expected{"", "a/b/c/d/deep.txt", "a/empty/", "a/one.txt", "top.txt", "z z/two.txt"};

    const S3R2StorageProvider paged(s3TestProfile(), VornTestServices::value("S3_SECRET_KEY"), {2, 50, 3});
    std::vector<std::string> names;
    for (const SledFileEntry& object : paged.listObjectsUnder(root + "/tree", {})) {
        names.push_back(object.name);
        EXPECT_EQ(object.path, root + "/tree/" + object.name);
        EXPECT_EQ(object.isDirectory, object.name.empty() || object.name.ends_with('/')) << object.name;
        if (object.name == "a/one.txt") {
            EXPECT_EQ(object.sizeBytes, 9);
            EXPECT_TRUE(object.modifiedAt.has_value());
            EXPECT_TRUE(object.eTag.has_value());
        }
    }
    EXPECT_EQ(names, expected);

    const S3R2StorageProvider capped(s3TestProfile(), VornTestServices::value("S3_SECRET_KEY"), {2, 50, 2});
    try {
        (void)capped.listObjectsUnder(root + "/tree", {});
        ADD_FAILURE() << "part of a tree passed for all of it";
    } catch (const SledListingError& error) {
        EXPECT_EQ(error.kind(), SledListingError::Kind::tooLarge);
        EXPECT_EQ(error.description(), "Listing too large: " + root + "/tree");
    }
}

TEST(S3R2StorageProvider, RefusesToAddressTheBucketRoot) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const auto local = temp.write("f", "x");
    const struct {
        std::string text;
        std::function<void()> action;
    } cases[] = {
        {"Cannot delete the bucket root.", [&] { provider.deleteItem("/", true, {}); }},
        {"Cannot delete the bucket root.", [&] { provider.deleteItem("", false, {}); }},
        {"Cannot upload to the bucket root.", [&] { provider.uploadFile(local, "/", std::nullopt, {}, {}); }},
        {"Cannot download the bucket root.", [&] { provider.downloadFile("/", temp / "root", {}, {}); }},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.text);
        const auto error = s3ExpectSledError(item.action);
        EXPECT_EQ(error.kind(), SledError::Kind::remoteCommandFailed);
        EXPECT_EQ(error.message(), item.text);
    }
    EXPECT_FALSE(fs::exists(temp / "root"));
    provider.testConnection({});  // the bucket is still there
}

TEST(S3R2StorageProvider, ErrorRepliesCarryStatusAndText) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    put(provider, temp, root + "/exists.txt", "x");

    // The server really checks: the wrong secret is refused with its XML error document.
    const S3R2StorageProvider impostor(s3TestProfile(), "not-the-secret");
    const auto refused = s3ExpectSledError([&] { impostor.testConnection({}); });
    EXPECT_EQ(refused.kind(), SledError::Kind::httpStatus);
    EXPECT_EQ(refused.statusCode(), 403);
    EXPECT_TRUE(refused.message().starts_with("<?xml")) << refused.message();
    EXPECT_NE(refused.message().find("SignatureDoesNotMatch"), std::string::npos);
    EXPECT_LE(refused.message().size(), 400u);
    EXPECT_EQ(refused.description(VornLanguage::en), "Remote server returned HTTP 403: " + refused.message());

    const auto missingBucket =
        s3ExpectSledError([&] { S3R2StorageProvider(s3TestProfile(VornTestServices::value("S3_ENDPOINT"), "nobucket"),
                                                    VornTestServices::value("S3_SECRET_KEY"))
                                    .testConnection({}); });
    EXPECT_EQ(missingBucket.statusCode(), 404);
    EXPECT_NE(missingBucket.message().find("NoSuchBucket"), std::string::npos);

    // A failed download reports the status phrase and leaves the destination as it was.
    temp.write("keep", "old content");
    const auto missing = s3ExpectSledError([&] { provider.downloadFile(root + "/absent.txt", temp / "keep", {}, {}); });
    EXPECT_EQ(missing.statusCode(), 404);
    EXPECT_EQ(missing.message(), "Not Found");
    EXPECT_EQ(vornReadFile(temp / "keep"), "old content");

    // A local file that cannot be read fails before anything is sent.
    EXPECT_THROW(provider.uploadFile(temp / "no such file", root + "/x", std::nullopt, {}, {}),
                 std::filesystem::filesystem_error);

    // Nothing listens there.
    const S3R2StorageProvider nowhere(s3TestProfile("http://127.0.0.1:1"), "secret");
    EXPECT_THROW(nowhere.testConnection({}), VornHTTPError);
}

TEST(S3R2StorageProvider, PresignedLinkDownloadsWithCurl) {
    VORN_REQUIRE_SERVICE("s3");
    VORN_REQUIRE_TOOL("curl");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string path = s3TestFolder() + "/shared link ü+.txt";
    put(provider, temp, path, "shared bytes");
    const auto link = provider.generatePresignedDownloadURL(path, 3600, vornDateNow());
    EXPECT_EQ(vornShell("curl -sS --noproxy '*' -w '|%{http_code}' " + vornShellQuote(link)).output,
              "shared bytes|200");
}

TEST(S3R2StorageProvider, CancellationLeavesTheDestinationAlone) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string path = s3TestFolder() + "/large.bin";
    const std::string content = bytesOfLength(8 * 1024 * 1024, 3);
    put(provider, temp, path, content);
    temp.write("out/keep", "previous");

    std::stop_source already;
    already.request_stop();
    EXPECT_THROW(provider.downloadFile(path, temp / "out/keep", {}, already.get_token()), VornTaskCancelled);
    EXPECT_THROW(provider.listDirectory("/", already.get_token()), VornTaskCancelled);

    // Stopped while the body streams in.
    std::stop_source midway;
    EXPECT_THROW(provider.downloadFile(
                     path, temp / "out/keep",
                     [&](std::int64_t done, std::int64_t) {
                         if (done > 0) midway.request_stop();
                     },
                     midway.get_token()),
                 VornTaskCancelled);
    EXPECT_EQ(vornReadFile(temp / "out/keep"), "previous");
    EXPECT_EQ(std::distance(fs::directory_iterator(temp / "out"), fs::directory_iterator()), 1);

    // Stopped while the body goes out. (What the test server keeps of a cut-off PUT is its own
    // affair; S3 stores nothing that falls short of its Content-Length.)
    std::stop_source uploading;
    const auto local = temp.write("replacement", bytesOfLength(8 * 1024 * 1024, 4));
    EXPECT_THROW(provider.uploadFile(
                     local, path, std::nullopt,
                     [&](std::int64_t done, std::int64_t) {
                         if (done > 0) uploading.request_stop();
                     },
                     uploading.get_token()),
                 VornTaskCancelled);
}

// The engine hashes and sends one open file: a file that grows after it was hashed, while it goes
// up, fails its job and is never called verified; the same file left alone is verified by the
// accepted PUT signed with its digest. A source swapped for a link after the plan is refused.
TEST(S3R2StorageProvider, TheBytesSentAreTheBytesHashed) {
    VORN_REQUIRE_SERVICE("s3");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    const ParallelSledTransferEngine engine;
    const auto jobFor = [&](const fs::path& source) {
        SledTransferJobSpec job{VornUUID::random(), source.filename().string(), source.string(),
                                root + "/" + source.filename().string(),
                                static_cast<std::int64_t>(fs::file_size(source)), SledTransferDirection::upload};
        job.destinationRoot = root;
        job.sourceRoot = (temp / "L").string();
        return job;
    };
    const fs::path grows = temp / "L" / "grows.bin";
    const fs::path calm = temp / "L" / "calm.bin";
    // A small file is hashed before it goes up; for a larger one the engine hashes while sending,
    // which a signed PUT waits for. Either way a grown file is never reported sent.
    for (const std::size_t size : {std::size_t{300'000}, std::size_t{3} << 20}) {
        SCOPED_TRACE(size);
        temp.write("L/grows.bin", bytesOfLength(size, 7));
        temp.write("L/calm.bin", bytesOfLength(size, 8));
        const SledTransferJobSpec growing = jobFor(grows);
        const SledTransferJobSpec steady = jobFor(calm);
        std::atomic<bool> appended = false;
        const auto results = engine.executeBatch(
            {growing, steady}, LocalFileProvider(), provider, 2, true,
            [&](const VornUUID& id, SledTransferStatus status, std::int64_t done, std::int64_t,
                const std::optional<std::string>& digest, bool, const std::optional<std::string>&) {
                // Once the file is open: hashed (and shown with its digest), or on its way up.
                const bool sending = status == SledTransferStatus::transferring && (digest || done > 0);
                if (id == growing.recordID && sending && !appended.exchange(true)) {
                    std::ofstream(grows, std::ios::app) << bytesOfLength(100'000, 9);
                }
            });
        ASSERT_TRUE(appended);
        for (const SledTransferJobResult& result : results) {
            if (result.recordID == growing.recordID) {
                EXPECT_FALSE(result.success);
                EXPECT_FALSE(result.isVerified);
            } else {
                EXPECT_TRUE(result.success) << result.errorMessage.value_or("");
                EXPECT_TRUE(result.isVerified);
            }
        }
        EXPECT_EQ(get(provider, temp, root + "/calm.bin"), vornReadFile(calm));
    }

    // Replaced by a link to a private file after it was listed: nothing is read, nothing goes up.
    const fs::path secret = temp.write("secret", "private");
    fs::remove(calm);
    fs::create_symlink(secret, calm);
    SledTransferJobSpec swapped = jobFor(calm);
    swapped.destinationPath = root + "/swapped.bin";
    const auto refused = engine.executeBatch({swapped}, LocalFileProvider(), provider, 1, true, {});
    EXPECT_FALSE(refused[0].success);
    const std::vector<std::string> stored = tree(provider, root);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "swapped.bin"), 0);
}
