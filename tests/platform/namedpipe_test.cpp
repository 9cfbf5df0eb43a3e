#include "platform/namedpipe/namedpipe.h"
#include "platform/namedpipe/pipeclient.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <gtest/gtest.h>
#include <poll.h>
#include <span>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "childproc.h"
#include "pipekit.h"
#include "platform/files/filedescriptor.h"
#include "platform/files/findfile.h"
#include "testkit.h"

namespace {

const TPipeSecurityDescriptor AnyUser{0666, false};
const TSecurityAttributes AnyUserAttributes{sizeof(TSecurityAttributes), &AnyUser, false};

// Serves one exchange with the server side of the layer: waits for a client, reads one request
// and answers it.
class OneShotServer {
public:
    ~OneShotServer()
    {
        if (Thread.joinable())
            Thread.join();
    }
    bool Start(const std::string& name, const std::string& answer)
    {
        if (!Pipe.Create(LocalPipeName(name), &AnyUserAttributes))
            return false;
        Thread = std::thread([this, answer] { Serve(answer); });
        return true;
    }
    void Join() { Thread.join(); }

    std::string Request;
    TPipeIo ReadResult = TPipeIo::Pending;
    int ReadError = 0;

private:
    TPipeIo Finish(TNamedPipeInstance& instance, TPipeIo result, uint32_t& count)
    {
        TWaitHandle* handles[] = {instance.Event()};
        while (result == TPipeIo::Pending && WaitForAnyObject(handles) == 0)
            result = instance.GetOverlappedResult(count);
        return result;
    }

    void Serve(const std::string& answer)
    {
        TNamedPipeInstance instance;
        instance.Open(Pipe);
        uint32_t count = 0;
        if (Finish(instance, instance.ConnectNamedPipe(), count) != TPipeIo::Completed)
            return;
        std::string buffer(16384, '\0');
        ReadResult = Finish(instance, instance.ReadFile(buffer.data(), 16384, count), count);
        ReadError = GetLastPipeError();
        if (ReadResult == TPipeIo::Completed) {
            Request = buffer.substr(0, count);
            Finish(instance, instance.WriteFile(answer.data(), static_cast<uint32_t>(answer.size()), count), count);
        }
        instance.Close();
    }

    TNamedPipe Pipe;
    std::thread Thread;
};

// A listening socket at a path, with nothing behind it but what a test does with it.
class RawListener {
public:
    explicit RawListener(const std::string& path) : Fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        Listening = ::bind(Fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                    ::listen(Fd.Get(), 8) == 0;
    }
    // Whether a client is waiting to be accepted.
    bool HasClient() const
    {
        pollfd fd{Fd.Get(), POLLIN, 0};
        return ::poll(&fd, 1, 0) == 1;
    }
    int Get() const { return Fd.Get(); }

