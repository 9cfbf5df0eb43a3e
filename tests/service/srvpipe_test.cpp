#include "service/srvpipe.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "foundation/debuglog.h"
#include "platform/files/filedescriptor.h"
#include "platform/files/findfile.h"
#include "pipekit.h"
#include "foundation/pipeproto.h"
#include "testkit.h"
#include "testuser.h"

namespace {

using Clock = std::chrono::steady_clock;

// A server whose handler answers "STATS" with its counters, raises on "THROW", and claims an
// answer longer than the buffer on "TOOLONG"; everything else gets the default answer.
class ProbeServer final : public TPipeServer {
public:
    ProbeServer(const std::string& name, int instances, const TSecurityAttributes* attributes = &PipeSecurityAttributes,
                int clientTimeoutMs = PipeClientTimeoutMs)
        : TPipeServer(name, instances, attributes, TDeferredStart{})
    {
        SetClientTimeout(clientTimeoutMs);
        Start();
    }
    ~ProbeServer() override { StopAndWait(); }

    void HandleRequest(const uint8_t* request, int requestLength, uint8_t* answer, int, int& answerLength,
                       bool& useDefaultAnswer) override
    {
        const std::string text(reinterpret_cast<const char*>(request), static_cast<size_t>(requestLength));
        if (text == "STATS") {
            GetStatistics(answer);
            answerLength = sizeof(TPipeStatistics);
            useDefaultAnswer = false;
        } else if (text == "THROW") {
            throw Exception("handler failed on purpose");
        } else if (text == "TOOLONG") {
            answerLength = PipeBufferSize + 1;
            useDefaultAnswer = false;
        }
    }
};

// The counters of a statistics record, unpacked so that the checks can bind to them.
struct TCounters {
    SYSTEMTIME StartTime;
    uint32_t Connections, ConnErrors, Requests;
    int64_t BytesReceived;
    uint32_t Reserved, Answers;
    int64_t BytesSent;
    uint32_t WriteErrors;
};

TCounters StatisticsOf(const std::string& bytes)
{
    TPipeStatistics s;
    EXPECT_EQ(bytes.size(), sizeof s);
    std::memcpy(&s, bytes.data(), std::min(bytes.size(), sizeof s));
    return {s.StartTime, s.Connections, s.ConnErrors,  s.Requests,  s.BytesReceived,
            s.Reserved,  s.Answers,     s.BytesSent,   s.WriteErrors};
}

TCounters AskStatistics(const std::string& name)
{
    const TPipeReply reply = CallPipe(name, "STATS");
    EXPECT_TRUE(reply.Ok) << ferrix::PipeErrorMessage(reply.Error);
    return StatisticsOf(reply.Answer);
}

// The server took the message but closed the connection without an answer.
::testing::AssertionResult DroppedWithoutAnswer(const std::string& name, const std::string& message)
{
    const TPipeReply reply = CallPipe(name, message);
    if (reply.Ok)
        return ::testing::AssertionFailure() << "answered: " << reply.Answer.size() << " bytes";
    if (reply.Error != PIPE_ERROR_NO_ANSWER)
        return ::testing::AssertionFailure() << "error " << reply.Error << ": " << ferrix::PipeErrorMessage(reply.Error);
    return ::testing::AssertionSuccess();
}

// While it lives, this thread's effective ids are another user's (raw setresuid acts on one
// thread), so its connections carry that user's credentials; the saved ids give root's back.
struct TThreadEffectiveUser {
    TThreadEffectiveUser(uid_t uid, gid_t gid)
    {
        ::syscall(SYS_setresgid, -1, gid, -1);
        ::syscall(SYS_setresuid, -1, uid, -1);
    }
    ~TThreadEffectiveUser()
    {
        ::syscall(SYS_setresuid, -1, 0, -1);
        ::syscall(SYS_setresgid, -1, 0, -1);
    }
};

int SecondsOfDay(int h, int m, int s)
{
    return h * 3600 + m * 60 + s;
}

class PipeServerTest : public ::testing::Test {
protected:
    void SetUp() override { SetLogTarget(nullptr, LogDir / "pipe.log"); }
    void TearDown() override
    {
        ClearLogTarget();
        SetLogTarget(nullptr, "debug.txt");
    }
    std::string LogText() const { return ReadTextFile(LogDir / "pipe.log"); }
    bool Exists(const std::string& name) const
    {
        struct stat st {};
        return ::lstat(Pipes.SocketPath(name).c_str(), &st) == 0;
    }

