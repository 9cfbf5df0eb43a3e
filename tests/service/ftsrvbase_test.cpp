// The generic file-tracking service driven on the test's own thread: schedule, event routing,
// status record and the check pass. The suite with the service thread is ftsrvbase_thread_test.
#include "service/ftsrvbase.h"

#include <gtest/gtest.h>

#include "foundation/debuglog.h"
#include "foundation/sds.h"
#include "foundation/verinfo.h"
#include "ftsrvkit.h"
#include "pipekit.h"
#include "platform/files/findfile.h"
#include "foundation/pipeproto.h"

namespace {

const TDateTime Day = EncodeDate(2024, 3, 5);

// ---- schedule

class FtrackerSchedule : public ::testing::Test {
protected:
    TempDir Dir;
    TTestClock Clock{Day + Span(10, 0, 0)};
    TScriptedService Service{Dir, Clock};

    void ExactTimes(const std::string& text)
    {
        Service.Config->ExactTimeMode = true;
        Service.Config->ExactTime.SetText(text);
    }
    std::string FirstCheckAt(TDateTime start)
    {
        Clock.Set(start);
        Service.ScheduleFirstCheck();
        return TimeText(Service.NextCheck);
    }
    std::string NextCheckAfterPassEndingAt(TDateTime end)
    {
        Clock.Set(end);
        Service.ScheduleNextCheck();
        return TimeText(Service.NextCheck);
    }
};

TEST_F(FtrackerSchedule, OneExactTime)
{
    ExactTimes("18:00");
    EXPECT_EQ(FirstCheckAt(Day + Span(10, 0, 0)), "2024-03-05 18:00:00.000");
    EXPECT_EQ(FirstCheckAt(Day + Span(19, 0, 0)), "2024-03-05 19:00:05.000");
    EXPECT_EQ(NextCheckAfterPassEndingAt(Day + Span(18, 0, 40)), "2024-03-06 18:00:00.000");
    EXPECT_EQ(NextCheckAfterPassEndingAt(Day + Span(10, 0, 7)), "2024-03-05 18:00:00.000");
}

TEST_F(FtrackerSchedule, TwoExactTimesStartNearTheNearestOne)
{
    ExactTimes("08:00 18:00");
    EXPECT_EQ(FirstCheckAt(Day + Span(12, 0, 0)), "2024-03-05 12:00:05.000");
    EXPECT_EQ(FirstCheckAt(Day + Span(14, 0, 0)), "2024-03-05 18:00:00.000");
    EXPECT_EQ(NextCheckAfterPassEndingAt(Day + Span(12, 0, 6)), "2024-03-05 18:00:00.000");
    EXPECT_EQ(NextCheckAfterPassEndingAt(Day + Span(18, 0, 1)), "2024-03-06 08:00:00.000");
}

TEST_F(FtrackerSchedule, ExactTimeModeWithoutTimesRunsOnTheInterval)
{
    ExactTimes("");
    Service.Config->TimeBetweenActions = 90;
    EXPECT_EQ(FirstCheckAt(Day + Span(10, 0, 0)), "2024-03-05 10:00:05.000");
    EXPECT_EQ(NextCheckAfterPassEndingAt(Day + Span(10, 3, 0)), "2024-03-05 10:04:30.000");
}

TEST_F(FtrackerSchedule, IntervalCountsFromTheEndOfALongPass)
{
    Service.Config->TimeBetweenActions = 60;
    EXPECT_EQ(FirstCheckAt(Day + Span(10, 0, 0)), "2024-03-05 10:00:05.000");
    EXPECT_EQ(NextCheckAfterPassEndingAt(Day + Span(10, 10, 5)), "2024-03-05 10:11:05.000");
}

TEST_F(FtrackerSchedule, CheckIsDueOnlyStrictlyAfterTheNextCheck)
{
    Service.ScheduleFirstCheck();
    Clock.Set(Service.NextCheck);
    EXPECT_FALSE(Service.IsCheckDue());
    Clock.Advance(Span(0, 0, 0, 1));
    EXPECT_TRUE(Service.IsCheckDue());
}

// ---- a started service (start event run on the test's thread)

class FtrackerServiceTest : public ::testing::Test {
protected:
    PipeDirectory Pipes;
    TempDir Dir;
    TTestClock Clock{Day + Span(10, 0, 0)};
    std::unique_ptr<TScriptedService> Service = std::make_unique<TScriptedService>(Dir, Clock);
    bool Started = false;

