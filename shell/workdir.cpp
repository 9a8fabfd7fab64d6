// The work directory: a fresh, uniquely named directory in the temporary directory that
// only the current user, SYSTEM and Administrators may open.
#include <string.h>

#include "archive/archive.h"
#include "shell/shell.h"

namespace {

const char WORK_DIRECTORY_PREFIX[] = "ZEB";

// A protected access list (nothing inherited from the temporary directory) whose entries
// pass on to everything created inside.
struct ProtectedSecurity {
    SECURITY_ATTRIBUTES attributes;
    SECURITY_DESCRIPTOR descriptor;
    DWORD acl[128];
    DWORD tokenUser[64];
    DWORD systemSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD) + 1];
    DWORD administratorsSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD) + 1];
};

int AllowFullAccess(PACL acl, PSID sid) {
    return AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                 FILE_ALL_ACCESS, sid);
}

int BuildProtectedSecurity(ProtectedSecurity* security) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
    DWORD needed = 0;
    const BOOL gotUser = GetTokenInformation(token, TokenUser, security->tokenUser,
                                             sizeof security->tokenUser, &needed);
    CloseHandle(token);
    if (!gotUser) return 0;
    PSID user = reinterpret_cast<TOKEN_USER*>(security->tokenUser)->User.Sid;

    DWORD size = sizeof security->systemSid;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, security->systemSid, &size)) return 0;
    size = sizeof security->administratorsSid;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, security->administratorsSid,
                            &size)) {
        return 0;
    }

    PACL acl = reinterpret_cast<PACL>(security->acl);
    if (!InitializeAcl(acl, sizeof security->acl, ACL_REVISION) ||
        !AllowFullAccess(acl, user) || !AllowFullAccess(acl, security->systemSid) ||
        !AllowFullAccess(acl, security->administratorsSid)) {
        return 0;
    }
    if (!InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED,
                                      SE_DACL_PROTECTED)) {
        return 0;
    }
    security->attributes.nLength = sizeof security->attributes;
    security->attributes.lpSecurityDescriptor = &security->descriptor;
    security->attributes.bInheritHandle = FALSE;
    return 1;
}

}  // namespace

int WorkDirectoryFits(DWORD temporaryLength) {
    // The longest work directory this temporary path can give, under the core's path
    // rule with the longest setup name; the setup program's path and the removal's
    // first pattern are shorter than what that rule allows for.
    const DWORD longestLength = temporaryLength + WORK_NAME_LENGTH;
    if (longestLength >= MAX_PATH) return 0;
    char longest[MAX_PATH];
    memset(longest, 'x', longestLength);
    longest[longestLength] = 0;
    return PathFits(longest, LONGEST_SETUP_NAME);
}

int MakeWorkDirectory(char* workDirectory) {
    workDirectory[0] = 0;
    char temporaryPath[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temporaryPath);
    if (length == 0 || !WorkDirectoryFits(length)) return 0;

    ProtectedSecurity security;
    if (!BuildProtectedSecurity(&security)) return 0;

    char name[MAX_PATH];
    for (int attempt = 0; attempt < WORK_DIRECTORY_ATTEMPTS; ++attempt) {
        // The platform reserves a unique name by creating a file; the directory takes
        // its place. Someone else may take the name in between: then try a new one, and
        // never use a directory that this run did not create.
        if (GetTempFileNameA(temporaryPath, WORK_DIRECTORY_PREFIX, 0, name) == 0) return 0;
        DeleteFileA(name);
        if (CreateDirectoryA(name, &security.attributes)) {
            strcpy(workDirectory, name);
            return 1;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    }
    return 0;
}
