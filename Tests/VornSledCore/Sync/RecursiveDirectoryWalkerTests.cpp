#include "DualPaneSyncPlanner.h"
#include "LocalFileProvider.h"
#include "RecursiveDirectoryWalker.h"
#include "SledError.h"
#include "SledListingError.h"
#include "VornRawValue.h"
#include "VornTaskCancelled.h"
#include "VornTestForwardingProvider.h"
#include "VornTestMemoryProvider.h"
#include "VornTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int defaultDepth = 12;

std::vector<std::string> relativePaths(const std::vector<RelativeFileNode>& nodes) {
    std::vector<std::string> paths;
    for (const RelativeFileNode& node : nodes) {
        paths.push_back(node.relativePath);
    }
    return paths;
}

std::vector<RelativeFileNode> walk(const SledStorageProvider& provider, const std::string& root,
                                   const std::vector<std::string>& patterns = {}, int maxDepth = defaultDepth) {
    return RecursiveDirectoryWalker::collectFiles(root, provider, patterns, maxDepth, {});
}

// The error of type E that a walk of `root` ends with (nothing when it succeeds or fails otherwise).
template <class E>
std::optional<E> walkError(const SledStorageProvider& provider, const std::string& root) {
    try {
        walk(provider, root);
    } catch (const E& error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}

// A back end whose listing of one folder carries an entry no honest file system would produce,
// as a hostile or broken server might send it.
class HostileListingProvider final : public VornTestForwardingProvider {
public:
    HostileListingProvider(VornTestMemoryProvider store, std::string folder, SledFileEntry extra)
        : VornTestForwardingProvider(std::move(store)), folder_(std::move(folder)), extra_(std::move(extra)) {}

    std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const override {
        std::vector<SledFileEntry> entries = store().listDirectory(at, stop);
        if (at == folder_) {
            entries.push_back(extra_);
        }
        return entries;
    }

private:
    std::string folder_;
    SledFileEntry extra_;
};

}  // namespace

// Real folders on this computer's disk, through the local provider.

TEST(RecursiveDirectoryWalker, FindsEveryFileBelowTheRootSortedByRelativePath) {
    const VornTestTempDir root;
    for (const char* file : {"b.txt", "A.txt", "10.txt", "9.txt", "x/y/z.bin", "x/a.txt", "X2/10/f", "X2/9/f"}) {
        root.write(file, file);
    }
    fs::create_directories(root / "empty/deeper");
    root.write(".hidden/secret.txt", "s");
    root.write(".dotfile", "d");

    const std::vector<RelativeFileNode> nodes = walk(LocalFileProvider(), root.path().string());
    EXPECT_EQ(relativePaths(nodes), (std::vector<std::string>{"9.txt", "10.txt", "A.txt", "b.txt", "x/a.txt",
                                                               "x/y/z.bin", "X2/9/f", "X2/10/f"}));
    for (const RelativeFileNode& node : nodes) {
        SCOPED_TRACE(node.relativePath);
        // Each node keeps the provider's own entry, whose path leads back to the file.
        EXPECT_EQ(node.entry.path, (root / node.relativePath).string());
        EXPECT_EQ(node.entry.name, fs::path(node.relativePath).filename().string());
        EXPECT_EQ(node.entry.sizeBytes, static_cast<std::int64_t>(node.relativePath.size()));
        EXPECT_FALSE(node.entry.isDirectory);
        EXPECT_TRUE(node.entry.modifiedAt.has_value());
    }
    EXPECT_EQ(nodes[5].parentRelativeDirectory(), "x/y");
    EXPECT_EQ(nodes[0].parentRelativeDirectory(), std::nullopt);
}

