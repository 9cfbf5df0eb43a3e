// The transport settings dialog on real settings files and a phonebook directory of the test:
// the normalisation and the shop-name rule, the mapping of every control, the enabling of the
// controls, and the Test button on a temporary settings object.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <optional>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "console/ferrix_configdlg2.h"
#include "console/ferrix_conntest.h"
#include "consolekit.h"
#include "foundation/trcnst.h"
#include "testkit.h"

namespace {

const char* const Chain = "Nom du magasin non spécifié! Vous devez indiquer le nom du magasin.";

std::string MessageOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no error)";
}

// FTP settings that the dialog accepts as they are.
void SetFtp(TTransportConfig& config)
{
    config.Transport = TRANSPORT_FTP;
    config.Username = "chain";
    config.DestinationDirectory = "shop";
    config.Password = "secret";
}

std::string Normalized(TTransportConfig& config)
{
    return MessageOf([&] { TFerrixConfigDlg::NormalizeConfig(config); });
}

// Counts the connectivity test dialogs that were shown.
class TTestDialogWatch : public QObject {
public:
    TTestDialogWatch() { qApp->installEventFilter(this); }
    ~TTestDialogWatch() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<TConnectionTestDlg*>(watched) != nullptr)
            ++Shown;
        return false;
    }
    int Shown = 0;
};

// A settings file and a phonebook with two dial-up entries, both in a directory of the test.
class TransportDialog : public testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("RAS_PHONEBOOK_DIR");
        OldPhonebook = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        MakeDirWithFiles(Dir / "peers", {"isp-one", "isp-two"});
        setenv("RAS_PHONEBOOK_DIR", (Dir / "peers").c_str(), 1);
    }
    void TearDown() override
    {
        if (OldPhonebook.has_value())
            setenv("RAS_PHONEBOOK_DIR", OldPhonebook->c_str(), 1);
        else
            unsetenv("RAS_PHONEBOOK_DIR");
    }
    // Saves the settings as the file and opens the dialog on it.
    std::unique_ptr<TFerrixConfigDlg> Open(const TTransportConfig& settings)
    {
        settings.SaveToFile(Path());
        Original = ReadTextFile(Path());
        auto dialog = DlgClassOf<TFerrixConfigDlg>()(nullptr, "", Path(), ConfigClassOf<TTransportConfig>());
        return std::unique_ptr<TFerrixConfigDlg>(static_cast<TFerrixConfigDlg*>(dialog.release()));
    }
    // Presses OK in the shown dialog; returns the message of an information box, or "" when the
    // dialog closed.
    std::string PressOk(TFerrixConfigDlg& dialog)
    {
        QString text;
        // Answers a box of OK while it is open; ends with this call, so it never meets another test.
        QTimer boxWatch;
        boxWatch.setInterval(5);
        QObject::connect(&boxWatch, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        AnswerNextModal([&](QWidget*) {
            boxWatch.start();
            dialog.BtnOK->click();
            boxWatch.stop();
            if (dialog.isVisible())
                dialog.reject();
        });
        const int result = dialog.exec();
        if (result == QDialog::Accepted)
            return "";
        return text.isEmpty() ? "(rejected)" : text.toStdString();
    }
    std::unique_ptr<TFerrixConfigDlg> OpenFtp()
    {
        TTransportConfig settings;
        SetFtp(settings);
        return Open(settings);
    }
    std::unique_ptr<TTransportConfig> Saved() const
    {
        auto saved = std::make_unique<TTransportConfig>();
        saved->LoadFromFile(Path());
        return saved;
    }
    std::string Path() const { return Dir / "ferrix_local.ini"; }

    TempDir Dir;
    std::string Original;
    std::optional<std::string> OldPhonebook;
};

}  // namespace

