#include "SFTPStorageProvider.h"

#include "LocalFileProvider.h"
#include "SFTPSharedSessions.h"
#include "SledError.h"
#include "SledPathInside.h"
#include "SledTemporaryFileName.h"
#include "VornASCII.h"
#include "VornBinaryLocator.h"
#include "VornChecksum.h"
#include "VornFileIO.h"
#include "VornLocalizationStore.h"
#include "VornTaskCancelled.h"
#include "VornTemporaryFile.h"
#include "VornUUID.h"
#include "VornUnicode.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
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

// A relative path that starts with "-" as one no tool reads as an option.
std::string notAnOption(std::string_view path) {
    return path.starts_with('-') ? "./" + std::string(path) : std::string(path);
}

// One line of a batch script: the command, then each path through escapeSFTPArg. sftp cannot be
// handed a line break (it ends the line inside the quotes) or a NUL, and it cuts lines longer than
// it reads whole; each is refused here with its own text instead of sftp's misleading one.
std::string batchLine(std::string_view command, std::initializer_list<std::string_view> paths) {
    std::string line(command);
    for (const std::string_view path : paths) {
        if (path.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos) {
            throw SledError::remoteCommandFailed(
                vornText("sftp cannot be given a path that holds a line break or a NUL character.",
                         "sftp'ye satır sonu ya da NUL karakteri içeren bir yol verilemez."));
        }
        line += ' ';
        line += SFTPStorageProvider::escapeSFTPArg(notAnOption(path));
    }
    if (line.size() > SFTPStorageProvider::maximumBatchLineBytes) {
        const std::string bytes = std::to_string(line.size());
        const std::string most = std::to_string(SFTPStorageProvider::maximumBatchLineBytes);
        throw SledError::remoteCommandFailed(
            vornText("The path is too long for an sftp command (" + bytes + " bytes in the line, at most " + most + ").",
                     "Yol bir sftp komutu için çok uzun (satırda " + bytes + " bayt, en çok " + most + ")."));
    }
    line += '\n';
    return line;
}

// The bytes sftp may write as "\ooo" (in a UTF-8 locale): control characters other than tab, line
// feed and carriage return, DEL, bytes of ill-formed UTF-8, and each byte of a character it cannot
// show (a C1 control, an unassigned code point). A backslash is printed as it is, so
// "\057" in a listing is those four characters of the name, never a "/".
bool isEscapedBySftp(unsigned value) {
    return (value >= 1 && value <= 31 && value != '\t' && value != '\n' && value != '\r') || value >= 127;
}

