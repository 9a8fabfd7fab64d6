// Decoding speed: test (decode and CRC-16, nothing written) and extraction to a
// temporary directory, in MB/s of output, for each archive given. The i686 Windows
// build (run under Wine) times the test only: the core exactly as the stub runs it.
// Each timed run may go over the archive several times (--rounds): Windows counts
// processor time in ticks of 15.6 ms, too coarse for one pass over a small archive.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <ctime>
#include <string>

#include "archive/archive.h"
#include "extract/extract.h"
#include "extract/ui.h"

// A silent user interface: the bench has no window and never cancels.
volatile int CancelRequested;
int PumpOneMessage() { return 0; }
void ShowStatusLine(HWND, const char*) {}
void ShowProgress(HWND, unsigned) {}

namespace {

struct Totals {
    uint64_t original = 0;
    uint64_t packed = 0;
    unsigned members = 0;
    unsigned compressed = 0;
};

// Walks the member headers (level 1, sizes little-endian) to sum the output bytes.
bool ReadTotals(const char* path, uint32_t offset, Totals* totals) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    bool ok = fseek(file, offset, SEEK_SET) == 0;
    while (ok) {
        unsigned char header[2 + 255];
        if (fread(header, 1, 1, file) != 1 || header[0] == 0) break;
        const unsigned size = header[0];
        ok = fread(header + 1, 1, size + 1, file) == size + 1 && size >= 22;
        if (!ok) break;
        auto field = [&](int at) {
            return static_cast<uint32_t>(header[at]) | header[at + 1] << 8 |
                   header[at + 2] << 16 | static_cast<uint32_t>(header[at + 3]) << 24;
        };
        const uint32_t packed = field(7);
        totals->packed += packed;
        totals->original += field(11);
        ++totals->members;
        if (header[5] != '0') ++totals->compressed;
        ok = fseek(file, packed, SEEK_CUR) == 0;
    }
    fclose(file);
    return ok;
}

#ifdef _WIN32
// Seconds by the clock: QueryPerformanceCounter, precise to well under a microsecond.
double ClockSeconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Processor time of this process: std::clock counts wall time on Windows.
double ProcessSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}
const bool CAN_EXTRACT = false;
bool MakeTemporaryDirectory(std::string*) { return false; }
void RemoveTree(const std::string&) {}
#else
double ClockSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double ProcessSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
const bool CAN_EXTRACT = true;
bool MakeTemporaryDirectory(std::string* directory) {
    char pattern[] = "/tmp/bench_decode.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    *directory = pattern;
    return true;
}

void RemoveTree(const std::string& directory) {
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        unlink((directory + "/" + entry->d_name).c_str());
    }
    closedir(dir);
    rmdir(directory.c_str());
}
#endif

// Best time of one pass of the extraction (directory null: test only) over `repeats`
// runs, wall clock; a test run makes `rounds` passes and counts their mean. *bestCpu
// gets the best processor time, steadier on a busy machine.
double BestTime(const char* path, uint32_t offset, bool write, int repeats, int rounds,
                bool* ok, double* bestCpu) {
    const int passes = write ? 1 : rounds;
    double best = 1e30;
    *bestCpu = 1e30;
    for (int i = 0; i < repeats; ++i) {
        std::string directory;
        if (write && !MakeTemporaryDirectory(&directory)) {
            *ok = false;
            return 0;
        }
        const double start = ClockSeconds();
        const double cpuStart = ProcessSeconds();
        int result = 1;
        for (int pass = 0; pass < passes && result == 1; ++pass) {
            result = ExtractArchiveAt(nullptr, path, write ? directory.c_str() : nullptr, offset);
        }
        const double seconds = (ClockSeconds() - start) / passes;
        const double cpu = (ProcessSeconds() - cpuStart) / passes;
        if (cpu > 0 && cpu < *bestCpu) *bestCpu = cpu;
        if (write) RemoveTree(directory);
        if (result != 1) {
            *ok = false;
            fprintf(stderr, "bench_decode: %s: extraction failed (reason %d)\n", path,
                    extractionFailure);
            return 0;
        }
        if (seconds < best) best = seconds;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int repeats = 5;
    int rounds = 1;
    uint32_t offset = 0;
    int first = 1;
    bool testOnly = !CAN_EXTRACT;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        if (strcmp(argv[first], "--repeats") == 0 && first + 1 < argc) {
            repeats = atoi(argv[++first]);
        } else if (strcmp(argv[first], "--rounds") == 0 && first + 1 < argc) {
            rounds = atoi(argv[++first]);
        } else if (strcmp(argv[first], "--test-only") == 0) {
            testOnly = true;
        } else if (strcmp(argv[first], "--offset") == 0 && first + 1 < argc) {
            offset = static_cast<uint32_t>(strtoul(argv[++first], nullptr, 0));
        } else {
            first = argc + 1;
        }
    }
    if (first >= argc || repeats < 1 || rounds < 1) {
        fprintf(stderr,
                "usage: bench_decode [--repeats N] [--rounds R] [--offset BYTES] [--test-only]\n"
                "                    ARCHIVE...\n"
                "Times test (decode + CRC-16, no files) and extraction to a temporary\n"
                "directory of each archive; prints MB/s of output (10^6 bytes), best of N\n"
                "runs (a test run makes R passes and counts their mean), by wall clock and\n"
                "by processor time.\n");
        return 2;
    }
    printf("%-24s %7s %10s %10s %9s %9s %9s %9s\n", "archive", "members", "output", "packed",
           "test", "test cpu", "extract", "extr cpu");
    int status = 0;
    for (int i = first; i < argc; ++i) {
        Totals totals;
        if (!ReadTotals(argv[i], offset, &totals)) {
            fprintf(stderr, "bench_decode: %s: cannot read its headers\n", argv[i]);
            status = 1;
            continue;
        }
        bool ok = true;
        double testCpu = 0;
        double extractCpu = 0;
        const double test = BestTime(argv[i], offset, false, repeats, rounds, &ok, &testCpu);
        const double extract =
            ok && !testOnly ? BestTime(argv[i], offset, true, repeats, rounds, &ok, &extractCpu)
                            : 0;
        if (!ok) {
            status = 1;
            continue;
        }
        const char* name = strrchr(argv[i], '/') ? strrchr(argv[i], '/') + 1 : argv[i];
        const double mb = totals.original / 1e6;
        printf("%-24s %7u %10llu %10llu %9.1f %9.1f %9.1f %9.1f\n", name, totals.members,
               static_cast<unsigned long long>(totals.original),
               static_cast<unsigned long long>(totals.packed), mb / test, mb / testCpu,
               testOnly ? 0.0 : mb / extract, testOnly ? 0.0 : mb / extractCpu);
    }
    return status;
}
