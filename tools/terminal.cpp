// Progress bar and timing helpers for the tool's terminal output.
#include "tools/terminal.h"

#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

namespace {

int isTty = -1;
bool barShown;
double lastDraw;
int lastPercent = -1;

}  // namespace

double NowSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void ProgressBar(const char* label, uint64_t done, uint64_t total) {
    if (isTty < 0) isTty = isatty(STDERR_FILENO) ? 1 : 0;
    if (!isTty) return;
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    const double now = NowSeconds();
    if (percent == lastPercent && now - lastDraw < 0.1) return;
    lastPercent = percent;
    lastDraw = now;
    const int width = 30;
    char bar[width + 1];
    const int filled = percent * width / 100;
    memset(bar, '#', static_cast<size_t>(filled));
    memset(bar + filled, '-', static_cast<size_t>(width - filled));
    bar[width] = 0;
    char name[41];
    snprintf(name, sizeof name, "%s", label);
    fprintf(stderr, "\r%-40s [%s] %3d%%", name, bar, percent);
    fflush(stderr);
    barShown = true;
}

void ProgressDone() {
    if (!barShown) return;
    fprintf(stderr, "\r%*s\r", 80, "");
    fflush(stderr);
    barShown = false;
    lastPercent = -1;
}

void FormatSpeed(char* text, unsigned size, uint64_t bytes, double seconds) {
    if (seconds <= 0) seconds = 1e-9;
    snprintf(text, size, "%.1f MB/s", static_cast<double>(bytes) / seconds / 1e6);
}

void FormatRatio(char* text, size_t size, uint64_t packed, uint64_t original) {
    if (original == 0) {
        snprintf(text, size, "%6s", "-");
    } else {
        snprintf(text, size, "%5.1f%%", 100.0 * static_cast<double>(packed) /
                                             static_cast<double>(original));
    }
}
