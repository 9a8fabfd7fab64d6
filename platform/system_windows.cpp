// The hosted system calls over the wide Win32 entry points (the tool on Windows).
// Paths arrive as UTF-8 and go to Windows as UTF-16; descriptors are C runtime
// descriptors over handles opened here with CreateFileW.
#ifdef _WIN32

#include "platform/system.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

namespace sys {

namespace {

// Seconds between 1601-01-01 and 1970-01-01, and FILETIME ticks per second.
const int64_t EPOCH_DIFFERENCE = 11644473600LL;
const int64_t TICKS_PER_SECOND = 10000000LL;

// UTF-8 as UTF-16. Bytes that are not UTF-8 (a member's stored name, which the core
// uses for the folders it makes in its private folder) each become a character of
// their own, U+F700 + the byte, so that two different names never become one.
std::wstring Wide(const char* text) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length > 0) {
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], length);
        wide.resize(static_cast<size_t>(length - 1));
        return wide;
    }
    std::wstring wide;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    while (*at != 0) {
        int extra = *at < 0x80 ? 0 : *at >= 0xC2 && *at <= 0xDF ? 1 : *at >= 0xE0 && *at <= 0xEF ? 2
                  : *at >= 0xF0 && *at <= 0xF4 ? 3 : -1;
        wchar_t converted[2];
        int count = 0;
        if (extra >= 0) {
            bool whole = true;
            for (int k = 1; k <= extra; ++k) whole = whole && (at[k] & 0xC0) == 0x80;
            if (whole) {
                count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                            reinterpret_cast<const char*>(at), extra + 1,
                                            converted, 2);
            }
        }
        if (count > 0) {
            wide.append(converted, static_cast<size_t>(count));
            at += extra + 1;
        } else {
            wide += static_cast<wchar_t>(0xF700 + *at);
            ++at;
        }
    }
    return wide;
}

std::string Narrow(const wchar_t* text, int length = -1) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &narrow[0], size, nullptr, nullptr);
    if (length < 0) narrow.resize(static_cast<size_t>(size - 1));
    return narrow;
}

// The errno that says what GetLastError() says.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_CANT_RESOLVE_FILENAME: return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER: return EINVAL;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA: return EPIPE;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        case ERROR_OPERATION_ABORTED: return EINTR;
        default: return EIO;
    }
}

int Fail() {
    errno = ErrnoOf(GetLastError());
    return -1;
}

// A descriptor over handle, or -1 (the handle closed) when the runtime has no room.
int Descriptor(HANDLE handle, int flags) {
    if (handle == INVALID_HANDLE_VALUE) return Fail();
    const int file = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (file < 0) {
        CloseHandle(handle);
        errno = EMFILE;
    }
    return file;
}

HANDLE HandleOf(int file) { return reinterpret_cast<HANDLE>(_get_osfhandle(file)); }

int64_t UnixSeconds(const FILETIME& time) {
    const int64_t ticks = static_cast<int64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
    return ticks / TICKS_PER_SECOND - EPOCH_DIFFERENCE;
}

FILETIME FileTimeOf(int64_t seconds, long nanoseconds) {
    const int64_t ticks = (seconds + EPOCH_DIFFERENCE) * TICKS_PER_SECOND + nanoseconds / 100;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return time;
}

void FillStatus(const BY_HANDLE_FILE_INFORMATION& info, bool link, FileStatus* status) {
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status->st_mode = link ? S_IFLNK | 0777 : folder ? S_IFDIR | 0755 : S_IFREG | 0644;
    status->st_size = folder ? 0 : static_cast<int64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    status->st_mtime = UnixSeconds(info.ftLastWriteTime);
    status->st_dev = info.dwVolumeSerialNumber;
    status->st_ino = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
}

int StatusOfHandle(HANDLE handle, bool link, FileStatus* status) {
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
        *status = FileStatus();
        status->st_mode = type == FILE_TYPE_PIPE ? _S_IFIFO : _S_IFCHR;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return Fail();
    FillStatus(info, link, status);
    return 0;
}

