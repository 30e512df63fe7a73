#include "SFTPStorageProvider.h"

#include "SFTPSharedSessions.h"
#include "SledError.h"
#include "SledTemporaryFileName.h"
#include "VornASCII.h"
#include "VornBinaryLocator.h"
#include "VornChecksum.h"
#include "VornFileIO.h"
#include "VornTaskCancelled.h"
#include "VornTemporaryFile.h"
#include "VornUUID.h"
#include "VornUnicode.h"

#include <cerrno>
#include <charconv>
#include <ctime>
#include <functional>
#include <sys/stat.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view spacesAndTabs = " \t";

std::string trimmedSpacesAndTabs(std::string_view text, bool trailingToo) {
    const std::size_t first = text.find_first_not_of(spacesAndTabs);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = trailingToo ? text.find_last_not_of(spacesAndTabs) : text.size() - 1;
    return std::string(text.substr(first, last - first + 1));
}

std::int64_t fileSizeOrZero(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : static_cast<std::int64_t>(size);
}

// The last component of a remote path ("b" of "/a/b" and of "/a/b/").
std::string lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// "/a/" of "/a/b", "" of "b": where a sibling of the item at `path` goes.
std::string remoteParentPrefix(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

// One line of a batch script: the command, then each path through escapeSFTPArg. sftp cannot be
// handed a line break (it ends the line inside the quotes) or a NUL, and it cuts lines longer than
// it reads whole; each is refused here with its own text instead of sftp's misleading one.
std::string batchLine(std::string_view command, std::initializer_list<std::string_view> paths) {
    std::string line(command);
    for (const std::string_view path : paths) {
        if (path.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos) {
            throw SledError::remoteCommandFailed("sftp cannot be given a path that holds a line break or a NUL character.");
        }
        line += ' ';
        line += SFTPStorageProvider::escapeSFTPArg(path);
    }
    if (line.size() > SFTPStorageProvider::maximumBatchLineBytes) {
        throw SledError::remoteCommandFailed(
            "The path is too long for an sftp command (" + std::to_string(line.size()) + " bytes in the line, at most " +
            std::to_string(SFTPStorageProvider::maximumBatchLineBytes) + ").");
    }
    line += '\n';
    return line;
}

// sftp writes bytes it cannot show (control characters, ill-formed UTF-8) as "\ooo".
std::string undoOctalEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto isOctal = [&text](std::size_t k) { return text[k] >= '0' && text[k] <= '7'; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] <= '3' && isOctal(i + 1) && isOctal(i + 2) &&
            isOctal(i + 3)) {
            out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::optional<int> monthNumber(std::string_view name) {
    static constexpr std::string_view months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) {
        if (months[i] == name) {
            return i;
        }
    }
    return std::nullopt;
}

template <typename Int>
std::optional<Int> parseDecimal(std::string_view text) {
    Int value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<VornDate> localTime(int year, int month, int day, int hour, int minute) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&fields);
    if (seconds == static_cast<std::time_t>(-1) || fields.tm_mday != day || fields.tm_mon != month) {
        return std::nullopt;
    }
    return VornDate(std::chrono::seconds(seconds));
}

// The date columns of an `ls -l` line, as ls formats them in the local time zone: "Mar  5 14:07"
// for the half-year before now, "Mar  5  2019" otherwise.
std::optional<VornDate> parseListingDate(std::string_view month, std::string_view day, std::string_view timeOrYear,
                                         VornDate now) {
    const std::optional<int> monthIndex = monthNumber(month);
    const std::optional<int> dayOfMonth = parseDecimal<int>(day);
    if (!monthIndex || !dayOfMonth || *dayOfMonth < 1 || *dayOfMonth > 31) {
        return std::nullopt;
    }
    const std::size_t colon = timeOrYear.find(':');
    if (colon == std::string_view::npos) {
        const std::optional<int> year = parseDecimal<int>(timeOrYear);
        if (!year || *year < 1 || *year > 9999) {
            return std::nullopt;
        }
        return localTime(*year, *monthIndex, *dayOfMonth, 0, 0);
    }
    const std::optional<int> hour = parseDecimal<int>(timeOrYear.substr(0, colon));
    const std::optional<int> minute = parseDecimal<int>(timeOrYear.substr(colon + 1));
    if (!hour || !minute || *hour > 23 || *minute > 59) {
        return std::nullopt;
    }
    const std::time_t nowSeconds =
        std::chrono::system_clock::to_time_t(std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::floor<std::chrono::seconds>(now)));
    std::tm nowFields{};
    if (::localtime_r(&nowSeconds, &nowFields) == nullptr) {
        return std::nullopt;
    }
    // The date lies in the half-year up to now; a day of slack covers the two clocks and zones.
    const int thisYear = nowFields.tm_year + 1900;
    std::optional<VornDate> date = localTime(thisYear, *monthIndex, *dayOfMonth, *hour, *minute);
    if (!date || *date > now + std::chrono::hours(24)) {
        date = localTime(thisYear - 1, *monthIndex, *dayOfMonth, *hour, *minute);
    }
    return date;
}

