#include "platform/scm/programdir.h"

#include <acl/libacl.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/sysutils.h"
#include "platform/files/filedescriptor.h"
#include "platform/files/newfile.h"
#include "platform/scm/managerbus.h"

namespace ferrix {

namespace {

// What the service writes in its program directory besides temporary files, each with the mode
// the service itself gives it: its log, and its settings file, which holds passwords.
struct TServiceFile {
    const char* Name;
    mode_t Mode;
};
constexpr TServiceFile ServiceFiles[] = {{"ferrix.log", 0644}, {"ferrix.ini", 0600}};
// An access list, freed at the end of a scope.
struct TAcl {
    acl_t Acl;
    explicit TAcl(acl_t acl) : Acl(acl) {}
    ~TAcl()
    {
        if (Acl != nullptr)
            acl_free(Acl);
    }
    TAcl(const TAcl&) = delete;
    TAcl& operator=(const TAcl&) = delete;
};

[[noreturn]] void RaiseErrno(const std::string& what, int code)
{
    throw EOSError(what + ": " + std::strerror(code), code);
}

// The user who counts as root does: the user of a user's own manager; root otherwise.
uid_t ManagerUid()
{
    return UseUserManager() ? ::getuid() : 0;
}

gid_t ManagerGid()
{
    return UseUserManager() ? ::getgid() : 0;
}

bool IsTrustedOwner(uid_t uid)
{
    return uid == 0 || uid == ManagerUid();
}

std::string UserText(uid_t uid)
{
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? std::string(user->pw_name) : "uid " + std::to_string(uid);
}

[[noreturn]] void RefuseProgram(const std::string& program, const std::string& why)
{
    std::string trusted = "root";
    if (ManagerUid() != 0)
        trusted += " or " + UserText(ManagerUid());
    throw EOSError("The program " + program + " could be replaced by another user than " + trusted + ": " + why,
                   EPERM);
}

struct stat LinkStatus(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        const int code = errno;
        RaiseErrno("Cannot examine " + path, code);
    }
    return st;
}

void CheckOwner(const std::string& program, const std::string& path, const struct stat& st)
{
    if (!IsTrustedOwner(st.st_uid))
        RefuseProgram(program, path + " belongs to " + UserText(st.st_uid));
}

// Who besides the owner may write a directory, by its access list (its mode where it has none).
struct TWriters {
    bool GroupOrOthers = false;
    bool Users = false;
};

bool MayWrite(acl_entry_t entry)
{
    acl_permset_t permset = nullptr;
    return acl_get_permset(entry, &permset) == 0 && acl_get_perm(permset, ACL_WRITE) == 1;
}

TWriters WritersOf(const std::string& dir)
{
    TAcl acl(acl_get_file(dir.c_str(), ACL_TYPE_ACCESS));
    if (acl.Acl == nullptr) {
        const int code = errno;
        RaiseErrno("Cannot read the access list of " + dir, code);
    }
    bool maskWrite = true;
    bool groupWrite = false;
    TWriters writers;
    acl_entry_t entry = nullptr;
    for (int r = acl_get_entry(acl.Acl, ACL_FIRST_ENTRY, &entry); r == 1;
         r = acl_get_entry(acl.Acl, ACL_NEXT_ENTRY, &entry)) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        acl_get_tag_type(entry, &tag);
        const bool write = MayWrite(entry);
        if (tag == ACL_MASK)
            maskWrite = write;
        else if (tag == ACL_OTHER)
            writers.GroupOrOthers = writers.GroupOrOthers || write;
        else if (tag == ACL_GROUP_OBJ || tag == ACL_GROUP)
            groupWrite = groupWrite || write;
        else if (tag == ACL_USER)
            writers.Users = writers.Users || write;
    }
    // The mask limits every entry of the group class.
    writers.GroupOrOthers = writers.GroupOrOthers || (groupWrite && maskWrite);
    writers.Users = writers.Users && maskWrite;
    return writers;
}

void CheckProgramDirectory(const std::string& program, const std::string& dir)
{
    const struct stat st = LinkStatus(dir);
    if (!S_ISDIR(st.st_mode))
        RefuseProgram(program, dir + " is not a directory");
    CheckOwner(program, dir, st);
    const TWriters writers = WritersOf(dir);
    if (writers.GroupOrOthers)
        RefuseProgram(program, "its directory " + dir + " is writable by group or others");
    if (writers.Users && (st.st_mode & S_ISVTX) == 0)
        RefuseProgram(program, "its directory " + dir + " is writable by other users and not sticky");
}

