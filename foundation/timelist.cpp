#include "foundation/timelist.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "foundation/sds.h"
#include "platform/time/timezone.h"

namespace {

// The longest token, as the field reader gives it.
constexpr size_t MaxTokenLength = 255;

std::string CollapseBlanks(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (c == ' ' && !result.empty() && result.back() == ' ')
            continue;
        result += c;
    }
    return result;
}

// The blank-separated tokens of a text without double blanks, each cut to MaxTokenLength.
std::vector<std::string> SplitTokens(const std::string& text)
{
    std::vector<std::string> tokens;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        if (end == start)
            break;
        tokens.push_back(text.substr(start, std::min(end - start, MaxTokenLength)));
        start = end + 1;
    }
    return tokens;
}

// Seconds since midnight of one token, or -1 when it is not a time of day.
int TokenSeconds(const std::string& token, char separator)
{
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    if (!TryStrToInt(GetField(token, separator, 0), hours) || !TryStrToInt(GetField(token, separator, 1), minutes))
        return -1;
    const std::string secondsField = GetField(token, separator, 2);
    if (!secondsField.empty() && !TryStrToInt(secondsField, seconds))
        return -1;
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59)
        return -1;
    return hours * 3600 + minutes * 60 + seconds;
}

// The time of day of a moment in whole seconds, half seconds rounding to even.
int64_t SecondOfDay(TDateTime moment)
{
    double whole = 0;
    const double fraction = std::modf(moment, &whole);
    if (!std::isfinite(fraction))
        return 0;
    return static_cast<int64_t>(std::nearbyint(fraction * SecsPerDay));
}

}  // namespace

TTimeList::TTimeList(const std::string& text)
{
    SetText(text);
}

void TTimeList::SetText(const std::string& text)
{
    ParseTimes(text, ':');
    std::sort(Times.begin(), Times.end());
}

std::string TTimeList::GetText() const
{
    return FormatTimes(':');
}

void TTimeList::SetLocalText(const std::string& text)
{
    ParseTimes(text, ferrix::LocaleTimeSeparator());
    std::sort(Times.begin(), Times.end());
}

std::string TTimeList::GetLocalText() const
{
    return FormatTimes(ferrix::LocaleTimeSeparator());
}

void TTimeList::ParseTimes(const std::string& text, char separator)
{
    Times.clear();
    for (const std::string& token : SplitTokens(CollapseBlanks(Trim(text)))) {
        const int seconds = TokenSeconds(token, separator);
        if (seconds < 0)
            throw Exception("Wrong time value \"" + token + "\"");
        Times.push_back(seconds);
    }
}

std::string TTimeList::FormatTimes(char separator) const
{
    const char sep[2] = {separator, '\0'};
    std::string result;
    for (const int entry : Times) {
        const int hours = entry / 3600;
        const int minutes = (entry - hours * 3600) / 60;
        if (!result.empty())
            result += ' ';
        result += Format("%2.2d%s%2.2d", hours, sep, minutes);
    }
    return result;
}

TDateTime TTimeList::Nearest(TDateTime moment) const
{
    const int64_t s = SecondOfDay(moment);
    int64_t bestDistance = std::numeric_limits<int32_t>::max();
    int best = -1;
    for (const int entry : Times) {
        const int64_t distance = std::llabs(s - entry);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = entry;
        }
    }
    return best / SecsPerDay;
}

TDateTime TTimeList::NextAfter(TDateTime moment) const
{
    const int64_t s = SecondOfDay(moment);
    for (const int entry : Times) {
        if (entry > s)
            return entry / SecsPerDay;
    }
    return -1;
}
