#include "VornVirtualMemorySummary.h"

#include "VornByteFormatter.h"
#include "VornJSON.h"
#include "VornSuiteCoding.h"
#include "VornXDG.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <sstream>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::int64_t add(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

double percent(std::int64_t part, std::int64_t whole) {
    if (whole <= 0) {
        return 0;
    }
    return std::clamp(static_cast<double>(part) / static_cast<double>(whole) * 100.0, 0.0, 100.0);
}

std::string formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string readSmall(const fs::path& path) { return detail::suiteReadFile(path).value_or(std::string()); }

std::int64_t parseInt64(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    return error == std::errc() ? value : 0;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> result;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        const std::size_t start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') {
            ++at;
        }
        if (at > start) {
            result.push_back(line.substr(start, at - start));
        }
    }
    return result;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

// /proc/swaps and mountinfo write blanks, tabs, newlines and backslashes in paths as \ooo.
std::string unescapeOctal(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string_view digits = text.substr(i + 1, 3);
            if (digits.size() == 3 && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                result += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

bool deviceIsCrypt(dev_t device, const fs::path& sysRoot) {
    const fs::path uuidFile = sysRoot / "dev" / "block" /
                              (std::to_string(major(device)) + ":" + std::to_string(minor(device))) / "dm" / "uuid";
    return readSmall(uuidFile).rfind("CRYPT-", 0) == 0;
}

std::string currentUser() {
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0') {
        return user;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name != nullptr) {
        return entry->pw_name;
    }
    return {};
}

std::string asciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

// ---- derived values

bool VornVirtualMemorySummary::isSwapActive() const { return swapUsedBytes > 0 || swapTotalBytes > 0; }

bool VornVirtualMemorySummary::isQuarnVirtualExpansionActive() const {
    return activeDiskPoolCount > 0 || mountedSparseDiskCount > 0 || mountedRAMDiskCount > 0;
}

bool VornVirtualMemorySummary::isAnyVirtualMemoryActive() const {
    return isQuarnVirtualExpansionActive() || swapUsedBytes > 0;
}

double VornVirtualMemorySummary::physicalUsedPercent() const { return percent(physicalUsedBytes, physicalTotalBytes); }

double VornVirtualMemorySummary::swapUsedPercent() const { return percent(swapUsedBytes, swapTotalBytes); }

double VornVirtualMemorySummary::virtualUsedPercent() const {
    return percent(totalVirtualUsedBytes(), totalVirtualAllocatedBytes());
}

std::int64_t VornVirtualMemorySummary::totalQuarnVirtualCapacityBytes() const {
    return add(add(diskPoolVirtualBytes, sparseDiskVirtualBytes), ramDiskTotalBytes);
}

std::int64_t VornVirtualMemorySummary::totalVirtualAllocatedBytes() const {
    return add(std::max(swapTotalBytes, swapUsedBytes), totalQuarnVirtualCapacityBytes());
}

std::int64_t VornVirtualMemorySummary::totalVirtualUsedBytes() const {
    // A RAM disk occupies its whole size.
    return add(add(add(swapUsedBytes, diskPoolActualDiskBytes), sparseDiskActualBytes), ramDiskTotalBytes);
}

std::int64_t VornVirtualMemorySummary::totalEffectiveMemoryCapacityBytes() const {
    return add(totalVirtualAllocatedBytes(), physicalTotalBytes);
}

std::int64_t VornVirtualMemorySummary::totalEffectiveUsedBytes() const {
    return add(totalVirtualUsedBytes(), physicalUsedBytes);
}

std::string VornVirtualMemorySummary::virtualSpaceUsageText() const {
    const std::int64_t allocated = totalVirtualAllocatedBytes();
    if (allocated < 1) {
        return "0 B";
    }
    return VornByteFormatter::format(totalVirtualUsedBytes()) + " / " + VornByteFormatter::format(allocated);
}

std::string VornVirtualMemorySummary::compactVirtualUsedToken() const {
    const std::int64_t used = totalVirtualUsedBytes();
    if (used > 0) {
        const double g = static_cast<double>(used) / 1e9;
        if (g >= 100) {
            return formatted("%.0fG", g);
        }
        if (g >= 1) {
            return formatted("%.1fG", g);
        }
        return formatted("%.0fM", static_cast<double>(used) / 1e6);
    }
    const std::int64_t allocated = totalVirtualAllocatedBytes();
    if (allocated < 1) {
        return "0G";
    }
    const double g = static_cast<double>(allocated) / 1e9;
    return formatted(g < 10 ? "%.1fG" : "%.0fG", g);
}

std::string VornVirtualMemorySummary::compactBadgeText() const {
    std::vector<std::string> parts;
    if (activeDiskPoolCount >= 1) {
        parts.push_back("Pool " + VornByteFormatter::format(diskPoolVirtualBytes));
    }
    if (mountedSparseDiskCount > 0) {
        parts.push_back("vDisk " + VornByteFormatter::format(sparseDiskVirtualBytes));
    }
    if (mountedRAMDiskCount > 0) {
        parts.push_back("RAMDisk " + VornByteFormatter::format(ramDiskTotalBytes));
    }
    if (swapUsedBytes >= 1) {
        parts.push_back("Swap " + VornByteFormatter::format(swapUsedBytes));
    } else if (parts.empty() && swapTotalBytes >= 1) {
        parts.push_back("Swap 0 B / " + VornByteFormatter::format(swapTotalBytes));
    }
    std::string text;
    for (const std::string& part : parts) {
        text += text.empty() ? part : " + " + part;
    }
    return text;
}

// ---- kernel figures

VornKernelMemory::Meminfo VornKernelMemory::parseMeminfo(std::string_view text) {
    std::int64_t total = 0, available = 0, zswap = 0, swapTotal = 0, swapFree = 0;
    bool haveAvailable = false;
    for (std::string_view line : lines(text)) {
        const std::vector<std::string_view> parts = words(line);
        if (parts.size() < 2) {
            continue;
        }
        // Values are in KiB whatever the unit column says.
        const std::int64_t kib = parseInt64(parts[1]);
        const std::int64_t bytes = kib > std::numeric_limits<std::int64_t>::max() / 1024 ? 0 : kib * 1024;
        if (parts[0] == "MemTotal:") {
            total = bytes;
        } else if (parts[0] == "MemAvailable:") {
            available = bytes;
            haveAvailable = true;
        } else if (parts[0] == "Zswap:") {
            zswap = bytes;
        } else if (parts[0] == "SwapTotal:") {
            swapTotal = bytes;
        } else if (parts[0] == "SwapFree:") {
            swapFree = bytes;
        }
    }
    Meminfo info;
    info.total = total;
    info.used = haveAvailable ? std::clamp<std::int64_t>(total - available, 0, total) : 0;
    info.zswap = zswap;
    info.swapTotal = swapTotal;
    info.swapUsed = std::clamp<std::int64_t>(swapTotal - swapFree, 0, swapTotal);
    return info;
}

std::string VornKernelMemory::pressureLevelFrom(std::string_view text) {
    // Shares of wall time over the last ten seconds, in percent. Stalls of every task at once
    // weigh far more than stalls of some.
    constexpr double criticalFull = 10, criticalSome = 40, warningFull = 2, warningSome = 10;
    double some = 0, full = 0;
    for (std::string_view line : lines(text)) {
        const std::vector<std::string_view> parts = words(line);
        if (parts.size() < 2 || parts[1].rfind("avg10=", 0) != 0) {
            continue;
        }
        const std::string number(parts[1].substr(6));
        char* end = nullptr;
        const double value = std::strtod(number.c_str(), &end);
        if (end == number.c_str() || !(value >= 0)) {
            continue;
        }
        if (parts[0] == "some") {
            some = value;
        } else if (parts[0] == "full") {
            full = value;
        }
    }
    if (full >= criticalFull || some >= criticalSome) {
        return "critical";
    }
    if (full >= warningFull || some >= warningSome) {
        return "warning";
    }
    return "normal";
}

bool VornKernelMemory::swapAreasEncrypted(std::string_view swapsText, const fs::path& sysRoot) {
    std::vector<std::string_view> all = lines(swapsText);
    if (all.size() < 2) {
        return false;  // no header or no active area: nothing is known to be encrypted
    }
    bool any = false;
    for (std::size_t i = 1; i < all.size(); ++i) {
        const std::vector<std::string_view> parts = words(all[i]);
        if (parts.size() < 2) {
            continue;
        }
        const std::string path = unescapeOctal(parts[0]);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            return false;
        }
        dev_t device = 0;
        if (parts[1] == "partition" && S_ISBLK(info.st_mode)) {
            device = info.st_rdev;
        } else if (parts[1] == "file" && S_ISREG(info.st_mode)) {
            device = info.st_dev;  // the file system's device holds the file's blocks
        } else {
            return false;
        }
        if (!deviceIsCrypt(device, sysRoot)) {
            return false;
        }
        any = true;
    }
    return any;
}

