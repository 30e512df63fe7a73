#include "SyncPlanItem.h"

#include "VornLocalizationStore.h"

std::string label(SyncDirectionMode mode, VornLanguage language) {
    switch (mode) {
        case SyncDirectionMode::mirrorLeftToRight:
            return vornText("Mirror Left \u2192 Right", "Sol \u2192 Sağ Aynala", std::nullopt, language);
        case SyncDirectionMode::mirrorRightToLeft:
            return vornText("Mirror Right \u2192 Left", "Sağ \u2192 Sol Aynala", std::nullopt, language);
        case SyncDirectionMode::twoWayUpdate:
            return vornText("Two-Way Update", "Çift Yönlü Güncelle", std::nullopt, language);
    }
    return {};
}

SyncPlanItem::SyncPlanItem(std::string relativeName, SyncActionKind action, std::optional<SledFileEntry> leftEntry,
                           std::optional<SledFileEntry> rightEntry, std::int64_t bytesToTransfer, std::string reason)
    : id_(rawValue(action) + ":" + relativeName),
      relativeName_(std::move(relativeName)),
      action_(action),
      leftEntry_(std::move(leftEntry)),
      rightEntry_(std::move(rightEntry)),
      bytesToTransfer_(bytesToTransfer),
      reason_(std::move(reason)) {}