    ~FtrackerServiceTest() override
    {
        if (Started)
            Stop();
    }

    // A tracked directory with files (name and content).
    std::string MakeDir(const std::string& name, const std::vector<std::string>& files)
    {
        return MakeDirWithFiles(Dir / name, files);
    }
    void Start(const std::vector<std::string>& dirs, bool detailed = true)
    {
        WriteSettings(Service->ConfigFileName, dirs, detailed);
        bool started = true;
        Service->ServiceStart(Service.get(), started);
        ASSERT_TRUE(started);
        Started = true;
    }
    void Stop()
    {
        bool stopped = true;
        Service->ServiceStop(Service.get(), stopped);
        Started = false;
    }
    std::vector<std::string> Log() const { return LogMessages(Service->LogFileName); }
    std::string LastLogLine() const
    {
        const auto log = Log();
        return log.empty() ? std::string() : log.back();
    }
};

TEST_F(FtrackerServiceTest, ReportEventRoutesByLevel)
{
    Start({});
    Clock.Set(Day + Span(11, 0, 0));
    Service->ReportEvent(3, "disk on fire");
    Clock.Set(Day + Span(11, 0, 1));
    Service->ReportEvent(2, "just news");
    TServiceStatusInfo info = Service->Stats();
    EXPECT_STREQ(info.LastError, "disk on fire");
    EXPECT_EQ(TimeText(info.LastErrorTime), "2024-03-05 11:00:00.000");
    EXPECT_STREQ(info.LastEvent, "just news");
    EXPECT_EQ(TimeText(info.LastEventTime), "2024-03-05 11:00:01.000");

    Clock.Set(Day + Span(11, 0, 2));
    Service->ReportEvent(0xFFFFFFFFu, "far beyond three");
    info = Service->Stats();
    EXPECT_STREQ(info.LastError, "far beyond three");
    EXPECT_STREQ(info.LastEvent, "just news");
    EXPECT_EQ(TimeText(info.LastEventTime), "2024-03-05 11:00:01.000");

    const auto log = Log();
    EXPECT_EQ(CountOf(log, "disk on fire"), 1u);
    EXPECT_EQ(CountOf(log, "just news"), 1u);
    EXPECT_EQ(CountOf(log, "far beyond three"), 1u);
}

TEST_F(FtrackerServiceTest, StartLogsAndStatusRecordStartsIdle)
{
    const std::string shop = MakeDir("shop", {});
    Start({"", shop});
    EXPECT_EQ(Log(), (std::vector<std::string>{"FtTest service started",
                                               "Configuration loaded from \"" + Service->ConfigFileName + "\"",
                                               "Monitor directory " + shop, "Pipe server started \"FtTestInfo\"",
                                               "Pipe server started \"FtTestControl\""}));
    const TServiceStatusInfo info = Service->Stats();
    EXPECT_EQ(+info.Size, 511);
    EXPECT_EQ(+info.Busy, 0);
    const TVersionInfo version;
    EXPECT_EQ(+info.VersionMajor, 4);
    EXPECT_EQ(+info.VersionMinor, 3);
    EXPECT_EQ(+info.VersionRelease, 2);
    EXPECT_EQ(+info.VersionMajor, version.Major);
    // Nothing scheduled yet: the next-check time is all zero.
    EXPECT_EQ(TimeText(info.NextCheckTime), "0000-00-00 00:00:00.000");
    EXPECT_EQ(+info.NextCheckTime.wDayOfWeek, 0);

    Service->ScheduleFirstCheck();
    Service->UpdateNextCheckTime();
    EXPECT_EQ(TimeText(Service->Stats().NextCheckTime), "2024-03-05 10:00:05.000");
}

TEST_F(FtrackerServiceTest, StatusRecordCutsLongTexts)
{
    Start({});
    Service->ReportEvent(0, std::string(200, 'e'));
    Service->ReportEvent(3, std::string(127, 'r'));
    Service->SetLastFile(std::string(100, 'o'), true, -1);
    Service->SetLastFile("/x/" + std::string(63, 'b') + "\xC3\xA9", false, 0);  // a two-byte character at 64
    const TServiceStatusInfo info = Service->Stats();
    EXPECT_EQ(std::string(info.LastEvent), std::string(127, 'e'));
    EXPECT_EQ(std::string(info.LastError), std::string(127, 'r'));
    EXPECT_EQ(std::string(info.LastFileOK), std::string(64, 'o'));
    EXPECT_EQ(std::string(info.LastFileBad), std::string(63, 'b'));
    EXPECT_EQ(info.LastFileOK[64], '\0');
}

TEST_F(FtrackerServiceTest, LastFileKeepsTheEnclosingDirectories)
{
    Start({});
    Clock.Set(Day + Span(12, 30, 0));
    Service->SetLastFile("/data/shop/caisse/x.txt", true, 2);
    Service->SetLastFile("/data/shop/caisse/y.txt", false, 0);
    TServiceStatusInfo info = Service->Stats();
    EXPECT_STREQ(info.LastFileOK, "shop/caisse/x.txt");
    EXPECT_EQ(TimeText(info.LastFileOKTime), "2024-03-05 12:30:00.000");
    EXPECT_STREQ(info.LastFileBad, "y.txt");
    Service->SetLastFile("/caisse/z.txt", true, 2);
    EXPECT_STREQ(Service->Stats().LastFileOK, "caisse/z.txt");
}

// ---- the check pass

TEST_F(FtrackerServiceTest, TwoDestinationsCountEachTransfer)
{
    const std::string shop = MakeDir("shop", {"a.arg", "b.arg", "c.arg"});
    Service->Destinations = {"tr2list0.dst", "tr2list1.dst"};
    Start({shop});
    Clock.Set(Day + Span(10, 1, 0));
    Service->ProcessChains();

    EXPECT_EQ(Service->Calls(),
              (std::vector<std::string>{"before 0", "send c.arg@0", "send b.arg@0", "send a.arg@0", "after 0", "before 1",
                                        "send c.arg@1", "send b.arg@1", "send a.arg@1", "after 1"}));
    EXPECT_EQ(LastLogLine(), "processed 6 files OK, 0 files bad, elapsed 0:00:00:000");
    TServiceStatusInfo info = Service->Stats();
    EXPECT_EQ(+info.LastCheckFilesOK, 6);
    EXPECT_EQ(+info.LastCheckFilesBad, 0);
    EXPECT_EQ(TimeText(info.LastCheckTime), "2024-03-05 10:01:00.000");
    EXPECT_TRUE(FileExists(shop + "/tr2list0.dst"));
    EXPECT_TRUE(FileExists(shop + "/tr2list1.dst"));

    // Nothing changed: no file, no summary, the statistics of the first pass stay.
    Service->ClearCalls();
    const size_t lines = Log().size();
    Clock.Set(Day + Span(10, 2, 0));
    Service->ProcessChains();
    EXPECT_TRUE(Service->Sent().empty());
    EXPECT_EQ(Log().size(), lines + 1);
    EXPECT_EQ(LastLogLine(), "Processing chain " + shop);
    info = Service->Stats();
    EXPECT_EQ(+info.LastCheckFilesOK, 6);
    EXPECT_EQ(TimeText(info.LastCheckTime), "2024-03-05 10:01:00.000");
}

TEST_F(FtrackerServiceTest, FailedFilesAreCountedAndTheSummaryIsWrittenWithoutDetail)
{
    const std::string shop = MakeDir("shop", {"a.arg", "b.arg", "c.arg"});
    Service->OnTransfer = [](const std::string& path, const std::string&, bool&) {
        return ExtractFileName(path) != "b.arg";
    };
    Start({shop}, false);
    Service->ProcessChains();
    EXPECT_EQ(Log(), (std::vector<std::string>{"FtTest service started", "Monitor directory " + shop,
                                               "processed 2 files OK, 1 files bad, elapsed 0:00:00:000"}));
    EXPECT_EQ(+Service->Stats().LastCheckFilesBad, 1);
    // The failed file stays changed and is offered again.
    Service->ClearCalls();
    Service->OnTransfer = nullptr;
    Service->ProcessChains();
    EXPECT_EQ(Service->Sent(), (std::vector<std::string>{"b.arg@0"}));
}

// A status file that cannot be written (a full disk, a directory in its place) loses the record
// of the pass, not its counts: the files were sent.
TEST_F(FtrackerServiceTest, AStatusFileThatCannotBeWrittenStillCountsWhatWasSent)
{
    SmallFileSystem disk(256 * 1024);
    const std::string full = disk / "full";
    ASSERT_TRUE(ForceDirectories(full));
    for (const char* name : {"a.arg", "b.arg"})
        WriteTextFile(full + "/" + name, name);
    ASSERT_TRUE(disk.Fill("filler"));
    const std::string blocked = MakeDir("blocked", {"c.arg"});
    ASSERT_TRUE(ForceDirectories(blocked + "/tr2list0.dst"));
    Service->Destinations = {"tr2list0.dst"};
    Start({full, blocked}, false);
    Clock.Set(Day + Span(10, 1, 0));
    Service->ProcessChains();

    EXPECT_EQ(Service->Sent(), (std::vector<std::string>{"b.arg@0", "a.arg@0", "c.arg@0"}));
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "FtTest service started", "Monitor directory " + full, "Monitor directory " + blocked,
                         "Unable to write to " + full + "/tr2list0.dst : " + SysErrorMessage(ENOSPC),
                         "processed 2 files OK, 0 files bad, elapsed 0:00:00:000",
                         "Unable to write to " + blocked + "/tr2list0.dst : " + SysErrorMessage(EISDIR),
                         "processed 1 files OK, 0 files bad, elapsed 0:00:00:000"}));
    const TServiceStatusInfo info = Service->Stats();
    EXPECT_EQ(+info.LastCheckFilesOK, 1);
    EXPECT_EQ(+info.LastCheckFilesBad, 0);
    EXPECT_EQ(TimeText(info.LastCheckTime), "2024-03-05 10:01:00.000");
    EXPECT_EQ(std::string(info.LastError, 19), "Unable to write to ");
    EXPECT_FALSE(FileExists(full + "/tr2list0.dst"));
}

