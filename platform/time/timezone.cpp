#include "platform/time/timezone.h"

#include <ctime>
#include <langinfo.h>

namespace {

// The first character of a strftime format that is neither a conversion nor a letter.
char SeparatorOf(const char* format, char fallback)
{
    if (format == nullptr)
        return fallback;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p == '%') {
            if (p[1] == '\0')
                break;
            ++p;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c > ' ' && !((c | 0x20) >= 'a' && (c | 0x20) <= 'z'))
            return *p;
    }
    return fallback;
}

}  // namespace

int ferrix::GetTimeZoneBaseBias()
{
    tzset();
    return static_cast<int>(timezone / 60);
}

int ferrix::GetTimeZoneCurrentBias()
{
    const time_t now = time(nullptr);
    tm parts{};
    localtime_r(&now, &parts);
    return static_cast<int>(-parts.tm_gmtoff / 60);
}

char ferrix::LocaleDateSeparator()
{
    return SeparatorOf(nl_langinfo(D_FMT), '/');
}

char ferrix::LocaleTimeSeparator()
{
    return SeparatorOf(nl_langinfo(T_FMT), ':');
}
