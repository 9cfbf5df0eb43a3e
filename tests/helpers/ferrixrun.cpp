#include "ferrixrun.h"

#include "ftpserver.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

Ferrix2Run::Ferrix2Run(const std::string& program)
{
    fs::create_directories(ProgramDir());
    fs::create_directories(Dir / "pipes");
    fs::copy_file(program, ProgramDir() + "/ferrix2");
}

Ferrix2Run::~Ferrix2Run()
{
    if (Child.Pid > 0)
        KillChild(Child);
}

void Ferrix2Run::WriteIni(const std::string& text)
{
    WriteTextFile(ProgramDir() + "/ferrix.ini", text);
}

void Ferrix2Run::Start()
{
    if (Child.Pid > 0)
        throw std::runtime_error("ferrix2 is already running");
    const std::string program = ProgramDir() + "/ferrix2";
    const std::string pipeDir = "NAMEDPIPE_DIR=" + Dir / "pipes";
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("NAMEDPIPE_DIR=", 0) != 0)
            env.push_back(*e);
    env.push_back(const_cast<char*>(pipeDir.c_str()));
    env.push_back(nullptr);
    Child = SpawnChild({program}, env.data());
}

void Ferrix2Run::Signal(int signal)
{
    if (Child.Pid > 0)
        ::kill(Child.Pid, signal);
}

bool Ferrix2Run::SignalTaken(int signal) const
{
    if (Child.Pid <= 0)
        return true;
    std::istringstream status(ReadTextFile("/proc/" + std::to_string(Child.Pid) + "/status"));
    const unsigned long long bit = 1ull << (signal - 1);
    std::string line;
    while (std::getline(status, line))
        if ((line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) &&
            (std::stoull(line.substr(7), nullptr, 16) & bit) != 0)
            return false;
    return true;
}

int Ferrix2Run::Stop(std::chrono::milliseconds deadline)
{
    Signal(SIGTERM);
    const int status = WaitForExit(deadline);
    if (status < 0 && Child.Pid > 0) {
        KillChild(Child);
        Child.Pid = -1;
    }
    return status;
}

int Ferrix2Run::WaitForExit(std::chrono::milliseconds deadline)
{
    if (Child.Pid <= 0)
        return -1;
    if (!TryWaitForExit(Child, deadline))
        return -1;
    Child.Pid = -1;
    return WIFEXITED(Child.Status) ? WEXITSTATUS(Child.Status) : 128 + WTERMSIG(Child.Status);
}

std::string Ferrix2Run::Log() const
{
    return ReadTextFile(LogPath());
}

std::vector<std::string> Ferrix2Run::LogLines(const std::string& text) const
{
    std::vector<std::string> lines;
    for (std::string& message : LogMessages(LogPath()))
        if (message.find(text) != std::string::npos)
            lines.push_back(std::move(message));
    return lines;
}

bool Ferrix2Run::WaitForLog(const std::string& text, int count, std::chrono::milliseconds deadline) const
{
    return WaitFor([&] { return CountLog(text) >= count; }, deadline);
}

std::vector<std::string> StatusFileNames(const std::string& path)
{
    std::vector<std::string> names;
    std::istringstream text(ReadTextFile(path));
    std::string line;
    while (std::getline(text, line))
        if (!line.empty() && line[0] != '#')
            names.push_back(line.substr(0, line.find('\t')));
    return names;
}

std::vector<std::string> FilesUnder(const std::string& root)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file())
            files.push_back(fs::relative(it->path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string Ferrix2Ini(const Ferrix2Settings& settings)
{
    std::ostringstream ini;
    ini << "[General]\n"
        << "LogDetailed=" << (settings.LogDetailed ? 1 : 0) << "\n"
        << "TimeBetweenActions=" << settings.TimeBetweenActions << "\n"
        << "ExactTimeMode=0\n\n"
        << "[Directory0]\n"
        << "TrackDirectory=" << settings.TrackDirectory << "\n\n"
        << "[Transport]\n"
        << "Transport=" << settings.Transport << "\n"
        << "Destination0=" << settings.Destination0 << "\n";
    if (!settings.Destination1.empty())
        ini << "Destination1=" << settings.Destination1 << "\n";
    ini << "DestinationDirectory=" << settings.DestinationDirectory << "\n";
    if (settings.Port != 0)
        ini << "Port=" << settings.Port << "\n";
    ini << "PassiveMode=" << (settings.PassiveMode ? 1 : 0) << "\n";
    if (!settings.Username.empty())
        ini << "Username=" << settings.Username << "\n";
    if (!settings.Password.empty())
        ini << "Password=" << settings.Password << "\n";
    return ini.str();
}

Ferrix2Settings Ferrix2FtpSettings(const std::string& shop, const FtpServer& server, bool passive)
{
    Ferrix2Settings settings;
    settings.TrackDirectory = shop;
    settings.Transport = "FTP";
    settings.Destination0 = server.Host();
    settings.Port = server.Port();
    settings.PassiveMode = passive;
    settings.Username = server.User();
    settings.Password = server.Password();
    return settings;
}

void MakeDemoShop(const std::string& shopDir)
{
    for (const char* sub : {"comptage", "caisse", "filters", "messages", "footfall", "other"})
        fs::create_directories(shopDir + "/" + sub);
    const char* files[] = {
        "shopinfo.arg", "t1208.arg", "notes.txt",
        "comptage/R1208.COR", "comptage/r1207.scb", "comptage/x.txt",
        "caisse/c1208.txt", "filters/f1.fif", "messages/m1.msg", "footfall/ff1208.txt",
        "other/o1.arg",
    };
    for (const char* file : files)
        WriteTextFile(shopDir + "/" + file, std::string("content of ") + file + "\r\n");
}

std::vector<std::string> DemoShopLanded()
{
    return {"central/Shop12/t1208.arg",     "central/caisse/c1208.txt",   "central/comptage/r1207.scb",
            "central/comptage/r1208.scb",   "central/filters/f1.fif",     "central/footfall/ff1208.txt",
            "central/messages/m1.msg",      "central/shopinfo.arg"};
}

std::vector<std::string> DemoShopSources()
{
    return {"t1208.arg",      "caisse/c1208.txt", "comptage/r1207.scb",  "comptage/r1208.scb",
            "filters/f1.fif", "footfall/ff1208.txt", "messages/m1.msg", "shopinfo.arg"};
}
