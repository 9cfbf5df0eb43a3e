// A program built on the generic file-tracking service, run as a real process in the foreground
// from a directory of its own with its settings file next to it.
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "childproc.h"
#include "ftsrvkit.h"
#include "pipekit.h"
#include "platform/files/copyfile.h"
#include "platform/files/findfile.h"
#include "foundation/pipeproto.h"

namespace {

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

    TChild child = SpawnChild({program});
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