TEST_F(FtrackerServiceTest, ElapsedTimesOfEntryDestinationAndPass)
{
    const std::string first = MakeDir("first", {"a.arg", "b.arg"});
    const std::string second = MakeDir("second", {"c.arg"});
    // Each file takes 1:02:03.456, each AfterDestination 0.250 s.
    Service->OnTransfer = [this](const std::string&, const std::string&, bool&) {
        Clock.Advance(Span(1, 2, 3, 456));
        return true;
    };
    Service->OnAfter = [this] { Clock.Advance(Span(0, 0, 0, 250)); };
    Start({first, second});
    const size_t lines = Log().size();
    Service->ProcessChains();
    const auto log = Log();
    const std::vector<std::string> pass(log.begin() + static_cast<std::ptrdiff_t>(lines), log.end());
    EXPECT_EQ(pass, (std::vector<std::string>{
                        "Processing chain " + first,
                        "processed directory " + first + ", elasped 2:04:06:912",
                        "postprocessing after 2 source files finished, elapsed 0:00:00:250",
                        "processed 2 files OK, 0 files bad, elapsed 2:04:07:162",
                        "Processing chain " + second,
                        "processed directory " + second + ", elasped 1:02:03:456",
                        "postprocessing after 1 source files finished, elapsed 0:00:00:250",
                        // Measured from the start of the pass: the first chain is included.
                        "processed 1 files OK, 0 files bad, elapsed 3:06:10:868",
                    }));
    EXPECT_EQ(+Service->Stats().LastCheckElapsedMs, 3u * 3600000 + 6 * 60000 + 10868);
}

