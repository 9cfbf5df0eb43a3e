// The dial-up connection of the transport service, against the scripted pppd (no modem or PPP
// peer can run here) and a real FTP server on loopback: dialling before a file, keeping and
// redialling the line, every logged failure, the pause before the hang-up with its cap, its early
// end and the wrap of the tick counter, and a whole pass on the service thread.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "foundation/debuglog.h"
#include "foundation/rasserv.h"
#include "foundation/trcnst.h"
#include "foundation/trconfig.h"
#include "ftpserver.h"
#include "ftsrvkit.h"
#include "pipekit.h"
#include "scriptedras.h"
#include "service/trsrv2.h"
#include "testkit.h"

namespace fs = std::filesystem;

namespace {

const std::string Established = "Connection to \"isp\" established";
const std::string Closed = "Connection to \"isp\" closed";

std::string PauseLine(int seconds, const std::string& name = "isp")
{
    return "Pause " + std::to_string(seconds) + " sec before disconnection from \"" + name + "\"";
}

// A tick counter that moves on by Step at every reading, from Start; it keeps its readings and may
// act at a given reading. Read on the service thread, inspected once the service has ended.
struct TSteppedTicks {
    uint32_t Next = 0;
    uint32_t Step = 1000;
    std::vector<uint32_t> Readings;
    std::function<void(size_t reading)> OnReading;

    uint32_t Read()
    {
        const uint32_t value = Next;
        Next += Step;  // wraps modulo 2^32, as the system's counter does
        Readings.push_back(value);
        if (OnReading)
            OnReading(Readings.size());
        return value;
    }
    // Milliseconds between the first and the last reading, modulo 2^32.
    uint32_t Span() const { return Readings.empty() ? 0 : static_cast<uint32_t>(Readings.back() - Readings.front()); }
};

size_t IndexOf(const std::vector<std::string>& messages, const std::string& message)
{
    return static_cast<size_t>(std::find(messages.begin(), messages.end(), message) - messages.begin());
}

// Sends SIGTERM to the link of an entry, as if the line had dropped, and waits until it has gone.
bool DropLine(const TScriptedRas& ras, const std::string& name)
{
    const pid_t pid = ras.LinkPid(name);
    if (pid <= 0 || kill(pid, SIGTERM) != 0)
        return false;
    return WaitFor([&] { return !ProcessRunning(pid) && ras.LinkPid(name) == 0; });
}

// The service object, not started: its lock exists, its log goes to the test's directory, and the
// dial-up routines see the scripted phonebook with the entry "isp".
class DialUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        ferrix::SetRasHangUpPause(0);
        Ras.AddEntry("isp");
        SetLogTarget(nullptr, LogPath());
        Config().Transport = TRANSPORT_FTP;
        Config().Connection = "isp";
        // A pause that never ends is ended by the termination flag, so the test fails instead of hanging.
        Svc.TickCount = [this] {
            const uint32_t value = Ticks.Read();
            if (Ticks.Readings.size() > 1000 && !Svc.ServiceThread().Terminated()) {
                ADD_FAILURE() << "the pause does not end";
                Svc.ServiceThread().Terminate();
            }
            return value;
        };
    }
    void TearDown() override
    {
        ClearLogTarget();
        ferrix::SetRasHangUpPause(RasHangUpPauseMs);
    }

    std::string LogPath() const { return Dir / "ferrix.log"; }
    std::vector<std::string> Log() const { return LogMessages(LogPath()); }
    TTransportConfig& Config() { return Svc.TrConfig(); }

    // Dials "isp" through RasConnect; false when the link is not up afterwards.
    bool Dial()
    {
        Svc.RasConnect();
        return Svc.ActiveRasConnection == "isp" && Ras.LinkPid("isp") > 0 && ProcessRunning(Ras.LinkPid("isp"));
    }

    // FTP settings for the server, and a shop with the given files in its "caisse" directory.
    std::string UseServer(const FtpServer& server, const std::vector<std::string>& files)
    {
        UseFtpServer(Config(), server);
        const std::string caisse = Dir / "Shop12/caisse";
        fs::create_directories(caisse);
        for (const std::string& file : files)
            WriteTextFile(caisse + "/" + file, file);
        return caisse;
    }

    TScriptedRas Ras;
    TempDir Dir;
    TSteppedTicks Ticks;
    TTransportSvc2 Svc;
};

}  // namespace

