// DOS date and time words from file times and from fixed times.
#include "tools/times.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tools/options.h"

namespace {

struct WallClock {
    int64_t year;
    int month, day, hour, minute, second;
};

const int64_t FIRST_DOS_YEAR = 1980;
const int64_t LAST_DOS_YEAR = 2107;

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

WallClock UtcWallClock(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    WallClock clock;
    clock.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    clock.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    clock.year = yearOfEra + era * 400 + (clock.month <= 2);
    clock.hour = static_cast<int>(rest / 3600);
    clock.minute = static_cast<int>(rest / 60 % 60);
    clock.second = static_cast<int>(rest % 60);
    return clock;
}

DosStamp StampOf(WallClock clock, bool& clamped) {
    clamped = false;
    if (clock.year < FIRST_DOS_YEAR) {
        clamped = true;
        clock = {FIRST_DOS_YEAR, 1, 1, 0, 0, 0};
    } else if (clock.year > LAST_DOS_YEAR) {
        clamped = true;
        clock = {LAST_DOS_YEAR, 12, 31, 23, 59, 58};
    }
    DosStamp stamp;
    stamp.date = static_cast<uint16_t>(((clock.year - FIRST_DOS_YEAR) << 9) |
                                       (clock.month << 5) | clock.day);
    stamp.time = static_cast<uint16_t>((clock.hour << 11) | (clock.minute << 5) |
                                       (clock.second / 2));
    return stamp;
}

bool ParseSeconds(const char* text, int64_t& seconds) {
    const bool negative = *text == '-';
    uint64_t magnitude = 0;
    if (!ParseWholeNumber(text + (negative ? 1 : 0), 0, INT64_MAX, magnitude)) return false;
    seconds = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

// Exactly count digits at text; advances it.
bool Digits(const char*& text, int count, int& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    text += count;
    return true;
}

const char TIME_FORMS[] =
    "use SECONDS, @SECONDS, or YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM|-HH:MM]";

}  // namespace

void UseSystemTimeZoneUnlessPosixTz() {
#ifdef _WIN32
    // The C runtime reads TZ only in the POSIX form "JST-9" or "EST5EDT": an IANA
    // name (Asia/Tokyo, as MSYS2 and Cygwin shells set it, or :Asia/Tokyo) it takes
    // as offset 0 with US daylight-saving rules. Without TZ it asks Windows.
    const char* zone = getenv("TZ");
    if (zone != nullptr && (zone[0] == ':' || strchr(zone, '/') != nullptr)) {
        _putenv("TZ=");
        _tzset();
    }
#endif
}

DosStamp DosStampFromFileTime(time_t when, bool& clamped) {
    struct tm local;
#ifdef _WIN32
    const bool converted = localtime_s(&local, &when) == 0;
#else
    const bool converted = localtime_r(&when, &local) != nullptr;
#endif
    if (!converted) {
        return StampOf({when < 0 ? 0 : 9999, 1, 1, 0, 0, 0}, clamped);
    }
    return StampOf({local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec},
                   clamped);
}

DosStamp DosStampFromUtcSeconds(int64_t seconds, bool& clamped) {
    return StampOf(UtcWallClock(seconds), clamped);
}

std::string ParseFixedTime(const char* text, DosStamp& stamp) {
    const std::string quoted = std::string("--mtime '") + text + "': ";
    int64_t seconds = 0;
    bool clamped = false;
    if (ParseSeconds(text[0] == '@' ? text + 1 : text, seconds)) {
        stamp = DosStampFromUtcSeconds(seconds, clamped);
        if (clamped) return quoted + "outside 1980..2107, which DOS times cover";
        return "";
    }
    const char* p = text;
    int year = 0;
    WallClock clock = {0, 0, 0, 0, 0, 0};
    if (!Digits(p, 4, year) || *p++ != '-' || !Digits(p, 2, clock.month) || *p++ != '-' ||
        !Digits(p, 2, clock.day)) {
        return quoted + TIME_FORMS;
    }
    clock.year = year;
    if (*p == 'T' || *p == ' ') {
        ++p;
        if (!Digits(p, 2, clock.hour) || *p++ != ':' || !Digits(p, 2, clock.minute)) {
            return quoted + TIME_FORMS;
        }
        if (*p == ':' && !Digits(++p, 2, clock.second)) return quoted + TIME_FORMS;
    }
    bool zoned = false;
    int offsetMinutes = 0;
    if (*p == 'Z') {
        zoned = true;
        ++p;
    } else if (*p == '+' || *p == '-') {
        const int sign = *p++ == '-' ? -1 : 1;
        int hours = 0, minutes = 0;
        if (!Digits(p, 2, hours)) return quoted + TIME_FORMS;
        if (*p == ':') ++p;
        if (*p != 0 && !Digits(p, 2, minutes)) return quoted + TIME_FORMS;
        if (hours > 23 || minutes > 59) return quoted + "no such time zone offset";
        zoned = true;
        offsetMinutes = sign * (hours * 60 + minutes);
    }
    if (*p != 0) return quoted + TIME_FORMS;
    if (clock.month < 1 || clock.month > 12 || clock.day < 1 ||
        clock.day > DaysInMonth(clock.year, clock.month) || clock.hour > 23 ||
        clock.minute > 59 || clock.second > 59) {
        return quoted + "no such date or time";
    }
    if (zoned) {
        seconds = DaysFromCivil(clock.year, clock.month, clock.day) * 86400 +
                  clock.hour * 3600 + clock.minute * 60 + clock.second - offsetMinutes * 60;
        clock = UtcWallClock(seconds);
    }
    stamp = StampOf(clock, clamped);
    if (clamped) return quoted + "outside 1980..2107, which DOS times cover";
    return "";
}

std::string ParseSourceDateEpoch(const char* text, DosStamp& stamp, bool& clamped) {
    int64_t seconds = 0;
    if (!ParseSeconds(text, seconds)) {
        return std::string("SOURCE_DATE_EPOCH is not a whole number of seconds: '") + text +
               "'";
    }
    stamp = DosStampFromUtcSeconds(seconds, clamped);
    return "";
}

std::string FormatDosStamp(uint16_t date, uint16_t time, char separator) {
    const unsigned month = (date >> 5) & 15u, day = date & 31u;
    if (month < 1 || month > 12 || day < 1 || time >> 11 > 23 || ((time >> 5) & 63u) > 59 ||
        (time & 31u) > 29) {
        return "";
    }
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u%c%02u:%02u:%02u", 1980u + (date >> 9),
             (date >> 5) & 15u, date & 31u, separator, time >> 11, (time >> 5) & 63u,
             (time & 31u) * 2u);
    return text;
}
