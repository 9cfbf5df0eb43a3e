// Pipes of another PC through a real sshd on loopback and the relay: the same answer bytes and
// errors as a local call, and a clear, bounded failure when the PC cannot be reached, refuses the
// key, breaks the handshake, or the relay dies or stalls in the middle of a call; the next call
// connects again. The relay serves only its service's unit and the pipes of its own PC.
#include <atomic>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "pipekit.h"
#include "platform/namedpipe/pipeclient.h"
#include "platform/remote/relayclient.h"
#include "platform/remote/relaylink.h"
#include "platform/remote/relayproto.h"
#include "platform/remote/relayserver.h"
#include "sshserver.h"

using namespace ferrix;

namespace {

// A pipe server of the test's own with fixed answers: "BIG" gets 20000 bytes, "NONE" no answer,
// "HOLD" an answer only once released, anything else its bytes reversed after "ANSWER:".
class TFixedPipeServer {
public:
    explicit TFixedPipeServer(const std::string& socketPath)
    {
        Fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
        if (::bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(Fd, 8) != 0)
            throw std::runtime_error("cannot serve " + socketPath);
        Thread = std::thread([this] { Serve(); });
    }
    ~TFixedPipeServer()
    {
        Release = true;
        ::shutdown(Fd, SHUT_RDWR);
        Thread.join();
        ::close(Fd);
    }
    std::atomic<int> Held{0};
    std::atomic<bool> Release{false};

private:
    void Serve()
    {
        for (;;) {
            const int client = ::accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            char buffer[65536];
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            const std::string request(buffer, n > 0 ? static_cast<size_t>(n) : 0);
            std::string answer = "ANSWER:" + std::string(request.rbegin(), request.rend());
            if (request == "BIG")
                for (answer.clear(); answer.size() < 20000;)
                    answer += static_cast<char>(answer.size() % 251);
            if (request == "HOLD") {
                ++Held;
                while (!Release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (request != "NONE")
                ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    }
    int Fd = -1;
    std::thread Thread;
};

struct TCallResult {
    bool Ok = false;
    int Error = 0;
    std::string Answer;
    bool operator==(const TCallResult&) const = default;
};

TCallResult Call(const std::string& pipeName, const std::string& request, uint32_t outSize = 16384)
{
    std::string buffer(outSize, '\0');
    uint32_t read = 0;
    TCallResult result;
    result.Ok = CallNamedPipeA(pipeName, request.data(), static_cast<uint32_t>(request.size()), buffer.data(), outSize,
                               read);
    result.Error = result.Ok ? 0 : GetLastPipeError();
    result.Answer = buffer.substr(0, read);
    return result;
}

std::ostream& operator<<(std::ostream& out, const TCallResult& r)
{
    return out << "{ok " << r.Ok << ", error " << r.Error << " " << (r.Ok ? "" : ferrix::PipeErrorMessage(r.Error))
               << ", " << r.Answer.size() << " bytes}";
}

class RelayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = TSshServer::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        Pipes = std::make_unique<PipeDirectory>();
        Server = std::make_unique<TSshServer>(std::vector<std::string>{"NAMEDPIPE_DIR=" + Pipes->Path()});
        Server->Authorize("root");
        Server->AddHost("otherpc", "root");
        Server->AddHost("strangerpc", "root", false);
        Server->AddHost("badkeypc", "root", true, false);
        ::setenv("FERRIX_SSH", Server->SshCommand().c_str(), 1);
        ::setenv("FERRIX_RELAY", Server->InstallProgram(FERRIX_RELAY_PROGRAM).c_str(), 1);
        Fixed = std::make_unique<TFixedPipeServer>(Pipes->SocketPath("Fixed"));
    }
    void TearDown() override
    {
        CloseRelayLinks();
        Fixed.reset();
        Server.reset();
        Pipes.reset();
        ::unsetenv("FERRIX_SSH");
        ::unsetenv("FERRIX_RELAY");
        ::unsetenv("FERRIX_RELAY_TIMEOUT_MS");
    }

    // A failing remote call: its error text, checked to come within the bound.
    std::string FailingCallText(const std::string& pc, std::chrono::seconds bound = std::chrono::seconds(15))
    {
        const auto start = std::chrono::steady_clock::now();
        const TCallResult result = Call("\\\\" + pc + "\\pipe\\Fixed", "x");
        EXPECT_LT(std::chrono::steady_clock::now() - start, bound);
        EXPECT_FALSE(result.Ok);
        EXPECT_EQ(result.Error, PIPE_ERROR_REMOTE);
        return ferrix::PipeErrorMessage(result.Error);
    }

    std::unique_ptr<PipeDirectory> Pipes;
    std::unique_ptr<TSshServer> Server;
    std::unique_ptr<TFixedPipeServer> Fixed;
};

}  // namespace

TEST_F(RelayTest, RemoteCallsGiveTheLocalAnswersAndErrors)
{
    const std::vector<std::pair<std::string, uint32_t>> cases = {
        {"hello", 16384}, {std::string(16000, 'q'), 16384}, {"BIG", 16384}, {"BIG", 30000}, {"NONE", 16384}};
    for (const auto& [request, size] : cases) {
        const TCallResult local = Call("\\\\.\\pipe\\Fixed", request, size);
        const TCallResult remote = Call("\\\\otherpc\\pipe\\Fixed", request, size);
        EXPECT_EQ(remote, local) << request.substr(0, 10) << " " << size;
    }
    EXPECT_EQ(Call("\\\\otherpc\\pipe\\Fixed", "BIG").Error, PIPE_ERROR_MORE_DATA);
    EXPECT_EQ(Call("\\\\otherpc\\pipe\\Missing", "x"), Call("\\\\.\\pipe\\Missing", "x"));
    EXPECT_EQ(Call("\\\\otherpc\\pipe\\Missing", "x").Error, ENOENT);
    // One connection serves every call.
    const pid_t relay = RelayProcessId("otherpc");
    EXPECT_GT(relay, 0);
    Call("\\\\OTHERPC\\pipe\\Fixed", "again");
    EXPECT_EQ(RelayProcessId("otherpc"), relay);
}

TEST_F(RelayTest, UnreachablePcsFailClearlyAndSoon)
{
    EXPECT_EQ(FailingCallText("nosuchpc.invalid"),
              "Cannot reach nosuchpc.invalid over SSH: ssh: Could not resolve hostname nosuchpc.invalid: Name or "
              "service not known");
    EXPECT_EQ(FailingCallText("strangerpc"), "Cannot reach strangerpc over SSH: Host key verification failed.");
    const std::string refused = FailingCallText("badkeypc");
    EXPECT_EQ(refused.rfind("Cannot reach badkeypc over SSH: ", 0), 0u) << refused;
    EXPECT_NE(refused.find("Permission denied (publickey)"), std::string::npos) << refused;

    // A name that is no PC name never reaches ssh.
    const std::string option = FailingCallText("-oProxyCommand=sh");
    EXPECT_EQ(option.rfind("Cannot reach \"-oProxyCommand=sh\": a PC name is", 0), 0u) << option;

    ::setenv("FERRIX_RELAY", "/nonexistent/ferrix-relay", 1);
    const std::string missing = FailingCallText("otherpc");
    EXPECT_NE(missing.find("/nonexistent/ferrix-relay"), std::string::npos) << missing;
}

TEST_F(RelayTest, RelayKilledMidCallFailsTheCallAndTheNextOneReconnects)
{
    ASSERT_TRUE(Call("\\\\otherpc\\pipe\\Fixed", "first").Ok);
    const pid_t relay = RelayProcessId("otherpc");
    ASSERT_GT(relay, 0);
    TCallResult held;
    std::string text;  // the last error's text belongs to the calling thread
    std::thread call([&] {
        held = Call("\\\\otherpc\\pipe\\Fixed", "HOLD");
        text = ferrix::PipeErrorMessage(held.Error);
    });
    ASSERT_TRUE(WaitFor([&] { return Fixed->Held.load() == 1; }));
    const auto start = std::chrono::steady_clock::now();
    ::kill(relay, SIGKILL);
    call.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(held.Ok);
    EXPECT_EQ(held.Error, PIPE_ERROR_REMOTE);
    EXPECT_EQ(text, "The relay on otherpc ended");
    Fixed->Release = true;

    const TCallResult next = Call("\\\\otherpc\\pipe\\Fixed", "next");
    EXPECT_TRUE(next.Ok) << next;
    EXPECT_EQ(next.Answer, "ANSWER:txen");
    EXPECT_NE(RelayProcessId("otherpc"), relay);
}

TEST_F(RelayTest, StalledAnswerEndsAtTheTimeOut)
{
    ::setenv("FERRIX_RELAY_TIMEOUT_MS", "1500", 1);
    ASSERT_TRUE(Call("\\\\otherpc\\pipe\\Fixed", "first").Ok);
    const auto start = std::chrono::steady_clock::now();
    const TCallResult held = Call("\\\\otherpc\\pipe\\Fixed", "HOLD");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1400));
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(held.Error, PIPE_ERROR_REMOTE);
    // The last line the SSH client wrote may follow: the remote login shell's chatter among them.
    const std::string stalled = ferrix::PipeErrorMessage(PIPE_ERROR_REMOTE);
    EXPECT_EQ(stalled.rfind("otherpc did not answer within 1500 ms", 0), 0u) << stalled;
    Fixed->Release = true;
    EXPECT_TRUE(Call("\\\\otherpc\\pipe\\Fixed", "next").Ok);
}

