#include "SledError.h"

#include "VornLocalizationStore.h"

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <memory>

namespace {

// The first `count` user-perceived characters of `text` (all of it when shorter). Digests are
// ASCII and take the fast path; anything else is cut only between grapheme clusters.
std::string prefixCharacters(const std::string& text, int count) {
    bool ascii = true;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        return text.substr(0, static_cast<std::size_t>(count));
    }
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    const std::unique_ptr<UText, decltype(&utext_close)> closer(utext, &utext_close);
    const std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        return text.substr(0, static_cast<std::size_t>(count));
    }
    breaks->setText(utext, status);
    int32_t end = breaks->first();
    for (int i = 0; i < count; ++i) {
        const int32_t next = breaks->next();
        if (next == icu::BreakIterator::DONE) {
            return text;
        }
        end = next;
    }
    return text.substr(0, static_cast<std::size_t>(end));
}

}  // namespace

SledError::SledError(Kind kind, std::string message, std::int64_t statusCode, std::string fileName,
                     std::string expected, std::string actual)
    : kind_(kind),
      message_(std::move(message)),
      statusCode_(statusCode),
      fileName_(std::move(fileName)),
      expected_(std::move(expected)),
      actual_(std::move(actual)) {
    english_ = englishText();
}

SledError SledError::invalidProfile(std::string message) {
    return SledError(Kind::invalidProfile, std::move(message), 0, {}, {}, {});
}
SledError SledError::missingCredential(std::string message) {
    return SledError(Kind::missingCredential, std::move(message), 0, {}, {}, {});
}
SledError SledError::connectionFailed(std::string message) {
    return SledError(Kind::connectionFailed, std::move(message), 0, {}, {}, {});
}
SledError SledError::remoteCommandFailed(std::string message) {
    return SledError(Kind::remoteCommandFailed, std::move(message), 0, {}, {}, {});
}
SledError SledError::httpStatus(std::int64_t statusCode, std::string message) {
    return SledError(Kind::httpStatus, std::move(message), statusCode, {}, {}, {});
}
SledError SledError::checksumMismatch(std::string fileName, std::string expected, std::string actual) {
    return SledError(Kind::checksumMismatch, {}, 0, std::move(fileName), std::move(expected), std::move(actual));
}
SledError SledError::invalidPIN() {
    return SledError(Kind::invalidPIN, {}, 0, {}, {}, {});
}
SledError SledError::xmlParseFailed() {
    return SledError(Kind::xmlParseFailed, {}, 0, {}, {}, {});
}
SledError SledError::cancelled() {
    return SledError(Kind::cancelled, {}, 0, {}, {}, {});
}

std::string SledError::englishText() const {
    switch (kind_) {
        case Kind::invalidProfile: return "Invalid connection profile: " + message_;
        case Kind::missingCredential: return "Missing system keyring credential: " + message_;
        case Kind::connectionFailed: return "Connection failed: " + message_;
        case Kind::remoteCommandFailed: return "Remote operation failed: " + message_;
        case Kind::httpStatus: return "Remote server returned HTTP " + std::to_string(statusCode_) + ": " + message_;
        case Kind::checksumMismatch:
            return "SHA-256 mismatch for " + fileName_ + " (expected " + prefixCharacters(expected_, 10) +
                   "\u2026, got " + prefixCharacters(actual_, 10) + "\u2026)";
        case Kind::invalidPIN: return "Invalid LAN pairing PIN.";
        case Kind::xmlParseFailed: return "Failed to parse S3/R2 XML listing response.";
        case Kind::cancelled: return "Transfer cancelled.";
    }
    return {};
}

std::string SledError::turkishText() const {
    switch (kind_) {
        case Kind::invalidProfile: return "Geçersiz bağlantı profili: " + message_;
        case Kind::missingCredential: return "Sistem anahtarlığı kimlik bilgisi eksik: " + message_;
        case Kind::connectionFailed: return "Bağlantı başarısız: " + message_;
        case Kind::remoteCommandFailed: return "Uzak işlem başarısız: " + message_;
        case Kind::httpStatus: return "Uzak sunucu HTTP " + std::to_string(statusCode_) + " döndürdü: " + message_;
        case Kind::checksumMismatch:
            return fileName_ + " için SHA-256 uyuşmazlığı (beklenen " + prefixCharacters(expected_, 10) +
                   "\u2026, hesaplanan " + prefixCharacters(actual_, 10) + "\u2026)";
        case Kind::invalidPIN: return "Geçersiz yerel ağ eşleştirme PIN kodu.";
        case Kind::xmlParseFailed: return "S3/R2 XML dosya listesi ayrıştırılamadı.";
        case Kind::cancelled: return "Transfer iptal edildi.";
    }
    return {};
}

std::string SledError::description() const {
    return description(VornLanguage::current());
}

std::string SledError::description(VornLanguage language) const {
    return vornText(english_, turkishText(), std::nullopt, language);
}
