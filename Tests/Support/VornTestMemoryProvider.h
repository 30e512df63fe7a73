#pragma once

#include "SledStorageProvider.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// A one-shot gate: wait() blocks until someone calls open(). For ordering jobs without timing.
class VornTestGate {
public:
    void open();
    void wait();
    bool isOpen() const;

private:
    mutable std::mutex lock_;
    std::condition_variable opened_;
    bool open_ = false;
};

// Our own storage back end, kept in memory and scripted by the test: the double of the provider
// interface with which tests drive the transfer engine, the walker or the preview. Folders and
// files live under "/"-separated text paths. Copies of one provider share the same storage, as
// copies of a remote provider reach the same server. Every operation is safe from any thread.
//
// Scripts attach behaviour to one operation on one path (or on every path, with anyPath): wait at
// a gate, wait for the caller's stop (then throw VornTaskCancelled), throw an error, report chosen
// progress steps, report a chosen digest. Unscripted calls behave like an honest back end:
// downloads report the true SHA-256 of the content, progress is one (size, size) call.
class VornTestMemoryProvider final : public SledStorageProvider {
public:
    enum class Operation { list, download, upload, createDirectory, deleteItem, rename, testConnection };
    static inline const std::string anyPath;

    struct Script {
        std::function<void()> onStart;                   // called first, on the calling thread
        std::shared_ptr<VornTestGate> gate;              // then the call waits here
        bool waitForStop = false;                        // then waits for the stop token and throws VornTaskCancelled
        std::exception_ptr error;                        // then thrown
        std::optional<std::vector<std::pair<std::int64_t, std::int64_t>>> progress;  // instead of (size, size)
        std::optional<std::optional<std::string>> reportedSHA256;  // download, upload: reported instead of the true digest
        bool ignoreLocalFile = false;                    // upload: store an empty file without reading the local one
    };

    explicit VornTestMemoryProvider(std::string displayName = "Memory Store");

    // Contents. Adding a file adds its parent folders.
    void addFile(const std::string& path, std::string bytes, std::optional<VornDate> modifiedAt = std::nullopt) const;
    void addFolder(const std::string& path) const;
    std::optional<std::string> file(const std::string& path) const;
    bool hasFolder(const std::string& path) const;

    void setScript(Operation operation, const std::string& path, Script script) const;

    // Observations. calls(): "download /a", "upload /b", ... in the order they began.
    std::vector<std::string> calls() const;
    // The sha256Hex argument of the last upload to `path` (outer nullopt: no upload there).
    std::optional<std::optional<std::string>> receivedDigest(const std::string& path) const;
    // Transfers (downloads and uploads) in flight at once: the most seen, and the threads seen.
    int maxTransfersInFlight() const;
    std::size_t transferThreadCount() const;
    // Every transfer waits, after its script, until `count` transfers are in flight together
    // (or the pool can bring no more: see releaseRendezvous). 0 turns it off.
    void setRendezvous(int count) const;
    void releaseRendezvous() const;

    std::string displayName() const override;
    std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const override;
    SledDownloadResult downloadFile(const std::string& remotePath, const std::filesystem::path& to,
                                    const SledProgressCallback& onProgress, std::stop_token stop) const override;
    SledUploadResult uploadFile(const std::filesystem::path& localURL, const std::string& to,
                    const std::optional<std::string>& sha256Hex, const SledProgressCallback& onProgress,
                    std::stop_token stop) const override;
    void createDirectory(const std::string& at, std::stop_token stop) const override;
    void deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const override;
    void renameItem(const std::string& from, const std::string& to, bool isDirectory,
                    std::stop_token stop) const override;
    void testConnection(std::stop_token stop) const override;

private:
    struct Node {
        bool isDirectory = false;
        std::string bytes;
        std::optional<VornDate> modifiedAt;
    };
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        std::map<std::string, Node> nodes;  // by normalised path; "/" always exists
        std::map<std::pair<Operation, std::string>, Script> scripts;
        std::vector<std::string> calls;
        std::map<std::string, std::optional<std::string>> receivedDigests;
        int inFlight = 0;
        int maxInFlight = 0;
        int rendezvous = 0;
        std::set<std::thread::id> threads;
    };

    Script begin(Operation operation, const std::string& path, const std::string& callText,
                 const std::stop_token& stop) const;
    void enterTransfer() const;
    void leaveTransfer() const;
    static void report(const Script& script, std::int64_t size, const SledProgressCallback& onProgress);

    std::string displayName_;
    std::shared_ptr<State> state_;
};