TEST(RecursiveDirectoryWalker, DepthLimitCountsTheRootAsZero) {
    const VornTestTempDir root;
    for (const char* file : {"r.txt", "a/1.txt", "a/b/2.txt", "a/b/c/3.txt"}) {
        root.write(file, "x");
    }
    const struct {
        int maxDepth;
        std::vector<std::string> found;
    } cases[] = {
        {0, {"r.txt"}},
        {1, {"a/1.txt", "r.txt"}},
        {2, {"a/1.txt", "a/b/2.txt", "r.txt"}},
        {3, {"a/1.txt", "a/b/2.txt", "a/b/c/3.txt", "r.txt"}},
        {defaultDepth, {"a/1.txt", "a/b/2.txt", "a/b/c/3.txt", "r.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxDepth);
        EXPECT_EQ(relativePaths(walk(LocalFileProvider(), root.path().string(), {}, c.maxDepth)), c.found);
    }
    EXPECT_THROW(walk(LocalFileProvider(), root.path().string(), {}, -1), std::invalid_argument);
}

// A walk that reports what it leaves out names each folder below the limit (not entered) and each
// hidden item this disk leaves out of its listings (a hidden folder once, not entered); excluded
// names are not reported, and the plain walk keeps leaving both out without failing.
TEST(RecursiveDirectoryWalker, FoldersBelowTheLimitAndHiddenItemsAreNamedNotEntered) {
    const VornTestTempDir root;
    for (const char* file : {"r.txt", ".env", "a/.gitignore", "a/b/2.txt", "a/b/c/3.txt", ".git/HEAD", "a/.cache/x"}) {
        root.write(file, "x");
    }
    const struct {
        int maxDepth;
        std::vector<std::string> patterns;
        std::vector<std::string> skipped;  // "<relative path> <why> <folder?>"
    } cases[] = {
        {1, {}, {".env hidden file", ".git hidden folder", "a/.cache hidden folder", "a/.gitignore hidden file",
                 "a/b tooDeep folder"}},
        {2, {".git", "*.gitignore"}, {".env hidden file", "a/.cache hidden folder", "a/b/c tooDeep folder"}},
        {3, {}, {".env hidden file", ".git hidden folder", "a/.cache hidden folder", "a/.gitignore hidden file"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxDepth);
        const auto found = RecursiveDirectoryWalker::collectFilesAndSkipped(root.path().string(), LocalFileProvider(),
                                                                            c.patterns, c.maxDepth, {});
        std::vector<std::string> skipped;
        for (const SkippedFileNode& node : found.skipped) {
            const bool hidden = node.entry.why == SledSkippedEntry::Why::hidden;
            EXPECT_TRUE(hidden || node.entry.why == SledSkippedEntry::Why::tooDeep);
            EXPECT_EQ(node.entry.reason, hidden ? "Hidden item; not copied"
                                                : "More than " + std::to_string(c.maxDepth) +
                                                      " folder levels deep; not copied");
            EXPECT_EQ(node.entry.path, (root / node.relativePath).string());
            skipped.push_back(node.relativePath + (hidden ? " hidden" : " tooDeep") +
                              (node.entry.isDirectory ? " folder" : " file"));
        }
        std::sort(skipped.begin(), skipped.end());
        EXPECT_EQ(skipped, c.skipped);
        EXPECT_EQ(relativePaths(walk(LocalFileProvider(), root.path().string(), c.patterns, c.maxDepth)),
                  relativePaths(found.files));
    }
}

TEST(RecursiveDirectoryWalker, ExclusionPatternsSkipFilesAndWholeFolders) {
    const VornTestTempDir root;
    for (const char* file : {"a.TMP", "keep.txt", "Node_Modules/pkg/index.js", "src/node_modules/x.js", "src/main.c",
                             "src/main.o", "build.log"}) {
        root.write(file, "x");
    }
    const struct {
        std::vector<std::string> patterns;
        std::vector<std::string> found;
    } cases[] = {
        {{" *.tmp "}, {"build.log", "keep.txt", "Node_Modules/pkg/index.js", "src/main.c", "src/main.o",
                       "src/node_modules/x.js"}},
        {{"node_modules"}, {"a.TMP", "build.log", "keep.txt", "src/main.c", "src/main.o"}},
        {{"", "  ", "\n"}, {"a.TMP", "build.log", "keep.txt", "Node_Modules/pkg/index.js", "src/main.c",
                            "src/main.o", "src/node_modules/x.js"}},
        {{"*.o", "*.LOG", "SRC"}, {"a.TMP", "keep.txt", "Node_Modules/pkg/index.js"}},
        {{"pkg/index.js", "*"}, {"a.TMP", "build.log", "keep.txt", "Node_Modules/pkg/index.js", "src/main.c",
                                 "src/main.o", "src/node_modules/x.js"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.patterns.front());
        EXPECT_EQ(relativePaths(walk(LocalFileProvider(), root.path().string(), c.patterns)), c.found);
    }
}

TEST(RecursiveDirectoryWalker, HostileButLegalNamesPassThroughUnchanged) {
    const VornTestTempDir root;
    const std::string longName(255, 'n');
    const std::vector<std::string> names = {"with space", "quote'\"s", "back\\slash", "new\nline", "bad\xff\xfe bytes",
                                            longName, "tab\tand\u202Ebidi"};
    for (const std::string& name : names) {
        root.write(fs::path(name) / name, name);
    }
    const std::vector<RelativeFileNode> nodes = walk(LocalFileProvider(), root.path().string());
    ASSERT_EQ(nodes.size(), names.size());
    for (const RelativeFileNode& node : nodes) {
        SCOPED_TRACE(node.relativePath);
        const std::string name = node.entry.name;
        EXPECT_EQ(node.relativePath, name + "/" + name);
        EXPECT_EQ(vornReadFile(node.entry.path), name);
    }
}

TEST(RecursiveDirectoryWalker, ALinkToAFolderIsAFileAndIsNotFollowed) {
    const VornTestTempDir root;
    root.write("real/inside.txt", "x");
    fs::create_directory_symlink(root / "real", root / "link");
    fs::create_directory_symlink(root.path(), root / "real/loop");
    EXPECT_EQ(relativePaths(walk(LocalFileProvider(), root.path().string())),
              (std::vector<std::string>{"link", "real/inside.txt", "real/loop"}));
}

TEST(RecursiveDirectoryWalker, AMissingRootFailsWithThePlatformError) {
    const VornTestTempDir root;
    EXPECT_THROW(walk(LocalFileProvider(), (root / "absent").string()), fs::filesystem_error);
}

// Failures and cancellation, scripted on the in-memory back end.

TEST(RecursiveDirectoryWalker, AFailingListingAnywhereFailsTheWholeWalkUnchanged) {
    const VornTestMemoryProvider store;
    store.addFile("/root/a.txt", "a");
    store.addFile("/root/d1/d2/d3/deep.txt", "d");
    store.addFile("/root/z/last.txt", "z");
    store.setScript(VornTestMemoryProvider::Operation::list, "/root/d1/d2/d3",
                    {.error = std::make_exception_ptr(SledError::remoteCommandFailed("permission denied"))});
    const std::optional<SledError> error = walkError<SledError>(store, "/root");
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->what(), "Remote operation failed: permission denied");
    // Depth first in listing order: the walk stopped at the failing folder and listed nothing after it.
    EXPECT_EQ(store.calls(), (std::vector<std::string>{"list /root", "list /root/d1", "list /root/d1/d2",
                                                       "list /root/d1/d2/d3"}));
}

TEST(RecursiveDirectoryWalker, ATruncatedListingIsAnErrorNeverAShorterTree) {
    const VornTestMemoryProvider store;
    store.addFile("/bucket/photos/1.jpg", "1");
    store.addFile("/bucket/top.txt", "t");
    const std::vector<SledFileEntry> firstPage = {
        SledFileEntry{"1.jpg", "/bucket/photos/1.jpg", false, 1, std::nullopt, std::nullopt, std::nullopt}};
    store.setScript(VornTestMemoryProvider::Operation::list, "/bucket/photos",
                    {.error = std::make_exception_ptr(SledListingError::tooLarge("/bucket/photos", firstPage))});
    const std::optional<SledListingError> error = walkError<SledListingError>(store, "/bucket");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), SledListingError::Kind::tooLarge);
    EXPECT_EQ(error->folderPath(), "/bucket/photos");
    EXPECT_EQ(error->entriesRead(), firstPage);  // still there for a pane that only browses
    EXPECT_STREQ(error->what(), "Listing too large: /bucket/photos");
    // The truncated folder excluded by a pattern is never listed, so the walk succeeds.
    EXPECT_EQ(relativePaths(walk(store, "/bucket", {"photos"})), (std::vector<std::string>{"top.txt"}));
}

TEST(RecursiveDirectoryWalker, NamesThatCannotBePathComponentsFailTheWalk) {
    const std::string nul("a\0b", 3);
    for (const std::string& name : {std::string(), std::string("."), std::string(".."), std::string("../../etc"),
                                    std::string("a/b"), nul}) {
        SCOPED_TRACE(name);
        const VornTestMemoryProvider store;
        store.addFile("/root/sub/ok.txt", "o");
        for (const bool isDirectory : {false, true}) {
            const HostileListingProvider provider(
                store, "/root/sub",
                SledFileEntry{name, "/elsewhere", isDirectory, 0, std::nullopt, std::nullopt, std::nullopt});
            const std::optional<SledListingError> error = walkError<SledListingError>(provider, "/root");
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind(), SledListingError::Kind::unsafeName);
            EXPECT_EQ(error->folderPath(), "/root/sub");
            EXPECT_EQ(error->name(), name);
        }
    }
    // A pattern that excludes the name lets the rest of the tree through.
    const VornTestMemoryProvider store;
    store.addFile("/root/ok.txt", "o");
    const HostileListingProvider provider(
        store, "/root", SledFileEntry{"..", "/", true, 0, std::nullopt, std::nullopt, std::nullopt});
    EXPECT_EQ(relativePaths(walk(provider, "/root", {".."})), (std::vector<std::string>{"ok.txt"}));
}