// Undoes sftp's octal escapes, each only into a byte sftp itself escapes. With `everyEscape`, every
// "\ooo" is decoded: the one spelling that a name and its printed form share, whichever of its
// backslashes were the name's own.
std::string undoOctalEscapes(std::string_view text, bool everyEscape = false) {
    std::string out;
    out.reserve(text.size());
    const auto isOctal = [&text](std::size_t k) { return text[k] >= '0' && text[k] <= '7'; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] <= '3' && isOctal(i + 1) && isOctal(i + 2) &&
            isOctal(i + 3)) {
            const unsigned value = ((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0');
            if (everyEscape || isEscapedBySftp(value)) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
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
        throw SledError::remoteCommandFailed(vornText("OpenSSH sftp binary not found.", "OpenSSH sftp programı bulunamadı."));
    }
    SFTPSharedSessions::Reply reply = SFTPSharedSessions::run(provider, SFTPSharedSessions::SessionKind::sftp, *sftp,
                                                              script, stop, outputSoFar, whileWaiting);
    if (reply.ended) {
        if (outputSoFar != nullptr) {
            *outputSoFar = reply.output;
        }
        std::string message = VornUnicode::trimmed(VornUnicode::replacingInvalidUTF8(reply.errors));
        if (message.empty()) {
            const std::string code = std::to_string(reply.exitCode);
            message = vornText("sftp exited with code " + code, "sftp " + code + " koduyla sonlandı");
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

// Follows a transfer while sftp works: `measure` tells the bytes done so far; each new value is
// reported (when there is a callback) and tells the session the transfer makes headway.
SFTPSharedSessions::WhileWaiting progressReporter(const SledProgressCallback& onProgress, std::int64_t total,
                                                 std::function<std::optional<std::int64_t>(pid_t)> measure) {
    return [&onProgress, total, measure = std::move(measure), reported = std::int64_t(-1)](pid_t sftp) mutable {
        const std::optional<std::int64_t> done = measure(sftp);
        if (done && *done != reported) {
            reported = *done;
            if (onProgress) {
                onProgress(total > 0 ? std::min(*done, total) : *done, total);
            }
        }
        return reported;
    };
}

}  // namespace

std::string SFTPStorageProvider::runSFTPBatch(const std::string& script, std::stop_token stop) const {
    return runBatch(*this, script, stop);
}

std::string SFTPStorageProvider::remoteSHA256Command(std::string_view path) {
    const std::string quoted = escapePOSIXSingleQuoted(notAnOption(path));
    return "(sha256sum " + quoted + " 2>/dev/null || shasum -a 256 " + quoted + " 2>/dev/null) | awk '{print $1}'";
}

namespace {

// `word` lower-cased when it is exactly `digits` hexadecimal digits.
std::optional<std::string> hexDigest(std::string_view word, std::size_t digits) {
    if (word.size() != digits) {
        return std::nullopt;
    }
    std::string digest;
    digest.reserve(digits);
    for (const char c : word) {
        if (VornASCII::hexDigitValue(c) < 0) {
            return std::nullopt;
        }
        digest += VornASCII::lower(c);
    }
    return digest;
}

}  // namespace

std::optional<std::string> SFTPStorageProvider::parseRemoteSHA256(std::string_view output) {
    const std::string text = VornUnicode::trimmed(output);
    std::string_view word(text);
    const std::size_t end = word.find_first_of(" \t\n\r\v\f");
    word = word.substr(0, end);
    // sha256sum marks the line of a name holding a backslash or a line break with a leading '\'.
    if (!word.empty() && word.front() == '\\') {
        word.remove_prefix(1);
    }
    return hexDigest(word, 64);
}

namespace {

// Runs a hashing command on the login's long-lived shell, its input kept away from the tools it
// starts. A large file takes a while to hash: with `beat`, an empty line now and then (which the
// readings of digests skip) tells that the server is still at it, so only a silent one is given
// up. Absent when ssh is missing.
std::optional<SFTPSharedSessions::Reply> runHashing(const SFTPStorageProvider& provider, const std::string& hashing,
                                                    bool beat, std::stop_token stop) {
    const std::optional<fs::path> ssh = VornBinaryLocator::locate("ssh");
    if (!ssh) {
        return std::nullopt;
    }
    const std::string seconds = std::to_string(std::max(1, provider.answerSeconds / 3));
    // The sleep holds none of the session's pipes, so one left over after the kill keeps nothing open.
    const std::string command =
        beat ? "( while sleep " + seconds + " </dev/null >/dev/null 2>&1; do echo; done ) & vornsledBeat=$!; " +
                   hashing + " </dev/null; kill $vornsledBeat 2>/dev/null; wait $vornsledBeat 2>/dev/null\n"
             : hashing + " </dev/null\n";
    return SFTPSharedSessions::run(provider, SFTPSharedSessions::SessionKind::shell, *ssh, command, std::move(stop));
}

// What a shared hashing run tells one file asked for in it.
struct SharedDigestRequest {
    std::string path;
    bool taken = false;     // in the run under way
    bool answered = false;  // the run is over and gave `digest` (none: the server tells nothing)
    bool unanswered = false;  // the run is over and named no digest for the path
    std::optional<std::string> digest;
};

struct SharedDigestQueue {
    std::vector<std::shared_ptr<SharedDigestRequest>> waiting;  // oldest first
    bool hashing = false;
};

struct SharedDigests {
    std::mutex lock;
    std::condition_variable_any changed;
    // By shared connection; a queue, once made, stays, since waiters hold on to it.
    std::map<std::string, SharedDigestQueue> queues;
};

// Never destroyed: a worker may still wait for a digest while the process exits.
SharedDigests& sharedDigests() {
    static SharedDigests* digests = new SharedDigests;
    return *digests;
}

// A path that reaches sha256sum and comes back in its line unchanged: no control character,
// which could break or forge a line, and no backslash, which the tool escapes.
bool printsAsItIs(std::string_view path) {
    return std::none_of(path.begin(), path.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f || c == '\\';
    });
}

// Hashes the files of `batch` (its first is the caller's) in one run and answers each; the
// others go back to the front of the queue when the caller is cancelled.
void hashSharedBatch(const SFTPStorageProvider& provider, SharedDigestQueue& queue,
                     const std::vector<std::shared_ptr<SharedDigestRequest>>& batch, std::unique_lock<std::mutex>& guard,
                     std::stop_token stop) {
    std::vector<std::string> paths;
    for (const auto& request : batch) {
        request->taken = true;
        if (std::find(paths.begin(), paths.end(), request->path) == paths.end()) {
            paths.push_back(request->path);
        }
    }
    queue.hashing = true;
    guard.unlock();
    std::optional<SFTPSharedSessions::Reply> reply;
    bool failed = false;
    try {
        // At most mostSharedDigests files of largestSharedDigestBytes: hashed well within the
        // answer time, so the run does without the beat and the two processes it starts.
        reply = runHashing(provider, SFTPStorageProvider::remoteSHA256BatchCommand(paths), false, stop);
    } catch (const VornTaskCancelled&) {
        guard.lock();
        queue.hashing = false;
        for (auto request = batch.rbegin(); request != batch.rend(); ++request) {
            if (*request != batch.front()) {
                (*request)->taken = false;
                queue.waiting.insert(queue.waiting.begin(), *request);
            }
        }
        sharedDigests().changed.notify_all();
        throw;
    } catch (const std::exception&) {
        failed = true;  // as a file asked for alone: the server tells nothing
    }
    guard.lock();
    queue.hashing = false;
    const std::map<std::string, std::string> digests =
        reply && !reply->ended ? SFTPStorageProvider::parseRemoteSHA256Batch(reply->output, paths)
                               : std::map<std::string, std::string>();
    for (const auto& request : batch) {
        if (failed || !reply || reply->ended) {
            request->answered = true;
        } else if (const auto found = digests.find(request->path); found != digests.end()) {
            request->answered = true;
            request->digest = found->second;
        } else {
            request->unanswered = true;
        }
    }
    sharedDigests().changed.notify_all();
}

}  // namespace

std::optional<std::string> SFTPStorageProvider::computeRemoteSHA256(const std::string& path,
                                                                   std::stop_token stop) const {
    const std::optional<SFTPSharedSessions::Reply> reply =
        runHashing(*this, "(" + remoteSHA256Command(path) + ")", true, std::move(stop));
    if (!reply || reply->ended) {
        return std::nullopt;
    }
    return parseRemoteSHA256(reply->output);
}

std::optional<std::string> SFTPStorageProvider::computeRemoteSHA256Shared(const std::string& path,
                                                                         std::stop_token stop) const {
    const std::optional<fs::path> connection = sharedConnectionPath();
    if (!connection || !printsAsItIs(path)) {
        return computeRemoteSHA256(path, stop);
    }
    const auto request = std::make_shared<SharedDigestRequest>();
    request->path = path;
    SharedDigests& shared = sharedDigests();
    std::unique_lock guard(shared.lock);
    SharedDigestQueue& queue = shared.queues[connection->string()];
    queue.waiting.push_back(request);
    while (!request->answered && !request->unanswered) {
        if (!queue.hashing) {
            // This caller hashes its own file and the oldest ones waiting beside it.
            std::erase(queue.waiting, request);
            std::vector<std::shared_ptr<SharedDigestRequest>> batch{request};
            const std::size_t others = std::min(queue.waiting.size(), mostSharedDigests - 1);
            batch.insert(batch.end(), queue.waiting.begin(), queue.waiting.begin() + static_cast<std::ptrdiff_t>(others));
            queue.waiting.erase(queue.waiting.begin(), queue.waiting.begin() + static_cast<std::ptrdiff_t>(others));
            hashSharedBatch(*this, queue, batch, guard, stop);
            continue;
        }
        const bool turn = shared.changed.wait(guard, stop, [&] {
            return request->answered || request->unanswered || (!queue.hashing && !request->taken);
        });
        if (!turn) {
            std::erase(queue.waiting, request);
            throw VornTaskCancelled();
        }
    }
    guard.unlock();
    if (request->unanswered) {
        return computeRemoteSHA256(path, stop);
    }
    return request->digest;
}

std::map<std::string, std::string> SFTPStorageProvider::contentDigests(const std::vector<SledFileEntry>& files,
                                                                      SledContentDigest kind,
                                                                      std::stop_token stop) const {
    // Files go to one run together up to these bounds, which hash well within the answer time;
    // a larger file goes alone, with the beat that tells a long hashing from a silent server.
    constexpr std::int64_t runBytes = 16 * 1024 * 1024;
    constexpr std::size_t runFiles = 64;
    constexpr std::size_t runCommandBytes = 16 * 1024;
    std::map<std::string, std::string> digests;
    std::vector<std::string> run;
    std::int64_t bytes = 0;
    std::size_t commandBytes = 0;
    const auto hashRun = [&] {
        if (run.empty()) {
            return;
        }
        const bool beat = run.size() == 1 && bytes > runBytes;
        std::optional<SFTPSharedSessions::Reply> reply;
        try {
            reply = runHashing(*this, remoteDigestBatchCommand(run, kind), beat, stop);
        } catch (const VornTaskCancelled&) {
            throw;
        } catch (const std::exception&) {
            // The server tells nothing of these files.
        }
        if (reply && !reply->ended) {
            digests.merge(parseRemoteDigestBatch(reply->output, run, kind));
        }
        run.clear();
        bytes = 0;
        commandBytes = 0;
    };
    for (const SledFileEntry& file : files) {
        if (!printsAsItIs(file.path)) {
            continue;
        }
        if (!run.empty() && (run.size() >= runFiles || bytes + file.sizeBytes > runBytes ||
                             commandBytes + file.path.size() > runCommandBytes)) {
            hashRun();
        }
        run.push_back(file.path);
        bytes += std::max<std::int64_t>(file.sizeBytes, 0);
        commandBytes += file.path.size();
    }
    hashRun();
    return digests;
}

std::string SFTPStorageProvider::remoteSHA256BatchCommand(const std::vector<std::string>& paths) {
    return remoteDigestBatchCommand(paths, SledContentDigest::sha256);
}

std::string SFTPStorageProvider::remoteDigestBatchCommand(const std::vector<std::string>& paths,
                                                          SledContentDigest kind) {
    std::string quoted;
    for (const std::string& path : paths) {
        quoted += " " + escapePOSIXSingleQuoted(notAnOption(path));
    }
    if (kind == SledContentDigest::md5) {
        return "{ md5sum" + quoted + " 2>/dev/null; }";
    }
    return "{ sha256sum" + quoted + " 2>/dev/null || shasum -a 256" + quoted + " 2>/dev/null; }";
}

std::map<std::string, std::string> SFTPStorageProvider::parseRemoteSHA256Batch(std::string_view output,
                                                                               const std::vector<std::string>& paths) {
    return parseRemoteDigestBatch(output, paths, SledContentDigest::sha256);
}

std::map<std::string, std::string> SFTPStorageProvider::parseRemoteDigestBatch(std::string_view output,
                                                                               const std::vector<std::string>& paths,
                                                                               SledContentDigest kind) {
    const std::size_t digits = kind == SledContentDigest::md5 ? 32 : 64;
    // The line of a path: its digest, two characters ("  " text mode, " *" binary mode), the path
    // as it was given. A path two lines give apart (both tools ran, the file changed between) is
    // left without.
    std::map<std::string, std::optional<std::string>> byName;
    for (std::size_t from = 0; from < output.size();) {
        const std::size_t end = std::min(output.find('\n', from), output.size());
        const std::string_view line = output.substr(from, end - from);
        from = end + 1;
        if (line.size() <= digits + 2 || (line.substr(digits, 2) != "  " && line.substr(digits, 2) != " *")) {
            continue;
        }
        const std::optional<std::string> digest = hexDigest(line.substr(0, digits), digits);
        if (!digest || line.front() == '\\') {
            continue;
        }
        const auto [at, fresh] = byName.emplace(std::string(line.substr(digits + 2)), digest);
        if (!fresh && at->second != digest) {
            at->second.reset();
        }
    }
    std::map<std::string, std::string> digests;
    for (const std::string& path : paths) {
        if (const auto found = byName.find(notAnOption(path)); found != byName.end() && found->second) {
            digests.emplace(path, *found->second);
        }
    }
    return digests;
}

std::optional<SFTPStorageProvider::ShellTime> SFTPStorageProvider::readShellTime(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative) {
        text.remove_prefix(1);
    }
    const std::size_t dot = text.find('.');
    const std::optional<std::int64_t> seconds = parseDecimal<std::int64_t>(text.substr(0, dot));
    if (!seconds || *seconds > (std::int64_t(1) << 40)) {
        return std::nullopt;
    }
    std::int64_t micros = 0;
    bool finer = false;  // digits beyond the microsecond that are not all zero
    const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    for (std::size_t i = 0; i < fraction.size(); ++i) {
        if (fraction[i] < '0' || fraction[i] > '9') {
            return std::nullopt;
        }
        if (i < 6) {
            micros = micros * 10 + (fraction[i] - '0');
        } else {
            finer = finer || fraction[i] != '0';
        }
    }
    for (std::size_t i = fraction.size(); i < 6; ++i) {
        micros *= 10;
    }
    std::int64_t total = *seconds * 1'000'000 + micros;
    if (negative) {
        total = -total - (finer ? 1 : 0);  // towards the past
    }
    return ShellTime{VornDate(std::chrono::microseconds(total)),
                     fraction.empty() ? SledTimePrecision::second : SledTimePrecision::precise};
}

std::string SFTPStorageProvider::normalizePath(std::string_view path) {
    // A listing's paths come back here as they are, and a folder may well be named "Backup "
    // beside "Backup": trimming would list the other one. Typed paths are trimmed where typed.
    return VornUnicode::trimmed(path).empty() ? "/" : std::string(path);
}

namespace {

// One entry line of `ls -l` output: its values, and the name as printed (everything after the
// one space that follows the date, so a name's own leading spaces stay).
struct ListingRow {
    SledFileEntry entry;
    std::string printedName;
    bool isLink = false;
};

std::optional<ListingRow> parseEntryLine(std::string_view rawLine, VornDate now) {
    const std::string line = trimmedSpacesAndTabs(rawLine, false);
    const std::vector<std::string_view> fields = splitFields(line, 8);
    if (line.size() < 10 || (line[0] != '-' && line[0] != 'd' && line[0] != 'l') || fields.size() != 9) {
        return std::nullopt;
    }
    ListingRow row;
    row.isLink = line[0] == 'l';
    const std::size_t dateEnd = static_cast<std::size_t>(fields[7].data() + fields[7].size() - line.data());
    row.printedName = line.substr(dateEnd + 1);
    row.entry.isDirectory = line[0] == 'd';
    row.entry.permissions = std::string(fields[0]);
    row.entry.sizeBytes = row.entry.isDirectory ? 0 : parseDecimal<std::int64_t>(fields[4]).value_or(0);
    row.entry.modifiedAt = parseListingDate(fields[5], fields[6], fields[7], now);
    // ls prints "14:07" for the last half-year and a year otherwise: a minute or a whole day.
    row.entry.modifiedAtPrecision =
        fields[7].find(':') != std::string_view::npos ? SledTimePrecision::minute : SledTimePrecision::day;
    return row;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        lines.push_back(text.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
        from = end == std::string_view::npos ? text.size() : end + 1;
    }
    return lines;
}

std::string childPath(std::string_view parentPath, const std::string& name) {
    std::string_view parent = parentPath;
    if (!parent.empty() && parent.back() == '/') {
        parent.remove_suffix(1);
    }
    return parent.empty() ? "/" + name : std::string(parent) + "/" + name;
}

// Whether `echoed` is sftp's echo of the batch line `line` (both without their line feed). sftp
// echoes each line as it shows names: a byte it may not show (see isEscapedBySftp) as "\ooo", so
// a folder whose name is not UTF-8 comes back escaped, and every other byte as it is. Each byte of
// the line reads one way only: a literal backslash is never escaped, and an escaped byte is never
// a backslash.
// How many bytes at the start of `printed` are sftp's printing of `text`; nothing when they are not.
std::optional<std::size_t> printedLength(std::string_view printed, std::string_view text) {
    std::size_t at = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (at < printed.size() && printed[at] == c) {
            ++at;
            continue;
        }
        const char escape[] = {'\\', static_cast<char>('0' + (byte >> 6)), static_cast<char>('0' + ((byte >> 3) & 7)),
                               static_cast<char>('0' + (byte & 7))};
        if (!isEscapedBySftp(byte) || printed.substr(at, 4) != std::string_view(escape, 4)) {
            return std::nullopt;
        }
        at += 4;
    }
    return at;
}

bool isEchoOf(std::string_view echoed, std::string_view line) {
    return printedLength(echoed, line) == echoed.size();
}

// The rows a batch's listing printed: its output after sftp's echoes of the lines `sent` (each
// ending in a line feed; an empty one stands for no line), up to its echo of the closing "cd"
// when `closingCd`; nothing when the answer has another form.
std::optional<std::string_view> rowsBetweenEchoes(std::string_view output,
                                                  std::initializer_list<std::string_view> sent,
                                                  bool closingCd = true) {
    constexpr std::string_view prompt = "sftp> ";
    for (std::string_view line : sent) {
        if (line.empty()) {
            continue;
        }
        line.remove_suffix(line.ends_with('\n') ? 1 : 0);
        const std::size_t end = output.find('\n');
        if (!output.starts_with(prompt) || end == std::string_view::npos ||
            !isEchoOf(output.substr(prompt.size(), end - prompt.size()), line)) {
            return std::nullopt;
        }
        output.remove_prefix(end + 1);
    }
    if (!closingCd) {
        return output;
    }
    constexpr std::string_view tail = "sftp> cd\n";
    if (!output.ends_with(tail)) {
        return std::nullopt;
    }
    return output.substr(0, output.size() - tail.size());
}

SledError listingDoesNotAddUp(std::string_view why, std::string_view whyTurkish) {
    return SledError::remoteCommandFailed(
        vornText("The folder's listing cannot be read unambiguously (" + std::string(why) +
                     "); nothing in it is offered.",
                 "Klasörün listesi kesin olarak okunamıyor (" + std::string(whyTurkish) +
                     "); içindekilerin hiçbiri sunulmuyor."));
}

}  // namespace

