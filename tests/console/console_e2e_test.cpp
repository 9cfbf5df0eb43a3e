// The console's window against the real ferrix2 installed as a unit of a real systemd user
// manager, on this PC: the service's state, start and stop, statistics of a real pass, and the
// Parameters command with its restart, as the user sees them.
#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "console/application.h"
#include "console/ferrix_configdlg2.h"
#include "consolekit.h"
#include "consolewindow.h"
#include "ferrixunit.h"
#include "pipekit.h"
#include "testuser.h"

namespace fs = std::filesystem;

namespace {

class ConsoleLocal : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = TFerrix2Unit::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        Svc = std::make_unique<TFerrix2Unit>(FERRIX2_PROGRAM);
    }

    void TearDown() override
    {
        Console.Close();
        Svc.reset();
    }

    // Starts the installed unit and opens the window once it shows the statistics.
    void OpenOnRunningService()
    {
        Svc->Systemctl("start");
        Console.Open();
        ASSERT_TRUE(Console.WaitForStatistics()) << Console->StatusText().toStdString();
    }

    int StartedCount() const { return Svc->Run->CountLog("TransportSvc2 service started"); }

    std::unique_ptr<TFerrix2Unit> Svc;
    TConsoleWindow Console;
};

// Answers the settings dialog that opens next: sets the check interval (minutes) and presses OK.
void SetIntervalInNextDialog(int minutes, const std::function<void()>& beforeOk = {})
{
    AnswerNextModal([minutes, beforeOk](QWidget* modal) {
        auto* dialog = qobject_cast<TBaseSvcConfigDlg*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        EXPECT_NE(qobject_cast<TFerrixConfigDlg*>(modal), nullptr);
        dialog->SeFreq->setValue(minutes);
        if (beforeOk)
            beforeOk();
        dialog->BtnOK->click();
    });
}

// The seconds of "... (in next N sec)", or -1.
int NextCheckSeconds(const QString& text)
{
    const auto match = QRegularExpression(R"(^.+ \(in next (\d+) sec\)$)").match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

}  // namespace

