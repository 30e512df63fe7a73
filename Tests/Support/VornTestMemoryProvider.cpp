#include "VornTestMemoryProvider.h"

#include "SledError.h"
#include "VornChecksum.h"
#include "VornTaskCancelled.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// "/"-separated, one leading "/", no empty or trailing pieces: "a//b/" → "/a/b".
std::string normalised(const std::string& path) {
    std::string result;
    std::string piece;
    std::istringstream stream(path);
    while (std::getline(stream, piece, '/')) {
        if (!piece.empty()) {
            result += "/" + piece;
        }
    }
    return result.empty() ? "/" : result;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string lastPiece(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

[[noreturn]] void fail(const std::string& message) {
    throw SledError::remoteCommandFailed(message);
}

}  // namespace

void VornTestGate::open() {
    {
        std::lock_guard guard(lock_);
        open_ = true;
    }
    opened_.notify_all();
}

void VornTestGate::wait() {
    std::unique_lock guard(lock_);
    opened_.wait(guard, [&] { return open_; });
}

bool VornTestGate::isOpen() const {
    std::lock_guard guard(lock_);
    return open_;
}

VornTestMemoryProvider::VornTestMemoryProvider(std::string displayName)
    : displayName_(std::move(displayName)), state_(std::make_shared<State>()) {
    state_->nodes["/"] = Node{true, {}, {}};
}

void VornTestMemoryProvider::addFile(const std::string& path, std::string bytes,
                                     std::optional<VornDate> modifiedAt) const {
    const std::string key = normalised(path);
    addFolder(parentOf(key));
    std::lock_guard guard(state_->lock);
    state_->nodes[key] = Node{false, std::move(bytes), modifiedAt};
}

void VornTestMemoryProvider::addFolder(const std::string& path) const {
    std::lock_guard guard(state_->lock);
    for (std::string key = normalised(path); key != "/"; key = parentOf(key)) {
        state_->nodes.try_emplace(key, Node{true, {}, {}});
    }
}

std::optional<std::string> VornTestMemoryProvider::file(const std::string& path) const {
    std::lock_guard guard(state_->lock);
    const auto found = state_->nodes.find(normalised(path));
    if (found == state_->nodes.end() || found->second.isDirectory) {
        return std::nullopt;
    }
    return found->second.bytes;
}

bool VornTestMemoryProvider::hasFolder(const std::string& path) const {
    std::lock_guard guard(state_->lock);
    const auto found = state_->nodes.find(normalised(path));
    return found != state_->nodes.end() && found->second.isDirectory;
}

void VornTestMemoryProvider::setScript(Operation operation, const std::string& path, Script script) const {
    std::lock_guard guard(state_->lock);
    state_->scripts[{operation, path.empty() ? path : normalised(path)}] = std::move(script);
}

std::vector<std::string> VornTestMemoryProvider::calls() const {
    std::lock_guard guard(state_->lock);
    return state_->calls;
}

std::optional<std::optional<std::string>> VornTestMemoryProvider::receivedDigest(const std::string& path) const {
    std::lock_guard guard(state_->lock);
    const auto found = state_->receivedDigests.find(normalised(path));
    if (found == state_->receivedDigests.end()) {
        return std::nullopt;
    }
    return found->second;
}

int VornTestMemoryProvider::maxTransfersInFlight() const {
    std::lock_guard guard(state_->lock);
    return state_->maxInFlight;
}

std::size_t VornTestMemoryProvider::transferThreadCount() const {
    std::lock_guard guard(state_->lock);
    return state_->threads.size();
}

void VornTestMemoryProvider::setRendezvous(int count) const {
    std::lock_guard guard(state_->lock);
    state_->rendezvous = count;
}

void VornTestMemoryProvider::releaseRendezvous() const {
    setRendezvous(0);
    state_->changed.notify_all();
}

VornTestMemoryProvider::Script VornTestMemoryProvider::begin(Operation operation, const std::string& path,
                                                             const std::string& callText,
                                                             const std::stop_token& stop) const {
    Script script;
    {
        std::lock_guard guard(state_->lock);
        state_->calls.push_back(callText);
        auto found = state_->scripts.find({operation, path});
        if (found == state_->scripts.end()) {
            found = state_->scripts.find({operation, anyPath});
        }
        if (found != state_->scripts.end()) {
            script = found->second;
        }
    }
    if (script.onStart) {
        script.onStart();
    }
    if (script.gate) {
        script.gate->wait();
    }
    if (script.waitForStop) {
        std::mutex waitLock;
        std::condition_variable_any stopped;
        std::unique_lock guard(waitLock);
        stopped.wait(guard, stop, [] { return false; });
        throw VornTaskCancelled();
    }
    if (script.error) {
        std::rethrow_exception(script.error);
    }
    return script;
}

void VornTestMemoryProvider::enterTransfer() const {
    std::unique_lock guard(state_->lock);
    state_->threads.insert(std::this_thread::get_id());
    ++state_->inFlight;
    state_->maxInFlight = std::max(state_->maxInFlight, state_->inFlight);
    state_->changed.notify_all();
    // A guard against a hang when the engine never brings that many together: the test then fails
    // on the count it observed, instead of waiting for ever.
    state_->changed.wait_for(guard, std::chrono::seconds(60), [&] {
        return state_->rendezvous == 0 || state_->maxInFlight >= state_->rendezvous;
    });
}

void VornTestMemoryProvider::leaveTransfer() const {
    std::lock_guard guard(state_->lock);
    --state_->inFlight;
}

void VornTestMemoryProvider::report(const Script& script, std::int64_t size, const SledProgressCallback& onProgress) {
    if (!onProgress) {
        return;
    }
    if (script.progress) {
        for (const auto& [done, total] : *script.progress) {
            onProgress(done, total);
        }
    } else {
        onProgress(size, size);
    }
}

std::string VornTestMemoryProvider::displayName() const {
    return displayName_;
}

std::vector<SledFileEntry> VornTestMemoryProvider::listDirectory(const std::string& at, std::stop_token stop) const {
    const std::string folder = normalised(at);
    begin(Operation::list, folder, "list " + folder, stop);
    std::lock_guard guard(state_->lock);
    const auto found = state_->nodes.find(folder);
    if (found == state_->nodes.end() || !found->second.isDirectory) {
        fail("No such folder: " + folder);
    }
    std::vector<SledFileEntry> entries;
    for (const auto& [path, node] : state_->nodes) {
        if (path != "/" && parentOf(path) == folder) {
            entries.push_back(SledFileEntry{lastPiece(path), path, node.isDirectory,
                                            node.isDirectory ? 0 : static_cast<std::int64_t>(node.bytes.size()),
                                            node.modifiedAt, std::nullopt, std::nullopt});
        }
    }
    sortListing(entries);
    return entries;
}

SledDownloadResult VornTestMemoryProvider::downloadFile(const std::string& remotePath, const fs::path& to,
                                                        const SledProgressCallback& onProgress,
                                                        std::stop_token stop) const {
    const std::string key = normalised(remotePath);
    enterTransfer();
    struct Leave {
        const VornTestMemoryProvider* provider;
        ~Leave() { provider->leaveTransfer(); }
    } leave{this};
    const Script script = begin(Operation::download, key, "download " + key, stop);
    const std::optional<std::string> bytes = file(key);
    if (!bytes) {
        fail("No such file: " + key);
    }
    if (to.has_parent_path()) {
        fs::create_directories(to.parent_path());
    }
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
    out.close();
    if (!out) {
        throw fs::filesystem_error("cannot write the download", to, std::make_error_code(std::errc::io_error));
    }
    const auto size = static_cast<std::int64_t>(bytes->size());
    report(script, size, onProgress);
    return SledDownloadResult{size, script.reportedSHA256 ? *script.reportedSHA256
                                                          : std::optional(VornSHA256::hexDigest(*bytes))};
}

SledUploadResult VornTestMemoryProvider::uploadFile(const fs::path& localURL, const std::string& to,
                                        const std::optional<std::string>& sha256Hex,
                                        const SledProgressCallback& onProgress, std::stop_token stop) const {
    const std::string key = normalised(to);
    enterTransfer();
    struct Leave {
        const VornTestMemoryProvider* provider;
        ~Leave() { provider->leaveTransfer(); }
    } leave{this};
    const Script script = begin(Operation::upload, key, "upload " + key, stop);
    std::string bytes;
    if (!script.ignoreLocalFile) {
        std::ifstream in(localURL, std::ios::binary);
        if (!in) {
            throw fs::filesystem_error("cannot open the file to upload", localURL,
                                       std::make_error_code(std::errc::no_such_file_or_directory));
        }
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto size = static_cast<std::int64_t>(bytes.size());
    std::string stored;
    addFolder(parentOf(key));
    {
        std::lock_guard guard(state_->lock);
        const auto existing = state_->nodes.find(key);
        if (existing != state_->nodes.end() && existing->second.isDirectory) {
            fail("An item named '" + lastPiece(key) + "' already exists.");
        }
        stored = VornSHA256::hexDigest(bytes);
        state_->nodes[key] = Node{false, std::move(bytes), std::nullopt};
        state_->receivedDigests[key] = sha256Hex;
    }
    report(script, size, onProgress);
    // An honest back end hashes what it stored; a script can make it report another digest or none.
    return SledUploadResult{script.reportedSHA256 ? *script.reportedSHA256 : std::optional(stored)};
}

void VornTestMemoryProvider::createDirectory(const std::string& at, std::stop_token stop) const {
    const std::string key = normalised(at);
    begin(Operation::createDirectory, key, "createDirectory " + key, stop);
    if (file(key)) {
        fail("An item named '" + lastPiece(key) + "' already exists.");
    }
    addFolder(key);
}

void VornTestMemoryProvider::deleteItem(const std::string& at, bool, std::stop_token stop) const {
    const std::string key = normalised(at);
    begin(Operation::deleteItem, key, "delete " + key, stop);
    std::lock_guard guard(state_->lock);
    if (key == "/" || state_->nodes.erase(key) == 0) {
        fail("No such item: " + key);
    }
    std::erase_if(state_->nodes, [&](const auto& node) { return node.first.starts_with(key + "/"); });
}

void VornTestMemoryProvider::renameItem(const std::string& from, const std::string& to, bool,
                                        std::stop_token stop) const {
    const std::string source = normalised(from);
    const std::string target = normalised(to);
    begin(Operation::rename, source, "rename " + source + " " + target, stop);
    if (source == target) {
        return;
    }
    addFolder(parentOf(target));
    std::lock_guard guard(state_->lock);
    if (state_->nodes.contains(target)) {
        fail("An item named '" + lastPiece(target) + "' already exists.");
    }
    if (source == "/" || !state_->nodes.contains(source)) {
        fail("No such item: " + source);
    }
    std::map<std::string, Node> moved;
    for (auto it = state_->nodes.begin(); it != state_->nodes.end();) {
        if (it->first == source || it->first.starts_with(source + "/")) {
            moved[target + it->first.substr(source.size())] = std::move(it->second);
            it = state_->nodes.erase(it);
        } else {
            ++it;
        }
    }
    state_->nodes.merge(moved);
}

void VornTestMemoryProvider::testConnection(std::stop_token stop) const {
    begin(Operation::testConnection, anyPath, "testConnection", stop);
}
