#pragma once

#include "LANNetworkHelpers.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A fresh name for a temporary copy of the file named `fileName`: `prefix`, a new UUID in upper
// case, "-" and the made-safe file name, that last part cut at a character boundary so that the
// whole name holds at most `maxBytes` bytes (the prefix and the UUID are never cut). Never
// contains a path separator, so it stays in the folder it is joined to whatever a peer or a server
// called the file.
std::string sledTemporaryFileName(std::string_view prefix, std::string_view fileName,
                                  std::size_t maxBytes = LANNetworkHelpers::maximumFileNameBytes);

// A hidden, fresh name beside `destination`
// (".vornsled-[<label>-]<UUID>.<destination key>.<owner>.part"), where a file is written before it
// replaces the destination: the same folder keeps the final rename on one file system. The name
// says which destination it stands for and which process wrote it, so that once that process has
// ended (killed half way, say) the next write of the same destination can tell it is left over.
std::filesystem::path sledHiddenSibling(const std::filesystem::path& destination, std::string_view label = {});

// Removes the hidden siblings of `destination` (any label) whose writing process has ended, before
// a new one is written; those of running processes, and names of any other form, stay. Errors are
// ignored: a leftover that cannot be removed costs space, not the write. Each folder is read at
// most once a minute per process, so writing many files into one folder stays linear.
void sledRemoveStaleSiblings(const std::filesystem::path& destination);

// This process as a name part: "<pid>-<start time in clock ticks>-<boot>", unique among the
// processes of all boots of this machine.
const std::string& sledOwnerTag();
// Whether the process an owner tag names has ended: another boot, no such process, a process of
// that id started at another time, or a zombie. A tag that cannot be read counts as running.
bool sledOwnerHasEnded(std::string_view tag);

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
