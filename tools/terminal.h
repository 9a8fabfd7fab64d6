// Terminal output of the tool: a progress bar on standard error when it is a TTY,
// nothing otherwise.
#ifndef VORPANEX_TOOLS_TERMINAL_H
#define VORPANEX_TOOLS_TERMINAL_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// Draws "label [#####-----]  45%" over the current line; throttled, so it may be
// called for every chunk. Does nothing when standard error is not a TTY.
void ProgressBar(const char* label, uint64_t done, uint64_t total);

// Clears the bar's line, if one was drawn, before ordinary output.
void ProgressDone();

// The bar's line for a terminal of columns: label (cut to fit) and bar shrink so that
// it takes at most columns - 1, and a redraw never wraps.
std::string ProgressLine(const char* label, int percent, int columns);

// Columns of UTF-8 text on a terminal: East Asian wide characters count two.
size_t DisplayWidth(const std::string& text);

// Seconds since an arbitrary start, monotonic.
double NowSeconds();

// "12.3 MB/s" style speed of bytes over seconds into text.
void FormatSpeed(char* text, unsigned size, uint64_t bytes, double seconds);

// Packed size as a percentage of the original ("-" for an empty original), 6 columns.
void FormatRatio(char* text, size_t size, uint64_t packed, uint64_t original);

#endif
