#include "foundation/trconfig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "foundation/debuglog.h"
#include "foundation/inifile.h"
#include "foundation/trcnst.h"
#include "platform/files/findfile.h"
#include "testkit.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { SetLogTarget(nullptr, Dir / "test.log"); }
    void TearDown() override { SetLogTarget(nullptr, "debug.txt"); }
    // The log's messages, without the date and time in front.
    std::vector<std::string> LogMessages() const { return ::LogMessages(LogPath()); }
    std::string LogPath() const { return Dir / "test.log"; }
    std::string Ini(const std::string& content)
    {
        const std::string path = Dir / "ferrix.ini";
        WriteTextFile(path, content);
        return path;
    }
    TempDir Dir;
};

// Every field away from its default.
void FillTransport(TTransportConfig& c)
{
    c.LogDetailed = true;
    c.TimeBetweenActions = -300;
    c.ExactTimeMode = true;
    c.ExactTime.SetText("12:30 08:30:15");
    for (int n = 0; n < TrackDirectoryCount; ++n)
        c.SetTrackDirectory(n, "/data/shop " + std::to_string(n));
    c.Connection = "dialup";
    c.DisconnDelay = 5;
    c.SetDestination(0, "ftp.example.com");
    c.SetDestination(1, "//server/share");
    c.DestinationDirectory = "/incoming";
    c.Username = "shop;42";
    c.Password = "p=ss[word]";
    c.Transport = TRANSPORT_FTP;
    c.Port = 2121;
    c.PassiveMode = true;
    c.ProxyType = 6;
    c.ProxyHost = "";
    c.ProxyPort = 3128;
    c.ProxyUser = "proxyuser";
    c.ProxyPassword = "proxypass";
}

void ExpectSameSettings(const TTransportConfig& a, const TTransportConfig& b)
{
    EXPECT_EQ(a.LogDetailed, b.LogDetailed);
    EXPECT_EQ(a.TimeBetweenActions, b.TimeBetweenActions);
    EXPECT_EQ(a.ExactTimeMode, b.ExactTimeMode);
    EXPECT_EQ(a.ExactTime.GetText(), b.ExactTime.GetText());
    EXPECT_EQ(a.TrackDirectories, b.TrackDirectories);
    EXPECT_EQ(a.Connection, b.Connection);
    EXPECT_EQ(a.DisconnDelay, b.DisconnDelay);
    EXPECT_EQ(a.Destinations, b.Destinations);
    EXPECT_EQ(a.DestinationDirectory, b.DestinationDirectory);
    EXPECT_EQ(a.Username, b.Username);
    EXPECT_EQ(a.Password, b.Password);
    EXPECT_EQ(a.Transport, b.Transport);
    EXPECT_EQ(a.Port, b.Port);
    EXPECT_EQ(a.PassiveMode, b.PassiveMode);
    EXPECT_EQ(a.ProxyType, b.ProxyType);
    EXPECT_EQ(a.ProxyHost, b.ProxyHost);
    EXPECT_EQ(a.ProxyPort, b.ProxyPort);
    EXPECT_EQ(a.ProxyUser, b.ProxyUser);
    EXPECT_EQ(a.ProxyPassword, b.ProxyPassword);
}

// The defaults that matter; every other field of a new object is empty, zero or false, which
// the saved file of a new object shows in full.
void ExpectTransportDefaults(const TTransportConfig& c)
{
    ExpectSameSettings(c, TTransportConfig());
    EXPECT_EQ(c.TimeBetweenActions, 60);
    EXPECT_EQ(c.ExactTime.GetText(), "18:00");
    EXPECT_EQ(c.TrackDirectories, decltype(c.TrackDirectories){});
    EXPECT_EQ(c.Transport, TRANSPORT_COPY);
    EXPECT_EQ(c.Port, 21);
    EXPECT_EQ(c.ProxyHost, "127.0.0.1");
    EXPECT_EQ(c.ProxyPort, 8021);
}

std::vector<std::string> NonBlankLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

