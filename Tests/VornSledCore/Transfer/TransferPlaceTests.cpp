#include "ParallelSledTransferEngine.h"

#include "LocalFileProvider.h"
#include "VornTestMemoryProvider.h"
#include "VornTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

// Where a copy may land and what it may read: always inside the folder the user chose, never
// through a link swapped in after the plan, and only the bytes that were hashed.

namespace fs = std::filesystem;

namespace {

const ParallelSledTransferEngine engine;

SledTransferJobSpec placed(const std::string& source, const std::string& destination,
                           std::optional<std::string> destinationRoot, std::optional<std::string> sourceRoot = {}) {
    SledTransferJobSpec job{VornUUID::random(), fs::path(source).filename().string(), source, destination, 0,
                            SledTransferDirection::localCopy};
    job.destinationRoot = std::move(destinationRoot);
    job.sourceRoot = std::move(sourceRoot);
    return job;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) {
        return names;
    }
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        names.push_back(fs::relative(item.path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// A destination that leaves the chosen folder once "." and ".." are folded fails on every route
// and writes nothing anywhere; the same names inside the folder are fine.
TEST(TransferPlaces, DestinationsOutsideTheChosenFolderFailAndWriteNothing) {
    VornTestTempDir dir;
    const fs::path source = dir.write("src/f.txt", "payload");
    const std::string root = (dir / "chosen").string();
    fs::create_directories(root);
    VornTestMemoryProvider remote;
    remote.addFile("/f.txt", "payload");

    const std::vector<std::string> outside = {root + "/../f.txt", root + "/a/../../f.txt", root + "/..",
                                              root + "x/f.txt", (dir / "elsewhere" / "f.txt").string(), root};
    for (const std::string& destination : outside) {
        SCOPED_TRACE(destination);
        // This disk as the destination: download, and local copy.
        for (const bool download : {true, false}) {
            SledTransferJobSpec job = placed(download ? "/f.txt" : source.string(), destination, root);
            const auto results = download ? engine.executeBatch({job}, remote, LocalFileProvider(), 1, true, {})
                                          : engine.executeBatch({job}, LocalFileProvider(), LocalFileProvider(), 1,
                                                                true, {});
            ASSERT_EQ(results.size(), 1u);
            EXPECT_FALSE(results[0].success);
            EXPECT_NE(results[0].errorMessage.value_or("").find("outside the chosen folder"), std::string::npos)
                << results[0].errorMessage.value_or("");
        }
        // Another back end as the destination: upload, and relay.
        const VornTestMemoryProvider store;
        const std::string remoteRoot = "/chosen";
        const std::string remoteDestination = remoteRoot + destination.substr(root.size());
        for (const bool upload : {true, false}) {
            SledTransferJobSpec job =
                placed(upload ? source.string() : "/f.txt", destination.starts_with(root) ? remoteDestination
                                                                                          : "/elsewhere/f.txt",
                       remoteRoot);
            const auto results = upload ? engine.executeBatch({job}, LocalFileProvider(), store, 1, true, {})
                                        : engine.executeBatch({job}, remote, store, 1, true, {});
            EXPECT_FALSE(results[0].success) << job.destinationPath;
            EXPECT_FALSE(store.file("/f.txt"));
            EXPECT_FALSE(store.file("/elsewhere/f.txt"));
        }
    }
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"chosen", "src", "src/f.txt"}));

    // Folded names that stay inside are no reason to refuse.
    const auto inside = engine.executeBatch({placed(source.string(), root + "/a/./b/../f.txt", root)},
                                            LocalFileProvider(), LocalFileProvider(), 1, true, {});
    EXPECT_TRUE(inside[0].success) << inside[0].errorMessage.value_or("");
    EXPECT_EQ(vornReadFile(fs::path(root) / "a" / "f.txt"), "payload");
}