std::vector<SledFileEntry> SFTPStorageProvider::parseSFTPLongListing(std::string_view output,
                                                                     std::string_view parentPath, VornDate now) {
    // OpenSSH prints each name as the listed path joined to the name, as the path was given.
    const std::string printedPrefix =
        std::string(parentPath) + (parentPath.empty() || parentPath.back() == '/' ? "" : "/");

    std::vector<ListingRow> rows;
    const std::vector<std::string_view> lines = splitLines(output);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (std::optional<ListingRow> row = parseEntryLine(lines[i], now)) {
            rows.push_back(std::move(*row));
        } else if (!rows.empty()) {
            // A name holding a line break comes out over two lines: the rest belongs to the row above.
            rows.back().printedName += '\n';
            rows.back().printedName += lines[i];
        }
    }

    std::vector<SledFileEntry> entries;
    entries.reserve(rows.size());
    for (ListingRow& row : rows) {
        std::string name = undoOctalEscapes(row.printedName);
        if (!printedPrefix.empty() && name.size() > printedPrefix.size() && name.starts_with(printedPrefix)) {
            name.erase(0, printedPrefix.size());
        } else if (row.isLink) {
            // Listings that give bare names may show a link's target after " -> ".
            const std::size_t arrow = name.find(" -> ");
            if (arrow != std::string::npos) {
                name.erase(arrow);
            }
        }
        // No name holds a "/": such a text would point an operation into another folder.
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
            continue;
        }
        row.entry.name = name;
        row.entry.path = childPath(parentPath, name);
        entries.push_back(std::move(row.entry));
    }
    sortListing(entries);
    return entries;
}

