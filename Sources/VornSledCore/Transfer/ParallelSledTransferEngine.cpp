#include "ParallelSledTransferEngine.h"

#include "LocalFileProvider.h"
#include "SledError.h"
#include "SledPathInside.h"
#include "SledTemporaryFileName.h"
#include "VornASCII.h"
#include "VornChecksum.h"
#include "VornLocalizationStore.h"
#include "VornSystemErrorText.h"
#include "VornTaskCancelled.h"
#include "VornTemporaryFile.h"
#include "VornUniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>
#include <typeinfo>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t digestChunkSize = 1'048'576;

using Digest = std::optional<std::string>;

// A digest that can be compared: 64 hexadecimal digits, in either letter case.
bool isSHA256Hex(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

enum class Comparison { agree, disagree, nothingToCompare };

// Our digest against one the other side computed. An absent digest, or one that is not 64 hex
// digits, leaves nothing to compare: the copy may be fine, but no one can say so.
Comparison compareDigests(const Digest& theirs, const std::string& ours) {
    if (!theirs || !isSHA256Hex(*theirs)) {
        return Comparison::nothingToCompare;
    }
    return VornASCII::equalIgnoringCase(*theirs, ours) ? Comparison::agree : Comparison::disagree;
}

// The digest of a local file. It gives up at the next chunk once the batch is cancelled, so a huge
// file (or one that never ends) does not hold a cancelled batch.
std::string digestOf(const fs::path& path, const std::stop_token& stop) {
    return VornChecksum::sha256(path, digestChunkSize, stop);
}

// A job the engine refuses on its own; the text is already in the user's language.
class JobRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void refuseNotARegularFile(const std::string& fileName) {
    throw JobRefused(vornText("'" + fileName + "' is not a regular file and is not copied.",
                              "'" + fileName + "' normal bir dosya değil, kopyalanmaz."));
}

[[noreturn]] void refuseLink(const std::string& path) {
    throw JobRefused(vornText("'" + path + "' is a symbolic link; nothing is written through it.",
                              "'" + path + "' sembolik bir bağlantı; onun üzerinden hiçbir şey yazılmaz."));
}

std::string duplicateDestinationText(const std::string& path) {
    return vornText("Another file of this batch already goes to '" + path + "'.",
                    "Bu toplu aktarımda başka bir dosya zaten '" + path + "' hedefine gidiyor.");
}

// For jobs that name no chosen folder: the deepest folder every destination of the local batch
// lies in stands for it. Folders below it are the batch's own, so none of them may be a link.
fs::path commonParentFolder(const std::vector<SledTransferJobSpec>& jobs) {
    std::optional<fs::path> common;
    for (const SledTransferJobSpec& job : jobs) {
        const fs::path parent = fs::path(job.destinationPath).lexically_normal().parent_path();
        if (!common) {
            common = parent;
            continue;
        }
        fs::path shared;
        auto a = common->begin();
        auto b = parent.begin();
        for (; a != common->end() && b != parent.end() && *a == *b; ++a, ++b) {
            shared /= *a;
        }
        common = shared;
    }
    return common.value_or(fs::path());
}

[[noreturn]] void refuseOutside(const std::string& path, const std::string& root) {
    throw JobRefused(sledOutsideChosenFolderText(path, root));
}

[[noreturn]] void refuseChangedWhileSent(const std::string& fileName) {
    throw JobRefused(vornText("'" + fileName + "' changed while it was sent; the copy is not the file that was checked.",
                              "'" + fileName + "' gönderilirken değişti; kopya denetlenen dosya değil."));
}

// The same once the destination could no longer be kept: the back end had already put the copy in
// place, so the user must not believe the earlier file is still there.
[[noreturn]] void refuseChangedAfterReplacing(const std::string& fileName) {
    throw JobRefused(vornText("'" + fileName + "' changed while it was sent. The destination was already replaced: "
                                  "it now holds the version read when the copy began, and the local file changed "
                                  "afterwards.",
                              "'" + fileName + "' gönderilirken değişti. Hedef zaten değiştirildi: artık kopyalama "
                                  "başladığında okunan sürümü tutuyor, yerel dosya ise sonradan değişti."));
}

[[noreturn]] void throwErrno(const std::string& what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::system_category()));
}

