// The transport service's window: its names and captions, the console settings file, the command
// line, the account rule and the Parameters command against a scripted settings pipe.
#include "console/ferrix_cfgmain2.h"
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QSpinBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <gtest/gtest.h>
#include <tuple>
#include <sys/stat.h>
#include "console/application.h"
#include "consolekit.h"
#include "consolewindow.h"
#include "ferrixunit.h"
#include "foundation/inifile.h"
#include "foundation/trcnst.h"
#include "pipekit.h"
#include "scriptedpipe.h"
#include "platform/files/findfile.h"
#include "testkit.h"
#include "testuser.h"

namespace {

class MainWndTest : public testing::Test {
protected:
    std::unique_ptr<TMainWnd> NewWindow()
    {
        auto window = std::make_unique<TMainWnd>(nullptr, ProgramDir.Path());
        window->TmrMain->stop();
        return window;
    }
    std::string SettingsFile() const { return ProgramDir / "ferrix_cfg.ini"; }

    PipeDirectory Pipes;
    TempDir ProgramDir;
};

TEST_F(MainWndTest, NamesCaptionsAndHints)
{
    auto window = std::make_unique<TMainWnd>(nullptr, ProgramDir.Path());
    TMainWnd& w = *window;
    EXPECT_TRUE(w.TmrMain->isActive());
    EXPECT_EQ(w.TmrMain->interval(), 500);
    EXPECT_EQ(w.SettingsIniName, "ferrix_cfg.ini");
    EXPECT_EQ(w.ServiceName, "TransportSvc2");
    EXPECT_EQ(w.LocalConfigName, "ferrix_local.ini");
    EXPECT_EQ(w.InfoPipeName, "TrSvc2Info");
    EXPECT_EQ(w.ControlPipeName, "TrSvc2Control");
    EXPECT_EQ(w.GetPipePrefix(), "\\\\.\\pipe\\");
    EXPECT_EQ(w.windowTitle(), "Sending files");
    EXPECT_EQ(w.LabPc->text(), "Control Transport Service running on");
    EXPECT_EQ(w.StPcDisplayName->text(), "this PC");
    EXPECT_TRUE(w.StPcDisplayName->font().bold());
    EXPECT_EQ(w.PgcMain->currentWidget(), w.TsHardware);
    EXPECT_EQ(w.PgcMain->tabText(w.PgcMain->indexOf(w.TsHardware)), "Sending files");
    EXPECT_EQ(w.PgcMain->tabText(w.PgcMain->indexOf(w.TsStatistics)), "Statistics");
    const std::vector<std::pair<QLabel*, const char*>> captions = {
        {w.LabLastFileOk, "Last file processed successfully"}, {w.LabLastFileBad, "Last file processed with errors"},
        {w.LabLastGroup, "Last file check"}, {w.LabFileCheckAt, "Next file check"}, {w.LabLastEvtTime, "Last event"},
        {w.LabLastErrTime, "Last error"}, {w.LabVersion, "Service version:"}, {w.LabStartedAt, "Started at:"},
        {w.LabConns, "Successful connections:"}, {w.LabConErrors, "Connetion errors:"},
        {w.LabReq, "Requests received:"}, {w.LabReqBytes, "Bytes received:"}, {w.LabAns, "Answers sent:"},
        {w.LabAnsBytes, "Bytes sent:"}, {w.LabWriteErr, "Write errors:"}};
    for (const auto& [label, text] : captions)
        EXPECT_EQ(label->text(), text);
    const std::vector<std::tuple<QPushButton*, const char*, const char*>> buttons = {
        {w.BtnPC, "Switch to another PC", "Select PC where the service is running"},
        {w.BtnConfigure, "Parameters", "Change Centralization parameters on specified PC"},
        {w.BtnSrvStart, "Start service", "Start Centralization Service on specified PC"},
        {w.BtnSrvStop, "Stop service", "Stop Centralization Service on specified PC"},
        {w.BtnClose, "Close", ""}};
    for (const auto& [button, text, hint] : buttons) {
        EXPECT_EQ(button->text(), text);
        EXPECT_EQ(button->toolTip(), hint);
    }
    // The buttons from the left: start, stop, parameters, close.
    w.show();
    EXPECT_LT(w.BtnSrvStart->x(), w.BtnSrvStop->x());
    EXPECT_LT(w.BtnSrvStop->x(), w.BtnConfigure->x());
    EXPECT_LT(w.BtnConfigure->x(), w.BtnClose->x());
    // The status bar: "Service", its LED, "Busy", its LED, the status text taking the rest.
    EXPECT_EQ(w.SbMainPanels[0]->text(), "Service");
    EXPECT_EQ(w.SbMainPanels[2]->text(), "Busy");
    EXPECT_TRUE(w.SbMainPanels[0]->alignment() & Qt::AlignRight);
    EXPECT_EQ(w.ServicePanel, w.SbMainPanels[1]);
    EXPECT_EQ(w.BusyPanel, w.SbMainPanels[3]);
    EXPECT_EQ(w.StatusPanel, w.SbMainPanels[4]);
    for (size_t i = 1; i < 5; ++i)
        EXPECT_LT(w.SbMainPanels[i - 1]->x(), w.SbMainPanels[i]->x());
    EXPECT_GT(w.StatusPanel->width(), w.SbMain->width() / 2);
}

TEST_F(MainWndTest, AWindowOfTheBaseClassKeepsItsGenericNames)
{
    TSvcWndBase w(nullptr, ProgramDir.Path());
    w.InfoPipeName = "MyInfo";
    w.FormCreate();
    EXPECT_EQ(w.windowTitle(), "Centralization Service configuration & statistics");
    EXPECT_EQ(w.PgcMain->tabText(w.PgcMain->indexOf(w.TsHardware)), "Operations with data files");
    EXPECT_EQ(w.SettingsIniName, "svc_cfg.ini");
    EXPECT_EQ(w.ServiceName, "ServiceSvc");
    EXPECT_EQ(w.LocalConfigName, "cfg_local.ini");
    EXPECT_EQ(w.InfoPipeName, "MyInfo");
    EXPECT_EQ(w.ControlPipeName, "SvcControl");
    ASSERT_TRUE(w.DlgClass);
    ASSERT_TRUE(w.ConfigClass);
    EXPECT_EQ(dynamic_cast<TTransportConfig*>(w.ConfigClass().get()), nullptr);
    EXPECT_TRUE(FileExists(ProgramDir / "svc_cfg.ini"));
}

TEST_F(MainWndTest, TheSettingsFileIsMadeAtStartAndHoldsThePcAfterClose)
{
    ASSERT_FALSE(FileExists(SettingsFile()));
    {
        auto window = NewWindow();
        EXPECT_TRUE(FileExists(SettingsFile()));
        EXPECT_EQ(ReadTextFile(SettingsFile()), "");
        window->SetPcName("shop-17");  // switching alone does not write the file
        EXPECT_EQ(ReadTextFile(SettingsFile()), "");
    }
    EXPECT_EQ(TMemIniFile(SettingsFile()).ReadString("General", "RemotePC", "none"), "shop-17");
    // The next start watches that PC; other lines of the file stay.
    WriteTextFile(SettingsFile(), "; console\n[general]\nremotepc=shop-18\nOther=1\n");
    {
        auto window = NewWindow();
        EXPECT_EQ(window->PcName, "shop-18");
        EXPECT_EQ(window->StPcDisplayName->text(), "shop-18");
        window->SetPcName("");
        EXPECT_EQ(window->StPcDisplayName->text(), "this PC");
    }
    EXPECT_EQ(ReadTextFile(SettingsFile()), "; console\n[general]\nRemotePC=\nOther=1\n");
}

TEST_F(MainWndTest, ASettingsFileThatCannotBeWrittenIsReportedAndTheWindowStillOpens)
{
    ASSERT_EQ(::mkdir(SettingsFile().c_str(), 0755), 0);
    QString text;
    AnswerNextBox(&text);
    auto window = std::make_unique<TMainWnd>(nullptr, ProgramDir.Path());
    EXPECT_TRUE(WaitForEvents([&] { return !text.isEmpty(); }));
    EXPECT_TRUE(text.contains("ferrix_cfg.ini")) << text.toStdString();
    EXPECT_EQ(window->windowTitle(), "Sending files");
    EXPECT_EQ(window->PcName, "");
    window.reset();  // the failed save at exit is ignored
}

TEST_F(MainWndTest, APcOfTheSettingsFileThatIsNoPcNameIsRefusedAndThisPcWatched)
{
    WriteTextFile(SettingsFile(), "[General]\nRemotePC=shop$(reboot)\n");
    QString text;
    AnswerNextBox(&text);
    auto window = NewWindow();
    EXPECT_TRUE(text.startsWith("The PC name \"shop$(reboot)\" in " + QString::fromStdString(SettingsFile()) +
                                " is refused: a PC name is ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith(". The console watches this PC.")) << text.toStdString();
    EXPECT_EQ(window->StPcDisplayName->text(), "this PC");
}

TEST_F(MainWndTest, TheConfigSwitch)
{
    auto window = NewWindow();
    const std::vector<std::pair<QString, bool>> cases = {
        {"-config", true}, {"/CONFIG", true}, {"-CoNfIg", true}, {"CONFIG", false}, {"-", false},
        {"/", false},      {"-CONFIGX", false}, {"--config", false}, {"", false}, {"/config ", false},
        {QString::fromUtf8("-conf\u0131g"), false}};
    for (const auto& [argument, expected] : cases) {
        EXPECT_EQ(ferrix::IsConfigSwitch(argument), expected) << argument.toStdString();
        window->AutoConfigure = false;
        window->ParseCommandLine(QStringList{"other", argument});
        EXPECT_EQ(window->AutoConfigure, expected) << argument.toStdString();
    }
    // The program's own arguments hold no switch here.
    window->AutoConfigure = false;
    window->ParseCommandLine();
    EXPECT_FALSE(window->AutoConfigure);
}

TEST(ServiceAccount, ChosenFromTheTransportAndTheUser)
{
    struct TCase {
        uint8_t Transport;
        std::string User, Password, Account, AccountPassword;
    };
    const std::string long70(70, 'p');
    // 70 characters of two bytes each: the first 64 of them, none cut in two.
    std::string accents70;
    for (int i = 0; i < 70; ++i)
        accents70 += "\xC3\xA9";
    const std::vector<TCase> cases = {
        {TRANSPORT_FTP, "ftpuser", "secret", ".\\LocalSystem", ""},
        {TRANSPORT_COPY, "", "secret", ".\\LocalSystem", ""},
        {TRANSPORT_COPY, ".\\localsystem", "secret", ".\\LocalSystem", ""},
        {TRANSPORT_COPY, ".\\LOCALSYSTEM", "", ".\\LocalSystem", ""},
        {TRANSPORT_COPY, "shop\\copier", "secret", "shop\\copier", "secret"},
        {TRANSPORT_COPY, "copier", long70, "copier", long70.substr(0, 64)},
        {TRANSPORT_COPY, "copier", accents70, "copier", accents70.substr(0, 128)},
        {7, "copier", "secret", ".\\LocalSystem", ""},
    };
    for (const TCase& c : cases) {
        TTransportConfig config;
        config.Transport = c.Transport;
        config.Username = c.User;
        config.Password = c.Password;
        std::string account = "x", password = "x";
        ferrix::ChooseServiceAccount(config, account, password);
        EXPECT_EQ(account, c.Account) << c.User;
        EXPECT_EQ(password, c.AccountPassword) << c.User;
    }
}

TEST_F(MainWndTest, ParametersFetchEditAndSendOverTheSettingsPipe)
{
    ScriptedPipeServer server("TrSvc2Control");
    auto window = NewWindow();
    const std::string settings = "[General]\r\nTimeBetweenActions=120\r\n";
    server.SetAnswer(AnswerHeader("ANSGETCONFIG", 0, settings.size()) + settings);
    // Cancel: the copy is fetched, nothing is sent.
    std::string dialogFile;
    AnswerNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TBaseSvcConfigDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialogFile = dialog->IniFileName;
        EXPECT_EQ(window->StatusText(), "retrieving configuration from this PC...");
        dialog->reject();
    });
    window->ConfigureService();
    EXPECT_EQ(dialogFile, ProgramDir / "ferrix_local.ini");
    EXPECT_EQ(ReadTextFile(dialogFile), settings);
    EXPECT_EQ(server.Requests(), std::vector<std::string>{PipeMessage("REQGETCONFIG")});

    // OK: the edited copy goes back; without service handles nothing is restarted.
    AnswerNextModal([&](QWidget* modal) {
        WriteTextFile(dialogFile, "[General]\r\nTimeBetweenActions=300\r\n");
        server.SetAnswer(AnswerHeader("ANSSETCONFIG", 0, 0));
        qobject_cast<QDialog*>(modal)->accept();
    });
    window->ConfigureService();
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1], PipeMessage("REQGETCONFIG"));
    const std::string edited = "[General]\r\nTimeBetweenActions=300\r\n";
    EXPECT_EQ(requests[2], AnswerHeader("REQSETCONFIG", 0, edited.size()) + edited);
    EXPECT_EQ(window->StatusText(), "sending new configuration to this PC...");
}

