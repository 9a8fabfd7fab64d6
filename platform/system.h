// Files, folders, signals and the console for the hosted programs (the vorpanex tool
// and the host core): POSIX calls on Linux, the wide Win32 calls on Windows. Paths are
// UTF-8 on both; errors are errno values, so strerror() words them either way.
#ifndef VORPANEX_PLATFORM_SYSTEM_H
#define VORPANEX_PLATFORM_SYSTEM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#ifdef _WIN32
// What the tool needs of a file's status, under the names of struct stat. st_dev and
// st_ino are the volume serial number and the 64-bit file index, which tell two names
// of one file apart as on Linux.
struct FileStatus {
    uint32_t st_mode;
    int64_t st_size;
    int64_t st_mtime;
    uint64_t st_dev;
    uint64_t st_ino;
};
// A reparse point (symbolic link, junction, mount point) is reported as a link.
#ifndef S_IFLNK
#define S_IFLNK 0xA000
#endif
#ifndef S_ISLNK
#define S_ISLNK(mode) (((mode) & S_IFMT) == S_IFLNK)
#endif
#ifndef S_ISSOCK
#define S_ISSOCK(mode) 0
#endif
// Code page conversion in place of iconv: "UTF-8", "UTF-32LE" and "CPnnnn", through
// MultiByteToWideChar and WideCharToMultiByte; a character with no place in the target
// fails with EILSEQ, as iconv does.
typedef struct CodePageConverter* iconv_t;
iconv_t iconv_open(const char* to, const char* from);
size_t iconv(iconv_t converter, char** in, size_t* inLeft, char** out, size_t* outLeft);
int iconv_close(iconv_t converter);
#else
typedef struct stat FileStatus;
#endif

namespace sys {

// Descriptors. Open* and Create* give -1 with errno set on failure.
int OpenForReading(const char* path);
// Creates or truncates, for reading and writing; mode is what a new file gets on Linux.
int CreateTruncated(const char* path, unsigned mode);
// All of count unless an error (-1) or, for Read, the end of the file.
long long Read(int file, void* buffer, size_t count);
long long ReadAt(int file, void* buffer, size_t count, uint64_t offset);
long long Write(int file, const void* buffer, size_t count);
int64_t Seek(int file, int64_t offset, int whence);
int Close(int file);
int StatusOfDescriptor(int file, FileStatus* status);
// The file's modification time (and access time when given), in seconds and
// nanoseconds since 1970; 0 or -1.
int SetTimes(int file, const int64_t* accessSeconds, long accessNanoseconds,
             const int64_t* writeSeconds, long writeNanoseconds);
// Permission bits: applied on Linux; Windows has none to apply (no-op, 0).
int SetMode(int file, unsigned mode);
unsigned CurrentUmask();

// Names. Status follows links; LinkStatus reports a link (a reparse point) itself.
int Status(const char* path, FileStatus* status);
int LinkStatus(const char* path, FileStatus* status);
int MakeFolder(const char* path, unsigned mode);
int RemoveFolder(const char* path);
int RemoveFile(const char* path);
// Replaces whatever is at to (a file or a link, not followed) atomically.
int Rename(const char* from, const char* to);
// What a symbolic link holds; false with errno when path is none.
bool ReadLink(const char* path, std::string& target);
// The absolute path with every link resolved; false with errno.
bool RealPath(const char* path, std::string& resolved);
// The names in a folder, "." and ".." left out, in the order the system gives.
bool ListFolder(const char* path, std::vector<std::string>& names);
// Removes a tree without following links; false with errno.
bool RemoveTree(const char* path);
FILE* OpenStream(const char* path, const char* mode);

// Temporary files and folders: pattern ends in "XXXXXX", which is replaced. The file is
// open for reading and writing and can be removed or renamed while open.
int MakeTemporaryFile(std::string& pattern);
bool MakeTemporaryFolder(std::string& pattern);
// A file that disappears when closed (never named where the system allows), in folder.
int MakeUnnamedFile(const std::string& folder);
// The folder for temporary files: TMPDIR (Linux) or GetTempPath (Windows).
std::string TemporaryFolder();

// The working directory: Enter changes to path, keeping where to come back to.
struct FolderReturn {
    int descriptor = -1;
    std::string path;
};
bool EnterFolder(const char* path, FolderReturn& back);
bool ReturnFromFolder(FolderReturn& back);
// The folder's modification time and permission bits (when given), held by a handle
// that does not follow a link put in its place.
void SetFolderTimeAndMode(const char* path, const int64_t* seconds, const unsigned* mode);

// Signals: a stop request (Ctrl-C, SIGTERM, a closed console...) calls handler with
// the signal's number (SIGINT for Ctrl-C and Ctrl-Break). On Windows it runs on a
// thread of its own, as console control handlers do.
typedef void (*StopHandler)(int signal);
void CatchStopSignals(StopHandler handler);
// Puts back what was there before the last CatchStopSignals.
void RestoreStopSignals();
// A reader that goes away makes writes fail instead of ending the process.
void IgnoreBrokenPipe();

// The console: whether descriptor is a terminal (a console on Windows), its width in
// columns (0 when unknown), and UTF-8 output where the console takes it.
bool IsTerminal(int file);
int TerminalColumns(int file);
void PrepareConsole();

// The command line as UTF-8 (on Windows from GetCommandLineW); argv stays valid.
void Utf8Arguments(int& argc, char**& argv);

// A path given on the command line with its separators as the tool uses them: on
// Windows both \ and / are accepted and become /.
std::string PortablePath(const std::string& path);

// Whether a shell pattern (*, ?, [...]) matches text, as fnmatch without flags, or
// with FNM_PATHNAME (no wildcard matches a '/') when wholeNames.
bool MatchPattern(const char* pattern, const char* text, bool wholeNames = false);

}  // namespace sys

#endif
