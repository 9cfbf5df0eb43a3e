// A user account made for one test and removed with it (useradd / userdel, as root): no home
// directory, a shell, and an account that is not locked (password "*": no password logon, but SSH
// keys work), or one with a known password for logon tests.
#pragma once

#include <string>
#include <sys/types.h>

class TTestUser {
public:
    // tag: a few letters; the name adds this process's id so that parallel tests do not meet.
    explicit TTestUser(const std::string& tag);
    // The same user with a password set by chpasswd, so that a PAM logon with it succeeds.
    TTestUser(const std::string& tag, const std::string& password);
    ~TTestUser();
    TTestUser(const TTestUser&) = delete;
    TTestUser& operator=(const TTestUser&) = delete;

    const std::string& Name() const { return FName; }
    uid_t Uid() const { return FUid; }
    gid_t Gid() const { return FGid; }

private:
    std::string FName;
    uid_t FUid = 0;
    gid_t FGid = 0;
};

// The real user id of a running process (from /proc), or -1.
long ProcessUid(pid_t pid);

// An id of the calling thread from its status: line "Uid:" or "Gid:", field 1 real, 2 effective,
// 3 saved, 4 file system; -1 when not found.
long ThreadId(const std::string& line, int field);
// The file-system uid of the calling thread.
inline long ThreadFsUid()
{
    return ThreadId("Uid:", 4);
}
// Takes a capability out of the calling thread's effective set (it stays permitted) or puts it back.
bool SetEffectiveCapability(int capability, bool on);

// While it lives, the calling thread's file-system uid and gid are another user's (raw setfsuid
// and setfsgid, which act on this thread only): its file accesses are that user's, without the
// file capabilities of root, while its open descriptors and connections stay as they were.
class TThreadFsIdentity {
public:
    TThreadFsIdentity(uid_t uid, gid_t gid);
    ~TThreadFsIdentity();
    TThreadFsIdentity(const TThreadFsIdentity&) = delete;
    TThreadFsIdentity& operator=(const TThreadFsIdentity&) = delete;

private:
    uid_t SavedUid;
    gid_t SavedGid;
};