int StatusOf(const char* path, bool followLinks, FileStatus* status) {
    const std::wstring wide = Wide(path);
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    bool link = false;
    if (!followLinks) {
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return Fail();
        link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (link) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Fail();
    const int result = StatusOfHandle(handle, link, status);
    CloseHandle(handle);
    return result;
}

// The stop handler, called on the console's control thread.
std::mutex handlerLock;
std::vector<StopHandler> handlers;

BOOL WINAPI OnConsoleControl(DWORD event) {
    StopHandler handler = nullptr;
    {
        std::lock_guard<std::mutex> hold(handlerLock);
        if (!handlers.empty()) handler = handlers.back();
    }
    if (handler == nullptr) return FALSE;
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    handler(interrupt ? SIGINT : SIGTERM);
    // A closed console, a logoff or a shutdown ends the process as soon as this returns
    // (or after some seconds): wait here, so that the work's own clean-up runs and ends it.
    if (!interrupt) Sleep(INFINITE);
    return TRUE;
}

// A name beside the pattern's that no other file has: its XXXXXX become letters and
// digits from a counter and the time.
bool FillPattern(std::string& pattern, unsigned attempt) {
    if (pattern.size() < 6 || pattern.compare(pattern.size() - 6, 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return false;
    }
    static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint64_t value = static_cast<uint64_t>(counter.QuadPart) * 2654435761u ^
                     (static_cast<uint64_t>(GetCurrentProcessId()) << 20) ^ attempt * 7919u;
    for (size_t i = pattern.size() - 6; i < pattern.size(); ++i) {
        pattern[i] = LETTERS[value % 36];
        value /= 36;
    }
    return true;
}

}  // namespace

int OpenForReading(const char* path) {
    HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return Descriptor(handle, _O_RDONLY);
}

int CreateTruncated(const char* path, unsigned) {
    HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    return Descriptor(handle, _O_RDWR);
}

long long Read(int file, void* buffer, size_t count) {
    HANDLE handle = HandleOf(file);
    size_t total = 0;
    while (total < count) {
        const DWORD want = count - total > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count - total);
        DWORD got = 0;
        if (!ReadFile(handle, static_cast<char*>(buffer) + total, want, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            return Fail();
        }
        if (got == 0) break;
        total += got;
    }
    return static_cast<long long>(total);
}

long long ReadAt(int file, void* buffer, size_t count, uint64_t offset) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD want = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!ReadFile(HandleOf(file), buffer, want, &got, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) return 0;
        return Fail();
    }
    return got;
}

long long Write(int file, const void* buffer, size_t count) {
    HANDLE handle = HandleOf(file);
    size_t total = 0;
    while (total < count) {
        const DWORD want = count - total > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count - total);
        DWORD put = 0;
        if (!WriteFile(handle, static_cast<const char*>(buffer) + total, want, &put, nullptr)) {
            return Fail();
        }
        total += put;
    }
    return static_cast<long long>(total);
}

int64_t Seek(int file, int64_t offset, int whence) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    const DWORD method = whence == SEEK_SET ? FILE_BEGIN : whence == SEEK_CUR ? FILE_CURRENT : FILE_END;
    if (!SetFilePointerEx(HandleOf(file), distance, &position, method)) return Fail();
    return position.QuadPart;
}

int Close(int file) { return _close(file); }

int StatusOfDescriptor(int file, FileStatus* status) {
    return StatusOfHandle(HandleOf(file), false, status);
}

int SetTimes(int file, const int64_t* accessSeconds, long accessNanoseconds,
             const int64_t* writeSeconds, long writeNanoseconds) {
    FILETIME access;
    FILETIME write;
    if (accessSeconds != nullptr) access = FileTimeOf(*accessSeconds, accessNanoseconds);
    if (writeSeconds != nullptr) write = FileTimeOf(*writeSeconds, writeNanoseconds);
    if (!SetFileTime(HandleOf(file), nullptr, accessSeconds != nullptr ? &access : nullptr,
                     writeSeconds != nullptr ? &write : nullptr)) {
        return Fail();
    }
    return 0;
}

int SetMode(int, unsigned) { return 0; }

unsigned CurrentUmask() { return 0; }

int Status(const char* path, FileStatus* status) { return StatusOf(path, true, status); }

int LinkStatus(const char* path, FileStatus* status) { return StatusOf(path, false, status); }

int MakeFolder(const char* path, unsigned) {
    return CreateDirectoryW(Wide(path).c_str(), nullptr) ? 0 : Fail();
}

int RemoveFolder(const char* path) {
    return RemoveDirectoryW(Wide(path).c_str()) ? 0 : Fail();
}