TEST_F(RelayTest, CutHandshakeClosesTheLinkAndTheNextCallConnectsAgain)
{
    // A relay command that answers its first Hello with the status byte alone and stays.
    TempDir dir;
    ::chmod(dir.Path().c_str(), 0755);
    WriteTextFile(dir / "relay", "#!/bin/sh\n[ -e " + (dir / "cut") + " ] && exec " + std::getenv("FERRIX_RELAY") +
                                     "\ntouch " + (dir / "cut") + "\nprintf '\\1\\0\\0\\0\\0'\nexec cat >/dev/null\n");
    ::chmod((dir / "relay").c_str(), 0755);
    ::setenv("FERRIX_RELAY", (dir / "relay").c_str(), 1);
    ::setenv("FERRIX_RELAY_TIMEOUT_MS", "3000", 1);
    EXPECT_EQ(Call("\\\\otherpc\\pipe\\Fixed", "first").Error, PIPE_ERROR_REMOTE);
    const std::string cut = ferrix::PipeErrorMessage(PIPE_ERROR_REMOTE);
    EXPECT_EQ(cut.rfind("The relay on otherpc cut its handshake answer short", 0), 0u) << cut;
    EXPECT_EQ(Call("\\\\otherpc\\pipe\\Fixed", "next"), (TCallResult{true, 0, "ANSWER:txen"}));
}

