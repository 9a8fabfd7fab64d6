// A stand-in setup program for the stub's end-to-end tests: records what it saw (its own
// path and command line, the current directory, the files beside it) into a directory
// outside the work directory, does what the test asks, and exits with a chosen code.
//
// Environment (inherited through the stub):
//   VORPANEX_E2E_RECORDS  directory for the record; the file is named <process id>.txt
//   VORPANEX_E2E_EXIT     exit code (default 0)
//   VORPANEX_E2E_ACTIONS  comma-separated: sleep:MS, readonly (leave a read-only file and
//                         a read-only folder), hold:MS (a child process keeps a file open
//                         that long), junction:DIR (a junction to DIR inside the work
//                         directory), list (list the files again), spawn:NAME (start NAME
//                         from this program's folder with VORPANEX_E2E_CHILD_ACTIONS as
//                         its actions and exit code 0; do not wait), outside:MS (a copy
//                         of this program outside the work directory sleeps MS), rmdir
//                         (remove the work directory, this program's file moved out
//                         first), longname (a file whose path is too long for ANSI calls),
//                         many:N (a folder "many" of N files f0000...), load:NAME (load
//                         the DLL NAME by its bare name; "load=loaded" or "load=missing")
// Record lines are UTF-8 "key=value"; "created" is the process's creation time and
// "done_tick" the tick count at its end.
//
//   e2e_setup.exe --attack TEMP RECORDS IMPOSTOR REPORT
// plays another process of the same user: while the stub extracts, it tries again and
// again to write, rename, delete and replace (with IMPOSTOR) the setup program in any
// ZEB*.tmp folder of TEMP, until a record appears in RECORDS (the setup ran) or 3
// minutes pass. Each success is reported with its system time.
#include <windows.h>
#include <winioctl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

FILE* record;

std::string Utf8(const wchar_t* text) {
    char buffer[4096];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return length > 0 ? std::string(buffer) : std::string();
}

void Line(const char* key, const std::string& value) {
    fprintf(record, "%s=%s\n", key, value.c_str());
    fflush(record);
}

std::wstring Directory(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

// One "file" line per entry below directory: "NAME SIZE" for a file, "NAME/" for a
// folder, whose entries follow as "NAME/ENTRY".
void ListFiles(const std::wstring& directory, const std::string& prefix = std::string()) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        const std::string name = prefix + Utf8(found.cFileName);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Line("file", name + "/");
            ListFiles(directory + L"\\" + found.cFileName, name + "/");
            continue;
        }
        char size[32];
        snprintf(size, sizeof size, " %lu", static_cast<unsigned long>(found.nFileSizeLow));
        Line("file", name + size);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void LeaveReadOnly(const std::wstring& directory) {
    std::wstring file = directory + L"\\readonly.txt";
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(handle, "locked", 6, &written, nullptr);
    CloseHandle(handle);
    BOOL ok = SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    std::wstring folder = directory + L"\\readonly folder";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring inner = folder + L"\\inner.txt";
    handle = CreateFileW(inner.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_READONLY, nullptr);
    CloseHandle(handle);
    ok = ok && SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY);
    Line("readonly", ok ? "made" : "failed");
}

// Starts a copy of this program (from outside the work directory is not possible: it
// is the setup) that keeps a file in the work directory open without sharing.
void HoldOpen(const std::wstring& directory, const wchar_t* milliseconds) {
    std::wstring file = directory + L"\\held.txt";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    // The helper runs from a copy outside the work directory so that only the held
    // file, not the program image, keeps the directory in place.
    wchar_t copy[MAX_PATH];
    GetTempPathW(MAX_PATH, copy);
    wcscat(copy, L"vorpanex-e2e-holder.exe");
    CopyFileW(self, copy, FALSE);
    std::wstring command = L"\"" + std::wstring(copy) + L"\" --hold \"" + file + L"\" " +
                           milliseconds;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"vorpanex-e2e-held");
    if (CreateProcessW(copy, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &started)) {
        WaitForSingleObject(ready, 10000);
        CloseHandle(started.hProcess);
        CloseHandle(started.hThread);
        Line("hold", "started");
    } else {
        Line("hold", "failed");
    }
    CloseHandle(ready);
}

int Hold(const wchar_t* file, const wchar_t* milliseconds) {
    HANDLE handle = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"vorpanex-e2e-held");
    if (ready != nullptr) SetEvent(ready);
    Sleep(static_cast<DWORD>(_wtoi(milliseconds)));
    CloseHandle(handle);
    return 0;
}