    PipeDirectory Pipes;
    TempDir LogDir;
};

}  // namespace

TEST_F(PipeServerTest, DefaultAnswerCarriesRequestLengthAndTime)
{
    TPipeServer server("Ack", 2, &PipeSecurityAttributes);
    EXPECT_EQ(server.PipeName(), "\\\\.\\pipe\\Ack");
    ASSERT_TRUE(WaitFor([&] { return Exists("Ack"); }));
    for (const size_t size : {size_t{1}, size_t{28}, size_t{16384}}) {
        const TPipeReply reply = CallPipe("Ack", std::string(size, 'r'));
        ASSERT_TRUE(reply.Ok) << size << ": " << ferrix::PipeErrorMessage(reply.Error);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(reply.Answer, m, std::regex(R"(ACK (\d+) bytes (\d\d):(\d\d):(\d\d))")))
            << reply.Answer;
        EXPECT_EQ(std::stoul(m[1]), size);
        const TDateTimeParts now = DecodeDateTime(Now());
        const int diff = SecondsOfDay(now.Hour, now.Minute, now.Second) -
                         SecondsOfDay(std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]));
        EXPECT_TRUE((diff >= 0 && diff <= 2) || diff <= -86398) << reply.Answer;
    }
    EXPECT_EQ(CallPipe("Ack", std::string(28, 'r')).Answer.size(), 21u);
}

TEST_F(PipeServerTest, CountersFollowEachExchangeOnOneConnection)
{
    const TDateTime before = Now();
    ProbeServer server("Count", 1);
    PipeConnection client;
    ASSERT_TRUE(WaitFor([&] { return client.Connect("Count"); }));
    std::string answer;
    ASSERT_TRUE(client.Exchange("hello", answer));
    EXPECT_EQ(answer.size(), 20u);  // "ACK 5 bytes hh:nn:ss"
    ASSERT_TRUE(client.Exchange("STATS", answer));
    TCounters s = StatisticsOf(answer);
    EXPECT_EQ(s.Connections, 1u);
    EXPECT_EQ(s.ConnErrors, 0u);
    EXPECT_EQ(s.Requests, 2u);
    EXPECT_EQ(s.BytesReceived, 10);
    EXPECT_EQ(s.Reserved, 0u);
    EXPECT_EQ(s.Answers, 1u);  // this request's own answer is not written yet
    EXPECT_EQ(s.BytesSent, 20);
    EXPECT_EQ(s.WriteErrors, 0u);
    const TDateTime started = SystemTimeToDateTime(s.StartTime);
    EXPECT_GE(started, before - 1.0 / SecsPerDay);
    EXPECT_LE(started, Now() + 1.0 / SecsPerDay);

    ASSERT_TRUE(client.Exchange("STATS", answer));
    s = StatisticsOf(answer);
    EXPECT_EQ(s.Requests, 3u);
    EXPECT_EQ(s.Answers, 2u);
    EXPECT_EQ(s.BytesSent, 20 + 56);
}

