#include "console/ferrix_conntest.h"

#include <QDateTime>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextEdit>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "consolekit.h"
#include "foundation/trcnst.h"
#include "ftpserver.h"
#include "testkit.h"
#include "testuser.h"

namespace {

using Lines = std::vector<std::string>;

constexpr const char* KnownPassword = "Sh0p-account";
constexpr const char* SampleName = "smaple.dat";

// What a finished test shows: each line of the report as "B|text" (bold), "R|text" (red) or
// "|text", and the window's state.
struct TShown {
    Lines Report;
    std::string Caption;
    bool TestEnabled = false;
    bool BackEnabled = false;
    int CurrentDest = -2;
    HANDLE LogonToken = 1;
    int Result = -1;
    std::string LocalSample;       // the local sample file while the dialog lived
    bool SampleAfterDestroy = true;
};

std::string LineStyle(const QTextBlock& block)
{
    std::string style;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextCharFormat format = it.fragment().charFormat();
        std::string own = format.fontWeight() == QFont::Bold ? "B" : "";
        if (format.foreground().color() == QColor(255, 0, 0))
            own += "R";
        if (it != block.begin() && own != style)
            return "mixed";
        style = own;
    }
    return style;
}

Lines ReportOf(const QTextEdit& view)
{
    Lines lines;
    for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next())
        lines.push_back(LineStyle(block) + "|" + block.text().toStdString());
    return lines;
}

// Runs the dialog as the transport settings dialog does: exec() runs the test by itself; once it
// has finished, Test runs it again (runs - 1 times), and then Back closes the dialog.
TShown RunDialog(const TTransportConfig* config, int runs = 1)
{
    TShown shown;
    {
        TConnectionTestDlg dlg(nullptr);
        dlg.Config = config;
        AnswerNextModal([&](QWidget*) {
            const bool finished =
                WaitForEvents([&] { return !dlg.BtnTest->isHidden() && !dlg.Running; }, std::chrono::seconds(60));
            EXPECT_TRUE(finished) << "the test did not finish";
            for (int run = 1; run < runs; ++run)
                dlg.BtnTest->click();
            shown.Report = ReportOf(*dlg.ReResult);
            shown.Caption = dlg.windowTitle().toStdString();
            shown.TestEnabled = dlg.BtnTest->isEnabled();
            shown.BackEnabled = dlg.BtnBack->isEnabled();
            shown.CurrentDest = dlg.CurrentDest;
            shown.LogonToken = dlg.LogonToken;
            dlg.BtnBack->click();
        });
        shown.Result = dlg.exec();
        struct stat st {};
        if (::stat(SampleName, &st) == 0 && S_ISREG(st.st_mode))
            shown.LocalSample = ReadTextFile(SampleName);
    }
    shown.SampleAfterDestroy = ::access(SampleName, F_OK) == 0;
    return shown;
}

Lines Concat(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The report of a destination whose three steps pass.
Lines PassedDestination(const std::string& header, const std::string& dest, const std::string& dir, size_t size)
{
    return {"|",
            "B|" + header + " " + dest + ":",
            "|    Connecting...     Ok.",
            "|",
            "B|Checking destination directory on " + dest + ":",
            "|    Check existence of directory " + dir + "...     Ok.",
            "|",
            "B|Checking file transfer to " + dest + ": ",
            "|    Transferring " + std::to_string(size) + " bytes...     Ok."};
}

// The verbs of the commands the server received.
Lines Verbs(const FtpServer& server)
{
    Lines verbs;
    for (const std::string& command : server.Commands())
        verbs.push_back(command.substr(0, command.find(' ')));
    return verbs;
}

class ConnTest : public ::testing::Test {
protected:
    TempDir Work;  // the console's current directory
    std::string OldDir;
    TTransportConfig Config;

    void SetUp() override
    {
        char buffer[4096];
        OldDir = ::getcwd(buffer, sizeof buffer) ? buffer : "/";
        ::chmod(Work.Path().c_str(), 0755);
        ASSERT_EQ(::chdir(Work.Path().c_str()), 0);
        Config.SetTrackDirectory(0, "/data/shop");
        Config.DestinationDirectory = "shop7";
    }
    void TearDown() override { EXPECT_EQ(::chdir(OldDir.c_str()), 0); }

    void UseFtp(const FtpServer& server)
    {
        Config.Transport = TRANSPORT_FTP;
        Config.Port = server.Port();
        Config.Username = server.User();
        Config.Password = server.Password();
    }

    Lines FtpParameters(const std::string& mode, const Lines& destinations) const
    {
        Lines lines{"B|Transport parameters:", "|    Service tracks content of /data/shop", "|    transfer mode   - FTP"};
        lines.insert(lines.end(), destinations.begin(), destinations.end());
        return Concat(lines, {"|    for the shop    - shop7", "|    for the chain   - " + Config.Username,
                              "|    with password   - " + Config.Password, "|    FTP mode        - " + mode,
                              "|    FTP port        - " + std::to_string(Config.Port)});
    }
};

}  // namespace

