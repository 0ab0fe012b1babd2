// The Mail Profiles dialog's list and its buttons: Set as Default and Remove change the same file
// "orvane profile" changes, Remove only after asking, and the list shows what the file holds.
#include "app/cli/Cli.h"
#include "app/gui/profiles/DlgMailProfiles.h"
#include "core/MessageBoxes.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"

#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Name and default column of each row.
std::vector<std::pair<std::string, std::string>> Rows(const DlgMailProfiles& dialog) {
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = dialog.List()->topLevelItem(i);
        rows.emplace_back(item->text(DlgMailProfiles::kName).toStdString(),
                          item->text(DlgMailProfiles::kDefault).toStdString());
    }
    return rows;
}

void Select(DlgMailProfiles& dialog, const QString& name) {
    for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = dialog.List()->topLevelItem(i);
        item->setSelected(item->text(DlgMailProfiles::kName) == name);
    }
}

} // namespace

TEST(MailProfilesList, SetsTheDefaultAndRemovesAfterAsking) {
    MailFixture mail;
    mail.UseProfile("Office");
    mail.AddProfile("Lab", mail.Directory());
    QueuedMessageBoxes boxes;
    DlgMailProfiles dialog(nullptr);
    dialog.show();
    using RowList = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(Rows(dialog), (RowList{{"Office", "yes"}, {"Lab", "no"}}));
    auto* makeDefault = dialog.findChild<QPushButton*>("defaultButton");
    auto* remove = dialog.findChild<QPushButton*>("removeButton");
    ASSERT_TRUE(makeDefault && remove);

    Select(dialog, "Office");
    EXPECT_FALSE(makeDefault->isEnabled()) << "the default already";
    Select(dialog, "Lab");
    ASSERT_TRUE(makeDefault->isEnabled());
    QTest::mouseClick(makeDefault, Qt::LeftButton);
    EXPECT_EQ(Rows(dialog), (RowList{{"Office", "no"}, {"Lab", "yes"}}));
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.DefaultName(), "Lab");

    // No: nothing is removed. Yes: the default goes, and the dialog says what that leaves.
    boxes.Answer(IDNO);
    QTest::mouseClick(remove, Qt::LeftButton);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Remove the mail profile \"Lab\"?");
    EXPECT_EQ(Rows(dialog).size(), 2u);
    boxes.Answer(IDYES);
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(Rows(dialog), (RowList{{"Office", "no"}}));
    EXPECT_EQ(dialog.Notice().toStdString(),
              "There is no default profile now; choose one with: orvane profile set NAME "
              "--default");
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.Find("Lab"), nullptr);
    EXPECT_EQ(profiles.DefaultName(), "");
}