TEST(DisconnectDelay, IsTheDelayInMinutesCappedAtHalfTheIntervalInIntervalMode)
{
    struct TCase {
        int32_t Interval;
        bool ExactTime;
        int32_t Minutes;
        uint32_t Expected;
    };
    const TCase cases[] = {
        {60, false, 5, 30000},     // half the interval
        {60, true, 5, 300000},     // exact-time mode: no cap
        {45, false, 5, 22500},     // the cap in milliseconds, not in whole seconds
        {3600, false, 5, 300000},  // the delay is below the cap
        {60, false, 0, 0},
        {0, false, 5, 0},
        // Settings out of range: a negative delay is no pause; a huge one stops at the 32-bit limit.
        {60, false, -3, 0},
        {-60, false, 5, 0},
        {60, true, 100000, 2147483647u},
        {2147483647, false, 100000, 2147483647u},
    };
    for (const TCase& c : cases) {
        TTransportConfig config;
        config.TimeBetweenActions = c.Interval;
        config.ExactTimeMode = c.ExactTime;
        config.DisconnDelay = c.Minutes;
        EXPECT_EQ(DisconnectDelayMs(config), c.Expected)
            << c.Interval << " s interval, exact " << c.ExactTime << ", " << c.Minutes << " min";
    }
}

TEST_F(DialUp, PauseLastsTheCappedDelayThenHangsUp)
{
    struct TCase {
        int32_t Interval;
        bool ExactTime;
        int Seconds;  // as logged
        uint32_t DelayMs;
    };
    const TCase cases[] = {{60, false, 30, 30000}, {60, true, 300, 300000}, {45, false, 22, 22500}};
    Config().DisconnDelay = 5;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Seconds);
        Config().TimeBetweenActions = c.Interval;
        Config().ExactTimeMode = c.ExactTime;
        ASSERT_TRUE(Dial());
        const pid_t link = Ras.LinkPid("isp");
        Ticks = TSteppedTicks{123456, 2500, {}, {}};

        Svc.RasDisconnect();
        EXPECT_EQ(Log().end()[-2], PauseLine(c.Seconds));
        EXPECT_EQ(Log().back(), Closed);
        // Readings 2500 ms apart: the wait ends at the first reading at or past the delay.
        EXPECT_EQ(Ticks.Span(), c.DelayMs);
        EXPECT_EQ(Ticks.Readings.size(), c.DelayMs / 2500 + 1);
        EXPECT_FALSE(ProcessRunning(link));
        EXPECT_TRUE(Svc.ActiveRasConnection.empty());
    }
}

TEST_F(DialUp, ZeroDelayLogsThePauseAndHangsUpAtOnce)
{
    Config().DisconnDelay = 0;
    ASSERT_TRUE(Dial());
    const pid_t link = Ras.LinkPid("isp");
    Svc.RasDisconnect();
    EXPECT_EQ(Log(), (std::vector<std::string>{Established, PauseLine(0), Closed}));
    EXPECT_LE(Ticks.Readings.size(), 2u);  // the start and one test: no wait step
    EXPECT_FALSE(ProcessRunning(link));
    EXPECT_TRUE(Svc.ActiveRasConnection.empty());

    // Nothing is held any more: a further call does nothing.
    Svc.RasDisconnect();
    EXPECT_EQ(Log().size(), 3u);
}

