#include "VornSuiteHelpers.h"
#include "VornSuiteTelemetryBus.h"
#include "VornTestSupport.h"
#include "VornVirtualMemorySummary.h"

#include <chrono>
#include <fstream>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t GB = 1000 * 1000 * 1000;

VornKernelMemory kernel() {
    VornKernelMemory k;
    k.physicalTotal = 16 * GB;
    k.physicalUsed = 6 * GB;
    k.compressed = 1 * GB;
    k.swapTotal = 4 * GB;
    k.swapUsed = 1 * GB;
    k.swapEncrypted = false;
    k.pressureLevel = "warning";
    return k;
}

VornSparseDiskScan noDisks() { return {}; }

}  // namespace

TEST(VornVirtualMemorySummary, KernelTextsAreParsed) {
    const auto meminfo = VornKernelMemory::parseMeminfo(
        "MemTotal:       16000000 kB\nMemFree:          100000 kB\nMemAvailable:    10000000 kB\n"
        "SwapTotal:       2000000 kB\nSwapFree:        1500000 kB\nZswap:             40000 kB\n");
    EXPECT_EQ(meminfo.total, 16000000LL * 1024);
    EXPECT_EQ(meminfo.used, 6000000LL * 1024);
    EXPECT_EQ(meminfo.swapTotal, 2000000LL * 1024);
    EXPECT_EQ(meminfo.swapUsed, 500000LL * 1024);
    EXPECT_EQ(meminfo.zswap, 40000LL * 1024);
    const auto odd = VornKernelMemory::parseMeminfo("MemTotal: 100 kB\nMemAvailable: 900 kB\nSwapFree: 5 kB\n");
    EXPECT_EQ(odd.used, 0);
    EXPECT_EQ(odd.swapUsed, 0);
    EXPECT_EQ(VornKernelMemory::parseMeminfo("").total, 0);

    struct Case {
        const char* text;
        const char* level;
    };
    for (const Case& c : std::vector<Case>{
             {"some avg10=0.55 avg60=0.81 avg300=0.56 total=7837021\nfull avg10=0.38 avg60=0.53 avg300=0.31 total=1\n", "normal"},
             {"some avg10=12.00 avg60=0 avg300=0 total=1\nfull avg10=0.50 avg60=0 avg300=0 total=1\n", "warning"},
             {"some avg10=3.00 avg60=0 avg300=0 total=1\nfull avg10=2.00 avg60=0 avg300=0 total=1\n", "warning"},
             {"some avg10=40.00 avg60=0 avg300=0 total=1\nfull avg10=1.00 avg60=0 avg300=0 total=1\n", "critical"},
             {"some avg10=15.00 avg60=0 avg300=0 total=1\nfull avg10=10.00 avg60=0 avg300=0 total=1\n", "critical"},
             {"", "normal"},
             {"some avg10=nonsense\n", "normal"},
         }) {
        EXPECT_EQ(VornKernelMemory::pressureLevelFrom(c.text), c.level) << c.text;
    }
}

TEST(VornVirtualMemorySummary, SwapIsEncryptedOnlyWhenEveryAreaIsOnDmCrypt) {
    VornTestTempDir dir;
    const fs::path one = dir.write("swap-one", "x");
    const fs::path two = dir.write("swap-two", "x");
    struct stat info {};
    ASSERT_EQ(::stat(one.c_str(), &info), 0);
    const fs::path uuid = dir / "sys" / "dev" / "block" /
                          (std::to_string(major(info.st_dev)) + ":" + std::to_string(minor(info.st_dev))) / "dm" / "uuid";
    const std::string header = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n";
    const std::string areas = header + one.string() + "\tfile\t\t1024\t\t0\t\t-2\n" + two.string() + "\tfile\t\t1024\t\t0\t\t-3\n";
    struct Case {
        const char* label;
        std::optional<std::string> dmUUID;
        std::string swaps;
        bool encrypted;
    };
    const std::vector<Case> cases = {
        {"every area on dm-crypt", "CRYPT-LUKS2-0123-cryptswap\n", areas, true},
        {"on another device-mapper target", "LVM-abc\n", areas, false},
        {"device cannot be told", std::nullopt, areas, false},
        {"no active area", "CRYPT-LUKS2-0123-cryptswap\n", header, false},
        {"an area that is gone", "CRYPT-LUKS2-0123-cryptswap\n", areas + "/nonexistent/swap\tfile\t1\t0\t-4\n", false},
        {"a partition that is a plain file", "CRYPT-LUKS2-0123-cryptswap\n", header + one.string() + "\tpartition\t1\t0\t-2\n", false},
        {"unreadable swaps", "CRYPT-LUKS2-0123-cryptswap\n", "", false},
    };
    for (const Case& c : cases) {
        std::error_code error;
        fs::remove_all(dir / "sys", error);
        if (c.dmUUID) {
            fs::create_directories(uuid.parent_path());
            std::ofstream(uuid) << *c.dmUUID;
        }
        EXPECT_EQ(VornKernelMemory::swapAreasEncrypted(c.swaps, dir / "sys"), c.encrypted) << c.label;
    }
}

