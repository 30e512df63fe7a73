#include "ExplorerTestSupport.h"

#include "MainSledWorkspaceView.h"
#include "VornButtons.h"
#include "VornGlassInputField.h"
#include "VornGroundBackground.h"
#include "VornMessageText.h"
#include "VornPalette.h"
#include "VornXDG.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QScrollBar>
#include <QListView>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <fstream>

namespace fs = std::filesystem;

namespace {

bool trashHolds(const std::string& contents) {
    const fs::path trash = VornXDG::dataHome() / "Trash" / "files";
    std::error_code error;
    for (const auto& item : fs::directory_iterator(trash, error)) {
        if (item.is_regular_file() && vornReadFile(item.path()) == contents) {
            return true;
        }
    }
    return false;
}

}  // namespace

// The rail on two real folders: enabling and the active look follow both selections, send and
// pull really copy, sync opens the preview with a plan of the panes as they are, swap moves the
// places but not the titles, and the labels follow the language.
TEST_F(ViewsTest, TheRailFollowsBothSelectionsCopiesBothWaysSyncsAndSwaps) {
    left.write("from-left.txt", "left side");
    right.write("from-right.txt", "right side");
    auto model = makeModel();
    MainSledWorkspaceView workspace(*model);
    workspace.resize(1280, 760);
    workspace.show();
    auto* view = dynamic_cast<DualPaneExplorerView*>(workspace.page(SledWorkspaceTab::dualPane));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(workspace.currentPage(), view);
    EXPECT_EQ(view->rail()->width(), DualPaneExplorerView::railWidth);

    // Nothing selected: send and pull off, pull not active; sync and swap always on.
    EXPECT_FALSE(view->sendButton()->isEnabled());
    EXPECT_FALSE(view->pullButton()->isEnabled());
    EXPECT_FALSE(view->pullButton()->isActive());
    EXPECT_TRUE(view->syncButton()->isEnabled());
    EXPECT_TRUE(view->swapButton()->isEnabled());

    // One entry on the right, clicked as a user would: pull on and active, send still off.
    PaneBrowserCard& rightCard = *view->rightCard();
    QTest::mouseClick(rightCard.listView()->viewport(), Qt::LeftButton, {}, explorerRowCentre(rightCard, "from-right.txt"));
    ASSERT_TRUE(viewsWaitFor([&] { return !model->rightPane()->selectedPaths().empty(); }));
    EXPECT_TRUE(view->pullButton()->isEnabled());
    EXPECT_TRUE(view->pullButton()->isActive());
    EXPECT_FALSE(view->sendButton()->isEnabled());

    model->leftPane()->setSelectedPaths({(left / "from-left.txt").string()});
    EXPECT_TRUE(view->sendButton()->isEnabled());
    snapshot(workspace, QStringLiteral("app-explorer-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(view->sendButton()->label(), QString::fromUtf8("Gönder →"));
    EXPECT_EQ(view->pullButton()->label(), QString::fromUtf8("← Çek"));
    EXPECT_EQ(view->syncButton()->label(), QString::fromUtf8("Eşitle"));
    EXPECT_EQ(view->swapButton()->label(), QString::fromUtf8("Değiştir"));
    EXPECT_EQ(view->leftCard()->sideTitleLabel()->text(), QString::fromUtf8("SOL PANEL"));
    EXPECT_EQ(view->rightCard()->sideTitleLabel()->text(), QString::fromUtf8("SAĞ PANEL"));
    snapshot(workspace, QStringLiteral("app-explorer-tr"));
    model->setLanguage(VornLanguage::en);
    EXPECT_EQ(view->sendButton()->label(), QString::fromUtf8("Send →"));

    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    QTest::mouseClick(view->sendButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(vornReadFile(right / "from-left.txt"), "left side");
    explorerWaitListed(*model->rightPane());
    ASSERT_FALSE(model->rightPane()->selectedPaths().empty());
    QTest::mouseClick(view->pullButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return finished.count() == 2; }));
    EXPECT_EQ(vornReadFile(left / "from-right.txt"), "right side");

    // Sync plans the panes as they are when it is pressed.
    left.write("only-left.txt", "new");
    model->refresh(model->leftPane());
    explorerWaitListed(*model->leftPane());
    QTest::mouseClick(view->syncButton(), Qt::LeftButton);
    EXPECT_TRUE(model->showingSyncSheet());
    ASSERT_TRUE(viewsWaitFor([&] { return !model->isComputingSyncPlan(); }));
    const auto& plan = model->syncPlanItems();
    EXPECT_TRUE(std::any_of(plan.begin(), plan.end(),
                            [](const SyncPlanItem& item) { return item.relativeName() == "only-left.txt"; }));
    model->setShowingSyncSheet(false);

    // Swap exchanges the places; the titles stay on their sides.
    QTest::mouseClick(view->swapButton(), Qt::LeftButton);
    EXPECT_EQ(model->leftPane()->currentPath(), right.path().string());
    EXPECT_EQ(model->rightPane()->currentPath(), left.path().string());
    explorerWaitListed(*model->leftPane());
    explorerWaitListed(*model->rightPane());
    EXPECT_EQ(view->leftCard()->sideTitleLabel()->text(), "LEFT PANE");
    EXPECT_EQ(view->leftCard()->pathField()->text(), QString::fromStdString(right.path().string()));
    EXPECT_GE(explorerRowOf(*view->leftCard(), "from-left.txt"), 0);
}

// A folder of hostile names (spaces, quotes, a line break, bytes that are not UTF-8, a name of
// 255 bytes) is listed folders first, clicked, filtered, renamed and deleted to the Trash, and
// every byte of every other name survives.
TEST_F(ViewsTest, HostileNamesAreListedSelectedFilteredRenamedAndTrashed) {
    const std::string longName = std::string(251, 'n') + ".txt";
    const std::string invalid = std::string("caf\xe9 \xff\xfe.bin");
    const std::vector<std::pair<std::string, std::string>> files{
        {"with space.txt", "space"}, {"quote\"and'apostrophe.txt", "quotes"}, {"line\nbreak.txt", "line break"},
        {invalid, "not utf-8"},       {longName, "long name"},
    };
    for (const auto& [name, contents] : files) {
        left.write(name, contents);
    }
    fs::create_directory(left / "Zeta folder");
    left.write("Zeta folder/inside.txt", "inside");
    auto model = makeModel();
    PaneBrowserState& pane = *model->leftPane();
    VornGroundBackground ground(VornProductPalette::deepCoral);
    PaneBrowserCard* card = &showPaneCard(ground, pane, *model, QSize(620, 560));

    ASSERT_EQ(pane.entries().size(), 6u);
    EXPECT_EQ(card->listingState(), PaneBrowserCard::ListingState::list);
    EXPECT_TRUE(pane.entryList()->rows().front().isDirectory) << "folders come first";
    EXPECT_EQ(card->countsLabel()->text(), "6 items • 0 selected");
    EXPECT_EQ(card->selectFilesButton()->label(), "Select Files");
    EXPECT_EQ(card->endpointButton()->leadingSymbol(), "laptopcomputer");
    EXPECT_EQ(card->endpointButton()->text(), "This Computer");
    EXPECT_FALSE(card->editConnectionButton()->isVisible());
    EXPECT_FALSE(card->linkButton()->isVisible());
    EXPECT_FALSE(card->deleteButton()->isEnabled());

    // A click waits for the double-click interval before it toggles; a second click undoes it.
    SledPaneListView& list = *card->listView();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, explorerRowCentre(*card, invalid));
    EXPECT_EQ(list.pendingClickPath(), (left / invalid).string());
    EXPECT_TRUE(pane.selectedPaths().empty());
    ASSERT_TRUE(viewsWaitFor([&] { return pane.selectedPaths().size() == 1; }));
    EXPECT_EQ(*pane.selectedPaths().begin(), (left / invalid).string()) << "the path's bytes are kept";
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, explorerRowCentre(*card, "with space.txt"));
    list.applyPendingClick();
    EXPECT_EQ(pane.selectedPaths().size(), 2u);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, explorerRowCentre(*card, "with space.txt"));
    list.applyPendingClick();
    EXPECT_EQ(pane.selectedPaths().size(), 1u);
    EXPECT_EQ(card->countsLabel()->text(), "6 items • 1 selected");
    EXPECT_TRUE(card->previewButton()->isEnabled());
    EXPECT_TRUE(card->renameButton()->isEnabled());
    snapshot(ground, QStringLiteral("app-explorer-hostile-names-en"));

    // Renaming the name that is not UTF-8: the shown text unchanged, or only padded, renames
    // nothing; a new name renames the very file.
    QTest::mouseClick(card->renameButton(), Qt::LeftButton);
    ASSERT_TRUE(card->renameRow()->isVisible());
    EXPECT_EQ(card->renameField()->placeholderText(),
              QStringLiteral("New name for ") + sledDisplayText(invalid) + QStringLiteral("…"));
    EXPECT_FALSE(card->commitRenameButton()->isEnabled());
    card->renameField()->setText(QStringLiteral("  ") + sledDisplayText(invalid) + QStringLiteral(" "));
    EXPECT_TRUE(card->commitRenameButton()->isEnabled());
    QTest::keyClick(card->renameField(), Qt::Key_Return);
    EXPECT_TRUE(card->renameRow()->isVisible());
    EXPECT_TRUE(fs::exists(left / invalid));
    card->renameField()->setText(QStringLiteral("cafe.bin"));
    QTest::mouseClick(card->commitRenameButton(), Qt::LeftButton);
    EXPECT_FALSE(card->renameRow()->isVisible());
    ASSERT_TRUE(viewsWaitFor([&] { return model->toastMessage().value_or("").find("cafe.bin") != std::string::npos; }));
    EXPECT_TRUE(fs::exists(left / "cafe.bin"));
    EXPECT_FALSE(fs::exists(left / invalid));
    EXPECT_EQ(vornReadFile(left / "cafe.bin"), "not utf-8");
    explorerWaitListed(pane);

    // The filter narrows the list; one that matches nothing shows the empty state and hides the
    // select-files button; the selection outlives it.
    QTest::keyClicks(card->filterField(), QStringLiteral("QUOTE"));
    EXPECT_EQ(pane.searchQuery(), "QUOTE");
    EXPECT_EQ(pane.entryList()->rowCount(), 1);
    EXPECT_EQ(card->countsLabel()->text(), "1 items • 1 selected");
    card->filterField()->setText(QStringLiteral("no such name"));
    EXPECT_EQ(card->listingState(), PaneBrowserCard::ListingState::empty);
    EXPECT_EQ(card->emptyLabel()->text(), "Empty folder — drop files here to upload");
    EXPECT_FALSE(card->selectFilesButton()->isVisible());
    card->filterField()->clear();
    EXPECT_EQ(card->listingState(), PaneBrowserCard::ListingState::list);

    // The context menu acts on the clicked entry: Delete trashes it alone and clears the rest.
    const SledFileEntry lineBreak = explorerEntry(*card, "line\nbreak.txt");
    std::unique_ptr<QMenu> menu(card->buildContextMenu(lineBreak, card));
    EXPECT_EQ(explorerActionTexts(*menu),
              (QStringList{"Quick Preview / Edit", "—", QString::fromUtf8("Rename…"), "Delete"}));
    explorerAction(*menu, "Delete")->trigger();
    ASSERT_TRUE(viewsWaitFor([&] { return !fs::exists(left / "line\nbreak.txt"); }));
    EXPECT_TRUE(trashHolds("line break")) << "deleted to the Trash, never unlinked";
    ASSERT_TRUE(viewsWaitFor([&] { return pane.selectedPaths().empty() && !pane.isLoading(); }));
    for (const auto& [name, contents] : files) {
        if (name != invalid && name != "line\nbreak.txt") {
            EXPECT_EQ(vornReadFile(left / name), contents) << name;
        }
    }

    // A folder's menu offers Rename and Delete only; a double click opens it, and on a file it
    // opens the preview.
    const SledFileEntry folder = explorerEntry(*card, "Zeta folder");
    std::unique_ptr<QMenu> folderMenu(card->buildContextMenu(folder, card));
    EXPECT_EQ(explorerActionTexts(*folderMenu), (QStringList{QString::fromUtf8("Rename…"), "Delete"}));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, explorerRowCentre(*card, "Zeta folder"));
    EXPECT_FALSE(list.pendingClickPath().has_value());
    EXPECT_EQ(pane.currentPath(), (left / "Zeta folder").string());
    explorerWaitListed(pane);
    EXPECT_EQ(card->pathField()->text(), QString::fromStdString((left / "Zeta folder").string()));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, explorerRowCentre(*card, "inside.txt"));
    EXPECT_TRUE(model->showingPreviewSheet());
    EXPECT_TRUE(pane.selectedPaths().empty()) << "a double click selects nothing";
    ASSERT_TRUE(viewsWaitFor([&] { return !model->isLoadingPreview(); }));
    model->setShowingPreviewSheet(false);
    QTest::mouseClick(card->upButton(), Qt::LeftButton);
    EXPECT_EQ(pane.currentPath(), left.path().string());
    explorerWaitListed(pane);
    EXPECT_GE(explorerRowOf(*card, longName), 0);
}