// A mount-point reparse point (junction) from link to the directory target.
void MakeJunction(const std::wstring& directory, const std::wstring& target) {
    std::wstring link = directory + L"\\outside";
    if (!CreateDirectoryW(link.c_str(), nullptr)) {
        Line("junction", "failed mkdir");
        return;
    }
    HANDLE handle = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    std::wstring substitute = L"\\??\\" + target;
    const size_t substituteBytes = substitute.size() * 2;
    const size_t printBytes = target.size() * 2;
    struct {
        DWORD tag;
        WORD dataLength;
        WORD reserved;
        WORD substituteOffset;
        WORD substituteLength;
        WORD printOffset;
        WORD printLength;
        wchar_t path[1024];
    } buffer = {};
    buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.substituteOffset = 0;
    buffer.substituteLength = static_cast<WORD>(substituteBytes);
    buffer.printOffset = static_cast<WORD>(substituteBytes + 2);
    buffer.printLength = static_cast<WORD>(printBytes);
    memcpy(buffer.path, substitute.c_str(), substituteBytes);
    memcpy(reinterpret_cast<char*>(buffer.path) + substituteBytes + 2, target.c_str(),
           printBytes);
    buffer.dataLength = static_cast<WORD>(8 + substituteBytes + 2 + printBytes + 2);
    DWORD returned = 0;
    BOOL ok = handle != INVALID_HANDLE_VALUE &&
              DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &buffer, 8 + buffer.dataLength,
                              nullptr, 0, &returned, nullptr);
    DWORD error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    DWORD attributes = GetFileAttributesW(link.c_str());
    char text[80];
    snprintf(text, sizeof text, "%s error=%lu attributes=0x%lx", ok ? "made" : "failed",
             static_cast<unsigned long>(ok ? 0 : error), static_cast<unsigned long>(attributes));
    Line("junction", text);
}

// Starts program with the given actions and does not wait for it; in folder when one is
// given, else in this program's current directory.
bool Spawn(const std::wstring& program, const std::wstring& actions,
           const wchar_t* folder = nullptr) {
    SetEnvironmentVariableW(L"VORPANEX_E2E_ACTIONS", actions.c_str());
    SetEnvironmentVariableW(L"VORPANEX_E2E_EXIT", nullptr);  // the child ends with 0
    std::wstring command = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    const BOOL ok = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0,
                                   nullptr, folder, &startup, &started);
    if (ok) {
        CloseHandle(started.hProcess);
        CloseHandle(started.hThread);
    }
    return ok != FALSE;
}

std::wstring TempFile(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    return std::wstring(path) + name;
}

void RemoveOwnDirectory(const std::wstring& self, const std::wstring& directory) {
    wchar_t name[64];
    swprintf(name, 64, L"vorpanex-e2e-moved-%lu.exe",
             static_cast<unsigned long>(GetCurrentProcessId()));
    BOOL ok = MoveFileExW(self.c_str(), TempFile(name).c_str(), MOVEFILE_REPLACE_EXISTING);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.cFileName[0] == L'.') continue;
            DeleteFileW((directory + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    ok = ok && RemoveDirectoryW(directory.c_str());
    Line("rmdir", ok ? "done" : "failed " + std::to_string(GetLastError()));
}

void MakeLongName(const std::wstring& directory) {
    std::wstring path = L"\\\\?\\" + directory + L"\\" + std::wstring(240, L'n');
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    Line("longname", handle != INVALID_HANDLE_VALUE ? "made" : "failed");
    CloseHandle(handle);
}

void MakeMany(const std::wstring& directory, int count) {
    const std::wstring folder = directory + L"\\many";
    CreateDirectoryW(folder.c_str(), nullptr);
    int made = 0;
    for (int i = 0; i < count; ++i) {
        wchar_t name[16];
        swprintf(name, 16, L"\\f%04d", i);
        HANDLE handle = CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) ++made;
        CloseHandle(handle);
    }
    Line("many", std::to_string(made));
}

