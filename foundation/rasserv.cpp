#include "foundation/rasserv.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/sysutils.h"

int32_t LastRasError = 0;

namespace {

uint32_t HangUpPauseMs = RasHangUpPauseMs;

template <size_t N>
std::string FieldText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

}  // namespace

void ferrix::SetRasHangUpPause(uint32_t milliseconds)
{
    HangUpPauseMs = milliseconds;
}

bool RasGetEntries(std::vector<std::string>& list)
{
    LastRasError = 0;
    list.clear();
    std::vector<RASENTRYNAME> entries(MaxRasEntries);
    entries[0].dwSize = sizeof(RASENTRYNAME);
    DWORD size = static_cast<DWORD>(entries.size() * sizeof(RASENTRYNAME));
    DWORD count = 0;
    const DWORD rc = RasEnumEntriesA(nullptr, nullptr, entries.data(), &size, &count);
    if (rc != 0) {
        LastRasError = static_cast<int32_t>(rc);
        return false;
    }
    for (DWORD i = 0; i < std::min<DWORD>(count, MaxRasEntries); ++i)
        list.push_back(FieldText(entries[i].szEntryName));
    return true;
}

bool RasGetConnections(std::vector<TRasConnection>& list)
{
    LastRasError = 0;
    list.clear();
    std::vector<RASCONN> conns(MaxRasConnections);
    conns[0].dwSize = sizeof(RASCONN);
    DWORD size = static_cast<DWORD>(conns.size() * sizeof(RASCONN));
    DWORD count = 0;
    const DWORD rc = RasEnumConnectionsA(conns.data(), &size, &count);
    if (rc != 0) {
        LastRasError = static_cast<int32_t>(rc);
        return false;
    }
    for (DWORD i = 0; i < std::min<DWORD>(count, MaxRasConnections); ++i)
        list.push_back({FieldText(conns[i].szEntryName), conns[i].hrasconn});
    return true;
}

bool RasHangUpByName(const std::string& name)
{
    LastRasError = 0;
    std::vector<TRasConnection> connections;
    if (!RasGetConnections(connections))
        return false;
    const auto found = std::find_if(connections.begin(), connections.end(),
                                    [&name](const TRasConnection& conn) { return SameText(conn.Name, name); });
    if (found == connections.end())
        return false;
    return RasHangUpConn(found->Handle);
}

bool RasHangUpConn(HRASCONN handle)
{
    LastRasError = 0;
    const DWORD rc = RasHangUpA(handle);
    if (rc == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(HangUpPauseMs));
        return true;
    }
    LastRasError = static_cast<int32_t>(rc);
    return false;
}

bool RasDialEntry(const std::string& name)
{
    LastRasError = 0;
    RASDIALPARAMS params{};
    params.dwSize = sizeof(RASDIALPARAMS);
    const size_t length = std::min(name.size(), sizeof(params.szEntryName) - 1);
    std::memcpy(params.szEntryName, name.data(), length);
    // The stored parameters are only a help: the dial itself reports an entry it cannot find.
    bool passwordStored = false;
    RasGetEntryDialParamsA(nullptr, &params, &passwordStored);
    HRASCONN conn = 0;
    const DWORD rc = RasDialA(nullptr, nullptr, &params, 0, nullptr, &conn);
    if (rc == 0)
        return true;
    if (conn != 0)
        RasHangUpConn(conn);
    LastRasError = static_cast<int32_t>(rc);
    return false;
}

std::string RasLastErrorText()
{
    if (LastRasError == 0)
        return "";
    char buffer[256] = {};
    if (RasGetErrorStringA(static_cast<DWORD>(LastRasError), buffer, sizeof(buffer)) == 0)
        return buffer;
    return Format("Unknown RAS error (code %d)", LastRasError);
}
