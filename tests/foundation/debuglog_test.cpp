#include "foundation/debuglog.h"

#include <clocale>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "foundation/sds.h"
#include "platform/eventlog/eventlog.h"
#include "platform/files/findfile.h"
#include "testkit.h"

namespace {

struct RecordingService : TLogEchoTarget {
    std::vector<std::pair<std::string, int>> Echoes;
    void LogMessage(const std::string& message, int eventType) override { Echoes.emplace_back(message, eventType); }
};

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { SetLogTarget(nullptr, Dir / "test.log"); }
    void TearDown() override
    {
        ClearLogTarget();
        SetLogTarget(nullptr, "debug.txt");
    }
    std::string LogText() const { return ReadTextFile(Dir / "test.log"); }
    TempDir Dir;
};

}  // namespace

TEST(LogLineFormat, DateBlankTimeTabMessage)
{
    const TDateTime t = EncodeDateTime(2026, 12, 7, 23, 5, 9, 700);
    EXPECT_EQ(ferrix::FormatLogLine(t, "TransportSvc2 service started"), "07/12/2026 23:05:09\tTransportSvc2 service started");
    EXPECT_EQ(ferrix::FormatLogLine(EncodeDateTime(2026, 1, 2, 0, 0, 0, 0), "x"), "02/01/2026 00:00:00\tx");
}

// A CR LF pair becomes a blank; every other control character shows, in the file and the echo, and a
// text already made visible stays as it was.
TEST_F(LogTest, FoldsCrLfPairsShowsOtherControlsAndEndsWithCrLf)
{
    RecordingService service;
    SetLogTarget(&service, Dir / "test.log");
    WriteLog(0, "a\r\nb");
    WriteLog(0, "ends\r\n");
    WriteLog(0, "lone\rcr\nlf\ttab\x1B[2J\x7F \\x1B");
    const std::string text = LogText();
    const std::regex line(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\t)");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
        lines.push_back(text.substr(start, pos - start));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(start, text.size());
    EXPECT_TRUE(std::regex_search(lines[0], line));
    EXPECT_EQ(lines[0].substr(20), "a b");
    EXPECT_EQ(lines[1].substr(20), "ends ");
    const std::string shown = "lone\\rcr\\nlf\\ttab\\x1B[2J\\x7F \\x1B";
    EXPECT_EQ(lines[2].substr(20), shown);
    ASSERT_EQ(service.Echoes.size(), 3u);
    EXPECT_EQ(service.Echoes[2].first, shown);
}

TEST_F(LogTest, SeparatorsIgnoreTheUserLocale)
{
    // de_DE uses "." for dates; the log must not follow it even if the locale is present.
    const char* old = setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    setlocale(LC_ALL, "de_DE.UTF-8");
    WriteLog(0, "x");
    setlocale(LC_ALL, saved.c_str());
    EXPECT_TRUE(std::regex_match(LogText(), std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\tx\r\n)")));
}

TEST_F(LogTest, EchoesMessageAloneWithEventTypeByLevel)
{
    RecordingService service;
    SetLogTarget(&service, Dir / "test.log");
    WriteLog(0, "info");
    WriteLog(2, "still info");
    WriteLog(3, "error");
    WriteLog(-1, "negative");
    ClearLogTarget();
    WriteLog(0, "after clear");
    ASSERT_EQ(service.Echoes.size(), 4u);
    EXPECT_EQ(service.Echoes[0], std::make_pair(std::string("info"), EVENTLOG_INFORMATION_TYPE));
    EXPECT_EQ(service.Echoes[1].second, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(service.Echoes[2].second, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(service.Echoes[3].second, EVENTLOG_ERROR_TYPE);
    // Lines after the clear still go to the service's file.
    EXPECT_NE(LogText().find("after clear"), std::string::npos);
}

TEST_F(LogTest, UnwritablePathLosesTheLineSilently)
{
    SetLogTarget(nullptr, Dir / "missing-dir/test.log");
    EXPECT_NO_THROW(WriteLog(3, "lost"));
}

TEST_F(LogTest, TrimDeletesOnlyFilesOverTheLimit)
{
    WriteTextFile(Dir / "test.log", std::string(131072, 'x'));
    TrimLogFile();
    EXPECT_TRUE(FileExists(Dir / "test.log"));
    WriteTextFile(Dir / "test.log", std::string(131073, 'x'));
    TrimLogFile();
    EXPECT_FALSE(FileExists(Dir / "test.log"));
    WriteLog(0, "fresh");
    EXPECT_EQ(LogText().substr(20), "fresh\r\n");
    // A directory of that name is left alone.
    ForceDirectories(Dir / "dir.log");
    SetLogTarget(nullptr, Dir / "dir.log");
    TrimLogFile();
    EXPECT_TRUE(DirectoryExists(Dir / "dir.log"));
}

TEST_F(LogTest, ConcurrentWritersKeepEveryLineWhole)
{
    constexpr int Threads = 8;
    constexpr int LinesEach = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < LinesEach; ++i)
                WriteLog(0, "thread " + std::to_string(t) + " line " + std::to_string(i) + " " + std::string(200, 'a' + t));
        });
    for (auto& w : writers)
        w.join();
    std::istringstream in(LogText());
    std::vector<std::vector<bool>> seen(Threads, std::vector<bool>(LinesEach, false));
    const std::regex whole(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\tthread (\d) line (\d+) ([a-h])+\r)");
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        const int t = std::stoi(m[1]);
        EXPECT_EQ(line[line.size() - 2], 'a' + t);
        EXPECT_EQ(line.find_first_not_of(static_cast<char>('a' + t), line.size() - 201), line.size() - 1);
        seen[t][std::stoi(m[2])] = true;
        ++count;
    }
    EXPECT_EQ(count, Threads * LinesEach);
    for (const auto& s : seen)
        for (bool b : s)
            EXPECT_TRUE(b);
}