TEST_F(MainWndTest, AFailedFetchEndsTheParametersCommandWithItsMessage)
{
    auto window = NewWindow();
    try {
        window->ConfigureService();
        ADD_FAILURE() << "no error";
    } catch (const Exception& error) {
        EXPECT_EQ(window->StatusText().toStdString(), error.Message());
        EXPECT_FALSE(error.Message().empty());
    }
    EXPECT_FALSE(FileExists(ProgramDir / "ferrix_local.ini"));
}

}  // namespace

namespace {

// Keeps the window's status text as the first message box is shown: the box is shown before its
// event loop runs, so no tick of the window's timer has replaced the text yet.
class TStatusAtFirstBox : public QObject {
public:
    explicit TStatusAtFirstBox(TMainWnd& window) : Window(window) { qApp->installEventFilter(this); }
    QString Text;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && !Seen && qobject_cast<QMessageBox*>(watched) != nullptr) {
            Seen = true;
            Text = Window.StatusText();
        }
        return false;
    }

private:
    TMainWnd& Window;
    bool Seen = false;
};

// The real ferrix2 as a unit of a real user manager, stopped by someone else while the settings
// dialog is open: the send fails, and the console asks before it starts the service again.
class StoppedWhileEditing : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = TFerrix2Unit::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        Svc = std::make_unique<TFerrix2Unit>(FERRIX2_PROGRAM);
        User = std::make_unique<TTestUser>("cfgm", "Cfgm-Pa55word");
        Svc->InstallWithAccount(User->Name(), "Cfgm-Pa55word");
        Svc->Systemctl("start");
        Console.Open();
        ASSERT_TRUE(Console.WaitForStatistics()) << Console->StatusText().toStdString();
    }
    void TearDown() override
    {
        Console.Close();
        Svc.reset();
        User.reset();
    }
    // Runs the Parameters command; the service is stopped while the dialog is open, and the
    // question to start it is answered with the button. Returns the texts of the two boxes and
    // the status text as the error box opens (the ticks behind the boxes go on replacing it).
    struct TBoxTexts {
        QString Error, Question, StatusAtError;
    };
    TBoxTexts ConfigureWhileStopped(int button)
    {
        auto texts = std::make_shared<TBoxTexts>();
        auto icon = std::make_shared<int>(0);
        TStatusAtFirstBox statusAtError(*Console);
        AnswerNextModal([this, texts, icon, button](QWidget* modal) {
            auto* dialog = qobject_cast<TBaseSvcConfigDlg*>(modal);
            if (dialog == nullptr) {
                ADD_FAILURE() << "expected the settings dialog, found " << modal->metaObject()->className();
                qobject_cast<QDialog*>(modal)->reject();
                return;
            }
            Svc->Systemctl("stop");
            AnswerNextModal([this, texts, icon, button](QWidget* box) {
                texts->Error = qobject_cast<QMessageBox*>(box)->text();
                AnswerNextBox(&texts->Question, button, icon.get());
                qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
            });
            dialog->BtnOK->click();
        });
        ferrix::RunHandler([this] { Console->BtnConfigureClick(); });
        EXPECT_EQ(*icon, QMessageBox::Question);
        texts->StatusAtError = statusAtError.Text;
        return *texts;
    }

    std::unique_ptr<TFerrix2Unit> Svc;
    std::unique_ptr<TTestUser> User;
    TConsoleWindow Console;
};