TEST(VornVirtualMemorySummary, AKernelThatCannotBeReadGivesZerosNormalAndNoEncryption) {
    VornTestTempDir empty;
    const VornKernelMemory memory = VornKernelMemory::read(empty / "proc", empty / "sys");
    EXPECT_EQ(memory.physicalTotal, 0);
    EXPECT_EQ(memory.swapTotal, 0);
    EXPECT_EQ(memory.compressed, 0);
    EXPECT_EQ(memory.pressureLevel, "normal");
    EXPECT_FALSE(memory.swapEncrypted);
}

TEST(VornVirtualMemorySummary, ThisMachinesKernelFiguresAgreeWithSysinfo) {
    const VornKernelMemory memory = VornKernelMemory::read();
    struct sysinfo info {};
    ASSERT_EQ(::sysinfo(&info), 0);
    EXPECT_EQ(memory.physicalTotal, static_cast<std::int64_t>(info.totalram) * info.mem_unit);
    EXPECT_GT(memory.physicalUsed, 0);
    EXPECT_LE(memory.physicalUsed, memory.physicalTotal);
    EXPECT_EQ(memory.swapTotal, static_cast<std::int64_t>(info.totalswap) * info.mem_unit);
    EXPECT_LE(memory.swapUsed, memory.swapTotal);
    EXPECT_GE(memory.compressed, 0);
    EXPECT_TRUE(memory.pressureLevel == "normal" || memory.pressureLevel == "warning" ||
                memory.pressureLevel == "critical");
    if (memory.swapTotal == 0) {
        EXPECT_FALSE(memory.swapEncrypted);
    }
}

TEST(VornVirtualMemorySummary, AFreshOffloadStatusIsMergedOverTheKernel) {
    QuarnLiveStatus quarn;
    quarn.physicalTotalBytes = 0;
    quarn.physicalUsedBytes = 7 * GB;
    quarn.compressedBytes = -1;
    quarn.swapTotalBytes = 2 * GB;
    quarn.swapUsedBytes = 3 * GB;
    quarn.swapFileCount = 3;
    quarn.swapEncrypted = true;
    quarn.pressureLevel = "critical";
    quarn.activeDiskPoolCount = 1;
    quarn.diskPoolVirtualBytes = 50 * GB;
    quarn.frozenPIDs = {44};
    quarn.frozenAppCount = 1;
    const VornVirtualMemorySummary merged =
        VornSuiteTelemetryBus::summary(kernel(), quarn, [] { ADD_FAILURE() << "no scan with a status"; return noDisks(); });
    EXPECT_TRUE(merged.isQuarnRunning);
    EXPECT_EQ(merged.physicalTotalBytes, 16 * GB);  // the status's 0 keeps the kernel's
    EXPECT_EQ(merged.physicalUsedBytes, 7 * GB);
    EXPECT_EQ(merged.compressedBytes, 1 * GB);
    EXPECT_EQ(merged.swapTotalBytes, 4 * GB);  // the larger of the two
    EXPECT_EQ(merged.swapUsedBytes, 3 * GB);
    EXPECT_EQ(merged.swapFileCount, 3);
    EXPECT_TRUE(merged.swapEncrypted);
    EXPECT_EQ(merged.pressureLevel, "critical");
    EXPECT_EQ(merged.frozenPIDs, std::vector<std::int32_t>{44});

    VornSparseDiskScan disks;
    disks.count = 1;
    disks.capacityBytes = 8 * GB;
    disks.usedBytes = 1 * GB;
    disks.names = {"Alpha"};
    const VornVirtualMemorySummary alone = VornSuiteTelemetryBus::summary(kernel(), std::nullopt, [&] { return disks; });
    EXPECT_FALSE(alone.isQuarnRunning);
    EXPECT_EQ(alone.pressureLevel, "warning");
    EXPECT_EQ(alone.swapFileCount, 0);
    EXPECT_EQ(alone.activeDiskPoolCount, 0);
    EXPECT_EQ(alone.sparseDiskNames, std::vector<std::string>{"Alpha"});
    EXPECT_EQ(alone.sparseDiskVirtualBytes, 8 * GB);
}

