// The work directory: a fresh, uniquely named directory in the temporary directory,
// held from its creation until its removal, that only the current user (unelevated),
// SYSTEM and Administrators may open; and the places of the member files inside it.
#include <string.h>

#include "archive/archive.h"
#include "extract/extract.h"
#include "extract/member_file.h"
#include "shell/shell.h"

WorkDirectory workDirectory ZERO_FILLED;

namespace {

const wchar_t WORK_DIRECTORY_PREFIX[] = L"ZEB";

// The process token's information of the given class into buffer; 0 when it cannot be had.
int QueryToken(TOKEN_INFORMATION_CLASS kind, void* buffer, DWORD size) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
    const BOOL known = GetTokenInformation(token, kind, buffer, size, &size);
    CloseHandle(token);
    return known;
}

// A high mandatory label that refuses writes from lower integrity levels, passed on to
// everything created inside. The label ACE has the allowed ACE's layout; it is made as
// one and retyped (it is the first entry, right after the list's header), so that no
// call is needed that older systems lack.
int AddHighLabel(PACL acl, DWORD* highLabel) {
    DWORD size = SECURITY_MAX_SID_SIZE;
    if (!CreateWellKnownSid(WinHighLabelSid, nullptr, highLabel, &size) ||
        !InitializeAcl(acl, 32 * sizeof(DWORD), ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                               SYSTEM_MANDATORY_LABEL_NO_WRITE_UP, highLabel)) {
        return 0;
    }
    reinterpret_cast<ACE_HEADER*>(acl + 1)->AceType = SYSTEM_MANDATORY_LABEL_ACE_TYPE;
    return 1;
}

}  // namespace

int TokenIsElevated() {
    TOKEN_ELEVATION elevation;
    return QueryToken(TokenElevation, &elevation, sizeof elevation) &&
           elevation.TokenIsElevated != 0;
}

int BuildWorkDirectorySecurity(WorkDirectorySecurity* security, int elevated) {
    static const WELL_KNOWN_SID_TYPE GRANTED[2] = {WinLocalSystemSid,
                                                   WinBuiltinAdministratorsSid};
    if (!QueryToken(TokenUser, security->tokenUser, sizeof security->tokenUser)) return 0;
    PACL acl = reinterpret_cast<PACL>(security->acl);
    if (!InitializeAcl(acl, sizeof security->acl, ACL_REVISION)) return 0;
    // SYSTEM, Administrators, then (unelevated) the user: full control, inherited.
    for (int i = 0; i < (elevated ? 2 : 3); ++i) {
        PSID sid = reinterpret_cast<TOKEN_USER*>(security->tokenUser)->User.Sid;
        if (i < 2) {
            DWORD size = SECURITY_MAX_SID_SIZE;
            sid = security->sids[i];
            if (!CreateWellKnownSid(GRANTED[i], nullptr, sid, &size)) return 0;
        }
        if (!AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                   FILE_ALL_ACCESS, sid)) {
            return 0;
        }
    }
    if (!InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED,
                                      SE_DACL_PROTECTED)) {
        return 0;
    }
    if (elevated) {
        PACL label = reinterpret_cast<PACL>(security->labelAcl);
        if (!AddHighLabel(label, security->sids[2]) ||
            !SetSecurityDescriptorSacl(&security->descriptor, TRUE, label, FALSE)) {
            return 0;
        }
    }
    security->attributes.nLength = sizeof security->attributes;
    security->attributes.lpSecurityDescriptor = &security->descriptor;
    security->attributes.bInheritHandle = FALSE;
    return 1;
}

HANDLE OpenHeld(const wchar_t* path) {
    // Listing access, so that the sharing is enforced (a handle that may only read
    // attributes would refuse nobody); no delete sharing.
    return CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

int FolderIdentity(HANDLE handle, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY) {
        return 0;
    }
    identity->volume = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    return 1;
}

