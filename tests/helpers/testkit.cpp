#include "testkit.h"

#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

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