TEST(ConnTestSample, TextCarriesTheVersionAndTheLocalDateAndTime)
{
    TVersionInfo version;
    ASSERT_EQ(version.Major, 3) << "the test program's version block";
    const QDateTime when(QDate(2026, 3, 4), QTime(13, 5, 9));
    const QLocale locale;
    const std::string stamp = (locale.toString(when.date(), QLocale::ShortFormat) + " " +
                               locale.toString(when.time(), QLocale::LongFormat))
                                  .toStdString();
    const std::string prefix =
        "This is a sample file.\r\n\r\nIt is only used to test connectivity\r\nbetween Transport Service and "
        "destination host.\r\nThe file was transferred by TS ver. 3.7.11. on ";
    EXPECT_EQ(TConnectionTestDlg::SampleText(version, when), prefix + stamp + "\r\n");
    // Exactly midnight shows the date alone.
    const QDateTime midnight(QDate(2026, 3, 4), QTime(0, 0));
    EXPECT_EQ(TConnectionTestDlg::SampleText(version, midnight),
              prefix + locale.toString(midnight.date(), QLocale::ShortFormat).toStdString() + "\r\n");
}

TEST_F(ConnTest, FtpPassiveDestinationPassesEveryStepAndLeavesNothingOnTheServer)
{
    FtpServer server;
    UseFtp(server);
    Config.PassiveMode = true;
    Config.SetDestination(0, server.Host());
    const TShown shown = RunDialog(&Config);

    ASSERT_FALSE(shown.LocalSample.empty());
    EXPECT_EQ(shown.LocalSample.rfind("This is a sample file.\r\n", 0), 0U);
    EXPECT_NE(shown.LocalSample.find("TS ver. 3.7.11. on " +
                                     QLocale().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString()),
              std::string::npos);
    EXPECT_EQ(shown.Report, Concat(Concat(FtpParameters("passive", {"|    destination     - 127.0.0.1"}),
                                          {"|    FTP proxy type  - none"}),
                                   PassedDestination("Check FTP-server", "127.0.0.1", "shop7", shown.LocalSample.size())));
    EXPECT_EQ(shown.Caption, "Connectivity test: 127.0.0.1: no errors found");
    EXPECT_TRUE(shown.TestEnabled && shown.BackEnabled);
    EXPECT_EQ(shown.Result, QMessageBox::No);
    EXPECT_FALSE(shown.SampleAfterDestroy) << "the local sample file goes with the dialog";

    // The directory made by FtpForceDir, the transfer into it and the clean-up.
    EXPECT_EQ(server.Commands(), (Lines{"USER ferrix", "PASS secret", "TYPE I", "CWD /shop7", "MKD /shop7", "CWD /shop7",
                                        "CWD /shop7", "EPSV", "STOR smaple.dat", "DELE smaple.dat", "QUIT"}));
    EXPECT_EQ(NamesIn(server.LocalPath("/shop7")), Lines{});
}

