#include "ModelTestSupport.h"

#include "VornChecksum.h"
#include "VornXDG.h"

#include <QImage>
#include <QSignalSpy>

TEST_F(ModelTest, CreateRenameAndDeleteOnThisComputer) {
    left.write("old.txt", "contents");
    left.write("two.txt", "2");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    PaneBrowserState& pane = *model->leftPane();

    struct Case {
        std::string typed;
        std::string created;
    };
    for (const Case& c : {Case{"plain", "plain"}, Case{"a/b:c", "a_b_c"}, Case{"   ", "sleded-file.bin"}}) {
        const std::size_t before = toasts.messages.size();
        model->createFolder(c.typed, &pane);
        ASSERT_TRUE(toasts.waitForCount(before + 1));
        const std::string shown = toasts.last().substr(std::string("Folder created: ").size());
        EXPECT_TRUE(std::filesystem::is_directory(left / shown)) << c.typed << " → " << shown;
        EXPECT_FALSE(toasts.messages.back().isError) << toasts.last();
    }
    waitForListing(pane);

    const SledFileEntry entry = entryNamed(pane, "old.txt");
    model->renameEntry(entry, "old.txt", &pane);  // the same name does nothing
    model->renameEntry(entry, "new.txt", &pane);
    ASSERT_TRUE(modelWaitFor([&] { return std::filesystem::exists(left / "new.txt"); }));
    ASSERT_TRUE(modelWaitFor([&] { return toasts.last() == "Renamed 'old.txt' → 'new.txt'"; }));
    EXPECT_EQ(pane.selectedPaths(), (std::set<std::string>{(left / "new.txt").string()}));
    waitForListing(pane);

    select(pane, {"new.txt", "two.txt"});
    model->deleteSelected(&pane);
    ASSERT_TRUE(modelWaitFor([&] { return toasts.last() == "Deleted 2 item(s)"; }));
    EXPECT_FALSE(std::filesystem::exists(left / "new.txt"));
    EXPECT_FALSE(std::filesystem::exists(left / "two.txt"));
    // Deleting moves to the Trash; nothing is unlinked.
    EXPECT_TRUE(std::filesystem::exists(VornXDG::dataHome() / "Trash" / "files") ||
                std::filesystem::exists(left.path().root_path() / "tmp"));
    EXPECT_TRUE(pane.selectedPaths().empty());
}

TEST_F(ModelTest, ARenameActsOnTheStoreItBeganOnWhateverThePaneShowsMeanwhile) {
    ModelMemoryRemote remote;
    remote.store.addFile("/docs/a.txt", "a");
    remote.install(data.path());
    auto environment = this->environment();
    environment.providerFactory = remote.factory();
    auto model = makeModel(environment);
    PaneBrowserState& pane = *model->leftPane();
    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/docs"}, &pane);
    waitForListing(pane);
    auto gate = std::make_shared<VornTestGate>();
    remote.store.setScript(VornTestMemoryProvider::Operation::rename, "/docs/a.txt", {.gate = gate});
    model->renameEntry(entryNamed(pane, "a.txt"), "b.txt", &pane);
    model->selectEndpoint(PaneEndpoint::local(), &pane);  // the pane moves to this computer
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), left.path().string()}, &pane);
    waitForListing(pane);
    gate->open();
    ASSERT_TRUE(modelWaitFor([&] { return remote.store.file("/docs/b.txt").has_value(); }));
    EXPECT_FALSE(std::filesystem::exists(left / "b.txt"));
    // The selection of the pane's new place is left alone.
    EXPECT_TRUE(pane.selectedPaths().empty());
}