    bool Listening = false;

private:
    ferrix::TFileDescriptor Fd;
};

// A server that takes one connection and its request and never answers; it lets go when it ends.
class SilentServer {
public:
    explicit SilentServer(const std::string& path) : Listener(path)
    {
        Thread = std::thread([this] { Client.emplace(::accept4(Listener.Get(), nullptr, nullptr, SOCK_CLOEXEC)); });
    }
    ~SilentServer()
    {
        ::shutdown(Listener.Get(), SHUT_RDWR);
        Thread.join();
    }
    RawListener Listener;

private:
    std::optional<ferrix::TFileDescriptor> Client;
    std::thread Thread;
};

// How long a call took and how it ended.
struct TTimedCall {
    bool Ok = false;
    int Error = 0;
    std::chrono::milliseconds Took{};
};

TTimedCall TimedCall(const std::string& name, int timeoutMs)
{
    const auto start = std::chrono::steady_clock::now();
    char answer[64];
    uint32_t read = 0;
    TTimedCall call;
    call.Ok = timeoutMs < 0 ? CallNamedPipeA(LocalPipeName(name), "ping", 4, answer, sizeof answer, read)
                            : CallNamedPipeA(LocalPipeName(name), "ping", 4, answer, sizeof answer, read, timeoutMs);
    call.Error = GetLastPipeError();
    call.Took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return call;
}

constexpr uid_t Nobody = 65534;

bool PathExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(NamedPipeNames, LocalNamesMapToSocketsInThePipeDirectory)
{
    PipeDirectory pipes;
    std::string path;
    ASSERT_TRUE(ferrix::NamedPipeSocketPath("\\\\.\\pipe\\TrSvc2Info", path));
    EXPECT_EQ(path, pipes.SocketPath("TrSvc2Info"));
    ASSERT_TRUE(ferrix::NamedPipeSocketPath("\\\\.\\PIPE\\TrSvc2Control", path));
    EXPECT_EQ(path, pipes.SocketPath("TrSvc2Control"));

    for (const char* bad : {"", "TrSvc2Info", "\\\\.\\pipe\\", "\\\\.\\pipes\\x", "\\\\\\pipe\\x", "\\\\.\\pipe\\a/b",
                            "\\\\.\\pipe\\a\\b", "\\\\.\\pipe\\..", "//./pipe/x"}) {
        EXPECT_FALSE(ferrix::NamedPipeSocketPath(bad, path)) << bad;
        EXPECT_EQ(GetLastPipeError(), PIPE_ERROR_BAD_NAME) << bad;
    }
    EXPECT_FALSE(ferrix::NamedPipeSocketPath("\\\\.\\pipe\\" + std::string(200, 'n'), path));
    EXPECT_EQ(GetLastPipeError(), ENAMETOOLONG);
}

TEST(NamedPipeNames, PipeDirectoryIsCreatedWhenMissing)
{
    TempDir dir;
    ::setenv("NAMEDPIPE_DIR", (dir / "a/b").c_str(), 1);
    EXPECT_EQ(ferrix::NamedPipeDirectory(), dir / "a/b");
    EXPECT_TRUE(DirectoryExists(dir / "a/b"));
    ::unsetenv("NAMEDPIPE_DIR");
    if (::geteuid() == 0) {
        EXPECT_EQ(ferrix::NamedPipeDirectory(), "/run/namedpipe");
        EXPECT_TRUE(DirectoryExists("/run/namedpipe"));
    }
}

TEST(NamedPipeClient, RemoteAndMissingPipesFailWithAClearError)
{
    PipeDirectory pipes;
    char answer[64];
    uint32_t read = 99;
    // An SSH client that cannot connect anywhere: the other computer is unreachable.
    ::setenv("FERRIX_SSH", "false", 1);
    EXPECT_FALSE(CallNamedPipeA("\\\\SHOP1\\pipe\\TrSvc2Info", "x", 1, answer, sizeof answer, read));
    ::unsetenv("FERRIX_SSH");
    EXPECT_EQ(GetLastPipeError(), PIPE_ERROR_REMOTE);
    EXPECT_NE(ferrix::PipeErrorMessage(PIPE_ERROR_REMOTE).find("Cannot reach SHOP1 over SSH"), std::string::npos);
    EXPECT_EQ(read, 0u);

    EXPECT_FALSE(CallNamedPipeA("\\\\.\\pipe\\Nobody", "x", 1, answer, sizeof answer, read));
    EXPECT_EQ(GetLastPipeError(), ENOENT);
    EXPECT_EQ(ferrix::PipeErrorMessage(GetLastPipeError()), "No such file or directory");
}

TEST(NamedPipeServer, SocketModeFollowsTheSecurityDescriptor)
{
    PipeDirectory pipes;
    const mode_t oldMask = ::umask(022);
    TNamedPipe open, plain;
    ASSERT_TRUE(open.Create(LocalPipeName("Open"), &AnyUserAttributes));
    ASSERT_TRUE(plain.Create(LocalPipeName("Plain"), nullptr));
    ::umask(oldMask);
    struct stat st {};
    ASSERT_EQ(::lstat(pipes.SocketPath("Open").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    ASSERT_EQ(::lstat(pipes.SocketPath("Plain").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    open.Close();
    EXPECT_NE(::lstat(pipes.SocketPath("Open").c_str(), &st), 0);
}

TEST(NamedPipeServer, OneExchangeAndAnAnswerLongerThanTheBuffer)
{
    PipeDirectory pipes;
    OneShotServer server;
    ASSERT_TRUE(server.Start("Once", "pong"));
    char answer[64];
    uint32_t read = 0;
    ASSERT_TRUE(CallNamedPipeA(LocalPipeName("Once"), "ping", 4, answer, sizeof answer, read))
        << ferrix::PipeErrorMessage(GetLastPipeError());
    EXPECT_EQ(std::string(answer, read), "pong");
    server.Join();
    EXPECT_EQ(server.Request, "ping");

    OneShotServer longer;
    const std::string text = std::string(50, 'a') + std::string(50, 'b');
    ASSERT_TRUE(longer.Start("Longer", text));
    EXPECT_FALSE(CallNamedPipeA(LocalPipeName("Longer"), "ping", 4, answer, 50, read));
    EXPECT_EQ(GetLastPipeError(), PIPE_ERROR_MORE_DATA);
    EXPECT_EQ(read, 50u);
    EXPECT_EQ(std::string(answer, 50), std::string(50, 'a'));
}

TEST(NamedPipeServer, RequestLongerThanTheReadBufferFailsTheRead)
{
    PipeDirectory pipes;
    OneShotServer server;
    ASSERT_TRUE(server.Start("Long", "never"));
    const std::string request(16385, 'x');
    char answer[64];
    uint32_t read = 0;
    EXPECT_FALSE(CallNamedPipeA(LocalPipeName("Long"), request.data(), 16385, answer, sizeof answer, read));
    EXPECT_EQ(GetLastPipeError(), PIPE_ERROR_NO_ANSWER);
    server.Join();
    EXPECT_EQ(server.ReadResult, TPipeIo::Failed);
    EXPECT_EQ(server.ReadError, EMSGSIZE);
    EXPECT_EQ(server.Request, "");
}

TEST(NamedPipeClient, ServerThatAcceptsAndNeverAnswersTimesOut)
{
    PipeDirectory pipes;
    SilentServer server(pipes.SocketPath("Silent"));
    ASSERT_TRUE(server.Listener.Listening);

    const TTimedCall shortWait = TimedCall("Silent", 300);
    EXPECT_FALSE(shortWait.Ok);
    EXPECT_EQ(shortWait.Error, PIPE_ERROR_TIMEOUT);
    EXPECT_GE(shortWait.Took, std::chrono::milliseconds(300));
    EXPECT_LT(shortWait.Took, std::chrono::seconds(3));
    EXPECT_NE(ferrix::PipeErrorMessage(PIPE_ERROR_TIMEOUT).find("did not answer in time"), std::string::npos);

    // The console's call, with the default time-out, comes back too.
    SilentServer again(pipes.SocketPath("Silent2"));
    const TTimedCall defaultWait = TimedCall("Silent2", -1);
    EXPECT_FALSE(defaultWait.Ok);
    EXPECT_EQ(defaultWait.Error, PIPE_ERROR_TIMEOUT);
    EXPECT_GE(defaultWait.Took, std::chrono::milliseconds(PipeAnswerTimeoutMs));
    EXPECT_LT(defaultWait.Took, std::chrono::milliseconds(PipeAnswerTimeoutMs + 3000));
}

// Directories in which another user could put a socket or a link in a pipe's place: neither the
// client nor the server uses a pipe in them.
TEST(NamedPipeDirectoryRules, UnsafeDirectoriesAreRefusedByClientAndServer)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "directories of another user need root";
    const PipeDirectory unsetAtTheEnd;  // $NAMEDPIPE_DIR is set for each case below
    TempDir root;
    ::chmod(root.Path().c_str(), 01777);  // as /tmp: any user may make a directory here
    struct TCase {
        std::string Name;
        std::function<void(const std::string&)> Make;
    };
    const std::vector<TCase> cases = {
        {"of another user", [](const std::string& d) { ::mkdir(d.c_str(), 0755); ASSERT_EQ(::chown(d.c_str(), Nobody, Nobody), 0); }},
        {"writable by all", [](const std::string& d) { ::mkdir(d.c_str(), 0755); ::chmod(d.c_str(), 0777); }},
        {"sticky and writable by all", [](const std::string& d) { ::mkdir(d.c_str(), 0755); ::chmod(d.c_str(), 01777); }},
        {"writable by the group", [](const std::string& d) { ::mkdir(d.c_str(), 0755); ::chmod(d.c_str(), 0775); }},
        {"a link to a safe directory", [&](const std::string& d) {
             ::mkdir((root / "safe").c_str(), 0755);
             ASSERT_EQ(::symlink((root / "safe").c_str(), d.c_str()), 0);
         }},
    };
    int n = 0;
    for (const TCase& c : cases) {
        const std::string dir = root / ("pipes" + std::to_string(n++));
        c.Make(dir);
        ::setenv("NAMEDPIPE_DIR", dir.c_str(), 1);
        // A pipe someone serves there already.
        RawListener planted(dir + "/Info");
        ASSERT_TRUE(planted.Listening) << c.Name;

        const TTimedCall call = TimedCall("Info", 1000);
        EXPECT_FALSE(call.Ok) << c.Name;
        EXPECT_EQ(call.Error, PIPE_ERROR_UNSAFE_DIRECTORY) << c.Name;
        EXPECT_NE(ferrix::PipeErrorMessage(call.Error).find(dir), std::string::npos) << ferrix::PipeErrorMessage(call.Error);
        EXPECT_FALSE(planted.HasClient()) << c.Name << ": the call reached the planted socket";

        TNamedPipe pipe;
        EXPECT_FALSE(pipe.Create(LocalPipeName("Control"), &AnyUserAttributes)) << c.Name;
        EXPECT_EQ(GetLastPipeError(), PIPE_ERROR_UNSAFE_DIRECTORY) << c.Name;
        EXPECT_FALSE(PathExists(dir + "/Control")) << c.Name;
    }
    ::unsetenv("NAMEDPIPE_DIR");
}

TEST(NamedPipeDirectoryRules, DefaultDirectoryOpenToAllIsClosedAgain)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the default directory needs root";
    ::unsetenv("NAMEDPIPE_DIR");
    ASSERT_EQ(ferrix::NamedPipeDirectory(), "/run/namedpipe");
    ASSERT_EQ(::chmod("/run/namedpipe", 01777), 0);  // as an earlier release made it
    EXPECT_EQ(ferrix::NamedPipeDirectory(), "/run/namedpipe");
    struct stat st {};
    ASSERT_EQ(::lstat("/run/namedpipe", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_TRUE(ferrix::IsSafePipeDirectory("/run/namedpipe"));
}

// The result of one call to a pipe served by user nobody (its socket made before it gave up root)
// in dir: what the server received ("GOT n") and how the call ended.
struct TForeignCall {
    std::string Received;
    TTimedCall Call;
};

TForeignCall CallServerOfNobody(const std::string& dir)
{
    TempDir work;
    WriteTextFile(work / "server.py", R"(import os, socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
s.bind(sys.argv[1])
os.setgroups([])
os.setgid(65534)
os.setuid(65534)
s.listen(4)
open(sys.argv[2] + ".tmp", "w").close()
os.rename(sys.argv[2] + ".tmp", sys.argv[2])
c, _ = s.accept()
c.settimeout(10)
data = c.recv(65536)
with open(sys.argv[3], "w") as f:
    f.write("GOT %d" % len(data))
if data:
    c.send(b"pong")
)");
    ::chmod(work.Path().c_str(), 0777);
    ::setenv("NAMEDPIPE_DIR", dir.c_str(), 1);
    TChild server = SpawnChild({"/usr/bin/python3", work / "server.py", dir + "/Foreign", work / "ready", work / "result"});
    TForeignCall result;
    if (!WaitFor([&] { return FileExists(work / "ready"); })) {
        KillChild(server);
        return result;
    }
    result.Call = TimedCall("Foreign", 2000);
    WaitForExit(server, std::chrono::seconds(10));
    result.Received = FileExists(work / "result") ? ReadTextFile(work / "result") : "nothing";
    return result;
}

// A server of another user gets no request: the client looks at who serves the pipe before it
// sends. Only a directory that root gave that user (a service running as that user) admits it.
TEST(NamedPipeClient, ServerOfAnotherUserGetsNoRequest)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a server of another user needs root";
    PipeDirectory pipes;  // root's
    const TForeignCall inRootsDirectory = CallServerOfNobody(pipes.Path());
    EXPECT_FALSE(inRootsDirectory.Call.Ok);
    EXPECT_EQ(inRootsDirectory.Call.Error, PIPE_ERROR_UNTRUSTED_SERVER);
    EXPECT_EQ(inRootsDirectory.Received, "GOT 0");

    const std::string given = pipes.Path() + "/nobody";
    ASSERT_EQ(::mkdir(given.c_str(), 0755), 0);
    ASSERT_EQ(::chown(given.c_str(), Nobody, Nobody), 0);
    const TForeignCall inItsOwnDirectory = CallServerOfNobody(given);
    EXPECT_TRUE(inItsOwnDirectory.Call.Ok) << ferrix::PipeErrorMessage(inItsOwnDirectory.Call.Error);
    EXPECT_EQ(inItsOwnDirectory.Received, "GOT 4");
}