std::vector<SledFileEntry> SFTPStorageProvider::readBareListing(std::string_view rows, std::string_view parentPath,
                                                                const std::optional<std::vector<std::string>>& exactNames,
                                                                VornDate now) {
    const std::vector<std::string_view> lines = splitLines(rows);
    std::vector<std::optional<ListingRow>> parsed;
    parsed.reserve(lines.size());
    for (const std::string_view line : lines) {
        if (line.size() >= listingLineBytes) {
            throw listingDoesNotAddUp("a line is longer than sftp prints whole", "bir satır sftp'nin bütün yazdığından uzun");
        }
        parsed.push_back(parseEntryLine(line, now));
    }

    std::vector<SledFileEntry> entries;
    entries.reserve(lines.size());
    const auto add = [&entries, parentPath](ListingRow& row, const std::string& name) {
        row.entry.name = name;
        row.entry.path = childPath(parentPath, name);
        entries.push_back(std::move(row.entry));
    };

    if (!exactNames) {
        // The printed lines alone: a line that is no entry is part of a name with a line break,
        // which could just as well have printed a whole line of its own.
        std::set<std::string> seen;
        for (std::optional<ListingRow>& row : parsed) {
            if (!row) {
                throw listingDoesNotAddUp("a name holds a line break", "bir ad satır sonu içeriyor");
            }
            std::string name = undoOctalEscapes(row->printedName);
            if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
                throw listingDoesNotAddUp("a name that no file can have", "hiçbir dosyanın taşıyamayacağı bir ad");
            }
            if (!seen.insert(name).second) {
                throw listingDoesNotAddUp("two lines name the same item", "iki satır aynı öğeyi adlandırıyor");
            }
            add(*row, name);
        }
        sortListing(entries);
        return entries;
    }

    // Each line is matched with the one exact name that prints as it does. Names are found by the
    // spelling with every escape undone, which a name and its printed form share; a name with line
    // breaks spans as many lines more.
    std::map<std::string, std::vector<std::size_t>> byKey;
    std::size_t mostLineBreaks = 0;
    for (std::size_t k = 0; k < exactNames->size(); ++k) {
        const std::string& name = (*exactNames)[k];
        byKey[undoOctalEscapes(name, true)].push_back(k);
        mostLineBreaks = std::max<std::size_t>(mostLineBreaks, std::count(name.begin(), name.end(), '\n'));
    }
    std::vector<bool> used(exactNames->size(), false);
    for (std::size_t i = 0; i < lines.size();) {
        if (!parsed[i]) {
            throw listingDoesNotAddUp("a line matches no name", "bir satır hiçbir adla eşleşmiyor");
        }
        // Every reading of the lines from here: the name ends after `extra` more lines, and the
        // line after it starts the next entry. Exactly one must name exactly one unused item.
        std::string printed = parsed[i]->printedName;
        std::optional<std::pair<std::size_t, std::size_t>> match;  // extra lines, name
        bool ambiguous = false;
        for (std::size_t extra = 0; extra <= mostLineBreaks && i + extra < lines.size(); ++extra) {
            if (extra > 0) {
                printed += '\n';
                printed += lines[i + extra];
            }
            const std::size_t next = i + extra + 1;
            if (next < lines.size() && !parsed[next]) {
                continue;
            }
            const auto found = byKey.find(undoOctalEscapes(printed, true));
            if (found == byKey.end()) {
                continue;
            }
            for (const std::size_t k : found->second) {
                if (!used[k]) {
                    ambiguous = ambiguous || match.has_value();
                    match = std::pair{extra, k};
                }
            }
        }
        if (!match) {
            throw listingDoesNotAddUp("a line matches no name", "bir satır hiçbir adla eşleşmiyor");
        }
        if (ambiguous) {
            throw listingDoesNotAddUp("a line matches more than one name", "bir satır birden çok adla eşleşiyor");
        }
        used[match->second] = true;
        add(*parsed[i], (*exactNames)[match->second]);
        i += match->first + 1;
    }
    if (std::find(used.begin(), used.end(), false) != used.end()) {
        throw listingDoesNotAddUp("a name has no line", "bir adın satırı yok");
    }
    sortListing(entries);
    return entries;
}

std::string SFTPStorageProvider::remoteNamesCommand(std::string_view path, std::optional<bool> gnuFind) {
    // The glob leaves out hidden names, as sftp's listing does; an empty folder leaves the pattern
    // itself, which names nothing there.
    // A folder the shell can enter but not read would glob to nothing: it says so instead (no tag),
    // so it never passes for an empty one. Where GNU find runs, each name is followed by its
    // modification time in seconds ("stamped"), finer than the minutes of sftp's listing. In the C
    // locale every byte is a character, so "-name" leaves out exactly the names the glob would.
    // After the visible names, an empty field, then the hidden ones, each after its kind.
    const std::string stamped =
        "printf 'stamped\\0' && LC_ALL=C find . -mindepth 1 -maxdepth 1 ! -name '.*' -printf '%f\\0%T@\\0' && "
        "printf '\\0' && LC_ALL=C find . -mindepth 1 -maxdepth 1 -name '.*' \\( -type d -printf 'd%f\\0' -o -printf "
        "'-%f\\0' \\)";
    const std::string names = "printf 'names\\0' && for f in *; "
                              "do if [ -e \"$f\" ] || [ -h \"$f\" ]; then printf '%s\\0' \"$f\"; fi; done && "
                              "printf '\\0' && for f in .*; do case \"$f\" in .|..) ;; *) if [ -d \"$f\" ] && "
                              "[ ! -h \"$f\" ]; then printf 'd%s\\0' \"$f\"; elif [ -e \"$f\" ] || [ -h \"$f\" ]; "
                              "then printf '%s%s\\0' - \"$f\"; fi;; esac; done";
    const std::string listing = !gnuFind ? "if find . -maxdepth 0 -printf '' 2>/dev/null; then " + stamped + "; else " +
                                               names + "; fi"
                                         : (*gnuFind ? stamped : names);
    return "(CDPATH= cd -- " + escapePOSIXSingleQuoted(path) + " 2>/dev/null && [ -r . ] && " + listing + ") </dev/null";
}