TEST_F(PipeServerTest, OverlongAndEmptyMessagesDisconnectWithoutAnswerOrCount)
{
    ProbeServer server("Limits", 1);
    ASSERT_TRUE(WaitFor([&] { return Exists("Limits"); }));

    EXPECT_TRUE(DroppedWithoutAnswer("Limits", std::string(16385, 'x')));
    EXPECT_TRUE(DroppedWithoutAnswer("Limits", ""));

    // The one instance listens again; only the connections were counted.
    const TCounters s = AskStatistics("Limits");
    EXPECT_EQ(s.Connections, 3u);
    EXPECT_EQ(s.ConnErrors, 0u);
    EXPECT_EQ(s.Requests, 1u);
    EXPECT_EQ(s.BytesReceived, 5);
    EXPECT_EQ(s.Answers, 0u);
    EXPECT_EQ(s.BytesSent, 0);
    EXPECT_EQ(s.WriteErrors, 0u);
}

TEST_F(PipeServerTest, FailedWriteIsCountedAndFreesTheInstance)
{
    ProbeServer server("Writes", 1);
    PipeConnection client;
    ASSERT_TRUE(WaitFor([&] { return client.Connect("Writes"); }));
    client.ShutdownReading();
    ASSERT_TRUE(client.Send("x"));
    // Refused while the instance still serves the client; answered once it has dropped it.
    TPipeReply reply;
    ASSERT_TRUE(WaitFor([&] { return (reply = CallPipe("Writes", "STATS")).Ok; }));
    const TCounters s = StatisticsOf(reply.Answer);
    EXPECT_EQ(s.Requests, 2u);
    EXPECT_EQ(s.Answers, 0u);
    EXPECT_EQ(s.BytesSent, 0);
    EXPECT_EQ(s.WriteErrors, 1u);
    EXPECT_EQ(s.ConnErrors, 0u);
}

TEST_F(PipeServerTest, AnswersWaitForAClientThatReadsLate)
{
    ProbeServer server("Late", 1);
    PipeConnection client;
    ASSERT_TRUE(WaitFor([&] { return client.Connect("Late"); }));
    // Send without reading until the server can no longer deliver answers and stops reading.
    int sent = 0;
    while (sent < 5000) {
        if (client.TrySend("x")) {
            ++sent;
            continue;
        }
        if (!client.WaitWritable(std::chrono::milliseconds(300)))
            break;
    }
    ASSERT_LT(sent, 5000) << "the server never stopped reading";
    std::string answer;
    for (int i = 0; i < sent; ++i) {
        ASSERT_EQ(client.Receive(answer), PipeConnection::TReceived::Message) << i << " of " << sent;
        ASSERT_EQ(answer.rfind("ACK 1 bytes ", 0), 0u) << answer;
    }
    ASSERT_TRUE(client.Exchange("STATS", answer));
    const TCounters s = StatisticsOf(answer);
    EXPECT_EQ(s.Requests, static_cast<uint32_t>(sent) + 1);
    EXPECT_EQ(s.Answers, static_cast<uint32_t>(sent));
    EXPECT_EQ(s.WriteErrors, 0u);
}

TEST_F(PipeServerTest, BusyInstancesRefuseANewClientAtOnce)
{
    ProbeServer server("Busy", 2);
    PipeConnection first, second;
    std::string answer;
    ASSERT_TRUE(WaitFor([&] { return first.Connect("Busy"); }));
    ASSERT_TRUE(first.Exchange("a", answer));
    ASSERT_TRUE(second.Connect("Busy"));
    ASSERT_TRUE(second.Exchange("b", answer));

    const auto start = Clock::now();
    const TPipeReply reply = CallPipe("Busy", "STATS");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(reply.Ok);
    EXPECT_EQ(reply.Error, PIPE_ERROR_REFUSED);

    first.Close();
    TPipeReply later;
    ASSERT_TRUE(WaitFor([&] { return (later = CallPipe("Busy", "STATS")).Ok; }));
    const TCounters s = StatisticsOf(later.Answer);
    EXPECT_EQ(s.Requests, 3u);  // a refused client is not counted anywhere
    EXPECT_EQ(s.ConnErrors, 0u);
    EXPECT_EQ(s.Connections, 3u);
}

