#include "base/sysutils.h"

#include <gtest/gtest.h>

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
