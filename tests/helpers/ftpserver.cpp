#include "ftpserver.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr auto StartDeadline = std::chrono::seconds(10);

// Reads the child's first line ("PORT <n>") within the deadline; empty when none came.
std::string ReadFirstLine(int fd)
{
    const auto end = std::chrono::steady_clock::now() + StartDeadline;
    std::string line;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return "";
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return "";
        char c;
        const ssize_t n = read(fd, &c, 1);
        if (n <= 0)
            return "";
        if (c == '\n')
            return line;
        line += c;
    }
}

}  // namespace

FtpServer::FtpServer(std::vector<FtpAccount> accounts, std::string host, int port)
    : Accounts(std::move(accounts)), HostAddress(std::move(host))
{
    if (Accounts.empty())
        throw std::invalid_argument("FtpServer needs an account");
    HomeDir = Dir / "home";
    CommandLogPath = Dir / "commands.log";
    ServerLogPath = Dir / "server.log";
    std::filesystem::create_directory(HomeDir);
    if (port != 0) {
        Start(port);
        return;
    }
    // A port below the system's range of ephemeral ports: while the server is stopped for a
    // restart, no connection of a test running beside it can take the port as its own.
    std::mt19937 random(static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> ports(20000, 32000);
    for (int attempt = 0; attempt < 20; ++attempt) {
        try {
            Start(ports(random));
            return;
        } catch (const std::runtime_error&) {
            // taken: another one
        }
    }
    Start(0);
}

FtpServer::~FtpServer()
{
    if (Running())
        Stop();
}

std::string FtpServer::LocalPath(const std::string& remotePath) const
{
    return remotePath.empty() || remotePath[0] != '/' ? HomeDir + "/" + remotePath : HomeDir + remotePath;
}

void FtpServer::Start(int port)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));

    std::vector<std::string> args = {"/usr/bin/python3", std::string(FERRIX_SOURCE_DIR) + "/scripts/ftpserver.py",
                                     "--host", HostAddress, "--port", std::to_string(port), "--home", HomeDir,
                                     "--command-log", CommandLogPath};
    for (const FtpAccount& account : Accounts) {
        args.push_back("--user");
        args.push_back(account.Name + ":" + account.Password + ":" + account.Permissions);
    }
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, ServerLogPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    // Sockets of the test (clients, proxies) must not live on in the server.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        throw std::runtime_error(std::string("cannot start the FTP server: ") + std::strerror(rc));
    }
    Pid = pid;
    const std::string line = ReadFirstLine(out[0]);
    close(out[0]);
    if (line.rfind("PORT ", 0) != 0) {
        Stop();
        throw std::runtime_error("the FTP server did not start:\n" + Log());
    }
    ListenPort = std::stoi(line.substr(5));
}

std::vector<std::string> FtpServer::Commands() const
{
    const std::string text = ReadTextFile(CommandLogPath);
    std::vector<std::string> lines;
    std::size_t at = std::min(CommandsFrom, text.size());
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break;  // a line still being written
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

void FtpServer::ClearCommands()
{
    CommandsFrom = ReadTextFile(CommandLogPath).size();
}

std::string FtpServer::Log() const
{
    return ReadTextFile(ServerLogPath);
}

void FtpServer::Stop()
{
    if (Pid <= 0)
        return;
    kill(Pid, SIGKILL);
    while (waitpid(Pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    Pid = -1;
}

void FtpServer::Restart()
{
    Stop();
    Start(ListenPort);
}

void FtpServer::Pause()
{
    if (Pid <= 0)
        return;
    kill(Pid, SIGSTOP);
    int status = 0;
    while (waitpid(Pid, &status, WUNTRACED) < 0 && errno == EINTR) {
    }
}

void FtpServer::Resume()
{
    if (Pid > 0)
        kill(Pid, SIGCONT);
}

std::vector<std::string> FtpServer::Arguments(const std::string& verb) const
{
    std::vector<std::string> arguments;
    for (const std::string& command : Commands())
        if (command.rfind(verb + " ", 0) == 0)
            arguments.push_back(command.substr(verb.size() + 1));
    return arguments;
}
