#pragma once

#include "LANNetworkHelpers.h"
#include "VornUniqueFd.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/types.h>

// A fresh name for a temporary copy of the file named `fileName`: `prefix`, a new UUID in upper
// case, "-" and the made-safe file name, that last part cut at a character boundary so that the
// whole name holds at most `maxBytes` bytes (the prefix and the UUID are never cut). Never
// contains a path separator, so it stays in the folder it is joined to whatever a peer or a server
// called the file.
std::string sledTemporaryFileName(std::string_view prefix, std::string_view fileName,
                                  std::size_t maxBytes = LANNetworkHelpers::maximumFileNameBytes);

// A hidden, fresh name beside `destination`
// (".vornsled-[<label>-]<UUID>.<destination key>.lock.part"), where a file is written before it
// replaces the destination: the same folder keeps the final rename on one file system. The name
// says which destination it stands for, and that a lock guards it while its writer lives (made by
// sledCreateHeldFile), so that once the writer has ended (killed half way, say) the next write of
// the same destination can tell it is left over.
std::filesystem::path sledHiddenSibling(const std::filesystem::path& destination, std::string_view label = {});

// The same kind of name for a file this process cannot lock from its first moment (one that
// another writer's finished file is renamed onto, say): it says no lock guards it, so only a day
// without any change shows it left over.
std::filesystem::path sledUnheldSibling(const std::filesystem::path& destination, std::string_view label = {});

// A temporary file this process made and holds. While `holder` stays open, any process that shares
// the folder (in another PID namespace, or on another machine where the file system carries locks)
// can see the file is being written: it carries an open-file-description write lock, taken before
// the file got its name. Where no lock can be taken, the file keeps a name that says so ("nolock"
// where the made name says "lock"), and only a day without any change tells it is left over.
// `holder` must stay open until the file has its final name or is removed.
struct SledHeldFile {
    std::filesystem::path path;
    VornUniqueFd holder;  // open for reading and writing
};

// Creates the new file `path` (named by sledHiddenSibling, or another name whose holder part is
// ".lock."), with the permission bits `mode` less the umask. Throws std::filesystem::filesystem_error
// when it cannot be made, leaving nothing behind.
SledHeldFile sledCreateHeldFile(const std::filesystem::path& path, mode_t mode);

// Whether the temporary file `name` in the folder open as `directory`, whose name gives `holder`
// as its holder part, is left over by a writer that has ended. "lock": its lock is free. Any
// other holder (a file that could not be locked, or one named by a build that locked nothing,
// which may still be writing it), or a lock that cannot be looked at: nothing about the file has
// changed for a day. Anything that cannot be read counts as in use.
bool sledHeldFileHasEnded(int directory, const std::string& name, std::string_view holder);

// Removes the hidden siblings of `destination` (any label) whose writer has ended, before a new
// one is written; those still in use, and names of any other form, stay. Errors are ignored: a
// leftover that cannot be removed costs space, not the write. Each folder is read at most once a
// minute per process, so writing many files into one folder stays linear.
void sledRemoveStaleSiblings(const std::filesystem::path& destination);

// A short key of the file name `name` for the names of temporary files standing for it: the same
// for the same name, and no path separator or dot in it.
std::string sledDestinationKey(std::string_view name);

// What readings of folders found left over, by the key of the destination each leftover stood
// for, handed out once each. A folder is read again only once its last reading is `rereadAfter`
// old, so that many writes into one folder do not each read it; a leftover of an ended writer stays
// one, so what was read stays true meanwhile. A folder is read outside the lock, so a large or slow
// one holds up no other. `Folder` tells folders apart (a device and inode, a login and a path).
template <class Folder>
class SledLeftoverReadings {
public:
    using Found = std::multimap<std::string, std::string>;  // destination key -> leftover's name

    explicit SledLeftoverReadings(std::chrono::steady_clock::duration rereadAfter) : rereadAfter_(rereadAfter) {}

    // The leftovers of `key` in `folder`, reading the folder with `read` (giving a Found) when it
    // has no reading yet or an old one.
    template <class Read>
    std::vector<std::string> take(const Folder& folder, const std::string& key, Read read) {
        std::unique_lock guard(lock_);
        auto found = readings_.find(folder);
        if (found == readings_.end() || std::chrono::steady_clock::now() - found->second.at >= rereadAfter_) {
            guard.unlock();
            Reading fresh{std::chrono::steady_clock::now(), read()};
            guard.lock();
            found = readings_.insert_or_assign(folder, std::move(fresh)).first;
        }
        const auto [from, until] = found->second.leftovers.equal_range(key);
        std::vector<std::string> names;
        for (auto it = from; it != until; ++it) {
            names.push_back(it->second);
        }
        found->second.leftovers.erase(from, until);
        return names;
    }

private:
    struct Reading {
        std::chrono::steady_clock::time_point at;
        Found leftovers;
    };

    const std::chrono::steady_clock::duration rereadAfter_;
    std::mutex lock_;
    std::map<Folder, Reading> readings_;
};
