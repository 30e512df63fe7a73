#include "ModelTestSupport.h"

#include "SledListingError.h"

#include <QSignalSpy>

TEST_F(ModelTest, NavigationUpIntoAndSearch) {
    left.write("Docs/Report.TXT", "r");
    left.write("Docs/notes.md", "n");
    auto model = makeModel();
    PaneBrowserState& pane = *model->leftPane();
    model->openDirectory(entryNamed(pane, "Docs"), &pane);
    waitForListing(pane);
    EXPECT_EQ(pane.currentPath(), (left.path() / "Docs").string());
    EXPECT_EQ(names(pane.entries()), (std::vector<std::string>{"notes.md", "Report.TXT"}));

    pane.setSearchQuery("  ");
    EXPECT_EQ(pane.filteredEntries().size(), 2u);
    pane.setSearchQuery("REPORT");
    EXPECT_EQ(names(pane.filteredEntries()), (std::vector<std::string>{"Report.TXT"}));
    EXPECT_EQ(pane.entryList()->rowCount(), 1);
    select(pane, {"notes.md"});
    EXPECT_EQ(names(pane.selectedEntries()), (std::vector<std::string>{"notes.md"}));  // hidden, still counted

    struct Case {
        std::string from;
        std::string to;
    };
    for (const Case& c : {Case{"/usr/share/", "/usr"}, Case{"/usr", "/"}}) {
        model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), c.from}, &pane);
        waitForListing(pane);
        model->navigateUp(&pane);
        EXPECT_EQ(pane.currentPath(), c.to) << c.from;
        waitForListing(pane);
    }
    QSignalSpy loading(&pane, &PaneBrowserState::isLoadingChanged);
    model->navigateUp(&pane);
    EXPECT_EQ(pane.currentPath(), "/");
    EXPECT_EQ(loading.count(), 0);
}

TEST_F(ModelTest, ARefreshKeepsOnlySelectedPathsStillListedAndAFailedOneKeepsEverything) {
    left.write("a.txt", "a");
    left.write("b.txt", "b");
    auto model = makeModel();
    PaneBrowserState& pane = *model->leftPane();
    select(pane, {"a.txt", "b.txt"});
    std::filesystem::remove(left / "a.txt");
    model->refresh(&pane);
    waitForListing(pane);
    EXPECT_EQ(pane.selectedPaths(), (std::set<std::string>{(left / "b.txt").string()}));

    // The same folder failing to list keeps what was shown.
    std::filesystem::permissions(left.path(), std::filesystem::perms::none);
    model->refresh(&pane);
    waitForListing(pane);
    std::filesystem::permissions(left.path(), std::filesystem::perms::owner_all);
    if (geteuid() != 0) {
        EXPECT_TRUE(pane.errorMessage().has_value());
    }
    EXPECT_EQ(names(pane.entries()), (std::vector<std::string>{"b.txt"}));
    EXPECT_EQ(pane.selectedPaths().size(), 1u);
}

TEST_F(ModelTest, AFailedListingOfANewPlaceShowsNothingOfTheOldOne) {
    left.write("keep.txt", "k");
    auto model = makeModel();
    PaneBrowserState& pane = *model->leftPane();
    select(pane, {"keep.txt"});
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), (left / "missing").string()}, &pane);
    waitForListing(pane);
    ASSERT_TRUE(pane.errorMessage().has_value());
    EXPECT_TRUE(pane.entries().empty());
    EXPECT_TRUE(pane.selectedPaths().empty());
    EXPECT_FALSE(pane.listingIsCurrent());

    // A deleted profile's endpoint fails with the profile text.
    model->selectEndpoint(PaneEndpoint::remote(VornUUID::random()), &pane);
    EXPECT_EQ(pane.currentPath(), "/");
    waitForListing(pane);
    EXPECT_EQ(pane.errorMessage(), "Invalid connection profile: Profile not found");
}