TEST_F(FtrackerServiceTest, BusyOnlyWhileAChainIsProcessed)
{
    const std::string shop = MakeDir("shop", {"a.arg"});
    std::vector<int> busy;
    Service->OnTransfer = [&](const std::string&, const std::string&, bool&) {
        busy.push_back(Service->Stats().Busy);
        return true;
    };
    Start({"", shop});
    EXPECT_EQ(+Service->Stats().Busy, 0);
    Service->ProcessChains();
    EXPECT_EQ(busy, std::vector<int>{1});
    EXPECT_EQ(+Service->Stats().Busy, 0);
}

TEST_F(FtrackerServiceTest, EmptyTrackedDirectoriesLeaveNoTrace)
{
    Start({});
    const auto before = Log();
    Service->ProcessChains();
    EXPECT_EQ(Log(), before);
    EXPECT_TRUE(Service->Calls().empty());
    EXPECT_EQ(+Service->Stats().Busy, 0);
}

TEST_F(FtrackerServiceTest, MissingTrackedDirectoryIsReportedOncePerDestination)
{
    const std::string missing = Dir / "missing";
    const std::string shop = MakeDir("shop", {"a.arg"});
    Service->Destinations = {"tr2list0.dst", "tr2list1.dst"};
    Start({missing, shop});
    Service->ProcessChains();

    const auto log = Log();
    const std::string error = Service->Stats().LastError;
    ASSERT_NE(error.find(missing), std::string::npos) << error;
    EXPECT_EQ(CountOf(log, error), 2u);
    EXPECT_EQ(Service->Sent(), (std::vector<std::string>{"a.arg@0", "a.arg@1"}));
    // Only the chain that existed has a summary.
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.find("files OK") != std::string::npos; }),
              1);
    EXPECT_EQ(log.back(), "processed 2 files OK, 0 files bad, elapsed 0:00:00:000");
    EXPECT_EQ(Service->Calls()[0], "before 0");
    EXPECT_EQ(Service->Calls()[1], "after 0");
}