TEST(CheckShopName, BlanksGoAndOnlyPrintableAsciiIsAccepted)
{
    EXPECT_EQ(CheckShopName(" Shop 12 b~!"), "SHOP12B~!");
    EXPECT_EQ(MessageOf([] { CheckShopName("   "); }), Chain);
    // The name in the message is the one without blanks.
    EXPECT_EQ(MessageOf([] { CheckShopName("Ca fé"); }), "Mauvais charactère 'é' dans le nom du magasin Café");
    EXPECT_EQ(MessageOf([] { CheckShopName("x\x7f"); }), "Mauvais charactère '\x7f' dans le nom du magasin x\x7f");
}

TEST(NormalizeConfig, FtpChainShopPasswordAndDestination)
{
    TTransportConfig config;
    SetFtp(config);
    config.Username = " .\\chain 1";
    config.DestinationDirectory = "shop 7";
    config.Password = "  pass word \t";
    config.Destinations[0] = "  ftp.example.com\t";
    config.ProxyUser = " proxy ";
    config.ProxyPassword = "\tpp ";
    EXPECT_EQ(Normalized(config), "(no error)");
    EXPECT_EQ(config.Username, "CHAIN1");
    EXPECT_EQ(config.DestinationDirectory, "SHOP7");
    EXPECT_EQ(config.Password, "pass word");
    EXPECT_EQ(config.Destinations[0], "ftp.example.com");
    EXPECT_EQ(config.ProxyUser, "proxy");
    EXPECT_EQ(config.ProxyPassword, "pp");
}

TEST(NormalizeConfig, FtpRefusals)
{
    TTransportConfig emptyChain;
    SetFtp(emptyChain);
    emptyChain.Username = ".\\";
    EXPECT_EQ(Normalized(emptyChain), Chain) << "the chain is examined before the filled shop";
    TTransportConfig accent;
    SetFtp(accent);
    accent.DestinationDirectory = "Café";
    EXPECT_EQ(Normalized(accent), "Mauvais charactère 'é' dans le nom du magasin Café");
    TTransportConfig tab;
    SetFtp(tab);
    tab.DestinationDirectory = "Shop\t1";
    EXPECT_EQ(Normalized(tab), "Mauvais charactère '\t' dans le nom du magasin Shop\t1");
    TTransportConfig blanks;
    SetFtp(blanks);
    blanks.Password = "   ";
    EXPECT_EQ(Normalized(blanks), "Password is not specified");
    TTransportConfig noTimes;
    SetFtp(noTimes);
    noTimes.ExactTimeMode = true;
    noTimes.ExactTime.SetText("");
    EXPECT_EQ(Normalized(noTimes), "Check time is not specified");
}

TEST(NormalizeConfig, CopyAccountForms)
{
    struct Case {
        const char* User;
        const char* Password;
        const char* StoredUser;
        const char* StoredPassword;
    };
    for (const Case& c : {Case{"", "pw", ".\\LocalSystem", ""}, Case{"bob", "pw", ".\\bob", "pw"},
                          Case{"\\bob", "pw", ".\\bob", "pw"}, Case{"DOMAIN\\bob", "pw", "DOMAIN\\bob", "pw"},
                          Case{"localsystem", "pw", ".\\localsystem", ""}, Case{" alice ", " pw ", ".\\alice", "pw"}}) {
        TTransportConfig config;
        config.Username = c.User;
        config.Password = c.Password;
        config.Destinations[0] = " /srv/dest ";
        EXPECT_EQ(Normalized(config), "(no error)") << c.User;
        EXPECT_EQ(config.Username, c.StoredUser);
        EXPECT_EQ(config.Password, c.StoredPassword) << c.User;
        EXPECT_EQ(config.Destinations[0], " /srv/dest ") << "COPY leaves the destination alone";
        EXPECT_EQ(config.DestinationDirectory, "") << "COPY does not check the shop";
    }
}

