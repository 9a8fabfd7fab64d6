// Removal of the work directory: depth first, inside what was created and is held only.
//
// Every folder the walk goes into is held while it is emptied (no delete sharing), so
// that on Windows no name on the way can be renamed or replaced; a folder is entered
// only when its name shows no link and a handle to it (opened without following links)
// shows a real folder. Before each entry is removed, the folder's name must still lead
// to the held folder: a stand-in such as Wine, which lets a name be re-pointed despite
// the hold, then stops the walk instead of following. Links of any kind are removed as
// links (on Windows that never touches their targets); read-only entries are made
// writable only after their own names show no link. What cannot be removed in time is
// left to the next restart, registered only while it is known to be inside.
#include "extract/ui.h"
#include "shell/shell.h"

unsigned removalSkipped;

namespace {

int IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// directory joined with name into path (MAX_PATH); 0 when it does not fit, counted in
// removalSkipped.
int FormPath(wchar_t* path, const wchar_t* directory, const wchar_t* name) {
    const int length = lstrlenW(directory);
    if (length + 1 + lstrlenW(name) + 1 > static_cast<int>(MAX_PATH)) {
        ++removalSkipped;
        return 0;
    }
    lstrcpynW(path, directory, MAX_PATH);
    path[length] = L'\\';
    lstrcpynW(path + length + 1, name, MAX_PATH - length - 1);
    return 1;
}

const DWORD FOLDER_OR_LINK = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// Deletes a file or removes a folder or link, by its name, with the attributes its name
// showed just before. On Windows neither call ever goes through a link.
int RemoveEntry(const wchar_t* path, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return 1;
    const int isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    int removed = isFolder ? RemoveDirectoryW(path) : DeleteFileW(path);
    if (!removed && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        SetFileAttributesW(path, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
        removed = isFolder ? RemoveDirectoryW(path) : DeleteFileW(path);
    }
    return removed;
}

// Removes (or, with schedule, registers for deletion at the next restart) everything in
// the folder at directory, which the caller holds and whose identity is given.
void EmptyFolder(const wchar_t* directory, const FileIdentity& identity, int schedule) {
    wchar_t child[MAX_PATH];
    WIN32_FIND_DATAW found;
    if (!FormPath(child, directory, L"*")) return;
    HANDLE search = FindFirstFileW(child, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (IsDotEntry(found.cFileName)) continue;
        // A name too long for the path goes by its short name, where there is one.
        const wchar_t* name = found.cFileName;
        if (lstrlenW(directory) + 1 + lstrlenW(name) + 1 > static_cast<int>(MAX_PATH) &&
            found.cAlternateFileName[0] != 0) {
            name = found.cAlternateFileName;
        }
        if (!FormPath(child, directory, name)) continue;
        HANDLE held = INVALID_HANDLE_VALUE;
        FileIdentity inner;
        if ((GetFileAttributesW(child) & FOLDER_OR_LINK) == FILE_ATTRIBUTE_DIRECTORY) {
            held = OpenHeld(child);
            if (FolderIdentity(held, &inner) && LeadsTo(child, inner, nullptr)) {
                EmptyFolder(child, inner, schedule);
            }
        }
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        const DWORD attributes = GetFileAttributesW(child);
        // Right before the entry goes, the folder's name must still lead to the folder
        // being emptied.
        if (!LeadsTo(directory, identity, nullptr)) break;
        if (!schedule) {
            RemoveEntry(child, attributes);
        } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            // Registered after its contents, so that a folder is empty when its turn
            // comes. Needs administrator rights; without them the rest simply stays.
            MoveFileExW(child, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

int RemoveWorkDirectory() {
    WorkDirectory& work = workDirectory;
    if (work.path[0] == 0) return 0;
    const DWORD start = GetTickCount();
    int removed = 0;
    for (;;) {
        removalSkipped = 0;
        // A name that no longer leads to the directory this run made: gone, as far as
        // this run is concerned (the setup program may have removed it).
        if (work.held == nullptr && !LeadsTo(work.path, work.identity, &work.held)) {
            removed = 1;
            break;
        }
        EmptyFolder(work.path, work.identity, 0);
        // The hold refuses deletion to this process as well: released for the last step.
        // Removing a folder by name never removes more than an empty folder or a link.
        CloseHandle(work.held);
        work.held = nullptr;
        if (RemoveEntry(work.path, GetFileAttributesW(work.path))) {
            removed = 1;
            break;
        }
        // Paths too long to name will not get shorter by waiting.
        if (removalSkipped != 0 || GetTickCount() - start >= REMOVAL_TIME_LIMIT_MS) {
            if (LeadsTo(work.path, work.identity, &work.held)) {
                EmptyFolder(work.path, work.identity, 1);
                MoveFileExW(work.path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            }
            break;
        }
        Sleep(REMOVAL_RETRY_PAUSE_MS);
        PumpOneMessage();
    }
    if (work.held != nullptr) CloseHandle(work.held);
    work.held = nullptr;
    return removed;
}