// The path field is a draft: typing moves nothing, so the other commands still act on the folder
// shown; Return lists the typed folder; navigating resets the draft; a relative path is refused.
// A rename row opened before a navigation renames its entry where it lives.
TEST_F(ViewsTest, ThePathFieldIsADraftAndARenameActsWhereItsEntryLives) {
    left.write("docs/a.txt", "a");
    left.write("b.txt", "b");
    auto model = makeModel();
    PaneBrowserState& pane = *model->leftPane();
    PaneBrowserCard card(pane, *model, true);
    card.resize(620, 520);
    card.show();

    card.pathField()->selectAll();
    QTest::keyClicks(card.pathField(), QString::fromStdString((left / "do").string()));
    EXPECT_EQ(pane.currentPath(), left.path().string()) << "typing does not move the pane";
    QTest::mouseClick(card.newFolderButton(), Qt::LeftButton);
    ASSERT_TRUE(card.newFolderRow()->isVisible());
    EXPECT_FALSE(card.createButton()->isEnabled());
    QTest::keyClicks(card.newFolderField(), QStringLiteral("   "));
    EXPECT_FALSE(card.createButton()->isEnabled()) << "blanks only";
    QTest::keyClick(card.newFolderField(), Qt::Key_Return);
    EXPECT_TRUE(card.newFolderRow()->isVisible());
    QTest::keyClicks(card.newFolderField(), QStringLiteral("made "));
    EXPECT_TRUE(card.createButton()->isEnabled());
    QTest::keyClick(card.newFolderField(), Qt::Key_Return);
    EXPECT_FALSE(card.newFolderRow()->isVisible());
    ASSERT_TRUE(viewsWaitFor([&] { return fs::is_directory(left / "made"); }));
    EXPECT_FALSE(fs::exists(left / "do")) << "created in the folder shown, not the half-typed one";
    EXPECT_EQ(card.pathField()->text(), QString::fromStdString((left / "do").string())) << "the draft stays";

    // Return lists what was typed: a missing folder shows the error with Retry.
    QTest::keyClick(card.pathField(), Qt::Key_Return);
    EXPECT_EQ(pane.currentPath(), (left / "do").string());
    explorerWaitListed(pane);
    EXPECT_EQ(card.listingState(), PaneBrowserCard::ListingState::error);
    EXPECT_EQ(card.retryButton()->label(), "Retry");
    EXPECT_FALSE(card.errorLabel()->text().isEmpty());
    fs::create_directory(left / "do");
    QTest::mouseClick(card.retryButton(), Qt::LeftButton);
    explorerWaitListed(pane);
    EXPECT_EQ(card.listingState(), PaneBrowserCard::ListingState::empty);

    // A relative path is refused and the pane stays.
    card.pathField()->setText(QStringLiteral("relative/path"));
    QTest::keyClick(card.pathField(), Qt::Key_Return);
    EXPECT_EQ(pane.currentPath(), (left / "do").string());
    EXPECT_EQ(model->toastMessage(), "Type a full path that starts with /.");
    EXPECT_TRUE(model->toastIsError());

    // Navigating resets the draft.
    card.pathField()->setText(QStringLiteral("/half typed"));
    QTest::mouseClick(card.upButton(), Qt::LeftButton);
    EXPECT_EQ(card.pathField()->text(), QString::fromStdString(left.path().string()));
    explorerWaitListed(pane);

    // A rename row opened in docs outlives the way back up and still renames in docs.
    model->openDirectory(explorerEntry(card, "docs"), &pane);
    explorerWaitListed(pane);
    pane.setSelectedPaths({(left / "docs" / "a.txt").string()});
    QTest::mouseClick(card.renameButton(), Qt::LeftButton);
    ASSERT_TRUE(card.renameRow()->isVisible());
    QTest::mouseClick(card.upButton(), Qt::LeftButton);
    explorerWaitListed(pane);
    EXPECT_TRUE(card.renameRow()->isVisible()) << "navigation leaves the row open";
    card.renameField()->setText(QStringLiteral("renamed.txt"));
    QTest::keyClick(card.renameField(), Qt::Key_Return);
    ASSERT_TRUE(viewsWaitFor([&] { return fs::exists(left / "docs" / "renamed.txt"); }));
    EXPECT_FALSE(fs::exists(left / "renamed.txt"));
    EXPECT_EQ(vornReadFile(left / "b.txt"), "b");
}