TEST_F(ConsoleLocal, ShowsNotInstalledStoppedAndRunningAndStartsAndStopsTheService)
{
    TMainWnd& wnd = Console.Open();
    // First start: the console's settings file is made, empty.
    ASSERT_TRUE(fs::exists(Console.Path("ferrix_cfg.ini")));
    EXPECT_EQ(fs::file_size(Console.Path("ferrix_cfg.ini")), 0u);

    ASSERT_TRUE(Console.WaitForStatus("Failed to access service on this PC: ", true))
        << wnd.StatusText().toStdString();
    EXPECT_EQ(wnd.StatusText(), "Failed to access service on this PC: Unit TransportSvc2.service not found.");
    EXPECT_FALSE(wnd.BtnSrvStart->isEnabled());
    EXPECT_FALSE(wnd.BtnSrvStop->isEnabled());
    EXPECT_FALSE(wnd.BtnConfigure->isEnabled());
    EXPECT_TRUE(wnd.BtnPC->isEnabled());
    EXPECT_FALSE(Console.LedLit(wnd.ServicePanel));

    // Installed: the next open of the service finds it stopped.
    Svc->Install();
    ASSERT_TRUE(Console.WaitForStatus("Service stopped")) << wnd.StatusText().toStdString();
    ASSERT_TRUE(WaitForEvents([&] { return wnd.BtnSrvStart->isEnabled(); }));
    EXPECT_FALSE(wnd.BtnSrvStop->isEnabled());
    EXPECT_FALSE(wnd.BtnConfigure->isEnabled());
    EXPECT_FALSE(Console.LedLit(wnd.ServicePanel));

    TPaintedTexts starting(wnd.StatusPanel);
    wnd.BtnSrvStart->click();
    EXPECT_EQ(Svc->Property("ActiveState"), "active");
    EXPECT_EQ(wnd.StatusText(), "Service is running");
    EXPECT_TRUE(starting.InOrder({"Service starting..."})) << starting.Texts().join('|').toStdString();
    ASSERT_TRUE(Console.WaitForStatistics());
    EXPECT_FALSE(wnd.BtnSrvStart->isEnabled());
    EXPECT_TRUE(wnd.BtnSrvStop->isEnabled());
    EXPECT_TRUE(wnd.BtnConfigure->isEnabled());
    EXPECT_TRUE(Console.LedLit(wnd.ServicePanel));

    // A start of a running service only says so.
    const pid_t pid = Svc->MainPid();
    QString text;
    AnswerNextBox(&text);
    ferrix::RunHandler([&] { wnd.BtnSrvStartClick(); });
    EXPECT_EQ(text, "The service is running already on this PC");
    EXPECT_EQ(Svc->MainPid(), pid);
    EXPECT_EQ(StartedCount(), 1);

    TPaintedTexts stopping(wnd.StatusPanel);
    wnd.BtnSrvStop->click();
    EXPECT_EQ(Svc->Property("ActiveState"), "inactive");
    EXPECT_EQ(wnd.StatusText(), "Service stopped");
    EXPECT_TRUE(stopping.InOrder({"Service stopping..."})) << stopping.Texts().join('|').toStdString();
    EXPECT_EQ(wnd.LabNextFileCheckAtVal->text(), "");
    ASSERT_TRUE(WaitForEvents([&] { return wnd.BtnSrvStart->isEnabled() && !wnd.BtnSrvStop->isEnabled(); }));
    EXPECT_FALSE(wnd.BtnConfigure->isEnabled());
    EXPECT_FALSE(Console.LedLit(wnd.ServicePanel));

    AnswerNextBox(&text);
    ferrix::RunHandler([&] { wnd.BtnSrvStopClick(); });
    EXPECT_EQ(text, "The service is stopped already on this PC");
    EXPECT_EQ(Svc->Property("ActiveState"), "inactive");

    Console.Close();
    const std::string settings = ReadTextFile(Console.Path("ferrix_cfg.ini"));
    EXPECT_NE(settings.find("[General]"), std::string::npos) << settings;
    EXPECT_NE(settings.find("RemotePC="), std::string::npos) << settings;
}

