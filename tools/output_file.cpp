// pack's output file: link resolution, checks, the temporary file and its commit.
#include "tools/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "tools/commands.h"

namespace {

// The temporary file, for the Ctrl-C handler; one pack runs at a time.
char temporaryPath[4096];
volatile sig_atomic_t temporaryExists;
// Ctrl-C, kill, a closed terminal and the user signals all remove it.
const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
const int STOP_SIGNAL_COUNT = sizeof STOP_SIGNALS / sizeof STOP_SIGNALS[0];
struct sigaction previousHandlers[STOP_SIGNAL_COUNT];

void OnInterrupt(int signal) {
    if (temporaryExists) unlink(temporaryPath);
    static const char message[] = "\nvorpanex pack: interrupted; nothing written\n";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    _exit(signal == SIGINT ? EXIT_CANCELLED : 128 + signal);
}

void CatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        sigaction(STOP_SIGNALS[i], &action, &previousHandlers[i]);
    }
}

void RestoreStopSignals() {
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        sigaction(STOP_SIGNALS[i], &previousHandlers[i], nullptr);
    }
}

std::string Describe(const std::string& path, int error) {
    return path + ": " + strerror(error);
}

}  // namespace

bool FollowLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status;
        if (lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return true;
        std::vector<char> buffer(static_cast<size_t>(status.st_size) + 2 > 4096
                                     ? static_cast<size_t>(status.st_size) + 2
                                     : 4096);
        const ssize_t length = readlink(target.c_str(), buffer.data(), buffer.size() - 1);
        if (length < 0) return false;
        const std::string link(buffer.data(), static_cast<size_t>(length));
        if (!link.empty() && link[0] == '/') {
            target = link;
        } else {
            const size_t slash = target.rfind('/');
            target = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) +
                     link;
        }
    }
    errno = ELOOP;
    return false;
}

OutputFile::~OutputFile() { Abandon(); }

std::string OutputFile::Open(const std::string& out, bool executable) {
    shown = out;
    if (out == "-") {
        if (isatty(STDOUT_FILENO)) {
            return "-o -: standard output is a terminal; redirect it to a file or a pipe";
        }
        toStandardOutput = true;
        file = STDOUT_FILENO;
        return "";
    }
    if (!FollowLinks(out, target)) return Describe(out, errno);
    struct stat status;
    mode_t mode = 0;
    if (stat(target.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            return out + ": not a regular file (" +
                   (S_ISDIR(status.st_mode) ? "a folder" : "a device, pipe or socket") +
                   "); pack writes setups to regular files only (-o - for standard output)";
        }
        mode = status.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = (executable ? 0777 : 0666) & ~mask;
    }
    if (target.size() + 16 > sizeof temporaryPath) return out + ": path too long";
    snprintf(temporaryPath, sizeof temporaryPath, "%s.XXXXXX", target.c_str());
    CatchStopSignals();
    file = mkstemp(temporaryPath);
    if (file < 0) {
        const int error = errno;
        RestoreStopSignals();
        return Describe(out, error) + " (cannot create a file beside it)";
    }
    temporaryExists = 1;
    fchmod(file, mode);
    return "";
}

bool OutputFile::Write(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = write(file, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            lastError = errno;
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

std::string OutputFile::WriteError() const {
    return Describe(toStandardOutput ? "standard output" : shown, lastError);
}

std::string OutputFile::Commit() {
    if (toStandardOutput) {
        file = -1;
        return "";
    }
    const int closing = file;
    file = -1;
    if (close(closing) != 0) {
        const int error = errno;
        Abandon();
        return Describe(shown, error);
    }
    if (rename(temporaryPath, target.c_str()) != 0) {
        const int error = errno;
        Abandon();
        return Describe(shown, error);
    }
    temporaryExists = 0;
    RestoreStopSignals();
    return "";
}

void OutputFile::Abandon() {
    if (toStandardOutput) return;
    if (file >= 0) {
        close(file);
        file = -1;
    }
    if (temporaryExists) {
        unlink(temporaryPath);
        temporaryExists = 0;
        RestoreStopSignals();
    }
}
