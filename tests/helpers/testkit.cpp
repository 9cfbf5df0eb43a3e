#include "testkit.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/files/filedescriptor.h"

TempDir::TempDir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "ferrix-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    Root = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Restore write bits so read-only leftovers can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(Root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(Root, ec);
}

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (cond())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void WriteTextFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out << content;
}

std::string MakeDirWithFiles(const std::string& dir, const std::vector<std::string>& files)
{
    std::filesystem::create_directories(dir);
    for (const std::string& file : files)
        WriteTextFile(dir + "/" + file, file);
    return dir;
}

std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void SetFileTime(const std::string& path, int64_t unixSeconds, int milliseconds)
{
    const timespec times[2] = {{unixSeconds, milliseconds * 1000000L}, {unixSeconds, milliseconds * 1000000L}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("utimensat failed for " + path);
}

std::vector<std::string> LogMessages(const std::string& path)
{
    std::vector<std::string> messages;
    std::istringstream lines(ReadTextFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t tab = line.find('\t');
        messages.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    }
    return messages;
}

uid_t UnprivilegedUid()
{
    const passwd* user = ::getpwnam("nobody");
    return user != nullptr ? user->pw_uid : 65534;
}

gid_t UnprivilegedGid()
{
    const passwd* user = ::getpwnam("nobody");
    return user != nullptr ? user->pw_gid : 65534;
}

namespace {

int RunChild(const std::function<int()>& step, bool dropPrivileges)
{
    const uid_t uid = UnprivilegedUid();
    const gid_t gid = UnprivilegedGid();
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (dropPrivileges && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(255);
        int result = 254;
        try {
            result = step();
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    const int code = WEXITSTATUS(status);
    return code == 255 ? -1 : code;
}

}  // namespace

int RunAsUnprivileged(const std::function<int()>& step)
{
    return RunChild(step, true);
}

int RunInChild(const std::function<int()>& step)
{
    return RunChild(step, false);
}

SmallFileSystem::SmallFileSystem(size_t bytes)
{
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", Dir.Path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        throw std::runtime_error("cannot mount a tmpfs on " + Dir.Path() + ": " + std::strerror(errno));
    Mounted = true;
}

SmallFileSystem::~SmallFileSystem()
{
    if (Mounted)
        ::umount2(Dir.Path().c_str(), MNT_DETACH);
}

bool SmallFileSystem::Fill(const std::string& name) const
{
    const TFileDescriptor file(::open((Dir / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.Valid())
        return false;
    const std::string block(4096, 'f');
    ssize_t n = 0;
    while ((n = ::write(file.Get(), block.data(), block.size())) > 0) {
    }
    return n < 0 && errno == ENOSPC;
}