// Splits at runs of spaces and tabs, at most `maxSplits` times; the last field keeps the rest.
std::vector<std::string_view> splitFields(std::string_view line, std::size_t maxSplits) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        if (fields.size() == maxSplits) {
            fields.push_back(line.substr(at));
            break;
        }
        const std::size_t end = line.find_first_of(spacesAndTabs, at);
        fields.push_back(line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) {
            break;
        }
        at = line.find_first_not_of(spacesAndTabs, end);
        if (at == std::string_view::npos) {
            break;
        }
    }
    return fields;
}

}  // namespace

SFTPStorageProvider::SFTPStorageProvider(ConnectionProfile profile, std::optional<std::string> password,
                                         std::optional<fs::path> knownHostsFile)
    : SFTPLogin(std::move(profile), std::move(password), std::move(knownHostsFile)) {}

std::string SFTPStorageProvider::displayName() const { return profile.name; }

void SFTPStorageProvider::closeSharedConnections() { SFTPSharedSessions::closeAll(); }

void SFTPStorageProvider::closeIdleSessions() { SFTPSharedSessions::closeIdleSessions(); }

VornProcessResult SFTPStorageProvider::runSSHExecutable(const fs::path& executable,
                                                        const std::vector<std::string>& extraArgs, bool isSFTP,
                                                        std::stop_token stop) const {
    return SFTPSharedSessions::runOnce(*this, executable, extraArgs, isSFTP, stop);
}

namespace {

// Runs a batch script on one of the login's sftp sessions; its output, or the failure of its
// first failing line. `outputSoFar`, when given, gets what sftp had answered if the run fails.
std::string runBatch(const SFTPStorageProvider& provider, const std::string& script, std::stop_token stop,
                     std::string* outputSoFar = nullptr, const SFTPSharedSessions::WhileWaiting& whileWaiting = {}) {
    const std::optional<fs::path> sftp = VornBinaryLocator::locate("sftp");
    if (!sftp) {
        throw SledError::remoteCommandFailed("OpenSSH sftp binary not found.");
    }
    SFTPSharedSessions::Reply reply = SFTPSharedSessions::run(provider, SFTPSharedSessions::SessionKind::sftp, *sftp,
                                                              script, stop, outputSoFar, whileWaiting);
    if (reply.ended) {
        if (outputSoFar != nullptr) {
            *outputSoFar = reply.output;
        }
        std::string message = VornUnicode::trimmed(VornUnicode::replacingInvalidUTF8(reply.errors));
        if (message.empty()) {
            message = "sftp exited with code " + std::to_string(reply.exitCode);
        }
        throw SledError::remoteCommandFailed(message);
    }
    return VornUnicode::replacingInvalidUTF8(reply.output);
}

// How far `process` has read the local file `file` (the offset of its descriptor open on it);
// absent when it has none open on it (yet, or any more).
std::optional<std::int64_t> readingOffset(pid_t process, const struct stat& file) {
    const std::string folder = "/proc/" + std::to_string(process);
    std::error_code error;
    for (fs::directory_iterator entry(folder + "/fd", error), end; !error && entry != end; entry.increment(error)) {
        struct stat opened {};
        if (::stat(entry->path().c_str(), &opened) != 0 || opened.st_dev != file.st_dev || opened.st_ino != file.st_ino) {
            continue;
        }
        // "pos:\t<offset>" leads the file; the process may end while it is read, which is no error.
        std::error_code readError;
        const std::optional<std::string> info =
            vornReadFileCapped(folder + "/fdinfo/" + entry->path().filename().string(), 4096, readError);
        constexpr std::string_view label = "pos:\t";
        if (info && info->starts_with(label)) {
            const std::string_view digits = std::string_view(*info).substr(label.size());
            return parseDecimal<std::int64_t>(digits.substr(0, digits.find('\n')));
        }
    }
    return std::nullopt;
}

// Reports a transfer's progress while sftp works: `measure` tells the bytes done so far, each
// new value is passed on.
SFTPSharedSessions::WhileWaiting progressReporter(const SledProgressCallback& onProgress, std::int64_t total,
                                                 std::function<std::optional<std::int64_t>(pid_t)> measure) {
    if (!onProgress) {
        return {};
    }
    return [&onProgress, total, measure = std::move(measure), reported = std::int64_t(-1)](pid_t sftp) mutable {
        const std::optional<std::int64_t> done = measure(sftp);
        if (done && *done != reported) {
            reported = *done;
            onProgress(total > 0 ? std::min(*done, total) : *done, total);
        }
    };
}

}  // namespace

