// The hosted system calls over POSIX (Linux).
#ifndef _WIN32

#include "platform/system.h"

#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <ftw.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <dirent.h>
#include <unistd.h>

namespace sys {

namespace {

// Ctrl-C, kill, a closed terminal and the user signals all stop the work.
const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
const int STOP_SIGNAL_COUNT = sizeof STOP_SIGNALS / sizeof STOP_SIGNALS[0];
struct sigaction previousHandlers[STOP_SIGNAL_COUNT];

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
    return (type == FTW_DP ? rmdir(path) : unlink(path)) == 0 ? 0 : -1;
}

}  // namespace

int OpenForReading(const char* path) {
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int CreateTruncated(const char* path, unsigned mode) {
    int fd;
    do {
        fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

long long Read(int file, void* buffer, size_t count) {
    size_t total = 0;
    while (total < count) {
        const ssize_t got = read(file, static_cast<char*>(buffer) + total, count - total);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    return static_cast<long long>(total);
}

long long ReadAt(int file, void* buffer, size_t count, uint64_t offset) {
    for (;;) {
        const ssize_t got = pread(file, buffer, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

long long Write(int file, const void* buffer, size_t count) {
    size_t total = 0;
    while (total < count) {
        const ssize_t put = write(file, static_cast<const char*>(buffer) + total, count - total);
        if (put < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        total += static_cast<size_t>(put);
    }
    return static_cast<long long>(total);
}

int64_t Seek(int file, int64_t offset, int whence) {
    const off_t result = lseek(file, static_cast<off_t>(offset), whence);
    return result < 0 ? -1 : static_cast<int64_t>(result);
}

int Close(int file) { return close(file); }

int StatusOfDescriptor(int file, FileStatus* status) { return fstat(file, status); }

int SetTimes(int file, const int64_t* accessSeconds, long accessNanoseconds,
             const int64_t* writeSeconds, long writeNanoseconds) {
    struct timespec times[2];
    times[0].tv_sec = accessSeconds != nullptr ? static_cast<time_t>(*accessSeconds) : 0;
    times[0].tv_nsec = accessSeconds != nullptr ? accessNanoseconds : UTIME_OMIT;
    times[1].tv_sec = writeSeconds != nullptr ? static_cast<time_t>(*writeSeconds) : 0;
    times[1].tv_nsec = writeSeconds != nullptr ? writeNanoseconds : UTIME_OMIT;
    return futimens(file, times);
}

int SetMode(int file, unsigned mode) { return fchmod(file, static_cast<mode_t>(mode)); }

unsigned CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

int Status(const char* path, FileStatus* status) { return stat(path, status); }

int LinkStatus(const char* path, FileStatus* status) { return lstat(path, status); }

int MakeFolder(const char* path, unsigned mode) { return mkdir(path, static_cast<mode_t>(mode)); }

int RemoveFolder(const char* path) { return rmdir(path); }

int RemoveFile(const char* path) { return unlink(path); }

int Rename(const char* from, const char* to) { return rename(from, to); }

bool ReadLink(const char* path, std::string& target) {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink(path, buffer.data(), buffer.size());
        if (length < 0) return false;
        if (static_cast<size_t>(length) < buffer.size()) {
            target.assign(buffer.data(), static_cast<size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool RealPath(const char* path, std::string& resolved) {
    char* absolute = realpath(path, nullptr);
    if (absolute == nullptr) return false;
    resolved = absolute;
    free(absolute);
    return true;
}

bool ListFolder(const char* path, std::vector<std::string>& names) {
    DIR* directory = opendir(path);
    if (directory == nullptr) return false;
    errno = 0;
    while (struct dirent* entry = readdir(directory)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        names.push_back(entry->d_name);
    }
    const int readError = errno;
    closedir(directory);
    errno = readError;
    return readError == 0;
}

bool RemoveTree(const char* path) {
    return nftw(path, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

FILE* OpenStream(const char* path, const char* mode) { return fopen(path, mode); }

int MakeTemporaryFile(std::string& pattern) { return mkostemp(&pattern[0], O_CLOEXEC); }

bool MakeTemporaryFolder(std::string& pattern) { return mkdtemp(&pattern[0]) != nullptr; }

int MakeUnnamedFile(const std::string& folder) {
    int file = -1;
#ifdef O_TMPFILE
    file = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (file < 0) {
        std::string pattern = folder + "/.vorpanex-spill.XXXXXX";
        file = mkstemp(&pattern[0]);
        if (file >= 0) unlink(pattern.c_str());
    }
    return file;
}

std::string TemporaryFolder() {
    const char* folder = getenv("TMPDIR");
    return folder != nullptr && *folder != 0 ? folder : "/tmp";
}

bool EnterFolder(const char* path, FolderReturn& back) {
    back.descriptor = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (back.descriptor < 0) return false;
    return chdir(path) == 0;
}

bool ReturnFromFolder(FolderReturn& back) {
    if (back.descriptor < 0) return true;
    const bool returned = fchdir(back.descriptor) == 0;
    const int error = errno;
    close(back.descriptor);
    back.descriptor = -1;
    errno = error;
    return returned;
}

void SetFolderTimeAndMode(const char* path, const int64_t* seconds, const unsigned* mode) {
    const int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return;
    if (seconds != nullptr) SetTimes(folder, seconds, 0, seconds, 0);
    if (mode != nullptr) fchmod(folder, static_cast<mode_t>(*mode));
    close(folder);
}

void CatchStopSignals(StopHandler handler) {
    struct sigaction action = {};
    action.sa_handler = handler;
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        sigaction(STOP_SIGNALS[i], &action, &previousHandlers[i]);
    }
}

void RestoreStopSignals() {
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        sigaction(STOP_SIGNALS[i], &previousHandlers[i], nullptr);
    }
}

void IgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }

bool IsTerminal(int file) { return isatty(file) != 0; }

int TerminalColumns(int file) {
    struct winsize size;
    if (ioctl(file, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 0;
}

void PrepareConsole() {}

void Utf8Arguments(int&, char**&) {}

std::string PortablePath(const std::string& path) { return path; }

bool MatchPattern(const char* pattern, const char* text, bool wholeNames) {
    return fnmatch(pattern, text, wholeNames ? FNM_PATHNAME : 0) == 0;
}

}  // namespace sys

#endif  // !_WIN32
