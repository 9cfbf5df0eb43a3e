#include "platform/network/knownhosts.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "base/sysutils.h"
#include "platform/files/filecontent.h"
#include "platform/files/filedescriptor.h"
#include "platform/network/pcname.h"
#include "platform/process/spawn.h"

namespace ferrix {

namespace {

// ssh's own limit on nested Include files.
constexpr int MaxIncludeDepth = 16;

std::string HomeDirectory()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return {};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// The words of an SSH configuration line, the keyword first; "=" may follow the keyword,
// arguments may be in double quotes, and a word that begins with "#" starts a comment.
std::vector<std::string> ConfigWords(const std::string& line)
{
    std::vector<std::string> words;
    size_t at = 0;
    auto skipBlanks = [&] {
        while (at < line.size() && IsBlank(line[at]))
            ++at;
    };
    skipBlanks();
    const size_t keyStart = at;
    while (at < line.size() && !IsBlank(line[at]) && line[at] != '=')
        ++at;
    words.push_back(line.substr(keyStart, at - keyStart));
    skipBlanks();
    if (at < line.size() && line[at] == '=')
        ++at;
    for (skipBlanks(); at < line.size() && line[at] != '#'; skipBlanks()) {
        std::string word;
        if (line[at] == '"') {
            const size_t close = line.find('"', at + 1);
            const size_t end = close == std::string::npos ? line.size() : close;
            word = line.substr(at + 1, end - at - 1);
            at = end == line.size() ? end : end + 1;
        } else {
            const size_t start = at;
            while (at < line.size() && !IsBlank(line[at]))
                ++at;
            word = line.substr(start, at - start);
        }
        words.push_back(word);
    }
    return words;
}

bool IsHostPattern(const std::string& name)
{
    return name.empty() || name.front() == '!' || name.find_first_of("*?") != std::string::npos;
}

std::vector<std::string> IncludedFiles(const std::string& pattern, const std::string& includeDir)
{
    if (pattern.empty())
        return {};
    std::string path = pattern;
    if (path.rfind("~/", 0) == 0)
        path = HomeDirectory() + path.substr(1);
    else if (path.front() != '/')
        path = includeDir + "/" + path;
    std::vector<std::string> files;
    glob_t found{};
    if (glob(path.c_str(), 0, nullptr, &found) == 0) {
        for (size_t n = 0; n < found.gl_pathc; ++n)
            files.emplace_back(found.gl_pathv[n]);
    }
    globfree(&found);
    return files;
}

void AddConfigFile(const std::string& path, const std::string& includeDir, int depth, std::vector<std::string>& names)
{
    std::string text;
    if (depth > MaxIncludeDepth || !ReadFileContent(path, text))
        return;
    for (const std::string& line : Lines(text)) {
        const std::vector<std::string> words = ConfigWords(line);
        if (words.front().empty() || words.front().front() == '#')
            continue;
        if (SameText(words.front(), "Host")) {
            for (size_t n = 1; n < words.size(); ++n) {
                if (!IsHostPattern(words[n]))
                    names.push_back(words[n]);
            }
        } else if (SameText(words.front(), "Include")) {
            for (size_t n = 1; n < words.size(); ++n) {
                for (const std::string& file : IncludedFiles(words[n], includeDir))
                    AddConfigFile(file, includeDir, depth + 1, names);
            }
        }
    }
}

// Loopback, unspecified, multicast and the reserved fe00::/9 of the "ip6-localnet" line.
bool IsLocalOrGroupAddress(const std::string& address)
{
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
        const uint32_t value = ntohl(v4.s_addr);
        return (value >> 24) == 127 || value == 0 || (value >> 28) == 0xE;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
        const unsigned char* bytes = v6.s6_addr;
        return IN6_IS_ADDR_LOOPBACK(&v6) || IN6_IS_ADDR_UNSPECIFIED(&v6) || IN6_IS_ADDR_MULTICAST(&v6) ||
               (bytes[0] == 0xFE && bytes[1] < 0x80);
    }
    return true;  // not an address: not a line to take names from
}

// The host name of a resolved line of avahi-browse's parsable output:
// "=;interface;protocol;service name;type;domain;host name;address;port;txt".
void AddResolvedHost(const std::string& line, std::vector<std::string>& names)
{
    if (line.rfind("=;", 0) != 0)
        return;
    std::vector<std::string> fields;
    std::istringstream stream(line);
    for (std::string field; std::getline(stream, field, ';');)
        fields.push_back(field);
    if (fields.size() > 6 && !fields[6].empty() && fields[6].find('\\') == std::string::npos)
        names.push_back(fields[6]);
}

// Reads the child's output until it ends or the deadline passes.
std::string ReadUntil(int fd, std::chrono::steady_clock::time_point end)
{
    std::string output;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        output.append(buffer, static_cast<size_t>(got));
    }
    return output;
}