TEST_F(DialUp, TickCounterWrapChangesNeitherLengthNorEnd)
{
    Config().DisconnDelay = 5;
    Config().TimeBetweenActions = 60;  // 30 s
    ASSERT_TRUE(Dial());
    Ticks = TSteppedTicks{1000, 1000, {}, {}};
    Svc.RasDisconnect();
    const std::vector<uint32_t> plain = Ticks.Readings;
    ASSERT_EQ(plain.back(), 31000u);

    ASSERT_TRUE(Dial());
    const uint32_t start = 0xFFFFFFFFu - 4999u;  // wraps 5 s into the pause
    Ticks = TSteppedTicks{start, 1000, {}, {}};
    Svc.RasDisconnect();
    EXPECT_EQ(Ticks.Readings.size(), plain.size());
    EXPECT_EQ(Ticks.Readings.back(), static_cast<uint32_t>(start + 30000u));
    EXPECT_LT(Ticks.Readings.back(), start);  // the counter did wrap
    EXPECT_EQ(Log().back(), Closed);
}

TEST_F(DialUp, UrgentRequestEndsThePauseAndTheLineIsHungUpAtOnce)
{
    Config().DisconnDelay = 5;
    Config().ExactTimeMode = true;
    Svc.TickCount = GetTickCount;  // the real counter: a missed end would wait 5 minutes
    ASSERT_TRUE(Dial());
    const pid_t link = Ras.LinkPid("isp");
    Svc.Controller(SERVICE_CONTROL_STOP);

    const auto began = std::chrono::steady_clock::now();
    Svc.RasDisconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    EXPECT_EQ(Log(), (std::vector<std::string>{Established, PauseLine(300), Closed}));
    EXPECT_FALSE(ProcessRunning(link));
    // The request is left for the service's own request processing.
    uint32_t code = 0;
    EXPECT_TRUE(Svc.ServiceThread().PeekRequest(code));
    EXPECT_EQ(code, SERVICE_CONTROL_STOP);
}

TEST_F(DialUp, InterrogateDuringThePauseIsHandledAndThePauseGoesOn)
{
    Config().DisconnDelay = 1;
    Config().ExactTimeMode = true;  // 60 s
    ASSERT_TRUE(Dial());
    Ticks = TSteppedTicks{0, 10000, {}, {}};
    Svc.Controller(SERVICE_CONTROL_INTERROGATE);
    Svc.RasDisconnect();
    uint32_t code = 0;
    EXPECT_FALSE(Svc.ServiceThread().PeekRequest(code));
    EXPECT_EQ(Ticks.Span(), 60000u);
    EXPECT_EQ(Log().back(), Closed);
}

TEST_F(DialUp, ServiceToldToStopKeepsTheLineForTheStopWork)
{
    Config().DisconnDelay = 5;
    ASSERT_TRUE(Dial());
    const pid_t link = Ras.LinkPid("isp");
    Svc.ServiceThread().Terminate();
    Svc.RasDisconnect();
    EXPECT_EQ(Log(), (std::vector<std::string>{Established, PauseLine(30)}));
    EXPECT_EQ(Svc.ActiveRasConnection, "isp");
    EXPECT_TRUE(ProcessRunning(link));
}

TEST_F(DialUp, RasConnectKeepsItsOwnLineMatchingNamesInAnyCase)
{
    Config().Connection = "ISP";
    Svc.RasConnect();
    EXPECT_EQ(Svc.ActiveRasConnection, "ISP");
    EXPECT_EQ(Ras.Calls(), std::vector<std::string>{"call isp linkname isp updetach"});
    Svc.RasConnect();
    Svc.RasConnect();
    EXPECT_EQ(Ras.Calls().size(), 1u);
    EXPECT_EQ(Log(), std::vector<std::string>{"Connection to \"ISP\" established"});

    // The hang-up finds the link under its own spelling.
    const pid_t link = Ras.LinkPid("isp");
    Svc.RasDisconnect();
    EXPECT_EQ(Log().back(), "Connection to \"ISP\" closed");
    EXPECT_FALSE(ProcessRunning(link));
}

