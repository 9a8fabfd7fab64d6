// Member extraction above the decoder: the archive walk shared by list, test, extract
// and the stub, one member into one file, and the paths formed below the work directory.
#ifndef VORPANEX_EXTRACT_EXTRACT_H
#define VORPANEX_EXTRACT_EXTRACT_H

#include <stdint.h>

#include "archive/archive.h"
#include "platform/platform.h"

extern uint32_t membersExtracted;   // members completed by the last extraction
#ifndef PLATFORM_KERNEL32
// Non-zero: "-lh7-" members fail as an unsupported method, as the stubs from before
// -lh7- fail them. The tool sets it when it tests a setup with such a stub.
extern int largeWindowRefused;
// The tool's choices in the walk; the stub takes every member and stops at the first
// that fails. memberSelected: when set, the extraction walks past every member for
// which it returns 0. memberFailed: when set, it is called after a member failed (its
// file, if any, deleted; extractionFailure says why), and a non-zero result walks on
// past the member: the extraction then ends with 1 when the walk reached the end.
extern int (*memberSelected)();
extern int (*memberFailed)();
// When not HFILE_ERROR, an extraction without a work directory writes each member's
// bytes to this file as it checks them (extract --to-stdout).
extern HFILE memberStream;
#endif

// The member walk shared by list, test, extract and the stub. Between OpenArchive and
// CloseArchive: NextMember puts the next member in hand (0 end of archive, 1 member,
// 2 failure); ExtractMember and/or SkipMemberData consume it, and SkipMemberData must
// be called before the next NextMember so that the walk goes by the packed size,
// whatever the decoder took.
int OpenArchive(const char* path, FileOffset offset);
// The same over a file already open; the walk takes it over and CloseArchive closes it.
int OpenArchiveFile(HFILE file, FileOffset offset);
int NextMember();
int SkipMemberData();
void CloseArchive();

// Arms a check for the next extraction only: the SHA-256 of the length bytes from the
// archive's offset must be digest. Those bytes are hashed as the walk reads them (the
// rest after the last member); a different digest fails the extraction, after its last
// member, with FAILURE_DIGEST.
void ExpectArchiveDigest(const uint8_t* digest, uint32_t length);

// 1 when every member was extracted with a matching CRC-16, else 0.
int ExtractArchive(HWND window, const char* modulePath, const char* workDirectory);
// The same from the file held open (the walk takes it over and closes it).
int ExtractArchiveFile(HWND window, HFILE file, const char* workDirectory);
// The same from a given offset (0 for a bare archive). A null workDirectory decodes
// and checks every member without creating any file.
int ExtractArchiveAt(HWND window, const char* archivePath, const char* workDirectory,
                     FileOffset offset);
int ExtractMember(HWND window, const char* workDirectory);
int WriteChunk(const uint8_t* data, uint32_t count, HFILE file);

// 1 when directory + separator + relativePath, with room for a search pattern after
// it and the terminator, fits PATH_BUFFER_SIZE: the one limit for every path formed
// below the work directory.
int PathFits(const char* directory, const char* relativePath);

// Appends one separator (a backslash on Windows, a slash on the host) unless the path
// already ends in a backslash or slash, then the name. The result must fit the buffer.
#ifdef PLATFORM_KERNEL32
const char PATH_SEPARATOR = '\\';
#else
const char PATH_SEPARATOR = '/';
#endif
char* JoinPath(char* path, const char* name);

#endif