TEST_F(PipeServerTest, HundredInstancesBecomeSixtyFour)
{
    ProbeServer server("Many", 100);
    EXPECT_EQ(server.InstanceCount(), 64);
    std::vector<std::unique_ptr<PipeConnection>> clients;
    std::string answer;
    for (int i = 0; i < 64; ++i) {
        clients.push_back(std::make_unique<PipeConnection>());
        ASSERT_TRUE(WaitFor([&] { return clients.back()->Connect("Many"); }));
        ASSERT_TRUE(clients.back()->Exchange("hi", answer)) << "client " << i;
    }
    const TPipeReply reply = CallPipe("Many", "STATS");
    EXPECT_FALSE(reply.Ok);
    EXPECT_EQ(reply.Error, PIPE_ERROR_REFUSED);
    ASSERT_TRUE(clients.back()->Exchange("STATS", answer));
    EXPECT_EQ(StatisticsOf(answer).Connections, 64u);
}

TEST_F(PipeServerTest, ZeroInstancesCreateNoPipeAndWaitForTheStop)
{
    TPipeServer server("None", 0, &PipeSecurityAttributes);
    EXPECT_EQ(server.InstanceCount(), 0);
    const TPipeReply reply = CallPipe("None", "x");
    EXPECT_FALSE(reply.Ok);
    EXPECT_EQ(reply.Error, ENOENT);
    const auto start = Clock::now();
    server.Stop();
    server.WaitFor();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(Exists("None"));
    EXPECT_EQ(LogText(), "");
}

TEST_F(PipeServerTest, StopEndsTheWaitingThreadPromptlyAndDropsClients)
{
    auto server = std::make_unique<ProbeServer>("Stop", 2);
    PipeConnection client;
    std::string answer;
    ASSERT_TRUE(WaitFor([&] { return client.Connect("Stop"); }));
    ASSERT_TRUE(client.Exchange("a", answer));

    const auto start = Clock::now();
    server->Stop();
    EXPECT_TRUE(WaitFor([&] { return !Exists("Stop"); }, std::chrono::seconds(2)));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(client.Receive(answer), PipeConnection::TReceived::Closed);
    server.reset();

    // Freeing a running server returns only after its thread has closed the pipe.
    server = std::make_unique<ProbeServer>("Stop", 2);
    ASSERT_TRUE(WaitFor([&] { return CallPipe("Stop", "a").Ok; }));
    server.reset();
    EXPECT_FALSE(Exists("Stop"));
}

TEST_F(PipeServerTest, SequentialCallersOfOneInstanceAreNeverRefused)
{
    ProbeServer server("Serial", 1);
    ASSERT_TRUE(WaitFor([&] { return Exists("Serial"); }));
    for (int i = 0; i < 300; ++i) {
        const TPipeReply reply = CallPipe("Serial", "ping");
        ASSERT_TRUE(reply.Ok) << "call " << i << ": " << ferrix::PipeErrorMessage(reply.Error);
    }
    const TCounters s = AskStatistics("Serial");
    EXPECT_EQ(s.Connections, 301u);
    EXPECT_EQ(s.Requests, 301u);
    EXPECT_EQ(s.Answers, 300u);
    EXPECT_EQ(s.ConnErrors, 0u);
    EXPECT_EQ(s.WriteErrors, 0u);
}

TEST_F(PipeServerTest, HandlerFailuresDropOnlyThatClient)
{
    ProbeServer server("Faults", 1);
    ASSERT_TRUE(WaitFor([&] { return Exists("Faults"); }));
    EXPECT_TRUE(DroppedWithoutAnswer("Faults", "THROW"));
    EXPECT_TRUE(DroppedWithoutAnswer("Faults", "TOOLONG"));
    const TCounters s = AskStatistics("Faults");
    EXPECT_EQ(s.Requests, 3u);
    EXPECT_EQ(s.Answers, 0u);
    EXPECT_EQ(s.WriteErrors, 1u);
    EXPECT_NE(LogText().find("\thandler failed on purpose\r\n"), std::string::npos) << LogText();
}

