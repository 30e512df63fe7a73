// The preview and the text save over a real SFTP server (the loopback OpenSSH of the test
// services), whose files the tests also see directly on this disk.
#include "SledQuickPreviewService.h"

#include "SFTPTestSupport.h"
#include "QuickPreviewTestSupport.h"
#include "SledError.h"
#include "VornChecksum.h"
#include "VornTestSupport.h"
#include "VornUUID.h"
#include "VornXDG.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The SFTP provider with one flaw on the way up: the file that reaches the server has one more
// byte than the one the digest was made of, as a corrupted transfer would have. The server's own
// digest then disagrees with the caller's.
class CorruptingUploads final : public SledStorageProvider {
public:
    explicit CorruptingUploads(SFTPStorageProvider sftp) : sftp_(std::move(sftp)) {}

    std::string displayName() const override { return sftp_.displayName(); }
    std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const override {
        return sftp_.listDirectory(at, stop);
    }
    SledDownloadResult downloadFile(const std::string& remotePath, const fs::path& to,
                                    const SledProgressCallback& onProgress, std::stop_token stop) const override {
        return sftp_.downloadFile(remotePath, to, onProgress, stop);
    }
    SledUploadResult uploadFile(const fs::path& localURL, const std::string& to,
                                const std::optional<std::string>& sha256Hex, const SledProgressCallback& onProgress,
                                std::stop_token stop) const override {
        std::ofstream(localURL, std::ios::app) << '!';
        return sftp_.uploadFile(localURL, to, sha256Hex, onProgress, stop);
    }
    void createDirectory(const std::string& at, std::stop_token stop) const override { sftp_.createDirectory(at, stop); }
    void deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const override {
        sftp_.deleteItem(at, isDirectory, stop);
    }
    void renameItem(const std::string& from, const std::string& to, bool isDirectory,
                    std::stop_token stop) const override {
        sftp_.renameItem(from, to, isDirectory, stop);
    }
    void testConnection(std::stop_token stop) const override { sftp_.testConnection(stop); }

private:
    SFTPStorageProvider sftp_;
};

class SledQuickPreviewSFTP : public ::testing::Test {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("sshd");
        // Made by the server's user, who may not be this one; files go in through the provider.
        folder_ = fs::path(VornTestServices::value("SSHD_HOME")) / ("preview-" + VornUUID::random().uuidString());
        sftpTestProvider().createDirectory(folder_.string(), {});
    }
    void put(const fs::path& remote, const std::string& bytes) const {
        const VornTestTempDir local;
        sftpTestProvider().uploadFile(local.write("upload", bytes), remote.string(), std::nullopt, {}, {});
    }
    void TearDown() override {
        std::error_code ignored;
        if (!folder_.empty()) {
            fs::remove_all(folder_, ignored);
        }
    }
    fs::path folder_;
};

}  // namespace

TEST_F(SledQuickPreviewSFTP, PreviewDownloadsACopyThatIsGoneAfterwards) {
    const std::string text = "ALLOWED_HOSTS=*\r\nDEBUG=0\n";
    const fs::path file = folder_ / ".env.local";
    put(file, text);
    const auto before = vornPreviewTemporaryFiles();
    const SFTPStorageProvider provider = sftpTestProvider();
    const SledFilePreviewResult result = SledQuickPreviewService::loadPreview(vornPreviewEntry(file.string()), provider);
    EXPECT_EQ(result, (SledFilePreviewResult{".env.local", file.string(), "Loopback SFTP",
                                             static_cast<std::int64_t>(text.size()), VornSHA256::hexDigest(text),
                                             SledPreviewPayload::text(text, 4, false)}));
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);

    // A file that is not there fails as the provider says, and leaves nothing behind either.
    EXPECT_THROW(SledQuickPreviewService::loadPreview(vornPreviewEntry((folder_ / "missing.txt").string()), provider), SledError);
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);
}

TEST_F(SledQuickPreviewSFTP, SaveIsCheckedByTheServerAgainstItsDigest) {
    const fs::path file = folder_ / "config.yml";
    put(file, "old: 1\n");
    const auto before = vornPreviewTemporaryFiles();
    const std::string text = "yeni: değer\n";

    const SledFilePreviewResult saved = SledQuickPreviewService::saveEditedText(text, vornPreviewEntry(file.string()), sftpTestProvider());
    EXPECT_EQ(vornReadFile(file), text);
    EXPECT_EQ(saved.sha256Hex, VornSHA256::hexDigest(text));
    EXPECT_EQ(saved.sizeBytes, static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);

    // What arrives differs from what was hashed: the server's digest disagrees, and the save fails
    // with the provider's mismatch, which names the file being saved; the file saved before stays
    // as it was.
    try {
        SledQuickPreviewService::saveEditedText("edited\n", vornPreviewEntry(file.string()), CorruptingUploads(sftpTestProvider()));
        ADD_FAILURE() << "no error";
    } catch (const SledError& error) {
        EXPECT_EQ(error.kind(), SledError::Kind::checksumMismatch);
        EXPECT_EQ(error.fileName(), "config.yml") << "the user's file, not the temporary edit copy";
        EXPECT_EQ(error.expected(), VornSHA256::hexDigest("edited\n"));
        EXPECT_EQ(error.actual(), VornSHA256::hexDigest("edited\n!"));
    }
    EXPECT_EQ(vornReadFile(file), text);
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);
}

// The file as the server lists it (0644), previewed and saved: it stays 0644. Someone changes it on
// the server after the preview opened: the save is refused and their text stays.
TEST_F(SledQuickPreviewSFTP, ASaveKeepsTheModeAndRefusesOverAServerSideChange) {
    const fs::path file = folder_ / "site.conf";
    put(file, "listen 80;\n");
    fs::permissions(file, static_cast<fs::perms>(0644), fs::perm_options::replace);
    const SFTPStorageProvider provider = sftpTestProvider();
    const auto listed = provider.listDirectory(folder_.string(), {});
    ASSERT_EQ(listed.size(), 1u);
    const SledFileEntry& entry = listed[0];

    const SledFilePreviewResult opened = SledQuickPreviewService::loadPreview(entry, provider);
    SledQuickPreviewService::saveEditedText("listen 8080;\n", entry, provider, {}, &opened);
    EXPECT_EQ(vornReadFile(file), "listen 8080;\n");
    EXPECT_EQ(static_cast<unsigned>(fs::status(file).permissions()) & 07777, 0644u);

    const SledFilePreviewResult reopened = SledQuickPreviewService::loadPreview(entry, provider);
    put(file, "listen 8081;\n");  // another user's save, same size
    EXPECT_THROW(SledQuickPreviewService::saveEditedText("listen 9090;\n", entry, provider, {}, &reopened),
                 SledPreviewChangedError);
    EXPECT_EQ(vornReadFile(file), "listen 8081;\n");
}
