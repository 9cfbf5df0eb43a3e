// Feeds arbitrary bytes to the status-file reader, then checks that what the writer makes of
// the result reads back with every recorded file unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/dirdesc.h"

namespace {

TDirectoryItems ListedFiles()
{
    TDirectoryItems items;
    items.Add("b.arg", {3, EncodeDateTime(2026, 12, 7, 22, 1, 24, 123), true});
    items.Add("A.ARG", {0, EncodeDateTime(2000, 1, 1, 0, 0, 0, 1), true});
    items.Add("a.arg", {4294967295u, EncodeDateTime(1999, 2, 28, 23, 59, 59, 999), true});
    items.Add("shop info.arg", {1234, EncodeDateTime(2026, 12, 7, 9, 0, 0, 0), true});
    items.Sort();
    return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr int Bias = -60;
    TDirectoryItems items = ListedFiles();
    ReadStatusText(items, std::string_view(reinterpret_cast<const char*>(data), size), Bias);

    const std::string written = WriteStatusText("/data/shop", "arg", items, EncodeDateTime(2026, 12, 7, 23, 0, 0, 0), Bias);
    TDirectoryItems again = ListedFiles();
    ReadStatusText(again, written, Bias);
    for (int i = 0; i < items.Count(); ++i)
        if (items[i].Name != again[i].Name || (!items[i].Status.Changed && again[i].Status.Changed))
            std::abort();
    return 0;
}
