#include "VornSystemErrorText.h"

#include "VornLocalizationStore.h"

#include <cerrno>
#include <utility>

namespace {

const char* turkishReason(int errorNumber) {
    switch (errorNumber) {
    case ENOENT: return "Böyle bir dosya ya da klasör yok";
    case EACCES: return "Erişim izni yok";
    case EPERM: return "İşleme izin verilmiyor";
    case EEXIST: return "Dosya zaten var";
    case ENOTDIR: return "Bir klasör değil";
    case EISDIR: return "Bir klasör";
    case ENOTEMPTY: return "Klasör boş değil";
    case ENOSPC: return "Aygıtta yer kalmadı";
    case EDQUOT: return "Disk kotası aşıldı";
    case EROFS: return "Salt okunur dosya sistemi";
    case ENAMETOOLONG: return "Dosya adı çok uzun";
    case ELOOP: return "Çok fazla sembolik bağlantı düzeyi";
    case EXDEV: return "Aygıtlar arası bağlantı geçersiz";
    case EBUSY: return "Aygıt ya da kaynak meşgul";
    case ETXTBSY: return "Dosya kullanımda";
    case EIO: return "Giriş/çıkış hatası";
    case EFBIG: return "Dosya çok büyük";
    case EMFILE:
    case ENFILE: return "Çok fazla açık dosya";
    case EINVAL: return "Geçersiz bağımsız değişken";
    case ECONNREFUSED: return "Bağlantı reddedildi";
    case ECONNRESET: return "Bağlantı karşı taraftan sıfırlandı";
    case ETIMEDOUT: return "Bağlantı zaman aşımına uğradı";
    case EHOSTUNREACH: return "Sunucuya ulaşılamıyor";
    case ENETUNREACH: return "Ağa ulaşılamıyor";
    case EPIPE: return "Bağlantı koptu";
    default: return nullptr;
    }
}

}  // namespace

std::string vornSystemErrorText(std::error_code code, VornLanguage language) {
    std::string english = code.message();
    const bool isErrno = code.category() == std::system_category() || code.category() == std::generic_category();
    const char* turkish = isErrno ? turkishReason(code.value()) : nullptr;
    if (turkish == nullptr) {
        return english;
    }
    return vornText(english, turkish, std::nullopt, language);
}

std::string vornSystemErrorText(int errorNumber, VornLanguage language) {
    return vornSystemErrorText(std::error_code(errorNumber, std::generic_category()), language);
}
