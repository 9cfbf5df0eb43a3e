// Time of saving a whole transport settings object: once batched into one replacement of the
// file (SaveToFile), once with every key written to the file at once (TIniFile).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "foundation/inifile.h"
#include "foundation/trconfig.h"

namespace {

double MillisecondsPerSave(int rounds, const auto& save)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        save(i);
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / rounds;
}

}  // namespace

int main()
{
    char dirTemplate[] = "/tmp/ferrix-bench-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr)
        return 1;
    const std::string dir = dirTemplate;
    const std::string path = dir + "/ferrix.ini";

    TTransportConfig config;
    for (int n = 0; n < TrackDirectoryCount; n += 4)
        config.SetTrackDirectory(n, "/srv/shop/data" + std::to_string(n));
    config.SetDestination(0, "ftp.example.com");
    config.SaveToFile(path);

    constexpr int Rounds = 20;
    const double batched = MillisecondsPerSave(Rounds, [&](int i) {
        config.TimeBetweenActions = 60 + i;
        config.SaveToFile(path);
    });
    const double perKey = MillisecondsPerSave(Rounds, [&](int i) {
        config.TimeBetweenActions = 120 + i;
        TIniFile ini(path);
        config.SaveToIni(ini);
    });
    std::printf("save of %d keys, one replacement of the file: %.2f ms\n", 4 + TrackDirectoryCount + 15, batched);
    std::printf("save of %d keys, one replacement per key:   %.2f ms\n", 4 + TrackDirectoryCount + 15, perKey);

    ::unlink(path.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
