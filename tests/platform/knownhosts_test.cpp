// The PCs this PC knows how to reach: SSH client configuration with its includes, the hosts
// database, and the mDNS neighbours of an Avahi browser (a scripted stand-in: no Avahi daemon
// runs here), each read from the test's own files.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/network/knownhosts.h"
#include "testkit.h"

using ferrix::KnownHosts;
using ferrix::TKnownHostsSources;
using Names = std::vector<std::string>;

namespace {

// Sets an environment variable for the life of the object and restores the old value.
class TEnvironmentVariable {
public:
    TEnvironmentVariable(const char* name, const char* value) : Name(name)
    {
        const char* old = std::getenv(name);
        Had = old != nullptr;
        Old = Had ? old : "";
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~TEnvironmentVariable()
    {
        if (Had)
            setenv(Name, Old.c_str(), 1);
        else
            unsetenv(Name);
    }

private:
    const char* Name;
    bool Had = false;
    std::string Old;
};

std::string WriteScript(const TempDir& dir, const std::string& name, const std::string& body)
{
    const std::string path = dir / name;
    WriteTextFile(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
    return path;
}

}  // namespace

TEST(KnownHosts, SshHostNamesWithoutPatternsFollowingIncludes)
{
    TempDir dir;
    MakeDirWithFiles(dir / "conf.d", {});
    WriteTextFile(dir / "conf.d/10-shops.conf", "Host shop-07 shop-08\n  HostName 10.1.0.7\n");
    WriteTextFile(dir / "conf.d/ignored.txt", "Host not-included\n");
    WriteTextFile(dir / "config",
                  "# Host commented-out\n"
                  "Include conf.d/*.conf\n"
                  "Include config\n"  // includes itself: stops at the nesting limit
                  "Include \"\"\n"
                  "Host alpha beta # the office\n"
                  "host=gamma\n"
                  "HOST\t\"delta\"\n"
                  "Host *.example.com shop-?? !excluded epsilon\n"
                  "Match host zeta\n"
                  "Hostname eta\n");
    Names names;
    ferrix::AddSshConfigHosts(dir / "config", dir.Path(), names);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    EXPECT_EQ(names, (Names{"alpha", "beta", "delta", "epsilon", "gamma", "shop-07", "shop-08"}));
}

TEST(KnownHosts, HostsDatabaseWithoutLoopbackAndGroupAddresses)
{
    TempDir dir;
    WriteTextFile(dir / "hosts",
                  "127.0.0.1\tlocalhost\n"
                  "127.0.1.1\tthis-pc.lan this-pc\n"
                  "::1     localhost ip6-localhost ip6-loopback\n"
                  "fe00::0 ip6-localnet\n"
                  "ff02::1 ip6-allnodes\n"
                  "192.168.1.10 fileserver fs # the file server\n"
                  "# 10.0.0.9 commented\n"
                  "2001:db8::5 v6host\n"
                  "not-an-address somename\n"
                  "10.0.0.5\n");
    Names names;
    ferrix::AddHostsFileNames(dir / "hosts", names);
    EXPECT_EQ(names, (Names{"fileserver", "fs", "v6host"}));
}

TEST(KnownHosts, ResolvedMdnsNeighboursOnly)
{
    TempDir dir;
    const std::string browser = WriteScript(dir, "scripted-avahi-browse",
                                            "[ \"$*\" = '--all --terminate --resolve --parsable --no-db-lookup' ] || exit 2\n"
                                            "echo '+;eth0;IPv4;shop PC;_ssh._tcp;local'\n"
                                            "echo '=;eth0;IPv4;shop PC;_ssh._tcp;local;shoppc.local;192.168.1.7;22;'\n"
                                            "echo '=;eth0;IPv6;printer;_ipp._tcp;local;printer-3.local;fe80::1;631;\"txt\"'\n");
    Names names;
    ferrix::AddMdnsNeighbours(browser, std::chrono::seconds(10), names);
    EXPECT_EQ(names, (Names{"shoppc.local", "printer-3.local"}));
}

TEST(KnownHosts, NoDaemonNoProgramOrASlowBrowserCostNoMoreThanTheDeadline)
{
    TempDir dir;
    Names names;
    ferrix::AddMdnsNeighbours(WriteScript(dir, "no-daemon", "echo 'Failed to create client object: Daemon not running' >&2\nexit 1\n"),
                              std::chrono::seconds(10), names);
    ferrix::AddMdnsNeighbours(dir / "missing-avahi-browse", std::chrono::seconds(10), names);
    EXPECT_TRUE(names.empty());

    const std::string slow = WriteScript(dir, "slow",
                                         "echo '=;eth0;IPv4;a;_ssh._tcp;local;early.local;10.0.0.1;22;'\n"
                                         "exec sleep 60\n");
    const auto start = std::chrono::steady_clock::now();
    ferrix::AddMdnsNeighbours(slow, std::chrono::milliseconds(300), names);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(names, (Names{"early.local"}));
}

TEST(KnownHosts, AllSourcesSortedAndUnique)
{
    TempDir dir;
    WriteTextFile(dir / "ssh_config", "Host zulu shop-02 alpha\n");
    WriteTextFile(dir / "hosts", "10.0.0.2 shop-02\n10.0.0.3 mike\n");
    TKnownHostsSources sources;
    sources.SshConfigFiles = {dir / "ssh_config", dir / "missing_config"};
    sources.HostsFile = dir / "hosts";
    sources.AvahiBrowse = WriteScript(dir, "avahi", "echo '=;e;IPv4;x;_t._tcp;local;bravo.local;10.0.0.4;1;'\n");
    EXPECT_EQ(KnownHosts(sources), (Names{"alpha", "bravo.local", "mike", "shop-02", "zulu"}));
}

TEST(KnownHosts, NamesThatAreNoPcNamesAreLeftOut)
{
    TempDir dir;
    WriteTextFile(dir / "ssh_config", "Host good-1 $(reboot) -oProxyCommand=x \"a b\"\n");
    WriteTextFile(dir / "hosts", "10.0.0.2 good-2 `reboot` x;y\n");
    TKnownHostsSources sources;
    sources.SshConfigFiles = {dir / "ssh_config"};
    sources.HostsFile = dir / "hosts";
    sources.AvahiBrowse = WriteScript(dir, "avahi", "echo '=;e;IPv4;x;_t._tcp;local;bad|name.local;10.0.0.4;1;'\n"
                                                    "echo '=;e;IPv4;y;_t._tcp;local;good-3.local;10.0.0.5;1;'\n");
    EXPECT_EQ(KnownHosts(sources), (Names{"good-1", "good-2", "good-3.local"}));
}

TEST(KnownHosts, DefaultSourcesFollowTheConsoleSshClientAndTheEnvironment)
{
    TEnvironmentVariable home("HOME", "/home/someone");
    TEnvironmentVariable hosts("FERRIX_HOSTS_FILE", nullptr);
    TEnvironmentVariable avahi("FERRIX_AVAHI_BROWSE", nullptr);
    {
        TEnvironmentVariable ssh("FERRIX_SSH", nullptr);
        const TKnownHostsSources sources = ferrix::DefaultKnownHostsSources();
        EXPECT_EQ(sources.SshConfigFiles, (Names{"/home/someone/.ssh/config", "/etc/ssh/ssh_config"}));
        EXPECT_EQ(sources.HostsFile, "/etc/hosts");
        EXPECT_EQ(sources.AvahiBrowse, "avahi-browse");
    }
    TEnvironmentVariable ssh("FERRIX_SSH", "ssh -o BatchMode=yes -F /tmp/test/ssh_config -p 2222");
    TEnvironmentVariable hostsFile("FERRIX_HOSTS_FILE", "/tmp/test/hosts");
    TEnvironmentVariable noMdns("FERRIX_AVAHI_BROWSE", "");
    const TKnownHostsSources sources = ferrix::DefaultKnownHostsSources();
    EXPECT_EQ(sources.SshConfigFiles, (Names{"/tmp/test/ssh_config"}));
    EXPECT_EQ(sources.HostsFile, "/tmp/test/hosts");
    EXPECT_EQ(sources.AvahiBrowse, "");
}
