#include "SledTransferQueueView.h"
#include "ViewsTestSupport.h"
#include "VornButtons.h"

#include <QLabel>
#include <QListView>

#include <fstream>

// The transfer list on real transfers between two folders of this computer: the empty state, a
// verified row whose badge copies the whole digest, a failed row with its error, Clear Completed,
// and both languages.
TEST_F(ViewsTest, TransferListShowsRealTransfersAndCopiesTheFullDigest) {
    auto model = makeModel();
    SledTransferQueueView view(*model);
    view.resize(1200, 560);
    view.show();

    EXPECT_TRUE(view.showsEmptyState());
    EXPECT_FALSE(view.clearButton()->isVisible());
    EXPECT_EQ(view.emptyLabel()->text(), "No transfers yet. Send files across panes or sled via LAN Drop.");
    snapshot(view, QStringLiteral("app-transfers-empty-en"));

    for (const char* name : {"report.pdf", "vanishing.bin"}) {
        std::ofstream(left.path() / name) << std::string(300'000, 'x') << name;
    }
    model->refresh(model->leftPane());
    ASSERT_TRUE(viewsWaitFor([&] { return model->leftPane()->entries().size() == 2; }));
    model->leftPane()->setSelectedPaths({(left.path() / "report.pdf").string(), (left.path() / "vanishing.bin").string()});
    // The listing still shows it, but the file is gone by the time it is copied.
    std::filesystem::remove(left.path() / "vanishing.bin");
    model->transferSelected(model->leftPane(), model->rightPane());
    ASSERT_TRUE(viewsWaitFor([&] {
        return model->transfers().size() == 2 &&
               std::all_of(model->transfers().begin(), model->transfers().end(), [](const SledTransferRecord& r) {
                   return r.status == SledTransferStatus::completed || r.status == SledTransferStatus::failed;
               });
    }));
    EXPECT_FALSE(view.showsEmptyState());
    EXPECT_TRUE(view.clearButton()->isVisible());

    const auto& rows = model->transfers();
    const auto verified = std::find_if(rows.begin(), rows.end(), [](const SledTransferRecord& r) { return r.isSHA256Verified; });
    ASSERT_NE(verified, rows.end());
    ASSERT_TRUE(verified->sha256Hex.has_value());
    const auto failed = std::find_if(rows.begin(), rows.end(), [](const SledTransferRecord& r) {
        return r.status == SledTransferStatus::failed;
    });
    ASSERT_NE(failed, rows.end());
    EXPECT_TRUE(failed->errorMessage.has_value());
    EXPECT_EQ(SledTransferRowDelegate::badgeText("abc"), QString::fromUtf8("SHA-256 abc\u2026"));
    EXPECT_EQ(SledTransferRowDelegate::badgeText(*verified->sha256Hex),
              QString::fromUtf8("SHA-256 ") + QString::fromStdString(verified->sha256Hex->substr(0, 10)) + QChar(0x2026));

    // A click on the badge copies the whole digest.
    const int verifiedRow = static_cast<int>(verified - rows.begin());
    const QModelIndex index = model->transferList()->index(verifiedRow);
    const QRect rowRect = view.listView()->visualRect(index);
    const QRectF badge = view.delegate()->badgeRect(*verified, QRectF(rowRect).adjusted(0, 0, 0, -SledTransferRowDelegate::rowGap));
    ASSERT_FALSE(badge.isEmpty());
    QTest::mouseClick(view.listView()->viewport(), Qt::LeftButton, {}, badge.center().toPoint());
    EXPECT_EQ(clipboard->value, *verified->sha256Hex);
    EXPECT_EQ(model->toastMessage(), "Copied SHA-256");

    snapshot(view, QStringLiteral("app-transfers-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(view.clearButton()->label(), QString::fromUtf8("Tamamlananları Temizle"));
    EXPECT_EQ(view.titleLabel()->text(), QString::fromUtf8("Paralel Ağ Transferleri ve SHA-256 Bütünlük Kaydı"));
    snapshot(view, QStringLiteral("app-transfers-tr"));
    model->setLanguage(VornLanguage::en);

    // Clear Completed keeps the failed record, so the list and its button stay.
    QTest::mouseClick(view.clearButton(), Qt::LeftButton);
    ASSERT_EQ(model->transfers().size(), 1u);
    EXPECT_EQ(model->transfers().front().status, SledTransferStatus::failed);
    EXPECT_FALSE(view.showsEmptyState());
    EXPECT_TRUE(view.clearButton()->isVisible());
}

// A transfer that fails while the interface is in Turkish keeps a Turkish reason with its paths,
// not the C library's English words.
TEST_F(ViewsTest, AFailedTransferReadsInTheChosenLanguage) {
    auto model = makeModel();
    SledTransferQueueView view(*model);
    view.resize(1200, 560);
    view.show();
    model->setLanguage(VornLanguage::tr);
    std::ofstream(left.path() / "vanishing.bin") << std::string(1000, 'x');
    model->refresh(model->leftPane());
    ASSERT_TRUE(viewsWaitFor([&] { return model->leftPane()->entries().size() == 1; }));
    model->leftPane()->setSelectedPaths({(left.path() / "vanishing.bin").string()});
    std::filesystem::remove(left.path() / "vanishing.bin");
    model->transferSelected(model->leftPane(), model->rightPane());
    ASSERT_TRUE(viewsWaitFor([&] {
        return model->transfers().size() == 1 && model->transfers().front().status == SledTransferStatus::failed;
    }));
    const std::string error = model->transfers().front().errorMessage.value_or("");
    EXPECT_TRUE(error.starts_with("Böyle bir dosya ya da klasör yok: ")) << error;
    EXPECT_NE(error.find((left.path() / "vanishing.bin").string()), std::string::npos) << error;
    snapshot(view, QStringLiteral("app-transfers-failed-tr"));
    model->setLanguage(VornLanguage::en);
}