TEST_F(DialUp, RasFailuresAreLoggedAndNoneIsRaised)
{
    // An empty phonebook.
    fs::remove(Ras.PhonebookDir() + "/isp");
    EXPECT_NO_THROW(Svc.RasConnect());
    EXPECT_EQ(Log().back(), "RAS connections were not found in default notebook");
    EXPECT_EQ(std::string(StatusOf(Svc).LastError), "RAS connections were not found in default notebook");

    // More entries than are read.
    for (int i = 1; i <= 17; ++i)
        Ras.AddEntry("line" + std::to_string(i));
    EXPECT_NO_THROW(Svc.RasConnect());
    EXPECT_EQ(Log().back(), "Failed to retrieve modem conections from default phonebook: The buffer is too small.");
    for (int i = 1; i <= 17; ++i)
        fs::remove(Ras.PhonebookDir() + "/line" + std::to_string(i));

    // A dial that fails.
    Ras.AddEntry("isp", "scripted-exit 7");
    EXPECT_NO_THROW(Svc.RasConnect());
    EXPECT_EQ(Log().back(), "Failed to connect to \"isp\": The serial port could not be opened.");
    EXPECT_TRUE(Svc.ActiveRasConnection.empty());

    // The active connections cannot be listed (more than are read): the line no longer counts as
    // this service's own, and the phonebook is read again.
    Ras.AddEntry("isp");
    ASSERT_TRUE(Dial());
    for (int i = 1; i <= 17; ++i)
        WriteTextFile(Ras.RunDir() + "/ppp-other" + std::to_string(i) + ".pid", std::to_string(getpid()) + "\n");
    fs::rename(Ras.PhonebookDir() + "/isp", Ras.PhonebookDir() + "/elsewhere");
    EXPECT_NO_THROW(Svc.RasConnect());
    const std::vector<std::string> log = Log();
    EXPECT_EQ(log.end()[-2], "Failed to get list of active modem connections: The buffer is too small.");
    EXPECT_EQ(log.back(), "RAS connection \"isp\" is not found in default phonebook");
    EXPECT_TRUE(Svc.ActiveRasConnection.empty());
    EXPECT_EQ(Ras.Calls().size(), 2u);  // the failed dial and the good one
}

TEST_F(DialUp, HangUpOfALineThatDroppedFailsWithAnEmptyTextAndIsNotTriedAgain)
{
    Config().DisconnDelay = 0;
    ASSERT_TRUE(Dial());
    ASSERT_TRUE(DropLine(Ras, "isp"));
    Svc.RasDisconnect();
    EXPECT_EQ(Log().back(), "Failed to disconnect from \"isp\": ");
    EXPECT_EQ(std::string(StatusOf(Svc).LastError), "Failed to disconnect from \"isp\": ");
    EXPECT_TRUE(Svc.ActiveRasConnection.empty());
    const size_t lines = Log().size();
    Svc.RasDisconnect();
    EXPECT_EQ(Log().size(), lines);
}

TEST_F(DialUp, LineThatDropsDuringADestinationIsDialledAgainAtTheNextFile)
{
    FtpServer server;
    const std::string caisse = UseServer(server, {"c1.txt", "c2.txt", "c3.txt"});
    bool more = true;
    Svc.BeforeDestination();
    EXPECT_TRUE(Svc.TransferFile(caisse + "/c1.txt", "", more));
    EXPECT_TRUE(Svc.TransferFile(caisse + "/c2.txt", "", more));
    EXPECT_EQ(Ras.Calls().size(), 1u);  // the line is kept across the files

    ASSERT_TRUE(DropLine(Ras, "isp"));
    EXPECT_TRUE(Svc.TransferFile(caisse + "/c3.txt", "", more));
    EXPECT_EQ(Ras.Calls().size(), 2u);
    EXPECT_EQ(Svc.ActiveRasConnection, "isp");
    EXPECT_EQ(Log(), (std::vector<std::string>{Established, Established}));
    EXPECT_EQ(server.Arguments("STOR"), (std::vector<std::string>{"c1.txt", "c2.txt", "c3.txt"}));

    Svc.AfterDestination();
    EXPECT_EQ(Log().back(), Closed);
    EXPECT_EQ(Ras.LinkPid("isp"), 0);
}

