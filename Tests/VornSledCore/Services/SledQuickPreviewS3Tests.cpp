// The preview and the text save against the SigV4-verifying S3 test server: the downloaded copy
// is gone afterwards, and a saved text travels with its digest, which the bucket keeps.
#include "SledQuickPreviewService.h"

#include "../S3/S3ProviderTestSupport.h"
#include "QuickPreviewTestSupport.h"
#include "VornChecksum.h"
#include "VornTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class SledQuickPreviewS3 : public ::testing::Test {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("s3");
        folder_ = s3TestFolder();
    }
    void put(const std::string& key, const std::string& bytes) const {
        const VornTestTempDir local;
        s3TestProvider().uploadFile(local.write("upload", bytes), key, std::nullopt, {}, {});
    }
    std::string folder_;
};

}  // namespace

TEST_F(SledQuickPreviewS3, PreviewDownloadsACopyThatIsGoneAfterwards) {
    const std::string text = "satır 1\nsatır 2\n";  // two breaks: three lines, the last one empty
    const std::string key = folder_ + "/notlar.md";
    put(key, text);
    const auto before = vornPreviewTemporaryFiles();
    const S3R2StorageProvider provider = s3TestProvider();

    const SledFilePreviewResult result = SledQuickPreviewService::loadPreview(vornPreviewEntry(key), provider);
    EXPECT_EQ(result.fileName, "notlar.md");
    EXPECT_EQ(result.sha256Hex, VornSHA256::hexDigest(text));
    EXPECT_EQ(result.payload, SledPreviewPayload::text(text, 3, false));
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);

    EXPECT_THROW(SledQuickPreviewService::loadPreview(vornPreviewEntry(folder_ + "/missing.txt"), provider), SledError);
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);
}

TEST_F(SledQuickPreviewS3, SavedTextIsStoredWithItsDigest) {
    const std::string key = folder_ + "/config.yml";
    put(key, "old: 1\n");
    const auto before = vornPreviewTemporaryFiles();
    const std::string text = "yeni: değer\n";
    const S3R2StorageProvider provider = s3TestProvider();

    const SledFilePreviewResult saved = SledQuickPreviewService::saveEditedText(text, vornPreviewEntry(key), provider);
    EXPECT_EQ(saved.sha256Hex, VornSHA256::hexDigest(text));
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);

    // The bucket now holds the new text, and reports the digest the save sent along with it.
    const VornTestTempDir local;
    const SledDownloadResult back = provider.downloadFile(key, local / "back.yml", {}, {});
    EXPECT_EQ(vornReadFile(local / "back.yml"), text);
    EXPECT_EQ(back.remoteSHA256, VornSHA256::hexDigest(text));
}

// Another writer replaces the object after the preview opened: its entity tag moved, so the save
// is refused and the other writer's object stays.
TEST_F(SledQuickPreviewS3, ASaveIsRefusedWhenTheObjectChangedSinceThePreview) {
    const std::string key = folder_ + "/settings.json";
    put(key, "{\"a\":1}\n");
    const S3R2StorageProvider provider = s3TestProvider();
    const SledFileEntry entry = vornPreviewEntry(key, 8);
    const SledFilePreviewResult opened = SledQuickPreviewService::loadPreview(entry, provider);
    ASSERT_TRUE(opened.readState.eTag.has_value());
    SledQuickPreviewService::saveEditedText("{\"a\":2}\n", entry, provider, {}, &opened);

    const SledFilePreviewResult reopened = SledQuickPreviewService::loadPreview(entry, provider);
    EXPECT_NE(reopened.readState.eTag, opened.readState.eTag);
    put(key, "{\"a\":3}\n");
    EXPECT_THROW(SledQuickPreviewService::saveEditedText("{\"a\":4}\n", entry, provider, {}, &reopened),
                 SledPreviewChangedError);
    const VornTestTempDir local;
    provider.downloadFile(key, local / "back.json", {}, {});
    EXPECT_EQ(vornReadFile(local / "back.json"), "{\"a\":3}\n");
}
