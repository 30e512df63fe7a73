#pragma once

#include "SledFileEntry.h"
#include "VornLanguage.h"
#include "VornRawValue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The direction of a sync between the two panes, as the user picks it.
enum class SyncDirectionMode { mirrorLeftToRight, mirrorRightToLeft, twoWayUpdate };

template <>
struct VornRawValueTable<SyncDirectionMode> {
    static constexpr std::string_view typeName = "SyncDirectionMode";
    static constexpr std::array entries{
        std::pair{SyncDirectionMode::mirrorLeftToRight, std::string_view("mirrorLeftToRight")},
        std::pair{SyncDirectionMode::mirrorRightToLeft, std::string_view("mirrorRightToLeft")},
        std::pair{SyncDirectionMode::twoWayUpdate, std::string_view("twoWayUpdate")},
    };
};

// "Mirror Left → Right", "Mirror Right → Left", "Two-Way Update" in the given language.
std::string label(SyncDirectionMode mode, VornLanguage language);

// What a sync plan does with one file.
enum class SyncActionKind { copyLeftToRight, copyRightToLeft, deleteOnRight, deleteOnLeft, identicalSkip };

template <>
struct VornRawValueTable<SyncActionKind> {
    static constexpr std::string_view typeName = "SyncActionKind";
    static constexpr std::array entries{
        std::pair{SyncActionKind::copyLeftToRight, std::string_view("copyLeftToRight")},
        std::pair{SyncActionKind::copyRightToLeft, std::string_view("copyRightToLeft")},
        std::pair{SyncActionKind::deleteOnRight, std::string_view("deleteOnRight")},
        std::pair{SyncActionKind::deleteOnLeft, std::string_view("deleteOnLeft")},
        std::pair{SyncActionKind::identicalSkip, std::string_view("identicalSkip")},
    };
};

// One planned action on one file; immutable. Its id, "<action raw value>:<relative name>", is
// fixed at creation.
class SyncPlanItem {
public:
    SyncPlanItem(std::string relativeName, SyncActionKind action, std::optional<SledFileEntry> leftEntry,
                 std::optional<SledFileEntry> rightEntry, std::int64_t bytesToTransfer, std::string reason);

    const std::string& id() const { return id_; }
    const std::string& relativeName() const { return relativeName_; }
    SyncActionKind action() const { return action_; }
    // The file as listed on each side; nothing when that side has no such file.
    const std::optional<SledFileEntry>& leftEntry() const { return leftEntry_; }
    const std::optional<SledFileEntry>& rightEntry() const { return rightEntry_; }
    std::int64_t bytesToTransfer() const { return bytesToTransfer_; }
    // Short user-facing explanation of the choice.
    const std::string& reason() const { return reason_; }

    friend bool operator==(const SyncPlanItem&, const SyncPlanItem&) = default;

private:
    std::string id_;
    std::string relativeName_;
    SyncActionKind action_;
    std::optional<SledFileEntry> leftEntry_;
    std::optional<SledFileEntry> rightEntry_;
    std::int64_t bytesToTransfer_;
    std::string reason_;
};