std::string SFTPStorageProvider::runSFTPBatch(const std::string& script, std::stop_token stop) const {
    return runBatch(*this, script, stop);
}

std::string SFTPStorageProvider::remoteSHA256Command(std::string_view path) {
    const std::string quoted = escapePOSIXSingleQuoted(path);
    return "(sha256sum " + quoted + " 2>/dev/null || shasum -a 256 " + quoted + " 2>/dev/null) | awk '{print $1}'";
}

std::optional<std::string> SFTPStorageProvider::parseRemoteSHA256(std::string_view output) {
    const std::string text = VornUnicode::trimmed(output);
    std::string_view word(text);
    const std::size_t end = word.find_first_of(" \t\n\r\v\f");
    word = word.substr(0, end);
    // sha256sum marks the line of a name holding a backslash or a line break with a leading '\'.
    if (!word.empty() && word.front() == '\\') {
        word.remove_prefix(1);
    }
    if (word.size() != 64) {
        return std::nullopt;
    }
    std::string digest;
    digest.reserve(64);
    for (const char c : word) {
        if (VornASCII::hexDigitValue(c) < 0) {
            return std::nullopt;
        }
        digest += VornASCII::lower(c);
    }
    return digest;
}

std::optional<std::string> SFTPStorageProvider::computeRemoteSHA256(const std::string& path,
                                                                   std::stop_token stop) const {
    const std::optional<fs::path> ssh = VornBinaryLocator::locate("ssh");
    if (!ssh) {
        return std::nullopt;
    }
    // On the login's long-lived shell; its input is kept away from the tools it starts.
    const SFTPSharedSessions::Reply reply = SFTPSharedSessions::run(
        *this, SFTPSharedSessions::SessionKind::shell, *ssh, "(" + remoteSHA256Command(path) + ") </dev/null\n", stop);
    if (reply.ended) {
        return std::nullopt;
    }
    return parseRemoteSHA256(reply.output);
}

std::string SFTPStorageProvider::normalizePath(std::string_view path) {
    std::string trimmed = VornUnicode::trimmed(path);
    return trimmed.empty() ? "/" : trimmed;
}

