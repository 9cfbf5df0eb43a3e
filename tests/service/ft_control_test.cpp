#include "service/ft_control.h"

#include <algorithm>
#include <chrono>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "foundation/debuglog.h"
#include "foundation/sds.h"
#include "platform/files/findfile.h"
#include "pipekit.h"
#include "testkit.h"

namespace {

std::string Pattern(size_t size)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(i % 251);
    return text;
}

struct TConnectionCounters {
    uint32_t Connections, ConnErrors, Requests;
};

TConnectionCounters FinalStatistics(TPipeServer& server)
{
    server.Stop();
    server.WaitFor();
    TPipeStatistics s;
    server.GetStatistics(&s);
    return {s.Connections, s.ConnErrors, s.Requests};
}

class EndpointTest : public ::testing::Test {
protected:
    void SetUp() override { SetLogTarget(nullptr, LogDir / "pipe.log"); }
    void TearDown() override
    {
        ClearLogTarget();
        SetLogTarget(nullptr, "debug.txt");
    }

    // The settings file is named relative to the program directory, as the service names it.
    std::string ConfigNameFor(const std::string& path) const
    {
        return std::filesystem::relative(path, AppDir()).string();
    }

    std::unique_ptr<TFtrackerSrvControl> StartControl(const std::string& pipe, const std::string& path)
    {
        auto server = std::make_unique<TFtrackerSrvControl>(pipe, 1, ConfigNameFor(path));
        server->OnConfigRetrieved = [this](TPipeServer*) { ++Retrieved; };
        server->OnConfigUpdated = [this](TPipeServer*) { ++Updated; };
        EXPECT_TRUE(WaitFor([&] { return FileExistsOrSocket(pipe); }));
        return server;
    }

    bool FileExistsOrSocket(const std::string& pipe) const
    {
        struct stat st {};
        return ::lstat(Pipes.SocketPath(pipe).c_str(), &st) == 0;
    }

    size_t FilesInSettingsDir() const { return ferrix::FindFiles(SettingsDir.Path(), "*").size(); }

    PipeDirectory Pipes;
    TempDir LogDir;
    TempDir SettingsDir;  // holds the settings file and nothing else
    const std::string ConfigPath = SettingsDir / "ferrix.ini";
    std::atomic<int> Retrieved{0};
    std::atomic<int> Updated{0};
};

}  // namespace

TEST_F(EndpointTest, StatisticsAnswerCarriesBothRecordsInPlace)
{
    TFtrackerSrvInfo info("TrSvc2Info", 4);
    info.OnGetStats = [](TPipeServer*, TServiceStatusInfo& status) {
        status.Size = sizeof status;
        status.VersionMajor = 2;
        status.VersionMinor = 1;
        status.VersionRelease = 7;
        status.Busy = 1;
        std::strcpy(status.LastEvent, "Service started");
        status.NextCheckTime.wYear = 2026;
        status.NextCheckTime.wMilliseconds = 999;
    };
    ASSERT_TRUE(WaitFor([&] { return FileExistsOrSocket("TrSvc2Info"); }));

    TPipeReply reply = CallPipe("TrSvc2Info", PipeMessage("REQGETSTATS"));
    ASSERT_TRUE(reply.Ok) << ferrix::PipeErrorMessage(reply.Error);
    const std::string& a = reply.Answer;
    ASSERT_EQ(a.size(), 595u);
    EXPECT_EQ(a.substr(0, 28), AnswerHeader("ANSGETSTATS", 0, 567));
    // Counters as they stood before this answer was written.
    EXPECT_EQ(UInt32At(a, 28 + 16), 1u);   // Connections
    EXPECT_EQ(UInt32At(a, 28 + 20), 0u);   // ConnErrors
    EXPECT_EQ(UInt32At(a, 28 + 24), 1u);   // Requests
    EXPECT_EQ(Int64At(a, 28 + 28), 28);    // BytesReceived
    EXPECT_EQ(UInt32At(a, 28 + 36), 0u);   // reserved
    EXPECT_EQ(UInt32At(a, 28 + 40), 0u);   // Answers
    EXPECT_EQ(Int64At(a, 28 + 44), 0);     // BytesSent
    EXPECT_EQ(UInt32At(a, 28 + 52), 0u);   // WriteErrors
    EXPECT_NE(UInt16At(a, 28), 0);         // StartTime year
    // The status record at 84.
    EXPECT_EQ(UInt16At(a, 84), 511);
    EXPECT_EQ(UInt16At(a, 86), 2);
    EXPECT_EQ(UInt16At(a, 88), 1);
    EXPECT_EQ(UInt16At(a, 90), 7);
    EXPECT_EQ(a[84 + 8], 1);
    EXPECT_EQ(a.substr(84 + 49, 128), std::string("Service started") + std::string(128 - 15, '\0'));
    EXPECT_EQ(UInt16At(a, 84 + 495), 2026);
    EXPECT_EQ(UInt16At(a, 84 + 509), 999);

    reply = CallPipe("TrSvc2Info", PipeMessage("REQGETSTATS"));
    ASSERT_TRUE(reply.Ok);
    EXPECT_EQ(UInt32At(reply.Answer, 28 + 24), 2u);
    EXPECT_EQ(UInt32At(reply.Answer, 28 + 40), 1u);
    EXPECT_EQ(Int64At(reply.Answer, 28 + 44), 595);

    // Without a handler the status record stays zero.
    info.OnGetStats = nullptr;
    reply = CallPipe("TrSvc2Info", PipeMessage("REQGETSTATS"));
    ASSERT_EQ(reply.Answer.size(), 595u);
    EXPECT_EQ(reply.Answer.substr(84), std::string(511, '\0'));
}