VornKernelMemory VornKernelMemory::read(const fs::path& procRoot, const fs::path& sysRoot) {
    VornKernelMemory memory;
    const Meminfo info = parseMeminfo(readSmall(procRoot / "meminfo"));
    memory.physicalTotal = info.total;
    memory.physicalUsed = info.used;
    memory.swapTotal = info.swapTotal;
    memory.swapUsed = info.swapUsed;
    std::int64_t compressed = info.zswap;
    std::error_code error;
    for (fs::directory_iterator it(sysRoot / "block", error), end; !error && it != end; it.increment(error)) {
        if (it->path().filename().string().rfind("zram", 0) != 0) {
            continue;
        }
        // mm_stat: orig_data_size compr_data_size mem_used_total ...
        const std::string stat = readSmall(it->path() / "mm_stat");
        const std::vector<std::string_view> fields = words(std::string_view(stat).substr(0, stat.find('\n')));
        if (fields.size() >= 3) {
            compressed = add(compressed, std::max<std::int64_t>(parseInt64(fields[2]), 0));
        }
    }
    memory.compressed = compressed;
    memory.swapEncrypted = swapAreasEncrypted(readSmall(procRoot / "swaps"), sysRoot);
    memory.pressureLevel = pressureLevelFrom(readSmall(procRoot / "pressure" / "memory"));
    return memory;
}