namespace {

// Whether each login's server has GNU find, once a listing through its shell has told: asked once
// per login instead of once per folder.
struct KnownFinds {
    std::mutex lock;
    std::map<std::string, bool> byLogin;
};

KnownFinds& knownFinds() {
    static KnownFinds* known = new KnownFinds;
    return *known;
}

std::string loginKey(const SFTPLogin& login) {
    if (const std::optional<fs::path> socket = login.sharedConnectionPath()) {
        return socket->string();
    }
    return login.targetHostString() + ":" + std::to_string(login.profile.port);
}

}  // namespace

std::optional<std::vector<std::string>> SFTPStorageProvider::remoteNames(
    const std::string& path, std::stop_token stop, std::map<std::string, ShellTime>* modifiedTimes,
    std::vector<std::pair<std::string, bool>>* hidden) const {
    const std::optional<fs::path> ssh = VornBinaryLocator::locate("ssh");
    if (!ssh) {
        return std::nullopt;
    }
    const std::string login = loginKey(*this);
    std::optional<bool> gnuFind;
    {
        KnownFinds& known = knownFinds();
        std::lock_guard guard(known.lock);
        if (const auto found = known.byLogin.find(login); found != known.byLogin.end()) {
            gnuFind = found->second;
        }
    }
    const SFTPSharedSessions::Reply reply = SFTPSharedSessions::run(
        *this, SFTPSharedSessions::SessionKind::shell, *ssh, remoteNamesCommand(path, gnuFind) + "\n", stop);
    if (reply.ended) {
        return std::nullopt;  // no shell for this login
    }
    constexpr std::string_view tag("names\0", 6);
    constexpr std::string_view stampedTag("stamped\0", 8);
    const bool stamped = reply.output.starts_with(stampedTag);
    if (!stamped && !reply.output.starts_with(tag)) {
        throw listingDoesNotAddUp("the server's shell cannot read the folder", "sunucunun kabuğu klasörü okuyamıyor");
    }
    if (!gnuFind) {
        KnownFinds& known = knownFinds();
        std::lock_guard guard(known.lock);
        known.byLogin.emplace(login, stamped);
    }
    std::vector<std::string> names;
    std::string_view rest = std::string_view(reply.output).substr(stamped ? stampedTag.size() : tag.size());
    const auto next = [&rest]() {
        const std::size_t end = rest.find('\0');
        if (end == std::string_view::npos) {
            throw listingDoesNotAddUp("the server's shell gave an unfinished name", "sunucunun kabuğu yarım bir ad verdi");
        }
        const std::string_view field = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        return field;
    };
    while (!rest.empty()) {
        const std::string_view name = next();
        if (name.empty()) {
            // No name is empty: what follows are the hidden ones, each after its kind.
            while (!rest.empty()) {
                const std::string_view item = next();
                if (item.size() < 2 || (item.front() != 'd' && item.front() != '-')) {
                    throw listingDoesNotAddUp("the server's shell gave a malformed hidden name",
                                              "sunucunun kabuğu bozuk bir gizli ad verdi");
                }
                if (hidden != nullptr) {
                    hidden->emplace_back(std::string(item.substr(1)), item.front() == 'd');
                }
            }
            break;
        }
        names.emplace_back(name);
        if (stamped) {
            const std::optional<ShellTime> time = readShellTime(next());
            if (time && modifiedTimes != nullptr) {
                (*modifiedTimes)[names.back()] = *time;
            }
        }
    }
    return names;
}

namespace {

// The rows of a listing by path as a listing from inside the folder prints them: the path before
// each entry's name taken off. Nothing when a line may have been cut short or an entry's name does
// not start with the path, so that the folder is listed from inside instead.
std::optional<std::string> bareRows(std::string_view rows, std::string_view listedPath) {
    std::string bare;
    bare.reserve(rows.size());
    const VornDate now = vornDateNow();
    for (const std::string_view line : splitLines(rows)) {
        if (line.size() >= SFTPStorageProvider::listingLineBytes) {
            return std::nullopt;
        }
        if (const std::optional<ListingRow> row = parseEntryLine(line, now)) {
            const std::string_view printed = line.substr(line.size() - row->printedName.size());
            const std::optional<std::size_t> prefix = printedLength(printed, listedPath);
            if (!prefix || *prefix >= printed.size()) {
                return std::nullopt;
            }
            bare += line.substr(0, line.size() - printed.size());
            bare += printed.substr(*prefix);
        } else {
            bare += line;  // the rest of a name that holds a line break
        }
        bare += '\n';
    }
    return bare;
}

}  // namespace

std::vector<SledFileEntry> SFTPStorageProvider::listDirectory(const std::string& at, std::stop_token stop) const {
    return listDirectoryWithSkipped(at, std::move(stop)).entries;
}

SledListing SFTPStorageProvider::listDirectoryWithSkipped(const std::string& at, std::stop_token stop) const {
    const std::string path = normalizePath(at);
    // Listed by path, which sftp answers with one look-up and the reading of the folder; moving
    // into the folder and back would cost four requests more. Each line then holds the path
    // before the name, as sftp was given it with a "/" after it (which also lists the folder a
    // link leads to). Where a line may have been cut (a long path) or holds something else, the
    // folder is listed from inside, so that each line holds the bare name; the bare "cd" returns
    // to the start folder that relative paths of later requests mean.
    const std::string listed = path.ends_with('/') ? path : path + "/";
    const std::string byPath = batchLine("ls -ln", {listed});
    const std::string enter = batchLine("cd", {path});
    bool inside = false;
    bool readAgain = false;

    for (;;) {
        // The names come from the login's shell meanwhile, each whole: no name can pass for a line.
        std::stop_source naming;
        const std::stop_callback forwardStop(stop, [&naming] { naming.request_stop(); });
        std::optional<std::vector<std::string>> names;
        std::map<std::string, ShellTime> times;
        std::vector<std::pair<std::string, bool>> hidden;
        std::exception_ptr namingFailure;
        std::jthread namer([this, &path, &names, &times, &hidden, &namingFailure, token = naming.get_token()] {
            try {
                names = remoteNames(path, token, &times, &hidden);
            } catch (...) {
                namingFailure = std::current_exception();
            }
        });
        std::string output;
        try {
            output = runBatch(*this, inside ? enter + "ls -ln\ncd\n" : byPath, stop);
        } catch (...) {
            naming.request_stop();
            throw;
        }
        namer.join();
        if (stop.stop_requested()) {
            throw VornTaskCancelled();
        }
        if (namingFailure) {
            std::rethrow_exception(namingFailure);
        }

        const std::optional<std::string_view> rows =
            inside ? rowsBetweenEchoes(output, {enter, "ls -ln\n"}) : rowsBetweenEchoes(output, {byPath}, false);
        if (!rows) {
            throw listingDoesNotAddUp("sftp's answer has an unexpected form", "sftp'nin yanıtı beklenmedik biçimde");
        }
        std::optional<std::string> bare = inside ? std::optional<std::string>(*rows) : bareRows(*rows, notAnOption(listed));
        if (!bare) {
            inside = true;
            continue;
        }
        try {
            std::vector<SledFileEntry> entries = readBareListing(*bare, path, names);
            // The shell's times, to the fraction of a second the file system keeps, replace sftp's
            // minutes where it gave them.
            for (SledFileEntry& entry : entries) {
                if (const auto found = times.find(entry.name); found != times.end()) {
                    entry.modifiedAt = found->second.at;
                    entry.modifiedAtPrecision = found->second.precision;
                }
            }
            std::vector<SledSkippedEntry> skipped;
            for (auto& [name, isDirectory] : hidden) {
                if (name != "." && name != ".." && name.find('/') == std::string::npos) {
                    skipped.push_back({name, childPath(path, name), isDirectory, sledHiddenItemReason(),
                                       SledSkippedEntry::Why::hidden});
                }
            }
            return SledListing{std::move(entries), std::move(skipped)};
        } catch (const SledError&) {
            // The folder may have changed between the two readings: once more, then the answer stands.
            if (readAgain || !names) {
                throw;
            }
            readAgain = true;
        }
    }
}