TEST(RelayServer, ServesOnlyItsServicesUnitAndThePipesOfItsOwnPc)
{
    TRelayServer server("TransportSvc2");
    const auto refusal = [&server](TRelayOp op, const std::string& name) {
        const std::string answer =
            server.Answer(TRelayWriter().U8(static_cast<uint8_t>(op)).Bytes(name).Bytes("x").U32(64).Data());
        TRelayReader reader(answer);
        return reader.U8() == RelayFailed && reader.U32() == EACCES ? reader.Bytes() : std::string("served");
    };
    for (const TRelayOp op : {TRelayOp::OpenUnit, TRelayOp::QueryUnit, TRelayOp::StartUnit, TRelayOp::StopUnit,
                              TRelayOp::SetUnitAccount})
        for (const std::string unit : {"../x", "other.service"})
            EXPECT_EQ(refusal(op, unit), "The relay serves only the service TransportSvc2, not " + unit);
    EXPECT_EQ(refusal(TRelayOp::CallPipe, "\\\\thirdpc\\pipe\\Fixed"),
              "The relay serves only the pipes of its own PC, not \\\\thirdpc\\pipe\\Fixed");
}

TEST(RelayCommand, SshWordsOptionsPcAndRelay)
{
    ::setenv("FERRIX_SSH", "  ssh   -F /x/config ", 1);
    ::setenv("FERRIX_RELAY", "/opt/ferrix/ferrix-relay", 1);
    EXPECT_EQ(TRelayLink::SshCommand("shop1"),
              (std::vector<std::string>{"ssh", "-F", "/x/config", "-T", "-o", "BatchMode=yes", "-o", "ConnectTimeout=10",
                                        "-e", "none", "--", "shop1", "/opt/ferrix/ferrix-relay"}));
    ::unsetenv("FERRIX_SSH");
    ::unsetenv("FERRIX_RELAY");
    EXPECT_EQ(TRelayLink::SshCommand("shop1").front(), "ssh");
    EXPECT_EQ(TRelayLink::SshCommand("shop1").back(), "ferrix-relay");
}
