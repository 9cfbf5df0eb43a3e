#include "platform/logon/logon.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <security/pam_appl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "platform/files/findfile.h"

namespace {

struct TLogonToken {
    uid_t Uid = 0;
    gid_t Gid = 0;
    std::vector<gid_t> Groups;
};

// The open tokens, by handle; a handle is never given twice.
std::mutex TokensLock;
std::map<HANDLE, TLogonToken> Tokens;
HANDLE NextHandle = 1;

// The identity the thread had before its first impersonation.
struct TThreadIdentity {
    bool Impersonating = false;
    uid_t FsUid = 0;
    gid_t FsGid = 0;
    std::vector<gid_t> Groups;
};

thread_local TThreadIdentity SavedIdentity;
thread_local DWORD LastLogonError = 0;

bool Fail(DWORD code)
{
    LastLogonError = code;
    return false;
}

// The raw system calls change the calling thread only; the C library's wrappers would change every
// thread of the process. Asked with -1, setfsuid and setfsgid change nothing and give the current id.
uid_t ThreadFsUid()
{
    return static_cast<uid_t>(::syscall(SYS_setfsuid, -1));
}

gid_t ThreadFsGid()
{
    return static_cast<gid_t>(::syscall(SYS_setfsgid, -1));
}

bool SetThreadFsUid(uid_t uid)
{
    ::syscall(SYS_setfsuid, uid);
    return ThreadFsUid() == uid;
}

bool SetThreadFsGid(gid_t gid)
{
    ::syscall(SYS_setfsgid, gid);
    return ThreadFsGid() == gid;
}

bool SetThreadGroups(const std::vector<gid_t>& groups)
{
    return ::syscall(SYS_setgroups, groups.size(), groups.data()) == 0;
}

bool ThreadGroups(std::vector<gid_t>& groups)
{
    const long count = ::syscall(SYS_getgroups, 0, nullptr);
    if (count < 0)
        return false;
    groups.resize(static_cast<size_t>(count));
    return ::syscall(SYS_getgroups, count, groups.data()) == count;
}

std::string ShortHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return std::string();
    std::string host = name;
    return host.substr(0, host.find('.'));
}

bool IsThisPc(const std::string& domain)
{
    return domain.empty() || domain == "." || strcasecmp(domain.c_str(), ShortHostName().c_str()) == 0;
}

// Answers PAM's prompts: the password to a hidden prompt, nothing to the others.
int Conversation(int count, const pam_message** messages, pam_response** responses, void* password)
{
    auto* answers = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
    if (answers == nullptr)
        return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        if (messages[i]->msg_style != PAM_PROMPT_ECHO_OFF)
            continue;
        answers[i].resp = ::strdup(static_cast<const std::string*>(password)->c_str());
        if (answers[i].resp == nullptr) {
            for (int j = 0; j < i; ++j)
                std::free(answers[j].resp);
            std::free(answers);
            return PAM_BUF_ERR;
        }
    }
    *responses = answers;
    return PAM_SUCCESS;
}

DWORD CodeOfPamResult(int result)
{
    switch (result) {
    case PAM_AUTH_ERR:
    case PAM_USER_UNKNOWN:
    case PAM_MAXTRIES:
        return ERROR_LOGON_FAILURE;
    case PAM_ACCT_EXPIRED:
        return ERROR_ACCOUNT_EXPIRED;
    case PAM_NEW_AUTHTOK_REQD:
    case PAM_AUTHTOK_EXPIRED:
        return ERROR_PASSWORD_EXPIRED;
    case PAM_PERM_DENIED:
        return ERROR_LOGON_NOT_GRANTED;
    default:
        return ERROR_LOGON_SERVICE_BASE + static_cast<DWORD>(result);
    }
}

// Authenticates the user and asks whether the account may log on now; PAM's result.
int CheckWithPam(const char* service, const std::string& user, const std::string& password)
{
    std::string answer = password;
    const pam_conv conversation{Conversation, &answer};
    pam_handle_t* handle = nullptr;
    int result = ::pam_start(service, user.c_str(), &conversation, &handle);
    if (result != PAM_SUCCESS)
        return result;
    result = ::pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (result == PAM_SUCCESS)
        result = ::pam_acct_mgmt(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    ::pam_end(handle, result);
    return result;
}

bool MakeToken(const std::string& user, TLogonToken& token)
{
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return Fail(ERROR_LOGON_FAILURE);
    token.Uid = entry.pw_uid;
    token.Gid = entry.pw_gid;
    int count = 32;
    token.Groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(user.c_str(), entry.pw_gid, token.Groups.data(), &count) < 0) {
        token.Groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(user.c_str(), entry.pw_gid, token.Groups.data(), &count) < 0)
            return Fail(ENOMEM);
    }
    token.Groups.resize(static_cast<size_t>(count));
    return true;
}