TEST(RecursiveDirectoryWalker, ListsOnceForEachFolderItVisits) {
    const VornTestMemoryProvider store;
    for (const char* file : {"/r/a/1", "/r/a/b/2", "/r/a/b/c/3", "/r/skip/4", "/r/skip/inner/5", "/r/6"}) {
        store.addFile(file, "x");
    }
    EXPECT_EQ(relativePaths(walk(store, "/r", {"skip"}, 2)), (std::vector<std::string>{"6", "a/1", "a/b/2"}));
    // Nothing for the excluded folder, nothing for the one beyond the limit.
    EXPECT_EQ(store.calls(), (std::vector<std::string>{"list /r", "list /r/a", "list /r/a/b"}));
}

TEST(RecursiveDirectoryWalker, AStopRequestEndsTheWalkBeforeTheNextListing) {
    const VornTestMemoryProvider store;
    store.addFile("/r/a/1", "x");
    store.addFile("/r/b/2", "x");
    store.addFile("/r/c/3", "x");
    std::stop_source stop;
    store.setScript(VornTestMemoryProvider::Operation::list, "/r/a", {.onStart = [&] { stop.request_stop(); }});
    EXPECT_THROW(RecursiveDirectoryWalker::collectFiles("/r", store, {}, defaultDepth, stop.get_token()),
                 VornTaskCancelled);
    EXPECT_EQ(store.calls(), (std::vector<std::string>{"list /r", "list /r/a"}));

    const VornTestMemoryProvider untouched;
    std::stop_source early;
    early.request_stop();
    EXPECT_THROW(RecursiveDirectoryWalker::collectFiles("/", untouched, {}, defaultDepth, early.get_token()),
                 VornTaskCancelled);
    EXPECT_TRUE(untouched.calls().empty());
}

