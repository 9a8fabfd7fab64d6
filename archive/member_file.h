// How a member's file is created and closed after its data are complete. The plain
// versions (member_file.cpp) create and close the file like any other; the stub links
// its own, which hold the setup program's file against other processes until the
// program has started. The choice is made at link time: the stub's definitions come
// first, and the library's object with the plain ones is then not pulled in.
#ifndef VORPANEX_ARCHIVE_MEMBER_FILE_H
#define VORPANEX_ARCHIVE_MEMBER_FILE_H

#include "platform/platform.h"

// Creates (or truncates) the file at path for the member called name; HFILE_ERROR
// when it cannot be made.
HFILE CreateMemberFile(const char* path, const char* name);

// Closes a member file whose data have all been written.
HFILE CloseMemberFile(HFILE file);

#endif
