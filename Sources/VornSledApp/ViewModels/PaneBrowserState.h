#pragma once

#include "PaneEndpoint.h"
#include "SledFileEntry.h"
#include "SledListModels.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

// A storage endpoint and a folder on it: where a listing came from.
struct SledPanePlace {
    PaneEndpoint endpoint;
    std::string path;
    friend bool operator==(const SledPanePlace&, const SledPanePlace&) = default;
};

// What one pane of the dual-pane browser shows. Paths and names are raw bytes; display text is made
// from them (sledDisplayText), never the other way round.
//
// The listing (`entries`) and the selection belong to the place they were listed from
// (`listedPlace`). While the pane shows another place than its listing's (right after a swap or a
// navigation, or after a failed listing of a new place) `listingIsCurrent()` is false and the
// model refuses to act on the entries. Only the workspace model changes the state; views read it
// and set the search text and the selection.
class PaneBrowserState final : public QObject {
    Q_OBJECT
    Q_PROPERTY(PaneEndpoint endpoint READ endpoint NOTIFY endpointChanged)
    Q_PROPERTY(std::string currentPath READ currentPath NOTIFY currentPathChanged)
    Q_PROPERTY(std::vector<SledFileEntry> entries READ entries NOTIFY entriesChanged)
    Q_PROPERTY(std::set<std::string> selectedPaths READ selectedPaths WRITE setSelectedPaths NOTIFY selectedPathsChanged)
    Q_PROPERTY(QString searchQuery READ searchQuery WRITE setSearchQuery NOTIFY searchQueryChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(std::optional<std::string> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool isListingIncomplete READ isListingIncomplete NOTIFY isListingIncompleteChanged)

public:
    PaneBrowserState(PaneEndpoint endpoint, std::string initialPath, QObject* parent = nullptr);

    const PaneEndpoint& endpoint() const { return endpoint_; }
    const std::string& currentPath() const { return currentPath_; }
    const std::vector<SledFileEntry>& entries() const { return entries_; }
    const std::set<std::string>& selectedPaths() const { return selectedPaths_; }
    const QString& searchQuery() const { return searchQuery_; }
    bool isLoading() const { return isLoading_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    // The listing stopped at the back end's limit: `entries` holds what was read.
    bool isListingIncomplete() const { return isListingIncomplete_; }

    // Where `entries` were listed from; nothing before the first listing and after a failed
    // listing of a new place.
    const std::optional<SledPanePlace>& listedPlace() const { return listedPlace_; }
    SledPanePlace place() const { return {endpoint_, currentPath_}; }
    // The entries are of the place the pane shows now.
    bool listingIsCurrent() const { return listedPlace_ && *listedPlace_ == place(); }

    // The entries whose name contains the trimmed search text, ignoring case; all when it is blank.
    std::vector<SledFileEntry> filteredEntries() const;
    // The selected entries of the listing (hidden by the search or not), in listing order; empty
    // while the listing is not of the place shown.
    std::vector<SledFileEntry> selectedEntries() const;

    void setSelectedPaths(const std::set<std::string>& paths);
    void setSearchQuery(const QString& query);

    // The filtered entries row by row, for the views.
    SledEntryListModel* entryList() { return &entryList_; }

signals:
    void endpointChanged();
    void currentPathChanged();
    void entriesChanged();
    void selectedPathsChanged();
    void searchQueryChanged();
    void isLoadingChanged();
    void errorMessageChanged();
    void isListingIncompleteChanged();

private:
    friend class SledViewModel;

    void setPlace(const PaneEndpoint& endpoint, const std::string& path);
    void setLoading(bool loading);
    void setErrorMessage(std::optional<std::string> message);
    // `rows`, when given, is a copy of `entries` made off the GUI thread: shown as it is when no
    // search text filters it, so a large listing is not copied again on the GUI thread.
    void applyListing(std::vector<SledFileEntry> entries, const SledPanePlace& place, bool incomplete,
                      std::optional<std::deque<SledFileEntry>> rows = std::nullopt);
    void forgetListing();
    void refreshEntryList();

    PaneEndpoint endpoint_;
    std::string currentPath_;
    std::vector<SledFileEntry> entries_;
    std::set<std::string> selectedPaths_;
    QString searchQuery_;
    bool isLoading_ = false;
    std::optional<std::string> errorMessage_;
    bool isListingIncomplete_ = false;
    std::optional<SledPanePlace> listedPlace_;
    // Raised by every listing request; only the newest request's answer is applied.
    std::uint64_t listingGeneration_ = 0;
    SledEntryListModel entryList_;
};
