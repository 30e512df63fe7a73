#pragma once

#include "VornTestMemoryProvider.h"

#include <utility>

// A provider that hands every operation to an in-memory store. Tests derive from it and override
// the one operation they want to bend (a hostile listing, a download that fails after writing),
// keeping the store's honest behaviour everywhere else.
class VornTestForwardingProvider : public SledStorageProvider {
public:
    explicit VornTestForwardingProvider(VornTestMemoryProvider store) : store_(std::move(store)) {}

    std::string displayName() const override { return store_.displayName(); }
    std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const override {
        return store_.listDirectory(at, stop);
    }
    SledDownloadResult downloadFile(const std::string& remotePath, const std::filesystem::path& to,
                                    const SledProgressCallback& onProgress, std::stop_token stop) const override {
        return store_.downloadFile(remotePath, to, onProgress, stop);
    }
    SledUploadResult uploadFile(const std::filesystem::path& localURL, const std::string& to,
                                const std::optional<std::string>& sha256Hex, const SledProgressCallback& onProgress,
                                std::stop_token stop) const override {
        return store_.uploadFile(localURL, to, sha256Hex, onProgress, stop);
    }
    void createDirectory(const std::string& at, std::stop_token stop) const override {
        store_.createDirectory(at, stop);
    }
    void deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const override {
        store_.deleteItem(at, isDirectory, stop);
    }
    void renameItem(const std::string& from, const std::string& to, bool isDirectory,
                    std::stop_token stop) const override {
        store_.renameItem(from, to, isDirectory, stop);
    }
    void testConnection(std::stop_token stop) const override { store_.testConnection(stop); }

protected:
    const VornTestMemoryProvider& store() const { return store_; }

private:
    VornTestMemoryProvider store_;
};
