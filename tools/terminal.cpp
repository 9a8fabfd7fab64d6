// Progress bar and timing helpers for the tool's terminal output.
#include "tools/terminal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "platform/system.h"

namespace {

int isTty = -1;
bool barShown;
double lastDraw;
int lastPercent = -1;

// The terminal's width now (it may have been resized): the TTY's (the console window's
// on Windows), else COLUMNS, else 80.
int TerminalColumns() {
    const int width = sys::TerminalColumns(STDERR_FILENO);
    if (width > 0) return width;
    const char* columns = getenv("COLUMNS");
    const int given = columns != nullptr ? atoi(columns) : 0;
    return given > 0 ? given : 80;
}

// Columns of the code point that starts with lead byte's sequence at text.
unsigned PointWidth(const unsigned char* text) {
    if (text[0] < 0xE1) return 1;  // ASCII, two-byte sequences, U+0000..U+0FFF
    uint32_t point = text[0] < 0xF0 ? (text[0] & 0x0F) << 12 | (text[1] & 0x3F) << 6 | (text[2] & 0x3F)
                                    : 0x10000;
    const bool wide = (point >= 0x1100 && point <= 0x115F) || (point >= 0x2E80 && point <= 0xA4CF) ||
                      (point >= 0xAC00 && point <= 0xD7A3) || (point >= 0xF900 && point <= 0xFAFF) ||
                      (point >= 0xFE30 && point <= 0xFE4F) || (point >= 0xFF00 && point <= 0xFF60) ||
                      (point >= 0xFFE0 && point <= 0xFFE6) || point >= 0x10000;
    return wide ? 2 : 1;
}

}  // namespace

size_t DisplayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
        width += byte >= 0xE1 && at + 3 <= text.size()
                     ? PointWidth(reinterpret_cast<const unsigned char*>(text.c_str() + at)) : 1;
    }
    return width;
}

std::string ProgressLine(const char* label, int percent, int columns) {
    const int room = columns - 1;  // the last column would wrap on some terminals
    char number[8];
    snprintf(number, sizeof number, "%3d%%", percent);
    if (room < 14) return room >= 4 ? number : "";
    // " [bar] 100%": 8 columns and the bar's; the bar takes up to 30, the label the rest.
    const int barWidth = room >= 40 + 38 ? 30 : std::max(10, std::min(30, room / 3));
    const int labelWidth = std::min(40, room - barWidth - 8);
    std::string shown;
    size_t width = 0;
    for (const char* at = label; *at != 0;) {
        size_t length = 1;
        while ((static_cast<unsigned char>(at[length]) & 0xC0) == 0x80) ++length;
        const size_t next = DisplayWidth(std::string(at, length));
        if (width + next > static_cast<size_t>(labelWidth)) break;
        shown.append(at, length);
        width += next;
        at += length;
    }
    shown.append(static_cast<size_t>(labelWidth) - width, ' ');
    const int filled = percent * barWidth / 100;
    return shown + " [" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(barWidth - filled), '-') + "] " + number;
}

double NowSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void ProgressBar(const char* label, uint64_t done, uint64_t total) {
    if (isTty < 0) isTty = sys::IsTerminal(STDERR_FILENO) ? 1 : 0;
    if (!isTty) return;
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    const double now = NowSeconds();
    if (percent == lastPercent && now - lastDraw < 0.1) return;
    lastPercent = percent;
    lastDraw = now;
    fprintf(stderr, "\r%s", ProgressLine(label, percent, TerminalColumns()).c_str());
    fflush(stderr);
    barShown = true;
}

void ProgressDone() {
    if (!barShown) return;
    fprintf(stderr, "\r%*s\r", std::max(0, TerminalColumns() - 1), "");
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
