// Times a no-change pass of TDirectoryList (create + compare, hand-over, save) over a directory
// of 100,000 files against a plain stat walk of the same directory.
//   dirlist_bench [file count] [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "service/dirdesc.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// readdir + stat of every entry: what any listing of the directory has to pay.
size_t StatWalk(const std::string& dir)
{
    size_t regular = 0;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return 0;
    while (dirent* entry = readdir(d)) {
        struct stat st {};
        if (fstatat(dirfd(d), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
            ++regular;
    }
    closedir(d);
    return regular;
}

void MakeFiles(const std::string& dir, int count)
{
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/Shop%06d_%s.arg", (i * 7919) % count, i % 2 ? "caisse" : "CNT");
        const std::string path = dir + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            std::perror(path.c_str());
            std::exit(1);
        }
        std::fprintf(f, "%d\n", i);
        std::fclose(f);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    // The program points TMP at its own directory; take the caller's temp directory.
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/dirlist-bench-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    std::printf("building %d files in %s\n", count, dir.c_str());
    MakeFiles(dir, count);
    {
        TDirectoryList first(dir, "arg", "bench", "tr2list0.dst");
        first.ProcessChanged([](const std::string&, const std::string&, bool&) { return true; });
        first.SaveStatusFile();
    }
    std::printf("status file: %ju bytes\n", static_cast<uintmax_t>(std::filesystem::file_size(dir + "/tr2list0.dst")));

    std::vector<double> walk, create, process, save, total;
    int handed = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        const size_t seen = StatWalk(dir);
        walk.push_back(MsSince(start));

        start = Clock::now();
        TDirectoryList list(dir, "arg", "bench", "tr2list0.dst");
        create.push_back(MsSince(start));
        auto step = Clock::now();
        list.ProcessChanged([&](const std::string&, const std::string&, bool&) { return ++handed, true; });
        process.push_back(MsSince(step));
        step = Clock::now();
        list.SaveStatusFile();
        save.push_back(MsSince(step));
        total.push_back(MsSince(start));
        if (seen != static_cast<size_t>(count) + 1 || list.Items().Count() != count) {
            std::fprintf(stderr, "unexpected counts: walk %zu, list %d\n", seen, list.Items().Count());
            return 1;
        }
    }
    std::printf("median of %d rounds, %d files, %d handed over (expected 0)\n", rounds, count, handed);
    std::printf("  plain stat walk                 %8.1f ms\n", Median(walk));
    std::printf("  TDirectoryList create + compare %8.1f ms\n", Median(create));
    std::printf("  ProcessChanged (nothing)        %8.1f ms\n", Median(process));
    std::printf("  SaveStatusFile                  %8.1f ms\n", Median(save));
    std::printf("  TDirectoryList total            %8.1f ms\n", Median(total));
    std::printf("  ratio total / stat walk         %8.2f\n", Median(total) / Median(walk));
    std::filesystem::remove_all(dir);
    return handed == 0 ? 0 : 1;
}
