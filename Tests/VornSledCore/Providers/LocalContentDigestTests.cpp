#include "LocalFileProvider.h"
#include "VornChecksum.h"
#include "VornTestDigests.h"
#include "VornTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

namespace fs = std::filesystem;

// Read here: a regular file has its digest; a link (never followed), a pipe, a folder or a file
// that is not there has none.
TEST(LocalContentDigests, OnlyRegularFilesAreRead) {
    const VornTestTempDir temp;
    temp.write("plain.txt", "plain bytes");
    temp.write("empty", "");
    fs::create_symlink(temp / "plain.txt", temp / "link");
    ASSERT_EQ(::mkfifo((temp / "pipe").c_str(), 0600), 0);
    fs::create_directory(temp / "folder");
    std::vector<SledFileEntry> files;
    for (const char* name : {"plain.txt", "empty", "link", "pipe", "folder", "missing"}) {
        SledFileEntry entry;
        entry.name = name;
        entry.path = (temp / name).string();
        files.push_back(entry);
    }
    const LocalFileProvider provider;
    EXPECT_EQ(provider.contentDigests(files, SledContentDigest::md5, {}),
              (std::map<std::string, std::string>{{files[0].path, vornTestMD5Hex("plain bytes")},
                                                  {files[1].path, vornTestMD5Hex("")}}));
    EXPECT_EQ(provider.contentDigests(files, SledContentDigest::sha256, {}),
              (std::map<std::string, std::string>{{files[0].path, VornSHA256::hexDigest("plain bytes")},
                                                  {files[1].path, VornSHA256::hexDigest("")}}));
}