unsigned long long SystemTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool AnyFile(const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

int Attack(const wchar_t* temp, const wchar_t* records, const wchar_t* impostor,
           const wchar_t* reportPath) {
    record = _wfopen(reportPath, L"w");
    if (record == nullptr) return 3;
    unsigned long attempts = 0;
    const DWORD start = GetTickCount();
    const std::wstring pattern = std::wstring(temp) + L"\\ZEB*.tmp";
    // Work directories that an earlier, interrupted run left behind are not the stub's.
    std::vector<std::wstring> earlier;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do earlier.push_back(found.cFileName);
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    while (!AnyFile(std::wstring(records) + L"\\*.txt") && GetTickCount() - start < 180000) {
        search = FindFirstFileW(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            Sleep(1);
            continue;
        }
        do {
            if (std::find(earlier.begin(), earlier.end(), found.cFileName) != earlier.end()) {
                continue;
            }
            std::wstring setup = std::wstring(temp) + L"\\" + found.cFileName + L"\\SETUP.EXE";
            if (GetFileAttributesW(setup.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
            ++attempts;
            const std::string when = std::to_string(SystemTime());
            HANDLE writer = CreateFileW(setup.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
            if (writer != INVALID_HANDLE_VALUE) {
                Line("write", when);
                CloseHandle(writer);
            }
            std::wstring moved = setup + L".old";
            if (MoveFileExW(setup.c_str(), moved.c_str(), 0)) {
                Line("rename", when);
                MoveFileExW(moved.c_str(), setup.c_str(), 0);
            }
            if (CopyFileW(impostor, moved.c_str(), FALSE) &&
                MoveFileExW(moved.c_str(), setup.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                Line("replace", when);
            }
            DeleteFileW(moved.c_str());
            if (DeleteFileW(setup.c_str())) Line("delete", when);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    Line("attempts", std::to_string(attempts));
    fclose(record);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc == 4 && wcscmp(argv[1], L"--hold") == 0) return Hold(argv[2], argv[3]);
    if (argc == 6 && wcscmp(argv[1], L"--attack") == 0) {
        return Attack(argv[2], argv[3], argv[4], argv[5]);
    }

    const wchar_t* records = _wgetenv(L"VORPANEX_E2E_RECORDS");
    wchar_t path[MAX_PATH];
    swprintf(path, MAX_PATH, L"%ls\\%lu.txt", records ? records : L".",
             static_cast<unsigned long>(GetCurrentProcessId()));
    record = _wfopen(path, L"w");
    if (record == nullptr) return 3;

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring directory = Directory(self);
    Line("module", Utf8(self));
    Line("commandline", Utf8(GetCommandLineW()));
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    Line("cwd", Utf8(current));
    FILETIME created, ignored[3];
    GetProcessTimes(GetCurrentProcess(), &created, &ignored[0], &ignored[1], &ignored[2]);
    Line("created", std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                                   created.dwLowDateTime));
    ListFiles(directory);

    const wchar_t* actions = _wgetenv(L"VORPANEX_E2E_ACTIONS");
    std::wstring list = actions ? actions : L"";
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(L',', start);
        if (end == std::wstring::npos) end = list.size();
        std::wstring action = list.substr(start, end - start);
        start = end + 1;
        size_t colon = action.find(L':');
        std::wstring name = action.substr(0, colon);
        std::wstring value = colon == std::wstring::npos ? L"" : action.substr(colon + 1);
        if (name == L"sleep") Sleep(static_cast<DWORD>(_wtoi(value.c_str())));
        if (name == L"readonly") LeaveReadOnly(directory);
        if (name == L"hold") HoldOpen(directory, value.c_str());
        if (name == L"junction") MakeJunction(directory, value);
        if (name == L"list") ListFiles(directory);
        if (name == L"rmdir") RemoveOwnDirectory(self, directory);
        if (name == L"longname") MakeLongName(directory);
        if (name == L"many") MakeMany(directory, _wtoi(value.c_str()));
        if (name == L"load") Line("load", LoadLibraryW(value.c_str()) ? "loaded" : "missing");
        if (name == L"spawn") {
            const wchar_t* child = _wgetenv(L"VORPANEX_E2E_CHILD_ACTIONS");
            const bool ok = Spawn(directory + L"\\" + value, child ? child : L"");
            Line("spawn", ok ? "started" : "failed");
        }
        if (name == L"outside") {
            const std::wstring copy = TempFile(L"vorpanex-e2e-outside.exe");
            // A program that lives outside runs in its own folder: one left in the work
            // directory as its current directory would keep that directory in place, on
            // Windows as under Wine.
            const bool ok = CopyFileW(self, copy.c_str(), FALSE) &&
                            Spawn(copy, L"sleep:" + value, TempFile(L"").c_str());
            Line("outside", ok ? "started" : "failed");
        }
    }

    const wchar_t* exitText = _wgetenv(L"VORPANEX_E2E_EXIT");
    const int exitCode = exitText ? _wtoi(exitText) : 0;
    Line("done_tick", std::to_string(GetTickCount()));
    Line("done", std::to_string(exitCode));
    fclose(record);
    return exitCode;
}