// The first destination cannot be reached: one red line under its connection, then the whole test
// of the second, in active mode.
TEST_F(ConnTest, FtpFailingFirstDestinationThenAFullTestOfTheSecond)
{
    FtpServer server;
    UseFtp(server);
    Config.SetDestination(0, "127.0.0.2");
    Config.SetDestination(1, server.Host());
    const TShown shown = RunDialog(&Config);

    const Lines parameters = Concat(
        FtpParameters("active", {"|    destination     - 127.0.0.2", "|    2nd destination - 127.0.0.1"}),
        {"|    FTP proxy type  - none"});
    ASSERT_EQ(shown.Report.size(), parameters.size() + 4 + 9);
    EXPECT_EQ(Lines(shown.Report.begin(), shown.Report.begin() + parameters.size()), parameters);
    const auto first = shown.Report.begin() + parameters.size();
    EXPECT_EQ(Lines(first, first + 3), (Lines{"|", "B|Check FTP-server 127.0.0.2:", "|    Connecting..."}));
    EXPECT_EQ(first[3].rfind("R|    Can't connect to 127.0.0.2", 0), 0U) << first[3];
    EXPECT_EQ(Lines(first + 4, shown.Report.end()),
              PassedDestination("Check FTP-server", "127.0.0.1", "shop7", shown.LocalSample.size()));
    EXPECT_EQ(shown.Caption, "Connectivity test: 127.0.0.1: ERRORS FOUND");
    EXPECT_EQ(shown.CurrentDest, 1);
    EXPECT_EQ(Verbs(server), (Lines{"USER", "PASS", "TYPE", "CWD", "MKD", "CWD", "CWD", "EPRT", "STOR", "DELE", "QUIT"}));
}

// With a proxy kind the block names the proxy in five lines; a proxy that does not answer fails the
// connection, and nothing else of the destination runs.
TEST_F(ConnTest, FtpProxyBlockAndAFailedConnection)
{
    Config.Transport = TRANSPORT_FTP;
    Config.Username = "chain1";
    Config.Password = "pw1";
    Config.Port = 2121;
    Config.SetDestination(0, "ftp.example.test");
    Config.ProxyType = 2;
    Config.ProxyHost = "127.0.0.3";
    Config.ProxyPort = 9;
    Config.ProxyUser = "puser";
    Config.ProxyPassword = "ppass";
    const TShown shown = RunDialog(&Config);

    const Lines expected = Concat(
        FtpParameters("active", {"|    destination     - ftp.example.test"}),
        {"|    FTP proxy host  - 127.0.0.3", "|    FTP proxy port  - 9", "|    FTP proxy type  - " + ProxyTypeToStr(2),
         "|    FTP proxy user  - puser", "|    FTP proxy password  - ppass", "|", "B|Check FTP-server ftp.example.test:",
         "|    Connecting..."});
    ASSERT_EQ(shown.Report.size(), expected.size() + 1);
    EXPECT_EQ(Lines(shown.Report.begin(), shown.Report.end() - 1), expected);
    EXPECT_EQ(shown.Report.back().rfind("R|    ", 0), 0U) << shown.Report.back();
    EXPECT_EQ(shown.Caption, "Connectivity test: ftp.example.test: ERRORS FOUND");
}

// An account that may not make directories: the directory step fails, and the transfer step runs
// all the same (and fails in its turn).
TEST_F(ConnTest, FtpDirectoryStepFailsAndTheTransferStepStillRuns)
{
    FtpServer server({{"reader", "pw", "elr"}});
    UseFtp(server);
    Config.PassiveMode = true;
    Config.DestinationDirectory = "shop9";
    Config.SetDestination(0, server.Host());
    const TShown shown = RunDialog(&Config);

    ASSERT_GE(shown.Report.size(), 7U);
    const Lines tail(shown.Report.end() - 7, shown.Report.end());
    EXPECT_EQ(tail[0], "B|Checking destination directory on 127.0.0.1:");
    EXPECT_EQ(tail[1], "|    Check existence of directory shop9...");
    EXPECT_EQ(tail[2].rfind("R|    Can't create directory: /shop9 : ", 0), 0U) << tail[2];
    EXPECT_EQ(tail[3], "|");
    EXPECT_EQ(tail[4], "B|Checking file transfer to 127.0.0.1: ");
    EXPECT_EQ(tail[5], "|    Transferring " + std::to_string(shown.LocalSample.size()) + " bytes...");
    EXPECT_EQ(tail[6].rfind("R|    ", 0), 0U) << tail[6];
    EXPECT_EQ(shown.Caption, "Connectivity test: 127.0.0.1: ERRORS FOUND");
    EXPECT_TRUE(shown.TestEnabled && shown.BackEnabled);
    EXPECT_EQ(Verbs(server), (Lines{"USER", "PASS", "TYPE", "CWD", "MKD", "CWD", "QUIT"}))
        << "the transfer step's CWD is refused, and the destination ends disconnected";
}

