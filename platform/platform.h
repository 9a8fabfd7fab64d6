// The few Win32 calls and types that the archive and decode core uses.
// In the stub (and its Windows tests) this is <windows.h> itself; on host builds, and
// in the tool for Windows (VORPANEX_HOSTED), the same calls are provided over the
// hosted system layer with the contracts of the real kernel32 functions, so that a
// unit test runs the very lines that run inside the stub, and the tool opens UTF-8
// paths on either system. PLATFORM_KERNEL32 says which.
#ifndef VORPANEX_PLATFORM_PLATFORM_H
#define VORPANEX_PLATFORM_PLATFORM_H

#if defined(_WIN32) && !defined(VORPANEX_HOSTED)
#define PLATFORM_KERNEL32 1
#endif

#ifdef PLATFORM_KERNEL32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The code page that member names are stored in (CP_ACP, the system's ANSI code page,
// unless the setup names another); names are walked and converted to UTF-16 in it.
extern UINT nameCodePage;
inline int PlatformIsLeadByte(unsigned char byte) {
    return IsDBCSLeadByteEx(nameCodePage, byte) ? 1 : 0;
}

#else  // host

#include <stdint.h>

typedef int HFILE;
typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef void* HANDLE;
typedef void* HWND;
typedef const char* LPCSTR;

#define HFILE_ERROR ((HFILE)-1)
#define OF_READ 0
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// Files through the old handle family. Handles are C runtime descriptors.
HFILE _lopen(LPCSTR path, int mode);            // OF_READ only
UINT _lread(HFILE file, void* buffer, UINT count);  // HFILE_ERROR as UINT on failure
LONG _llseek(HFILE file, LONG offset, int origin);  // HFILE_ERROR on failure
HFILE _lclose(HFILE file);                      // 0 on success, HFILE_ERROR on failure
HFILE _lcreat(LPCSTR path, int attributes);     // creates or truncates; mode 0644
UINT _lwrite(HFILE file, const char* buffer, UINT count);
// _llseek with 64-bit offsets, for the tool's archives beyond 2 GiB: the new position,
// or -1 on failure.
int64_t PlatformSeek(HFILE file, int64_t offset, int origin);

// Folders and errors. GetFileAttributesA does not follow a symbolic link: a link
// reports FILE_ATTRIBUTE_REPARSE_POINT, as a junction or link does on Windows.
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
DWORD GetFileAttributesA(LPCSTR path);
BOOL CreateDirectoryA(LPCSTR path, void* securityAttributes);  // mode 0755
BOOL DeleteFileA(LPCSTR path);
DWORD GetLastError();  // errno of the last failed call

// For fuzzing: from now on _lopen of exactly this path reads these bytes instead of a
// file, through _lread and _llseek, until the next call (a null path ends it). The path
// and the bytes must stay valid while in use. One memory file is open at a time.
void PlatformServeMemory(LPCSTR path, const void* data, UINT size);

// File times: 100 ns units since 1601-01-01. "Local" file times are the local
// wall-clock time expressed in the same units, as on Windows.
BOOL DosDateTimeToFileTime(WORD dosDate, WORD dosTime, FILETIME* fileTime);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);

// Double-byte lead bytes of the host's chosen ANSI code page: 932 (Shift_JIS) has
// lead bytes 0x81-0x9F and 0xE0-0xFC; every other code page is single-byte.
void PlatformSetCodePage(unsigned codePage);
unsigned PlatformCodePage();
int PlatformIsLeadByte(unsigned char byte);

#endif  // PLATFORM_KERNEL32

// An HFILE as the HANDLE that the file-time calls take.
inline HANDLE HandleFromHfile(HFILE file) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(file));
}

#endif