namespace {

// Plans the two walked sides in every mode: every row but "plain.txt" is left alone with `reason`,
// exactly the paths `leftAlone` are, and nodes handed over to be used up give the same plan.
void expectLeftAloneInEveryMode(const std::vector<RelativeFileNode>& left, const std::vector<RelativeFileNode>& right,
                                const std::string& reason, const std::set<std::string>& leftAlone) {
    for (const auto mode : {SyncDirectionMode::mirrorLeftToRight, SyncDirectionMode::mirrorRightToLeft,
                            SyncDirectionMode::twoWayUpdate}) {
        SCOPED_TRACE(rawValue(mode));
        std::set<std::string> skipped;
        const std::vector<SyncPlanItem> plan = DualPaneSyncPlanner::planRecursive(left, right, mode, true);
        EXPECT_EQ(DualPaneSyncPlanner::planRecursive(std::vector(left), std::vector(right), mode, true), plan);
        for (const SyncPlanItem& item : plan) {
            if (item.reason() == reason) {
                EXPECT_EQ(item.action(), SyncActionKind::identicalSkip);
                EXPECT_EQ(item.bytesToTransfer(), 0);
                skipped.insert(item.relativeName());
            } else {
                EXPECT_EQ(item.relativeName(), "plain.txt");
            }
        }
        EXPECT_EQ(skipped, leftAlone);
    }
}

}  // namespace