TEST_F(ConsoleLocal, StatisticsOfARealPassFillTheLabels)
{
    Svc->Install();
    OpenOnRunningService();
    TMainWnd& wnd = Console.operator*();
    // The first pass runs 5 seconds after the start and sends the demo shop.
    ASSERT_TRUE(WaitForEvents([&] { return !wnd.LabLastGroupVal->text().isEmpty(); }, std::chrono::seconds(30)))
        << Svc->Run->Log();
    EXPECT_EQ(wnd.StatusText(), "");
    const auto group = QRegularExpression(
                           R"(^processed OK - (\d+), processed with errors - 0, elapsed \d+:\d\d:\d\d:\d\d\d$)")
                           .match(wnd.LabLastGroupVal->text());
    ASSERT_TRUE(group.hasMatch()) << wnd.LabLastGroupVal->text().toStdString();
    EXPECT_EQ(group.captured(1).toInt(), static_cast<int>(DemoShopLanded().size()));
    EXPECT_FALSE(wnd.LabLastGroupAtVal->text().isEmpty());
    // The last file sent, named from its shop directory on.
    const std::vector<std::string> sources = DemoShopSources();
    const std::string lastFile = wnd.LabLastFileOkVal->text().toStdString();
    EXPECT_NE(std::find_if(sources.begin(), sources.end(), [&](const std::string& s) { return "Shop12/" + s == lastFile; }),
              sources.end())
        << lastFile;
    EXPECT_FALSE(wnd.LabLastFileOkAtVal->text().isEmpty());
    EXPECT_EQ(wnd.LabLastFileBadVal->text(), "");
    EXPECT_FALSE(wnd.LabLastEvtTextVal->text().isEmpty());
    // The service checks every 2 seconds.
    ASSERT_TRUE(WaitForEvents([&] { return NextCheckSeconds(wnd.LabNextFileCheckAtVal->text()) >= 0; }))
        << wnd.LabNextFileCheckAtVal->text().toStdString();
    EXPECT_LE(NextCheckSeconds(wnd.LabNextFileCheckAtVal->text()), 2);

    EXPECT_EQ(wnd.LabVersionVal->text(), "2.0.0");
    EXPECT_FALSE(wnd.LabSartedVal->text().isEmpty());
    // Counters: padded to 12 characters, thousands separated. Every answer so far was a statistics
    // answer of 595 bytes, so the bytes sent are 595 times the answers.
    ASSERT_TRUE(WaitForEvents([&] { return wnd.LabAnsBytesVal->text().contains(','); }));
    for (QLabel* label : {wnd.LabConnsVal, wnd.LabConErrorsVal, wnd.LabReqVal, wnd.LabReqBytesVal, wnd.LabAnsVal,
                          wnd.LabAnsBytesVal, wnd.LabWriteErrVal}) {
        EXPECT_GE(label->text().size(), 12) << label->text().toStdString();
        EXPECT_TRUE(QRegularExpression(R"(^ *\d{1,3}(,\d{3})*$)").match(label->text()).hasMatch())
            << label->text().toStdString();
    }
    const auto number = [](QLabel* label) { return label->text().remove(',').trimmed().toLongLong(); };
    EXPECT_EQ(number(wnd.LabAnsBytesVal), 595 * number(wnd.LabAnsVal));
    EXPECT_EQ(number(wnd.LabReqBytesVal), 28 * number(wnd.LabReqVal));
    EXPECT_EQ(number(wnd.LabWriteErrVal), 0);
    EXPECT_TRUE(Console.LedLit(wnd.ServicePanel));
}

TEST_F(ConsoleLocal, ParametersChangeTheIntervalAndTheAccountAndRestartTheService)
{
    TTestUser user("con", "Con-Pa55word");
    WriteTextFile(Svc->Run->LogPath(), "");  // the log goes on under the new account
    Svc->InstallWithAccount(user.Name(), "Con-Pa55word");
    OpenOnRunningService();
    TMainWnd& wnd = Console.operator*();
    EXPECT_EQ(ProcessUid(Svc->MainPid()), 0);

    SetIntervalInNextDialog(3);
    TPaintedTexts texts(wnd.StatusPanel);
    wnd.BtnConfigure->click();
    EXPECT_TRUE(texts.InOrder({"retrieving configuration from this PC...", "sending new configuration to this PC...",
                               "Service stopping...", "Changing service configuration...", "Service starting..."}))
        << texts.Texts().join('|').toStdString();

    // The service got the new file, was restarted and runs as the configured user.
    const std::string ini = ReadTextFile(Svc->IniPath());
    EXPECT_NE(ini.find("TimeBetweenActions=180"), std::string::npos) << ini;
    EXPECT_EQ(Svc->Run->CountLog("Service configuration file updated by client"), 1);
    EXPECT_EQ(StartedCount(), 2);
    EXPECT_EQ(Svc->Property("ActiveState"), "active");
    EXPECT_EQ(ProcessUid(Svc->MainPid()), static_cast<long>(user.Uid()));
    EXPECT_EQ(ReadTextFile(Console.Path("ferrix_local.ini")), ini);
    EXPECT_EQ(wnd.StatusText(), "Service is running");

    // Its first pass after the restart plans the next one 3 minutes later.
    ASSERT_TRUE(WaitForEvents([&] { return NextCheckSeconds(wnd.LabNextFileCheckAtVal->text()) > 60; },
                              std::chrono::seconds(30)))
        << wnd.LabNextFileCheckAtVal->text().toStdString() << Svc->Run->Log();
    EXPECT_LE(NextCheckSeconds(wnd.LabNextFileCheckAtVal->text()), 180);
}

