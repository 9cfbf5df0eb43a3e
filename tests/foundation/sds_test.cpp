#include "foundation/sds.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include "platform/files/findfile.h"
#include "testkit.h"

TEST(AppDir, IsTheProgramDirectoryAndTempPointsThere)
{
    const std::string dir = AppDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_TRUE(FileExists(dir + "/sds_test"));
    EXPECT_EQ(std::string(getenv("TEMP")), dir);
    EXPECT_EQ(std::string(getenv("TMP")), dir);
    EXPECT_EQ(ferrix::ProgramDirectoryOf("/prog"), "/");
    EXPECT_EQ(ferrix::ProgramDirectoryOf("/opt/svc/prog"), "/opt/svc");
}

TEST(GetField, EmptyFieldsAndLimits)
{
    EXPECT_EQ(GetField("a;;b", ';', 1), "");
    EXPECT_EQ(GetField("a;;b", ';', 2), "b");
    EXPECT_EQ(GetField(";x", ';', 0), "");
    EXPECT_EQ(GetField(";x", ';', 1), "x");
    EXPECT_EQ(GetField("a;b", ';', 5), "");
    EXPECT_EQ(GetField("a;b", ';', -1), "");
    EXPECT_EQ(GetField(" a ;b", ';', 0), " a ");
    EXPECT_EQ(GetField(std::string(300, 'z') + ";b", ';', 0), std::string(255, 'z'));
}

TEST(FormatUtcBias, SignHoursMinutes)
{
    EXPECT_EQ(FormatUtcBias(-60), "(UTC +01:00)");
    EXPECT_EQ(FormatUtcBias(0), "(UTC +00:00)");
    EXPECT_EQ(FormatUtcBias(300), "(UTC -05:00)");
    EXPECT_EQ(FormatUtcBias(-330), "(UTC +05:30)");
    EXPECT_EQ(FormatUtcBias(-90), "(UTC +01:30)");
}

TEST(FileTimeToDateTime, KeepsUtcAndMilliseconds)
{
    TempDir dir;
    WriteTextFile(dir / "f.arg", "x");
    // 2026-12-07 22:01:24.123 UTC
    SetFileTime(dir / "f.arg", 1796680884, 123);
    TSearchRec rec;
    ASSERT_TRUE(ferrix::FindFile(dir / "f.arg", rec));
    const TDateTimeParts p = DecodeDateTime(FileTimeToDateTime(rec.Time));
    EXPECT_EQ(p.Year, 2026);
    EXPECT_EQ(p.Month, 12);
    EXPECT_EQ(p.Day, 7);
    EXPECT_EQ(p.Hour, 22);
    EXPECT_EQ(p.Minute, 1);
    EXPECT_EQ(p.Second, 24);
    EXPECT_EQ(p.MSec, 123);
}

TEST(GetFileSize64, FilesDirectoriesAndMissingPaths)
{
    TempDir dir;
    WriteTextFile(dir / "f", std::string(1000, 'x'));
    EXPECT_EQ(GetFileSize64(dir / "f"), 1000);
    EXPECT_EQ(GetFileSize64(dir.Path()), 0);
    EXPECT_EQ(GetFileSize64(dir / "missing"), 0);
}

TEST(FormatSystemTime, DayMonthYearTime)
{
    SYSTEMTIME st;
    st.wYear = 2026;
    st.wMonth = 12;
    st.wDay = 7;
    st.wHour = 9;
    st.wMinute = 5;
    st.wSecond = 3;
    st.wMilliseconds = 999;
    EXPECT_EQ(FormatSystemTime(st), "07.12.2026 09:05:03");
}

TEST(SplitUserName, DomainAndUser)
{
    std::string domain = "old", user = "old";
    SplitUserName("dom\\sub\\user", domain, user);
    EXPECT_EQ(domain, "dom");
    EXPECT_EQ(user, "sub\\user");
    SplitUserName("plain", domain, user);
    EXPECT_EQ(domain, "");
    EXPECT_EQ(user, "plain");
    SplitUserName(".\\name", domain, user);
    EXPECT_EQ(domain, ".");
    EXPECT_EQ(user, "name");
}