TEST_F(EndpointTest, UnknownAndMisdirectedRequestsGetAnsReqUnknown)
{
    TFtrackerSrvInfo info("Info", 4);
    WriteTextFile(ConfigPath, "[General]\r\n");
    auto control = StartControl("Control", ConfigPath);
    ASSERT_TRUE(WaitFor([&] { return FileExistsOrSocket("Info"); }));
    const std::string unknown = AnswerHeader("ANSREQUNKNOWN", 0, 0);

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Info", PipeMessage("reqgetstats")},
        {"Info", PipeMessage("REQGETSTATS").substr(0, 27)},
        {"Info", PipeMessage("REQGETSTATSXXXXX")},  // no NUL after the keyword
        {"Info", PipeMessage("REQGETCONFIG")},
        {"Info", "R"},
        {"Control", PipeMessage("REQGETSTATS")},
        {"Control", PipeMessage("REQGETCONFIG").substr(0, 27)},
        {"Control", PipeMessage("REQSETCONFIG", 1, "x").substr(0, 27)},
        {"Control", PipeMessage("reqsetconfig", 1, "x")},
    };
    for (const auto& [pipe, request] : cases) {
        const TPipeReply reply = CallPipe(pipe, request);
        ASSERT_TRUE(reply.Ok) << pipe << ": " << ferrix::PipeErrorMessage(reply.Error);
        EXPECT_EQ(reply.Answer, unknown) << pipe << " request of " << request.size() << " bytes";
    }
    EXPECT_EQ(ReadTextFile(ConfigPath), "[General]\r\n");
    EXPECT_EQ(Retrieved, 0);
    EXPECT_EQ(Updated, 0);
}

TEST_F(EndpointTest, GetConfigSendsTheFileCutAtTheBuffer)
{
    auto control = StartControl("TrSvc2Control", ConfigPath);

    TPipeReply reply = CallPipe("TrSvc2Control", PipeMessage("REQGETCONFIG"));
    ASSERT_TRUE(reply.Ok) << ferrix::PipeErrorMessage(reply.Error);
    EXPECT_EQ(reply.Answer, AnswerHeader("ANSGETCONFIG", 0, 0));  // no file: no payload, no event
    EXPECT_EQ(Retrieved, 0);

    const std::string content = Pattern(20000);
    WriteTextFile(ConfigPath, content);
    reply = CallPipe("TrSvc2Control", PipeMessage("REQGETCONFIG"));
    ASSERT_EQ(reply.Answer.size(), 16384u);
    EXPECT_EQ(reply.Answer.substr(0, 28), AnswerHeader("ANSGETCONFIG", 0, 16356));
    EXPECT_TRUE(reply.Answer.substr(28) == content.substr(0, 16356));
    EXPECT_EQ(Retrieved, 1);

    // A failing handler changes nothing in the answer.
    control->OnConfigRetrieved = [](TPipeServer*) { throw Exception("handler failed"); };
    WriteTextFile(ConfigPath, "[General]\r\nInterval=60\r\n");
    reply = CallPipe("TrSvc2Control", PipeMessage("REQGETCONFIG"));
    EXPECT_EQ(reply.Answer, AnswerHeader("ANSGETCONFIG", 0, 24) + "[General]\r\nInterval=60\r\n");
}

