#include "SledError.h"
#include "VornTestSupport.h"

#include <gtest/gtest.h>

namespace {

// Each test gets its own preferences, so switching the language touches nothing else.
class SledErrorTest : public ::testing::Test {
protected:
    VornTestTempDir dir;
    VornScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
    VornScopedEnv data{"XDG_DATA_HOME", (dir / "data").string()};
};

const std::string digestA = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string digestB = "fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210";

}  // namespace

TEST_F(SledErrorTest, EveryKindHasItsEnglishAndTurkishText) {
    const struct {
        SledError error;
        SledError::Kind kind;
        const char* english;
        const char* turkish;
    } cases[] = {
        {SledError::invalidProfile("no bucket"), SledError::Kind::invalidProfile, "Invalid connection profile: no bucket",
         "Geçersiz bağlantı profili: no bucket"},
        {SledError::missingCredential("secret access key"), SledError::Kind::missingCredential,
         "Missing system keyring credential: secret access key", "Sistem anahtarlığı kimlik bilgisi eksik: secret access key"},
        {SledError::connectionFailed(""), SledError::Kind::connectionFailed, "Connection failed: ", "Bağlantı başarısız: "},
        {SledError::remoteCommandFailed("  exit 1\n"), SledError::Kind::remoteCommandFailed,
         "Remote operation failed:   exit 1\n", "Uzak işlem başarısız:   exit 1\n"},
        {SledError::httpStatus(403, "Forbidden"), SledError::Kind::httpStatus, "Remote server returned HTTP 403: Forbidden",
         "Uzak sunucu HTTP 403 döndürdü: Forbidden"},
        {SledError::httpStatus(-1, ""), SledError::Kind::httpStatus, "Remote server returned HTTP -1: ",
         "Uzak sunucu HTTP -1 döndürdü: "},
        {SledError::checksumMismatch("a.bin", digestA, digestB), SledError::Kind::checksumMismatch,
         "SHA-256 mismatch for a.bin (expected 0123456789\u2026, got fedcba9876\u2026)",
         "a.bin için SHA-256 uyuşmazlığı (beklenen 0123456789\u2026, hesaplanan fedcba9876\u2026)"},
        {SledError::checksumMismatch("b", "abc", ""), SledError::Kind::checksumMismatch,
         "SHA-256 mismatch for b (expected abc\u2026, got \u2026)", "b için SHA-256 uyuşmazlığı (beklenen abc\u2026, hesaplanan \u2026)"},
        {SledError::checksumMismatch("c", "çğıöşüÇĞİÖŞÜ", "e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301"),
         SledError::Kind::checksumMismatch,
         "SHA-256 mismatch for c (expected çğıöşüÇĞİÖ\u2026, got e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301\u2026)",
         "c için SHA-256 uyuşmazlığı (beklenen çğıöşüÇĞİÖ\u2026, hesaplanan e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301\u2026)"},
        {SledError::invalidPIN(), SledError::Kind::invalidPIN, "Invalid LAN pairing PIN.", "Geçersiz yerel ağ eşleştirme PIN kodu."},
        {SledError::xmlParseFailed(), SledError::Kind::xmlParseFailed, "Failed to parse S3/R2 XML listing response.",
         "S3/R2 XML dosya listesi ayrıştırılamadı."},
        {SledError::cancelled(), SledError::Kind::cancelled, "Transfer cancelled.", "Transfer iptal edildi."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.kind(), c.kind);
        EXPECT_EQ(c.error.description(VornLanguage::en), c.english);
        EXPECT_EQ(c.error.description(VornLanguage::tr), c.turkish);
        EXPECT_STREQ(c.error.what(), c.english);
    }
    const SledError http = SledError::httpStatus(503, "Slow Down");
    EXPECT_EQ(http.statusCode(), 503);
    EXPECT_EQ(http.message(), "Slow Down");
    const SledError mismatch = SledError::checksumMismatch("f", digestA, digestB);
    EXPECT_EQ(mismatch.fileName(), "f");
    EXPECT_EQ(mismatch.expected(), digestA);
    EXPECT_EQ(mismatch.actual(), digestB);
}

TEST_F(SledErrorTest, DescriptionFollowsTheLanguageAtTheTimeItIsRead) {
    VornLanguage::setCurrent(VornLanguage::en);
    const SledError error = SledError::httpStatus(403, "Forbidden");
    EXPECT_EQ(error.description(), "Remote server returned HTTP 403: Forbidden");
    VornLanguage::setCurrent(VornLanguage::tr);
    EXPECT_EQ(error.description(), "Uzak sunucu HTTP 403 döndürdü: Forbidden");
    EXPECT_STREQ(error.what(), "Remote server returned HTTP 403: Forbidden");  // logs stay English
    try {
        throw SledError::cancelled();
    } catch (const std::exception& caught) {
        EXPECT_STREQ(caught.what(), "Transfer cancelled.");
    }
}