TEST_F(TransportDialog, AnUnchangedDialogWritesTheFileBackByteForByte)
{
    TTransportConfig settings;
    SetFtp(settings);
    settings.Username = "CHAIN";
    settings.DestinationDirectory = "SHOP";
    settings.Destinations = {"ftp.example.com", "backup.example.com"};
    settings.Connection = "isp-two";
    settings.DisconnDelay = 30;
    settings.Port = 2121;
    settings.PassiveMode = true;
    settings.ProxyType = 4;
    settings.ProxyHost = "proxy.lan";
    settings.ProxyPort = 3128;
    settings.ProxyUser = "pu";
    settings.ProxyPassword = "pp";
    settings.TimeBetweenActions = 600;
    settings.ExactTimeMode = true;
    settings.ExactTime.SetText("06:15 18:00");
    for (int n = 0; n < 64; ++n)
        settings.SetTrackDirectory(n, "/srv/data" + std::to_string(n));
    settings.SaveToFile(Path());
    WriteTextFile(Path(), ReadTextFile(Path()) + "[Unknown]\nkey = value\n");
    const std::string original = ReadTextFile(Path());
    auto dialog = DlgClassOf<TFerrixConfigDlg>()(nullptr, "", Path(), ConfigClassOf<TTransportConfig>());
    auto& transport = static_cast<TFerrixConfigDlg&>(*dialog);
    EXPECT_EQ(transport.SeFreq->value(), 10);
    EXPECT_TRUE(transport.RbExactTime->isChecked());
    EXPECT_EQ(transport.EdExactTimes->text(), "06:15 18:00");
    EXPECT_EQ(transport.CbProxyType->currentText(), "USER-PASS");
    EXPECT_EQ(transport.CbInetConn->currentText(), "isp-two");
    EXPECT_EQ(transport.CbDisconnDelay->currentText(), "30");
    EXPECT_TRUE(transport.CbDestination1->isChecked());
    EXPECT_EQ(PressOk(transport), "");
    EXPECT_EQ(ReadTextFile(Path()), original);
}

TEST_F(TransportDialog, IntervalUpToFourHoursAndTheTimeModeEnabling)
{
    TTransportConfig settings;
    SetFtp(settings);
    settings.TimeBetweenActions = 7200;
    auto dialog = Open(settings);
    EXPECT_EQ(dialog->SeFreq->value(), 120);
    EXPECT_TRUE(dialog->RbRegular->isChecked());
    EXPECT_TRUE(dialog->SeFreq->isEnabled());
    EXPECT_FALSE(dialog->EdExactTimes->isEnabled());
    dialog->RbExactTime->click();
    EXPECT_FALSE(dialog->SeFreq->isEnabled());
    EXPECT_FALSE(dialog->LabMin->isEnabled());
    EXPECT_TRUE(dialog->EdExactTimes->isEnabled());
    dialog->RbRegular->click();
    EXPECT_EQ(PressOk(*dialog), "");
    EXPECT_EQ(Saved()->TimeBetweenActions, 7200);

    settings.TimeBetweenActions = 86400;
    settings.ExactTimeMode = true;
    auto exact = Open(settings);
    EXPECT_EQ(exact->SeFreq->value(), 240);
    EXPECT_FALSE(exact->SeFreq->isEnabled());
    EXPECT_TRUE(exact->EdExactTimes->isEnabled());
}

TEST_F(TransportDialog, TypedIntervalAboveTheRangeIsSavedAsFourHours)
{
    auto dialog = OpenFtp();
    dialog->SeFreq->selectAll();
    QTest::keyClicks(dialog->SeFreq, "300");
    EXPECT_EQ(PressOk(*dialog), "");
    EXPECT_EQ(Saved()->TimeBetweenActions, 240 * 60);
}