void EndChild(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

}  // namespace

TKnownHostsSources DefaultKnownHostsSources()
{
    TKnownHostsSources sources;
    const char* ssh = std::getenv("FERRIX_SSH");
    std::istringstream words(ssh != nullptr ? ssh : "");
    for (std::string word; words >> word;) {
        if (word == "-F" && words >> word)
            sources.SshConfigFiles = {word};
        else if (word.rfind("-F", 0) == 0 && word.size() > 2)
            sources.SshConfigFiles = {word.substr(2)};
    }
    if (sources.SshConfigFiles.empty())
        sources.SshConfigFiles = {HomeDirectory() + "/.ssh/config", "/etc/ssh/ssh_config"};
    const char* hosts = std::getenv("FERRIX_HOSTS_FILE");
    sources.HostsFile = hosts != nullptr ? hosts : "/etc/hosts";
    const char* avahi = std::getenv("FERRIX_AVAHI_BROWSE");
    sources.AvahiBrowse = avahi != nullptr ? avahi : "avahi-browse";
    return sources;
}

std::vector<std::string> KnownHosts(const TKnownHostsSources& sources)
{
    std::vector<std::string> names;
    const std::string userDir = HomeDirectory() + "/.ssh";
    for (const std::string& file : sources.SshConfigFiles) {
        // ssh resolves a relative Include of the system file in /etc/ssh, of any other in ~/.ssh.
        AddSshConfigHosts(file, file.rfind("/etc/ssh/", 0) == 0 ? "/etc/ssh" : userDir, names);
    }
    if (!sources.HostsFile.empty())
        AddHostsFileNames(sources.HostsFile, names);
    if (!sources.AvahiBrowse.empty())
        AddMdnsNeighbours(sources.AvahiBrowse, sources.MdnsDeadline, names);
    // A name the console would refuse is no PC to offer.
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& name) { return name.empty() || !IsValidPcName(name); }),
                names.end());
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

void AddSshConfigHosts(const std::string& path, const std::string& includeDir, std::vector<std::string>& names)
{
    AddConfigFile(path, includeDir, 0, names);
}

void AddHostsFileNames(const std::string& path, std::vector<std::string>& names)
{
    std::string text;
    if (!ReadFileContent(path, text))
        return;
    for (std::string line : Lines(text)) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::string address;
        if (!(fields >> address) || IsLocalOrGroupAddress(address))
            continue;
        for (std::string name; fields >> name;)
            names.push_back(name);
    }
}

void AddMdnsNeighbours(const std::string& program, std::chrono::milliseconds deadline,
                       std::vector<std::string>& names)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return;
    TFileDescriptor readEnd(ends[0]);
    TFileDescriptor writeEnd(ends[1]);
    TFileDescriptor devNull(open("/dev/null", O_RDWR | O_CLOEXEC));
    TSpawnOptions options;
    options.Input = devNull.Get();
    options.Output = writeEnd.Get();
    options.Error = devNull.Get();
    const auto end = std::chrono::steady_clock::now() + deadline;
    pid_t pid = -1;
    if (SpawnProcess({program, "--all", "--terminate", "--resolve", "--parsable", "--no-db-lookup"}, options, pid) != 0)
        return;
    writeEnd.Close();
    const std::string output = ReadUntil(readEnd.Get(), end);
    readEnd.Close();
    EndChild(pid);
    for (const std::string& line : Lines(output))
        AddResolvedHost(line, names);
}

}  // namespace ferrix