TEST_F(ModelTest, AfterASwapNothingActsOnTheOtherPlacesSelection) {
    left.write("same.txt", "left copy");
    right.write("same.txt", "right copy");
    ModelMemoryRemote remote;
    remote.store.addFile("/slow/x.txt", "x");
    remote.install(data.path());
    auto environment = this->environment();
    environment.providerFactory = remote.factory();
    auto model = makeModel(environment);
    ModelToastLog toasts(*model);
    PaneBrowserState& leftPane = *model->leftPane();
    PaneBrowserState& rightPane = *model->rightPane();
    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/slow"}, &rightPane);
    waitForListing(rightPane);
    select(leftPane, {"same.txt"});

    // The right pane's listing is held back: after the swap, the left pane shows the store but
    // still holds the local listing and selection.
    auto gate = std::make_shared<VornTestGate>();
    remote.store.setScript(VornTestMemoryProvider::Operation::list, "/slow", {.gate = gate});
    model->swapPanes();
    EXPECT_EQ(leftPane.endpoint(), remote.endpoint());
    EXPECT_FALSE(leftPane.listingIsCurrent());
    EXPECT_TRUE(leftPane.selectedEntries().empty());
    model->deleteSelected(&leftPane);
    EXPECT_TRUE(toasts.last().find("still being listed") != std::string::npos) << toasts.last();
    model->transferSelected(&leftPane, &rightPane);
    EXPECT_TRUE(model->transfers().empty());
    gate->open();
    waitForListing(leftPane);
    waitForListing(rightPane);
    // A new place starts with no selection, even where a path of the old one recurs.
    EXPECT_TRUE(leftPane.selectedPaths().empty());
    EXPECT_TRUE(std::filesystem::exists(left / "same.txt"));
    EXPECT_EQ(vornReadFile(right / "same.txt"), "right copy");
}

TEST_F(ModelTest, OnlyTheNewestListingOfAPaneIsApplied) {
    ModelMemoryRemote remote;
    remote.store.addFile("/old/stale.txt", "s");
    remote.store.addFile("/new/fresh.txt", "f");
    remote.install(data.path());
    auto environment = this->environment();
    environment.providerFactory = remote.factory();
    auto model = makeModel(environment);
    PaneBrowserState& pane = *model->leftPane();
    auto gate = std::make_shared<VornTestGate>();
    remote.store.setScript(VornTestMemoryProvider::Operation::list, "/old", {.gate = gate});

    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/old"}, &pane);
    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/new"}, &pane);
    waitForListing(pane);
    EXPECT_EQ(names(pane.entries()), (std::vector<std::string>{"fresh.txt"}));
    QSignalSpy entries(&pane, &PaneBrowserState::entriesChanged);
    QSignalSpy loading(&pane, &PaneBrowserState::isLoadingChanged);
    gate->open();
    ASSERT_TRUE(modelWaitFor([&] { return remote.store.calls().size() >= 2; }));
    // The late answer for /old lands and is dropped: nothing changes.
    QTest::qWait(0);
    model->refresh(&pane);
    waitForListing(pane);
    EXPECT_EQ(names(pane.entries()), (std::vector<std::string>{"fresh.txt"}));
    EXPECT_EQ(entries.count(), 0);

    // A rename now acts in /new, the entry's own folder on the store it was listed from.
    model->renameEntry(entryNamed(pane, "fresh.txt"), "renamed.txt", &pane);
    ASSERT_TRUE(modelWaitFor([&] { return remote.store.file("/new/renamed.txt").has_value(); }));
    EXPECT_FALSE(remote.store.file("/old/renamed.txt").has_value());
    waitForListing(pane);
}

TEST_F(ModelTest, AnIncompleteListingIsShownMarkedAndNeverDeletedFromOrPlanned) {
    struct TruncatingStore final : VornTestForwardingProvider {
        using VornTestForwardingProvider::VornTestForwardingProvider;
        std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const override {
            auto entries = VornTestForwardingProvider::listDirectory(at, stop);
            if (at == "/big") {
                throw SledListingError::tooLarge(at, entries);
            }
            return entries;
        }
    };
    ModelMemoryRemote remote;
    remote.store.addFile("/big/one.txt", "1");
    remote.install(data.path());
    auto environment = this->environment();
    const VornUUID id = remote.profile.id;
    const VornTestMemoryProvider store = remote.store;
    environment.providerFactory = [id, store](const PaneEndpoint& endpoint, const ConnectionProfile*,
                                              const std::optional<std::string>&) -> std::shared_ptr<SledStorageProvider> {
        if (endpoint.profileID() == std::optional<VornUUID>(id)) {
            return std::make_shared<TruncatingStore>(store);
        }
        return nullptr;
    };
    auto model = makeModel(environment);
    ModelToastLog toasts(*model);
    PaneBrowserState& pane = *model->leftPane();
    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/big"}, &pane);
    waitForListing(pane);
    EXPECT_TRUE(pane.isListingIncomplete());
    EXPECT_TRUE(pane.errorMessage().has_value());
    EXPECT_EQ(names(pane.entries()), (std::vector<std::string>{"one.txt"}));

    select(pane, {"one.txt"});
    model->deleteSelected(&pane);
    EXPECT_TRUE(toasts.last().find("could not be listed completely") != std::string::npos) << toasts.last();
    model->setSyncIncludeSubfolders(false);
    model->setSyncDeleteOrphans(true);
    model->recomputeSyncPlan();
    EXPECT_TRUE(model->syncPlanItems().empty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(remote.store.file("/big/one.txt").has_value());
}
