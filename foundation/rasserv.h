// Dial-up routines: list the phonebook entries and the active connections, dial an entry, hang
// up by handle or by entry name, and give the text of the last error. Every routine reports
// failure by its result and leaves the error code in LastRasError; none of them raises.
// The routines are meant for one thread (the service thread, or the console's window thread).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ras/ras.h"

// At most this many phonebook entries and active connections are read; more is an error.
constexpr int MaxRasEntries = 16;
constexpr int MaxRasConnections = 16;
// Pause after a successful hang-up, before the line may be dialled again.
constexpr uint32_t RasHangUpPauseMs = 3000;

// Error code of the most recent failing call of these routines; 0 = no error. Every routine sets
// it to 0 when it starts.
extern int32_t LastRasError;

// An active connection: its entry name and its handle.
struct TRasConnection {
    std::string Name;
    HRASCONN Handle = 0;
};

// True when the entry names of the default phonebook are in list (in the order returned).
bool RasGetEntries(std::vector<std::string>& list);
// True when the active connections are in list.
bool RasGetConnections(std::vector<TRasConnection>& list);
// True when the active connection of that entry (letter case ignored) was hung up. A name that
// is not connected gives false with LastRasError 0.
bool RasHangUpByName(const std::string& name);
// True when the connection was hung up; then waits the hang-up pause.
bool RasHangUpConn(HRASCONN handle);
// True when the entry was dialled with its stored dial parameters and is connected.
bool RasDialEntry(const std::string& name);
// Text of LastRasError; empty when it is 0.
std::string RasLastErrorText();

namespace ferrix {

// Changes the pause after a hang-up. For tests only: the programs keep RasHangUpPauseMs.
void SetRasHangUpPause(uint32_t milliseconds);

}  // namespace ferrix
