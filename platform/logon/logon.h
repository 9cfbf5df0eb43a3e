// Logon and impersonation of a user of this PC, in the shape of the Windows calls the console
// makes. PAM checks the user and the password; the token holds the user's uid, gid and groups.
// Impersonation changes only the calling thread's file-system identity (fsuid, fsgid and the
// supplementary groups, through the system calls that act per thread), so file access of that
// thread is checked as the user's; the other threads and the process's own ids stay as they are.
//
// Every call returns a Boolean and leaves a last error of the calling thread (GetLastLogonError):
// errno values where they fit, and the codes below; LogonErrorText gives the text of either.
#pragma once

#include <cstdint>
#include <string>

using DWORD = uint32_t;
// A token of a logged-on user; 0 is no token.
using HANDLE = uintptr_t;

constexpr DWORD LOGON32_LOGON_INTERACTIVE = 2;
constexpr DWORD LOGON32_LOGON_NETWORK = 3;
constexpr DWORD LOGON32_PROVIDER_DEFAULT = 0;

// Error codes of this layer, above every errno value.
constexpr DWORD ERROR_LOGON_FAILURE = 1326;       // unknown user or wrong password
constexpr DWORD ERROR_PASSWORD_EXPIRED = 1330;    // the password must be changed first
constexpr DWORD ERROR_NO_SUCH_DOMAIN = 1355;      // a domain other than this PC
constexpr DWORD ERROR_LOGON_NOT_GRANTED = 1380;   // the account may not log on (locked, refused)
constexpr DWORD ERROR_ACCOUNT_EXPIRED = 1793;
// The logon service itself failed: the code is this base plus PAM's own code.
constexpr DWORD ERROR_LOGON_SERVICE_BASE = 20000;

// Checks user and password with PAM (service "login" for an interactive logon, "other" for the
// rest) and, when both are right and the account may log on now, gives a new token. The domain
// must be empty, "." or this PC's name (any letter case); any other is refused with
// ERROR_NO_SUCH_DOMAIN. Only the default provider is known (EINVAL otherwise). A wrong password
// takes the delay the PAM configuration asks for; a NUL in the user or the password is refused as
// a wrong one (ERROR_LOGON_FAILURE).
bool LogonUserA(const std::string& user, const std::string& domain, const std::string& password, DWORD logonType,
                DWORD logonProvider, HANDLE& token);

// Makes the calling thread's file access that of the token's user. The thread's own identity is
// remembered at the first impersonation, so that RevertToSelf restores it also after several.
// EINVAL for an unknown token; EPERM when the thread may not take the identity (it is then left
// as it was).
bool ImpersonateLoggedOnUser(HANDLE token);

// Gives the calling thread its own file-system identity back; true at once when it does not
// impersonate. False (EPERM, or the error of the group change) when the identity cannot be
// restored: the thread may then still act as the other user, and it stays marked as impersonating
// so that a later call tries again.
bool RevertToSelf();

// Whether the calling thread impersonates a user now.
bool IsImpersonating();

// Releases a token; EINVAL for an unknown one. An impersonation in force is not ended by it.
bool CloseHandle(HANDLE handle);

// The last error of this layer on the calling thread.
DWORD GetLastLogonError();
// The text of an error code of this layer or of an errno value.
std::string LogonErrorText(DWORD code);
