#pragma once

#include "SledBookmark.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The user's settings. Defaults come from the machine (device name, Downloads folder) and from
// the random source (PIN), computed afresh each time they are needed.
struct SledSettings {
    // Arguments of the memberwise constructor; a field left empty takes its default.
    struct Values {
        std::optional<std::int64_t> parallelWorkers;
        std::optional<bool> verifySHA256OnTransfer;
        std::optional<std::string> lanDeviceName;
        std::optional<std::uint16_t> lanPort;
        std::optional<bool> lanRequirePIN;
        std::optional<std::string> lanPIN;
        std::optional<std::string> lanDownloadDirectory;
        std::optional<std::vector<std::string>> syncExcludedPatterns;
        std::optional<std::vector<SledBookmark>> bookmarks;
    };

    // Every field at its default, with a freshly drawn PIN.
    SledSettings();
    // Memberwise: given values stored unchanged, except parallelWorkers, clamped to 1…8.
    //   SledSettings({.parallelWorkers = 2, .lanRequirePIN = true})
    explicit SledSettings(const Values& values);

    // Assigning a field stores the value unchanged (parallelWorkers too: the engine clamps its own).
    std::int64_t parallelWorkers = 4;
    bool verifySHA256OnTransfer = true;
    std::string lanDeviceName;
    std::uint16_t lanPort = 53318;
    bool lanRequirePIN = false;
    std::string lanPIN;
    std::string lanDownloadDirectory;
    std::vector<std::string> syncExcludedPatterns;
    std::vector<SledBookmark> bookmarks;

    friend bool operator==(const SledSettings&, const SledSettings&) = default;

    // All nine keys, in declaration order.
    nlohmann::ordered_json toJSON() const;
    // Every key is optional: missing or null takes its default (computed during this read); a present
    // value of the wrong type, a lanPort outside 0…65535, a non-integral parallelWorkers or a
    // malformed bookmark throws VornDecodingError. parallelWorkers is clamped to 1…8 afterwards.
    static SledSettings fromJSON(const nlohmann::json& value, std::string_view path = "SledSettings");

    static std::int64_t clampParallelWorkers(std::int64_t n);
    // The computer's name (the pretty host name, else the host name), "Linux" when there is none.
    static std::string defaultDeviceName();
    // Four digits from 1000 to 9999, drawn uniformly from the cryptographic random source.
    static std::string defaultLANPIN();
    // The user's Downloads folder followed by "/VornSled" (not created here).
    static std::string defaultDownloadDirectory();
    // ".DS_Store", ".git", "node_modules", "*.tmp".
    static std::vector<std::string> defaultExcludedPatterns();
};
