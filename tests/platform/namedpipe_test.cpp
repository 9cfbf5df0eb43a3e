#include "platform/namedpipe/namedpipe.h"
#include "platform/namedpipe/pipeclient.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <span>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "pipekit.h"
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

}  // namespace

TEST(NamedPipeNames, LocalNamesMapToSocketsInThePipeDirectory)
{
    PipeDirectory pipes;
    std::string path;
    ASSERT_TRUE(NamedPipeSocketPath("\\\\.\\pipe\\TrSvc2Info", path));
    EXPECT_EQ(path, pipes.SocketPath("TrSvc2Info"));
    ASSERT_TRUE(NamedPipeSocketPath("\\\\.\\PIPE\\TrSvc2Control", path));
    EXPECT_EQ(path, pipes.SocketPath("TrSvc2Control"));

    for (const char* bad : {"", "TrSvc2Info", "\\\\.\\pipe\\", "\\\\.\\pipes\\x", "\\\\\\pipe\\x", "\\\\.\\pipe\\a/b",
                            "\\\\.\\pipe\\a\\b", "\\\\.\\pipe\\..", "//./pipe/x"}) {
        EXPECT_FALSE(NamedPipeSocketPath(bad, path)) << bad;
        EXPECT_EQ(GetLastPipeError(), PIPE_ERROR_BAD_NAME) << bad;
    }
    EXPECT_FALSE(NamedPipeSocketPath("\\\\.\\pipe\\" + std::string(200, 'n'), path));
    EXPECT_EQ(GetLastPipeError(), ENAMETOOLONG);
}

TEST(NamedPipeNames, PipeDirectoryIsCreatedWhenMissing)
{
    TempDir dir;
    ::setenv("NAMEDPIPE_DIR", (dir / "a/b").c_str(), 1);
    EXPECT_EQ(NamedPipeDirectory(), dir / "a/b");
    EXPECT_TRUE(DirectoryExists(dir / "a/b"));
    ::unsetenv("NAMEDPIPE_DIR");
    if (::geteuid() == 0) {
        EXPECT_EQ(NamedPipeDirectory(), "/run/namedpipe");
        EXPECT_TRUE(DirectoryExists("/run/namedpipe"));
    }
}

TEST(NamedPipeClient, RemoteAndMissingPipesFailWithAClearError)
{
    PipeDirectory pipes;
    char answer[64];
    uint32_t read = 99;
    EXPECT_FALSE(CallNamedPipeA("\\\\SHOP1\\pipe\\TrSvc2Info", "x", 1, answer, sizeof answer, read));
    EXPECT_EQ(GetLastPipeError(), PIPE_ERROR_REMOTE);
    EXPECT_NE(PipeErrorMessage(PIPE_ERROR_REMOTE).find("another computer"), std::string::npos);
    EXPECT_EQ(read, 0u);

    EXPECT_FALSE(CallNamedPipeA("\\\\.\\pipe\\Nobody", "x", 1, answer, sizeof answer, read));
    EXPECT_EQ(GetLastPipeError(), ENOENT);
    EXPECT_EQ(PipeErrorMessage(GetLastPipeError()), "No such file or directory");
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
        << PipeErrorMessage(GetLastPipeError());
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
