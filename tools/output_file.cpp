// pack's output file: link resolution, checks, the temporary file and its commit.
#include "tools/output_file.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "platform/system.h"
#include "tools/commands.h"

namespace {

// The temporary file, for the stop handler; one pack runs at a time.
char temporaryPath[4096];
volatile sig_atomic_t temporaryExists;

// Ctrl-C, kill, a closed terminal or console: the temporary file goes, then the process.
// (On Windows this runs on the console's control thread; the file was opened shared for
// deletion, so it goes once the process has ended.)
void OnInterrupt(int signal) {
    if (temporaryExists) sys::RemoveFile(temporaryPath);
    static const char message[] = "\nvorpanex pack: interrupted; nothing written\n";
    (void)!write(2, message, sizeof message - 1);
    _exit(signal == SIGINT ? EXIT_CANCELLED : 128 + signal);
}

std::string Describe(const std::string& path, int error) {
    return path + ": " + strerror(error);
}

}  // namespace

bool FollowLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        FileStatus status;
        if (sys::LinkStatus(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return true;
        std::string link;
        if (!sys::ReadLink(target.c_str(), link)) return false;
        bool absolute = !link.empty() && link[0] == '/';
#ifdef _WIN32
        // Windows links read back resolved: "C:/...".
        absolute = absolute || (link.size() > 2 && link[1] == ':');
#endif
        if (absolute) {
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
        if (sys::IsTerminal(STDOUT_FILENO)) {
            return "-o -: standard output is a terminal; redirect it to a file or a pipe";
        }
        toStandardOutput = true;
        file = STDOUT_FILENO;
        return "";
    }
    if (!FollowLinks(out, target)) return Describe(out, errno);
    FileStatus status;
    unsigned mode = 0;
    if (sys::Status(target.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            return out + ": not a regular file (" +
                   (S_ISDIR(status.st_mode) ? "a folder" : "a device, pipe or socket") +
                   "); pack writes setups to regular files only (-o - for standard output)";
        }
        mode = status.st_mode & 07777;
    } else {
        mode = (executable ? 0777 : 0666) & ~sys::CurrentUmask();
    }
    if (target.size() + 16 > sizeof temporaryPath) return out + ": path too long";
    std::string pattern = target + ".XXXXXX";
    snprintf(temporaryPath, sizeof temporaryPath, "%s", pattern.c_str());
    sys::CatchStopSignals(OnInterrupt);
    file = sys::MakeTemporaryFile(pattern);
    if (file >= 0) snprintf(temporaryPath, sizeof temporaryPath, "%s", pattern.c_str());
    if (file < 0) {
        const int error = errno;
        sys::RestoreStopSignals();
        return Describe(out, error) + " (cannot create a file beside it)";
    }
    temporaryExists = 1;
    sys::SetMode(file, mode);
    return "";
}

bool OutputFile::Write(const void* data, size_t size) {
    if (sys::Write(file, data, size) < 0) {
        lastError = errno;
        return false;
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
    if (sys::Close(closing) != 0) {
        const int error = errno;
        Abandon();
        return Describe(shown, error);
    }
    if (sys::Rename(temporaryPath, target.c_str()) != 0) {
        const int error = errno;
        Abandon();
        return Describe(shown, error);
    }
    temporaryExists = 0;
    sys::RestoreStopSignals();
    return "";
}

void OutputFile::Abandon() {
    if (toStandardOutput) return;
    if (file >= 0) {
        sys::Close(file);
        file = -1;
    }
    if (temporaryExists) {
        sys::RemoveFile(temporaryPath);
        temporaryExists = 0;
        sys::RestoreStopSignals();
    }
}
