#include "VornSecurityBookmarkStore.h"

#include "VornUnicode.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using nlohmann::json;

// Device and inode name a file while it exists; a freed inode may be handed to a new file, so
// the birth time, where the file system keeps one, tells the two apart.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::optional<std::int64_t> bornNs;
};

std::optional<FileIdentity> identityOf(const std::string& path, std::error_code& error) {
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &info) != 0) {
        error = std::error_code(errno, std::generic_category());
        return std::nullopt;
    }
    FileIdentity identity{makedev(info.stx_dev_major, info.stx_dev_minor), info.stx_ino, std::nullopt};
    if ((info.stx_mask & STATX_BTIME) != 0) {
        identity.bornNs = std::int64_t{info.stx_btime.tv_sec} * 1'000'000'000 + info.stx_btime.tv_nsec;
    }
    return identity;
}

bool sameFile(const FileIdentity& now, const nlohmann::json& record) {
    if (now.device != record["device"].get<std::uint64_t>() || now.inode != record["inode"].get<std::uint64_t>()) {
        return false;
    }
    const auto born = record.find("born");
    return born == record.end() || !born->is_number_integer() || !now.bornNs || *now.bornNs == born->get<std::int64_t>();
}

// The records as stored, or an empty object when the value has any other shape: a record that
// can't be read makes the whole value untrustworthy, and the next save starts it afresh.
json readRecords(const VornUserDefaults& defaults, const std::string& key) {
    const auto stored = defaults.value(key);
    if (!stored || !stored->is_object()) {
        return json::object();
    }
    for (const auto& [path, record] : stored->items()) {
        if (!record.is_object() || !record.contains("path") || !record["path"].is_string() ||
            record["path"].get_ref<const std::string&>() != path || !record.contains("device") ||
            !record["device"].is_number_unsigned() || !record.contains("inode") ||
            !record["inode"].is_number_unsigned()) {
            return json::object();
        }
    }
    return *stored;
}

}  // namespace

VornSecurityBookmarkStore::VornSecurityBookmarkStore(std::string storageKey, VornUserDefaults& defaults)
    : storageKey_(std::move(storageKey)), defaults_(defaults) {}

std::string VornSecurityBookmarkStore::standardizedPath(const std::filesystem::path& url) {
    std::filesystem::path normal = std::filesystem::absolute(url).lexically_normal();
    std::string text = normal.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

void VornSecurityBookmarkStore::saveBookmark(const std::filesystem::path& url) {
    const std::string path = standardizedPath(url);
    if (!VornUnicode::isValidUTF8(path)) {
        throw std::filesystem::filesystem_error("the path is not UTF-8 text", url,
                                                std::make_error_code(std::errc::illegal_byte_sequence));
    }
    std::error_code error;
    const auto identity = identityOf(path, error);
    if (!identity) {
        throw std::filesystem::filesystem_error("cannot bookmark", url, error);
    }
    json record = {{"path", path}, {"device", identity->device}, {"inode", identity->inode}};
    if (identity->bornNs) {
        record["born"] = *identity->bornNs;
    }
    std::lock_guard lock(mutex_);
    json records = readRecords(defaults_, storageKey_);
    records[path] = std::move(record);
    defaults_.setValue(storageKey_, records);
}

std::vector<std::filesystem::path> VornSecurityBookmarkStore::resolveAllBookmarks() const {
    json records;
    {
        std::lock_guard lock(mutex_);
        records = readRecords(defaults_, storageKey_);
    }
    std::vector<std::string> resolved;
    for (const auto& [path, record] : records.items()) {
        std::error_code error;
        const auto identity = identityOf(path, error);
        if (identity && sameFile(*identity, record)) {
            resolved.push_back(path);
        }
    }
    std::sort(resolved.begin(), resolved.end());
    return {resolved.begin(), resolved.end()};
}

void VornSecurityBookmarkStore::removeBookmark(std::string_view forPath) {
    std::lock_guard lock(mutex_);
    json records = readRecords(defaults_, storageKey_);
    records.erase(std::string(forPath));
    defaults_.setValue(storageKey_, records);
}