// The window as it opens: no border icons, Test hidden until the first state update, and in the
// middle of the screen even when its owner stands in a corner of it.
TEST_F(ConnTest, OpensInTheMiddleOfTheScreenWithoutBorderIcons)
{
    QWidget owner;
    owner.setGeometry(0, 0, 200, 100);
    owner.show();
    TConnectionTestDlg dlg(&owner);
    dlg.Config = &Config;
    EXPECT_EQ(dlg.windowTitle(), "Connectivity test");
    EXPECT_TRUE(dlg.BtnTest->isHidden());
    EXPECT_EQ(dlg.BtnBack->text(), "Back to Configuration");
    EXPECT_FALSE(dlg.windowFlags() &
                 (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint));
    QPoint centre, screenCentre;
    AnswerNextModal([&](QWidget*) {
        centre = dlg.frameGeometry().center();
        screenCentre = dlg.screen()->availableGeometry().center();
        EXPECT_TRUE(WaitForEvents([&] { return !dlg.BtnTest->isHidden() && !dlg.Running; }));
        dlg.BtnBack->click();
    });
    dlg.exec();
    EXPECT_LE((centre - screenCentre).manhattanLength(), 1)
        << "centre (" << centre.x() << "," << centre.y() << ")";
}

TEST_F(ConnTest, NoDestinationGivesOnlyTheParameters)
{
    Config.Username = "";
    Config.Password = "pw";
    const TShown shown = RunDialog(&Config);
    EXPECT_EQ(shown.Report, (Lines{"B|Transport parameters:", "|    Service tracks content of /data/shop",
                                   "|    transfer mode   - COPY", "|    destination     - ",
                                   "|    for the shop    - shop7", "|    for the user    - ",
                                   "|    with password   - pw"}));
    EXPECT_EQ(shown.Caption, "Connectivity test: no errors found");
    EXPECT_TRUE(shown.TestEnabled && shown.BackEnabled);
    EXPECT_EQ(shown.CurrentDest, -1);
}

// Only the second destination, with the console's own account (LocalSystem in any letter case):
// no logon, the directory levels made and the sample file copied and removed again. A second run
// starts a new report.
TEST_F(ConnTest, CopyToTheSecondDestinationOnlyRunsWithoutLogonAsLocalSystem)
{
    const std::string dest = Work / "central";
    Config.SetDestination(1, dest);
    Config.Username = ".\\localSYSTEM";
    Config.Password = "";
    Config.DestinationDirectory = "shop7\\till";
    const TShown shown = RunDialog(&Config, 2);

    EXPECT_EQ(shown.Report,
              Concat({"B|Transport parameters:", "|    Service tracks content of /data/shop",
                      "|    transfer mode   - COPY", "|    destination     - ", "|    2nd destination - " + dest,
                      "|    for the shop    - shop7\\till", "|    for the user    - .\\localSYSTEM",
                      "|    with password   - "},
                     PassedDestination("Check destination", dest, "shop7\\till", shown.LocalSample.size())));
    EXPECT_EQ(shown.Caption, "Connectivity test: " + dest + ": no errors found");
    EXPECT_EQ(shown.LogonToken, 0U);
    EXPECT_EQ(NamesIn(dest + "/shop7/till"), Lines{}) << "the copied sample file is deleted again";
}

// The local sample file cannot be made: its red line stands right under the transfer header, and
// nothing is copied.
TEST_F(ConnTest, SampleFileThatCannotBeWrittenFailsTheTransferStep)
{
    ASSERT_EQ(::mkdir(SampleName, 0755), 0);
    const std::string dest = Work / "central";
    Config.SetDestination(0, dest);
    const TShown shown = RunDialog(&Config);

    ASSERT_GE(shown.Report.size(), 2U);
    EXPECT_EQ(Lines(shown.Report.end() - 2, shown.Report.end()),
              (Lines{"B|Checking file transfer to " + dest + ": ",
                     "R|    Cannot create file \"smaple.dat\". Is a directory"}));
    EXPECT_EQ(shown.Caption, "Connectivity test: " + dest + ": ERRORS FOUND");
    EXPECT_EQ(NamesIn(dest + "/shop7"), Lines{});
}