TEST_F(TransportDialog, CheckTimesAreParsedInEitherModeAndRequiredInExactTimeMode)
{
    auto dialog = OpenFtp();
    dialog->RbExactTime->click();
    dialog->EdExactTimes->clear();
    EXPECT_EQ(PressOk(*dialog), "Check time is not specified");
    dialog->RbRegular->click();
    dialog->EdExactTimes->setText("08:00 25:99");
    EXPECT_EQ(PressOk(*dialog), "Wrong time value \"25:99\"");
    EXPECT_EQ(ReadTextFile(Path()), Original);
    dialog->EdExactTimes->clear();
    EXPECT_EQ(PressOk(*dialog), "");
    EXPECT_FALSE(Saved()->ExactTimeMode);

    auto again = OpenFtp();
    again->RbExactTime->click();
    again->EdExactTimes->setText("17:45 07:05");
    EXPECT_EQ(PressOk(*again), "");
    EXPECT_TRUE(Saved()->ExactTimeMode);
    EXPECT_EQ(Saved()->ExactTime.GetText(), "07:05 17:45");
}

TEST_F(TransportDialog, ShopNameMessagesComeFromOkAndLeaveTheFile)
{
    auto dialog = OpenFtp();
    dialog->EdUser->setText("");
    dialog->EdDestDir->setText("Café");
    EXPECT_EQ(PressOk(*dialog), Chain);
    dialog->EdUser->setText(".\\chain 1");
    EXPECT_EQ(PressOk(*dialog), "Mauvais charactère 'é' dans le nom du magasin Café");
    EXPECT_EQ(ReadTextFile(Path()), Original);
    dialog->EdDestDir->setText("shop 9");
    EXPECT_EQ(PressOk(*dialog), "");
    EXPECT_EQ(Saved()->Username, "CHAIN1");
    EXPECT_EQ(Saved()->DestinationDirectory, "SHOP9");
}

TEST_F(TransportDialog, DialUpEntriesAndTheDisconnectionDelay)
{
    TTransportConfig settings;
    SetFtp(settings);
    settings.Connection = "ISP-ONE";
    settings.DisconnDelay = 10;
    auto dialog = Open(settings);
    QStringList items;
    for (int n = 0; n < dialog->CbInetConn->count(); ++n)
        items.append(dialog->CbInetConn->itemText(n));
    EXPECT_EQ(items, QStringList({"default", "isp-one", "isp-two"}));
    EXPECT_EQ(dialog->CbInetConn->currentIndex(), 1) << "letter case ignored";
    EXPECT_TRUE(dialog->CbDisconnDelay->isEnabled());
    EXPECT_EQ(dialog->CbDisconnDelay->currentText(), "0") << "10 is not in the list";
    EXPECT_EQ(PressOk(*dialog), "");
    EXPECT_EQ(Saved()->Connection, "isp-one");
    EXPECT_EQ(Saved()->DisconnDelay, 0);

    settings.Connection = "gone";
    settings.DisconnDelay = 15;
    auto gone = Open(settings);
    EXPECT_EQ(gone->CbInetConn->currentText(), "default");
    EXPECT_FALSE(gone->CbDisconnDelay->isEnabled());
    EXPECT_FALSE(gone->LabInetDisconnDelay->isEnabled());
    EXPECT_EQ(gone->CbDisconnDelay->currentText(), "15");
    EXPECT_EQ(PressOk(*gone), "");
    EXPECT_EQ(Saved()->Connection, "");
    EXPECT_EQ(Saved()->DisconnDelay, 15) << "the delay is kept without a dial-up entry";

    auto chosen = Open(settings);
    chosen->CbInetConn->setCurrentIndex(2);
    EXPECT_TRUE(chosen->CbDisconnDelay->isEnabled());
    EXPECT_TRUE(chosen->LabMin2->isEnabled());
    EXPECT_EQ(PressOk(*chosen), "");
    EXPECT_EQ(Saved()->Connection, "isp-two");
    EXPECT_EQ(Saved()->DisconnDelay, 15);
}

