// The plain member paths of the tool and the tests: see member_file.h. Apart from the
// member files themselves, which the tool makes its own way.
#include "archive/archive.h"
#include "extract/extract.h"
#include "extract/member_file.h"

int MemberPathFits(const char* workDirectory, const char* memberPath) {
    return PathFits(workDirectory, memberPath);
}

DWORD MemberAttributes(const char* path, const char*) { return GetFileAttributesA(path); }

BOOL CreateMemberFolder(const char* path, const char*) { return CreateDirectoryA(path, nullptr); }

void DeleteMemberFile(const char* path, const char*) { DeleteFileA(path); }