int RemoveFile(const char* path) {
    const std::wstring wide = Wide(path);
    if (DeleteFileW(wide.c_str())) return 0;
    // A read-only file (the attribute a Windows archiver may leave) goes too, as unlink
    // takes a file whatever its permission bits.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) &&
        DeleteFileW(wide.c_str())) {
        return 0;
    }
    return Fail();
}

int Rename(const char* from, const char* to) {
    const std::wstring source = Wide(from);
    const std::wstring target = Wide(to);
    // MoveFileExW does not replace a read-only file (ERROR_ACCESS_DENIED), where
    // rename replaces a file whatever its permission bits: the attribute goes first,
    // and comes back when the rename fails. A link's attribute is left alone.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
        SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return 0;
    }
    const int result = Fail();
    if (readOnly) SetFileAttributesW(target.c_str(), attributes);
    return result;
}

bool ReadLink(const char* path, std::string& target) {
    // Windows keeps a link's target in its reparse data; what it resolves to is what
    // the messages need.
    FileStatus status;
    if (LinkStatus(path, &status) != 0) return false;
    if (!S_ISLNK(status.st_mode)) {
        errno = EINVAL;
        return false;
    }
    if (!RealPath(path, target)) target = "?";
    return true;
}

bool RealPath(const char* path, std::string& resolved) {
    HANDLE handle = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Fail() == 0;
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(),
                                                   static_cast<DWORD>(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (length == 0 || length >= buffer.size()) return Fail() == 0;
    std::wstring wide(buffer.data(), length);
    // "\\?\C:\..." becomes "C:/..."; "\\?\UNC\server\share" becomes "//server/share".
    if (wide.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        wide = L"\\\\" + wide.substr(8);
    } else if (wide.compare(0, 4, L"\\\\?\\") == 0) {
        wide = wide.substr(4);
    }
    resolved = PortablePath(Narrow(wide.c_str()));
    return true;
}

bool ListFolder(const char* path, std::vector<std::string>& names) {
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '/';
    pattern += '*';
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(pattern.c_str()).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return Fail() == 0;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        names.push_back(Narrow(found.cFileName));
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        errno = ErrnoOf(error);
        return false;
    }
    return true;
}

bool RemoveTree(const char* path) {
    FileStatus status;
    if (LinkStatus(path, &status) != 0) return false;
    if (S_ISDIR(status.st_mode)) {
        std::vector<std::string> names;
        if (!ListFolder(path, names)) return false;
        bool removed = true;
        for (const std::string& name : names) {
            removed = RemoveTree((std::string(path) + "/" + name).c_str()) && removed;
        }
        return RemoveFolder(path) == 0 && removed;
    }
    // A link (junction or symbolic link) is removed itself, never what it leads to.
    const std::wstring wide = Wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return RemoveDirectoryW(wide.c_str()) ? true : Fail() == 0;
    }
    return RemoveFile(path) == 0;
}

FILE* OpenStream(const char* path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

int MakeTemporaryFile(std::string& pattern) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        if (!FillPattern(pattern, attempt)) return -1;
        // Shared for deletion: a stop request removes the file while it is being written.
        HANDLE handle = CreateFileW(Wide(pattern.c_str()).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return Descriptor(handle, _O_RDWR);
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return Fail();
        }
    }
    errno = EEXIST;
    return -1;
}

bool MakeTemporaryFolder(std::string& pattern) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        if (!FillPattern(pattern, attempt)) return false;
        if (CreateDirectoryW(Wide(pattern.c_str()).c_str(), nullptr)) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return Fail() == 0;
    }
    errno = EEXIST;
    return false;
}

int MakeUnnamedFile(const std::string& folder) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string pattern = folder + "/.vorpanex-spill.XXXXXX";
        FillPattern(pattern, attempt);
        HANDLE handle = CreateFileW(Wide(pattern.c_str()).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN |
                                        FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr);
        if (handle != INVALID_HANDLE_VALUE) return Descriptor(handle, _O_RDWR);
        if (GetLastError() != ERROR_FILE_EXISTS) return Fail();
    }
    errno = EEXIST;
    return -1;
}

std::string TemporaryFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
    if (length == 0 || length > MAX_PATH + 1) return ".";
    std::string folder = PortablePath(Narrow(buffer, static_cast<int>(length)));
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

bool EnterFolder(const char* path, FolderReturn& back) {
    wchar_t buffer[32768];
    const DWORD length = GetCurrentDirectoryW(32768, buffer);
    if (length == 0 || length >= 32768) return Fail() == 0;
    back.path = Narrow(buffer, static_cast<int>(length));
    back.descriptor = 0;
    return SetCurrentDirectoryW(Wide(path).c_str()) ? true : Fail() == 0;
}

