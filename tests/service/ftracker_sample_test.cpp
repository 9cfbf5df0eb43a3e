// A program built on the generic file-tracking service, run as a real process in the foreground
// from a directory of its own with its settings file next to it.
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ftsrvkit.h"
#include "pipekit.h"
#include "platform/files/findfile.h"
#include "service/ft_control.h"

namespace {

struct TChild {
    pid_t Pid = -1;
    int Status = 0;
};

// Runs the program with SIGTERM and SIGINT at their defaults and unblocked.
TChild Spawn(const std::string& program)
{
    std::string path = program;
    char* argv[] = {path.data(), nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    TChild child;
    const int rc = posix_spawn(&child.Pid, argv[0], nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        throw std::runtime_error("posix_spawn failed");
    return child;
}

// Waits for the child to end; kills it when it does not within the deadline.
bool WaitForExit(TChild& child)
{
    const bool ended = WaitFor([&] { return ::waitpid(child.Pid, &child.Status, WNOHANG) == child.Pid; },
                               std::chrono::seconds(30));
    if (!ended) {
        ::kill(child.Pid, SIGKILL);
        ::waitpid(child.Pid, &child.Status, 0);
    }
    return ended;
}

TEST(FtrackerSample, AnswersStatisticsAndStopsOnSigterm)
{
    PipeDirectory pipes;
    TempDir dir;
    const std::string program = dir / "ftracker_sample";
    ASSERT_TRUE(CopyFile(FERRIX_FTRACKER_SAMPLE, program, false));
    ::chmod(program.c_str(), 0755);
    const std::string shop = dir / "shop";
    ForceDirectories(shop);
    WriteTextFile(shop + "/a.arg", "a");
    WriteSettings(dir / "ftsample.ini", {shop});
    const std::string log = dir / "ftsample.log";

    TChild child = Spawn(program);
    // The first check, 5 seconds after the start, hands the file over.
    const auto passDone = [&] {
        for (const std::string& message : LogMessages(log))
            if (message.rfind("processed 1 files OK, 0 files bad, elapsed ", 0) == 0)
                return true;
        return false;
    };
    ASSERT_TRUE(WaitFor(passDone, std::chrono::seconds(30))) << ReadTextFile(log);

    const TPipeReply reply = CallPipe("FtSampleInfo", PipeMessage(REQGETSTATS));
    ASSERT_TRUE(reply.Ok) << reply.Error;
    ASSERT_EQ(reply.Answer.size(), static_cast<size_t>(StatsAnswerLength));
    TServiceStatusInfo info;
    std::memcpy(&info, reply.Answer.data() + ServiceStatusOffset, sizeof info);
    EXPECT_EQ(+info.Size, 511);
    EXPECT_EQ(+info.VersionMajor, 3);
    EXPECT_EQ(+info.VersionMinor, 4);
    EXPECT_EQ(+info.VersionRelease, 5);
    EXPECT_EQ(+info.Busy, 0);
    EXPECT_EQ(+info.LastCheckFilesOK, 1);
    EXPECT_NE(+info.NextCheckTime.wYear, 0);
    EXPECT_TRUE(FileExists(shop + "/dirlist.dst"));

    ASSERT_EQ(::kill(child.Pid, SIGTERM), 0);
    ASSERT_TRUE(WaitForExit(child));
    ASSERT_TRUE(WIFEXITED(child.Status));
    EXPECT_EQ(WEXITSTATUS(child.Status), 0);
    const auto messages = LogMessages(log);
    ASSERT_GE(messages.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(messages.end() - 4, messages.end()),
              (std::vector<std::string>{"Stopping service...", "Pipe server stopped \"FtSampleControl\"",
                                        "Pipe server stopped \"FtSampleInfo\"", "FtSample service stopped"}));
    EXPECT_EQ(messages.front(), "FtSample service started");
    EXPECT_FALSE(CallPipe("FtSampleInfo", PipeMessage(REQGETSTATS)).Ok);
}

}  // namespace