namespace {

// An upload goes up as ".vornsled-upload-<UUID>.<destination key>.<start, Unix seconds>.part".
constexpr std::string_view uploadFragmentPrefix = ".vornsled-upload-";
constexpr std::string_view uploadFragmentSuffix = ".part";

// A remote upload fragment is taken for abandoned (its writer killed, its connection lost) only
// when both its start, from its name, and its last write are more than a day old. No upload runs
// for a day without writing, and every upload writes a fragment of its own, so nothing writes to
// an abandoned one again. The start counts too because `put -p` gives a whole fragment the local
// file's old time while it waits to be checked and renamed. Other instances' uploads cannot be
// seen from here: the age is what keeps them safe.
constexpr auto abandonedUploadAge = std::chrono::hours(24);
// A remote folder is read for fragments at most this often per process, so that many uploads
// into one folder do not each read it; one abandoned then stays until a later reading.
constexpr auto abandonedUploadRereadAfter = std::chrono::minutes(10);

std::int64_t unixSecondsNow() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()).time_since_epoch().count();
}

// A fresh place beside `to` for an upload to go up as.
std::string uploadFragmentPath(const std::string& to) {
    return remoteParentPrefix(to) + std::string(uploadFragmentPrefix) + VornUUID::random().uuidString() + "." +
           sledDestinationKey(lastPathComponent(to)) + "." + std::to_string(unixSecondsNow()) +
           std::string(uploadFragmentSuffix);
}

// The destination key and start of a fragment's name; nothing for a name of any other form
// (those of earlier versions included, which tell neither).
std::optional<std::pair<std::string, std::int64_t>> uploadFragmentParts(std::string_view name) {
    if (!name.starts_with(uploadFragmentPrefix) || !name.ends_with(uploadFragmentSuffix)) {
        return std::nullopt;
    }
    const std::string_view inner = name.substr(
        uploadFragmentPrefix.size(), name.size() - uploadFragmentPrefix.size() - uploadFragmentSuffix.size());
    const std::size_t startDot = inner.rfind('.');
    if (startDot == std::string_view::npos || startDot == 0) {
        return std::nullopt;
    }
    const std::size_t keyDot = inner.rfind('.', startDot - 1);
    const std::optional<std::int64_t> start = parseDecimal<std::int64_t>(inner.substr(startDot + 1));
    if (keyDot == std::string_view::npos || !start) {
        return std::nullopt;
    }
    return std::pair{std::string(inner.substr(keyDot + 1, startDot - keyDot - 1)), *start};
}

// By login and folder.
SledLeftoverReadings<std::string> remoteReadings(abandonedUploadRereadAfter);

// The folder's abandoned upload fragments, from one glob listing inside it (sftp's glob matches
// the hidden names because the pattern spells their leading dot). The rows are read as a folder
// listing is, so a name with line breaks cannot pass a forged line for a fragment that exists.
SledLeftoverReadings<std::string>::Found readRemoteFolder(const SFTPStorageProvider& provider,
                                                          const std::string& folder, std::stop_token stop) {
    SledLeftoverReadings<std::string>::Found abandoned;
    const std::string enter = folder.empty() ? std::string() : batchLine("cd", {folder});
    // Unquoted, as quotes would make "*" literal; no match is no failure.
    const std::string list =
        "-ls -ln " + std::string(uploadFragmentPrefix) + "*" + std::string(uploadFragmentSuffix) + "\n";
    const std::string output = runBatch(provider, enter + list + "cd\n", stop);
    const std::optional<std::string_view> rows =
        rowsBetweenEchoes(output, {enter, list});
    if (!rows) {
        return abandoned;
    }
    const VornDate now = vornDateNow();
    const std::int64_t nowSeconds = unixSecondsNow();
    const std::int64_t ageSeconds = std::chrono::seconds(abandonedUploadAge).count();
    const std::vector<SledFileEntry> entries = SFTPStorageProvider::readBareListing(*rows, folder, std::nullopt, now);
    for (const SledFileEntry& entry : entries) {
        const auto parts = uploadFragmentParts(entry.name);
        const bool regularFile = entry.permissions && entry.permissions->starts_with('-');
        if (regularFile && parts && nowSeconds - parts->second > ageSeconds && entry.modifiedAt &&
            now - *entry.modifiedAt > abandonedUploadAge) {
            abandoned.emplace(parts->first, entry.name);
        }
    }
    return abandoned;
}

// Before an upload to `to`, removes the abandoned fragments (see abandonedUploadAge) of earlier
// uploads to that same destination; those of other destinations and younger ones stay. Failures
// are ignored: a leftover costs space on the server, not this upload.
void removeAbandonedUploadFragments(const SFTPStorageProvider& provider, const std::string& to, std::stop_token stop) {
    const std::string folder = remoteParentPrefix(to);
    const std::string where = provider.profile.username + "@" + provider.profile.host + ":" +
                              std::to_string(provider.profile.port) + "\n" + folder;
    try {
        // A folder that cannot be read counts as read, so it is not tried again before its time.
        const std::vector<std::string> abandoned =
            remoteReadings.take(where, sledDestinationKey(lastPathComponent(to)), [&] {
                try {
                    return readRemoteFolder(provider, folder, stop);
                } catch (const VornTaskCancelled&) {
                    throw;
                } catch (const std::exception&) {
                    return SledLeftoverReadings<std::string>::Found();
                }
            });
        std::string script;
        for (const std::string& name : abandoned) {
            script += "-" + batchLine("rm", {folder + name});
        }
        if (!script.empty()) {
            runBatch(provider, script, stop);
        }
    } catch (const VornTaskCancelled&) {
        throw;
    } catch (const std::exception&) {
    }
}

}  // namespace

