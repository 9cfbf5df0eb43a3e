// The base settings dialog on real settings files: what it shows, what OK writes (and leaves
// byte for byte), and what Cancel, a refusing Validate and an error leave unwritten.
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

#include "console/basesvc_configdlg.h"
#include "consolekit.h"
#include "testkit.h"

namespace {

// A settings file as a save writes it, with directories 1 to 63 filled and keys and sections
// that the settings model does not know.
std::string SettingsFile(int seconds)
{
    std::string text = "; written by hand\n[General]\nLogDetailed=0\nTimeBetweenActions=" + std::to_string(seconds) +
                       "\nExactTimeMode=0\nExactTime=07:30 18:00\nCustomKey = kept as it is \n";
    for (int n = 0; n < 64; ++n)
        text += "[Directory" + std::to_string(n) + "]\nTrackDirectory=" + (n == 0 ? "/srv/data" : "/srv/d" + std::to_string(n)) + "\n";
    return text + "[Extra]\nanything=goes ; here\n\n";
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::unique_ptr<TBaseSvcConfigDlg> OpenDialog(const std::string& path, const std::string& pcName = "")
{
    return DlgClassOf<TBaseSvcConfigDlg>()(nullptr, pcName, path, ConfigClassOf<TBaseFtConfig>());
}

// Shows the dialog modally and runs action in it; returns the modal result.
int RunModal(QDialog& dialog, const std::function<void()>& action)
{
    AnswerNextModal([action](QWidget*) { action(); });
    return dialog.exec();
}

// Refuses every OK, or raises, and counts its calls.
class TRefusingDlg : public TBaseSvcConfigDlg {
public:
    using TBaseSvcConfigDlg::TBaseSvcConfigDlg;
    void Validate(TBaseFtConfig& configuration, bool& refuse) override
    {
        ++Calls;
        if (Raise)
            throw Exception("Le répertoire n'existe pas");
        refuse = configuration.GetTrackDirectory(0) != "/srv/accepted";
    }
    int Calls = 0;
    bool Raise = false;
};

}  // namespace

TEST(BaseSvcConfigDlg, IntervalsShownInWholeMinutesWithinTheRangeAndSavedInSeconds)
{
    struct Case {
        int Seconds, Shown, Saved;
    };
    for (const Case& c : {Case{90, 1, 60}, Case{30, 1, 60}, Case{7200, 60, 3600}, Case{600, 10, 600}}) {
        TempDir dir;
        const std::string original = SettingsFile(c.Seconds);
        WriteTextFile(dir / "ferrix_local.ini", original);
        auto dialog = OpenDialog(dir / "ferrix_local.ini");
        EXPECT_EQ(dialog->SeFreq->value(), c.Shown) << c.Seconds;
        EXPECT_EQ(RunModal(*dialog, [&] { dialog->BtnOK->click(); }), QDialog::Accepted);
        // Only the interval line changes: unknown keys, sections and directories 1 to 63 stay.
        EXPECT_EQ(ReadTextFile(dir / "ferrix_local.ini"),
                  Replaced(original, "TimeBetweenActions=" + std::to_string(c.Seconds),
                           "TimeBetweenActions=" + std::to_string(c.Saved)));
    }
}

// Only the class reference builds a dialog: it runs FormCreate, which makes the settings object.
TEST(BaseSvcConfigDlg, NoDialogWithoutItsSettingsObject)
{
    static_assert(!std::is_constructible_v<TBaseSvcConfigDlg, QWidget*, const std::string&, const std::string&,
                                           TBaseFtConfigClass>);
    static_assert(!std::is_default_constructible_v<TDlgCreateKey>);
}

TEST(BaseSvcConfigDlg, OkStoresTheEditedControls)
{
    TempDir dir;
    WriteTextFile(dir / "ferrix_local.ini", SettingsFile(300));
    auto dialog = OpenDialog(dir / "ferrix_local.ini");
    EXPECT_EQ(dialog->windowTitle(), "Rurivure Service Parameters");
    EXPECT_EQ(dialog->EdCentralizationDir->text(), "/srv/data");
    EXPECT_FALSE(dialog->CbLogDetailed->isChecked());
    dialog->EdCentralizationDir->setText(" /srv/new data ");
    dialog->CbLogDetailed->setChecked(true);
    dialog->SeFreq->setValue(45);
    EXPECT_EQ(RunModal(*dialog, [&] { QTest::keyClick(dialog->EdCentralizationDir, Qt::Key_Return); }),
              QDialog::Accepted);
    TBaseFtConfig saved;
    saved.LoadFromFile(dir / "ferrix_local.ini");
    // Stored as typed; the INI file drops the blanks around a value, as INI files do.
    EXPECT_EQ(dialog->Config->GetTrackDirectory(0), " /srv/new data ");
    EXPECT_EQ(saved.GetTrackDirectory(0), "/srv/new data");
    EXPECT_TRUE(saved.LogDetailed);
    EXPECT_EQ(saved.TimeBetweenActions, 2700);
    EXPECT_EQ(saved.GetTrackDirectory(63), "/srv/d63");
}

TEST(BaseSvcConfigDlg, CancelEscAndClosingWriteNothing)
{
    TempDir dir;
    const std::string original = SettingsFile(120);
    WriteTextFile(dir / "ferrix_local.ini", original);
    auto dialog = OpenDialog(dir / "ferrix_local.ini");
    dialog->EdCentralizationDir->setText("/elsewhere");
    dialog->SeFreq->setValue(7);
    EXPECT_EQ(RunModal(*dialog, [&] { dialog->BtnCancel->click(); }), QDialog::Rejected);
    EXPECT_EQ(RunModal(*dialog, [&] { QTest::keyClick(dialog->EdCentralizationDir, Qt::Key_Escape); }),
              QDialog::Rejected);
    EXPECT_EQ(RunModal(*dialog, [&] { dialog->close(); }), QDialog::Rejected);
    EXPECT_EQ(ReadTextFile(dir / "ferrix_local.ini"), original);
}

TEST(BaseSvcConfigDlg, ARefusingValidateKeepsTheDialogOpenSilentlyAndWritesNothing)
{
    TempDir dir;
    const std::string original = SettingsFile(120);
    WriteTextFile(dir / "ferrix_local.ini", original);
    auto dialog = DlgClassOf<TRefusingDlg>()(nullptr, "", dir / "ferrix_local.ini", ConfigClassOf<TBaseFtConfig>());
    auto& refusing = static_cast<TRefusingDlg&>(*dialog);
    bool openAfterOk = false;
    std::string fileAfterOk;
    const int result = RunModal(*dialog, [&] {
        dialog->BtnOK->click();  // a message box here would block and fail the test
        openAfterOk = dialog->isVisible() && QApplication::activeModalWidget() == dialog.get();
        fileAfterOk = ReadTextFile(dir / "ferrix_local.ini");
        dialog->EdCentralizationDir->setText("/srv/accepted");
        dialog->BtnOK->click();
    });
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(fileAfterOk, original);
    EXPECT_EQ(refusing.Calls, 2);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(ReadTextFile(dir / "ferrix_local.ini"),
              Replaced(original, "TrackDirectory=/srv/data", "TrackDirectory=/srv/accepted"));
}

TEST(BaseSvcConfigDlg, AnErrorOfOkIsShownInAnInformationBoxAndTheDialogStaysOpen)
{
    TempDir dir;
    const std::string original = SettingsFile(120);
    WriteTextFile(dir / "ferrix_local.ini", original);
    auto dialog = DlgClassOf<TRefusingDlg>()(nullptr, "", dir / "ferrix_local.ini", ConfigClassOf<TBaseFtConfig>());
    static_cast<TRefusingDlg&>(*dialog).Raise = true;
    QString text;
    int icon = 0;
    int format = -1;
    bool openAfterBox = false;
    const int result = RunModal(*dialog, [&] {
        AnswerNextBox(&text, QMessageBox::Ok, &icon, &format);
        dialog->BtnOK->click();
        openAfterBox = dialog->isVisible();
        dialog->reject();
    });
    EXPECT_EQ(text, "Le répertoire n'existe pas");
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(format, Qt::PlainText);  // the text is shown as it stands, never as markup
    EXPECT_TRUE(openAfterBox);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(ReadTextFile(dir / "ferrix_local.ini"), original);
}

TEST(BaseSvcConfigDlg, AFileThatCannotBeWrittenKeepsTheDialogOpenAndANewFileIsPrivate)
{
    TempDir dir;
    const std::string original = SettingsFile(120);
    WriteTextFile(dir / "ferrix_local.ini", original);
    chmod((dir / "ferrix_local.ini").c_str(), 0444);
    auto dialog = OpenDialog(dir / "ferrix_local.ini");
    dialog->SeFreq->setValue(9);
    QString text;
    bool openAfterBox = false;
    int result = RunModal(*dialog, [&] {
        AnswerNextBox(&text);
        dialog->BtnOK->click();
        openAfterBox = dialog->isVisible();
        chmod((dir / "ferrix_local.ini").c_str(), 0644);
        dialog->BtnOK->click();
    });
    EXPECT_EQ(text.toStdString(), "Unable to write to " + (dir / "ferrix_local.ini"));
    EXPECT_TRUE(openAfterBox);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(ReadTextFile(dir / "ferrix_local.ini"), Replaced(original, "TimeBetweenActions=120", "TimeBetweenActions=540"));

    auto fresh = OpenDialog(dir / "new.ini");
    result = RunModal(*fresh, [&] { fresh->BtnOK->click(); });
    struct stat st {};
    ASSERT_EQ(stat((dir / "new.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(result, QDialog::Accepted);
}

TEST(BaseSvcConfigDlg, BrowseButtonOnlyForThisPcAndTheChosenFolderReplacesTheText)
{
    TempDir dir;
    MakeDirWithFiles(dir / "data/chosen", {});
    WriteTextFile(dir / "ferrix_local.ini", SettingsFile(60));
    EXPECT_TRUE(OpenDialog(dir / "ferrix_local.ini", "shop-pc")->BtnBrowseDir->isHidden());
    auto dialog = OpenDialog(dir / "ferrix_local.ini");
    EXPECT_FALSE(dialog->BtnBrowseDir->isHidden());

    dialog->EdCentralizationDir->setText(QString::fromStdString(dir / "data"));
    AnswerNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    dialog->BtnBrowseDir->click();
    EXPECT_EQ(dialog->EdCentralizationDir->text().toStdString(), dir / "data");

    QString title;
    AnswerNextModal([&](QWidget* modal) {
        auto* browser = qobject_cast<QFileDialog*>(modal);
        title = browser->windowTitle();
        EXPECT_EQ(browser->directory().absolutePath().toStdString(), dir / "data");
        browser->setDirectory(QString::fromStdString(dir / "data/chosen"));
        static_cast<QDialog*>(browser)->accept();
    });
    dialog->BtnBrowseDir->click();
    EXPECT_EQ(title, "Select target directory");
    EXPECT_EQ(dialog->EdCentralizationDir->text().toStdString(), dir / "data/chosen");
}

TEST(BaseSvcConfigDlg, AnEmptyFileNameMeansCfgLocalIniInTheCurrentDirectory)
{
    TempDir dir;
    TCurrentDirectory current(dir.Path());
    ASSERT_TRUE(current.Saved);
    WriteTextFile(dir / "cfg_local.ini", "[General]\nTimeBetweenActions=1200\n");
    auto dialog = OpenDialog("");
    const int shown = dialog->SeFreq->value();
    dialog->SeFreq->setValue(3);
    const int result = RunModal(*dialog, [&] { dialog->BtnOK->click(); });
    TBaseFtConfig saved;
    saved.LoadFromFile(dir / "cfg_local.ini");
    EXPECT_EQ(dialog->IniFileName, "cfg_local.ini");
    EXPECT_EQ(shown, 20);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(saved.TimeBetweenActions, 180);
}