// The footer's label compares sets, as its press does; Delete asks first when the filter hides
// some of what is selected, names how many, and deletes nothing on "no".
TEST_F(ViewsTest, TheFooterComparesSetsAndDeletingHiddenEntriesAsksFirst) {
    for (const char* name : {"keep-1.txt", "keep-2.txt", "other.txt"}) {
        left.write(name, name);
    }
    fs::create_directory(left / "folder");
    auto confirmation = std::make_shared<ExplorerTestConfirmation>();
    auto environment = this->environment();
    environment.confirmation = confirmation;
    auto model = std::make_unique<SledViewModel>(environment);
    PaneBrowserState& pane = *model->leftPane();
    explorerWaitListed(pane);
    PaneBrowserCard card(pane, *model, true);
    card.resize(620, 520);
    card.show();

    const std::set<std::string> files{(left / "keep-1.txt").string(), (left / "keep-2.txt").string(),
                                      (left / "other.txt").string()};
    QTest::mouseClick(card.selectFilesButton(), Qt::LeftButton);
    EXPECT_EQ(pane.selectedPaths(), files);
    EXPECT_EQ(card.selectFilesButton()->label(), "Clear");
    // As many selected as there are files, but one of them a folder: the sets differ.
    pane.setSelectedPaths({(left / "folder").string(), (left / "keep-1.txt").string(), (left / "keep-2.txt").string()});
    EXPECT_EQ(card.selectFilesButton()->label(), "Select Files");
    QTest::mouseClick(card.selectFilesButton(), Qt::LeftButton);
    EXPECT_EQ(pane.selectedPaths(), files) << "the press selects exactly the files";
    QTest::mouseClick(card.selectFilesButton(), Qt::LeftButton);
    EXPECT_TRUE(pane.selectedPaths().empty());

    pane.setSelectedPaths(files);
    card.filterField()->setText(QStringLiteral("keep"));
    EXPECT_EQ(card.countsLabel()->text(), "2 items • 3 selected");
    confirmation->answer = false;
    QTest::mouseClick(card.deleteButton(), Qt::LeftButton);
    ASSERT_EQ(confirmation->asked.size(), 1u);
    EXPECT_EQ(confirmation->asked.back().first, "Delete Hidden Items?");
    EXPECT_EQ(confirmation->asked.back().second, "1 of the 3 selected items are hidden by the filter. Delete all 3?");
    QTest::qWait(0);
    for (const std::string& file : files) {
        EXPECT_TRUE(fs::exists(file)) << file;
    }

    // Nothing hidden: no question.
    pane.setSelectedPaths({(left / "keep-1.txt").string()});
    QTest::mouseClick(card.deleteButton(), Qt::LeftButton);
    EXPECT_EQ(confirmation->asked.size(), 1u);
    ASSERT_TRUE(viewsWaitFor([&] { return model->toastMessage() == "Deleted 1 item(s)"; }));
    EXPECT_FALSE(fs::exists(left / "keep-1.txt"));
    explorerWaitListed(pane);

    pane.setSelectedPaths({(left / "keep-2.txt").string(), (left / "other.txt").string()});
    confirmation->answer = true;
    QTest::mouseClick(card.deleteButton(), Qt::LeftButton);
    ASSERT_EQ(confirmation->asked.size(), 2u);
    ASSERT_TRUE(viewsWaitFor([&] { return !fs::exists(left / "other.txt") && !fs::exists(left / "keep-2.txt"); }));
}