SledDownloadResult SFTPStorageProvider::downloadFile(const std::string& remotePath, const fs::path& to,
                                                     const SledProgressCallback& onProgress,
                                                     std::stop_token stop) const {
    // The file arrives beside its destination and replaces it only when whole, so a failed or
    // cancelled download neither leaves a fragment nor destroys the file that was there. A path
    // sftp cannot carry is refused before anything is made for it.
    // The file is made and locked here and sftp writes into it, so that anyone sharing the folder
    // sees it in use for as long as this process (and with it the sftp it started) lives.
    (void)batchLine("get -p", {remotePath, fs::absolute(sledHiddenSibling(to, "download")).string()});
    const fs::path parent = to.parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent);
    }
    sledRemoveStaleSiblings(to);
    const SledHeldFile held = sledCreateHeldFile(sledHiddenSibling(to, "download"), 0600);
    const fs::path& partial = held.path;
    VornTemporaryFile partialGuard(partial);
    const std::string getLine = batchLine("get -p", {remotePath, fs::absolute(partial).string()});

    // The server hashes a large file while it is being sent, so the digest adds no time of its
    // own; a small one, once it is here, with others asked for meanwhile (which costs less than
    // starting a tool for each). The size is not known here: a file is large once more than
    // largestSharedDigestBytes of it arrived.
    const auto arrived = [&partial]() -> std::optional<std::int64_t> {
        struct stat info {};
        return ::stat(partial.c_str(), &info) == 0 ? std::optional<std::int64_t>(info.st_size) : std::nullopt;
    };
    std::stop_source hashing;
    const std::stop_callback forwardStop(stop, [&hashing] { hashing.request_stop(); });
    std::mutex getLock;
    std::condition_variable_any getEnded;
    bool got = false;
    std::optional<std::string> digest;
    std::jthread hasher([&, token = hashing.get_token()] {
        try {
            bool small = false;
            {
                std::unique_lock guard(getLock);
                while (!token.stop_requested() && arrived().value_or(0) <= largestSharedDigestBytes) {
                    if (getEnded.wait_for(guard, token, std::chrono::milliseconds(5), [&] { return got; })) {
                        small = arrived().value_or(0) <= largestSharedDigestBytes;
                        break;
                    }
                }
            }
            if (!token.stop_requested()) {
                digest = small ? computeRemoteSHA256Shared(remotePath, token) : computeRemoteSHA256(remotePath, token);
            }
        } catch (const std::exception&) {
            digest.reset();  // no digest from the server: the download stands unchecked by it
        }
    });
    try {
        // The size of the arriving file is the progress; the total is not known here.
        runBatch(*this, getLine, stop, nullptr, progressReporter(onProgress, 0, [&arrived](pid_t) { return arrived(); }));
    } catch (...) {
        hashing.request_stop();
        throw;
    }
    {
        const std::lock_guard guard(getLock);
        got = true;
    }
    getEnded.notify_all();
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

SledUploadResult SFTPStorageProvider::uploadFile(const fs::path& localURL, const std::string& to,
                                     const std::optional<std::string>& sha256Hex,
                                     const SledProgressCallback& onProgress, std::stop_token stop) const {
    return uploadFileInside(localURL, to, std::string(), sha256Hex, onProgress, std::move(stop));
}

void SFTPStorageProvider::checkFolderChain(const std::vector<std::string>& folders, std::stop_token stop) const {
    const auto refuse = [&] {
        throw SledError::remoteCommandFailed(
            vornText("A folder on the way to '" + folders.back() +
                         "' is a symbolic link or no folder any more; nothing is written through it.",
                     "'" + folders.back() +
                         "' yolundaki bir klasör sembolik bağlantı ya da artık klasör değil; onun üzerinden hiçbir "
                         "şey yazılmaz."));
    };
    const std::optional<fs::path> ssh = VornBinaryLocator::locate("ssh");
    std::optional<SFTPSharedSessions::Reply> reply;
    if (ssh) {
        reply = SFTPSharedSessions::run(*this, SFTPSharedSessions::SessionKind::shell, *ssh,
                                        folderChainCheckCommand(folders) + "\n", stop);
    }
    if (reply && !reply->ended && reply->output.find("checked") != std::string::npos) {
        if (reply->output.find("link") != std::string::npos) {
            refuse();
        }
        return;
    }
    // A login without a shell: each folder as its parent's listing shows it (sftp lists a link
    // with its own type, never its target's).
    for (const std::string& folder : folders) {
        const std::string name = lastPathComponent(folder);
        const std::string parent = remoteParentPrefix(folder);
        const std::vector<SledFileEntry> entries = listDirectory(parent.empty() ? "." : parent, stop);
        const auto found = std::find_if(entries.begin(), entries.end(),
                                        [&](const SledFileEntry& entry) { return entry.name == name; });
        if (found == entries.end() || !found->isDirectory || found->isSymbolicLink) {
            refuse();
        }
    }
}

std::string SFTPStorageProvider::folderChainCheckCommand(const std::vector<std::string>& folders) {
    std::string command = "(";
    for (const std::string& folder : folders) {
        const std::string quoted = escapePOSIXSingleQuoted(notAnOption(folder));
        command += "if [ -h " + quoted + " ] || [ ! -d " + quoted + " ]; then echo link; fi; ";
    }
    return command + "echo checked) </dev/null";
}

namespace {

// Every folder from `insideFolder` down to the parent of `to`, the chosen one excluded: the
// folders a rename into `to` passes through below the user's choice.
std::vector<std::string> foldersBelow(const std::string& insideFolder, const std::string& to) {
    const std::optional<std::string> relative = sledPathBelow(insideFolder, to);
    if (!relative) {
        throw SledError::remoteCommandFailed(sledOutsideChosenFolderText(to, insideFolder));
    }
    std::vector<std::string> folders;
    std::string walked = insideFolder;
    while (walked.size() > 1 && walked.back() == '/') {
        walked.pop_back();
    }
    std::vector<std::string> parts = sledPathComponents(*relative);
    parts.pop_back();  // the file's own name
    for (const std::string& part : parts) {
        walked += (walked == "/" ? "" : "/") + part;
        folders.push_back(walked);
    }
    return folders;
}

}  // namespace

SledUploadResult SFTPStorageProvider::uploadFileInside(const fs::path& localURL, const std::string& to,
                                                       const std::string& insideFolder,
                                                       const std::optional<std::string>& sha256Hex,
                                                       const SledProgressCallback& onProgress,
                                                       std::stop_token stop) const {
    return uploadFileInsideHashing(localURL, to, insideFolder, [&] { return sha256Hex; }, onProgress, {},
                                   std::move(stop));
}

