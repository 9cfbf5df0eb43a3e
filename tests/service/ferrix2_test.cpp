// The main road end to end: the built ferrix2 program, run from a directory of its own, sends a shop
// directory to one or two destinations by file copy and by FTP (passive and active) to real
// FTP servers on loopback, and a later pass sends only what changed.
#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ferrixrun.h"
#include "ftpserver.h"

namespace fs = std::filesystem;

namespace {

// The lines that name a file handed over, in the order of the log.
std::vector<std::string> TransmittedFiles(const Ferrix2Run& run, const std::string& shop)
{
    std::vector<std::string> files;
    for (const std::string& line : run.LogLines("transmitting file ")) {
        std::string path = line.substr(std::string("transmitting file ").size());
        files.push_back(path.rfind(shop + "/", 0) == 0 ? path.substr(shop.size() + 1) : path);
    }
    return files;
}

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// The demo shop in the order of one pass: its own "arg" files, then each data sub-directory in
// turn, each directory's files last name first.
const std::vector<std::string> FirstPassOrder = {
    "t1208.arg",      "shopinfo.arg",   "comptage/r1208.scb", "comptage/r1207.scb",
    "caisse/c1208.txt", "filters/f1.fif", "messages/m1.msg",   "footfall/ff1208.txt",
};

// Every landed file is a whole copy of its shop file.
void ExpectLandedCopies(const std::string& shop, const std::string& destination)
{
    EXPECT_EQ(FilesUnder(destination), DemoShopLanded()) << destination;
    const std::vector<std::string> landed = DemoShopLanded();
    const std::vector<std::string> sources = DemoShopSources();
    for (size_t i = 0; i < landed.size(); ++i)
        EXPECT_EQ(ReadTextFile(destination + "/" + landed[i]), ReadTextFile(shop + "/" + sources[i])) << landed[i];
}

// Every processed directory of the demo shop lists its sent files in the status file.
void ExpectStatusFiles(const std::string& shop, const std::string& statusFile)
{
    EXPECT_EQ(Sorted(StatusFileNames(shop + "/" + statusFile)), (std::vector<std::string>{"shopinfo.arg", "t1208.arg"}));
    EXPECT_EQ(Sorted(StatusFileNames(shop + "/comptage/" + statusFile)),
              (std::vector<std::string>{"r1207.scb", "r1208.scb"}));
    EXPECT_EQ(StatusFileNames(shop + "/caisse/" + statusFile), std::vector<std::string>{"c1208.txt"});
    EXPECT_EQ(StatusFileNames(shop + "/filters/" + statusFile), std::vector<std::string>{"f1.fif"});
    EXPECT_EQ(StatusFileNames(shop + "/messages/" + statusFile), std::vector<std::string>{"m1.msg"});
    EXPECT_EQ(StatusFileNames(shop + "/footfall/" + statusFile), std::vector<std::string>{"ff1208.txt"});
    EXPECT_FALSE(fs::exists(shop + "/other/" + statusFile));
}

// Changes for the second pass: a file grows, a new message arrives and a new counting file.
void ChangeDemoShop(const std::string& shop)
{
    WriteTextFile(shop + "/comptage/r1207.scb", "content of comptage/r1207.scb, grown\r\n");
    WriteTextFile(shop + "/messages/m2.msg", "second message\r\n");
    WriteTextFile(shop + "/comptage/R1209.COR", "counting 1209\r\n");
}

const std::vector<std::string> SecondPassOrder = {"comptage/r1209.scb", "comptage/r1207.scb", "messages/m2.msg"};

void ExpectSecondPassLanded(const std::string& shop, const std::string& destination)
{
    EXPECT_EQ(ReadTextFile(destination + "/central/comptage/r1207.scb"), ReadTextFile(shop + "/comptage/r1207.scb"));
    EXPECT_EQ(ReadTextFile(destination + "/central/comptage/r1209.scb"), "counting 1209\r\n");
    EXPECT_EQ(ReadTextFile(destination + "/central/messages/m2.msg"), "second message\r\n");
    EXPECT_EQ(FilesUnder(destination).size(), DemoShopLanded().size() + 2);
}

int CountCommands(const FtpServer& server, std::initializer_list<std::string> verbs)
{
    int count = 0;
    for (const std::string& command : server.Commands())
        for (const std::string& verb : verbs)
            if (command == verb || command.rfind(verb + " ", 0) == 0)
                ++count;
    return count;
}

std::vector<std::string> FileNames(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const std::string& path : paths)
        names.push_back(fs::path(path).filename().string());
    return names;
}

}  // namespace

