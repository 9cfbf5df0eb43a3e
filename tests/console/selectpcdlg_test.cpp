// The PC selection dialog with its computer browser, and the folder browser, answered as a user
// would answer them; the known computers come from the test's own SSH configuration and hosts file.
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>
#include <gtest/gtest.h>
#include <string>

#include "console/selectpcdlg.h"
#include "consolekit.h"
#include "testkit.h"

namespace {

// The computers this PC knows, from files of the test; mDNS is off. Restores the environment.
class KnownComputers : public testing::Test {
protected:
    void SetUp() override
    {
        WriteTextFile(Dir / "ssh_config", "Host relay-a\nHost *.lan\n");
        WriteTextFile(Dir / "hosts", "127.0.0.1 localhost\n192.168.5.5 shop-pc-12\n");
        Set("FERRIX_SSH", "ssh -F " + (Dir / "ssh_config"));
        Set("FERRIX_HOSTS_FILE", Dir / "hosts");
        Set("FERRIX_AVAHI_BROWSE", "");
    }
    void TearDown() override
    {
        for (const auto& [name, value] : Saved) {
            if (value.has_value())
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void Set(const std::string& name, const std::string& value)
    {
        const char* old = std::getenv(name.c_str());
        Saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }

    TempDir Dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

// Answers the next computer browser: checks its list, picks the row (or cancels for -1).
void AnswerComputerBrowser(int row, QStringList* shown, int* preselected)
{
    AnswerNextModal([=](QWidget* modal) {
        auto* list = modal->findChild<QListWidget*>();
        auto* buttons = modal->findChild<QDialogButtonBox*>();
        ASSERT_NE(list, nullptr);
        ASSERT_NE(buttons, nullptr);
        for (int n = 0; n < list->count(); ++n)
            shown->append(list->item(n)->text());
        *preselected = list->currentRow();
        if (row < 0) {
            buttons->button(QDialogButtonBox::Cancel)->click();
            return;
        }
        list->setCurrentRow(row);
        buttons->button(QDialogButtonBox::Ok)->click();
    });
}

}  // namespace

TEST(SelectPcDlg, PromptsInTwoLinesWithOkAsDefaultAndTheTabOrder)
{
    TSelectPcDlg dialog(nullptr);
    EXPECT_EQ(dialog.LabPrompt->text().split('\n'),
              QStringList({"Type PC name or select PC from Network Neighborhood.",
                           "Leave the name box blank if you mean this PC."}));
    EXPECT_TRUE(dialog.BtnOK->isDefault());
    EXPECT_TRUE(dialog.EdPc->text().isEmpty());
    dialog.show();
    dialog.BtnOK->setFocus();
    ASSERT_TRUE(WaitForEvents([&] { return dialog.BtnOK->hasFocus(); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(dialog.BtnCancel->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(dialog.EdPc->hasFocus());
}

TEST(SelectPcDlg, OkHandsOnTheNameAsTypedAndEscCancels)
{
    TSelectPcDlg dialog(nullptr);
    dialog.SetPcName("Shop-PC.07");
    AnswerNextModal([&](QWidget* modal) {
        EXPECT_EQ(modal, &dialog);
        QTest::keyClick(dialog.EdPc, Qt::Key_Return);  // Enter presses the default button
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetPcName(), "Shop-PC.07");

    AnswerNextModal([&](QWidget*) { QTest::keyClick(dialog.EdPc, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);

    dialog.SetPcName("");
    AnswerNextModal([&](QWidget*) { dialog.BtnOK->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetPcName(), "");
}

TEST(SelectPcDlg, OkRefusesANameThatIsNoPcNameAndKeepsTheDialogOpen)
{
    TSelectPcDlg dialog(nullptr);
    QString text;
    AnswerNextModal([&](QWidget*) {
        for (const char* name : {"-oProxyCommand=reboot", "shop;reboot", "  Shop-PC 07 "}) {
            dialog.SetPcName(name);
            AnswerNextBox(&text);
            dialog.BtnOK->click();
        }
        dialog.SetPcName("root@shop-07");
        dialog.BtnOK->click();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetPcName(), "root@shop-07");
    EXPECT_TRUE(text.startsWith("\"  Shop-PC 07 \" is not a PC name: a PC name is a host name")) << text.toStdString();
}

TEST_F(KnownComputers, TheBrowsersChoiceReplacesTheNameAndCancelKeepsIt)
{
    TSelectPcDlg dialog(nullptr);
    dialog.SetPcName("relay-a");
    QStringList shown;
    int preselected = 0;
    AnswerComputerBrowser(-1, &shown, &preselected);
    dialog.BtnPc->click();
    EXPECT_EQ(shown, QStringList({"relay-a", "shop-pc-12"}));
    EXPECT_EQ(preselected, -1) << "the incoming name preselects nothing";
    EXPECT_EQ(dialog.GetPcName(), "relay-a");

    dialog.SetPcName(" typed name ");
    shown.clear();
    AnswerComputerBrowser(1, &shown, &preselected);
    dialog.BtnPc->click();
    EXPECT_EQ(dialog.GetPcName(), "shop-pc-12");
}

TEST(BrowseForFolder, StartsInThePathAndReturnsTheChosenDirectory)
{
    TempDir dir;
    MakeDirWithFiles(dir / "data/comptage", {});
    std::string path = dir / "data";
    QString shownTitle;
    QString startedIn;
    AnswerNextModal([&](QWidget* modal) {
        auto* browser = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(browser, nullptr);
        shownTitle = browser->windowTitle();
        startedIn = browser->directory().absolutePath();
        browser->setDirectory(QString::fromStdString(dir / "data/comptage"));
        static_cast<QDialog*>(browser)->accept();
    });
    EXPECT_TRUE(BrowseForFolder(nullptr, "Select target directory", path));
    EXPECT_EQ(shownTitle, "Select target directory");
    EXPECT_EQ(startedIn.toStdString(), dir / "data");
    EXPECT_EQ(path, dir / "data/comptage");

    // Confirming at once gives the preselected directory itself.
    AnswerNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->accept(); });
    EXPECT_TRUE(BrowseForFolder(nullptr, "Select target directory", path));
    EXPECT_EQ(path, dir / "data/comptage");
}

TEST(BrowseForFolder, AMissingPathPreselectsNothingAndCancelKeepsIt)
{
    TempDir dir;
    MakeDirWithFiles(dir / "data", {});
    std::string path = dir / "data/not-there/any";
    QString startedIn;
    AnswerNextModal([&](QWidget* modal) {
        startedIn = qobject_cast<QFileDialog*>(modal)->directory().absolutePath();
        qobject_cast<QDialog*>(modal)->reject();
    });
    EXPECT_FALSE(BrowseForFolder(nullptr, "Select target directory", path));
    EXPECT_EQ(path, dir / "data/not-there/any");
    EXPECT_EQ(startedIn, QDir::homePath()) << "never a cut-down parent of the missing path";
}