namespace {

// The files written and closed on one mount while it lives, with their owners and sizes, also
// those deleted since.
class TWrittenFiles {
public:
    explicit TWrittenFiles(const std::string& mountPoint)
        : Fd(::fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY))
    {
        if (Fd < 0 || ::fanotify_mark(Fd, FAN_MARK_ADD | FAN_MARK_MOUNT, FAN_CLOSE_WRITE, AT_FDCWD,
                                      mountPoint.c_str()) != 0)
            ADD_FAILURE() << "fanotify: " << std::strerror(errno);
    }
    ~TWrittenFiles()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    // Owner and size of each file written so far.
    std::vector<std::pair<uid_t, off_t>> Take() const
    {
        std::vector<std::pair<uid_t, off_t>> files;
        alignas(fanotify_event_metadata) char buffer[8192];
        ssize_t size = 0;
        while ((size = ::read(Fd, buffer, sizeof buffer)) > 0) {
            auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
            for (; FAN_EVENT_OK(event, size); event = FAN_EVENT_NEXT(event, size)) {
                struct stat st {};
                if (event->fd >= 0 && ::fstat(event->fd, &st) == 0 && S_ISREG(st.st_mode))
                    files.emplace_back(st.st_uid, st.st_size);
                if (event->fd >= 0)
                    ::close(event->fd);
            }
        }
        return files;
    }

private:
    int Fd;
};

class ConnTestAsUser : public ConnTest {
protected:
    TTestUser User{"ct", KnownPassword};
    SmallFileSystem Disk{1 << 20};
    std::string Dest;  // only the user may write here

    void SetUp() override
    {
        ConnTest::SetUp();
        Dest = Disk / "userdest";
        ASSERT_EQ(::mkdir(Dest.c_str(), 0700), 0);
        ASSERT_EQ(::chown(Dest.c_str(), User.Uid(), User.Gid()), 0);
        Config.SetDestination(0, Dest);
        Config.Username = ".\\" + User.Name();
        Config.Password = KnownPassword;
    }
};

}  // namespace