TEST_F(DialUp, EntryMissingFromThePhonebookIsLoggedAtEveryFileAndTheFtpConnectStillRuns)
{
    FtpServer server;
    const std::string caisse = UseServer(server, {"c1.txt", "c2.txt"});
    Config().Connection = "office";
    bool more = true;
    Svc.BeforeDestination();
    EXPECT_TRUE(Svc.TransferFile(caisse + "/c1.txt", "", more));
    Svc.AfterDestination();
    Svc.BeforeDestination();
    EXPECT_TRUE(Svc.TransferFile(caisse + "/c2.txt", "", more));
    Svc.AfterDestination();

    const std::string missing = "RAS connection \"office\" is not found in default phonebook";
    EXPECT_EQ(Log(), (std::vector<std::string>{missing, missing}));
    EXPECT_EQ(std::string(StatusOf(Svc).LastError), missing);
    EXPECT_EQ(server.Arguments("STOR"), (std::vector<std::string>{"c1.txt", "c2.txt"}));
    EXPECT_TRUE(Ras.Calls().empty());
}

TEST_F(DialUp, EmptyConnectionMakesNoRasCall)
{
    FtpServer server;
    const std::string caisse = UseServer(server, {"c1.txt"});
    Config().Connection = "";
    // Every dial-up routine clears this as it starts.
    LastRasError = 4242;
    bool more = true;
    Svc.BeforeDestination();
    EXPECT_TRUE(Svc.TransferFile(caisse + "/c1.txt", "", more));
    Svc.AfterDestination();
    EXPECT_FALSE(Svc.IdFTP.Connected());
    EXPECT_EQ(LastRasError, 4242);
    EXPECT_TRUE(Ras.Calls().empty());
    EXPECT_TRUE(Ticks.Readings.empty());
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(server.Arguments("STOR"), std::vector<std::string>{"c1.txt"});
}

namespace {

const TDateTime Day = EncodeDate(2024, 3, 5);

// The transport service on its own service thread, with its settings and log in the test's
// directory, its pipes in a private directory, and a clock the test moves.
class DialUpService : public ::testing::Test {
protected:
    DialUpService()
    {
        ferrix::SetRasHangUpPause(0);
        Ras.AddEntry("isp");
        Svc->ConfigFileName = Dir / "ferrix.ini";
        Svc->LogFileName = Dir / "ferrix.log";
        Svc->Clock = [this] { return Clock(); };
    }
    ~DialUpService() override
    {
        if (!Host.Ended())
            Svc->Controller(SERVICE_CONTROL_STOP);
        Svc->WaitForServiceThread();
        ferrix::SetRasHangUpPause(RasHangUpPauseMs);
    }

    void WriteSettings(const FtpServer& server, const std::string& general, int disconnDelay)
    {
        WriteTextFile(Dir / "ferrix.ini",
                      "[General]\r\nLogDetailed=1\r\n" + general + "[Directory0]\r\nTrackDirectory=" + Shop +
                          "\r\n[Transport]\r\nTransport=FTP\r\nDestination0=" + server.Host() +
                          "\r\nPort=" + std::to_string(server.Port()) + "\r\nPassiveMode=1\r\nUsername=" +
                          server.User() + "\r\nPassword=" + server.Password() +
                          "\r\nDestinationDirectory=central\r\nConnection=isp\r\nDisconnDelay=" +
                          std::to_string(disconnDelay) + "\r\n");
    }
    // Starts the service and makes its first check due.
    void StartAndCheck()
    {
        Svc->StartServiceThread(Host);
        ASSERT_TRUE(WaitFor([this] { return Host.Count(csRunning) > 0; }));
        ASSERT_TRUE(FirstCheckScheduled(*Svc));
        Clock.Advance(Span(0, 0, 6));
    }
    std::vector<std::string> Log() const { return LogMessages(Dir / "ferrix.log"); }
    bool LogHas(const std::string& message) const { return CountOf(Log(), message) > 0; }

