#include "S3ProviderTestSupport.h"

#include <gtest/gtest.h>

#include "VornChecksum.h"
#include "VornTestDigests.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace fs = std::filesystem;

TEST(S3ContentDigests, OnlyAnEntityTagOfOnePutIsAnMD5) {
    struct Case {
        std::string tag;
        std::optional<std::string> md5;
    };
    const std::vector<Case> cases{
        {"9e107d9d372bb6826bd81d3542a419d6", "9e107d9d372bb6826bd81d3542a419d6"},
        {"\"9E107D9D372BB6826BD81D3542A419D6\"", "9e107d9d372bb6826bd81d3542a419d6"},
        {"9e107d9d372bb6826bd81d3542a419d6-2", std::nullopt},
        {"\"9e107d9d372bb6826bd81d3542a419d6-12\"", std::nullopt},
        {"9e107d9d372bb6826bd81d3542a419dz", std::nullopt},
        {"W/\"9e107d9d372bb6826bd81d3542a419d6\"", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(S3R2StorageProvider::md5OfEntityTag(c.tag), c.md5) << c.tag;
    }
}

// One HEAD per object: the MD5 its entity tag names, or the SHA-256 stored with it; an object
// that is not there has neither.
TEST(S3ContentDigests, TheStoreTellsWhatItHoldsAndNothingOfWhatItDoesNot) {
    VORN_REQUIRE_SERVICE("s3");
    const S3R2StorageProvider provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    std::vector<SledFileEntry> files;
    for (const std::string& bytes : {std::string("first object"), std::string()}) {
        SledFileEntry entry;
        entry.path = root + "/" + std::to_string(files.size()) + ".bin";
        provider.uploadFile(temp.write("up", bytes), entry.path, std::nullopt, {}, {});
        files.push_back(entry);
    }
    SledFileEntry missing;
    missing.path = root + "/missing.bin";
    files.push_back(missing);

    const auto md5 = provider.contentDigests(files, SledContentDigest::md5, {});
    EXPECT_EQ(md5, (std::map<std::string, std::string>{{files[0].path, vornTestMD5Hex("first object")},
                                                      {files[1].path, vornTestMD5Hex("")}}));
    const auto sha256 = provider.contentDigests(files, SledContentDigest::sha256, {});
    EXPECT_EQ(sha256, (std::map<std::string, std::string>{{files[0].path, VornSHA256::hexDigest("first object")},
                                                         {files[1].path, VornSHA256::hexDigest("")}}));
}

// A download takes the object's time; an object has no permission bits, so a new file gets the
// defaults, and the result says so for the engine to keep those of a file it replaces.
TEST(S3ContentDigests, ADownloadTakesTheObjectsTimeAndTheDefaultBits) {
    VORN_REQUIRE_SERVICE("s3");
    const S3R2StorageProvider provider = s3TestProvider();
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    provider.uploadFile(temp.write("up", "timed"), root + "/timed.txt", std::nullopt, {}, {});
    const std::vector<SledFileEntry> listed = provider.listDirectory(root, {});
    ASSERT_EQ(listed.size(), 1u);
    ASSERT_TRUE(listed[0].modifiedAt.has_value());

    const SledDownloadResult result = provider.downloadFile(root + "/timed.txt", temp / "down.txt", {}, {});
    EXPECT_FALSE(result.modeOfItsOwn);
    EXPECT_EQ(vornReadFile(temp / "down.txt"), "timed");
    const auto at = std::chrono::file_clock::to_sys(fs::last_write_time(temp / "down.txt"));
    EXPECT_LT(std::chrono::abs(at - *listed[0].modifiedAt), std::chrono::seconds(1));
    struct stat status {};
    ASSERT_EQ(::stat((temp / "down.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0666u & ~vornTestUmask());
}
