// Member times for pack: DOS date and time words from file times (local time, as the
// stub restores them) and from fixed times (--mtime, SOURCE_DATE_EPOCH), which give
// the same words in every time zone.
#ifndef VORPANEX_TOOLS_TIMES_H
#define VORPANEX_TOOLS_TIMES_H

#include <stdint.h>
#include <time.h>

#include <string>

struct DosStamp {
    uint16_t time = 0;
    uint16_t date = 0;
};

// On Windows: a TZ that the C runtime cannot read (an IANA name: it contains '/' or
// starts with ':') is removed from its environment, so that local times are the
// system time zone's. Called once at the start; nothing elsewhere.
void UseSystemTimeZoneUnlessPosixTz();

// A file's modification time as the local wall-clock time. clamped is set when it
// lies outside 1980..2107 and was moved to the nearest end.
DosStamp DosStampFromFileTime(time_t when, bool& clamped);

// Seconds since 1970 as the UTC wall-clock time; clamped as above.
DosStamp DosStampFromUtcSeconds(int64_t seconds, bool& clamped);

// --mtime: "SECONDS" or "@SECONDS" (UTC), "YYYY-MM-DD[(T| )HH:MM[:SS]]" followed by
// "Z" or "+HH:MM" / "-HH:MM" / "+HHMM" / "+HH" (converted to UTC), or without a zone
// (taken as written). Returns "" or why the text was refused: not a time, a date that
// does not exist (2024-02-31), or a time outside 1980..2107.
std::string ParseFixedTime(const char* text, DosStamp& stamp);

// SOURCE_DATE_EPOCH: whole seconds (UTC); outside 1980..2107 clamped, as other
// archivers do. Returns "" or why the value was refused.
std::string ParseSourceDateEpoch(const char* text, DosStamp& stamp, bool& clamped);

// "YYYY-MM-DD HH:MM:SS" (separator ' ') or ISO 8601 "YYYY-MM-DDTHH:MM:SS" of DOS words;
// "" when they name no moment (month 0, day 0, hour 24 and the like).
std::string FormatDosStamp(uint16_t date, uint16_t time, char separator);

#endif