// The constructor's error text for a pipe it cannot create.
std::string CreateFailure(const std::string& name)
{
    try {
        TPipeServer server(name, 1, &PipeSecurityAttributes);
    } catch (const EOSError& e) {
        return e.what();
    }
    return "created";
}

TEST_F(PipeServerTest, PipeServedByAnotherServerIsNotTakenOver)
{
    ProbeServer first("Taken", 1);
    ASSERT_TRUE(WaitFor([&] { return Exists("Taken"); }));
    EXPECT_EQ(CreateFailure("Taken"), "Failed to create pipe instance: Address already in use");
    EXPECT_TRUE(CallPipe("Taken", "a").Ok);
    EXPECT_TRUE(Exists("Taken"));  // the second server left the first one's socket alone
}

TEST_F(PipeServerTest, SocketLeftByAnEndedServerIsReplaced)
{
    // A server that ended without removing its socket file.
    const std::string path = Pipes.SocketPath("Stale");
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(Exists("Stale"));

    ProbeServer server("Stale", 1);
    ASSERT_TRUE(WaitFor([&] { return CallPipe("Stale", "a").Ok; }));
    EXPECT_EQ(LogText(), "");
}

TEST_F(PipeServerTest, FileInThePipesPlaceIsKept)
{
    WriteTextFile(Pipes.SocketPath("Data"), "precious");
    EXPECT_EQ(CreateFailure("Data"), "Failed to create pipe instance: Address already in use");
    EXPECT_EQ(ReadTextFile(Pipes.SocketPath("Data")), "precious");
}

// Sockets and links that another user left at a pipe's path while the directory was open to all
// (as earlier releases made it) neither keep the server from starting nor get its clients.
TEST_F(PipeServerTest, ForeignSocketOrLinkAtThePipesPathIsReplaced)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "entries of another user need root";
    TempDir elsewhere;
    const std::string target = elsewhere / "shadow";
    WriteTextFile(target, "root:x:0:0");
    ::chmod(target.c_str(), 0600);

    // A live socket of the other user, and a link of the other user to a file of root's.
    const std::string socketPath = Pipes.SocketPath("Planted");
    const ferrix::TFileDescriptor listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int planted = listener.Get();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(planted, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(planted, 8), 0);
    ASSERT_EQ(::lchown(socketPath.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::symlink(target.c_str(), Pipes.SocketPath("Linked").c_str()), 0);
    ASSERT_EQ(::lchown(Pipes.SocketPath("Linked").c_str(), 65534, 65534), 0);

    ProbeServer first("Planted", 1);
    ProbeServer second("Linked", 1);
    for (const char* name : {"Planted", "Linked"}) {
        const TPipeReply reply = CallPipe(name, "hello");
        EXPECT_TRUE(reply.Ok) << name << ": " << ferrix::PipeErrorMessage(reply.Error);
        struct stat st {};
        ASSERT_EQ(::lstat(Pipes.SocketPath(name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode)) << name;
        EXPECT_EQ(st.st_uid, 0u) << name;
        EXPECT_EQ(st.st_mode & 0777, 0666u) << name;
    }
    const ferrix::TFileDescriptor reached(::accept4(planted, nullptr, nullptr, SOCK_CLOEXEC));
    EXPECT_FALSE(reached.Valid());  // no client reached the planted socket
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // the link's target was not touched
    EXPECT_EQ(ReadTextFile(target), "root:x:0:0");
    EXPECT_EQ(LogText(), "");
}

TEST_F(PipeServerTest, PipeDirectoryOfAnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a directory of another user needs root";
    ASSERT_EQ(::chown(Pipes.Path().c_str(), 65534, 65534), 0);
    EXPECT_EQ(CreateFailure("Info"), "Failed to create pipe instance: The pipe directory " + Pipes.Path() +
                                         " is not safe: it must be a directory owned by root or this program's user "
                                         "that no one else may write to");
    EXPECT_FALSE(Exists("Info"));
}

// The peer check refuses another user even where the socket's mode lets it connect.
TEST_F(PipeServerTest, OwnerOnlyPipeRefusesAnotherUsersClient)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running a client as another user needs root";
    static const TPipeSecurityDescriptor openButOwnerOnly{0666, true};
    static const TSecurityAttributes attributes{sizeof(TSecurityAttributes), &openButOwnerOnly, false};
    ProbeServer server("OwnerOnly", 1, &attributes);
    ASSERT_TRUE(WaitFor([&] { return Exists("OwnerOnly"); }));
    const std::string refused = CallPipeAsNobody(Pipes.SocketPath("OwnerOnly"), "hello");
    EXPECT_EQ(refused.rfind("NOANSWER", 0), 0u) << refused;
    const TCounters s = AskStatistics("OwnerOnly");
    EXPECT_EQ(s.ConnErrors, 1u);
    EXPECT_EQ(s.Connections, 1u);
    EXPECT_EQ(s.Requests, 1u);
}

