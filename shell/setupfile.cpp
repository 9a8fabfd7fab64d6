// The setup program's file, held from its creation until the program has started, so
// that no other process can write, rename or delete it in between (the stub may run
// elevated: a swapped program would run with its rights).
//
// While the extraction writes it, the file is open for writing with read sharing only,
// and a second, read-only handle that does not share deletion is taken at once. Before
// the writer is closed, an image section is made from it: while that exists, the
// system refuses to open the file for writing; the reader keeps refusing deletion and
// renaming. Both are released once the program has started (or the run is over).
#include <string.h>

#include "extract/member_file.h"
#include "shell/shell.h"

namespace {

struct SetupFile {
    HANDLE writer;   // while the extraction writes the file (the extraction closes it)
    HANDLE reader;   // no delete sharing: no rename, no deletion
    HANDLE section;  // an image section: no writing
    DWORD error;     // why the section could not be made (0 when it was)
    wchar_t path[MAX_PATH];
};

SetupFile setupFiles[SETUP_FILE_COUNT] ZERO_FILLED;

int SetupIndex(const char* name) {
    for (int index = 0; index < SETUP_FILE_COUNT; ++index) {
        if (lstrcmpiA(name, SETUP_NAMES[index]) == 0) return index;
    }
    return -1;
}

void CloseIfOpen(HANDLE* handle) {
    if (*handle != nullptr) CloseHandle(*handle);
    *handle = nullptr;
}

// Whether the file starts as a Windows program does (an MZ header that leads to a PE
// header), whatever system it is made for.
int LooksLikeProgram(HANDLE file) {
    unsigned char header[64];
    DWORD got = 0;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 ||
        !ReadFile(file, header, sizeof header, &got, nullptr) || got != sizeof header ||
        header[0] != 'M' || header[1] != 'Z') {
        return 0;
    }
    const LONG pe = static_cast<LONG>(header[60] | header[61] << 8 | header[62] << 16 |
                                      static_cast<DWORD>(header[63]) << 24);
    return SetFilePointer(file, pe, nullptr, FILE_BEGIN) == static_cast<DWORD>(pe) &&
           ReadFile(file, header, 4, &got, nullptr) && got == 4 &&
           memcmp(header, "PE\0\0", 4) == 0;
}

void Release(SetupFile* file) {
    CloseIfOpen(&file->section);
    CloseIfOpen(&file->reader);
    file->writer = nullptr;
    file->path[0] = 0;
}

}  // namespace

HFILE CreateMemberFile(const char*, const char* relative) {
    wchar_t path[MAX_PATH];
    if (!MemberPathInWorkDirectory(path, relative)) return HFILE_ERROR;
    const int index = SetupIndex(relative);
    // A second member of the same name replaces the first, as for any other file.
    if (index >= 0) Release(&setupFiles[index]);
    HANDLE writer = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer == INVALID_HANDLE_VALUE || index < 0) {
        return static_cast<HFILE>(reinterpret_cast<intptr_t>(writer));
    }
    SetupFile* file = &setupFiles[index];
    HANDLE reader = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
        return HFILE_ERROR;
    }
    file->writer = writer;
    file->reader = reader;
    file->error = 0;
    lstrcpynW(file->path, path, MAX_PATH);
    return static_cast<HFILE>(reinterpret_cast<intptr_t>(writer));
}

HFILE CloseMemberFile(HFILE handle) {
    for (SetupFile& file : setupFiles) {
        if (file.writer == nullptr || HandleFromHfile(handle) != file.writer) continue;
        file.section = CreateFileMappingA(file.writer, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0,
                                          nullptr);
        // Not an image this system can map: the launch reports it instead of starting
        // a file that could then be changed; a program for another system apart from
        // a file that is no program at all.
        file.error = file.section == nullptr ? GetLastError() : 0;
        if (file.error == ERROR_BAD_EXE_FORMAT && !LooksLikeProgram(file.reader)) {
            file.error = ERROR_BAD_FORMAT;
        }
        file.writer = nullptr;
    }
    return _lclose(handle);
}

const wchar_t* HeldSetupPath(DWORD* error) {
    for (const SetupFile& file : setupFiles) {
        if (file.reader == nullptr || file.writer != nullptr) continue;
        *error = file.error;
        return file.path;
    }
    *error = ERROR_FILE_NOT_FOUND;
    return nullptr;
}

void ReleaseSetupFiles() {
    for (SetupFile& file : setupFiles) Release(&file);
}
