#include "SledStorageProvider.h"

#include "VornLocalizationStore.h"
#include "VornLocalizedCompare.h"

#include <algorithm>

void SledStorageProvider::sortListing(std::vector<SledFileEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const SledFileEntry& a, const SledFileEntry& b) {
        if (a.isDirectory != b.isDirectory) {
            return a.isDirectory;
        }
        return localizedStandardLess(a.name, b.name);
    });
}

std::string sledHiddenItemReason() {
    return vornText("Hidden item; not copied", "Gizli öğe; kopyalanmadı");
}

SledListing SledStorageProvider::listDirectoryWithSkipped(const std::string& at, std::stop_token stop) const {
    return SledListing{listDirectory(at, std::move(stop)), {}};
}

SledUploadResult SledStorageProvider::uploadFileInside(const std::filesystem::path& localURL, const std::string& to,
                                                       const std::string&, const std::optional<std::string>& sha256Hex,
                                                       const SledProgressCallback& onProgress,
                                                       std::stop_token stop) const {
    return uploadFile(localURL, to, sha256Hex, onProgress, std::move(stop));
}

SledUploadResult SledStorageProvider::uploadFileInsideHashing(
    const std::filesystem::path& localURL, const std::string& to, const std::string& insideFolder,
    const std::function<std::optional<std::string>()>& sha256Hex, const SledProgressCallback& onProgress,
    std::stop_token stop) const {
    return uploadFileInside(localURL, to, insideFolder, sha256Hex(), onProgress, std::move(stop));
}

std::optional<std::string> SledStorageProvider::pathOutOfReach(const std::string&, bool) const { return std::nullopt; }
