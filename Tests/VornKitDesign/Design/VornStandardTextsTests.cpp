#include "VornLanguage.h"
#include "VornStandardTexts.h"
#include "VornUserDefaults.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

class VornStandardTextsTest : public ::testing::Test {
protected:
    void TearDown() override { VornUserDefaults::standard().remove(VornLanguage::defaultsKey); }
};

QStringList actionTexts(QMenu& menu) {
    QStringList texts;
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator()) {
            texts << action->text().section(QLatin1Char('\t'), 0, 0);
        }
    }
    return texts;
}

}  // namespace

// Qt's own dialogs and menus follow the chosen language, made anew after each change: the
// message box's buttons, the edit menus of a field and of a selectable label, and the file
// chooser's labels; English keeps Qt's texts.
TEST_F(VornStandardTextsTest, QtsOwnDialogsAndMenusSpeakTheChosenLanguage) {
    struct Case {
        VornLanguage language;
        QString yes, no, cancel, copy, selectAll, lookIn;
    };
    for (const Case& c : {Case{VornLanguage::tr, "Evet", "Hayır", "İptal", "Kopyala", "Tümünü Seç", "Konum:"},
                          Case{VornLanguage::en, "&Yes", "&No", "Cancel", "&Copy", "Select All", "Look in:"}}) {
        VornLanguage::setCurrent(c.language);
        QMessageBox box(QMessageBox::Question, "t", "m", QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        EXPECT_EQ(box.button(QMessageBox::Yes)->text(), c.yes);
        EXPECT_EQ(box.button(QMessageBox::No)->text(), c.no);
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), c.cancel);
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Close);
        EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text(), c.language == VornLanguage::tr ? "Tamam" : "OK");

        QLineEdit field;
        field.setText("text");
        std::unique_ptr<QMenu> fieldMenu(field.createStandardContextMenu());
        EXPECT_TRUE(actionTexts(*fieldMenu).contains(c.copy)) << actionTexts(*fieldMenu).join('|').toStdString();
        EXPECT_TRUE(actionTexts(*fieldMenu).contains(c.selectAll)) << actionTexts(*fieldMenu).join('|').toStdString();

        QFileDialog chooser(nullptr, "t");
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        const QList<QLabel*> labels = chooser.findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel* label) { return label->text() == c.lookIn; }));
    }
}