// Puts the thread back to the saved identity as far as it can; false when a part fails.
bool RestoreIdentity(const TThreadIdentity& identity)
{
    // The user id first: back at root, the thread has its file capabilities again.
    bool restored = SetThreadFsUid(identity.FsUid);
    restored = SetThreadFsGid(identity.FsGid) && restored;
    return SetThreadGroups(identity.Groups) && restored;
}

}  // namespace

bool LogonUserA(const std::string& user, const std::string& domain, const std::string& password, DWORD logonType,
                DWORD logonProvider, HANDLE& token)
{
    token = 0;
    if (logonProvider != LOGON32_PROVIDER_DEFAULT || user.empty())
        return Fail(EINVAL);
    if (!IsThisPc(domain))
        return Fail(ERROR_NO_SUCH_DOMAIN);
    // PAM takes zero-terminated texts: a NUL would cut the name or the password short.
    if (user.find('\0') != std::string::npos || password.find('\0') != std::string::npos)
        return Fail(ERROR_LOGON_FAILURE);
    const int result = CheckWithPam(logonType == LOGON32_LOGON_INTERACTIVE ? "login" : "other", user, password);
    if (result != PAM_SUCCESS)
        return Fail(CodeOfPamResult(result));
    TLogonToken made;
    if (!MakeToken(user, made))
        return false;
    std::lock_guard<std::mutex> lock(TokensLock);
    token = NextHandle++;
    Tokens.emplace(token, std::move(made));
    return true;
}

bool ImpersonateLoggedOnUser(HANDLE token)
{
    TLogonToken target;
    {
        std::lock_guard<std::mutex> lock(TokensLock);
        const auto found = Tokens.find(token);
        if (found == Tokens.end())
            return Fail(EINVAL);
        target = found->second;
    }
    TThreadIdentity current;
    current.FsUid = ThreadFsUid();
    current.FsGid = ThreadFsGid();
    if (!ThreadGroups(current.Groups))
        return Fail(errno);
    // Groups and group id first: once the user id is no longer root, they could not be changed.
    if (!SetThreadGroups(target.Groups))
        return Fail(errno);
    if (!SetThreadFsGid(target.Gid) || !SetThreadFsUid(target.Uid)) {
        RestoreIdentity(current);
        return Fail(EPERM);
    }
    if (!SavedIdentity.Impersonating) {
        SavedIdentity = current;
        SavedIdentity.Impersonating = true;
    }
    return true;
}

bool RevertToSelf()
{
    if (!SavedIdentity.Impersonating)
        return true;
    if (!SetThreadFsUid(SavedIdentity.FsUid) || !SetThreadFsGid(SavedIdentity.FsGid))
        return Fail(EPERM);
    if (!SetThreadGroups(SavedIdentity.Groups))
        return Fail(errno);
    SavedIdentity = TThreadIdentity();
    return true;
}

bool IsImpersonating()
{
    return SavedIdentity.Impersonating;
}

bool CloseHandle(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(TokensLock);
    if (Tokens.erase(handle) == 0)
        return Fail(EINVAL);
    return true;
}

DWORD GetLastLogonError()
{
    return LastLogonError;
}

std::string LogonErrorText(DWORD code)
{
    switch (code) {
    case ERROR_LOGON_FAILURE:
        return "The user name or password is incorrect.";
    case ERROR_PASSWORD_EXPIRED:
        return "The password of the account has expired and must be changed.";
    case ERROR_NO_SUCH_DOMAIN:
        return "Only an account of this PC can log on: the domain must be \".\" or this PC's name.";
    case ERROR_LOGON_NOT_GRANTED:
        return "The account may not log on now.";
    case ERROR_ACCOUNT_EXPIRED:
        return "The account has expired.";
    default:
        break;
    }
    if (code >= ERROR_LOGON_SERVICE_BASE)
        return std::string("The logon service failed: ") +
               ::pam_strerror(nullptr, static_cast<int>(code - ERROR_LOGON_SERVICE_BASE));
    return SysErrorMessage(static_cast<int>(code));
}
