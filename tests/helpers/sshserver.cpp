#include "sshserver.h"

#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

void MakeKey(const std::string& path)
{
    std::string output;
    if (RunCaptured({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "ferrix-test", "-f", path}, output) != 0)
        throw std::runtime_error("ssh-keygen failed: " + output);
}

}  // namespace

std::string TSshServer::Unavailable()
{
    if (::geteuid() != 0)
        return "the test SSH server is started by root";
    for (const char* tool : {"/usr/sbin/sshd", "/usr/bin/ssh", "/usr/bin/ssh-keygen"})
        if (::access(tool, X_OK) != 0)
            return std::string(tool) + " is missing";
    return std::string();
}

TSshServer::TSshServer(const std::vector<std::string>& sessionEnvironment) : FPort(FreeLoopbackPort())
{
    ::chmod(Dir.Path().c_str(), 0755);
    fs::create_directories(Dir / "keys");
    MakeKey(Dir / "host_key");
    MakeKey(Dir / "client_key");
    MakeKey(Dir / "stranger_key");
    // sshd's privilege separation directory, as the package's service makes it.
    fs::create_directories("/run/sshd");

    std::ostringstream config;
    config << "Port " << FPort << "\nListenAddress 127.0.0.1\nHostKey " << (Dir / "host_key") << "\nPidFile "
           << (Dir / "sshd.pid") << "\nUsePAM no\nPermitRootLogin prohibit-password\nPasswordAuthentication no\n"
           << "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\nAuthorizedKeysFile " << (Dir / "keys/%u")
           << "\nStrictModes no\nLogLevel ERROR\n";
    if (!sessionEnvironment.empty()) {
        config << "SetEnv";
        for (const std::string& entry : sessionEnvironment)
            config << " " << entry;
        config << "\n";
    }
    WriteTextFile(Dir / "sshd_config", config.str());
    WriteTextFile(Dir / "known_hosts", "[127.0.0.1]:" + std::to_string(FPort) + " " + ReadTextFile(Dir / "host_key.pub"));
    WriteClientConfig();

    Server = SpawnChild({"/usr/sbin/sshd", "-D", "-f", Dir / "sshd_config", "-E", Dir / "sshd.log"});
    const bool up = WaitFor([&] { return TryWaitForExit(Server, std::chrono::milliseconds(0)) || Accepts(FPort); },
                            std::chrono::seconds(20));
    if (!up || ::kill(Server.Pid, 0) != 0) {
        const std::string log = Log();
        if (Server.Pid > 0 && ::kill(Server.Pid, 0) == 0)
            KillChild(Server);
        Server.Pid = -1;
        throw std::runtime_error("sshd did not start: " + log);
    }
}

TSshServer::~TSshServer()
{
    if (Server.Pid > 0) {
        // The sessions outlive the listening server: they are ended first.
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            std::getline(stat, line);
            const size_t close = line.rfind(')');
            std::istringstream fields(close == std::string::npos ? "" : line.substr(close + 2));
            std::string state;
            pid_t parent = 0;
            fields >> state >> parent;
            if (parent == Server.Pid)
                ::kill(std::stoi(name), SIGTERM);
        }
        ::kill(Server.Pid, SIGTERM);
        if (!TryWaitForExit(Server, std::chrono::seconds(10)))
            KillChild(Server);
    }
}

void TSshServer::AddHost(const std::string& alias, const std::string& user, bool knownHost, bool authorizedKey)
{
    HostEntries += "Host " + alias + "\n  HostName 127.0.0.1\n  Port " + std::to_string(FPort) + "\n  User " + user +
                   "\n  IdentityFile " + (Dir / (authorizedKey ? "client_key" : "stranger_key")) +
                   "\n  IdentitiesOnly yes\n  UserKnownHostsFile " + (knownHost ? Dir / "known_hosts" : "/dev/null") +
                   "\n  StrictHostKeyChecking yes\n  GlobalKnownHostsFile /dev/null\n  LogLevel ERROR\n";
    WriteClientConfig();
}

void TSshServer::Authorize(const std::string& user)
{
    const std::string path = Dir / ("keys/" + user);
    WriteTextFile(path, ReadTextFile(Dir / "client_key.pub"));
    ::chmod(path.c_str(), 0644);
}

void TSshServer::WriteClientConfig()
{
    const std::string path = Dir / "ssh_config";
    WriteTextFile(path, HostEntries);
    ::chmod(path.c_str(), 0600);
}

std::string TSshServer::SshCommand() const
{
    return "/usr/bin/ssh -F " + (Dir / "ssh_config");
}

std::string TSshServer::InstallProgram(const std::string& path)
{
    const std::string target = Dir / fs::path(path).filename().string();
    fs::copy_file(path, target, fs::copy_options::overwrite_existing);
    ::chmod(target.c_str(), 0755);
    return target;
}

std::string TSshServer::Log() const
{
    std::ifstream in(Dir / "sshd.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