TEST(TransportWords, ReadBackAsTheValueThatWroteThem)
{
    EXPECT_EQ(TransportToStr(0), "COPY");
    EXPECT_EQ(TransportToStr(1), "FTP");
    EXPECT_EQ(TransportToStr(2), "COPY");
    EXPECT_EQ(StrToTransport("ftp"), 1);
    EXPECT_EQ(StrToTransport("SFTP"), 0);
    EXPECT_EQ(StrToTransport(""), 0);

    for (uint8_t kind = 0; kind <= 6; ++kind)
        EXPECT_EQ(StrToProxyType(ProxyTypeToStr(kind)), kind);
    EXPECT_EQ(ProxyTypeToStr(4), "USER-PASS");
    EXPECT_EQ(ProxyTypeToStr(5), "USER-PASS-USER-PASS");
    EXPECT_EQ(ProxyTypeToStr(9), "None");
    EXPECT_EQ(StrToProxyType("user@site"), 1);
    EXPECT_EQ(StrToProxyType("httpftp"), 6);
    EXPECT_EQ(StrToProxyType("USER-PASS-"), 0);
    EXPECT_EQ(StrToProxyType(""), 0);
}

TEST_F(SettingsTest, MissingFileGivesEveryDefaultAndLogsNothing)
{
    TTransportConfig config;
    ExpectTransportDefaults(config);
    config.LoadFromFile(Dir / "ferrix.ini");
    ExpectTransportDefaults(config);
    EXPECT_FALSE(FileExists(Dir / "ferrix.ini"));
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(SettingsTest, ValuesThatAreNotIntegersTakeTheDefault)
{
    TTransportConfig config;
    config.LoadFromFile(Ini("[general]\nexacttime=  \nLogDetailed=true\nTimeBetweenActions=$3C\n"
                            "[TRANSPORT]\nTransport=ftp\nPassiveMode=2\nPort=0x15\nProxyPort=abc\n"
                            "ProxyType=user@site\nProxyHost=\n"));
    EXPECT_EQ(config.ExactTime.GetText(), "18:00");
    EXPECT_FALSE(config.LogDetailed);
    EXPECT_EQ(config.TimeBetweenActions, 60);
    EXPECT_EQ(config.Transport, TRANSPORT_FTP);
    EXPECT_TRUE(config.PassiveMode);
    EXPECT_EQ(config.Port, 21);
    EXPECT_EQ(config.ProxyPort, 8021);
    EXPECT_EQ(config.ProxyType, 1);
    EXPECT_EQ(config.ProxyHost, "") << "a present empty value is kept";

    config.LoadFromFile(Ini("[Transport]\nTransport=SFTP\nPassiveMode=true\nPort=\nProxyType=USER-PASS\n"));
    EXPECT_EQ(config.Transport, TRANSPORT_COPY);
    EXPECT_FALSE(config.PassiveMode);
    EXPECT_EQ(config.Port, 21);
    EXPECT_EQ(config.ProxyType, 4);
    EXPECT_EQ(config.ProxyHost, "127.0.0.1");
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(SettingsTest, RefusedCheckTimeEndsTheLoadAndIsLogged)
{
    TTransportConfig config;
    config.SetTrackDirectory(0, "/kept");
    config.Port = 99;
    const std::string path = Ini("[General]\nLogDetailed=1\nTimeBetweenActions=120\nExactTimeMode=1\n"
                                 "ExactTime=12:00 08:00 25:00 09:00\n"
                                 "[Directory0]\nTrackDirectory=/unread\n[Transport]\nPort=2121\n");
    config.LoadFromFile(path);
    EXPECT_EQ(LogMessages(), std::vector<std::string>{"Error reading data from " + path + " : Wrong time value \"25:00\""});
    EXPECT_TRUE(config.LogDetailed);
    EXPECT_EQ(config.TimeBetweenActions, 120);
    EXPECT_TRUE(config.ExactTimeMode);
    EXPECT_EQ(config.ExactTime.Times, (std::vector<int>{43200, 28800}));
    EXPECT_EQ(config.GetTrackDirectory(0), "/kept");
    EXPECT_EQ(config.Port, 99);

    config.LoadFromFile(Ini("[General]\nExactTime=25:00\n"));
    EXPECT_EQ(config.ExactTime.Count(), 0) << "no 18:00 stands in after a refusal";
}

TEST_F(SettingsTest, FactoryBuildsTheRealClassWithItsDefaults)
{
    // A settings class chosen at run time keeps its own defaults through a failed load, so a
    // save afterwards does not write port 0.
    const TBaseFtConfigClass configClass = ConfigClassOf<TTransportConfig>();
    std::unique_ptr<TBaseFtConfig> config = configClass();
    auto* transport = dynamic_cast<TTransportConfig*>(config.get());
    ASSERT_NE(transport, nullptr);
    ExpectTransportDefaults(*transport);
    config->LoadFromFile(Ini("[General]\nExactTime=bad\n"));
    config->SaveToFile(Dir / "saved.ini");
    TMemIniFile saved(Dir / "saved.ini");
    EXPECT_EQ(saved.ReadString("Transport", "Port", ""), "21");
    EXPECT_EQ(saved.ReadString("Transport", "ProxyPort", ""), "8021");
    EXPECT_EQ(saved.ReadString("Transport", "ProxyHost", ""), "127.0.0.1");
    EXPECT_EQ(LogMessages().size(), 1u);

    EXPECT_EQ(dynamic_cast<TTransportConfig*>(ConfigClassOf<TBaseFtConfig>()().get()), nullptr);
}

TEST_F(SettingsTest, OlderFtpHostFillsAnEmptyDestination0Only)
{
    TTransportConfig config;
    const std::string path = Ini("[FTP]\nHost=old.example.com\n[Transport]\nDestination1=\n");
    config.LoadFromFile(path);
    EXPECT_EQ(config.GetDestination(0), "old.example.com");
    EXPECT_EQ(config.GetDestination(1), "");
    config.SaveToFile(path);
    TMemIniFile saved(path);
    EXPECT_EQ(saved.ReadString("Transport", "Destination0", ""), "old.example.com");
    EXPECT_EQ(saved.ReadString("FTP", "Host", ""), "old.example.com");
    EXPECT_EQ(ReadTextFile(path).substr(0, 27), "[FTP]\nHost=old.example.com\n");

    config.LoadFromFile(Ini("[FTP]\nHost=old.example.com\n[Transport]\nDestination0=new.example.com\n"));
    EXPECT_EQ(config.GetDestination(0), "new.example.com");
    config.LoadFromFile(Ini("[FTP]\nHost=old.example.com\n[Transport]\nDestination0=\n"));
    EXPECT_EQ(config.GetDestination(0), "old.example.com");
}

TEST_F(SettingsTest, NewObjectSavesEveryKeyInOrder)
{
    TTransportConfig config;
    config.SaveToFile(Dir / "ferrix.ini");
    std::vector<std::string> expected = {"[General]", "LogDetailed=0", "TimeBetweenActions=60", "ExactTimeMode=0",
                                         "ExactTime=18:00"};
    for (int n = 0; n < TrackDirectoryCount; ++n) {
        expected.push_back("[Directory" + std::to_string(n) + "]");
        expected.push_back("TrackDirectory=");
    }
    for (const char* line : {"[Transport]", "Connection=", "DisconnDelay=0", "Destination0=", "Destination1=",
                             "DestinationDirectory=", "Username=", "Password=", "Transport=COPY", "Port=21",
                             "PassiveMode=0", "ProxyType=None", "ProxyHost=127.0.0.1", "ProxyPort=8021",
                             "ProxyUser=", "ProxyPassword="})
        expected.push_back(line);
    EXPECT_EQ(NonBlankLines(ReadTextFile(Dir / "ferrix.ini")), expected);

    // Out-of-range kinds are saved as their default words.
    config.Transport = 2;
    config.ProxyType = 9;
    config.SaveToFile(Dir / "ferrix.ini");
    TTransportConfig back;
    back.LoadFromFile(Dir / "ferrix.ini");
    EXPECT_EQ(TMemIniFile(Dir / "ferrix.ini").ReadString("Transport", "Transport", ""), "COPY");
    EXPECT_EQ(TMemIniFile(Dir / "ferrix.ini").ReadString("Transport", "ProxyType", ""), "None");
    EXPECT_EQ(back.ProxyType, 0);
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(SettingsTest, SaveAndLoadReturnEveryField)
{
    TTransportConfig config;
    FillTransport(config);
    config.SaveToFile(Dir / "ferrix.ini");
    TTransportConfig back;
    back.LoadFromFile(Dir / "ferrix.ini");
    EXPECT_EQ(back.ExactTime.GetText(), "08:30 12:30");
    EXPECT_EQ(back.ExactTime.Times, (std::vector<int>{30600, 45000})) << "seconds are not saved";
    ExpectSameSettings(back, config);
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(SettingsTest, SaveKeepsEveryOtherLineByteForByte)
{
    const std::string before =
        "; written by hand\r\n"
        "[general]\r\n"
        "logdetailed = 1   ; inline text is part of the value\r\n"
        "Comment=keep me\r\n"
        "TimeBetweenActions=60\r\n"
        "ExactTimeMode=0\r\n"
        "ExactTime=18:00\r\n"
        "\r\n"
        "[Custom]\r\n"
        "anything=goes\r\n"
        "# another comment\r\n"
        "\r\n"
        "[FTP]\r\n"
        "Host=old\r\n";
    const std::string path = Ini(before);
    TTransportConfig config;
    config.LoadFromFile(path);
    EXPECT_FALSE(config.LogDetailed);
    config.LogDetailed = true;
    config.SaveToFile(path);
    const std::string after = ReadTextFile(path);
    std::string expectedStart = before;
    expectedStart.replace(expectedStart.find("logdetailed = 1   ; inline text is part of the value"),
                          std::string("logdetailed = 1   ; inline text is part of the value").size(), "LogDetailed=1");
    ASSERT_GE(after.size(), expectedStart.size());
    EXPECT_EQ(after.substr(0, expectedStart.size()), expectedStart);
    EXPECT_EQ(after.substr(expectedStart.size(), 31), "\r\n[Directory0]\r\nTrackDirectory=");
    EXPECT_EQ(after.find('\n', 0) - 1, after.find('\r'));
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), std::count(after.begin(), after.end(), '\r'));
}

TEST_F(SettingsTest, RefusedWriteIsLoggedAndTheFileStaysWhole)
{
    const std::string before = "[General]\nLogDetailed=0\n; mine\n";
    const std::string path = Ini(before);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    TTransportConfig config;
    config.LogDetailed = true;
    config.SaveToFile(path);
    EXPECT_EQ(LogMessages(),
              std::vector<std::string>{"Error writing data to " + path + " : Unable to write to " + path});
    EXPECT_EQ(ReadTextFile(path), before);
}

TEST_F(SettingsTest, UnwritableDirectoryIsLogged)
{
    ASSERT_TRUE(ForceDirectories(Dir / "locked"));
    const std::string path = Dir / "locked/ferrix.ini";
    WriteTextFile(path, "[General]\n");
    ASSERT_EQ(::chmod((Dir / "locked").c_str(), 0555), 0);
    TTransportConfig config;
    if (::geteuid() != 0) {
        config.SaveToFile(path);
    } else {
        // Directory modes do not stop root: the save runs as nobody, who may write the file itself.
        ASSERT_EQ(::chmod(Dir.Path().c_str(), 0777), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
        ASSERT_EQ(RunAsUnprivileged([&] { return config.SaveToFile(path), 0; }), 0);
    }
    EXPECT_EQ(LogMessages(),
              std::vector<std::string>{"Error writing data to " + path + " : Unable to write to " + path});
    EXPECT_EQ(ReadTextFile(path), "[General]\n");
}

struct stat StatOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// A save by root of a file that belongs to the service's user leaves it that user's file.
TEST_F(SettingsTest, SaveByRootKeepsTheFilesOwnerGroupAndMode)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file away needs root";
    const std::string path = Ini("[General]\nLogDetailed=0\n");
    ASSERT_EQ(::chown(path.c_str(), 12345, 23456), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    TTransportConfig config;
    config.LogDetailed = true;
    config.SaveToFile(path);
    {
        TIniFile ini(path);  // every key written on its own
        ini.WriteString("General", "Extra", "1");
    }
    const struct stat st = StatOf(path);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 23456u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    TTransportConfig loaded;
    loaded.LoadFromFile(path);
    EXPECT_TRUE(loaded.LogDetailed);
    EXPECT_TRUE(LogMessages().empty());
}

// Saves as nobody in a directory everyone may write, so that the rename would be allowed.
class UnprivilegedSettingsTest : public SettingsTest {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to run a step as another user";
        SettingsTest::SetUp();
        ASSERT_EQ(::chmod(Dir.Path().c_str(), 0777), 0);
    }
    // Saves as nobody, first the whole object, then one key; the messages logged.
    std::vector<std::string> SaveAsNobody(const std::string& path)
    {
        const int result = RunAsUnprivileged([&] {
            TTransportConfig config;
            config.LogDetailed = true;
            config.SaveToFile(path);
            try {
                TIniFile(path).WriteString("General", "LogDetailed", "1");
            } catch (const EIniFileException& e) {
                WriteLog(3, e.Message());
            }
            return 0;
        });
        EXPECT_EQ(result, 0);
        return LogMessages();
    }
    const std::string Before = "[General]\nLogDetailed=0\n; the administrator's note\n[Other]\nKept=1\n";
};

TEST_F(UnprivilegedSettingsTest, AFileTheUserMayNotWriteIsRefusedAndLeftAsItWas)
{
    const std::string path = Ini(Before);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    EXPECT_EQ(SaveAsNobody(path), (std::vector<std::string>{"Error writing data to " + path +
                                                                " : Unable to write to " + path,
                                                            "Unable to write to " + path}));
    EXPECT_EQ(ReadTextFile(path), Before);
    EXPECT_EQ(StatOf(path).st_uid, 0u);
}

// A file that cannot be read would be replaced by one holding only the program's keys.
TEST_F(UnprivilegedSettingsTest, AFileTheUserMayNotReadIsLeftWhole)
{
    const std::string path = Ini(Before);
    for (const mode_t mode : {mode_t(0000), mode_t(0222)}) {
        ASSERT_EQ(::chown(path.c_str(), UnprivilegedUid(), UnprivilegedGid()), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        ::unlink(LogPath().c_str());
        EXPECT_EQ(SaveAsNobody(path), (std::vector<std::string>{"Error writing data to " + path +
                                                                    " : Unable to write to " + path,
                                                                "Unable to write to " + path}))
            << std::oct << mode;
        EXPECT_EQ(ReadTextFile(path), Before) << std::oct << mode;
        EXPECT_EQ(StatOf(path).st_mode & 07777, mode);
    }
}

TEST_F(SettingsTest, ADirectoryInPlaceOfTheFileIsRefused)
{
    const std::string path = Dir / "ferrix.ini";
    ASSERT_TRUE(ForceDirectories(path));
    WriteTextFile(path + "/inside", "x");
    TTransportConfig config;
    config.SaveToFile(path);
    EXPECT_EQ(LogMessages(),
              std::vector<std::string>{"Error writing data to " + path + " : Unable to write to " + path});
    EXPECT_TRUE(DirectoryExists(path));
    EXPECT_EQ(ReadTextFile(path + "/inside"), "x");
}

TEST_F(SettingsTest, HostileFilesLoadWithoutHarm)
{
    // 10 MB of sections, then the real keys with NUL bytes and a megabyte value.
    std::string big;
    while (big.size() < 10 * 1024 * 1024)
        big += "[Directory" + std::to_string(big.size() % 97) + "]\nTrackDirectory=/junk\n";
    big += "[Transport]\nPassword=" + std::string(1024 * 1024, 'p') + "\n";
    big += "Username=" + std::string("a\0b", 3) + "\n";
    TTransportConfig config;
    config.LoadFromFile(Ini(big + std::string("[General]\nExactTime=08:00\0 09:00\n", 33)));
    const std::string refused = "Error reading data from " + (Dir / "ferrix.ini") + " : Wrong time value \"08:00";
    ASSERT_EQ(LogMessages().size(), 1u);
    EXPECT_EQ(LogMessages()[0].substr(0, refused.size()), refused);

    config.LoadFromFile(Ini(big + "[General]\nExactTime=08:00  09:00\n"));
    EXPECT_EQ(config.ExactTime.GetText(), "08:00 09:00");
    EXPECT_EQ(config.GetTrackDirectory(0), "/junk");
    EXPECT_TRUE(config.Password == std::string(1024 * 1024, 'p'));
    EXPECT_EQ(config.Username, std::string("a\0b", 3));
    EXPECT_EQ(LogMessages().size(), 1u);
}

TEST(SettingsAssign, CopiesBetweenCompatibleObjectsOnly)
{
    TTransportConfig source;
    FillTransport(source);

    TTransportConfig target;
    target.Assign(&source);
    ExpectSameSettings(target, source);
    EXPECT_EQ(target.ExactTime.GetText(), "08:30 12:30");
    EXPECT_EQ(target.ExactTime.Times, (std::vector<int>{30600, 45000})) << "copied by text";

    TTransportConfig mirror;
    source.AssignTo(&mirror);
    ExpectSameSettings(mirror, source);

    // A plain object takes the base settings of a transport object.
    TBaseFtConfig base;
    base.Assign(&source);
    EXPECT_TRUE(base.LogDetailed);
    EXPECT_EQ(base.TrackDirectories, source.TrackDirectories);
    TBaseFtConfig base2;
    source.TBaseFtConfig::AssignTo(&base2);
    EXPECT_EQ(base2.TimeBetweenActions, -300);

    const auto expectRefused = [](const std::function<void()>& call) {
        try {
            call();
            ADD_FAILURE() << "accepted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Attemp to assign wront object to TBaseFtConfig.");
        }
    };
    TTransportConfig untouched;
    expectRefused([&] { untouched.Assign(&base); });
    expectRefused([&] { untouched.Assign(nullptr); });
    expectRefused([&] { base.AssignTo(&untouched); });
    expectRefused([&] { source.AssignTo(&base); });
    expectRefused([&] { base.Assign(nullptr); });
    expectRefused([&] { base.AssignTo(nullptr); });
    ExpectTransportDefaults(untouched);
}
