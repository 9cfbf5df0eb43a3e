#include "platform/logon/logon.h"

#include <cerrno>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "testkit.h"
#include "testuser.h"

namespace {

constexpr const char* KnownPassword = "Tr4nsport-pw";

// Owner of a new file the calling thread creates in dir, or -1 with the creation refused.
long OwnerOfNewFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_EXCL, 0600);
    if (fd < 0)
        return -1;
    struct stat st {};
    ::fstat(fd, &st);
    ::close(fd);
    return st.st_uid;
}

class Logon : public ::testing::Test {
protected:
    TTestUser User{"lg", KnownPassword};
    TempDir Dir;
    std::string Shared;  // writable by everybody

    void SetUp() override
    {
        Shared = Dir / "shared";
        ::mkdir(Shared.c_str(), 0777);
        ::chmod(Shared.c_str(), 0777);
        ::chmod(Dir.Path().c_str(), 0755);
    }
};

}  // namespace

// The thread acts as the user for files until it reverts; the process's other threads never do.
TEST_F(Logon, ImpersonationChangesOnlyTheCallingThreadsFileIdentity)
{
    HANDLE token = 0;
    ASSERT_TRUE(LogonUserA(User.Name(), ".", KnownPassword, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, token))
        << LogonErrorText(GetLastLogonError());
    ASSERT_NE(token, 0U);
    const std::string rootOnly = Dir / "rootonly";
    ::mkdir(rootOnly.c_str(), 0700);

    // A thread started before the impersonation: one started during it would inherit it.
    std::promise<void> impersonated;
    std::future<long> otherThread = std::async(std::launch::async, [&impersonated] {
        impersonated.get_future().wait();
        return ThreadFsUid();
    });
    ASSERT_TRUE(ImpersonateLoggedOnUser(token));
    impersonated.set_value();
    EXPECT_TRUE(IsImpersonating());
    EXPECT_EQ(ThreadFsUid(), static_cast<long>(User.Uid()));
    EXPECT_EQ(ThreadId("Gid:", 4), static_cast<long>(User.Gid()));
    EXPECT_EQ(ThreadId("Uid:", 2), 0) << "the effective uid stays root";
    EXPECT_EQ(otherThread.get(), 0);
    EXPECT_EQ(OwnerOfNewFile(Shared + "/as-user"), static_cast<long>(User.Uid()));
    EXPECT_EQ(OwnerOfNewFile(rootOnly + "/denied"), -1) << "root's override of file permissions is gone";
    EXPECT_EQ(errno, EACCES);

    ASSERT_TRUE(RevertToSelf());
    EXPECT_FALSE(IsImpersonating());
    EXPECT_EQ(ThreadFsUid(), 0);
    EXPECT_EQ(ThreadId("Gid:", 4), 0);
    EXPECT_EQ(OwnerOfNewFile(rootOnly + "/as-root"), 0);
    EXPECT_TRUE(RevertToSelf()) << "a thread that does not impersonate reverts at once";

    EXPECT_TRUE(CloseHandle(token));
    EXPECT_FALSE(CloseHandle(token));
    EXPECT_EQ(GetLastLogonError(), static_cast<DWORD>(EINVAL));
    EXPECT_FALSE(ImpersonateLoggedOnUser(token));
    EXPECT_EQ(ThreadFsUid(), 0);
}

TEST_F(Logon, RefusesAWrongPasswordAndAnotherDomain)
{
    HANDLE token = 7;
    EXPECT_FALSE(LogonUserA(User.Name(), "", "wrong", LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, token));
    EXPECT_EQ(token, 0U);
    EXPECT_EQ(GetLastLogonError(), ERROR_LOGON_FAILURE);
    EXPECT_EQ(LogonErrorText(GetLastLogonError()), "The user name or password is incorrect.");

    EXPECT_FALSE(LogonUserA(User.Name(), "CORPDOM", KnownPassword, LOGON32_LOGON_INTERACTIVE,
                            LOGON32_PROVIDER_DEFAULT, token));
    EXPECT_EQ(GetLastLogonError(), ERROR_NO_SUCH_DOMAIN);
    EXPECT_EQ(LogonErrorText(ERROR_NO_SUCH_DOMAIN),
              "Only an account of this PC can log on: the domain must be \".\" or this PC's name.");
    EXPECT_EQ(LogonErrorText(ENOENT), "No such file or directory");
}

// This PC's name in any letter case is this PC.
TEST_F(Logon, AcceptsThisPcsNameAsDomain)
{
    std::string host = HostName();
    host = host.substr(0, host.find('.'));
    for (char& c : host)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    HANDLE token = 0;
    ASSERT_TRUE(LogonUserA(User.Name(), host, KnownPassword, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, token))
        << LogonErrorText(GetLastLogonError());
    EXPECT_TRUE(CloseHandle(token));
}

// A thread that has lost the right to change its groups cannot revert: it says so and stays marked
// as impersonating, and reverts once the right is back.
TEST_F(Logon, RevertThatCannotRestoreTheIdentityFailsAndCanBeRetried)
{
    HANDLE token = 0;
    ASSERT_TRUE(LogonUserA(User.Name(), "", KnownPassword, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, token));
    bool failed = false, marked = false, retried = false;
    long after = -1;
    std::thread([&] {
        if (!ImpersonateLoggedOnUser(token))
            return;
        SetEffectiveCapability(CAP_SETUID, false);
        SetEffectiveCapability(CAP_SETGID, false);
        failed = !RevertToSelf() && GetLastLogonError() == static_cast<DWORD>(EPERM);
        marked = IsImpersonating();
        SetEffectiveCapability(CAP_SETUID, true);
        SetEffectiveCapability(CAP_SETGID, true);
        retried = RevertToSelf();
        after = ThreadFsUid();
    }).join();
    EXPECT_TRUE(failed);
    EXPECT_TRUE(marked);
    EXPECT_TRUE(retried);
    EXPECT_EQ(after, 0);
    CloseHandle(token);
}