TEST_F(FtrackerServiceTest, EntryWithoutExtensionTakesEveryFile)
{
    const std::string shop = MakeDir("shop", {"a.txt", "b.arg"});
    const std::string more = MakeDir("more", {"c.msg"});
    Service->OnSplit = [&](const std::string&, std::vector<std::string>& list) {
        list.push_back(shop);
        list.push_back(more + ";");
    };
    Start({shop});
    Service->ProcessChains();
    EXPECT_EQ(Service->Sent(), (std::vector<std::string>{"b.arg@0", "a.txt@0", "c.msg@0"}));
}

TEST_F(FtrackerServiceTest, FailingBeforeDestinationSkipsOnlyThatDestination)
{
    const std::string shop = MakeDir("shop", {"a.arg"});
    Service->Destinations = {"tr2list0.dst", "tr2list1.dst"};
    Service->OnBefore = [this] {
        if (Service->DestinationIndex == 0)
            throw Exception("no route to destination 0");
    };
    Start({shop});
    Service->ProcessChains();
    EXPECT_EQ(Service->Calls(),
              (std::vector<std::string>{"before 0", "after 0", "before 1", "send a.arg@1", "after 1"}));
    const auto log = Log();
    EXPECT_EQ(CountOf(log, "no route to destination 0"), 1u);
    EXPECT_EQ(log.back(), "processed 1 files OK, 0 files bad, elapsed 0:00:00:000");
    EXPECT_FALSE(FileExists(shop + "/tr2list0.dst"));
}

TEST_F(FtrackerServiceTest, FailingChainIsSkippedWithoutSummary)
{
    const std::string bad = MakeDir("bad", {"a.arg"});
    const std::string good = MakeDir("good", {"b.arg"});
    Service->OnSplit = [&](const std::string& dir, std::vector<std::string>& list) {
        if (dir == bad)
            throw Exception("cannot split");
        list.push_back(dir + ";arg");
    };
    Start({bad, good});
    Service->ProcessChains();
    const auto log = Log();
    EXPECT_EQ(CountOf(log, "cannot split"), 1u);
    EXPECT_EQ(Service->Sent(), (std::vector<std::string>{"b.arg@0"}));
    EXPECT_EQ(log.back(), "processed 1 files OK, 0 files bad, elapsed 0:00:00:000");
    EXPECT_EQ(+Service->Stats().Busy, 0);
}