// Files dropped from the file manager are copied into the pane's folder, names' bytes and all;
// the highlight shows during the drag only; a drop without files is refused.
TEST_F(ViewsTest, DroppedLocalFilesAreCopiedIntoThePaneFolder) {
    VornTestTempDir outside;
    const std::string odd = std::string("dropped \xff name.txt");
    outside.write(odd, "dropped bytes");
    outside.write("plain.txt", "plain");
    fs::create_directory(outside / "a folder");
    auto model = makeModel();
    PaneBrowserCard card(*model->rightPane(), *model, false);
    card.resize(620, 520);
    card.show();

    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    const ExplorerDropOutcome outcome = explorerDrop(
        card, {explorerFileURL(outside / odd), explorerFileURL(outside / "plain.txt"), explorerFileURL(outside / "a folder")});
    EXPECT_TRUE(outcome.highlightedDuringDrag);
    EXPECT_FALSE(outcome.highlightedAfterDrop);
    EXPECT_TRUE(outcome.accepted);
    ASSERT_TRUE(viewsWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(vornReadFile(right / odd), "dropped bytes");
    EXPECT_EQ(vornReadFile(right / "plain.txt"), "plain");
    EXPECT_FALSE(fs::exists(right / "a folder")) << "folders are not copied by a drop";

    const ExplorerDropOutcome refused = explorerDrop(card, {QUrl(QStringLiteral("https://example.com/file.txt"))});
    EXPECT_FALSE(refused.accepted);
    EXPECT_FALSE(refused.highlightedAfterDrop);
}

// The header follows the selection (preview and the link menu need a file, rename exactly one
// entry, delete any), previews the first selected file in listing order, and its bookmark menu
// toggles the folder and jumps to a bookmark of another pane's place; the new-folder button
// shows and hides its row and keeps the typed name.
TEST_F(ViewsTest, TheHeaderFollowsTheSelectionAndTheBookmarkMenuToggledAndJumps) {
    left.write("b-second.txt", "second");
    left.write("a-first.txt", "first");
    fs::create_directory(left / "folder");
    auto model = makeModel();
    PaneBrowserState& pane = *model->leftPane();
    PaneBrowserCard card(pane, *model, true);
    PaneBrowserCard other(*model->rightPane(), *model, false);
    card.resize(620, 420);
    card.show();

    pane.setSelectedPaths({(left / "folder").string()});
    EXPECT_FALSE(card.previewButton()->isEnabled());
    EXPECT_TRUE(card.renameButton()->isEnabled());
    EXPECT_TRUE(card.deleteButton()->isEnabled());
    pane.setSelectedPaths({(left / "b-second.txt").string(), (left / "a-first.txt").string()});
    EXPECT_TRUE(card.previewButton()->isEnabled());
    EXPECT_FALSE(card.renameButton()->isEnabled());
    QTest::mouseClick(card.previewButton(), Qt::LeftButton);
    EXPECT_TRUE(model->showingPreviewSheet());
    ASSERT_TRUE(viewsWaitFor([&] { return !model->isLoadingPreview(); }));
    ASSERT_TRUE(model->previewResult().has_value());
    EXPECT_EQ(model->previewResult()->fileName, "a-first.txt") << "the first in listing order";
    model->setShowingPreviewSheet(false);

    std::unique_ptr<QMenu> menu(card.buildBookmarkMenu(&card));
    EXPECT_EQ(explorerActionTexts(*menu), QStringList{"Bookmark Current Folder"});
    EXPECT_EQ(card.bookmarkButton()->leadingSymbol(), "star");
    explorerAction(*menu, "Bookmark Current Folder")->trigger();
    EXPECT_TRUE(model->isCurrentPathBookmarked(&pane));
    EXPECT_EQ(card.bookmarkButton()->leadingSymbol(), "star.fill");
    menu.reset(card.buildBookmarkMenu(&card));
    const QString bookmark = QStringLiteral("This Computer: ") + QString::fromStdString(left.path().filename().string()) +
                             QStringLiteral("  (") + QString::fromStdString(left.path().string()) + QStringLiteral(")");
    EXPECT_EQ(explorerActionTexts(*menu), (QStringList{"Remove Current Path Bookmark", "—", bookmark}));

    // The right pane jumps to the left pane's bookmark.
    std::unique_ptr<QMenu> otherMenu(other.buildBookmarkMenu(&other));
    explorerAction(*otherMenu, bookmark)->trigger();
    EXPECT_EQ(model->rightPane()->currentPath(), left.path().string());
    EXPECT_EQ(other.pathField()->text(), QString::fromStdString(left.path().string()));
    explorerWaitListed(*model->rightPane());

    explorerAction(*menu, "Remove Current Path Bookmark")->trigger();
    EXPECT_FALSE(model->isCurrentPathBookmarked(&pane));
    EXPECT_EQ(card.bookmarkButton()->leadingSymbol(), "star");

    QTest::mouseClick(card.newFolderButton(), Qt::LeftButton);
    QTest::keyClicks(card.newFolderField(), QStringLiteral("kept"));
    QTest::mouseClick(card.newFolderButton(), Qt::LeftButton);
    EXPECT_FALSE(card.newFolderRow()->isVisible());
    QTest::mouseClick(card.newFolderButton(), Qt::LeftButton);
    EXPECT_TRUE(card.newFolderRow()->isVisible());
    EXPECT_EQ(card.newFolderField()->text(), "kept");
    // Starting a rename closes the new-folder row.
    card.beginRename(explorerEntry(card, "folder"));
    EXPECT_FALSE(card.newFolderRow()->isVisible());
    EXPECT_TRUE(card.renameRow()->isVisible());
    QTest::mouseClick(card.cancelRenameButton(), Qt::LeftButton);
    EXPECT_FALSE(card.renameRow()->isVisible());
}

// The keyboard alone: Tab reaches the list and shows a focus row, the arrows move it, Space
// toggles exactly as a click does (other selected paths stay), Enter opens a folder or previews a
// file, and no other key touches the listing or the selection.
TEST_F(ViewsTest, TheListIsReachedAndUsedWithTheKeyboardAlone) {
    fs::create_directory(left / "docs");
    left.write("docs/inner.txt", "inner");
    left.write("a-first.txt", "first");
    left.write("b-second.txt", "second");
    auto model = makeModel();
    PaneBrowserState& pane = *model->leftPane();
    VornGroundBackground ground(VornProductPalette::deepCoral);
    PaneBrowserCard* card = &showPaneCard(ground, pane, *model, QSize(620, 420));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&ground));
    SledPaneListView& list = *card->listView();
    ASSERT_EQ(pane.entryList()->rows().size(), 3u);

    // Tab from the filter field lands on the list, with the focus row on the first entry (the folder).
    card->filterField()->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), &list);
    EXPECT_EQ(list.currentIndex().row(), explorerRowOf(*card, "docs"));
    snapshot(ground, "explorer-keyboard-focus-row");

    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.currentIndex().row(), explorerRowOf(*card, "b-second.txt")) << "the last row stops the arrow";
    QTest::keyClick(&list, Qt::Key_Up);
    EXPECT_EQ(list.currentIndex().row(), explorerRowOf(*card, "a-first.txt"));

    // Space toggles the focus row and keeps the rest of the selection, as a click does.
    pane.setSelectedPaths({(left / "b-second.txt").string()});
    QTest::keyClick(&list, Qt::Key_Space);
    EXPECT_EQ(pane.selectedPaths(), (std::set<std::string>{(left / "a-first.txt").string(),
                                                            (left / "b-second.txt").string()}));
    QTest::keyClick(&list, Qt::Key_Space);
    EXPECT_EQ(pane.selectedPaths(), std::set<std::string>{(left / "b-second.txt").string()});

    // Keys the list does not take: no delete, no select-all, no jump, no type-ahead, no range.
    const std::set<std::string> before = pane.selectedPaths();
    const int row = list.currentIndex().row();
    for (const auto& [key, modifiers] : std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
             {Qt::Key_Delete, {}}, {Qt::Key_Backspace, {}}, {Qt::Key_A, Qt::ControlModifier},
             {Qt::Key_End, {}}, {Qt::Key_Home, {}}, {Qt::Key_PageDown, {}}, {Qt::Key_B, {}},
             {Qt::Key_Down, Qt::ShiftModifier}, {Qt::Key_Space, Qt::ControlModifier}, {Qt::Key_F2, {}}}) {
        QTest::keyClick(&list, key, modifiers);
        EXPECT_EQ(pane.selectedPaths(), before) << key;
        EXPECT_EQ(list.currentIndex().row(), row) << key;
    }
    EXPECT_TRUE(fs::exists(left / "b-second.txt"));
    EXPECT_EQ(pane.currentPath(), left.path().string());
    EXPECT_FALSE(model->showingPreviewSheet());

    // Enter previews a file and opens a folder.
    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_TRUE(model->showingPreviewSheet());
    ASSERT_TRUE(viewsWaitFor([&] { return !model->isLoadingPreview(); }));
    ASSERT_TRUE(model->previewResult().has_value());
    EXPECT_EQ(model->previewResult()->fileName, "a-first.txt");
    model->setShowingPreviewSheet(false);
    QTest::keyClick(&list, Qt::Key_Up);
    QTest::keyClick(&list, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(pane.currentPath(), (left / "docs").string());
    explorerWaitListed(pane);
    // The new listing starts the focus row again at its top.
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.currentIndex().row(), explorerRowOf(*card, "inner.txt"));
}