TEST_F(ModelTest, APreviewSavesToTheFileThatWasPreviewedAndOnlyTheNewestPreviewShows) {
    left.write("first.txt", "first text");
    left.write("second.txt", "second text");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    PaneBrowserState& pane = *model->leftPane();

    bool answered = false;
    bool saved = true;
    model->saveEditedPreviewText("nothing open", [&](bool ok) {
        answered = true;
        saved = ok;
    });
    EXPECT_TRUE(answered);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(model->isSavingPreviewEdit());

    model->openQuickPreview(entryNamed(pane, "first.txt"), &pane);
    EXPECT_TRUE(model->showingPreviewSheet());
    EXPECT_TRUE(model->isLoadingPreview());
    ASSERT_TRUE(modelWaitFor([&] { return !model->isLoadingPreview(); }));
    ASSERT_TRUE(model->previewResult().has_value());
    EXPECT_EQ(model->previewResult()->fileName, "first.txt");

    // The pane moves elsewhere; the save still writes the previewed file.
    model->navigateUp(&pane);
    waitForListing(pane);
    answered = false;
    model->saveEditedPreviewText("edited", [&](bool ok) {
        answered = true;
        saved = ok;
    });
    ASSERT_TRUE(modelWaitFor([&] { return answered; }));
    EXPECT_TRUE(saved);
    EXPECT_EQ(vornReadFile(left / "first.txt"), "edited");
    EXPECT_EQ(vornReadFile(left / "second.txt"), "second text");
    EXPECT_EQ(toasts.last(), "Saved & SHA-256 verified: first.txt");
    ASSERT_FALSE(model->transfers().empty());
    const SledTransferRecord& record = model->transfers().front();
    EXPECT_EQ(record.direction, SledTransferDirection::localCopy);
    EXPECT_EQ(record.sourceLabel, "Inline Editor");
    EXPECT_TRUE(record.isSHA256Verified);
    EXPECT_EQ(record.sha256Hex, VornSHA256::hexDigest("edited"));
}

// The model installs QtGui's image reader for previews: a picture previews as an image.
TEST_F(ModelTest, APicturePreviewsAsAnImage) {
    QImage picture(7, 5, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(QString::fromStdString((left / "picture.png").string()), "PNG"));
    auto model = makeModel();
    PaneBrowserState& pane = *model->leftPane();
    model->openQuickPreview(entryNamed(pane, "picture.png"), &pane);
    ASSERT_TRUE(modelWaitFor([&] { return !model->isLoadingPreview(); }));
    ASSERT_TRUE(model->previewResult().has_value()) << model->previewError().value_or("");
    ASSERT_EQ(model->previewResult()->payload.kind(), SledPreviewPayload::Kind::image);
    EXPECT_EQ(model->previewResult()->payload.asImage()->width, 7);
    EXPECT_EQ(model->previewResult()->payload.asImage()->height, 5);
}

TEST_F(ModelTest, AnOlderPreviewLandingLateIsDropped) {
    ModelMemoryRemote remote;
    remote.store.addFile("/slow.txt", "slow");
    remote.store.addFile("/fast.txt", "fast");
    remote.install(data.path());
    auto environment = this->environment();
    environment.providerFactory = remote.factory();
    auto model = makeModel(environment);
    PaneBrowserState& pane = *model->leftPane();
    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/"}, &pane);
    waitForListing(pane);
    auto gate = std::make_shared<VornTestGate>();
    remote.store.setScript(VornTestMemoryProvider::Operation::download, "/slow.txt", {.gate = gate});
    model->openQuickPreview(entryNamed(pane, "slow.txt"), &pane);
    model->openQuickPreview(entryNamed(pane, "fast.txt"), &pane);
    ASSERT_TRUE(modelWaitFor([&] { return !model->isLoadingPreview(); }));
    EXPECT_EQ(model->previewResult()->fileName, "fast.txt");
    QSignalSpy changed(model.get(), &SledViewModel::previewResultChanged);
    gate->open();
    // Saving now writes the file shown (fast.txt), never the one whose answer came late.
    bool answered = false;
    model->saveEditedPreviewText("new", [&](bool) { answered = true; });
    ASSERT_TRUE(modelWaitFor([&] { return answered; }));
    EXPECT_EQ(remote.store.file("/fast.txt"), "new");
    EXPECT_EQ(remote.store.file("/slow.txt"), "slow");
    EXPECT_EQ(model->previewResult()->fileName, "fast.txt");
}

// A listed file replaced by a folder of the same name before Delete is not the item the user
// chose: nothing goes to the Trash, and the error says why.
TEST_F(ModelTest, ADeleteChecksTheListedItemIsStillOfItsKind) {
    left.write("victim", "file as listed");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    PaneBrowserState& pane = *model->leftPane();
    select(pane, {"victim"});
    std::filesystem::remove(left / "victim");
    left.write("victim/precious.txt", "someone else's");
    model->deleteSelected(&pane);
    ASSERT_TRUE(modelWaitFor([&] { return !toasts.messages.empty() && toasts.messages.back().isError; }));
    EXPECT_NE(toasts.last().find("no longer the file that was listed"), std::string::npos) << toasts.last();
    EXPECT_EQ(vornReadFile(left / "victim" / "precious.txt"), "someone else's");
}