// Whether `path` has a ".." component. Without a chosen folder nothing says where such a path may
// go, so it is refused as written.
bool climbs(const std::string& path) {
    const std::vector<std::string> parts = sledPathComponents(path);
    return std::find(parts.begin(), parts.end(), "..") != parts.end();
}

// Opens the folder `name` inside `parent` without following a link; a link there is refused with
// the path the user knows.
VornUniqueFd openFolderBelow(int parent, const std::string& name, const fs::path& shown) {
    VornUniqueFd folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
        const int error = errno;
        struct stat status {};
        if (::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)) {
            refuseLink(shown.string());
        }
        throwErrno("cannot open the folder", shown, error);
    }
    return folder;
}

// From the open folder `folder` down through every part of `parts` but the last (the file's name),
// each opened from the one above without following links and, with `create`, made when missing.
// `shown` follows along as the path the user knows.
VornUniqueFd descendFolders(VornUniqueFd folder, const std::vector<std::string>& parts, bool create, fs::path& shown) {
    for (std::size_t index = 0; index + 1 < parts.size(); ++index) {
        const std::string& part = parts[index];
        shown /= part;
        if (create && ::mkdirat(folder.get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
            throwErrno("cannot create the folder", shown, errno);
        }
        folder = openFolderBelow(folder.get(), part, shown);
    }
    return folder;
}

// The chosen folder and the part of `path` below it. The chosen folder is the job's own root, or
// for callers that name none the batch's common folder.
struct Below {
    std::string root;
    std::vector<std::string> parts;  // at least one: the last is the file's name
};

Below belowRoot(const std::string& path, const std::optional<std::string>& root, const fs::path& batchFolder) {
    const std::string chosen = root ? *root : batchFolder.string();
    // The common folder is worked out from the destinations themselves: one that climbs would
    // widen it to take itself in.
    if (!root && climbs(path)) {
        refuseOutside(path, chosen);
    }
    const std::optional<std::string> relative = sledPathBelow(chosen, path);
    if (!relative) {
        refuseOutside(path, chosen);
    }
    return Below{chosen, sledPathComponents(*relative)};
}

// A destination on this disk reached from the chosen folder's descriptor: the folder the file
// goes into, held open, so nothing renamed or linked in along the path afterwards can redirect
// the write.
struct LocalDestination {
    VornUniqueFd folder;
    std::string name;
    fs::path shown;  // the destination as the user knows it
};

// Refuses to replace the entry `name` of `folder` when it is a link or a folder; true when a file
// is there.
bool checkReplaceable(int folder, const std::string& name, const fs::path& shown) {
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    if (S_ISLNK(status.st_mode)) {
        refuseLink(shown.string());
    }
    if (S_ISDIR(status.st_mode)) {
        throw SledError::remoteCommandFailed(LocalFileProvider::alreadyExistsMessage(shown));
    }
    return true;
}

// Opens the chosen folder as the user sees it (a link there is the user's own choice) and every
// folder below it without following links, creating the missing ones.
LocalDestination openLocalDestination(const SledTransferJobSpec& job, const fs::path& batchFolder) {
    const Below below = belowRoot(job.destinationPath, job.destinationRoot, batchFolder);
    VornUniqueFd folder(::open(below.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder && errno == ENOENT && !job.destinationRoot) {
        // Without a chosen folder the batch's common folder is only inferred; it may be new.
        fs::create_directories(below.root);
        folder.reset(::open(below.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!folder) {
        throwErrno("cannot open the folder", below.root, errno);
    }
    fs::path shown(below.root);
    folder = descendFolders(std::move(folder), below.parts, true, shown);
    LocalDestination destination{std::move(folder), below.parts.back(), shown / below.parts.back()};
    checkReplaceable(destination.folder.get(), destination.name, destination.shown);
    return destination;
}

// Whether the entry `name` of `folder` is still what the user saw there: nothing, or a regular file
// of the listed size and time (listings of this disk give the time to the microsecond).
bool stillAsListed(int folder, const std::string& name, const SledListedDestination& listed) {
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT && !listed.exists;
    }
    if (!listed.exists || !S_ISREG(status.st_mode) || status.st_size != listed.sizeBytes) {
        return false;
    }
    return !listed.modifiedAt || *listed.modifiedAt == LocalFileProvider::modificationDate(status.st_mtim);
}

// Gives a checked copy its final name: the one moment a copy replaces what is at its destination,
// so whatever must still hold of the destination is checked here, on the folder's descriptor.
// The file it replaces reaches nothing of the new one until this moment; a crash right after must
// not leave an empty file in place of the old one, so the copy is flushed first when something is
// replaced.
void putInPlace(const LocalDestination& destination, const std::string& landingName,
                const std::optional<SledListedDestination>& listed) {
    const int folder = destination.folder.get();
    if (listed && !stillAsListed(folder, destination.name, *listed)) {
        throw SledChangedSinceListed();
    }
    if (checkReplaceable(folder, destination.name, destination.shown)) {
        VornUniqueFd file(::openat(folder, landingName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!file || ::fdatasync(file.get()) != 0) {
            throwErrno("cannot write", destination.shown, errno);
        }
    }
    if (::renameat(folder, landingName.c_str(), folder, destination.name.c_str()) != 0) {
        throwErrno("cannot put the copy in place", destination.shown, errno);
    }
}

// A local source held open from the check to the end of its send.
struct LocalSource {
    VornUniqueFd file;
    struct stat status {};
};

// Opens the source of a job on this disk. Below a walked folder nothing is followed: each folder
// is opened from the one above without following links, and the file itself too. A file the user
// named by itself is opened as the user sees it, a link leading to its target.
LocalSource openLocalSource(const SledTransferJobSpec& job) {
    LocalSource source;
    // O_NONBLOCK keeps a FIFO from hanging the open; it changes nothing for regular files.
    constexpr int fileFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    if (job.sourceRoot) {
        const std::optional<std::string> relative = sledPathBelow(*job.sourceRoot, job.sourcePath);
        if (!relative) {
            throw JobRefused(vornText("'" + job.sourcePath + "' does not lie in the folder it was listed in; it is not copied.",
                                      "'" + job.sourcePath + "' listelendiği klasörde değil; kopyalanmaz."));
        }
        const std::vector<std::string> parts = sledPathComponents(*relative);
        VornUniqueFd folder(::open(job.sourceRoot->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder) {
            throwErrno("cannot open the folder", *job.sourceRoot, errno);
        }
        fs::path shown(*job.sourceRoot);
        folder = descendFolders(std::move(folder), parts, false, shown);
        source.file.reset(::openat(folder.get(), parts.back().c_str(), fileFlags | O_NOFOLLOW));
        if (!source.file && errno == ELOOP) {
            refuseNotARegularFile(job.fileName);
        }
    } else {
        source.file.reset(::open(job.sourcePath.c_str(), fileFlags));
    }
    if (!source.file) {
        throwErrno("cannot open the file to copy", job.sourcePath, errno);
    }
    if (::fstat(source.file.get(), &source.status) != 0) {
        throwErrno("cannot read the attributes of", job.sourcePath, errno);
    }
    // A FIFO or a device could block the digest (or the upload) for ever; nothing is read.
    if (!S_ISREG(source.status.st_mode)) {
        refuseNotARegularFile(job.fileName);
    }
    return source;
}

// The digest of exactly the bytes that are sent: the file's size when it was opened.
std::string digestOfOpenFile(const LocalSource& source, const std::string& shown, const std::stop_token& stop) {
    try {
        return VornChecksum::sha256(source.file.get(), source.status.st_size, digestChunkSize, stop);
    } catch (const std::system_error& error) {
        throwErrno("cannot read", shown, error.code().value());
    }
}

// A destination on another back end must lie below the chosen folder too; its own server resolves
// the rest.
void checkRemoteDestination(const SledTransferJobSpec& job) {
    if (job.destinationRoot && !sledPathBelow(*job.destinationRoot, job.destinationPath)) {
        refuseOutside(job.destinationPath, *job.destinationRoot);
    }
    if (!job.destinationRoot && climbs(job.destinationPath)) {
        refuseOutside(job.destinationPath, "/");
    }
}

// The user text of a failure that ends a job.
std::string describe(std::exception_ptr failure) {
    try {
        std::rethrow_exception(std::move(failure));
    } catch (const SledError& error) {
        return error.description();
    } catch (const fs::filesystem_error& error) {
        // libstdc++ prefixes every filesystem_error text with this; the rest names the operation,
        // the reason and the paths.
        std::string_view text = error.what();
        constexpr std::string_view prefix = "filesystem error: ";
        if (text.starts_with(prefix)) {
            text.remove_prefix(prefix.size());
        }
        // The operation's own words are English; other languages read the reason and the paths.
        std::string where = error.path1().string();
        if (!error.path2().empty()) {
            where += " \u2192 " + error.path2().string();
        }
        const std::string reason = vornSystemErrorText(error.code());
        return vornText(text, where.empty() ? reason : reason + ": " + where);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return vornText("Unknown error.", "Bilinmeyen hata.");
    }
}

// A path through one of this process's descriptors ("/proc/<pid>/fd/<n>", which is how files held
// open are handed to providers and the programs they start), and the path the user knows it by.
// For a folder, a name inside it stands for `shown`: the folder holds open where a copy lands, and
// whatever is written there (the landing file, a provider's own partial file) is the file the
// user chose.
struct DescriptorName {
    std::string descriptor;
    fs::path shown;
    bool isFolder = false;
};

bool isNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

// `text` with each such path in it put as the user knows it.
std::string inUsersTerms(std::string text, const std::vector<DescriptorName>& names) {
    for (const DescriptorName& name : names) {
        for (std::size_t at = text.find(name.descriptor); at != std::string::npos; at = text.find(name.descriptor, at)) {
            std::size_t end = at + name.descriptor.size();
            if (end < text.size() && text[end] >= '0' && text[end] <= '9') {
                at = end;  // another descriptor whose number starts alike
                continue;
            }
            fs::path shown = name.shown;
            if (name.isFolder && end < text.size() && text[end] == '/') {
                // The hidden files written there carry only these characters in their names.
                for (++end; end < text.size() && isNameCharacter(text[end]); ++end) {
                }
            } else if (name.isFolder) {
                shown = shown.parent_path();
            }
            text.replace(at, end - at, shown.string());
            at += shown.string().size();
        }
    }
    return text;
}

class JobRunner {
public:
    JobRunner(const SledTransferJobSpec& job, const SledStorageProvider& source, const SledStorageProvider& destination,
              bool isSourceLocal, bool isDestLocal, bool verify, const SledTransferUpdateCallback& onUpdate,
              std::stop_token stop, const fs::path& batchFolder, bool duplicate)
        : job_(job),
          source_(source),
          destination_(destination),
          isSourceLocal_(isSourceLocal),
          isDestLocal_(isDestLocal),
          verify_(verify),
          onUpdate_(onUpdate),
          stop_(std::move(stop)),
          batchFolder_(batchFolder),
          duplicate_(duplicate) {}

    SledTransferJobResult run() {
        update(SledTransferStatus::transferring, 0, job_.expectedSize);
        try {
            if (stop_.stop_requested()) {
                throw VornTaskCancelled();
            }
            if (duplicate_) {
                // Two copies racing for one name would both end "completed" and one would be lost.
                return fail(SledTransferStatus::failed, duplicateDestinationText(job_.destinationPath));
            }
            if (isSourceLocal_ && !isDestLocal_) {
                return upload();
            }
            if (!isSourceLocal_ && isDestLocal_) {
                return download();
            }
            return relay();
        } catch (const VornTaskCancelled&) {
            return fail(SledTransferStatus::cancelled, SledError::cancelled().description());
        } catch (...) {
            return fail(SledTransferStatus::failed, inUsersTerms(describe(std::current_exception()), descriptors_));
        }
    }

private:
    void update(SledTransferStatus status, std::int64_t done, std::int64_t total, const Digest& digest = std::nullopt,
                bool verified = false, const std::optional<std::string>& message = std::nullopt) const {
        if (onUpdate_) {
            onUpdate_(job_.recordID, status, done, total, digest, verified, message);
        }
    }

    SledTransferJobResult succeed(std::int64_t bytes, Digest digest, bool verified) const {
        update(SledTransferStatus::completed, bytes, bytes, digest, verified);
        return SledTransferJobResult{job_.recordID, true, bytes, std::move(digest), verified, std::nullopt};
    }

    SledTransferJobResult fail(SledTransferStatus status, std::string message) const {
        update(status, 0, job_.expectedSize, std::nullopt, false, message);
        return SledTransferJobResult{job_.recordID, false, 0, std::nullopt, false, std::move(message)};
    }

    // Where a copy to this disk is written before it is checked: a hidden sibling of the
    // destination in the folder held open, so the final rename stays on one file system and the
    // file that was there stays untouched until the copy has passed every comparison. The
    // providers write it through the folder's descriptor path. Removed on every failure.
    struct Landing {
        LocalDestination destination;
        std::string name;
        VornTemporaryFile file;
    };

    Landing localLanding() {
        LocalDestination destination = openLocalDestination(job_, batchFolder_);
        const std::string folder = vornDescriptorPath(destination.folder.get());
        descriptors_.push_back({folder, destination.shown, true});
        const fs::path inFolder = fs::path(folder) / destination.name;
        sledRemoveStaleSiblings(inFolder);
        // The provider's finished file is renamed onto this name, so no lock of ours guards it
        // from its first moment: it bears a name that says so.
        const fs::path path = sledUnheldSibling(inFolder, "transfer");
        std::string name = path.filename().string();
        return Landing{std::move(destination), std::move(name), VornTemporaryFile(path)};
    }

    // A download that brought no permission bits of its own and replaces a file keeps who may read,
    // write and run it: that file's bits, never its set-user or set-group bit. A new file keeps
    // the defaults it was made with.
    static void keepModeOfReplaced(const Landing& landing) {
        const int folder = landing.destination.folder.get();
        struct stat replaced {};
        if (::fstatat(folder, landing.destination.name.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(replaced.st_mode)) {
            return;
        }
        if (::fchmodat(folder, landing.name.c_str(), replaced.st_mode & 0777, 0) != 0) {
            throwErrno("cannot set the permissions of", landing.destination.shown, errno);
        }
    }

    void land(Landing& landing) const {
        putInPlace(landing.destination, landing.name, job_.listedDestination);
        landing.file.release();
    }

    SledTransferJobResult upload() {
        checkRemoteDestination(job_);
        const LocalSource source = openLocalSource(job_);
        const std::int64_t size = source.status.st_size;
        // The provider (or the program it starts) reads the file that was opened and hashed, not
        // whatever the name leads to by then.
        const std::string sent = vornDescriptorPath(source.file.get());
        descriptors_.push_back({sent, job_.sourcePath});
        const std::string& root = job_.destinationRoot ? *job_.destinationRoot : std::string();
        // Where the back end has a moment before its copy replaces the destination, a source that
        // changed meanwhile stops it there and the destination stays as it was.
        SledReplaceConditions conditions{job_.listedDestination, [&] {
                                             if (!vornUnchangedSinceOpened(source.file.get(), source.status)) {
                                                 refuseChangedWhileSent(job_.fileName);
                                             }
                                         }};
        Digest digest;
        SledUploadResult uploaded;
        if (verify_ && size > digestChunkSize) {
            // A larger file is hashed while it goes up, for a back end that only needs the digest
            // once its copy is stored; both read the one open file. Until then no digest is shown.
            // An upload that fails ends the hashing too, instead of waiting for it to read the rest.
            std::stop_source hashingStop;
            const std::stop_callback forwardStop(stop_, [&hashingStop] { hashingStop.request_stop(); });
            std::future<std::string> hashing = std::async(std::launch::async, [&, token = hashingStop.get_token()] {
                return digestOfOpenFile(source, job_.sourcePath, token);
            });
            const auto whenUp = [&]() -> Digest {
                if (hashing.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
                    update(SledTransferStatus::verifying, 0, size);  // asked for while still hashing
                }
                digest = hashing.get();
                return digest;
            };
            update(SledTransferStatus::transferring, 0, size);
            try {
                uploaded = destination_.uploadFileInsideHashing(
                    sent, job_.destinationPath, root, whenUp,
                    [&](std::int64_t done, std::int64_t total) {
                        update(SledTransferStatus::transferring, done, std::max(total, size));
                    },
                    conditions, stop_);
            } catch (...) {
                hashingStop.request_stop();
                throw;
            }
            if (!digest) {
                whenUp();  // a provider that never asked: the digest is still the job's
            }
        } else {
            if (verify_) {
                update(SledTransferStatus::verifying, 0, size);
                digest = digestOfOpenFile(source, job_.sourcePath, stop_);
            }
            update(SledTransferStatus::transferring, 0, size, digest);
            uploaded = destination_.uploadFileInsideHashing(
                sent, job_.destinationPath, root, [&] { return digest; },
                [&](std::int64_t done, std::int64_t total) {
                    update(SledTransferStatus::transferring, done, std::max(total, size), digest);
                },
                conditions, stop_);
        }
        if (!vornUnchangedSinceOpened(source.file.get(), source.status)) {
            refuseChangedAfterReplacing(job_.fileName);
        }
        bool verified = false;
        if (digest) {
            verified = checkStored(uploaded, *digest);
        }
        return succeed(size, std::move(digest), verified);
    }

    // The destination's digest of what it stored against ours: a disagreement fails the job;
    // true only when there was a digest of the destination's own to compare.
    bool checkStored(const SledUploadResult& uploaded, const std::string& ours) const {
        switch (compareDigests(uploaded.storedSHA256, ours)) {
        case Comparison::agree:
            return true;
        case Comparison::disagree:
            throw SledError::checksumMismatch(job_.fileName, ours, *uploaded.storedSHA256);
        case Comparison::nothingToCompare:
            break;
        }
        return false;
    }

    SledTransferJobResult download() {
        Landing landing = localLanding();
        const SledDownloadResult downloaded = source_.downloadFile(
            job_.sourcePath, landing.file.path(),
            [&](std::int64_t done, std::int64_t total) {
                update(SledTransferStatus::transferring, done, std::max(total, job_.expectedSize));
            },
            stop_);
        const std::int64_t bytes = downloaded.bytes;
        // Last, once the copy has been read for its digest: the bits may not let this user read it.
        const auto landDownload = [&] {
            if (!downloaded.modeOfItsOwn) {
                keepModeOfReplaced(landing);
            }
            land(landing);
        };
        if (!verify_) {
            landDownload();
            return succeed(bytes, std::nullopt, false);
        }
        update(SledTransferStatus::verifying, bytes, bytes);
        std::string local = digestOf(landing.file.path(), stop_);
        const Comparison comparison = compareDigests(downloaded.remoteSHA256, local);
        if (comparison == Comparison::disagree) {
            // The copy goes with the landing file; whatever was at the destination stays.
            throw SledError::checksumMismatch(job_.fileName, *downloaded.remoteSHA256, local);
        }
        landDownload();
        // Without a digest from the source our own digest proves nothing: completed, not verified.
        return succeed(bytes, std::move(local), comparison == Comparison::agree);
    }

    SledTransferJobResult relay() {
        // Removed at every end of the job; a file that cannot be removed is left alone.
        VornTemporaryFile relayFile =
            VornTemporaryFile::inPrivateDirectory(ParallelSledTransferEngine::relayFileName(job_.fileName));
        std::optional<Landing> landing;
        if (isDestLocal_) {
            landing = localLanding();
        } else {
            checkRemoteDestination(job_);
        }
        std::optional<LocalSource> localSource;
        if (isSourceLocal_) {
            localSource = openLocalSource(job_);
            descriptors_.push_back({vornDescriptorPath(localSource->file.get()), job_.sourcePath});
        }
        const SledDownloadResult downloaded = source_.downloadFile(
            localSource ? vornDescriptorPath(localSource->file.get()) : job_.sourcePath, relayFile.path(),
            [&](std::int64_t done, std::int64_t total) {
                update(SledTransferStatus::transferring, done / 2, std::max(total, job_.expectedSize));
            },
            stop_);
        if (localSource && !vornUnchangedSinceOpened(localSource->file.get(), localSource->status)) {
            refuseChangedWhileSent(job_.fileName);
        }
        const std::int64_t bytes = downloaded.bytes;
        Digest relayDigest;
        bool sourceAgrees = false;
        if (verify_) {
            update(SledTransferStatus::verifying, bytes / 2, bytes);
            relayDigest = digestOf(relayFile.path(), stop_);
            const Comparison comparison = compareDigests(downloaded.remoteSHA256, *relayDigest);
            if (comparison == Comparison::disagree) {
                throw SledError::checksumMismatch(job_.fileName, *downloaded.remoteSHA256, *relayDigest);
            }
            sourceAgrees = comparison == Comparison::agree;
        }
        // A landing on this disk is checked against the listing when it is put in place.
        SledReplaceConditions conditions;
        if (!landing) {
            conditions.listed = job_.listedDestination;
        }
        const SledUploadResult uploaded = destination_.uploadFileInsideHashing(
            relayFile.path(), landing ? landing->file.path().string() : job_.destinationPath,
            landing ? std::string() : job_.destinationRoot.value_or(std::string()), [&] { return relayDigest; },
            [&](std::int64_t done, std::int64_t total) {
                // Each half is truncated on its own, so an odd total can end one below it.
                const std::int64_t whole = std::max(total, bytes);
                update(SledTransferStatus::transferring, whole / 2 + done / 2, whole, relayDigest);
            },
            conditions, stop_);
        bool destinationAgrees = false;
        if (relayDigest) {
            destinationAgrees = checkStored(uploaded, *relayDigest);
        }
        if (landing) {
            land(*landing);
        }
        relayFile.remove();
        // Verified end to end only: the source's digest and the destination's both matched ours.
        const bool verified = sourceAgrees && destinationAgrees;
        return succeed(bytes, std::move(relayDigest), verified);
    }

    const SledTransferJobSpec& job_;
    const SledStorageProvider& source_;
    const SledStorageProvider& destination_;
    const bool isSourceLocal_;
    const bool isDestLocal_;
    const bool verify_;
    const SledTransferUpdateCallback& onUpdate_;
    const std::stop_token stop_;
    const fs::path& batchFolder_;
    const bool duplicate_;
    // The descriptor paths this job handed out, for its failure to name what the user knows.
    std::vector<DescriptorName> descriptors_;
};

// The jobs that write a destination an earlier job of the list already writes. The first keeps
// it; the later ones are refused rather than race it.
std::vector<bool> laterJobsOnOneDestination(const std::vector<SledTransferJobSpec>& jobs, bool isDestLocal) {
    std::vector<bool> duplicate(jobs.size(), false);
    std::set<std::string> seen;
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        // On this disk "a//b" and "a/./b" are one file; a remote store's key is taken as written.
        const std::string key = isDestLocal ? fs::path(jobs[index].destinationPath).lexically_normal().string()
                                            : jobs[index].destinationPath;
        duplicate[index] = !seen.insert(key).second;
    }
    return duplicate;
}

}  // namespace

int ParallelSledTransferEngine::clampedWorkerCount(int maxConcurrency) noexcept {
    return std::clamp(maxConcurrency, minimumWorkers, maximumWorkers);
}

std::string ParallelSledTransferEngine::changedSinceListedText() { return sledChangedSinceListedText(); }

std::string ParallelSledTransferEngine::relayFileName(const std::string& fileName) {
    return sledTemporaryFileName("vornsled-relay-", fileName);
}

std::vector<SledTransferJobResult> ParallelSledTransferEngine::executeBatch(
    const std::vector<SledTransferJobSpec>& jobs, const SledStorageProvider& sourceProvider,
    const SledStorageProvider& destinationProvider, int maxConcurrency, bool verifySHA256,
    const SledTransferUpdateCallback& onUpdate, std::stop_token stop) const {
    std::vector<SledTransferJobResult> results;
    if (jobs.empty()) {
        return results;
    }
    // Exactly the local provider, not something built on it: only its paths are this disk's paths.
    const bool isSourceLocal = typeid(sourceProvider) == typeid(LocalFileProvider);
    const bool isDestLocal = typeid(destinationProvider) == typeid(LocalFileProvider);
    const std::size_t workers = std::min(static_cast<std::size_t>(clampedWorkerCount(maxConcurrency)), jobs.size());
    const std::vector<bool> duplicate = laterJobsOnOneDestination(jobs, isDestLocal);
    const fs::path batchFolder = isDestLocal ? commonParentFolder(jobs) : fs::path();

    results.reserve(jobs.size());
    std::mutex lock;
    std::size_t nextJob = 0;
    // Each worker takes the next job of the list when it is free: a sliding window over the list.
    const auto work = [&]() noexcept {
        for (;;) {
            std::size_t index = 0;
            {
                std::lock_guard guard(lock);
                if (nextJob >= jobs.size()) {
                    return;
                }
                index = nextJob++;
            }
            SledTransferJobResult result = JobRunner(jobs[index], sourceProvider, destinationProvider, isSourceLocal,
                                                     isDestLocal, verifySHA256, onUpdate, stop, batchFolder,
                                                     duplicate[index])
                                               .run();
            std::lock_guard guard(lock);
            results.push_back(std::move(result));
        }
    };
    {
        std::vector<std::jthread> pool;
        pool.reserve(workers - 1);
        for (std::size_t i = 1; i < workers; ++i) {
            pool.emplace_back(work);
        }
        work();  // the calling thread is one of the workers
    }
    return results;
}
