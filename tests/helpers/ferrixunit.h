// ferrix2 installed as the unit TransportSvc2 of a real systemd user manager: the program copied
// into a directory of its own (Ferrix2Run) with a demo shop and a COPY destination, the manager
// started for it (TUserManager), and the calls the tests make on both. TRemotePc adds a real sshd
// on loopback through which the same manager and pipes are "another PC".
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "ferrixrun.h"
#include "sshserver.h"
#include "testuser.h"
#include "usermanager.h"

class TFerrix2Unit {
public:
    static constexpr const char* Unit = "TransportSvc2.service";

    // Why the unit cannot run here; empty when it can.
    static std::string Unavailable() { return TUserManager::Unavailable(); }

    // program: the built ferrix2. Writes a ferrix.ini that tracks the demo shop (Shop) and copies
    // to Run->Path("dest0"), checking every 2 seconds.
    explicit TFerrix2Unit(const std::string& program);
    ~TFerrix2Unit();  // ends the manager and its units, then removes the files
    TFerrix2Unit(const TFerrix2Unit&) = delete;
    TFerrix2Unit& operator=(const TFerrix2Unit&) = delete;

    std::string Program() const { return Run->ProgramDir() + "/ferrix2"; }
    std::string IniPath() const { return Run->ProgramDir() + "/ferrix.ini"; }
    // Runs the copied ferrix2 with the arguments; its exit status and output.
    int Ferrix2(const std::vector<std::string>& args, std::string& output) const;
    // ferrix2 /INSTALL; raises when it fails.
    void Install() const;
    // Writes the ferrix.ini of the constructor with the user and password as the service's account,
    // then Install and PipesInRuntimeDirectory; raises as Install does.
    void InstallWithAccount(const std::string& user, const std::string& password) const;
    // systemctl --user ACTION TransportSvc2.service; raises when it fails.
    void Systemctl(const std::string& action) const;
    std::string Property(const std::string& name) const { return Manager->UnitProperty(Unit, name); }
    // The main process of the running unit, or 0.
    pid_t MainPid() const;

    // The pipe directory belongs to the user the service runs as (root gives it).
    void GivePipeDirectoryTo(uid_t uid, gid_t gid) const;
    // The unit gets its pipe directory from the manager at every start, owned by whichever account
    // it runs under (as the system manager's unit does), and this process looks for the pipes
    // there. Call after Install.
    void PipesInRuntimeDirectory() const;

    std::unique_ptr<Ferrix2Run> Run;
    std::unique_ptr<TUserManager> Manager;
    std::string Shop;
};

// The unit's PC reached as "another PC" (host alias, logging on as root) through a real sshd on
// loopback; FERRIX_SSH and FERRIX_RELAY point the client at it while the object lives.
class TRemotePc {
public:
    static std::string Unavailable() { return TSshServer::Unavailable(); }

    TRemotePc(const TUserManager& manager, const std::string& relayProgram, const std::string& alias = "otherpc");
    ~TRemotePc();  // closes the relay links first
    TRemotePc(const TRemotePc&) = delete;
    TRemotePc& operator=(const TRemotePc&) = delete;

    std::unique_ptr<TSshServer> Ssh;
};