bool ReturnFromFolder(FolderReturn& back) {
    if (back.descriptor < 0) return true;
    back.descriptor = -1;
    return SetCurrentDirectoryW(Wide(back.path.c_str()).c_str()) ? true : Fail() == 0;
}

void SetFolderTimeAndMode(const char* path, const int64_t* seconds, const unsigned*) {
    if (seconds == nullptr) return;
    // Opened as itself: a junction or link put in the folder's place is not followed.
    HANDLE folder = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(folder, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        const FILETIME time = FileTimeOf(*seconds, 0);
        SetFileTime(folder, nullptr, &time, &time);
    }
    CloseHandle(folder);
}

void CatchStopSignals(StopHandler handler) {
    std::lock_guard<std::mutex> hold(handlerLock);
    if (handlers.empty()) SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    handlers.push_back(handler);
}

void RestoreStopSignals() {
    std::lock_guard<std::mutex> hold(handlerLock);
    if (handlers.empty()) return;
    handlers.pop_back();
    if (handlers.empty()) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

void IgnoreBrokenPipe() {}

bool IsTerminal(int file) {
    DWORD mode;
    return GetConsoleMode(HandleOf(file), &mode) != 0;
}

int TerminalColumns(int file) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(HandleOf(file), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void PrepareConsole() {
    // The tool writes UTF-8; a console shows it as such once its output code page is
    // UTF-8 (the console keeps the setting only while the tool runs it: it is put back
    // at exit).
    static UINT previous = 0;
    DWORD mode;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
        GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) {
        previous = GetConsoleOutputCP();
        if (SetConsoleOutputCP(CP_UTF8)) {
            atexit([] { SetConsoleOutputCP(previous); });
        }
    }
}

void Utf8Arguments(int& argc, char**& argv) {
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return;
    texts.clear();
    for (int i = 0; i < count; ++i) texts.push_back(Narrow(wide[i]));
    LocalFree(wide);
    pointers.clear();
    for (std::string& text : texts) pointers.push_back(&text[0]);
    pointers.push_back(nullptr);
    argc = count;
    argv = pointers.data();
}

std::string PortablePath(const std::string& path) {
    std::string portable = path;
    for (char& c : portable) {
        if (c == '\\') c = '/';
    }
    return portable;
}

bool MatchPattern(const char* pattern, const char* text, bool wholeNames) {
    // *, ? and [...] ([!...] negated, ranges); \ escapes the next character on Linux,
    // but is a separator on Windows and was made / before.
    while (*pattern != 0) {
        if (*pattern == '*') {
            while (*pattern == '*') ++pattern;
            if (*pattern == 0) return !wholeNames || strchr(text, '/') == nullptr;
            for (const char* at = text; *at != 0; ++at) {
                if (MatchPattern(pattern, at, wholeNames)) return true;
                if (wholeNames && *at == '/') return false;
            }
            return false;
        }
        if (*text == 0) return false;
        if (wholeNames && *text == '/' && *pattern != '/') return false;
        if (*pattern == '?') {
            ++pattern;
            ++text;
            continue;
        }
        if (*pattern == '[') {
            const char* at = pattern + 1;
            const bool negated = *at == '!' || *at == '^';
            if (negated) ++at;
            bool matched = false;
            bool first = true;
            while (*at != 0 && (*at != ']' || first)) {
                first = false;
                const unsigned char low = static_cast<unsigned char>(*at);
                unsigned char high = low;
                if (at[1] == '-' && at[2] != 0 && at[2] != ']') {
                    high = static_cast<unsigned char>(at[2]);
                    at += 2;
                }
                const unsigned char c = static_cast<unsigned char>(*text);
                if (c >= low && c <= high) matched = true;
                ++at;
            }
            if (*at == ']') {
                if (matched == negated) return false;
                pattern = at + 1;
                ++text;
                continue;
            }
            // No closing bracket: '[' is itself.
        }
        if (*pattern != *text) return false;
        ++pattern;
        ++text;
    }
    return *text == 0;
}

}  // namespace sys

// --- code page conversion in place of iconv ---------------------------------------------

struct CodePageConverter {
    UINT from;  // 0 for UTF-32LE
    UINT to;
};

