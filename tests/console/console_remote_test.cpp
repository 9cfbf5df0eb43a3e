// The console's window watching the real ferrix2 on "another PC": the unit of a real systemd user
// manager reached through a real sshd on loopback and the relay, and a switch to a PC whose name
// does not resolve. Through an SSH client of the test's own: an ssh that hangs never holds the
// window, and a switch or the window's close ends the connection.
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

#include "console/ferrix_configdlg2.h"
#include "console/selectpcdlg.h"
#include "consolekit.h"
#include "consolewindow.h"
#include "ferrixunit.h"
#include "platform/remote/relayclient.h"
#include "testkit.h"

namespace {

class ConsoleRemote : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why = TFerrix2Unit::Unavailable();
        if (why.empty())
            why = TRemotePc::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        Svc = std::make_unique<TFerrix2Unit>(FERRIX2_PROGRAM);
        Remote = std::make_unique<TRemotePc>(*Svc->Manager, FERRIX_RELAY_PROGRAM);
    }

    void TearDown() override
    {
        Console.Close();
        Remote.reset();
        Svc.reset();
    }

    std::unique_ptr<TFerrix2Unit> Svc;
    std::unique_ptr<TRemotePc> Remote;
    TConsoleWindow Console;
};

// Another PC through an SSH client of the test's own (FERRIX_SSH): to hangpc it writes its pid
// into a file and hangs, to any other PC it runs the relay of this PC.
class ConsoleFakeSsh : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteTextFile(Dir / "ssh", "#!/bin/sh\ncase \" $* \" in *' hangpc '*) echo $$ > " + (Dir / "hangpc") +
                                       "; exec sleep 60;; esac\nexec " FERRIX_RELAY_PROGRAM "\n");
        ::chmod((Dir / "ssh").c_str(), 0755);
        ::setenv("FERRIX_SSH", (Dir / "ssh").c_str(), 1);
    }
    void TearDown() override
    {
        Console.Close();
        ferrix::CloseRelayLinks();
        ::unsetenv("FERRIX_SSH");
    }

    TempDir Dir;
    TConsoleWindow Console;
};

}  // namespace

TEST_F(ConsoleRemote, WatchesAndReconfiguresTheServiceOfAnotherPcAndKeepsAPcThatDoesNotResolve)
{
    Svc->Install();
    Svc->Systemctl("start");
    // The PC watched when the console was last closed.
    WriteTextFile(Console.Path("ferrix_cfg.ini"), "[General]\nRemotePC=otherpc\n");
    TMainWnd& wnd = Console.Open();
    EXPECT_EQ(wnd.StPcDisplayName->text(), "otherpc");
    ASSERT_TRUE(Console.WaitForStatistics(40)) << wnd.StatusText().toStdString();
    EXPECT_EQ(wnd.LabVersionVal->text(), "2.0.0");
    EXPECT_TRUE(wnd.BtnSrvStop->isEnabled());
    EXPECT_TRUE(wnd.BtnConfigure->isEnabled());
    EXPECT_FALSE(wnd.BtnSrvStart->isEnabled());
    EXPECT_TRUE(Console.LedLit(wnd.ServicePanel));
    ASSERT_TRUE(WaitForEvents([&] { return !wnd.LabLastGroupVal->text().isEmpty(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(wnd.LabLastGroupVal->text().startsWith("processed OK - ")) << wnd.LabLastGroupVal->text().toStdString();

    // Parameters over the relay: fetch, edit, send, restart.
    AnswerNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<TFerrixConfigDlg*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        EXPECT_EQ(dialog->PcName, "otherpc");
        dialog->SeFreq->setValue(4);
        dialog->BtnOK->click();
    });
    TPaintedTexts texts(wnd.StatusPanel);
    wnd.BtnConfigure->click();
    EXPECT_TRUE(texts.InOrder({"retrieving configuration from otherpc...", "sending new configuration to otherpc...",
                               "Service stopping...", "Changing service configuration...", "Service starting..."}))
        << texts.Texts().join('|').toStdString();
    EXPECT_EQ(wnd.StatusText(), "Service is running");
    const std::string ini = ReadTextFile(Svc->IniPath());
    EXPECT_NE(ini.find("TimeBetweenActions=240"), std::string::npos) << ini;
    EXPECT_EQ(Svc->Run->CountLog("TransportSvc2 service started"), 2);
    EXPECT_EQ(Svc->Property("ActiveState"), "active");
    ASSERT_TRUE(Console.WaitForStatistics(40));

    // Another PC that does not exist: values cleared, the manager's error for that name.
    AnswerNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<TSelectPcDlg*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        EXPECT_EQ(dialog->GetPcName(), "otherpc");
        dialog->EdPc->setText("nosuchpc.invalid");
        dialog->BtnOK->click();
    });
    wnd.BtnPC->click();
    EXPECT_EQ(wnd.StPcDisplayName->text(), "nosuchpc.invalid");
    EXPECT_EQ(wnd.LabVersionVal->text(), "");
    EXPECT_EQ(wnd.LabLastGroupVal->text(), "");
    EXPECT_EQ(wnd.LabReqVal->text(), "");
    ASSERT_TRUE(Console.WaitForStatus("Service Control Manager error on nosuchpc.invalid: ", true, 40))
        << wnd.StatusText().toStdString();
    // The manager's error there: the SSH client's own words on the name.
    EXPECT_TRUE(wnd.StatusText().startsWith(
        "Service Control Manager error on nosuchpc.invalid: Cannot reach nosuchpc.invalid over SSH: ssh: "))
        << wnd.StatusText().toStdString();
    EXPECT_FALSE(wnd.BtnSrvStart->isEnabled());
    EXPECT_FALSE(wnd.BtnSrvStop->isEnabled());
    EXPECT_FALSE(wnd.BtnConfigure->isEnabled());
    EXPECT_FALSE(Console.LedLit(wnd.ServicePanel));

    Console.Close();
    const std::string settings = ReadTextFile(Console.Path("ferrix_cfg.ini"));
    EXPECT_NE(settings.find("RemotePC=nosuchpc.invalid"), std::string::npos) << settings;
}