    TScriptedRas Ras;
    PipeDirectory Pipes;
    TempDir Dir;
    const std::string Shop = Dir / "Shop12";
    TTestClock Clock{Day + Span(10, 0, 0)};
    TRecordingHost Host;
    std::unique_ptr<TTransportSvc2> Svc = std::make_unique<TTransportSvc2>();
};

}  // namespace

TEST_F(DialUpService, FtpPassDialsBeforeTheFirstFileTransfersPausesAndHangsUp)
{
    FtpServer server;
    fs::create_directories(Shop + "/caisse");
    WriteTextFile(Shop + "/caisse/c1.txt", "c1");
    WriteTextFile(Shop + "/caisse/c2.txt", "c2");
    WriteSettings(server, "TimeBetweenActions=60\r\n", 0);
    StartAndCheck();
    ASSERT_TRUE(WaitFor([this] { return LogHas(Closed); }, std::chrono::seconds(30)));

    const std::vector<std::string> log = Log();
    // Files go in descending name order; the line is dialled when the first needs it.
    const size_t first = IndexOf(log, "transmitting file " + Shop + "/caisse/c2.txt");
    const size_t dialled = IndexOf(log, Established);
    const size_t second = IndexOf(log, "transmitting file " + Shop + "/caisse/c1.txt");
    const size_t pause = IndexOf(log, PauseLine(0));
    const size_t closed = IndexOf(log, Closed);
    ASSERT_LT(closed, log.size());
    EXPECT_LT(first, dialled);
    EXPECT_LT(dialled, second);
    EXPECT_LT(second, pause);
    EXPECT_LT(pause, closed);
    EXPECT_EQ(CountOf(log, Established), 1u);
    EXPECT_EQ(CountOf(log, Closed), 1u);

    EXPECT_EQ(server.Arguments("STOR"), (std::vector<std::string>{"c2.txt", "c1.txt"}));
    EXPECT_EQ(ReadTextFile(server.LocalPath("/central/caisse/c1.txt")), "c1");
    // The FTP connection is closed before the hang-up.
    EXPECT_EQ(server.Commands().back(), "QUIT");
    EXPECT_EQ(Ras.Calls(), std::vector<std::string>{"call isp linkname isp updetach"});
    EXPECT_EQ(Ras.LinkPid("isp"), 0);
}

TEST_F(DialUpService, StopDuringThePauseEndsItAndTheStopWorkHangsUpOnceWithoutPause)
{
    FtpServer server;
    fs::create_directories(Shop + "/caisse");
    WriteTextFile(Shop + "/caisse/c1.txt", "c1");
    WriteSettings(server, "TimeBetweenActions=3600\r\n", 5);  // a pause of 300 s
    // The stop arrives during the pause and is handled by the pause's own request processing.
    std::atomic<size_t> readings{0};
    Svc->TickCount = [this, &readings] {
        if (++readings == 3)
            Svc->Controller(SERVICE_CONTROL_STOP);
        return GetTickCount();
    };
    StartAndCheck();
    ASSERT_TRUE(WaitFor([this] { return Host.Ended(); }, std::chrono::seconds(30)));

    const std::vector<std::string> log = Log();
    EXPECT_EQ(CountOf(log, PauseLine(300)), 1u);
    EXPECT_EQ(CountOf(log, Closed), 1u);
    EXPECT_LT(IndexOf(log, PauseLine(300)), IndexOf(log, Closed));
    EXPECT_LT(IndexOf(log, Closed), IndexOf(log, "TransportSvc2 service stopped"));
    EXPECT_EQ(readings.load(), 3u);  // the pause ended at the first test after the stop
    EXPECT_EQ(server.Arguments("STOR"), std::vector<std::string>{"c1.txt"});
    EXPECT_EQ(Ras.LinkPid("isp"), 0);
}
