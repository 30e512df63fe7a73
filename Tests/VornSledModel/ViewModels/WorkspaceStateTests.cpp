#include "ModelTestSupport.h"

#include <QMetaProperty>
#include <QSignalSpy>

TEST_F(ModelTest, StartsWithBothPanesOnThisComputerAndTheStoredSettings) {
    left.write("b.txt", "b");
    left.write("a.txt", "a");
    left.write("sub/c.txt", "c");
    SledSettings stored;
    stored.parallelWorkers = 3;
    SledProfileRepository(data.path()).saveSettings(stored);

    auto model = makeModel();
    EXPECT_EQ(model->activeTab(), SledWorkspaceTab::dualPane);
    EXPECT_EQ(model->leftPane()->endpoint(), PaneEndpoint::local());
    EXPECT_EQ(model->leftPane()->currentPath(), left.path().string());
    EXPECT_EQ(model->rightPane()->currentPath(), right.path().string());
    EXPECT_EQ(names(model->leftPane()->entries()), (std::vector<std::string>{"sub", "a.txt", "b.txt"}));
    EXPECT_TRUE(model->leftPane()->listingIsCurrent());
    EXPECT_EQ(model->leftPane()->entryList()->rowCount(), 3);
    EXPECT_EQ(model->settings().parallelWorkers, 3);
    EXPECT_TRUE(model->profiles().empty());
    EXPECT_FALSE(model->isLANServerRunning());
    EXPECT_EQ(model->activeLANPort(), 0);
    EXPECT_EQ(model->endpointTitle(PaneEndpoint::local()), "This Computer");
    EXPECT_EQ(model->endpointTitle(PaneEndpoint::remote(VornUUID::random())), "Remote");
}

TEST_F(ModelTest, LanguageTogglesBetweenEnglishAndTurkishAndSetsTheCurrentLanguage) {
    auto model = makeModel();
    struct Case {
        VornLanguage from;
        VornLanguage to;
    };
    for (const Case& c : {Case{VornLanguage::en, VornLanguage::tr}, Case{VornLanguage::tr, VornLanguage::en},
                          Case{VornLanguage::de, VornLanguage::en}}) {
        model->setLanguage(c.from);
        QSignalSpy changed(model.get(), &SledViewModel::languageChanged);
        model->toggleLanguage();
        EXPECT_EQ(model->language(), c.to);
        EXPECT_EQ(VornLanguage::current(), c.to);
        EXPECT_EQ(changed.count(), 1);
    }
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(model->endpointTitle(PaneEndpoint::local()), "Bu Bilgisayar");
    model->setLanguage(VornLanguage::en);
}

TEST_F(ModelTest, ANewToastReplacesTheShownOneAndRestartsItsDismissal) {
    auto model = makeModel();
    model->showToast("first", true);
    model->showToast("second", false);
    EXPECT_EQ(model->toastMessage(), "second");
    EXPECT_FALSE(model->toastIsError());
    // One dismissal follows, the second toast's: the first one's was cancelled.
    QSignalSpy hidden(model.get(), &SledViewModel::toastMessageChanged);
    ASSERT_TRUE(modelWaitFor([&] { return !model->toastMessage(); }));
    EXPECT_EQ(hidden.count(), 1);
    EXPECT_FALSE(model->toastIsError());
}

TEST_F(ModelTest, CopyTextRevealAndClearingFinishedTransfers) {
    auto model = makeModel();
    ModelToastLog toasts(*model);
    model->copyText("payload", "");
    EXPECT_EQ(clipboard->value, "payload");
    EXPECT_EQ(model->toastMessage(), "Copied ");

    model->revealPathInFinder((left.path() / "missing").string());
    EXPECT_TRUE(revealer->revealed.empty());
    const auto file = left.write("here.txt", "x");
    model->revealPathInFinder(file.string());
    ASSERT_EQ(revealer->revealed.size(), 1u);
    EXPECT_EQ(revealer->revealed[0], file);

    // Receipts of every status, then a clear: only completed and cancelled ones go.
    std::vector<SledTransferRecord> records;
    for (SledTransferStatus status : {SledTransferStatus::queued, SledTransferStatus::completed,
                                      SledTransferStatus::failed, SledTransferStatus::cancelled,
                                      SledTransferStatus::transferring, SledTransferStatus::verifying}) {
        SledTransferRecord record;
        record.id = VornUUID::random();
        record.fileName = std::string(rawValue(status));
        record.status = status;
        records.push_back(record);
    }
    model->transferList()->insertFrontBatch(records);
    model->clearCompletedTransfers();
    std::vector<std::string> left;
    for (const SledTransferRecord& record : model->transfers()) {
        left.push_back(record.fileName);
    }
    EXPECT_EQ(left, (std::vector<std::string>{"verifying", "transferring", "failed", "queued"}));
    // The id index follows the removal.
    EXPECT_EQ(model->transferList()->rowOf(records[0].id), 3);
    EXPECT_EQ(model->transferList()->rowOf(records[1].id), -1);
}

TEST_F(ModelTest, BookmarksToggleAndEverySettingsChangeGoesThroughOnePath) {
    auto model = makeModel();
    ModelToastLog toasts(*model);
    QSignalSpy settingsChanged(model.get(), &SledViewModel::settingsChanged);
    model->jumpToBookmark({VornUUID::random(), "root", PaneEndpoint::local(), "/"}, model->leftPane());
    waitForListing(*model->leftPane());
    EXPECT_FALSE(model->isCurrentPathBookmarked(model->leftPane()));
    model->toggleBookmark(model->leftPane());
    ASSERT_EQ(model->settings().bookmarks.size(), 1u);
    EXPECT_EQ(model->settings().bookmarks[0].label, "This Computer: /");
    EXPECT_EQ(toasts.last(), "Bookmarked: This Computer: /");
    EXPECT_TRUE(model->isCurrentPathBookmarked(model->leftPane()));
    // Stored, as the next start reads it.
    EXPECT_EQ(SledProfileRepository(data.path()).currentSnapshot().settings.bookmarks.size(), 1u);
    model->toggleBookmark(model->leftPane());
    EXPECT_TRUE(model->settings().bookmarks.empty());
    EXPECT_EQ(toasts.last(), "Removed bookmark: This Computer: /");
    EXPECT_EQ(settingsChanged.count(), 2);

    // A restart is asked for, but nothing runs: saving never starts the LAN server.
    SledSettings changed = model->settings();
    changed.lanPort = 0;
    model->saveSettings(changed, true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->isLANServerRunning());
    EXPECT_EQ(SledProfileRepository(data.path()).currentSnapshot().settings.lanPort, 0);
}

// Views listen instead of polling: every published value of the model and of a pane has its
// change signal.
TEST_F(ModelTest, EveryPublishedPropertyHasAChangeSignal) {
    for (const QMetaObject* type : {&SledViewModel::staticMetaObject, &PaneBrowserState::staticMetaObject}) {
        int published = 0;
        for (int index = type->propertyOffset(); index < type->propertyCount(); ++index) {
            const QMetaProperty property = type->property(index);
            if (property.isConstant()) {
                continue;
            }
            ++published;
            ASSERT_TRUE(property.hasNotifySignal()) << type->className() << "::" << property.name();
            EXPECT_EQ(QByteArray(property.notifySignal().name()), QByteArray(property.name()) + "Changed")
                << type->className() << "::" << property.name();
        }
        EXPECT_GE(published, type == &SledViewModel::staticMetaObject ? 30 : 8) << type->className();
    }
}