void CheckDirectoryAbove(const std::string& program, const std::string& dir)
{
    const struct stat st = LinkStatus(dir);
    if (!S_ISDIR(st.st_mode))
        RefuseProgram(program, dir + " is not a directory");
    CheckOwner(program, dir, st);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
        RefuseProgram(program, dir + " is writable by group or others and not sticky");
}

TFileDescriptor OpenProgramDirectory(const std::string& programPath, std::string& dir)
{
    dir = ExtractFileDir(programPath);
    TFileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) {
        const int code = errno;
        RaiseErrno("Cannot open " + dir, code);
    }
    return fd;
}

void SetSticky(const TFileDescriptor& fd, const std::string& dir, bool sticky)
{
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        const int code = errno;
        RaiseErrno("Cannot examine " + dir, code);
    }
    // The mode as it is (its group bits are the access list's mask), the sticky bit set or cleared.
    const mode_t mode = sticky ? (st.st_mode & 07777) | S_ISVTX : st.st_mode & 07777 & ~S_ISVTX;
    if (::fchmod(fd.Get(), mode) != 0) {
        const int code = errno;
        RaiseErrno("Cannot change the mode of " + dir, code);
    }
}

// Removes the first entry of a named user; false when there is none.
bool RemoveUserEntry(acl_t acl)
{
    acl_entry_t entry = nullptr;
    for (int r = acl_get_entry(acl, ACL_FIRST_ENTRY, &entry); r == 1; r = acl_get_entry(acl, ACL_NEXT_ENTRY, &entry)) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        if (acl_get_tag_type(entry, &tag) == 0 && tag == ACL_USER)
            return acl_delete_entry(acl, entry) == 0;
    }
    return false;
}

bool AddUserEntry(acl_t& acl, uid_t uid)
{
    acl_entry_t entry = nullptr;
    acl_permset_t permset = nullptr;
    return acl_create_entry(&acl, &entry) == 0 && acl_set_tag_type(entry, ACL_USER) == 0 &&
           acl_set_qualifier(entry, &uid) == 0 && acl_get_permset(entry, &permset) == 0 &&
           acl_clear_perms(permset) == 0 && acl_add_perm(permset, ACL_READ) == 0 &&
           acl_add_perm(permset, ACL_WRITE) == 0 && acl_add_perm(permset, ACL_EXECUTE) == 0 &&
           acl_set_permset(entry, permset) == 0;
}

// The directory's access list with no user entry but the one for user, when given.
void SetUserEntry(const TFileDescriptor& fd, const std::string& dir, const uid_t* user)
{
    TAcl acl(acl_get_fd(fd.Get()));
    bool done = acl.Acl != nullptr;
    while (done && RemoveUserEntry(acl.Acl)) {
    }
    if (done && user != nullptr)
        done = AddUserEntry(acl.Acl, *user);
    done = done && acl_calc_mask(&acl.Acl) == 0 && acl_set_fd(fd.Get(), acl.Acl) == 0;
    if (!done) {
        const int code = errno;
        RaiseErrno("Cannot set the access list of " + dir, code);
    }
}

// Opens one of the service's files without following a link, making it first where create says
// so; on failure error holds the system's code.
TFileDescriptor OpenServiceFile(const TFileDescriptor& dirFd, const TServiceFile& file, bool create, int& error)
{
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    TFileDescriptor fd(::openat(dirFd.Get(), file.Name, flags));
    error = fd.Valid() ? 0 : errno;
    if (error != ENOENT || !create)
        return fd;
    TFileDescriptor made(::openat(dirFd.Get(), file.Name, flags | O_CREAT | O_EXCL, file.Mode));
    // The mode the service gives the file, whatever the umask.
    error = !made.Valid() || ::fchmod(made.Get(), file.Mode) != 0 ? errno : 0;
    return made;
}

