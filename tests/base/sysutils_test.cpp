#include "base/sysutils.h"

#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

#include "testkit.h"

namespace {

// While it lives, the process runs in a Turkish locale built into a directory of the test, where
// the C library's toupper('i') is 'i' and tolower('I') is 'I'; the old locale comes back after.
class TTurkishLocale {
public:
    TTurkishLocale()
    {
        const char* old = std::setlocale(LC_ALL, nullptr);
        Previous = old != nullptr ? old : "C";
        const std::string command = "localedef -i tr_TR -f UTF-8 '" + (Dir / "tr_TR.UTF-8") + "' >/dev/null 2>&1";
        // localedef reports warnings by exit status 1 and still writes the locale.
        const int status = std::system(command.c_str());
        setenv("LOCPATH", Dir.Path().c_str(), 1);
        Active = WIFEXITED(status) && WEXITSTATUS(status) <= 1 && std::setlocale(LC_ALL, "tr_TR.UTF-8") != nullptr;
    }
    ~TTurkishLocale()
    {
        std::setlocale(LC_ALL, Previous.c_str());
        unsetenv("LOCPATH");
    }
    TTurkishLocale(const TTurkishLocale&) = delete;
    TTurkishLocale& operator=(const TTurkishLocale&) = delete;
    bool Active = false;

private:
    TempDir Dir;
    std::string Previous;
};

}  // namespace

TEST(TextCase, OnlyTheLettersAToZChangeWhateverTheLocale)
{
    TTurkishLocale turkish;
    ASSERT_TRUE(turkish.Active) << "needs localedef and the locale sources (Debian package locales)";
    EXPECT_EQ(UpperCase("chain 1 \xc3\xa9"), "CHAIN 1 \xc3\xa9");
    EXPECT_EQ(LowerCase("INCLUDE \xc3\x89"), "include \xc3\x89");
    EXPECT_TRUE(SameText("include", "Include"));
    EXPECT_TRUE(SameText("Directory0", "DIRECTORY0"));
    EXPECT_FALSE(SameText("Directory0", "Directory"));
    EXPECT_EQ(CompareText("item", "ITEM"), 0);
    EXPECT_LT(CompareText("a", "B"), 0);
    EXPECT_GT(CompareText("ab", "A"), 0);
    EXPECT_LT(CompareText("A", "ab"), 0);
}

TEST(DateTime, EpochAndKnownDays)
{
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_THROW(EncodeDate(2026, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    EXPECT_NO_THROW(EncodeDate(2024, 2, 29));
}

TEST(DateTime, RoundTripsThroughSystemTime)
{
    const TDateTime t = EncodeDateTime(2026, 12, 7, 23, 59, 59, 999);
    const SYSTEMTIME st = DateTimeToSystemTime(t);
    EXPECT_EQ(st.wYear, 2026);
    EXPECT_EQ(st.wMonth, 12);
    EXPECT_EQ(st.wDay, 7);
    EXPECT_EQ(st.wDayOfWeek, 1);  // a Monday
    EXPECT_EQ(st.wHour, 23);
    EXPECT_EQ(st.wMinute, 59);
    EXPECT_EQ(st.wSecond, 59);
    EXPECT_EQ(st.wMilliseconds, 999);
    EXPECT_DOUBLE_EQ(SystemTimeToDateTime(st), t);
    EXPECT_THROW(SystemTimeToDateTime(SYSTEMTIME{}), EConvertError);
}

TEST(DateTime, NowIsLocalAndCloseToUtc)
{
    const double diffHours = (Now() - NowUtc()) * 24.0;
    EXPECT_LE(std::abs(diffHours), 14.0);
}