TEST_F(TransportDialog, NoPhonebookLeavesOnlyDefault)
{
    setenv("RAS_PHONEBOOK_DIR", (Dir / "no-such-dir").c_str(), 1);
    TTransportConfig settings;
    SetFtp(settings);
    settings.Connection = "isp-one";
    auto dialog = Open(settings);
    EXPECT_EQ(dialog->CbInetConn->count(), 1);
    EXPECT_EQ(dialog->CbInetConn->currentText(), "default");
}

TEST_F(TransportDialog, DestinationsPortsAndProxyAsStored)
{
    TTransportConfig settings;
    SetFtp(settings);
    settings.Destinations = {"old", "kept out"};
    auto dialog = Open(settings);
    dialog->EdDestination->setText(" ftp.example.com\\ ");
    dialog->EdDestination->setText("ftp.example.com\\");
    dialog->CbDestination1->setChecked(false);
    dialog->EdDestination1->setText("typed but unticked");
    dialog->EdPort->clear();
    dialog->CbProxyType->setCurrentIndex(6);
    dialog->EdProxyPort->setText("");
    dialog->CbPassive->setChecked(true);
    EXPECT_EQ(PressOk(*dialog), "");
    const auto saved = Saved();
    EXPECT_EQ(saved->Destinations[0], "ftp.example.com");
    EXPECT_EQ(saved->Destinations[1], "");
    EXPECT_EQ(saved->Port, 21);
    EXPECT_EQ(saved->ProxyPort, 8021);
    EXPECT_EQ(saved->ProxyType, 6);
    EXPECT_TRUE(saved->PassiveMode);

    TTransportConfig copy;
    auto copyDialog = Open(copy);
    copyDialog->EdDestination->setText("/srv/dest/");
    copyDialog->CbDestination1->setChecked(true);
    copyDialog->EdDestination1->setText("\\\\server\\share\\\\");
    EXPECT_EQ(PressOk(*copyDialog), "");
    EXPECT_EQ(Saved()->Destinations[0], "/srv/dest");
    EXPECT_EQ(Saved()->Destinations[1], "\\\\server\\share\\") << "only one delimiter goes";
    EXPECT_EQ(Saved()->Username, ".\\LocalSystem");
}

TEST_F(TransportDialog, PortTextsCountOnlyAsWholeDecimalNumbers)
{
    auto dialog = OpenFtp();
    struct Case {
        const char* Text;
        int Port, ProxyPort;
    };
    for (const Case& c : {Case{"2121", 2121, 2121}, Case{" 2121", 2121, 2121}, Case{" 2121 ", 2121, 2121},
                          Case{"21 21", 21, 8021}, Case{"$50", 21, 8021}, Case{"0x50", 21, 8021},
                          Case{"x50", 21, 8021}, Case{"-", 21, 8021}, Case{"12a", 21, 8021},
                          Case{"99999999999", 21, 8021}}) {
        dialog->EdPort->setText(c.Text);
        dialog->EdProxyPort->setText(c.Text);
        TTransportConfig stored;
        dialog->StoreControls(stored);
        EXPECT_EQ(stored.Port, c.Port) << c.Text;
        EXPECT_EQ(stored.ProxyPort, c.ProxyPort) << c.Text;
    }
}