TEST(Ferrix2Copy, OneDestinationGetsEachFileInItsPlaceAndLaterOnlyWhatChanged)
{
    Ferrix2Run run(FERRIX2_PROGRAM);
    const std::string shop = run.Path("data/Shop12");
    MakeDemoShop(shop);
    const std::string destination = run.Path("dest0");
    run.WriteIni(Ferrix2Ini({.TrackDirectory = shop, .Destination0 = destination}));
    run.Start();

    ASSERT_TRUE(run.WaitForLog("processed 8 files OK, 0 files bad, elapsed ")) << run.Log();
    EXPECT_EQ(run.LogLines("Copy changed files from the data directory to "),
              std::vector<std::string>{"Copy changed files from the data directory to " + destination + "/central"});
    EXPECT_EQ(TransmittedFiles(run, shop), FirstPassOrder);
    ExpectLandedCopies(shop, destination);
    ExpectStatusFiles(shop, "tr2list0.dst");
    EXPECT_FALSE(fs::exists(shop + "/comptage/R1208.COR"));
    EXPECT_FALSE(fs::exists(shop + "/tr2list1.dst"));

    ChangeDemoShop(shop);
    ASSERT_TRUE(run.WaitForLog("processed 3 files OK, 0 files bad, elapsed ")) << run.Log();
    std::vector<std::string> transmitted = TransmittedFiles(run, shop);
    transmitted.erase(transmitted.begin(), transmitted.begin() + static_cast<long>(FirstPassOrder.size()));
    EXPECT_EQ(transmitted, SecondPassOrder);
    ExpectSecondPassLanded(shop, destination);
    EXPECT_EQ(Sorted(StatusFileNames(shop + "/comptage/tr2list0.dst")),
              (std::vector<std::string>{"r1207.scb", "r1208.scb", "r1209.scb"}));

    EXPECT_EQ(run.Stop(), 0);
    EXPECT_EQ(run.CountLog("TransportSvc2 service started"), 1);
    EXPECT_EQ(run.CountLog("TransportSvc2 service stopped"), 1);
    EXPECT_EQ(run.CountLog("Failed to copy"), 0) << run.Log();
}

TEST(Ferrix2Copy, TwoDestinationsEachGetEveryFileAndTheirOwnStatusFile)
{
    Ferrix2Run run(FERRIX2_PROGRAM);
    const std::string shop = run.Path("data/Shop12");
    MakeDemoShop(shop);
    Ferrix2Settings settings;
    settings.TrackDirectory = shop;
    settings.Destination0 = run.Path("dest0");
    settings.Destination1 = run.Path("dest1");
    run.WriteIni(Ferrix2Ini(settings));
    run.Start();

    ASSERT_TRUE(run.WaitForLog("processed 16 files OK, 0 files bad, elapsed ")) << run.Log();
    EXPECT_EQ(run.LogLines("Copy changed files from the data directory to "),
              std::vector<std::string>{"Copy changed files from the data directory to " + settings.Destination0 +
                                       "/central, also to " + settings.Destination1 + "/central"});
    ExpectLandedCopies(shop, settings.Destination0);
    ExpectLandedCopies(shop, settings.Destination1);
    ExpectStatusFiles(shop, "tr2list0.dst");
    ExpectStatusFiles(shop, "tr2list1.dst");

    EXPECT_EQ(run.Stop(), 0);
}

class Ferrix2Ftp : public ::testing::TestWithParam<bool> {};