// A listing error that is one long unbroken word (a deep path of long names) wraps inside the
// pane, scrolls past its few lines instead of reaching past the card, and can be copied whole.
TEST_F(ViewsTest, AListingErrorWrapsScrollsAndCopiesWhole) {
    auto model = makeModel();
    MainSledWorkspaceView workspace(*model);
    workspace.resize(1080, 680);
    workspace.show();
    auto* view = dynamic_cast<DualPaneExplorerView*>(workspace.page(SledWorkspaceTab::dualPane));
    ASSERT_NE(view, nullptr);
    PaneBrowserCard& card = *view->leftCard();
    fs::path missing = left.path();
    for (const char letter : {'a', 'b', 'c', 'd', 'e'}) {
        missing /= std::string(240, letter);
    }
    card.pathField()->setText(QString::fromStdString(missing.string()));
    QTest::keyClick(card.pathField(), Qt::Key_Return);
    explorerWaitListed(*model->leftPane());
    ASSERT_EQ(card.listingState(), PaneBrowserCard::ListingState::error);
    QCoreApplication::processEvents();

    VornMessageText& message = *card.errorLabel();
    ASSERT_TRUE(model->leftPane()->errorMessage().has_value());
    EXPECT_EQ(message.text(), QString::fromStdString(*model->leftPane()->errorMessage())) << "whole, not elided";
    EXPECT_TRUE(message.isVisible());
    EXPECT_LE(message.document()->size().width(), message.viewport()->width() + 1);
    EXPECT_LE(message.mapTo(&card, QPoint(message.width(), 0)).x(), card.width()) << "inside the card";
    EXPECT_GT(message.verticalScrollBar()->maximum(), 0) << "longer than its lines: it scrolls";
    EXPECT_TRUE(message.isReadOnly());
    snapshot(workspace, QStringLiteral("app-explorer-long-error-en"));
    message.selectAll();
    message.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), message.text());

    // In Turkish the system's reason reads in Turkish too, the path as it is.
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(card.retryButton()->label(), QString::fromUtf8("Tekrar Dene"));
    QTest::mouseClick(card.retryButton(), Qt::LeftButton);
    explorerWaitListed(*model->leftPane());
    ASSERT_EQ(card.listingState(), PaneBrowserCard::ListingState::error);
    EXPECT_EQ(message.text(), QString::fromUtf8("Böyle bir dosya ya da klasör yok: ") + QString::fromStdString(missing.string()));
    snapshot(workspace, QStringLiteral("app-explorer-long-error-tr"));
    model->setLanguage(VornLanguage::en);
}
