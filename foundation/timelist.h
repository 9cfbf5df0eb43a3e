// The check times of exact-time mode: times of day in seconds since midnight, read from and
// written as a blank-separated text of hours and minutes ("08:00 12:30").
#pragma once

#include <string>
#include <vector>

#include "base/sysutils.h"

class TTimeList {
public:
    // Raises like SetText for a refused text.
    explicit TTimeList(const std::string& text);

    // Fills the list from text with ":" between the parts and sorts it.
    void SetText(const std::string& text);
    std::string GetText() const;
    // The same with the time separator of the user's regional settings.
    void SetLocalText(const std::string& text);
    std::string GetLocalText() const;

    // Empties the list and appends the times of text in the order of the text, unsorted.
    // A refused token raises Exception("Wrong time value \"token\"") and leaves the times
    // before it in the list.
    void ParseTimes(const std::string& text, char separator);
    // "hh<sep>mm" per time, joined with one blank; seconds are not written.
    std::string FormatTimes(char separator) const;

    int Count() const { return static_cast<int>(Times.size()); }
    // The listed time of day nearest to the moment's time of day (the earlier one on a tie),
    // as a fraction of a day; -1/86400 for an empty list.
    TDateTime Nearest(TDateTime moment) const;
    // The first listed time of day strictly after the moment's, as a fraction of a day; -1 when
    // there is none.
    TDateTime NextAfter(TDateTime moment) const;

    // Seconds since midnight, 0 to 86399; ascending after SetText and SetLocalText.
    std::vector<int> Times;
};
