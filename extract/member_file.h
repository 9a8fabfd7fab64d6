// Where a member's folders and file go. The core forms each member's path as the work
// directory's path, a separator and the member's own path (folders separated by
// PATH_SEPARATOR, in the names' code page), and hands over both the whole path and the
// member's part of it. The plain versions (member_paths.cpp for the paths and folders,
// member_file.cpp for the files) use the whole path, like any other file; the stub
// links its own, which place everything below the work directory it holds, in UTF-16,
// and hold the setup program's file against other processes until the program has
// started. The choice is made at link time: a program's own definitions come first,
// and the library's object with the plain ones is then not pulled in, so a program
// defines all the functions of that object or none.
#ifndef VORPANEX_EXTRACT_MEMBER_FILE_H
#define VORPANEX_EXTRACT_MEMBER_FILE_H

#include "platform/platform.h"

// 1 when the paths formed for the member (memberPath with '/' between its folders)
// below workDirectory keep to the one path rule (PathFits).
int MemberPathFits(const char* workDirectory, const char* memberPath);

// The attributes of the folder or file at path, as GetFileAttributes gives them
// (INVALID_FILE_ATTRIBUTES when there is none); a link reports itself.
DWORD MemberAttributes(const char* path, const char* relative);

// Creates the folder at path; non-zero on success, else the system's error is left.
BOOL CreateMemberFolder(const char* path, const char* relative);

// Creates (or truncates) the file at path for the member; HFILE_ERROR when it cannot
// be made.
HFILE CreateMemberFile(const char* path, const char* relative);

// Closes a member file whose data have all been written.
HFILE CloseMemberFile(HFILE file);

// Deletes the file of a member that failed.
void DeleteMemberFile(const char* path, const char* relative);

#endif