std::vector<SledFileEntry> SFTPStorageProvider::parseSFTPLongListing(std::string_view output,
                                                                     std::string_view parentPath, VornDate now) {
    std::string_view parent = parentPath;
    if (!parent.empty() && parent.back() == '/') {
        parent.remove_suffix(1);
    }
    // OpenSSH prints each name as the listed path joined to the name, as the path was given.
    const std::string printedPrefix =
        std::string(parentPath) + (parentPath.empty() || parentPath.back() == '/' ? "" : "/");

    struct Row {
        SledFileEntry entry;
        std::string rawName;
        bool isLink = false;
    };
    std::vector<Row> rows;
    std::size_t from = 0;
    while (from <= output.size()) {
        const std::size_t end = output.find('\n', from);
        const std::string_view rawLine =
            output.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from);
        from = end == std::string_view::npos ? output.size() + 1 : end + 1;

        const std::string line = trimmedSpacesAndTabs(rawLine, false);
        const std::vector<std::string_view> fields = splitFields(line, 8);
        const bool isEntryLine = line.size() >= 10 && (line[0] == '-' || line[0] == 'd' || line[0] == 'l') &&
                                 fields.size() == 9;
        if (!isEntryLine) {
            // A name holding a line break comes out over two lines: the rest belongs to the row above.
            if (!rows.empty() && !rawLine.empty()) {
                rows.back().rawName += '\n';
                rows.back().rawName += rawLine;
            } else if (!rows.empty()) {
                rows.back().rawName += '\n';
            }
            continue;
        }
        Row row;
        row.isLink = line[0] == 'l';
        row.rawName = std::string(fields[8]);
        row.entry.isDirectory = line[0] == 'd';
        row.entry.permissions = std::string(fields[0]);
        row.entry.sizeBytes = row.entry.isDirectory ? 0 : parseDecimal<std::int64_t>(fields[4]).value_or(0);
        row.entry.modifiedAt = parseListingDate(fields[5], fields[6], fields[7], now);
        rows.push_back(std::move(row));
    }

    std::vector<SledFileEntry> entries;
    entries.reserve(rows.size());
    for (Row& row : rows) {
        // The trailing line feed of the output is no part of the last name.
        while (!row.rawName.empty() && row.rawName.back() == '\n') {
            row.rawName.pop_back();
        }
        std::string name = undoOctalEscapes(row.rawName);
        if (!printedPrefix.empty() && name.size() > printedPrefix.size() && name.starts_with(printedPrefix)) {
            name.erase(0, printedPrefix.size());
        } else if (row.isLink) {
            // Listings that give bare names may show a link's target after " -> ".
            const std::size_t arrow = name.find(" -> ");
            if (arrow != std::string::npos) {
                name.erase(arrow);
            }
        }
        if (name.empty() || name == "." || name == "..") {
            continue;
        }
        row.entry.name = name;
        row.entry.path = parent.empty() ? "/" + name : std::string(parent) + "/" + name;
        entries.push_back(std::move(row.entry));
    }
    sortListing(entries);
    return entries;
}

std::vector<SledFileEntry> SFTPStorageProvider::listDirectory(const std::string& at, std::stop_token stop) const {
    const std::string path = normalizePath(at);
    const std::string output = runSFTPBatch(batchLine("ls -ln", {path}), stop);
    return parseSFTPLongListing(output, path);
}

SledDownloadResult SFTPStorageProvider::downloadFile(const std::string& remotePath, const fs::path& to,
                                                     const SledProgressCallback& onProgress,
                                                     std::stop_token stop) const {
    const fs::path parent = to.parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent);
    }
    // The file arrives beside its destination and replaces it only when whole, so a failed or
    // cancelled download neither leaves a fragment nor destroys the file that was there.
    const fs::path partial = sledHiddenSibling(to, "download");
    VornTemporaryFile partialGuard(partial);
    const std::string getLine = batchLine("get -p", {remotePath, fs::absolute(partial).string()});

    // The server hashes its file while it is being sent, so the digest adds no time of its own.
    std::stop_source hashing;
    const std::stop_callback forwardStop(stop, [&hashing] { hashing.request_stop(); });
    std::optional<std::string> digest;
    std::jthread hasher([this, &remotePath, &digest, token = hashing.get_token()] {
        try {
            digest = computeRemoteSHA256(remotePath, token);
        } catch (const std::exception&) {
            digest.reset();  // no digest from the server: the download stands unchecked by it
        }
    });
    try {
        // The size of the arriving file is the progress; the total is not known here.
        runBatch(*this, getLine, stop, nullptr, progressReporter(onProgress, 0, [&partial](pid_t) {
                     struct stat info {};
                     return ::stat(partial.c_str(), &info) == 0 ? std::optional<std::int64_t>(info.st_size)
                                                                : std::nullopt;
                 }));
    } catch (...) {
        hashing.request_stop();
        throw;
    }
    hasher.join();
    if (stop.stop_requested()) {
        throw VornTaskCancelled();
    }
    fs::rename(partial, to);
    partialGuard.release();

    const std::int64_t size = fileSizeOrZero(to);
    if (onProgress) {
        onProgress(size, size);
    }
    return {size, digest};
}

