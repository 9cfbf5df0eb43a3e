#include "ferrixunit.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "childproc.h"
#include "platform/remote/relayclient.h"

namespace fs = std::filesystem;

TFerrix2Unit::TFerrix2Unit(const std::string& program)
{
    Run = std::make_unique<Ferrix2Run>(program);
    ::chmod(Run->Path("").c_str(), 0755);
    ::chmod(Run->Path("pipes").c_str(), 0755);
    Manager = std::make_unique<TUserManager>(Run->Path("pipes"));
    Shop = Run->Path("data/Shop12");
    MakeDemoShop(Shop);
    Ferrix2Settings settings;
    settings.TrackDirectory = Shop;
    settings.Destination0 = Run->Path("dest0");
    Run->WriteIni(Ferrix2Ini(settings));
}

TFerrix2Unit::~TFerrix2Unit()
{
    Manager.reset();  // ends the units too
    Run.reset();
}

int TFerrix2Unit::Ferrix2(const std::vector<std::string>& args, std::string& output) const
{
    std::vector<std::string> command{Program()};
    command.insert(command.end(), args.begin(), args.end());
    return RunCaptured(command, output, std::chrono::seconds(120));
}

void TFerrix2Unit::Install() const
{
    std::string output;
    if (Ferrix2({"/INSTALL"}, output) != 0)
        throw std::runtime_error("ferrix2 /INSTALL failed: " + output);
}

void TFerrix2Unit::InstallWithAccount(const std::string& user, const std::string& password) const
{
    Ferrix2Settings settings;
    settings.TrackDirectory = Shop;
    settings.Destination0 = Run->Path("dest0");
    settings.Username = user;
    settings.Password = password;
    Run->WriteIni(Ferrix2Ini(settings));
    Install();
    PipesInRuntimeDirectory();
}

void TFerrix2Unit::Systemctl(const std::string& action) const
{
    std::string output;
    if (Manager->Systemctl({action, Unit}, output) != 0)
        throw std::runtime_error("systemctl " + action + " failed: " + output + Manager->Log());
}

pid_t TFerrix2Unit::MainPid() const
{
    const std::string pid = Property("MainPID");
    return pid.empty() ? 0 : static_cast<pid_t>(std::stol(pid));
}

void TFerrix2Unit::GivePipeDirectoryTo(uid_t uid, gid_t gid) const
{
    ::chown(Run->Path("pipes").c_str(), uid, gid);
}

void TFerrix2Unit::PipesInRuntimeDirectory() const
{
    const std::string dir = Manager->ConfigDir() + "/systemd/user/" + Unit + ".d";
    fs::create_directories(dir);
    const std::string pipes = Manager->RuntimeDir() + "/namedpipe";
    WriteTextFile(dir + "/pipes.conf", "[Service]\nEnvironment=NAMEDPIPE_DIR=" + pipes +
                                           "\nRuntimeDirectory=namedpipe\nRuntimeDirectoryMode=0755\n"
                                           "RuntimeDirectoryPreserve=yes\n");
    std::string output;
    if (Manager->Systemctl({"daemon-reload"}, output) != 0)
        throw std::runtime_error("daemon-reload failed: " + output);
    ::setenv("NAMEDPIPE_DIR", pipes.c_str(), 1);  // the manager's end restores the variable
}

TRemotePc::TRemotePc(const TUserManager& manager, const std::string& relayProgram, const std::string& alias)
{
    Ssh = std::make_unique<TSshServer>(manager.ClientEnvironment());
    Ssh->Authorize("root");
    Ssh->AddHost(alias, "root");
    ::setenv("FERRIX_SSH", Ssh->SshCommand().c_str(), 1);
    ::setenv("FERRIX_RELAY", Ssh->InstallProgram(relayProgram).c_str(), 1);
}

TRemotePc::~TRemotePc()
{
    ferrix::CloseRelayLinks();
    Ssh.reset();
    ::unsetenv("FERRIX_SSH");
    ::unsetenv("FERRIX_RELAY");
}
