#include "SledStorageProvider.h"

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