void SFTPStorageProvider::uploadFile(const fs::path& localURL, const std::string& to,
                                     const std::optional<std::string>& sha256Hex,
                                     const SledProgressCallback& onProgress, std::stop_token stop) const {
    // The file goes up under a temporary sibling name and is renamed over the destination when
    // whole (the server's atomic rename replaces an existing file), so an interrupted upload never
    // leaves a fragment where the old file was.
    const std::string partial = remoteParentPrefix(to) + ".vornsled-upload-" + VornUUID::random().uuidString() + ".part";
    // Absolute: the session's sftp was started in whatever folder this process was in then.
    const std::string script =
        batchLine("put -p", {fs::absolute(localURL).string(), partial}) + batchLine("rename", {partial, to});
    std::string answered;
    try {
        // sftp reads the file as it sends it: how far it has read is the progress.
        struct stat local {};
        SFTPSharedSessions::WhileWaiting progress;
        if (::stat(localURL.c_str(), &local) == 0) {
            progress = progressReporter(onProgress, local.st_size,
                                        [&local](pid_t sftp) { return readingOffset(sftp, local); });
        }
        runBatch(*this, script, stop, &answered, progress);
    } catch (...) {
        // sftp echoes each batch line as it starts it: once the put runs, a fragment may exist.
        if (answered.find("sftp> put") != std::string::npos) {
            try {
                runBatch(*this, "-" + batchLine("rm", {partial}), std::stop_token());
            } catch (...) {
                // The fragment stays behind under its hidden name; the upload's own error matters.
            }
        }
        throw;
    }

    const std::int64_t size = fileSizeOrZero(localURL);
    if (onProgress) {
        onProgress(size, size);
    }
    if (!sha256Hex || sha256Hex->empty()) {
        return;
    }
    std::optional<std::string> remote;
    try {
        remote = computeRemoteSHA256(to, stop);
    } catch (const VornTaskCancelled&) {
        throw;
    } catch (const std::exception&) {
        return;  // no digest from the server: the upload stands unchecked
    }
    if (remote && !VornASCII::equalIgnoringCase(*remote, *sha256Hex)) {
        // Named as the user knows the file: the local file may be a temporary copy of it.
        throw SledError::checksumMismatch(lastPathComponent(to), *sha256Hex, *remote);
    }
}

void SFTPStorageProvider::createDirectory(const std::string& at, std::stop_token stop) const {
    runSFTPBatch(batchLine("mkdir", {at}), stop);
}

void SFTPStorageProvider::deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const {
    runSFTPBatch(batchLine(isDirectory ? "rmdir" : "rm", {at}), stop);
}

void SFTPStorageProvider::renameItem(const std::string& from, const std::string& to, bool /*isDirectory*/,
                                     std::stop_token stop) const {
    if (from == to) {
        return;
    }
    try {
        // "-l" asks for the plain rename, which refuses an existing target instead of replacing it.
        runSFTPBatch(batchLine("rename -l", {from, to}), stop);
    } catch (const SledError& error) {
        if (error.kind() != SledError::Kind::remoteCommandFailed) {
            throw;
        }
        // The server only says "Failure": tell the user when it is because the target exists.
        bool targetExists = false;
        try {
            runSFTPBatch(batchLine("ls -ln", {to}), stop);
            targetExists = true;
        } catch (const SledError&) {
        }
        if (targetExists) {
            throw SledError::remoteCommandFailed("An item named '" + lastPathComponent(to) + "' already exists.");
        }
        throw;
    }
}

void SFTPStorageProvider::testConnection(std::stop_token stop) const { runSFTPBatch("pwd\n", stop); }