// Sync L → R planned with one file in R/sub; before the run R/sub becomes a link out of R. The
// chosen folder is opened once and every folder below it without following links, so the copy
// fails and nothing outside changes, on every route that writes this disk.
TEST(TransferPlaces, AFolderSwappedForALinkBetweenPlanAndRunIsNotWrittenThrough) {
    for (const bool download : {false, true}) {
        SCOPED_TRACE(download ? "download" : "local copy");
        VornTestTempDir dir;
        const fs::path left = dir.write("L/sub/f", "new");
        dir.write("R/sub/f", "old");
        const fs::path victim = dir.write("outside/f", "not yours");
        VornTestMemoryProvider remote;
        remote.addFile("/L/sub/f", "new");
        const std::string root = (dir / "R").string();
        const SledTransferJobSpec job =
            placed(download ? "/L/sub/f" : left.string(), root + "/sub/f", root, (dir / "L").string());

        // The world changes between looking and acting.
        fs::remove_all(dir / "R" / "sub");
        fs::create_directory_symlink("../outside", dir / "R" / "sub");

        const auto results = download ? engine.executeBatch({job}, remote, LocalFileProvider(), 1, true, {})
                                      : engine.executeBatch({job}, LocalFileProvider(), LocalFileProvider(), 1, true, {});
        EXPECT_FALSE(results[0].success);
        EXPECT_FALSE(results[0].isVerified);
        EXPECT_NE(results[0].errorMessage.value_or("").find("symbolic link"), std::string::npos)
            << results[0].errorMessage.value_or("");
        EXPECT_EQ(vornReadFile(victim), "not yours");
        EXPECT_EQ(namesIn(dir / "outside"), (std::vector<std::string>{"f"}));
        EXPECT_TRUE(fs::is_symlink(dir / "R" / "sub"));
    }

    // The chosen folder itself may be a link: the user chose it as it is.
    VornTestTempDir dir;
    const fs::path source = dir.write("L/f", "bytes");
    fs::create_directories(dir / "real");
    fs::create_directory_symlink(dir / "real", dir / "chosen");
    const auto results = engine.executeBatch({placed(source.string(), (dir / "chosen" / "new" / "f").string(),
                                                     (dir / "chosen").string())},
                                             LocalFileProvider(), LocalFileProvider(), 1, true, {});
    EXPECT_TRUE(results[0].success) << results[0].errorMessage.value_or("");
    EXPECT_EQ(vornReadFile(dir / "real" / "new" / "f"), "bytes");
}

// A listed source replaced by a link (or a folder on its way replaced by one) after the plan is
// refused before a byte is read; a link the user named by itself is sent as its target.
TEST(TransferPlaces, ASourceSwappedForALinkAfterThePlanIsRefused) {
    VornTestTempDir dir;
    const fs::path secret = dir.write("secret/key", "private");
    ::chmod(secret.c_str(), 0600);
    dir.write("L/f", "listed");
    dir.write("L/sub/g", "listed too");
    const std::string root = (dir / "L").string();
    fs::remove(dir / "L" / "f");
    fs::create_symlink(secret, dir / "L" / "f");
    fs::remove_all(dir / "L" / "sub");
    fs::create_directory_symlink(dir / "secret", dir / "L" / "sub");
    const std::vector<std::string> swapped = {root + "/f", root + "/sub/key"};
    for (const std::string& source : swapped) {
        SCOPED_TRACE(source);
        const VornTestMemoryProvider store;
        const auto results = engine.executeBatch({placed(source, "/up/f", "/up", root)}, LocalFileProvider(), store,
                                                 1, true, {});
        EXPECT_FALSE(results[0].success);
        EXPECT_FALSE(store.file("/up/f"));
    }

    const VornTestMemoryProvider store;
    const auto chosen = engine.executeBatch({placed(root + "/f", "/up/f", "/up")}, LocalFileProvider(), store, 1,
                                            true, {});
    EXPECT_TRUE(chosen[0].success) << chosen[0].errorMessage.value_or("");
    EXPECT_EQ(store.file("/up/f"), "private");
}