TEST_F(ConsoleRemote, RestartIsRefusedOnTheOtherPcWhenItsRelayMayNotChangeTheAccount)
{
    Svc->Install();
    Svc->Systemctl("start");
    const pid_t pid = Svc->MainPid();
    ASSERT_GT(pid, 0);
    // The relay there runs with the manager's configuration folder read-only for it alone; this
    // process may still write it, so only a check made by the relay refuses.
    TempDir wrapperDir;
    ::chmod(wrapperDir.Path().c_str(), 0755);
    const std::string wrapper = wrapperDir / "ro-relay";
    WriteTextFile(wrapper, "#!/bin/sh\nexec /usr/bin/unshare -m --propagation private /bin/sh -c "
                           "'mount --bind -o ro \"$0\" \"$0\" && exec \"$1\"' \"" +
                               Svc->Manager->ConfigDir() + "\" \"" + std::string(::getenv("FERRIX_RELAY")) + "\"\n");
    ::chmod(wrapper.c_str(), 0755);
    ::setenv("FERRIX_RELAY", wrapper.c_str(), 1);

    WriteTextFile(Console.Path("ferrix_cfg.ini"), "[General]\nRemotePC=otherpc\n");
    TMainWnd& wnd = Console.Open();
    ASSERT_TRUE(Console.WaitForStatistics(40)) << wnd.StatusText().toStdString();
    TPaintedTexts texts(wnd.StatusPanel);
    std::string error;
    try {
        wnd.ApplyConfigAndRestart();
        ADD_FAILURE() << "restarted without the right to change the account there";
    } catch (const std::exception& e) {
        error = e.what();
    }
    EXPECT_EQ(error.rfind("Access is denied. ", 0), 0u) << error;
    EXPECT_NE(error.find("Read-only file system"), std::string::npos) << error;
    EXPECT_FALSE(texts.InOrder({"Service stopping..."})) << texts.Texts().join('|').toStdString();
    EXPECT_EQ(Svc->Property("ActiveState"), "active");
    EXPECT_EQ(Svc->MainPid(), pid);
    // The link goes on serving the window.
    EXPECT_TRUE(Console.WaitForStatistics(40)) << wnd.StatusText().toStdString();
}

TEST_F(ConsoleFakeSsh, SshNeverHoldsTheWindowAndEndsAtASwitchAndAtTheClose)
{
    WriteTextFile(Console.Path("ferrix_cfg.ini"), "[General]\nRemotePC=firstpc\n");
    TMainWnd& wnd = Console.Open();
    // An ssh once ended is reaped by the link.
    const auto alive = [](pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; };
    pid_t first = 0;
    ASSERT_TRUE(WaitForEvents([&] { return (first = ferrix::RelayProcessId("firstpc")) > 0; }));
    AnswerNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<TSelectPcDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->EdPc->setText("hangpc");
        dialog->BtnOK->click();
    });
    wnd.BtnPC->click();
    EXPECT_FALSE(alive(first));

    // Longer than ssh's own connect time-out, the window's events never wait long.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(12);
    Clock::time_point last = Clock::now();
    Clock::duration longest{};
    WaitForEvents([&] {
        longest = std::max(longest, Clock::now() - last);
        last = Clock::now();
        return last > end;
    }, std::chrono::seconds(30));
    EXPECT_LT(longest, std::chrono::seconds(1));
    EXPECT_EQ(wnd.StatusText(), "Connecting to hangpc...");
    const pid_t hanging = std::stoi(ReadTextFile(Dir / "hangpc"));
    EXPECT_TRUE(alive(hanging));
    const Clock::time_point closing = Clock::now();
    Console.Close();
    EXPECT_LT(Clock::now() - closing, std::chrono::seconds(1));
    EXPECT_FALSE(alive(hanging));
}