int LeadsTo(const wchar_t* path, const FileIdentity& identity, HANDLE* held) {
    HANDLE handle = OpenHeld(path);
    FileIdentity found;
    // The name's own attributes too, and last: a handle cannot always tell a link (Wine
    // follows a symbolic link even when asked not to), the name's attributes can.
    const int same = FolderIdentity(handle, &found) && found.volume == identity.volume &&
                     found.indexHigh == identity.indexHigh &&
                     found.indexLow == identity.indexLow &&
                     (GetFileAttributesW(path) & (FILE_ATTRIBUTE_DIRECTORY |
                                                  FILE_ATTRIBUTE_REPARSE_POINT)) ==
                         FILE_ATTRIBUTE_DIRECTORY;
    if (handle != INVALID_HANDLE_VALUE && (!same || held == nullptr)) CloseHandle(handle);
    if (same && held != nullptr) *held = handle;
    return same;
}

int WorkDirectoryFits(DWORD temporaryLength) {
    // The longest work directory this temporary path can give, under the core's path
    // rule (PathFits) with the longest setup name; the setup program's path and the
    // removal's first pattern are shorter than what that rule allows for.
    return temporaryLength + WORK_NAME_LENGTH + 1 + (sizeof LONGEST_SETUP_NAME - 1) +
                   SEARCH_PATTERN_ROOM + 1 <=
           PATH_BUFFER_SIZE;
}

int MakeWorkDirectory() {
    WorkDirectory& work = workDirectory;
    work.path[0] = 0;
    work.held = nullptr;
    wchar_t temporaryPath[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temporaryPath);
    if (length == 0 || !WorkDirectoryFits(length)) return 0;

    WorkDirectorySecurity security;
    if (!BuildWorkDirectorySecurity(&security, TokenIsElevated())) return 0;

    wchar_t name[MAX_PATH];
    for (int attempt = 0; attempt < WORK_DIRECTORY_ATTEMPTS; ++attempt) {
        // The platform reserves a unique name by creating a file; the directory takes
        // its place. Someone else may take the name in between: then try a new one, and
        // never use a directory that this run did not create.
        if (GetTempFileNameW(temporaryPath, WORK_DIRECTORY_PREFIX, 0, name) == 0) return 0;
        DeleteFileW(name);
        if (CreateDirectoryW(name, &security.attributes)) {
            // Held at once; what the name leads to once held is what this run made
            // (unless another process replaced it in that instant: then nothing is used).
            HANDLE held = OpenHeld(name);
            const DWORD attributes = GetFileAttributesW(name);
            if (!FolderIdentity(held, &work.identity) ||
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
                return 0;
            }
            work.held = held;
            lstrcpynW(work.path, name, MAX_PATH);
            return 1;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    }
    return 0;
}

int MemberPathInWorkDirectory(wchar_t* path, const char* relative) {
    const int length = lstrlenW(workDirectory.path);
    if (length == 0 || length + 1 + SEARCH_PATTERN_ROOM + 1 > static_cast<int>(MAX_PATH)) {
        return 0;
    }
    lstrcpynW(path, workDirectory.path, MAX_PATH);
    path[length] = L'\\';
    // The room left under the core's path rule, terminator included; a name that needs
    // more fails to convert.
    return MultiByteToWideChar(nameCodePage, MB_ERR_INVALID_CHARS, relative, -1,
                               path + length + 1,
                               MAX_PATH - length - 1 - SEARCH_PATTERN_ROOM) != 0;
}

int MemberPathFits(const char*, const char* memberPath) {
    wchar_t path[MAX_PATH];
    return MemberPathInWorkDirectory(path, memberPath);
}

DWORD MemberAttributes(const char*, const char* relative) {
    wchar_t path[MAX_PATH];
    return MemberPathInWorkDirectory(path, relative) ? GetFileAttributesW(path)
                                                      : INVALID_FILE_ATTRIBUTES;
}

BOOL CreateMemberFolder(const char*, const char* relative) {
    wchar_t path[MAX_PATH];
    return MemberPathInWorkDirectory(path, relative) && CreateDirectoryW(path, nullptr);
}

void DeleteMemberFile(const char*, const char* relative) {
    wchar_t path[MAX_PATH];
    if (MemberPathInWorkDirectory(path, relative)) DeleteFileW(path);
}