TEST_F(EndpointTest, SetConfigWithALengthErrorLeavesTheFileUntouched)
{
    WriteTextFile(ConfigPath, "old settings");
    auto control = StartControl("TrSvc2Control", ConfigPath);
    const std::string lengthError = AnswerHeader("ANSSETCONFIG", 1, 0);

    EXPECT_EQ(CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", 100, std::string(50, 'n'))).Answer, lengthError);
    EXPECT_EQ(CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", -1, "new")).Answer, lengthError);
    EXPECT_EQ(CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", std::numeric_limits<int32_t>::max(), "new")).Answer,
              lengthError);
    EXPECT_EQ(ReadTextFile(ConfigPath), "old settings");
    EXPECT_EQ(Updated, 0);
}

TEST_F(EndpointTest, SetConfigWritesTheDeclaredBytesOnly)
{
    WriteTextFile(ConfigPath, "old settings");
    auto control = StartControl("TrSvc2Control", ConfigPath);
    const std::string ok = AnswerHeader("ANSSETCONFIG", 0, 0);

    EXPECT_EQ(CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", 10, "0123456789EXTRA")).Answer, ok);
    EXPECT_EQ(ReadTextFile(ConfigPath), "0123456789");
    EXPECT_EQ(Updated, 1);

    const std::string largest = Pattern(16356);
    EXPECT_EQ(CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", 16356, largest)).Answer, ok);
    EXPECT_TRUE(ReadTextFile(ConfigPath) == largest);

    // Length 0 in a 28-byte request: the file is replaced by an empty one.
    EXPECT_EQ(CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", 0)).Answer, ok);
    EXPECT_TRUE(FileExists(ConfigPath));
    EXPECT_EQ(ReadTextFile(ConfigPath), "");
    EXPECT_EQ(Updated, 3);
    EXPECT_EQ(FilesInSettingsDir(), 1u);  // no temporary file left behind
}

// The settings hold passwords: a file the pipe makes is its owner's alone; a file that exists
// keeps what its administrator gave it.
TEST_F(EndpointTest, SetConfigMakesANewFileReadableByItsOwnerOnly)
{
    auto control = StartControl("TrSvc2Control", ConfigPath);
    const std::string ok = AnswerHeader("ANSSETCONFIG", 0, 0);
    const mode_t umask = ::umask(0);
    const std::string answer = CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", 15, "Password=secret")).Answer;
    ::umask(umask);
    EXPECT_EQ(answer, ok);
    struct stat st {};
    ASSERT_EQ(::stat(ConfigPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    ASSERT_EQ(::chmod(ConfigPath.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(ConfigPath.c_str(), 12345, 23456), 0);
    }
    EXPECT_EQ(CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", 3, "new")).Answer, ok);
    ASSERT_EQ(::stat(ConfigPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 12345u);
        EXPECT_EQ(st.st_gid, 23456u);
    }
    EXPECT_EQ(ReadTextFile(ConfigPath), "new");
}

TEST_F(EndpointTest, FailedSettingsWriteKeepsTheOldFileAndAnswersStatus2)
{
    WriteTextFile(ConfigPath, "old settings");
    auto control = StartControl("TrSvc2Control", ConfigPath);

    // Files of this process may not grow beyond 100 bytes: the new file cannot be written whole.
    TPipeReply reply;
    {
        const TFileSizeLimit limit(100);
        reply = CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", 1000, std::string(1000, 'n')));
    }

    EXPECT_EQ(reply.Answer, AnswerHeader("ANSSETCONFIG", 2, 0));
    EXPECT_EQ(ReadTextFile(ConfigPath), "old settings");
    EXPECT_EQ(FilesInSettingsDir(), 1u);
    EXPECT_EQ(Updated, 0);

    // A settings file that cannot be created at all.
    auto elsewhere = StartControl("Elsewhere", SettingsDir / "missing/ferrix.ini");
    EXPECT_EQ(CallPipe("Elsewhere", PipeMessage("REQSETCONFIG", 3, "new")).Answer, AnswerHeader("ANSSETCONFIG", 2, 0));
    EXPECT_FALSE(DirectoryExists(SettingsDir / "missing"));
    EXPECT_EQ(Updated, 0);
}

// Without the owner write bit the file stays, as any failed write; root could open it all the same.
TEST_F(EndpointTest, ReadOnlySettingsFileIsLeftAsItIs)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may write a file without the owner write bit: elsewhere the kernel refuses it";
    WriteTextFile(ConfigPath, "old settings");
    ASSERT_EQ(::chmod(ConfigPath.c_str(), 0444), 0);
    auto control = StartControl("TrSvc2Control", ConfigPath);
    const std::string answer = CallPipe("TrSvc2Control", PipeMessage("REQSETCONFIG", 3, "new")).Answer;
    EXPECT_EQ(answer, AnswerHeader("ANSSETCONFIG", 2, 0));
    EXPECT_EQ(ReadTextFile(ConfigPath), "old settings");
    EXPECT_EQ(Updated, 0);
}

TEST_F(EndpointTest, SettingsPipeAdmitsOnlyItsOwnUserAndRoot)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running a client as another user needs root";
    WriteTextFile(ConfigPath, "Password=secret");
    auto control = StartControl("TrSvc2Control", ConfigPath);
    TFtrackerSrvInfo info("TrSvc2Info", 4);
    ASSERT_TRUE(WaitFor([&] { return FileExistsOrSocket("TrSvc2Info"); }));

    // The settings socket is not even open to another user (the peer check stays behind it).
    EXPECT_EQ(CallPipeAsNobody(Pipes.SocketPath("TrSvc2Control"), PipeMessage("REQGETCONFIG")),
              "NOANSWER Permission denied");
    struct stat st {};
    ASSERT_EQ(::lstat(Pipes.SocketPath("TrSvc2Control").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The statistics pipe stays open to every user.
    EXPECT_EQ(CallPipeAsNobody(Pipes.SocketPath("TrSvc2Info"), PipeMessage("REQGETSTATS")), "ANSWER 595");
    ASSERT_EQ(::lstat(Pipes.SocketPath("TrSvc2Info").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);

    const TPipeReply reply = CallPipe("TrSvc2Control", PipeMessage("REQGETCONFIG"));
    EXPECT_EQ(reply.Answer, AnswerHeader("ANSGETCONFIG", 0, 15) + "Password=secret");
    const TConnectionCounters s = FinalStatistics(*control);
    EXPECT_EQ(s.ConnErrors, 0u);
    EXPECT_EQ(s.Connections, 1u);
    EXPECT_EQ(s.Requests, 1u);
    EXPECT_EQ(Retrieved, 1);
}

TEST_F(EndpointTest, HandlersZeroTheWholeAnswerAndNeverUseTheDefault)
{
    TFtrackerSrvInfo info("Info", 0);
    TFtrackerSrvControl control("Control", 0, ConfigNameFor(ConfigPath));
    FinalStatistics(info);
    FinalStatistics(control);
    for (TPipeServer* server : {static_cast<TPipeServer*>(&info), static_cast<TPipeServer*>(&control)}) {
        std::vector<uint8_t> answer(PipeBufferSize, 0xAA);
        int answerLength = 9999;
        bool useDefault = true;
        const std::string request = PipeMessage("NOTHING");
        server->HandleRequest(reinterpret_cast<const uint8_t*>(request.data()), static_cast<int>(request.size()),
                              answer.data(), PipeBufferSize, answerLength, useDefault);
        EXPECT_FALSE(useDefault);
        EXPECT_EQ(answerLength, 28);
        EXPECT_EQ(std::string(answer.begin(), answer.begin() + 28), AnswerHeader("ANSREQUNKNOWN", 0, 0));
        EXPECT_EQ(std::count(answer.begin(), answer.end(), 0xAA), 0);
    }
}

TEST_F(EndpointTest, FourClientsOfTenThousandRequestsAddUpExactly)
{
    constexpr int Clients = 4;
    constexpr int PerClient = 10000;
    TFtrackerSrvInfo info("Load", Clients);
    info.OnGetStats = [](TPipeServer*, TServiceStatusInfo& status) { status.Size = sizeof status; };
    ASSERT_TRUE(WaitFor([&] { return FileExistsOrSocket("Load"); }));

    const std::string request = PipeMessage("REQGETSTATS");
    const std::string header = AnswerHeader("ANSGETSTATS", 0, 567);
    std::vector<std::string> failures(Clients);
    std::vector<int> whole(Clients, 0);
    std::vector<std::thread> threads;
    for (int c = 0; c < Clients; ++c)
        threads.emplace_back([&, c] {
            uint32_t lastRequests = 0;
            for (int i = 0; i < PerClient; ++i) {
                const TPipeReply reply = CallPipe("Load", request);
                if (!reply.Ok) {
                    failures[c] = "call " + std::to_string(i) + ": " + ferrix::PipeErrorMessage(reply.Error);
                    return;
                }
                const uint32_t requests = UInt32At(reply.Answer, 28 + 24);
                if (reply.Answer.size() != 595 || reply.Answer.compare(0, 28, header) != 0 ||
                    UInt16At(reply.Answer, 84) != 511 || requests <= lastRequests) {
                    failures[c] = "answer " + std::to_string(i) + " is not whole";
                    return;
                }
                lastRequests = requests;
                ++whole[c];
            }
        });
    for (std::thread& t : threads)
        t.join();
    for (int c = 0; c < Clients; ++c) {
        EXPECT_EQ(failures[c], "") << "client " << c;
        EXPECT_EQ(whole[c], PerClient) << "client " << c;
    }

    constexpr int64_t Total = Clients * PerClient;
    const TPipeReply last = CallPipe("Load", request);
    ASSERT_TRUE(last.Ok);
    EXPECT_EQ(UInt32At(last.Answer, 28 + 16), Total + 1);     // Connections
    EXPECT_EQ(UInt32At(last.Answer, 28 + 20), 0u);            // ConnErrors
    EXPECT_EQ(UInt32At(last.Answer, 28 + 24), Total + 1);     // Requests
    EXPECT_EQ(Int64At(last.Answer, 28 + 28), 28 * (Total + 1));
    EXPECT_EQ(UInt32At(last.Answer, 28 + 40), Total);         // Answers
    EXPECT_EQ(Int64At(last.Answer, 28 + 44), 595 * Total);
    EXPECT_EQ(UInt32At(last.Answer, 28 + 52), 0u);            // WriteErrors
}

// Four clients that connect and send nothing hold every instance of the statistics pipe only
// until the server drops them; then a real client is answered.
TEST_F(EndpointTest, IdleClientsAreDroppedAndARealClientIsAnswered)
{
    TFtrackerSrvInfo info("TrSvc2Info", 4);
    info.SetClientTimeout(500);
    std::vector<std::unique_ptr<PipeConnection>> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(std::make_unique<PipeConnection>());
        ASSERT_TRUE(WaitFor([&] { return idle.back()->Connect("TrSvc2Info"); }));
    }
    const auto start = std::chrono::steady_clock::now();
    const TPipeReply refused = CallPipe("TrSvc2Info", PipeMessage("REQGETSTATS"));
    EXPECT_FALSE(refused.Ok);
    EXPECT_EQ(refused.Error, PIPE_ERROR_REFUSED);

    // The first instance freed answers while the others may still be dropping their clients: ask
    // until all four drops are counted.
    TPipeReply reply;
    ASSERT_TRUE(WaitFor([&] { return (reply = CallPipe("TrSvc2Info", PipeMessage("REQGETSTATS"))).Ok; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_EQ(reply.Answer.size(), 595u);
    ASSERT_TRUE(WaitFor([&] {
        reply = CallPipe("TrSvc2Info", PipeMessage("REQGETSTATS"));
        return reply.Ok && UInt32At(reply.Answer, 28 + 20) >= 4u;
    }));
    EXPECT_EQ(UInt32At(reply.Answer, 28 + 20), 4u);  // ConnErrors: the four idle clients
    std::string nothing;
    for (auto& client : idle)
        EXPECT_EQ(client->Receive(nothing), PipeConnection::TReceived::Closed);
}
