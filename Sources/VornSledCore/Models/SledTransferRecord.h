#pragma once

#include "VornDate.h"
#include "VornRawValue.h"
#include "VornUUID.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The route of a transfer.
enum class SledTransferDirection { upload, download, localCopy, remoteToRemote, lanSend, lanReceive };

enum class SledTransferStatus { queued, transferring, verifying, completed, failed, cancelled };

template <>
struct VornRawValueTable<SledTransferDirection> {
    static constexpr std::string_view typeName = "SledTransferDirection";
    static constexpr std::array entries{
        std::pair{SledTransferDirection::upload, std::string_view("upload")},
        std::pair{SledTransferDirection::download, std::string_view("download")},
        std::pair{SledTransferDirection::localCopy, std::string_view("localCopy")},
        std::pair{SledTransferDirection::remoteToRemote, std::string_view("remoteToRemote")},
        std::pair{SledTransferDirection::lanSend, std::string_view("lanSend")},
        std::pair{SledTransferDirection::lanReceive, std::string_view("lanReceive")},
    };
};

template <>
struct VornRawValueTable<SledTransferStatus> {
    static constexpr std::string_view typeName = "SledTransferStatus";
    static constexpr std::array entries{
        std::pair{SledTransferStatus::queued, std::string_view("queued")},
        std::pair{SledTransferStatus::transferring, std::string_view("transferring")},
        std::pair{SledTransferStatus::verifying, std::string_view("verifying")},
        std::pair{SledTransferStatus::completed, std::string_view("completed")},
        std::pair{SledTransferStatus::failed, std::string_view("failed")},
        std::pair{SledTransferStatus::cancelled, std::string_view("cancelled")},
    };
};

// One row of the transfer list. `id` identifies the row and comes back from the engine as the
// job's record identifier; every other field changes as the transfer progresses.
struct SledTransferRecord {
    VornUUID id;
    std::string fileName;
    std::string sourceLabel;
    std::string destinationLabel;
    SledTransferDirection direction = SledTransferDirection::upload;
    SledTransferStatus status = SledTransferStatus::queued;
    std::int64_t totalBytes = 0;
    std::int64_t transferredBytes = 0;
    std::optional<std::string> sha256Hex;
    bool isSHA256Verified = false;
    std::optional<std::string> errorMessage;
    VornDate createdAt{};
    std::optional<VornDate> completedAt;

    // 1 when completed (whatever the byte counts say); 0 when totalBytes is below 1; else
    // transferredBytes / totalBytes kept within 0…1.
    double fractionCompleted() const;

    friend bool operator==(const SledTransferRecord&, const SledTransferRecord&) = default;

    // Keys are the field names in declaration order; absent optionals are left out.
    nlohmann::ordered_json toJSON() const;
    static SledTransferRecord fromJSON(const nlohmann::json& value, std::string_view path = "SledTransferRecord");
};
