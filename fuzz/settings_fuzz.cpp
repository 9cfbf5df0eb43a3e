// Settings file reading, key writes and check-time parsing on arbitrary bytes. Besides not
// crashing, a write must read back as written and leave every other key as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "foundation/inifile.h"
#include "foundation/timelist.h"
#include "foundation/trconfig.h"

namespace {

const std::string& ScratchFile()
{
    static const std::string path = [] {
        char name[] = "/tmp/ferrix-settings-fuzz-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd < 0)
            std::abort();
        ::close(fd);
        return std::string(name);
    }();
    return path;
}

void WriteScratch(const std::string& content)
{
    FILE* file = std::fopen(ScratchFile().c_str(), "wb");
    if (file == nullptr)
        std::abort();
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
}

// Names the writer never has to quote: letters and digits only.
std::string SafeName(FuzzedDataProvider& data)
{
    std::string name = data.ConsumeRandomLengthString(8);
    std::string result;
    for (const char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            result += c;
    }
    return result.empty() ? "k" : result;
}

void CheckTimeList(const std::string& text, char separator)
{
    TTimeList list("");
    try {
        list.ParseTimes(text, separator);
    } catch (const Exception&) {
        return;
    }
    for (const int t : list.Times) {
        if (t < 0 || t > 86399)
            std::abort();
    }
    // What is written reads back to the same times without seconds.
    const std::string written = list.FormatTimes(separator);
    TTimeList back("");
    back.ParseTimes(written, separator);
    if (back.Count() != list.Count())
        std::abort();
    for (size_t i = 0; i < list.Times.size(); ++i) {
        if (back.Times[i] != list.Times[i] / 60 * 60)
            std::abort();
    }
    list.SetText(list.GetText());
    const TDateTime next = list.NextAfter(0.5);
    if (next != -1 && (next <= 0.5 || next >= 1))
        std::abort();
    if (list.Count() > 0 && list.Nearest(0.25) < 0)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const bool saveWhole = data.ConsumeBool();  // the costly whole save on some inputs only
    const std::string content = data.ConsumeRandomLengthString(size);
    WriteScratch(content);

    CheckTimeList(content, ':');
    CheckTimeList(content, '.');

    TMemIniFile ini(ScratchFile());
    TTransportConfig config;
    try {
        config.LoadFromIni(ini);
    } catch (const Exception&) {
    }

    struct TWrite {
        std::string Section, Ident, Value;
    };
    std::vector<TWrite> writes;
    while (data.remaining_bytes() > 0 && writes.size() < 8) {
        // Names holding "=", "]", line breaks and the like need only keep the index right.
        if (!data.ConsumeBool()) {
            TWrite odd{data.ConsumeRandomLengthString(8), data.ConsumeRandomLengthString(8), data.ConsumeRandomLengthString(16)};
            ini.WriteString(odd.Section, odd.Ident, odd.Value);
            writes.push_back(odd);
            continue;
        }
        TWrite write{SafeName(data), SafeName(data), data.ConsumeRandomLengthString(64)};
        std::vector<std::string> before;
        for (const TWrite& w : writes)
            before.push_back(ini.ReadString(w.Section, w.Ident, "\x01missing"));
        ini.WriteString(write.Section, write.Ident, write.Value);
        std::string oneLine = write.Value;
        for (char& c : oneLine) {
            if (c == '\r' || c == '\n')
                c = ' ';
        }
        if (ini.ReadString(write.Section, write.Ident, "\x01missing") != Trim(oneLine))
            std::abort();
        for (size_t i = 0; i < writes.size(); ++i) {
            const bool same = SameText(writes[i].Section, write.Section) && SameText(writes[i].Ident, write.Ident);
            if (!same && ini.ReadString(writes[i].Section, writes[i].Ident, "\x01missing") != before[i])
                std::abort();
        }
        writes.push_back(write);
    }
    if (!saveWhole)
        return 0;
    config.SaveToIni(ini);
    // The index kept up to date write by write must agree with a fresh read of the text.
    ini.UpdateFile();
    TMemIniFile fresh(ScratchFile());
    writes.push_back({"Transport", "Port", ""});
    writes.push_back({"Directory63", "TrackDirectory", ""});
    writes.push_back({"General", "ExactTime", ""});
    for (const TWrite& w : writes) {
        if (fresh.ReadString(w.Section, w.Ident, "\x01missing") != ini.ReadString(w.Section, w.Ident, "\x01missing"))
            std::abort();
    }
    TTransportConfig back;
    back.LoadFromIni(fresh);
    if (back.Port != config.Port || back.GetTrackDirectory(63) != Trim(config.GetTrackDirectory(63)))
        std::abort();
    return 0;
}