// ---- sparse disk images

std::vector<fs::path> VornSparseDiskScan::poolFolders() {
    const fs::path quarn = VornXDG::makerFolder() / "Quarn";
    std::vector<fs::path> folders{quarn / "Pools"};
    const std::optional<std::string> config = detail::suiteReadFile(quarn / "config.json");
    if (!config) {
        return folders;
    }
    try {
        const nlohmann::json document = vornJSONParse(*config, detail::suiteFileLimit);
        if (document.is_object() && document.contains("customPoolDirectory") &&
            document["customPoolDirectory"].is_string()) {
            std::string text = document["customPoolDirectory"].get<std::string>();
            const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
            while (!text.empty() && blank(text.back())) {
                text.pop_back();
            }
            const auto first = std::find_if_not(text.begin(), text.end(), blank);
            text.erase(text.begin(), first);
            if (!text.empty()) {
                folders.emplace_back(text);
            }
        }
    } catch (const VornDecodingError&) {
    }
    return folders;
}

VornSparseDiskScan VornSparseDiskScan::scan() {
    return scan(poolFolders(), detail::suiteReadFile("/proc/self/mountinfo", 16 * 1024 * 1024).value_or(""), currentUser());
}

VornSparseDiskScan VornSparseDiskScan::scan(const std::vector<fs::path>& poolFolders, std::string_view mountinfo,
                                            std::string_view user) {
    std::set<std::string> mountPoints;
    for (std::string_view line : lines(mountinfo)) {
        const std::vector<std::string_view> parts = words(line);
        if (parts.size() >= 5) {
            mountPoints.insert(unescapeOctal(parts[4]));
        }
    }
    VornSparseDiskScan result;
    std::set<std::string> seen;
    for (const fs::path& folder : poolFolders) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            const fs::path entry = it->path();
            const std::string file = entry.filename().string();
            if (file.empty() || file.front() == '.' || asciiLower(entry.extension().string()) != ".sparsebundle") {
                continue;
            }
            const std::string name = entry.stem().string();
            if (!seen.insert(name).second || user.empty()) {
                continue;
            }
            for (const std::string_view base : {std::string_view("/run/media/"), std::string_view("/media/")}) {
                const std::string volume = std::string(base) + std::string(user) + "/" + name;
                if (mountPoints.count(volume) == 0) {
                    continue;
                }
                struct statvfs info {};
                if (::statvfs(volume.c_str(), &info) != 0) {
                    break;
                }
                const auto total = static_cast<std::int64_t>(info.f_blocks * info.f_frsize);
                const auto available = static_cast<std::int64_t>(info.f_bavail * info.f_frsize);
                if (total < 1) {
                    break;
                }
                result.count += 1;
                result.capacityBytes = add(result.capacityBytes, total);
                result.usedBytes = add(result.usedBytes, std::max<std::int64_t>(0, total - available));
                result.names.push_back(name);
                break;
            }
        }
    }
    return result;
}
