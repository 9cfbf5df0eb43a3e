// The PCs this PC knows how to reach: the host names of the SSH client's configuration, of the
// hosts database and of the mDNS neighbours that an Avahi daemon sees. None of the routines
// raises: a source that cannot be read adds nothing.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace ferrix {

// Where the names come from.
struct TKnownHostsSources {
    // SSH client configuration files, read in this order; Include lines are followed.
    std::vector<std::string> SshConfigFiles;
    // The hosts database; empty = none.
    std::string HostsFile;
    // The Avahi browser program (looked up on PATH when it holds no "/"); empty = no mDNS.
    std::string AvahiBrowse;
    // How long the Avahi browser may take before it is ended and its answer so far is used.
    std::chrono::milliseconds MdnsDeadline{3000};
};

// The sources of this PC. The SSH configuration is the file after "-F" in FERRIX_SSH when that
// names one (the console's SSH client then reads only it), else ~/.ssh/config and
// /etc/ssh/ssh_config; FERRIX_HOSTS_FILE replaces /etc/hosts and FERRIX_AVAHI_BROWSE replaces
// "avahi-browse" (set to an empty text, it turns mDNS off).
TKnownHostsSources DefaultKnownHostsSources();

// Every name of the sources that is a PC name (IsValidPcName), sorted and without duplicates.
std::vector<std::string> KnownHosts(const TKnownHostsSources& sources);

// The Host names of one SSH configuration file and the files it includes: names with the
// pattern characters "*", "?" or a leading "!" are left out. Relative includes are taken from
// includeDir, as ssh takes them from ~/.ssh or /etc/ssh.
void AddSshConfigHosts(const std::string& path, const std::string& includeDir, std::vector<std::string>& names);
// The names of the hosts database, except those of loopback, unspecified and multicast addresses.
void AddHostsFileNames(const std::string& path, std::vector<std::string>& names);
// The host names that the Avahi browser resolves within the deadline; nothing when the program
// is missing or no daemon answers.
void AddMdnsNeighbours(const std::string& program, std::chrono::milliseconds deadline,
                       std::vector<std::string>& names);

}  // namespace ferrix
