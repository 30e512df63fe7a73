#include "ModelTestSupport.h"

#include <QSignalSpy>


// Linux names are bytes: a name that is not UTF-8 is listed, selected, copied and deleted as
// exactly those bytes, and only its display text is made readable.
TEST_F(ModelTest, NamesThatAreNotUTF8TravelAsTheirBytes) {
    const std::string latin1 = "caf\xE9.txt";
    left.write(latin1, "bytes");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    PaneBrowserState& from = *model->leftPane();
    ASSERT_EQ(names(from.entries()), (std::vector<std::string>{latin1}));
    const QModelIndex row = from.entryList()->index(0);
    EXPECT_EQ(from.entryList()->data(row, SledRawRole).toByteArray(),
              QByteArray::fromStdString((left / latin1).string()));
    EXPECT_EQ(from.entryList()->data(row, Qt::DisplayRole).toString(), QString::fromUtf8("caf\uFFFD.txt"));

    select(from, {latin1});
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->transferSelected(&from, model->rightPane());
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(vornReadFile(right / latin1), "bytes");
    EXPECT_EQ(model->transfers().front().fileName, latin1);

    select(from, {latin1});
    model->deleteSelected(&from);
    ASSERT_TRUE(modelWaitFor([&] { return toasts.last() == "Deleted 1 item(s)"; }));
    EXPECT_FALSE(std::filesystem::exists(left / latin1));
    EXPECT_TRUE(std::filesystem::exists(right / latin1));
}