TEST_F(ConsoleLocal, ParametersWithAWrongPasswordLeaveTheServiceStoppedUnderItsOldAccount)
{
    TTestUser user("cpw", "Right-Pa55word");
    Svc->InstallWithAccount(user.Name(), "wrong-password");
    OpenOnRunningService();
    auto error = std::make_shared<QString>();
    SetIntervalInNextDialog(3, [error] {
        AnswerNextModal([error](QWidget* box) {
            *error = qobject_cast<QMessageBox*>(box)->text();
            qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
        }, std::chrono::seconds(60));
    });
    Console->BtnConfigure->click();
    EXPECT_EQ(*error, "The user name or password is incorrect.");
    EXPECT_EQ(Svc->Property("ActiveState"), "inactive");
    EXPECT_EQ(Svc->Property("User"), "");
    EXPECT_FALSE(fs::exists(Svc->Manager->ConfigDir() + "/systemd/user/TransportSvc2.service.d/account.conf"));
}

TEST_F(ConsoleLocal, ConfigSwitchOpensParametersOnceAndCancelChangesNothing)
{
    Svc->Install();
    TMainWnd& wnd = Console.Open();
    wnd.ParseCommandLine(QStringList{"-Config"});
    ASSERT_TRUE(Console.WaitForStatus("Service stopped"));
    ASSERT_TRUE(wnd.AutoConfigure);
    const std::string ini = ReadTextFile(Svc->IniPath());

    // The first tick that sees the service running opens the dialog; the ticks go on behind it;
    // Cancel sends nothing.
    int dialogs = 0;
    int ticks = 0;
    QObject tickCounter;
    QObject::connect(wnd.TmrMain, &QTimer::timeout, &tickCounter, [&] { ++ticks; });
    AnswerNextModal([&](QWidget* modal) {
        ++dialogs;
        auto* dialog = qobject_cast<TBaseSvcConfigDlg*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        const int before = ticks;
        EXPECT_TRUE(WaitForEvents([&] { return ticks >= before + 3; })) << ticks - before << " ticks";
        dialog->SeFreq->setValue(7);
        dialog->BtnCancel->click();
    }, std::chrono::seconds(30));
    Svc->Systemctl("start");
    const pid_t pid = Svc->MainPid();
    ASSERT_TRUE(WaitForEvents([&] { return dialogs == 1; }, std::chrono::seconds(30)));
    EXPECT_FALSE(wnd.AutoConfigure);

    // Ticks go on showing statistics; no second dialog opens.
    ASSERT_TRUE(Console.WaitForStatistics());
    const auto requests = [&] { return wnd.LabReqVal->text().trimmed().remove(',').toInt(); };
    const int before = requests();
    ASSERT_TRUE(WaitForEvents([&] { return requests() >= before + 4 || QApplication::activeModalWidget() != nullptr; }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(dialogs, 1);

    EXPECT_EQ(ReadTextFile(Svc->IniPath()), ini);
    EXPECT_EQ(ReadTextFile(Console.Path("ferrix_local.ini")), ini);  // the fetched copy stays
    EXPECT_EQ(Svc->Run->CountLog("Service configuration file updated by client"), 0);
    EXPECT_EQ(Svc->MainPid(), pid);
    EXPECT_EQ(StartedCount(), 1);
}

TEST_F(ConsoleLocal, FailedSendIsShownAndTheServiceIsRestartedAllTheSame)
{
    Svc->Install();
    OpenOnRunningService();
    TMainWnd& wnd = Console.operator*();
    const std::string ini = ReadTextFile(Svc->IniPath());
    const pid_t pid = Svc->MainPid();

    // While the dialog is open another client takes the one instance of the settings pipe.
    PipeConnection holder;
    QString error;
    SetIntervalInNextDialog(5, [&] {
        ASSERT_TRUE(holder.Connect("TrSvc2Control"));
        AnswerNextBox(&error);
    });
    wnd.BtnConfigure->click();
    EXPECT_EQ(error, "The pipe refused the connection: every instance is busy or the client is not admitted");
    EXPECT_EQ(wnd.StatusText(), "Service is running");
    holder.Close();

    EXPECT_EQ(ReadTextFile(Svc->IniPath()), ini);
    EXPECT_EQ(Svc->Run->CountLog("Service configuration file updated by client"), 0);
    EXPECT_EQ(StartedCount(), 2);
    EXPECT_NE(Svc->MainPid(), pid);
    EXPECT_EQ(Svc->Property("ActiveState"), "active");
    // The edited local copy stays as the dialog saved it.
    EXPECT_NE(ReadTextFile(Console.Path("ferrix_local.ini")).find("TimeBetweenActions=300"), std::string::npos);
}

TEST_F(ConsoleLocal, StartThatFailsShowsTheFailureAndKeepsThePendingText)
{
    Svc->Install();
    // A copy of the service in the foreground holds the pipes: the unit's start fails.
    Svc->Run->Start();
    ASSERT_TRUE(WaitFor([] { return CallPipe("TrSvc2Info", PipeMessage("REQGETSTATS")).Ok; })) << Svc->Run->Log();
    TMainWnd& wnd = Console.Open();
    ASSERT_TRUE(Console.WaitForStatus("Service stopped"));
    ASSERT_TRUE(WaitForEvents([&] { return wnd.BtnSrvStart->isEnabled(); }));

    QString text;
    int icon = 0;
    AnswerNextBox(&text, QMessageBox::Ok, &icon);
    TPaintedTexts texts(wnd.StatusPanel);
    wnd.BtnSrvStart->click();
    EXPECT_EQ(text, "Failed to start service");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(Svc->Property("ActiveState"), "failed");
    // The pending text until a tick (running also while the box is open) shows the state again.
    EXPECT_TRUE(texts.InOrder({"Service starting..."})) << texts.Texts().join('|').toStdString();
    EXPECT_TRUE(Console.WaitForStatus("Service stopped"));
    EXPECT_EQ(Svc->Run->Stop(), 0);
}

TEST_F(ConsoleLocal, RestartByAUserWhoMayNotChangeTheAccountIsRefusedBeforeTheServiceStops)
{
    Svc->Install();
    OpenOnRunningService();
    TMainWnd& wnd = Console.operator*();
    const pid_t pid = Svc->MainPid();
    ASSERT_GT(pid, 0);

    // The window's manager connection stays root's; this thread's file accesses become nobody's,
    // who may not write the drop-in of the account.
    TPaintedTexts texts(wnd.StatusPanel);
    std::string error;
    {
        TThreadFsIdentity nobody(65534, 65534);
        try {
            wnd.ApplyConfigAndRestart();
            ADD_FAILURE() << "restarted without the right to change the account";
        } catch (const EOSError& e) {
            error = e.what();
        }
    }
    EXPECT_EQ(error.rfind("Access is denied. ", 0), 0u) << error;
    EXPECT_FALSE(texts.InOrder({"Service stopping..."})) << texts.Texts().join('|').toStdString();
    EXPECT_EQ(Svc->Property("ActiveState"), "active");
    EXPECT_EQ(Svc->MainPid(), pid);
    EXPECT_EQ(StartedCount(), 1);
    EXPECT_FALSE(fs::exists(Svc->Manager->ConfigDir() + "/systemd/user/TransportSvc2.service.d"));

    // With the rights, the same restart goes through.
    wnd.ApplyConfigAndRestart();
    EXPECT_EQ(Svc->Property("ActiveState"), "active");
    EXPECT_NE(Svc->MainPid(), pid);
    EXPECT_EQ(StartedCount(), 2);
}