TEST(VornVirtualMemorySummary, AnOldOrOrphanedOffloadStatusIsIgnored) {
    VornTestTempDir dir;
    VornScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    const VornSuiteTelemetryBus bus(dir / "telemetry");
    const VornDate now = std::chrono::floor<std::chrono::seconds>(vornDateNow());
    QuarnLiveStatus quarn;
    quarn.senderPID = static_cast<std::int32_t>(::getpid());
    quarn.pressureLevel = "made-up";
    struct Case {
        const char* label;
        std::chrono::seconds age;
        std::int32_t pid;
        bool used;
    };
    const std::vector<Case> cases = {
        {"eighteen seconds old", 18s, quarn.senderPID, true},
        {"nineteen seconds old", 19s, quarn.senderPID, false},
        {"sender gone", 0s, 0, false},
    };
    for (const Case& c : cases) {
        quarn.timestamp = now - c.age;
        quarn.senderPID = c.pid;
        bus.publishQuarnStatus(quarn, false);
        const VornVirtualMemorySummary summary = bus.readVirtualMemorySummary(now);
        EXPECT_EQ(summary.isQuarnRunning, c.used) << c.label;
        EXPECT_EQ(summary.pressureLevel == "made-up", c.used) << c.label;
    }
}

TEST(VornVirtualMemorySummary, DerivedFiguresAndTexts) {
    struct Case {
        const char* label;
        std::function<void(VornVirtualMemorySummary&)> set;
        std::string badge;
        std::string token;
    };
    const std::vector<Case> cases = {
        {"nothing at all", [](auto&) {}, "", "0G"},
        {"swap present, unused", [](auto& s) { s.swapTotalBytes = 2 * GB; }, "Swap 0 B / 2.00 GB", "2.0G"},
        {"RAM disk hides unused swap",
         [](auto& s) {
             s.swapTotalBytes = 1 * GB;
             s.mountedRAMDiskCount = 1;
             s.ramDiskTotalBytes = 4 * GB;
         },
         "RAMDisk 4.00 GB", "4.0G"},
        {"pool and used swap",
         [](auto& s) {
             s.activeDiskPoolCount = 1;
             s.diskPoolVirtualBytes = 50 * GB;
             s.swapTotalBytes = 2 * GB;
             s.swapUsedBytes = 1500LL * 1000 * 1000;
         },
         "Pool 50.00 GB + Swap 1.50 GB", "1.5G"},
        {"500 MB used", [](auto& s) { s.swapUsedBytes = 500LL * 1000 * 1000; }, "Swap 500.0 MB", "500M"},
        {"150 GB used", [](auto& s) { s.swapUsedBytes = 150 * GB; }, "Swap 150.00 GB", "150G"},
        {"12.34 GB used", [](auto& s) { s.swapUsedBytes = 12340LL * 1000 * 1000; }, "Swap 12.34 GB", "12.3G"},
        {"8 GB allocated, nothing used", [](auto& s) { s.swapTotalBytes = 8 * GB; }, "Swap 0 B / 8.00 GB", "8.0G"},
        {"a mounted sparse disk",
         [](auto& s) {
             s.mountedSparseDiskCount = 1;
             s.sparseDiskVirtualBytes = 20 * GB;
             s.sparseDiskActualBytes = 12 * GB;
         },
         "vDisk 20.00 GB", "12.0G"},
    };
    for (const Case& c : cases) {
        VornVirtualMemorySummary summary;
        c.set(summary);
        EXPECT_EQ(summary.compactBadgeText(), c.badge) << c.label;
        EXPECT_EQ(summary.compactVirtualUsedToken(), c.token) << c.label;
    }

    VornVirtualMemorySummary over;
    over.physicalTotalBytes = 8 * GB;
    over.physicalUsedBytes = 10 * GB;
    over.swapTotalBytes = 1 * GB;
    over.swapUsedBytes = 2 * GB;
    over.mountedRAMDiskCount = 1;
    over.ramDiskTotalBytes = 1 * GB;
    over.diskPoolActualDiskBytes = 5 * GB;  // used beyond what is allocated
    EXPECT_EQ(over.physicalUsedPercent(), 100);
    EXPECT_EQ(over.swapUsedPercent(), 100);
    EXPECT_EQ(over.virtualUsedPercent(), 100);
    EXPECT_EQ(over.totalVirtualAllocatedBytes(), 3 * GB);
    EXPECT_EQ(over.totalVirtualUsedBytes(), 8 * GB);
    EXPECT_EQ(over.totalEffectiveMemoryCapacityBytes(), 11 * GB);
    EXPECT_EQ(over.virtualSpaceUsageText(), "8.00 GB / 3.00 GB");
    EXPECT_TRUE(over.isQuarnVirtualExpansionActive());
    EXPECT_EQ(VornVirtualMemorySummary{}.virtualSpaceUsageText(), "0 B");
    EXPECT_FALSE(VornVirtualMemorySummary{}.isAnyVirtualMemoryActive());
    VornVirtualMemorySummary huge;
    huge.swapUsedBytes = std::numeric_limits<std::int64_t>::max();
    huge.ramDiskTotalBytes = 10;
    EXPECT_EQ(huge.totalVirtualUsedBytes(), std::numeric_limits<std::int64_t>::max());  // no wrap to negative
}