// The file grows after it was hashed, while it is sent: the job fails and nothing says verified.
TEST(TransferPlaces, ASourceThatChangesWhileItIsSentFailsTheJob) {
    VornTestTempDir dir;
    const fs::path source = dir.write("L/grows.log", std::string(4096, 'a'));
    const VornTestMemoryProvider store;
    const SledTransferJobSpec job = placed(source.string(), "/up/grows.log", "/up", (dir / "L").string());
    bool appended = false;
    const auto results = engine.executeBatch(
        {job}, LocalFileProvider(), store, 1, true,
        [&](const VornUUID&, SledTransferStatus status, std::int64_t, std::int64_t, const std::optional<std::string>& digest,
            bool, const std::optional<std::string>&) {
            // The update just before the provider reads: the digest is known, nothing sent yet.
            if (status == SledTransferStatus::transferring && digest && !appended) {
                appended = true;
                std::ofstream(source, std::ios::app) << std::string(8192, 'b');
            }
        });
    ASSERT_TRUE(appended);
    EXPECT_FALSE(results[0].success);
    EXPECT_FALSE(results[0].isVerified);
    EXPECT_NE(results[0].errorMessage.value_or("").find("changed while it was sent"), std::string::npos)
        << results[0].errorMessage.value_or("");
}

// A copy made to replace what the user saw at the destination replaces only that: a file edited,
// or one that appeared where nothing was, after the listing stays as it is and the job fails; an
// unchanged destination is replaced. Checked at the rename, after the bytes have travelled.
TEST(TransferPlaces, ACopyReplacesOnlyTheDestinationThatWasListed) {
    VornTestTempDir dir;
    const fs::path source = dir.write("src/f.txt", "new contents");
    const fs::path chosen = dir / "chosen";
    const LocalFileProvider local;
    const auto listedNow = [&](const std::string& name) -> SledListedDestination {
        for (const SledFileEntry& entry : local.listDirectory(chosen.string(), {})) {
            if (entry.name == name) {
                return {true, entry.sizeBytes, entry.modifiedAt};
            }
        }
        return {};
    };
    dir.write("chosen/edited.txt", "old");
    dir.write("chosen/kept.txt", "old");
    fs::create_directories(chosen);
    const SledListedDestination editedAsListed = listedNow("edited.txt");
    const SledListedDestination keptAsListed = listedNow("kept.txt");
    const SledListedDestination appearedAsListed = listedNow("appeared.txt");
    ASSERT_TRUE(editedAsListed.exists && keptAsListed.exists && !appearedAsListed.exists);

    // Between the listing and the copy: the same size, a later time; and a new file.
    std::ofstream(chosen / "edited.txt") << "OLD";
    struct timespec later[2] = {{0, UTIME_OMIT}, {2'000'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (chosen / "edited.txt").c_str(), later, 0), 0);
    dir.write("chosen/appeared.txt", "someone else's");

    struct Case {
        std::string name;
        SledListedDestination listed;
        bool replaced;
        std::string after;
    };
    const std::vector<Case> cases{{"edited.txt", editedAsListed, false, "OLD"},
                                  {"appeared.txt", appearedAsListed, false, "someone else's"},
                                  {"kept.txt", keptAsListed, true, "new contents"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SledTransferJobSpec job = placed(source.string(), (chosen / c.name).string(), chosen.string());
        job.listedDestination = c.listed;
        const auto results = engine.executeBatch({job}, local, local, 1, true, {});
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].success, c.replaced) << results[0].errorMessage.value_or("");
        if (!c.replaced) {
            EXPECT_EQ(results[0].errorMessage, ParallelSledTransferEngine::changedSinceListedText());
        }
        EXPECT_EQ(vornReadFile(chosen / c.name), c.after);
    }
    // Nothing of the refused copies is left behind.
    EXPECT_EQ(namesIn(chosen), (std::vector<std::string>{"appeared.txt", "edited.txt", "kept.txt"}));
}