// Links on the real disk, walked and planned as a sync does: nothing at or beneath a link on either
// side is copied, replaced or deleted, whatever the mode.
TEST(DualPaneSyncPlanner, SymbolicLinksOnEitherSideAreLeftAloneWithEverythingBeneathThem) {
    VornTestTempDir dir;
    dir.write("outside/x.txt", "not ours");
    dir.write("outside/y.txt", "not ours either");
    dir.write("L/sub/x.txt", "left x");
    dir.write("L/plain.txt", "same");
    dir.write("L/real.txt", "a regular file on the left");
    fs::create_directory_symlink(dir / "outside", dir / "L" / "docs");
    fs::create_symlink(dir / "outside" / "x.txt", dir / "L" / "flink.txt");
    dir.write("R/docs/a.txt", "a real file the left link hides");
    dir.write("R/flink.txt", "a regular file on the right");
    dir.write("R/plain.txt", "same");
    fs::create_directory_symlink(dir / "outside", dir / "R" / "sub");
    fs::create_symlink(dir / "outside" / "y.txt", dir / "R" / "real.txt");
    const auto left = walk(LocalFileProvider(), (dir / "L").string());
    const auto right = walk(LocalFileProvider(), (dir / "R").string());
    const std::set<std::string> linked = {"docs", "docs/a.txt", "flink.txt", "real.txt", "sub", "sub/x.txt"};
    expectLeftAloneInEveryMode(left, right, "Symbolic link, left alone", linked);
}

// A socket and a pipe on the real disk, facing a regular file and an orphan: the plan neither
// copies them, nor copies over them, nor deletes them, in any mode.
TEST(DualPaneSyncPlanner, SocketsAndPipesAreLeftAlone) {
    VornTestTempDir dir;
    dir.write("L/plain.txt", "same");
    dir.write("R/plain.txt", "same");
    dir.write("R/run/app.sock", "a regular file where the left has a socket");
    dir.write("L/queue", "a regular file where the right has a pipe");
    fs::create_directories(dir / "L" / "run");
    ASSERT_EQ(::mkfifo((dir / "R" / "queue").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "R" / "orphan.fifo").c_str(), 0600), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A short relative path: the temporary folder may be too deep for a socket address.
    const fs::path previous = fs::current_path();
    fs::current_path(dir / "L" / "run");
    std::strcpy(address.sun_path, "app.sock");
    const int bound = ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    fs::current_path(previous);
    ::close(listener);
    ASSERT_EQ(bound, 0);

    const auto left = walk(LocalFileProvider(), (dir / "L").string());
    const auto right = walk(LocalFileProvider(), (dir / "R").string());
    const auto socketEntry = std::find_if(left.begin(), left.end(), [](const auto& node) {
        return node.relativePath == "run/app.sock";
    });
    ASSERT_NE(socketEntry, left.end());
    ASSERT_TRUE(socketEntry->entry.permissions);
    EXPECT_EQ(socketEntry->entry.permissions->front(), 's');

    expectLeftAloneInEveryMode(left, right, "Not a regular file, left alone",
                               {"orphan.fifo", "queue", "run/app.sock"});
}