TEST_F(TransportDialog, ModeShowsTheFtpOrCopyControls)
{
    TTransportConfig copy;
    auto dialog = Open(copy);
    EXPECT_TRUE(dialog->RbModeCopy->isChecked());
    EXPECT_TRUE(dialog->PnFtp->isHidden());
    EXPECT_TRUE(dialog->EdUser->isHidden());
    EXPECT_TRUE(dialog->LabPassword->isHidden());
    EXPECT_FALSE(dialog->BtnBrowseDest->isHidden());
    EXPECT_TRUE(dialog->BtnBrowseDest1->isHidden());
    EXPECT_FALSE(dialog->EdDestination1->isEnabled());
    dialog->CbDestination1->click();
    EXPECT_FALSE(dialog->BtnBrowseDest1->isHidden());
    EXPECT_TRUE(dialog->EdDestination1->isEnabled());

    dialog->RbModeFTP->click();
    EXPECT_FALSE(dialog->PnFtp->isHidden());
    EXPECT_FALSE(dialog->EdUser->isHidden());
    EXPECT_EQ(dialog->LabUser->text(), "For the chain");
    EXPECT_TRUE(dialog->BtnBrowseDest->isHidden());
    EXPECT_TRUE(dialog->BtnBrowseDest1->isHidden());
    EXPECT_TRUE(dialog->PnProxy->isHidden());
    dialog->CbProxyType->setCurrentIndex(2);
    EXPECT_FALSE(dialog->PnProxy->isHidden());
    dialog->CbProxyType->setCurrentIndex(0);
    EXPECT_TRUE(dialog->PnProxy->isHidden());
}

TEST_F(TransportDialog, TestWithARefusedValueShowsTheErrorAndOpensNoTest)
{
    auto dialog = OpenFtp();
    dialog->EdPassword->setText("  ");
    TTestDialogWatch watch;
    QString text;
    int icon = 0;
    AnswerNextBox(&text, QMessageBox::Ok, &icon);
    dialog->BtnTest->click();
    EXPECT_EQ(text, "Password is not specified");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(watch.Shown, 0);
    EXPECT_EQ(dialog->Config->GetTrackDirectory(0), "");
    EXPECT_EQ(static_cast<TTransportConfig&>(*dialog->Config).Password, "secret");
    EXPECT_EQ(ReadTextFile(Path()), Original);
}

TEST_F(TransportDialog, TestRunsTheConnectivityTestOnTheValuesAsEntered)
{
    TTransportConfig settings;  // COPY under the console's own account
    auto dialog = Open(settings);
    MakeDirWithFiles(Dir / "central", {});
    MakeDirWithFiles(Dir / "cwd", {});
    dialog->EdCentralizationDir->setText("/srv/under-test");
    dialog->EdDestination->setText(QString::fromStdString(Dir / "central/"));
    dialog->EdDestDir->setText("MALL17");
    TTestDialogWatch watch;
    const TTransportConfig* tested = nullptr;
    QString caption;
    QString report;
    AnswerNextModal([&](QWidget* modal) {
        auto* test = qobject_cast<TConnectionTestDlg*>(modal);
        ASSERT_NE(test, nullptr);
        tested = test->Config;
        // The test runs by itself once the dialog is shown.
        EXPECT_TRUE(WaitForEvents([&] {
            return !test->Running && test->windowTitle().contains("central") && test->windowTitle().endsWith("found");
        }));
        caption = test->windowTitle();
        report = test->ReResult->toPlainText();
        test->reject();
    });
    {
        TCurrentDirectory sampleFileDir(Dir / "cwd");  // where the test writes its sample file
        ASSERT_TRUE(sampleFileDir.Saved);
        dialog->BtnTest->click();
    }
    EXPECT_EQ(watch.Shown, 1);
    EXPECT_NE(tested, dialog->Config.get());
    EXPECT_EQ(caption.toStdString(), "Connectivity test: " + (Dir / "central") + ": no errors found");
    EXPECT_TRUE(report.contains("Service tracks content of /srv/under-test")) << report.toStdString();
    EXPECT_TRUE(report.contains("for the user    - .\\LocalSystem")) << report.toStdString();
    EXPECT_EQ(NamesIn(Dir / "central"), std::vector<std::string>{"MALL17"});
    // Nothing of the dialog's own settings or of the file changed.
    EXPECT_EQ(dialog->Config->GetTrackDirectory(0), "");
    EXPECT_EQ(static_cast<TTransportConfig&>(*dialog->Config).Username, "");
    EXPECT_EQ(ReadTextFile(Path()), Original);
}
