// The dial-up layer pointed at temporary folders and at the scripted pppd
// (tests/helpers/scripted-pppd.sh), which stands in for pppd since no modem or PPP peer can run
// here. Sets RAS_PHONEBOOK_DIR, RAS_RUN_DIR, RAS_PPPD and SCRIPTED_PPPD_LOG for its lifetime.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "testkit.h"

class TScriptedRas {
public:
    TScriptedRas();
    // Stops every link still running and restores the variables.
    ~TScriptedRas();
    TScriptedRas(const TScriptedRas&) = delete;
    TScriptedRas& operator=(const TScriptedRas&) = delete;

    std::string PhonebookDir() const { return Dir / "peers"; }
    std::string RunDir() const { return Dir / "run"; }

    // Adds a phonebook entry. Options are lines the scripted pppd acts on:
    // "scripted-exit N" (the dial fails with status N), "scripted-ignore-term".
    void AddEntry(const std::string& name, const std::string& options = "");
    // Pid in the link's pid file ppp-NAME.pid; 0 when there is none.
    pid_t LinkPid(const std::string& name) const;
    // The argument lines the scripted pppd was called with, in order.
    std::vector<std::string> Calls() const;

    static std::string PppdPath();

private:
    void Set(const char* name, const std::string& value);

    TempDir Dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

// Whether the process still runs; an ended process not yet reaped counts as ended.
bool ProcessRunning(pid_t pid);
