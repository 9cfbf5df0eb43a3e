#include "foundation/timelist.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::string RefusalOf(const std::string& text)
{
    TTimeList list("");
    try {
        list.SetText(text);
    } catch (const EConvertError&) {
        return "EConvertError instead of the plain error";
    } catch (const Exception& e) {
        return e.Message();
    }
    return "accepted";
}

TDateTime At(int hour, int minute, double second)
{
    return (hour * 3600 + minute * 60 + second) / SecsPerDay;
}

}  // namespace

TEST(TimeListText, ReadsSortsAndWritesHoursAndMinutes)
{
    TTimeList list("18:00");
    EXPECT_EQ(list.Times, std::vector<int>{64800});
    EXPECT_EQ(list.GetText(), "18:00");

    list.SetText("   08:00   12:30  ");
    EXPECT_EQ(list.Times, (std::vector<int>{28800, 45000}));

    list.SetText("12:30 08:00");
    EXPECT_EQ(list.GetText(), "08:00 12:30");

    list.SetText("10:00 10:00");
    EXPECT_EQ(list.GetText(), "10:00 10:00");

    list.SetText("8:5");
    EXPECT_EQ(list.GetText(), "08:05");
    list.SetText("08:00:30");
    EXPECT_EQ(list.Times, std::vector<int>{28830});
    EXPECT_EQ(list.GetText(), "08:00");
    list.SetText("08:00:");
    EXPECT_EQ(list.Times, std::vector<int>{28800});
    list.SetText("08:00:00:99");
    EXPECT_EQ(list.Times, std::vector<int>{28800});
    list.SetText("23:59:59");
    EXPECT_EQ(list.Times, std::vector<int>{86399});
    // The integer rules: sign and hexadecimal prefixes.
    list.SetText("+0x8:$1E x0a:0X0F:+7");
    EXPECT_EQ(list.Times, (std::vector<int>{30600, 36907}));

    for (const char* blank : {"", "   ", "\t \r\n"}) {
        list.SetText(blank);
        EXPECT_EQ(list.Count(), 0) << blank;
        EXPECT_EQ(list.GetText(), "");
    }
}

TEST(TimeListText, RefusesTimesOutsideTheDayWithTheWholeToken)
{
    EXPECT_EQ(RefusalOf("8"), "Wrong time value \"8\"");
    EXPECT_EQ(RefusalOf("24:00"), "Wrong time value \"24:00\"");
    EXPECT_EQ(RefusalOf("23:60"), "Wrong time value \"23:60\"");
    EXPECT_EQ(RefusalOf("12:00:60"), "Wrong time value \"12:00:60\"");
    EXPECT_EQ(RefusalOf("-1:00"), "Wrong time value \"-1:00\"");
    EXPECT_EQ(RefusalOf("08:0x"), "Wrong time value \"08:0x\"");
    EXPECT_EQ(RefusalOf("08: 30"), "Wrong time value \"08:\"");
    EXPECT_EQ(RefusalOf("08:00\t09:00"), "Wrong time value \"08:00\t09:00\"");
    EXPECT_EQ(RefusalOf("99999999999:00"), "Wrong time value \"99999999999:00\"");
}

TEST(TimeListText, RefusalKeepsEarlierTimesUnsorted)
{
    TTimeList list("07:00");
    EXPECT_THROW(list.SetText("08:00 xx 09:00"), Exception);
    EXPECT_EQ(list.Times, std::vector<int>{28800});

    EXPECT_THROW(list.SetText("12:00 08:00 25:00"), Exception);
    EXPECT_EQ(list.Times, (std::vector<int>{43200, 28800}));

    EXPECT_THROW(list.SetText("bad 08:00"), Exception);
    EXPECT_EQ(list.Count(), 0);
}

TEST(TimeListText, OtherSeparatorForTheUsersRegionalFormat)
{
    TTimeList list("");
    list.ParseTimes("12.30 08.00", '.');
    EXPECT_EQ(list.Times, (std::vector<int>{45000, 28800}));  // parsing alone does not sort
    EXPECT_EQ(list.FormatTimes('.'), "12.30 08.00");
    EXPECT_THROW(list.ParseTimes("08:00", '.'), Exception);

    // The C locale gives ":".
    list.SetLocalText("12:30 08:00");
    EXPECT_EQ(list.GetLocalText(), "08:00 12:30");
}

TEST(TimeListQueries, NearestPrefersTheEarlierTimeOnATie)
{
    TTimeList list("12:00 08:00");
    EXPECT_DOUBLE_EQ(list.Nearest(At(10, 0, 0)), At(8, 0, 0));
    EXPECT_DOUBLE_EQ(list.Nearest(At(10, 0, 1)), At(12, 0, 0));
    // No wrap past midnight.
    EXPECT_DOUBLE_EQ(list.Nearest(At(23, 59, 0)), At(12, 0, 0));
    TTimeList midnight("00:10 12:00");
    EXPECT_DOUBLE_EQ(midnight.Nearest(At(23, 59, 0)), At(12, 0, 0));
    // Only the time of day of the moment counts.
    EXPECT_DOUBLE_EQ(list.Nearest(46000.0 + At(7, 0, 0)), At(8, 0, 0));
    EXPECT_DOUBLE_EQ(TTimeList("").Nearest(At(10, 0, 0)), -1.0 / SecsPerDay);
}

TEST(TimeListQueries, NextAfterIsStrictlyLaterAndRoundsTheMoment)
{
    TTimeList list("12:00 08:00");
    EXPECT_DOUBLE_EQ(list.NextAfter(At(7, 0, 0)), At(8, 0, 0));
    EXPECT_DOUBLE_EQ(list.NextAfter(At(8, 0, 0)), At(12, 0, 0));
    EXPECT_DOUBLE_EQ(list.NextAfter(At(12, 0, 0)), -1.0);
    EXPECT_DOUBLE_EQ(list.NextAfter(At(11, 59, 59.6)), -1.0);
    EXPECT_DOUBLE_EQ(list.NextAfter(At(11, 59, 59.4)), At(12, 0, 0));
    EXPECT_DOUBLE_EQ(TTimeList("").NextAfter(At(1, 0, 0)), -1.0);

    // A half second rounds to the even neighbour: 1.5 to 2, 2.5 to 2.
    TTimeList list2("00:00:02 00:00:03");
    ASSERT_EQ(At(0, 0, 2.5) * SecsPerDay, 2.5);
    ASSERT_EQ(At(0, 0, 1.5) * SecsPerDay, 1.5);
    EXPECT_DOUBLE_EQ(list2.NextAfter(At(0, 0, 1.5)), 3.0 / SecsPerDay);
    EXPECT_DOUBLE_EQ(list2.NextAfter(At(0, 0, 2.5)), 3.0 / SecsPerDay);
    EXPECT_DOUBLE_EQ(list2.NextAfter(At(0, 0, 1.4)), 2.0 / SecsPerDay);
}
