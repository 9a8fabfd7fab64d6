// Removal of the work directory: depth first, links removed as links, read-only files
// made writable; what cannot be removed in time is left to the next restart.
#include <string.h>

#include "archive/archive.h"
#include "archive/ui.h"
#include "shell/shell.h"

unsigned removalSkipped;

namespace {

int IsDotEntry(const char* name) {
    return lstrcmpA(name, ".") == 0 || lstrcmpA(name, "..") == 0;
}

// directory joined with name into path (MAX_PATH); 0 when it does not fit, counted in
// removalSkipped.
int FormPath(char* path, const char* directory, const char* name) {
    if (strlen(directory) + 1 + strlen(name) + 1 > MAX_PATH) {
        ++removalSkipped;
        return 0;
    }
    strcpy(path, directory);
    JoinPath(path, name);
    return 1;
}

// The entry's path: directory joined with its name, or with its short name when the
// long one does not fit or cannot be written in the ANSI code page ('?' stands for what
// cannot; only the setup program itself makes such names). 0 when neither will do,
// counted in removalSkipped.
int ChildPath(char* child, const char* directory, const WIN32_FIND_DATAA& found) {
    const char* name = found.cFileName;
    const int fits = strlen(directory) + 1 + strlen(name) + 1 <= MAX_PATH;
    if ((!fits || strchr(name, '?') != nullptr) && found.cAlternateFileName[0] != 0) {
        name = found.cAlternateFileName;
    }
    if (strchr(name, '?') != nullptr) {
        ++removalSkipped;
        return 0;
    }
    return FormPath(child, directory, name);
}

void ClearReadOnly(const char* path, DWORD attributes) {
    attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(path, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
}

int DeleteEntry(const char* path, DWORD attributes) {
    const int isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    int removed = isDirectory ? RemoveDirectoryA(path) : DeleteFileA(path);
    if (!removed && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ClearReadOnly(path, attributes);
        removed = isDirectory ? RemoveDirectoryA(path) : DeleteFileA(path);
    }
    return removed;
}

}  // namespace

int RemoveTree(const char* directory) {
    if (directory == nullptr || directory[0] == 0) return 0;
    char pattern[MAX_PATH];
    char child[MAX_PATH];
    WIN32_FIND_DATAA found;
    if (!FormPath(pattern, directory, "*.*")) return 0;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (IsDotEntry(found.cFileName)) continue;
            if (!ChildPath(child, directory, found)) continue;
            const DWORD attributes = found.dwFileAttributes;
            // A junction or symbolic link goes as a link; what it points to is not ours.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTree(child);
            } else {
                DeleteEntry(child, attributes);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (RemoveDirectoryA(directory)) return 1;
    const DWORD attributes = GetFileAttributesA(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Gone already (the setup program may remove it itself): nothing left to do.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return DeleteEntry(directory, attributes);
}

void ScheduleTreeRemoval(const char* directory) {
    if (directory == nullptr || directory[0] == 0) return;
    char pattern[MAX_PATH];
    char child[MAX_PATH];
    WIN32_FIND_DATAA found;
    if (!FormPath(pattern, directory, "*.*")) return;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (IsDotEntry(found.cFileName)) continue;
            if (!ChildPath(child, directory, found)) continue;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                ScheduleTreeRemoval(child);
            } else {
                MoveFileExA(child, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    // Registered after its contents, so it is empty by the time its turn comes.
    // Needs administrator rights; without them the rest simply stays.
    MoveFileExA(directory, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

int RemoveWorkDirectory(const char* directory) {
    if (directory == nullptr || directory[0] == 0) return 0;
    const DWORD start = GetTickCount();
    for (;;) {
        removalSkipped = 0;
        if (RemoveTree(directory)) break;
        // Paths too long to name will not get shorter by waiting.
        if (removalSkipped != 0 || GetTickCount() - start >= REMOVAL_TIME_LIMIT_MS) {
            ScheduleTreeRemoval(directory);
            return 0;
        }
        Sleep(REMOVAL_RETRY_PAUSE_MS);
        PumpOneMessage();
    }
    return 1;
}