SledUploadResult SFTPStorageProvider::uploadFileInsideHashing(
    const fs::path& localURL, const std::string& to, const std::string& insideFolder,
    const std::function<std::optional<std::string>()>& sha256HexWhenUp, const SledProgressCallback& onProgress,
    const SledReplaceConditions& conditions, std::stop_token stop) const {
    const std::vector<std::string> chain =
        insideFolder.empty() ? std::vector<std::string>() : foldersBelow(insideFolder, to);
    // The file goes up under a temporary sibling name, is checked there, and only then renamed
    // over the destination (the server's atomic rename replaces an existing file): an interrupted
    // or mismatched upload never touches the file that was there. Every line is made before
    // anything runs, so a path sftp cannot carry is refused as such, not as what a half-done
    // upload would meet.
    const std::string partial = uploadFragmentPath(to);
    // Absolute: the session's sftp was started in whatever folder this process was in then.
    const std::string script = batchLine("put -p", {fs::absolute(localURL).string(), partial});
    const std::string renameLine = batchLine("rename", {partial, to});
    const std::string removeLine = "-" + batchLine("rm", {partial});
    // Before the partial file is written beside the destination, and again before the rename.
    if (!chain.empty()) {
        checkFolderChain(chain, stop);
    }
    removeAbandonedUploadFragments(*this, to, stop);
    const auto removePartial = [&] {
        try {
            runBatch(*this, removeLine, std::stop_token());
        } catch (...) {
            // The fragment stays behind under its hidden name; the upload's own error matters.
        }
    };
    std::string answered;
    struct stat local {};
    try {
        // sftp reads the file as it sends it: how far it has read is the progress.
        SFTPSharedSessions::WhileWaiting progress;
        if (::stat(localURL.c_str(), &local) == 0) {
            progress = progressReporter(onProgress, local.st_size,
                                        [&local](pid_t sftp) { return readingOffset(sftp, local); });
        }
        runBatch(*this, script, stop, &answered, progress);
    } catch (...) {
        // sftp echoes each batch line as it starts it: once the put runs, a fragment may exist.
        if (answered.find("sftp> put") != std::string::npos) {
            removePartial();
        }
        throw;
    }

    std::optional<std::string> sha256Hex;
    try {
        // A source that changed while sftp read it says so, rather than as a digest that differs.
        if (conditions.beforeReplacing) {
            conditions.beforeReplacing();
        }
        sha256Hex = sha256HexWhenUp();
    } catch (...) {
        removePartial();
        throw;
    }
    std::optional<std::string> remote;
    if (sha256Hex && !sha256Hex->empty()) {
        try {
            remote = local.st_size <= largestSharedDigestBytes ? computeRemoteSHA256Shared(partial, stop)
                                                               : computeRemoteSHA256(partial, stop);
        } catch (const VornTaskCancelled&) {
            removePartial();
            throw;
        } catch (const std::exception&) {
            remote.reset();  // no digest from the server: the upload stands unchecked
        }
        if (remote && !VornASCII::equalIgnoringCase(*remote, *sha256Hex)) {
            removePartial();
            // Named as the user knows the file: the local file may be a temporary copy of it.
            throw SledError::checksumMismatch(lastPathComponent(to), *sha256Hex, *remote);
        }
    }
    try {
        if (!chain.empty()) {
            checkFolderChain(chain, stop);
        }
        // The last moment the file there can still be kept: nothing replaces it unless the copy is
        // still of the file that was read and the destination is still what the caller saw.
        if (conditions.beforeReplacing) {
            conditions.beforeReplacing();
        }
        if (conditions.listed) {
            checkStillAsListed(to, *conditions.listed, stop);
        }
        runBatch(*this, renameLine, stop);
    } catch (...) {
        removePartial();
        throw;
    }

    const std::int64_t size = fileSizeOrZero(localURL);
    if (onProgress) {
        onProgress(size, size);
    }
    return {remote};
}

std::optional<std::string> SFTPStorageProvider::pathOutOfReach(const std::string& path, bool writing) const {
    try {
        // The longest line an operation on the path needs besides any local path: an upload's
        // rename from the fragment it went up as, a download's get.
        (void)(writing ? batchLine("rename", {uploadFragmentPath(path), path}) : batchLine("get -p", {path}));
    } catch (const SledError& error) {
        return error.description();
    }
    return std::nullopt;
}

void SFTPStorageProvider::createDirectory(const std::string& at, std::stop_token stop) const {
    runSFTPBatch(batchLine("mkdir", {at}), stop);
}

void SFTPStorageProvider::deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const {
    runSFTPBatch(batchLine(isDirectory ? "rmdir" : "rm", {at}), stop);
}

void SFTPStorageProvider::deleteItemAsListed(const std::string& at, bool isDirectory, const SledListedDestination& listed,
                                             std::stop_token stop) const {
    const std::string line = batchLine(isDirectory ? "rmdir" : "rm", {at});
    if (!isDirectory) {
        checkStillAsListed(at, listed, stop);
    }
    runSFTPBatch(line, stop);
}

std::string SFTPStorageProvider::remoteItemCommand(std::string_view path) {
    // A relative path that starts like an expression of find's ("!", "(") is given as "./" + path.
    const std::string item = path.starts_with('/') ? std::string(path) : "./" + std::string(path);
    const std::string quoted = escapePOSIXSingleQuoted(item);
    return "(if [ -h " + quoted + " ] || [ -e " + quoted + " ]; then LC_ALL=C find " + quoted +
           " -maxdepth 0 -printf 'item\\0%y\\0%s\\0%T@\\0' 2>/dev/null || printf 'unknown\\0'; "
           "else printf 'absent\\0'; fi) </dev/null";
}

void SFTPStorageProvider::checkStillAsListed(const std::string& path, const SledListedDestination& listed,
                                             std::stop_token stop) const {
    const auto sameFile = [&listed](bool regular, std::int64_t size, const std::optional<VornDate>& time) {
        return regular && size == listed.sizeBytes && (!listed.modifiedAt || time == listed.modifiedAt);
    };
    // Times from the shell are what a listing gives where the shell gave it times.
    const bool listedFromShell = listed.modifiedAtPrecision == SledTimePrecision::precise ||
                                 listed.modifiedAtPrecision == SledTimePrecision::second;
    const std::optional<fs::path> ssh = VornBinaryLocator::locate("ssh");
    if (ssh && (listedFromShell || !listed.exists)) {
        const SFTPSharedSessions::Reply reply = SFTPSharedSessions::run(
            *this, SFTPSharedSessions::SessionKind::shell, *ssh, remoteItemCommand(path) + "\n", stop);
        std::vector<std::string_view> fields;
        for (std::string_view rest = reply.output; !reply.ended;) {
            const std::size_t end = rest.find('\0');
            if (end == std::string_view::npos) {
                break;
            }
            fields.push_back(rest.substr(0, end));
            rest.remove_prefix(end + 1);
        }
        if (!fields.empty() && fields[0] == "absent") {
            if (listed.exists) {
                throw SledChangedSinceListed();
            }
            return;
        }
        if (fields.size() == 4 && fields[0] == "item") {
            const std::optional<ShellTime> time = readShellTime(fields[3]);
            if (!listed.exists ||
                !sameFile(fields[1] == "f", parseDecimal<std::int64_t>(fields[2]).value_or(-1),
                          time ? std::optional<VornDate>(time->at) : std::nullopt)) {
                throw SledChangedSinceListed();
            }
            return;
        }
        // No shell, or no GNU find: the folder's listing tells.
    }
    const std::string name = lastPathComponent(path);
    const std::string parent = remoteParentPrefix(path);
    std::vector<SledFileEntry> entries;
    try {
        entries = listDirectory(parent.empty() ? "." : parent, stop);
    } catch (const SledError&) {
        if (listed.exists) {
            throw;
        }
        return;  // a folder not made yet holds nothing
    }
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const SledFileEntry& entry) { return entry.name == name; });
    if (found == entries.end() ? listed.exists
                               : !listed.exists || !sameFile(!found->isDirectory && !found->isSymbolicLink,
                                                             found->sizeBytes, found->modifiedAt)) {
        throw SledChangedSinceListed();
    }
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
            throw SledError::remoteCommandFailed(LocalFileProvider::alreadyExistsMessage(lastPathComponent(to)));
        }
        throw;
    }
}

void SFTPStorageProvider::testConnection(std::stop_token stop) const { runSFTPBatch("pwd\n", stop); }
