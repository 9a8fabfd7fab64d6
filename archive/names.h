// The rules a member name must keep to on Windows, shared by the stub's extraction and
// the tool's pack and test.
#ifndef VORPANEX_ARCHIVE_NAMES_H
#define VORPANEX_ARCHIVE_NAMES_H

// 1 when name can be a file name inside the work directory, read in the ANSI code
// page: not empty, not "." or "..", no separator, drive colon, control character or
// wildcard, and not a device name.
int IsSafeMemberName(const char* name);

#endif
