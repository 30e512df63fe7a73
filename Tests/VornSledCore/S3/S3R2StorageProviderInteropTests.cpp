#include "S3ProviderTestSupport.h"

#include "LocalFileProvider.h"
#include "ParallelSledTransferEngine.h"
#include "VornChecksum.h"

#include <fstream>

// The provider beside other clients of the same bucket: rclone reads what it wrote and writes what
// it reads, and the transfer engine moves batches through it with SHA-256 verification.

namespace fs = std::filesystem;

namespace {

std::string patterned(std::size_t length, char seed) {
    std::string bytes(length, '\0');
    for (std::size_t index = 0; index < length; ++index) bytes[index] = static_cast<char>(seed + index * 31 % 251);
    return bytes;
}

}  // namespace

TEST(S3R2StorageProviderInterop, RcloneReadsOurUploadsAndWeReadItsUploads) {
    VORN_REQUIRE_SERVICE("s3");
    VORN_REQUIRE_TOOL("rclone");
    const auto provider = s3TestProvider();
    const VornTestTempDir temp;
    const Rclone rclone(temp);
    const std::string root = s3TestFolder();

    for (const std::string name : {"ours.bin", "klasör/ours with spaces ü.bin"}) {
        SCOPED_TRACE(name);
        const std::string content = patterned(300'000, 'a');
        provider.uploadFile(temp.write("ours", content), root + "/" + name, std::nullopt, {}, {});
        const auto copied = rclone.run("copyto " + Rclone::remote(root + "/" + name) + " " +
                                       vornShellQuote((temp / "by-rclone").string()));
        ASSERT_EQ(copied.exitCode, 0) << copied.output;
        EXPECT_EQ(vornReadFile(temp / "by-rclone"), content);
    }

    const std::string theirs = patterned(1'500'000, 'z');
    const auto source = temp.write("theirs", theirs);
    const auto uploaded =
        rclone.run("copyto " + vornShellQuote(source.string()) + " " + Rclone::remote(root + "/rclone dir/theirs ş.bin"));
    ASSERT_EQ(uploaded.exitCode, 0) << uploaded.output;
    EXPECT_EQ(s3EntryNames(provider.listDirectory(root, {})),
              (std::vector<std::string>{"klasör/", "rclone dir/", "ours.bin"}));
    const auto result = provider.downloadFile(root + "/rclone dir/theirs ş.bin", temp / "back", {}, {});
    EXPECT_EQ(vornReadFile(temp / "back"), theirs);
    EXPECT_EQ(result.bytes, static_cast<std::int64_t>(theirs.size()));
    EXPECT_FALSE(result.remoteSHA256);  // rclone stores no SHA-256 of its own

    // rclone sees the same tree.
    const auto listed = rclone.run("lsf -R --files-only " + Rclone::remote(root) + " | LC_ALL=C sort");
    EXPECT_EQ(listed.output, "klasör/ours with spaces ü.bin\nours.bin\nrclone dir/theirs ş.bin\n");
}

TEST(S3R2StorageProviderInterop, EngineMovesBatchesThroughTheProvider) {
    VORN_REQUIRE_SERVICE("s3");
    const auto bucket = s3TestProvider();
    const LocalFileProvider local;
    const VornTestTempDir temp;
    const std::string root = s3TestFolder();
    const ParallelSledTransferEngine engine;
    const auto noUpdates = [](auto&&...) {};

    std::vector<SledTransferJobSpec> uploads, downloads, relays;
    std::map<std::string, std::string> contents;
    for (int index = 0; index < 10; ++index) {
        const std::string name = "file " + std::to_string(index) + ".bin";
        contents[name] = patterned(static_cast<std::size_t>(index) * 40'000 + 1, static_cast<char>('A' + index));
        const auto path = temp.write("up/" + name, contents[name]);
        const auto size = static_cast<std::int64_t>(contents[name].size());
        uploads.push_back({VornUUID::random(), name, path.string(), root + "/up/" + name, size,
                           SledTransferDirection::upload});
        downloads.push_back({VornUUID::random(), name, root + "/up/" + name, (temp / "down" / name).string(), size,
                             SledTransferDirection::download});
        relays.push_back({VornUUID::random(), name, root + "/up/" + name, root + "/relayed/" + name, size,
                          SledTransferDirection::remoteToRemote});
    }
    const auto expectAllVerified = [](const std::vector<SledTransferJobResult>& results) {
        ASSERT_EQ(results.size(), 10u);
        for (const auto& result : results) {
            EXPECT_TRUE(result.success) << result.errorMessage.value_or("");
            EXPECT_TRUE(result.isVerified);
        }
    };
    expectAllVerified(engine.executeBatch(uploads, local, bucket, 4, true, noUpdates));
    expectAllVerified(engine.executeBatch(downloads, bucket, local, 4, true, noUpdates));
    expectAllVerified(engine.executeBatch(relays, bucket, bucket, 4, true, noUpdates));
    for (const auto& [name, content] : contents) {
        EXPECT_EQ(vornReadFile(temp / "down" / name), content) << name;
        EXPECT_EQ(bucket.downloadFile(root + "/relayed/" + name, temp / "relayed" / name, {}, {}).remoteSHA256,
                  VornSHA256::hexDigest(content));
    }

    // A stored digest that disagrees with the bytes is caught by the download's verification. The
    // server refuses a PUT whose signed payload digest is wrong, so another client stores the lie
    // as plain metadata.
    VORN_REQUIRE_TOOL("rclone");
    const Rclone rclone(temp);
    const auto lied = rclone.run("copyto --metadata --metadata-set " +
                                 vornShellQuote("vornsled-sha256=" + std::string(64, '0')) + " " +
                                 vornShellQuote(temp.write("liar", "real bytes").string()) + " " +
                                 Rclone::remote(root + "/liar.bin"));
    ASSERT_EQ(lied.exitCode, 0) << lied.output;
    ASSERT_EQ(bucket.downloadFile(root + "/liar.bin", temp / "liar-probe", {}, {}).remoteSHA256, std::string(64, '0'));
    const auto caught = engine.executeBatch(
        {{VornUUID::random(), "liar.bin", root + "/liar.bin", (temp / "liar-down").string(), 10,
          SledTransferDirection::download}},
        bucket, local, 1, true, noUpdates);
    ASSERT_EQ(caught.size(), 1u);
    EXPECT_FALSE(caught[0].success);
    EXPECT_NE(caught[0].errorMessage.value_or("").find("SHA-256"), std::string::npos);
}