// The directory and the sample file are made as the account, not as the console's user, and the
// console has its own identity back afterwards.
TEST_F(ConnTestAsUser, CopyRunsAsTheAccountAndGivesTheIdentityBack)
{
    TWrittenFiles written(Disk.Path());
    const TShown shown = RunDialog(&Config);

    EXPECT_EQ(shown.Caption, "Connectivity test: " + Dest + ": no errors found");
    ASSERT_GE(shown.Report.size(), 9U);
    EXPECT_EQ(Lines(shown.Report.end() - 9, shown.Report.end()),
              PassedDestination("Check destination", Dest, "shop7", shown.LocalSample.size()));
    struct stat st {};
    ASSERT_EQ(::stat((Dest + "/shop7").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, User.Uid());
    const auto files = written.Take();
    ASSERT_EQ(files.size(), 1U) << "the sample file, written once";
    EXPECT_EQ(files[0].first, User.Uid());
    EXPECT_EQ(files[0].second, static_cast<off_t>(shown.LocalSample.size()));
    EXPECT_EQ(NamesIn(Dest + "/shop7"), Lines{});
    EXPECT_EQ(shown.LogonToken, 0U);
    EXPECT_EQ(ThreadFsUid(), 0);
}

// The console's current directory is root's own (0700, as root's home is): the account cannot
// enter it, yet the sample file written there reaches the destination.
TEST_F(ConnTestAsUser, CopyFromACurrentDirectoryTheAccountMayNotEnter)
{
    ASSERT_EQ(::chmod(Work.Path().c_str(), 0700), 0);
    const TShown shown = RunDialog(&Config);
    EXPECT_EQ(shown.Caption, "Connectivity test: " + Dest + ": no errors found");
    EXPECT_EQ(shown.Report.back(),
              "|    Transferring " + std::to_string(shown.LocalSample.size()) + " bytes...     Ok.");
}

// A destination the account may not write fails although the console runs as root.
TEST_F(ConnTestAsUser, CopyToADirectoryTheAccountMayNotWriteFails)
{
    const std::string rootOnly = Disk / "rootonly";
    ASSERT_EQ(::mkdir(rootOnly.c_str(), 0755), 0);
    Config.SetDestination(0, rootOnly);
    Config.DestinationDirectory = "";
    const TShown shown = RunDialog(&Config);

    ASSERT_GE(shown.Report.size(), 3U);
    EXPECT_EQ(Lines(shown.Report.end() - 3, shown.Report.end()),
              (Lines{"|    Transferring " + std::to_string(shown.LocalSample.size()) + " bytes...",
                     "R|    System Error.  Code: 13.", "R|Permission denied"}));
    EXPECT_EQ(shown.Caption, "Connectivity test: " + rootOnly + ": ERRORS FOUND");
    EXPECT_EQ(NamesIn(rootOnly), Lines{});
    EXPECT_EQ(ThreadFsUid(), 0);
}

TEST_F(ConnTestAsUser, WrongPasswordFailsTheLogon)
{
    Config.Password = "not-it";
    const TShown shown = RunDialog(&Config);

    ASSERT_GE(shown.Report.size(), 3U);
    EXPECT_EQ(Lines(shown.Report.end() - 3, shown.Report.end()),
              (Lines{"B|Check destination " + Dest + ":", "|    Connecting...",
                     "R|    Failed to login as user .\\" + User.Name() + ": The user name or password is incorrect."}));
    EXPECT_EQ(shown.Caption, "Connectivity test: " + Dest + ": ERRORS FOUND");
    EXPECT_EQ(shown.LogonToken, 0U);
    EXPECT_EQ(ThreadFsUid(), 0);
}

// An account the window thread may not take: the logon passes, the impersonation fails with its
// own text, and nothing else of the destination runs.
TEST_F(ConnTestAsUser, AccountTheThreadMayNotTakeFailsTheConnection)
{
    ASSERT_TRUE(SetEffectiveCapability(CAP_SETGID, false));
    struct TRestore {
        ~TRestore() { SetEffectiveCapability(CAP_SETGID, true); }
    } restore;
    const TShown shown = RunDialog(&Config);

    ASSERT_GE(shown.Report.size(), 3U);
    EXPECT_EQ(Lines(shown.Report.end() - 3, shown.Report.end()),
              (Lines{"B|Check destination " + Dest + ":", "|    Connecting...",
                     "R|    Failed to impersonate user .\\" + User.Name() + " : Operation not permitted"}));
    EXPECT_EQ(shown.Caption, "Connectivity test: " + Dest + ": ERRORS FOUND");
    EXPECT_EQ(shown.LogonToken, 0U);
    EXPECT_EQ(NamesIn(Dest), Lines{});
    EXPECT_EQ(ThreadFsUid(), 0);
}

// Impersonates, then takes away the thread's right to change its groups, and reverts.
void RevertWithoutTheRightToChangeGroups(HANDLE token)
{
    ImpersonateLoggedOnUser(token);
    SetEffectiveCapability(CAP_SETGID, false);
    ferrix::RevertImpersonation("shopuser");
    std::_Exit(0);
}

TEST(ConnTestRevert, AThreadThatCannotGetItsIdentityBackEndsTheProgram)
{
    TTestUser user("cr", KnownPassword);
    HANDLE token = 0;
    ASSERT_TRUE(LogonUserA(user.Name(), "", KnownPassword, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, token));
    EXPECT_EXIT(RevertWithoutTheRightToChangeGroups(token), ::testing::ExitedWithCode(3),
                "Failed to revert impersonation of user shopuser : Operation not permitted");
    CloseHandle(token);
    EXPECT_EQ(ThreadFsUid(), 0);
}

TEST_F(ConnTest, MissingSettingsAreReportedInTheErrorBoxAndNoTestRuns)
{
    TConnectionTestDlg dlg(nullptr);
    QString text;
    AnswerNextBox(&text);
    WaitForEvents([&] { return !text.isEmpty(); });
    EXPECT_EQ(text, "Transport Service configuration udefined");
    EXPECT_EQ(dlg.windowTitle(), "Connectivity test: no errors found");
    EXPECT_EQ(dlg.ReResult->toPlainText(), "");
}