TEST_P(Ferrix2Ftp, OneDestinationGetsEachFileInItsPlaceAndLaterOnlyWhatChanged)
{
    const bool passive = GetParam();
    FtpServer server;
    Ferrix2Run run(FERRIX2_PROGRAM);
    const std::string shop = run.Path("data/Shop12");
    MakeDemoShop(shop);
    const Ferrix2Settings settings = Ferrix2FtpSettings(shop, server, passive);
    run.WriteIni(Ferrix2Ini(settings));
    run.Start();

    ASSERT_TRUE(run.WaitForLog("processed 8 files OK, 0 files bad, elapsed ")) << run.Log() << server.Log();
    EXPECT_EQ(run.LogLines("Copy changed files from the data directory to "),
              std::vector<std::string>{"Copy changed files from the data directory to 127.0.0.1/central"});
    EXPECT_EQ(TransmittedFiles(run, shop), FirstPassOrder);
    ExpectLandedCopies(shop, server.Home());
    ExpectStatusFiles(shop, "tr2list0.dst");
    // Each remote directory is made once, level by level, and each file stored once.
    EXPECT_EQ(server.Arguments("MKD"), (std::vector<std::string>{"/central", "/central/Shop12", "/central/comptage",
                                                      "/central/caisse", "/central/filters", "/central/messages",
                                                      "/central/footfall"}));
    EXPECT_EQ(server.Arguments("STOR"), FileNames(FirstPassOrder));
    // Every data connection in the mode asked for.
    EXPECT_EQ(CountCommands(server, {"PASV", "EPSV"}), passive ? 8 : 0);
    EXPECT_EQ(CountCommands(server, {"PORT", "EPRT"}), passive ? 0 : 8);

    // The connection line names the account but never its password.
    const std::string connecting =
        "Connecting to 127.0.0.1:" + std::to_string(server.Port()) + " as \"ferrix\" password \"****\"";
    EXPECT_GE(run.CountLog(connecting), 1) << run.Log();
    EXPECT_EQ(run.Log().find(server.Password()), std::string::npos);

    server.ClearCommands();
    ChangeDemoShop(shop);
    ASSERT_TRUE(run.WaitForLog("processed 3 files OK, 0 files bad, elapsed ")) << run.Log();
    EXPECT_EQ(server.Arguments("STOR"), FileNames(SecondPassOrder));
    EXPECT_TRUE(server.Arguments("MKD").empty());
    // One CWD per remote directory, none per file.
    EXPECT_EQ(server.Arguments("CWD"), (std::vector<std::string>{"/central/comptage", "/central/messages"}));
    ExpectSecondPassLanded(shop, server.Home());
    EXPECT_EQ(run.Stop(), 0);
    EXPECT_EQ(run.CountLog("Failed to copy"), 0) << run.Log();
}

INSTANTIATE_TEST_SUITE_P(Modes, Ferrix2Ftp, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Passive" : "Active"; });

TEST(Ferrix2FtpTwoDestinations, EachServerGetsEveryFile)
{
    for (const bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        FtpServer first;
        FtpServer second({{"ferrix", "secret"}}, "127.0.0.2", first.Port());
        Ferrix2Run run(FERRIX2_PROGRAM);
        const std::string shop = run.Path("data/Shop12");
        MakeDemoShop(shop);
        Ferrix2Settings settings = Ferrix2FtpSettings(shop, first, passive);
        settings.Destination1 = second.Host();
        run.WriteIni(Ferrix2Ini(settings));
        run.Start();

        ASSERT_TRUE(run.WaitForLog("processed 16 files OK, 0 files bad, elapsed ")) << run.Log();
        EXPECT_EQ(run.LogLines("Copy changed files from the data directory to "),
                  std::vector<std::string>{
                      "Copy changed files from the data directory to 127.0.0.1/central, also to 127.0.0.2/central"});
        ExpectLandedCopies(shop, first.Home());
        ExpectLandedCopies(shop, second.Home());
        EXPECT_EQ(first.Arguments("STOR"), FileNames(FirstPassOrder));
        EXPECT_EQ(second.Arguments("STOR"), FileNames(FirstPassOrder));
        ExpectStatusFiles(shop, "tr2list0.dst");
        ExpectStatusFiles(shop, "tr2list1.dst");
        const std::string port = std::to_string(first.Port());
        EXPECT_GE(run.CountLog("Connecting to 127.0.0.1:" + port + " as \"ferrix\" password \"****\""), 1);
        EXPECT_GE(run.CountLog("Connecting to 127.0.0.2:" + port + " as \"ferrix\" password \"****\""), 1);
        EXPECT_EQ(run.Stop(), 0);
        EXPECT_EQ(run.Log().find("secret"), std::string::npos);
    }
}
