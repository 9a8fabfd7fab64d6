// Host versions of the Win32 file and file-time calls over the hosted system layer
// (POSIX on Linux, the wide calls in the tool for Windows), same contracts.
#include "platform/platform.h"

#ifndef PLATFORM_KERNEL32

#include <errno.h>
#include <string.h>
#include <time.h>

#include "platform/system.h"

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
const int64_t EPOCH_DIFFERENCE = 11644473600LL;
const int64_t TICKS_PER_SECOND = 10000000LL;

unsigned hostCodePage = 1252;

// The buffer that PlatformServeMemory serves, and its read position. Its handle is a
// number no descriptor reaches.
const HFILE MEMORY_HANDLE = 0x7FFFFFFF;
struct {
    LPCSTR path;
    const char* data;
    UINT size;
    LONG position;
} memoryFile;

int64_t FromFileTime(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

void ToFileTime(int64_t ticks, FILETIME* time) {
    time->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
    time->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

bool IsLeapYear(unsigned year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

void PlatformServeMemory(LPCSTR path, const void* data, UINT size) {
    memoryFile.path = path;
    memoryFile.data = static_cast<const char*>(data);
    memoryFile.size = size;
}

HFILE _lopen(LPCSTR path, int mode) {
    if (mode != OF_READ) return HFILE_ERROR;
    if (memoryFile.path != nullptr && strcmp(path, memoryFile.path) == 0) {
        memoryFile.position = 0;
        return MEMORY_HANDLE;
    }
    const int fd = sys::OpenForReading(path);
    return fd < 0 ? HFILE_ERROR : fd;
}

UINT _lread(HFILE file, void* buffer, UINT count) {
    if (file == MEMORY_HANDLE) {
        const UINT position = static_cast<UINT>(memoryFile.position);
        const UINT left = position < memoryFile.size ? memoryFile.size - position : 0;
        if (count > left) count = left;
        if (count != 0) memcpy(buffer, memoryFile.data + position, count);
        memoryFile.position += static_cast<LONG>(count);
        return count;
    }
    const long long got = sys::Read(file, buffer, count);
    return got < 0 ? static_cast<UINT>(HFILE_ERROR) : static_cast<UINT>(got);
}

int64_t PlatformSeek(HFILE file, int64_t offset, int origin) {
    if (file == MEMORY_HANDLE) {
        const int64_t base = origin == FILE_BEGIN     ? 0
                             : origin == FILE_CURRENT ? memoryFile.position
                                                      : memoryFile.size;
        const int64_t result = base + offset;
        if (result < 0 || result > 0x7FFFFFFF) return -1;
        memoryFile.position = static_cast<LONG>(result);
        return result;
    }
    int whence = origin == FILE_BEGIN ? SEEK_SET : origin == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    return sys::Seek(file, offset, whence);
}

// Offsets as the 32-bit call gives them: a position beyond 2 GiB is a failure.
LONG _llseek(HFILE file, LONG offset, int origin) {
    const int64_t result = PlatformSeek(file, offset, origin);
    if (result < 0 || result > 0x7FFFFFFF) return HFILE_ERROR;
    return static_cast<LONG>(result);
}

HFILE _lclose(HFILE file) {
    if (file == MEMORY_HANDLE) return 0;
    return sys::Close(file) == 0 ? 0 : HFILE_ERROR;
}

HFILE _lcreat(LPCSTR path, int attributes) {
    if (attributes != 0) return HFILE_ERROR;
    const int fd = sys::CreateTruncated(path, 0644);
    return fd < 0 ? HFILE_ERROR : fd;
}

UINT _lwrite(HFILE file, const char* buffer, UINT count) {
    const long long put = sys::Write(file, buffer, count);
    return put < 0 ? static_cast<UINT>(HFILE_ERROR) : static_cast<UINT>(put);
}

DWORD GetFileAttributesA(LPCSTR path) {
    FileStatus info;
    if (sys::LinkStatus(path, &info) != 0) return INVALID_FILE_ATTRIBUTES;
    if (S_ISLNK(info.st_mode)) return FILE_ATTRIBUTE_REPARSE_POINT;
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL CreateDirectoryA(LPCSTR path, void* securityAttributes) {
    (void)securityAttributes;
    return sys::MakeFolder(path, 0755) == 0 ? TRUE : FALSE;
}

BOOL DeleteFileA(LPCSTR path) { return sys::RemoveFile(path) == 0 ? TRUE : FALSE; }

DWORD GetLastError() { return static_cast<DWORD>(errno); }

BOOL DosDateTimeToFileTime(WORD dosDate, WORD dosTime, FILETIME* fileTime) {
    static const unsigned char daysInMonth[12] = {31, 28, 31, 30, 31, 30,
                                                  31, 31, 30, 31, 30, 31};
    const unsigned year = 1980u + (dosDate >> 9);
    const unsigned month = (dosDate >> 5) & 15u;
    const unsigned day = dosDate & 31u;
    const unsigned hour = dosTime >> 11;
    const unsigned minute = (dosTime >> 5) & 63u;
    const unsigned second = (dosTime & 31u) * 2u;
    if (month < 1 || month > 12 || day < 1) return FALSE;
    unsigned monthDays = daysInMonth[month - 1];
    if (month == 2 && IsLeapYear(year)) monthDays = 29;
    if (day > monthDays || hour > 23 || minute > 59 || second > 59) return FALSE;
    const int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 +
                            minute * 60 + second;
    ToFileTime((seconds + EPOCH_DIFFERENCE) * TICKS_PER_SECOND, fileTime);
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
    const int64_t ticks = FromFileTime(*local);
    const int64_t localSeconds = ticks / TICKS_PER_SECOND - EPOCH_DIFFERENCE;
    const int64_t fraction = ticks % TICKS_PER_SECOND;
    // The bias of that date (daylight saving included), so that a time written from a
    // file's local mtime comes back as the same instant.
    time_t guess = static_cast<time_t>(localSeconds);
    struct tm fields;
#ifdef _WIN32
    if (gmtime_s(&fields, &guess) != 0) return FALSE;
#else
    if (gmtime_r(&guess, &fields) == nullptr) return FALSE;
#endif
    fields.tm_isdst = -1;
    const time_t instant = mktime(&fields);
    if (instant == static_cast<time_t>(-1)) return FALSE;
    ToFileTime((static_cast<int64_t>(instant) + EPOCH_DIFFERENCE) * TICKS_PER_SECOND + fraction,
               utc);
    return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
    (void)creation;
    int64_t accessSeconds = 0;
    long accessNanoseconds = 0;
    int64_t writeSeconds = 0;
    long writeNanoseconds = 0;
    if (lastAccess != nullptr) {
        const int64_t ticks = FromFileTime(*lastAccess);
        accessSeconds = ticks / TICKS_PER_SECOND - EPOCH_DIFFERENCE;
        accessNanoseconds = static_cast<long>(ticks % TICKS_PER_SECOND * 100);
    }
    if (lastWrite != nullptr) {
        const int64_t ticks = FromFileTime(*lastWrite);
        writeSeconds = ticks / TICKS_PER_SECOND - EPOCH_DIFFERENCE;
        writeNanoseconds = static_cast<long>(ticks % TICKS_PER_SECOND * 100);
    }
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(file));
    return sys::SetTimes(fd, lastAccess != nullptr ? &accessSeconds : nullptr, accessNanoseconds,
                         lastWrite != nullptr ? &writeSeconds : nullptr, writeNanoseconds) == 0
               ? TRUE
               : FALSE;
}

void PlatformSetCodePage(unsigned codePage) { hostCodePage = codePage; }

unsigned PlatformCodePage() { return hostCodePage; }

int PlatformIsLeadByte(unsigned char byte) {
    if (hostCodePage != 932) return 0;
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

#endif  // !PLATFORM_KERNEL32
