// The built service program ferrix2 run by the end-to-end tests: copied into a TempDir of its own
// (program/), with its ferrix.ini beside it and its pipes in pipes/, started in the foreground and
// stopped with SIGTERM.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

#include "childproc.h"
#include "testkit.h"

class Ferrix2Run {
public:
    explicit Ferrix2Run(const std::string& program);
    ~Ferrix2Run();  // kills a program still running
    Ferrix2Run(const Ferrix2Run&) = delete;
    Ferrix2Run& operator=(const Ferrix2Run&) = delete;

    // Dir / relative: the test's own files (shop data, destinations) live beside the program.
    std::string Path(const std::string& relative) const { return Dir / relative; }
    std::string ProgramDir() const { return Dir / "program"; }
    std::string LogPath() const { return ProgramDir() + "/ferrix.log"; }

    void WriteIni(const std::string& text);
    void Start();
    pid_t Pid() const { return Child.Pid; }

    // Sends the signal to the running program.
    void Signal(int signal);
    // True once the program has taken the signal from its queue (or has ended).
    bool SignalTaken(int signal) const;
    // SIGTERM, then waits for the end; the exit status, or -1 when it had to be killed.
    int Stop(std::chrono::milliseconds deadline = std::chrono::seconds(30));
    // Waits for the end; the exit status, or -1 when it did not end in time (it keeps running).
    int WaitForExit(std::chrono::milliseconds deadline);

    std::string Log() const;
    // Log lines (the message part, after the time stamp) that contain text.
    std::vector<std::string> LogLines(const std::string& text) const;
    int CountLog(const std::string& text) const { return static_cast<int>(LogLines(text).size()); }
    bool WaitForLog(const std::string& text, int count = 1,
                    std::chrono::milliseconds deadline = std::chrono::seconds(60)) const;

private:
    TempDir Dir;
    TChild Child;
};

// The file names a directory status file lists, in file order; empty when the file is missing.
std::vector<std::string> StatusFileNames(const std::string& path);
// The regular files under root, as sorted paths relative to it ("central/caisse/c1.txt").
std::vector<std::string> FilesUnder(const std::string& root);

// Settings of one test run, written as ferrix.ini; keys left empty are left out.
struct Ferrix2Settings {
    std::string TrackDirectory{};
    std::string Transport = "COPY";
    std::string Destination0{};
    std::string Destination1{};
    std::string DestinationDirectory = "central";
    int Port = 0;  // 0: the default
    bool PassiveMode = false;
    std::string Username{};
    std::string Password{};
    int TimeBetweenActions = 2;
    bool LogDetailed = true;
};
std::string Ferrix2Ini(const Ferrix2Settings& settings);
class FtpServer;
// Settings that track shop and send by FTP to the server, with its first account.
Ferrix2Settings Ferrix2FtpSettings(const std::string& shop, const FtpServer& server, bool passive);

// A shop directory with a file in each place the service reads (a "cor" counting file among them)
// and a few files it must leave alone.
void MakeDemoShop(const std::string& shopDir);
// Where the demo shop's files land, relative to the destination, for the destination directory
// "central" and a shop directory named Shop12.
std::vector<std::string> DemoShopLanded();
// The shop file (relative to the shop directory, after the "cor" rename) that each landed file
// comes from, in the order of DemoShopLanded.
std::vector<std::string> DemoShopSources();