TEST_F(StoppedWhileEditing, NoLeavesTheServiceStoppedWithItsAccountAndYesStartsItUnderTheNewOne)
{
    const auto [sendError, question, statusAtError] = ConfigureWhileStopped(QMessageBox::No);
    EXPECT_FALSE(sendError.isEmpty());
    EXPECT_EQ(statusAtError, sendError);
    EXPECT_EQ(question, "Service is not running.\nDo you want to start it now?");
    EXPECT_EQ(Svc->Property("ActiveState"), "inactive");
    EXPECT_EQ(Svc->Property("User"), "");
    ASSERT_TRUE(WaitForEvents([&] { return Console->StatusText() == "Service stopped"; }));

    Svc->Systemctl("start");
    ASSERT_TRUE(Console.WaitForStatistics()) << Console->StatusText().toStdString();

    const auto [sendErrorAgain, questionAgain, statusAgain] = ConfigureWhileStopped(QMessageBox::Yes);
    EXPECT_EQ(statusAgain, sendError);
    EXPECT_EQ(sendErrorAgain, sendError);
    EXPECT_EQ(questionAgain, question);
    EXPECT_EQ(Console->StatusText(), "Service is running");
    EXPECT_EQ(Svc->Property("ActiveState"), "active");
    EXPECT_EQ(Svc->Property("User"), QString::fromStdString(User->Name()).toStdString());
    EXPECT_EQ(ProcessUid(Svc->MainPid()), static_cast<long>(User->Uid()));
}

}  // namespace