// Gives one of the service's files to uid:gid, making it first where create says so.
void GiveServiceFile(const TFileDescriptor& dirFd, const std::string& dir, const TServiceFile& file, uid_t uid,
                     gid_t gid, bool create)
{
    const std::string path = dir + "/" + file.Name;
    int code = 0;
    const TFileDescriptor fd = OpenServiceFile(dirFd, file, create, code);
    if (code == ENOENT && !create)
        return;
    if (code == ELOOP)
        throw EOSError(path + " is a symbolic link, not the service's file", code);
    if (code != 0)
        RaiseErrno("Cannot make or open " + path, code);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        code = errno;
        RaiseErrno("Cannot examine " + path, code);
    }
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1)
        throw EOSError(path + " is not a regular file with one name, not the service's file", EPERM);
    if (::fchown(fd.Get(), uid, gid) != 0) {
        code = errno;
        RaiseErrno("Cannot give " + path + " to " + UserText(uid), code);
    }
}

// Whether an entry of the program's directory is the program or one of the service's files: a
// regular file (no link, no folder) of such a name.
bool IsServiceEntry(int dirFd, const std::string& name, const std::string& programName)
{
    bool serviceName = name == programName || name.rfind(ferrix::TemporaryNamePrefix, 0) == 0;
    for (const TServiceFile& file : ServiceFiles)
        serviceName = serviceName || name == file.Name;
    struct stat st {};
    return serviceName && ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

// The account may write in the directory: refuses one that holds anything besides the program and
// the service's files, such as other programs or the console and its plugin folders, which root runs.
void CheckDirectoryOfItsOwn(const TFileDescriptor& fd, const std::string& dir, const std::string& programName)
{
    const int listed = ::openat(fd.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::unique_ptr<DIR, int (*)(DIR*)> entries(listed >= 0 ? ::fdopendir(listed) : nullptr, ::closedir);
    if (!entries) {
        const int code = errno;
        if (listed >= 0)
            ::close(listed);
        RaiseErrno("Cannot read " + dir, code);
    }
    while (const dirent* entry = ::readdir(entries.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && !IsServiceEntry(fd.Get(), name, programName))
            throw EOSError("The directory " + dir + " holds " + name + ": the service may run as an account only "
                               "from a directory that holds nothing but " + programName +
                               " and the service's own files (ferrix.log, ferrix.ini and its temporary files)",
                           EPERM);
    }
}

}  // namespace

void CheckProgramPath(const std::string& programPath)
{
    char* real = ::realpath(programPath.c_str(), nullptr);
    if (real == nullptr) {
        const int code = errno;
        RaiseErrno("Cannot examine the program " + programPath, code);
    }
    const std::string canonical = real;
    std::free(real);
    if (canonical != programPath)
        RefuseProgram(programPath, "its path is not canonical (the real path is " + canonical + ")");
    const struct stat st = LinkStatus(programPath);
    if (!S_ISREG(st.st_mode))
        RefuseProgram(programPath, "it is not a regular file");
    CheckOwner(programPath, programPath, st);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        RefuseProgram(programPath, "it is writable by group or others");
    std::string dir = ExtractFileDir(programPath);
    CheckProgramDirectory(programPath, dir);
    while (dir != "/") {
        dir = ExtractFileDir(dir);
        CheckDirectoryAbove(programPath, dir);
    }
}

void CheckProgramDirectoryOfItsOwn(const std::string& programPath)
{
    std::string dir;
    const TFileDescriptor fd = OpenProgramDirectory(programPath, dir);
    CheckDirectoryOfItsOwn(fd, dir, ExtractFileName(programPath));
}

void HandProgramDirectoryTo(const std::string& programPath, uid_t uid, gid_t gid)
{
    std::string dir;
    const TFileDescriptor fd = OpenProgramDirectory(programPath, dir);
    CheckDirectoryOfItsOwn(fd, dir, ExtractFileName(programPath));
    // Sticky before the user may write: never a moment in which the user could rename the program.
    SetSticky(fd, dir, true);
    SetUserEntry(fd, dir, &uid);
    for (const TServiceFile& file : ServiceFiles)
        GiveServiceFile(fd, dir, file, uid, gid, true);
}

void TakeBackProgramDirectory(const std::string& programPath)
{
    std::string dir;
    const TFileDescriptor fd = OpenProgramDirectory(programPath, dir);
    SetUserEntry(fd, dir, nullptr);
    SetSticky(fd, dir, false);
    for (const TServiceFile& file : ServiceFiles)
        GiveServiceFile(fd, dir, file, ManagerUid(), ManagerGid(), false);
}

}  // namespace ferrix
