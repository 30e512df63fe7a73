#include "PaneBrowserState.h"

#include <algorithm>

PaneBrowserState::PaneBrowserState(PaneEndpoint endpoint, std::string initialPath, QObject* parent)
    : QObject(parent), endpoint_(std::move(endpoint)), currentPath_(std::move(initialPath)),
      entryList_(&sledDescribeEntry) {}

std::vector<SledFileEntry> PaneBrowserState::filteredEntries() const {
    const QString needle = searchQuery_.trimmed().toLower();
    if (needle.isEmpty()) {
        return entries_;
    }
    std::vector<SledFileEntry> kept;
    for (const SledFileEntry& entry : entries_) {
        if (sledDisplayText(entry.name).toLower().contains(needle)) {
            kept.push_back(entry);
        }
    }
    return kept;
}

std::vector<SledFileEntry> PaneBrowserState::selectedEntries() const {
    std::vector<SledFileEntry> selected;
    if (!listingIsCurrent()) {
        return selected;
    }
    for (const SledFileEntry& entry : entries_) {
        if (selectedPaths_.count(entry.path) != 0) {
            selected.push_back(entry);
        }
    }
    return selected;
}

void PaneBrowserState::setSelectedPaths(const std::set<std::string>& paths) {
    if (paths == selectedPaths_) {
        return;
    }
    selectedPaths_ = paths;
    emit selectedPathsChanged();
}

void PaneBrowserState::setSearchQuery(const QString& query) {
    if (query == searchQuery_) {
        return;
    }
    searchQuery_ = query;
    refreshEntryList();
    emit searchQueryChanged();
}

void PaneBrowserState::setPlace(const PaneEndpoint& endpoint, const std::string& path) {
    const bool endpointChanges = endpoint != endpoint_;
    const bool pathChanges = path != currentPath_;
    endpoint_ = endpoint;
    currentPath_ = path;
    if (endpointChanges) {
        emit endpointChanged();
    }
    if (pathChanges) {
        emit currentPathChanged();
    }
}

void PaneBrowserState::setLoading(bool loading) {
    if (loading != isLoading_) {
        isLoading_ = loading;
        emit isLoadingChanged();
    }
}

void PaneBrowserState::setErrorMessage(std::optional<std::string> message) {
    if (message != errorMessage_) {
        errorMessage_ = std::move(message);
        emit errorMessageChanged();
    }
}

void PaneBrowserState::applyListing(std::vector<SledFileEntry> entries, const SledPanePlace& place, bool incomplete,
                                    std::optional<std::deque<SledFileEntry>> rows) {
    const bool samePlace = listedPlace_ && *listedPlace_ == place;
    listedPlace_ = place;
    const bool entriesChange = entries != entries_;
    entries_ = std::move(entries);
    std::set<std::string> kept;
    if (samePlace) {
        // A selection only carries over within one place: the same path on another endpoint or
        // in another folder's listing is another file.
        for (const SledFileEntry& entry : entries_) {
            if (selectedPaths_.count(entry.path) != 0) {
                kept.insert(entry.path);
            }
        }
    }
    if (entriesChange) {
        if (rows && searchQuery_.trimmed().isEmpty()) {
            entryList_.replaceAll(std::move(*rows));
        } else {
            refreshEntryList();
        }
        emit entriesChanged();
    }
    setSelectedPaths(kept);
    if (incomplete != isListingIncomplete_) {
        isListingIncomplete_ = incomplete;
        emit isListingIncompleteChanged();
    }
}

void PaneBrowserState::forgetListing() {
    listedPlace_.reset();
    if (!entries_.empty()) {
        entries_.clear();
        refreshEntryList();
        emit entriesChanged();
    }
    setSelectedPaths({});
    if (isListingIncomplete_) {
        isListingIncomplete_ = false;
        emit isListingIncompleteChanged();
    }
}

void PaneBrowserState::refreshEntryList() {
    entryList_.replaceAll(filteredEntries());
}