// A stop request arrives while the second of five entries is sent: nothing more is sent in the
// pass, the destination still ends, and every later chain is cancelled with one line each.
TEST_F(FtrackerServiceTest, WaitingStopCancelsTheRestOfThePass)
{
    std::vector<std::string> entries;
    for (const char* name : {"e1", "e2", "e3", "e4", "e5"})
        entries.push_back(MakeDir(std::string("shop/") + name, {std::string(name) + ".txt"}) + ";txt");
    const std::string other = MakeDir("other", {"o.arg"});
    const std::string third = MakeDir("third", {"t.arg"});
    Service->Destinations = {"tr2list0.dst", "tr2list1.dst"};
    Service->OnSplit = [&](const std::string& dir, std::vector<std::string>& list) {
        if (dir == Dir / "shop")
            list = entries;
        else
            list.push_back(dir + ";arg");
    };
    Service->OnTransfer = [this](const std::string& path, const std::string&, bool&) {
        if (ExtractFileName(path) == "e2.txt")
            Service->GetServiceController()(SERVICE_CONTROL_STOP);
        return true;
    };
    Start({Dir / "shop", other, "", third});
    const size_t lines = Log().size();
    Service->ProcessChains();

    EXPECT_EQ(Service->Calls(), (std::vector<std::string>{"before 0", "send e1.txt@0", "send e2.txt@0", "after 0"}));
    const auto log = Log();
    const std::vector<std::string> pass(log.begin() + static_cast<std::ptrdiff_t>(lines), log.end());
    EXPECT_EQ(pass, (std::vector<std::string>{
                        "Processing chain " + Dir / "shop",
                        "processed directory " + Dir / "shop/e1" + ", elasped 0:00:00:000",
                        "processed directory " + Dir / "shop/e2" + ", elasped 0:00:00:000",
                        "postprocessing after 2 source files finished, elapsed 0:00:00:000",
                        CancelText,
                        "processed 2 files OK, 0 files bad, elapsed 0:00:00:000",
                        "Processing chain " + other,
                        CancelText,
                        "Processing chain " + third,
                        CancelText,
                    }));
    // The request itself waits for the loop.
    uint32_t code = 0;
    ASSERT_TRUE(Service->ServiceThread().PeekRequest(code));
    EXPECT_EQ(code, SERVICE_CONTROL_STOP);
    Service->ServiceThread().ProcessRequests(false);
    Started = false;
    EXPECT_TRUE(Service->ServiceThread().Terminated());
    EXPECT_EQ(LogMessages(Service->LogFileName).back(), "FtTest service stopped");
}

TEST_F(FtrackerServiceTest, WaitingRequestEndsThePassAtItsStart)
{
    const std::string shop = MakeDir("shop", {"a.arg"});
    Start({shop});
    Service->GetServiceController()(SERVICE_CONTROL_SHUTDOWN);
    try {
        Service->ProcessChains();
        FAIL() << "the pass ran";
    } catch (const ECancelServiceTask& e) {
        EXPECT_EQ(std::string(e.what()), CancelText);
    }
    EXPECT_TRUE(Service->Calls().empty());
}

TEST_F(FtrackerServiceTest, WaitingInterrogateDoesNotCancel)
{
    const std::string shop = MakeDir("shop", {"a.arg", "b.arg"});
    Service->GetServiceController()(SERVICE_CONTROL_INTERROGATE);
    Start({shop});
    Service->ProcessChains();
    EXPECT_EQ(Service->Sent(), (std::vector<std::string>{"b.arg@0", "a.arg@0"}));
    uint32_t code = 0;
    ASSERT_TRUE(Service->ServiceThread().PeekRequest(code));
    EXPECT_EQ(code, SERVICE_CONTROL_INTERROGATE);
}

// The log is trimmed after the last chain, also when chains were cancelled, but not when the
// pass was cancelled at its start.
TEST_F(FtrackerServiceTest, LogIsNotTrimmedWhenThePassEndsAtItsStart)
{
    const std::string shop = MakeDir("shop", {"a.arg"});
    Start({shop});
    const std::string log = Service->LogFileName;
    WriteTextFile(log, std::string(140000, 'x'));
    Service->GetServiceController()(SERVICE_CONTROL_STOP);
    EXPECT_THROW(Service->ProcessChains(), ECancelServiceTask);
    EXPECT_GE(GetFileSize64(log), 140000);
}

TEST_F(FtrackerServiceTest, LogIsTrimmedAfterACancelledPass)
{
    const std::string shop = MakeDir("shop", {"a.arg"});
    const std::string other = MakeDir("other", {"b.arg"});
    Service->OnTransfer = [this](const std::string&, const std::string&, bool&) {
        Service->GetServiceController()(SERVICE_CONTROL_STOP);
        return true;
    };
    Start({shop, other});
    const std::string log = Service->LogFileName;
    WriteTextFile(log, std::string(140000, 'x'));
    Service->ProcessChains();
    EXPECT_EQ(Service->Sent(), std::vector<std::string>{"a.arg@0"});
    EXPECT_FALSE(FileExists(log));
}

}  // namespace