// Runs inside a private mount namespace (started by the test below): mounts volumes where the
// desktop mounts removable ones and scans for the offload app's disk images.
TEST(VornSuiteMountNamespace, DISABLED_MountedSparseBundlesAreFound) {
    if (std::getenv("VORN_SUITE_PRIVATE_MOUNTS") == nullptr) {
        GTEST_SKIP() << "runs only inside a private mount namespace";
    }
    VornTestTempDir dir;
    VornScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    VornScopedEnv user("USER", std::string("vorn tester"));
    // Fresh, empty media folders hide the machine's own for this namespace only.
    for (const char* top : {"/media", "/run"}) {
        ASSERT_EQ(::mount("tmpfs", top, "tmpfs", 0, "size=1m,mode=0755"), 0) << top << ": " << std::strerror(errno);
    }
    const fs::path alpha = "/media/vorn tester/Alpha";
    const fs::path beta = "/run/media/vorn tester/Beta";
    const fs::path notMounted = "/media/vorn tester/Gamma";
    for (const fs::path& volume : {alpha, beta, notMounted}) {
        fs::create_directories(volume);
    }
    ASSERT_EQ(::mount("tmpfs", alpha.c_str(), "tmpfs", 0, "size=4m"), 0);
    ASSERT_EQ(::mount("tmpfs", beta.c_str(), "tmpfs", 0, "size=8m"), 0);
    std::ofstream(alpha / "data.bin") << std::string(1024 * 1024, 'x');

    const fs::path pools = dir / "data" / "Vornworks" / "Quarn" / "Pools";
    for (const char* bundle : {"Alpha.sparsebundle", "Gamma.sparsebundle", ".Hidden.sparsebundle", "Delta.dmg"}) {
        fs::create_directories(pools / bundle);
    }
    const fs::path custom = dir / "custom pools";
    fs::create_directories(custom / "Alpha.sparsebundle");  // the same name again counts once
    fs::create_directories(custom / "Beta.SPARSEBUNDLE");
    dir.write("data/Vornworks/Quarn/config.json", "{\"customPoolDirectory\": \"  " + custom.string() + "\\n\"}");

    const VornSparseDiskScan scan = VornSparseDiskScan::scan();
    EXPECT_EQ(scan.names, (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_EQ(scan.count, 2);
    EXPECT_EQ(scan.capacityBytes, 12 * 1024 * 1024);
    EXPECT_GE(scan.usedBytes, 1024 * 1024);
    EXPECT_LT(scan.usedBytes, 2 * 1024 * 1024);

    // A blank custom folder adds nothing: only the default pools remain, where Beta does not lie.
    dir.write("data/Vornworks/Quarn/config.json", "{\"customPoolDirectory\": \" \\n\\t\"}");
    EXPECT_EQ(VornSparseDiskScan::scan().names, std::vector<std::string>{"Alpha"});
    dir.write("data/Vornworks/Quarn/config.json", "[\"not an object\"]");
    EXPECT_EQ(VornSparseDiskScan::poolFolders().size(), 1u);

    // Without the offload app's status the summary carries the scan.
    const VornVirtualMemorySummary summary = VornSuiteTelemetryBus(dir / "telemetry").readVirtualMemorySummary(vornDateNow());
    EXPECT_FALSE(summary.isQuarnRunning);
    EXPECT_EQ(summary.mountedSparseDiskCount, 1);
    EXPECT_EQ(summary.compactBadgeText().rfind("vDisk 4.2 MB", 0), 0u) << summary.compactBadgeText();
}

TEST(VornVirtualMemorySummary, SparseBundlesAreScannedOnVolumesInAPrivateMountNamespace) {
    VORN_REQUIRE_TOOL("unshare");
    const std::string command = "VORN_SUITE_PRIVATE_MOUNTS=1 unshare -m --propagation private " +
                                vornShellQuote(vornSuiteTestProgram().string()) +
                                " --gtest_also_run_disabled_tests"
                                " --gtest_filter=VornSuiteMountNamespace.DISABLED_MountedSparseBundlesAreFound 2>&1";
    const VornShellResult result = vornShell(command);
    if (result.exitCode != 0 && result.output.find("unshare failed") != std::string::npos && !VornTestServices::inCI()) {
        GTEST_SKIP() << "no private mount namespace here: " << result.output;
    }
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("[  PASSED  ] 1 test"), std::string::npos) << result.output;
}