namespace {

// The code page a name stands for (0 for UTF-32LE); false for one not known.
bool CodePageNamed(const char* name, UINT& codePage) {
    if (_stricmp(name, "UTF-8") == 0) {
        codePage = CP_UTF8;
    } else if (_stricmp(name, "UTF-32LE") == 0) {
        codePage = 0;
    } else if (_strnicmp(name, "CP", 2) == 0 && atoi(name + 2) > 0) {
        codePage = static_cast<UINT>(atoi(name + 2));
    } else {
        return false;
    }
    return true;
}

}  // namespace

iconv_t iconv_open(const char* to, const char* from) {
    UINT fromPage = 0;
    UINT toPage = 0;
    CPINFO info;
    if (!CodePageNamed(from, fromPage) || !CodePageNamed(to, toPage) ||
        (fromPage != 0 && fromPage != CP_UTF8 && !GetCPInfo(fromPage, &info)) ||
        (toPage != 0 && toPage != CP_UTF8 && !GetCPInfo(toPage, &info))) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    return new CodePageConverter{fromPage, toPage};
}

size_t iconv(iconv_t converter, char** in, size_t* inLeft, char** out, size_t* outLeft) {
    if (in == nullptr || *in == nullptr || inLeft == nullptr || *inLeft == 0) return 0;
    // The whole input at once: the callers convert whole names.
    std::wstring wide;
    if (converter->from == 0) {
        for (size_t i = 0; i + 4 <= *inLeft; i += 4) {
            const unsigned char* p = reinterpret_cast<unsigned char*>(*in + i);
            const uint32_t point = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
            if (point >= 0x10000) {
                wide += static_cast<wchar_t>(0xD800 + ((point - 0x10000) >> 10));
                wide += static_cast<wchar_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
            } else {
                wide += static_cast<wchar_t>(point);
            }
        }
    } else {
        const int length = MultiByteToWideChar(converter->from, MB_ERR_INVALID_CHARS, *in,
                                               static_cast<int>(*inLeft), nullptr, 0);
        if (length <= 0) {
            errno = EILSEQ;
            return static_cast<size_t>(-1);
        }
        wide.resize(static_cast<size_t>(length));
        MultiByteToWideChar(converter->from, MB_ERR_INVALID_CHARS, *in, static_cast<int>(*inLeft),
                            &wide[0], length);
    }
    std::string result;
    if (converter->to == 0) {
        for (size_t i = 0; i < wide.size(); ++i) {
            uint32_t point = static_cast<uint16_t>(wide[i]);
            if (point >= 0xD800 && point < 0xDC00 && i + 1 < wide.size()) {
                point = 0x10000 + ((point - 0xD800) << 10) + (static_cast<uint16_t>(wide[++i]) - 0xDC00);
            }
            for (int k = 0; k < 4; ++k) result += static_cast<char>(point >> (8 * k));
        }
    } else {
        BOOL defaulted = FALSE;
        const bool utf8 = converter->to == CP_UTF8;
        const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
        const int length = WideCharToMultiByte(converter->to, flags, wide.data(),
                                               static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                               utf8 ? nullptr : &defaulted);
        if (length <= 0 || defaulted) {
            errno = EILSEQ;
            return static_cast<size_t>(-1);
        }
        result.resize(static_cast<size_t>(length));
        WideCharToMultiByte(converter->to, flags, wide.data(), static_cast<int>(wide.size()),
                            &result[0], length, nullptr, utf8 ? nullptr : &defaulted);
        // A character that came back as another (no exact place in the code page) is
        // not converted, as iconv refuses it.
        const int back = MultiByteToWideChar(converter->to, 0, result.data(),
                                             static_cast<int>(result.size()), nullptr, 0);
        std::wstring again(static_cast<size_t>(back > 0 ? back : 0), L'\0');
        if (back > 0) {
            MultiByteToWideChar(converter->to, 0, result.data(), static_cast<int>(result.size()),
                                &again[0], back);
        }
        if (again != wide) {
            errno = EILSEQ;
            return static_cast<size_t>(-1);
        }
    }
    if (result.size() > *outLeft) {
        errno = E2BIG;
        return static_cast<size_t>(-1);
    }
    memcpy(*out, result.data(), result.size());
    *out += result.size();
    *outLeft -= result.size();
    *in += *inLeft;
    *inLeft = 0;
    return 0;
}

int iconv_close(iconv_t converter) {
    delete converter;
    return 0;
}

#endif  // _WIN32