// A user who keeps busy connections open gets 2 of the 4 instances and is refused the rest as when
// all are busy; root is served all the while.
TEST_F(PipeServerTest, OtherUsersHoldAtMostTwoInstancesEachAndLeaveOneForRoot)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "other users need root";
    TTestUser first("pipe");
    TTestUser second("pipf");
    ProbeServer server("Fair", 4, &PipeSecurityAttributes);
    ASSERT_TRUE(WaitFor([&] { return Exists("Fair"); }));
    PipeConnection connections[6];
    std::string answer;
    const auto holdAs = [&](const TTestUser& user, PipeConnection* begin, PipeConnection* end) {
        const TThreadEffectiveUser as(user.Uid(), user.Gid());
        int held = 0;
        for (PipeConnection* connection = begin; connection != end; ++connection)
            if (connection->Connect("Fair") && connection->Exchange("x", answer))
                ++held;
        EXPECT_EQ(CallPipe("Fair", "x").Error, PIPE_ERROR_REFUSED);
        return held;
    };
    ASSERT_EQ(holdAs(first, connections, connections + 3), 2);
    ASSERT_EQ(holdAs(second, connections + 3, connections + 6), 1);
    for (int round = 0; round < 20; ++round) {
        for (PipeConnection* held : {&connections[0], &connections[1], &connections[3]})
            ASSERT_TRUE(held->Exchange("x", answer)) << round;
        const TPipeReply reply = CallPipe("Fair", "STATS");
        ASSERT_TRUE(reply.Ok) << round << ": " << ferrix::PipeErrorMessage(reply.Error);
    }
}

// Idle clients cannot hold the instances: one that sends nothing is dropped after the time-out and
// counted as a failed connection; one that takes no answers, as a failed write.
TEST_F(PipeServerTest, ClientsThatSendOrTakeNothingAreDropped)
{
    ProbeServer server("Idle", 2, &PipeSecurityAttributes, 300);
    PipeConnection silent, deaf;
    ASSERT_TRUE(WaitFor([&] { return silent.Connect("Idle"); }));
    const auto start = Clock::now();
    ASSERT_TRUE(deaf.Connect("Idle"));
    int sent = 0;
    while (sent < 5000 && (deaf.TrySend("x") || deaf.WaitWritable(std::chrono::milliseconds(100))))
        ++sent;
    ASSERT_LT(sent, 5000) << "the server never stopped reading";

    std::string answer;
    EXPECT_EQ(silent.Receive(answer), PipeConnection::TReceived::Closed);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    TPipeReply reply;
    ASSERT_TRUE(WaitFor([&] { return (reply = CallPipe("Idle", "STATS")).Ok && StatisticsOf(reply.Answer).WriteErrors == 1; }));
    const TCounters s = StatisticsOf(reply.Answer);
    EXPECT_EQ(s.ConnErrors, 1u);
    EXPECT_EQ(s.WriteErrors, 1u);
}
