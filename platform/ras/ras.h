// Dial-up over pppd, in the shape of the remote access calls the dial-up routines make.
//
// - Phonebook: the regular files of $RAS_PHONEBOOK_DIR (default /etc/ppp/peers, pppd's own
//   peers directory), one entry each, names sorted. Entry names are looked up without regard
//   to case; pppd is always given the file's own spelling.
// - Dialling runs $RAS_PPPD (default /usr/sbin/pppd) with "call NAME linkname NAME updetach"
//   and waits for it to exit: 0 means the link is up, any other status is a dial error.
// - Active connections: the files ppp-NAME.pid in $RAS_RUN_DIR (default /run) whose process
//   is still running. A connection's handle is that pid.
// - Hanging up sends SIGTERM to a listed link's process and waits, bounded, for it to end.
//
// Every call returns 0 on success or one of the error codes below; RasGetErrorStringA gives
// their texts. A code without a text (an exit status of pppd that has none) makes
// RasGetErrorStringA fail.
#pragma once

#include <cstdint>

using DWORD = uint32_t;
// The pid of the pppd process that holds a link; 0 = no connection.
using HRASCONN = uint32_t;

// Entry name record, 264 bytes.
struct RASENTRYNAME {
    DWORD dwSize = 0;
    char szEntryName[257] = {};
};
static_assert(sizeof(RASENTRYNAME) == 264);

// Active connection record, 412 bytes. The device fields stay empty: pppd's options name them.
struct RASCONN {
    DWORD dwSize = 0;
    HRASCONN hrasconn = 0;
    char szEntryName[257] = {};
    char szDeviceType[17] = {};
    char szDeviceName[129] = {};
};
static_assert(sizeof(RASCONN) == 412);

// Dial parameters, 1052 bytes. Only the entry name is used: pppd keeps the number, the user and
// the secrets in its own option and secrets files.
struct RASDIALPARAMS {
    DWORD dwSize = 0;
    char szEntryName[257] = {};
    char szPhoneNumber[129] = {};
    char szCallbackNumber[129] = {};
    char szUserName[257] = {};
    char szPassword[257] = {};
    char szDomain[16] = {};
};
static_assert(sizeof(RASDIALPARAMS) == 1052);

// Error codes of this layer.
constexpr DWORD RASERR_INVALID_PARAMETER = 600;
constexpr DWORD RASERR_INVALID_SIZE = 601;
constexpr DWORD RASERR_BUFFER_TOO_SMALL = 602;
constexpr DWORD RASERR_CANNOT_OPEN_PHONEBOOK = 603;
constexpr DWORD RASERR_CANNOT_FIND_ENTRY = 604;
constexpr DWORD RASERR_CANNOT_LIST_CONNECTIONS = 605;
constexpr DWORD RASERR_INVALID_HANDLE = 606;
constexpr DWORD RASERR_HANGUP_FAILED = 607;
constexpr DWORD RASERR_CANNOT_START_PPPD = 608;
constexpr DWORD RASERR_PPPD_ABORTED = 609;
// pppd ended with exit status N (1 to 255): code RASERR_PPPD_EXIT + N.
constexpr DWORD RASERR_PPPD_EXIT = 700;

// How long a hang-up waits for the link's process to end after SIGTERM (pppd terminates the
// link with the peer first).
constexpr int RasHangUpTimeoutMs = 20000;

// Fills entries with the names of the phonebook, sorted. phonebook: nullptr for the default
// phonebook, else a phonebook directory. entries[0].dwSize must be sizeof(RASENTRYNAME).
// *count receives the number of entries; when *cb is smaller than they need, *cb receives the
// size needed, nothing is filled and the result is RASERR_BUFFER_TOO_SMALL.
DWORD RasEnumEntriesA(const char* reserved, const char* phonebook, RASENTRYNAME* entries, DWORD* cb, DWORD* count);

// Fills conns with the active connections, sorted by name; buffer rules as RasEnumEntriesA.
DWORD RasEnumConnectionsA(RASCONN* conns, DWORD* cb, DWORD* count);

// Hangs up the connection: SIGTERM to its process, then waits for it to end. Only the pid of a
// listed active connection is ever signalled; any other handle gives RASERR_INVALID_HANDLE.
DWORD RasHangUpA(HRASCONN conn);
// RasHangUpA with its own wait bound (exposed for tests).
DWORD RasHangUpWithin(HRASCONN conn, int timeoutMs);

// Checks that params->szEntryName is an entry of the phonebook; there is nothing more to fill.
DWORD RasGetEntryDialParamsA(const char* phonebook, RASDIALPARAMS* params, bool* passwordStored);

// Dials the entry and returns when the link is up or has failed (no notifier: only synchronous
// dialling exists here). On success *conn is the link's handle (0 when pppd left no running
// link); after a failure it stays 0.
DWORD RasDialA(const void* extensions, const char* phonebook, const RASDIALPARAMS* params, DWORD notifierType,
               const void* notifier, HRASCONN* conn);

// Copies the text of an error code into buffer (size bytes, terminating NUL included).
DWORD RasGetErrorStringA(DWORD code, char* buffer, DWORD size);
