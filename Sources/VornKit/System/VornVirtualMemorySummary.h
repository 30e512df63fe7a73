#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One snapshot of the machine's memory as the suite shows it: physical memory, compressed memory
// (zswap and zram), swap, memory pressure, and the virtual expansion the memory-offload app adds
// (disk pools, sparse disk images, RAM disks, frozen applications).
struct VornVirtualMemorySummary {
    std::int64_t physicalTotalBytes = 0;
    std::int64_t physicalUsedBytes = 0;
    std::int64_t compressedBytes = 0;
    std::int64_t swapTotalBytes = 0;
    std::int64_t swapUsedBytes = 0;
    std::int64_t swapFileCount = 0;
    bool swapEncrypted = false;
    std::string pressureLevel = "normal";
    bool isQuarnRunning = false;
    std::int64_t activeDiskPoolCount = 0;
    std::int64_t diskPoolVirtualBytes = 0;
    std::int64_t diskPoolActualDiskBytes = 0;
    std::vector<std::string> diskPoolNames;
    std::int64_t mountedSparseDiskCount = 0;
    std::int64_t sparseDiskVirtualBytes = 0;
    std::int64_t sparseDiskActualBytes = 0;
    std::vector<std::string> sparseDiskNames;
    std::int64_t mountedRAMDiskCount = 0;
    std::int64_t ramDiskTotalBytes = 0;
    std::vector<std::string> ramDiskNames;
    std::int64_t frozenAppCount = 0;
    std::vector<std::int32_t> frozenPIDs;
    std::int64_t reclaimedFromFrozenBytes = 0;

    bool operator==(const VornVirtualMemorySummary&) const = default;

    bool isSwapActive() const;
    bool isQuarnVirtualExpansionActive() const;
    bool isAnyVirtualMemoryActive() const;
    double physicalUsedPercent() const;
    double swapUsedPercent() const;
    double virtualUsedPercent() const;
    // Byte sums saturate at the ends of the 64-bit range instead of wrapping.
    std::int64_t totalQuarnVirtualCapacityBytes() const;
    std::int64_t totalVirtualAllocatedBytes() const;
    std::int64_t totalVirtualUsedBytes() const;
    std::int64_t totalEffectiveMemoryCapacityBytes() const;
    std::int64_t totalEffectiveUsedBytes() const;
    // "<used> / <allocated>", or "0 B" with nothing allocated.
    std::string virtualSpaceUsageText() const;
    // "500M", "12.3G", "150G"; the allocated size when nothing is used; "0G" with nothing at all.
    std::string compactVirtualUsedToken() const;
    // "Pool 50.00 GB + Swap 1.50 GB"; empty when there is nothing to show.
    std::string compactBadgeText() const;
};

// What the kernel says, read from /proc and /sys (roots replaceable for tests).
struct VornKernelMemory {
    std::int64_t physicalTotal = 0;
    std::int64_t physicalUsed = 0;
    std::int64_t compressed = 0;
    std::int64_t swapTotal = 0;
    std::int64_t swapUsed = 0;
    bool swapEncrypted = false;
    std::string pressureLevel = "normal";

    // MemTotal − MemAvailable as used; zswap's pool plus every zram device's memory as compressed.
    static VornKernelMemory read(const std::filesystem::path& procRoot = "/proc",
                                 const std::filesystem::path& sysRoot = "/sys");

    // "/proc/meminfo" text: total, used, zswap pool, swap total and used, in bytes; zeros for
    // anything missing.
    struct Meminfo {
        std::int64_t total = 0, used = 0, zswap = 0, swapTotal = 0, swapUsed = 0;
    };
    static Meminfo parseMeminfo(std::string_view text);
    // "/proc/pressure/memory" text: "critical" when the share of time all tasks stalled over the
    // last 10 s reaches 10 % or some task stalled 40 %, "warning" from 2 % and 10 %, else "normal"
    // (also for text that cannot be read).
    static std::string pressureLevelFrom(std::string_view text);
    // Whether every active swap area of "/proc/swaps" lies on dm-crypt. No area, an area whose
    // device cannot be told, or unreadable text count as not encrypted.
    static bool swapAreasEncrypted(std::string_view swapsText, const std::filesystem::path& sysRoot);
};

// The memory-offload app's sparse disk images that are mounted now.
struct VornSparseDiskScan {
    std::int64_t count = 0;
    std::int64_t capacityBytes = 0;
    std::int64_t usedBytes = 0;
    std::vector<std::string> names;

    // Looks for "*.sparsebundle" (any letter case) in <maker folder>/Quarn/Pools, then in the
    // "customPoolDirectory" of <maker folder>/Quarn/config.json; a name met twice counts once. A
    // bundle counts when a volume of its name is a mount point in /run/media/<user> or
    // /media/<user> according to `mountinfo` (the text of /proc/self/mountinfo).
    static VornSparseDiskScan scan();
    static VornSparseDiskScan scan(const std::vector<std::filesystem::path>& poolFolders, std::string_view mountinfo,
                                   std::string_view user);
    // The pool folders in scan order.
    static std::vector<std::filesystem::path> poolFolders();
};
