#include "SFTPTestSupport.h"

#include <gtest/gtest.h>

#include "VornChecksum.h"
#include "VornTestDigests.h"
#include "VornUUID.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Digests of many files come from the server's own tools, a run of files at a time; a file the
// server cannot hash, or whose path would not come back unchanged in the tool's line, has none.
TEST(SFTPContentDigests, ManyFilesByEitherDigestAndNoneForWhatCannotBeTold) {
    VORN_REQUIRE_SERVICE("sshd");
    const SFTPStorageProvider provider = sftpTestProvider();
    const fs::path folder = fs::path(VornTestServices::value("SSHD_HOME")) / ("digests-" + VornUUID::random().uuidString());
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::all, fs::perm_options::replace);
    struct Removed {
        fs::path folder;
        ~Removed() {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } removed{folder};

    std::vector<SledFileEntry> files;
    std::map<std::string, std::string> contents;
    const auto add = [&](const std::string& name, const std::string& bytes) {
        const fs::path file = folder / name;
        std::ofstream(file, std::ios::binary) << bytes;
        fs::permissions(file, fs::perms(0644), fs::perm_options::replace);
        SledFileEntry entry;
        entry.name = name;
        entry.path = file.string();
        entry.sizeBytes = static_cast<std::int64_t>(bytes.size());
        files.push_back(entry);
        contents[entry.path] = bytes;
    };
    // More than one run holds, and one file too large to share a run.
    for (int index = 0; index < 70; ++index) {
        add("file " + std::to_string(index) + ".txt", "content " + std::to_string(index));
    }
    add("-looks like an option", "dash");
    add("large.bin", std::string(17 * 1024 * 1024, 'x'));
    add("back\\slash", "not asked for");
    SledFileEntry missing;
    missing.path = (folder / "missing").string();
    files.push_back(missing);

    for (const SledContentDigest kind : {SledContentDigest::md5, SledContentDigest::sha256}) {
        SCOPED_TRACE(kind == SledContentDigest::md5 ? "md5" : "sha256");
        const std::map<std::string, std::string> digests = provider.contentDigests(files, kind, {});
        EXPECT_EQ(digests.size(), files.size() - 2);
        for (const auto& [path, bytes] : contents) {
            const auto found = digests.find(path);
            if (path.ends_with("back\\slash")) {
                EXPECT_EQ(found, digests.end());
                continue;
            }
            ASSERT_NE(found, digests.end()) << path;
            EXPECT_EQ(found->second, kind == SledContentDigest::md5 ? vornTestMD5Hex(bytes) : VornSHA256::hexDigest(bytes))
                << path;
        }
        EXPECT_FALSE(digests.contains(missing.path));
    }
}
