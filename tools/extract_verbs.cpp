// The test and extract verbs, and the extraction's user interface on the terminal.
//
// extract lets the core write into a fresh private folder inside DIR and then moves
// each member that came out whole into place: a symbolic link at a file's name is
// replaced (as tar does), never written through; a link where a folder belongs is
// refused; with --codepage the names become UTF-8 on the way.
#include <errno.h>
#include <ftw.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/ui.h"
#include "tools/commands.h"
#include "tools/reading.h"
#include "tools/names.h"
#include "tools/options.h"
#include "tools/terminal.h"

namespace {

const char TEST_HELP[] =
    "usage: vorpanex test [options] FILE...\n"
    "\n"
    "Decodes every member of each FILE and checks its size and CRC-16 without writing\n"
    "anything; names the member that fails and why. FILE is a setup (it starts with\n"
    "\"MZ\"; its archive begins at offset 49152) or a bare .lzh archive. test answers\n"
    "\"will this setup run?\": it also fails for a FILE with no members, for a file\n"
    "that is not an archive, for a setup without SETUP32.EXE or SETUP.EXE at the\n"
    "top of its archive (the program the setup starts), and for an archive in which\n"
    "one path is both a file and a folder.\n"
    "\n"
    "options:\n"
    "      --codepage=N   judge and show names as code page 932 (Japanese) or 1252\n"
    "                     (Western) Windows will; without it names are judged as\n"
    "                     1252 and bytes above 0x7F are shown as \\xNN\n"
    "      --no-setup     do not require SETUP32.EXE or SETUP.EXE in a setup\n"
    "  -v, --verbose      time and speed per member and in total\n"
    "  -q, --quiet        print errors only (the exit status tells)\n"
    "  -h, --help         this text\n"
    "\n"
    "exit status: 0 every FILE passed; 1 a FILE failed (damaged, unreadable, not an\n"
    "archive, no members, no setup program); 2 usage error; 130 interrupted (Ctrl-C)\n"
    "\n"
    "examples:\n"
    "  vorpanex test setup.exe\n"
    "  vorpanex test -q --codepage=932 build/*.exe && echo all good\n";

const char EXTRACT_HELP[] =
    "usage: vorpanex extract [options] FILE [-C DIR]\n"
    "\n"
    "Extracts every member of FILE into DIR (default: the current directory),\n"
    "creating DIR and the archive's folders if needed, with each member's date and\n"
    "time (taken as local time). Member paths that could reach outside DIR are\n"
    "refused. Existing files of the same name are replaced; a symbolic link at a\n"
    "member's name is replaced by the file, never written through, and a link where\n"
    "the archive has a folder is refused. A member that fails leaves no partial file;\n"
    "the members before it are kept.\n"
    "\n"
    "options:\n"
    "  -C, --directory=DIR  the directory to extract into\n"
    "      --codepage=N     names are code page 932 (Japanese) or 1252 (Western):\n"
    "                       judged as that Windows will, written as UTF-8; without it\n"
    "                       names are judged as 1252 and written as stored\n"
    "  -v, --verbose        time and speed per member and in total\n"
    "  -q, --quiet          print errors only\n"
    "  -h, --help           this text\n"
    "\n"
    "exit status: 0 every member extracted (or FILE holds no members, which is said);\n"
    "1 a member failed, or FILE is damaged, unreadable or not an archive; 2 usage\n"
    "error; 130 interrupted (Ctrl-C)\n"
    "\n"
    "examples:\n"
    "  vorpanex extract setup.exe -C unpacked\n"
    "  vorpanex extract --codepage=932 setup.exe -C unpacked\n";

// What the extraction loop showed about each member, for the per-member report.
struct MemberReport {
    std::string path;  // as stored: folders and name, '/' between
    std::string name;  // for the terminal
    uint64_t size = 0;
    double started = 0;
    bool folder = false;  // a -lhd- entry
};

struct ExtractOptions {
    bool extracting = false;
    bool verbose = false;
    bool noSetup = false;
    unsigned codePage = 0;
    std::string directory = ".";
    std::vector<std::string> files;
};

struct RunReport {
    const ExtractOptions* options = nullptr;
    std::vector<MemberReport> members;
    uint32_t reported = 0;  // members already printed
};

RunReport run;

// The member in hand: folders and name as stored, '/' between.
std::string CurrentPath() { return extractionState.memberPath; }

std::string Shown(const std::string& stored) {
    bool converted = false;
    return MemberNameToUtf8(stored, run.options != nullptr ? run.options->codePage : 0,
                            converted);
}

void PrintFinishedMembers(uint32_t finished, double now) {
    while (run.reported < finished && run.reported < run.members.size()) {
        const MemberReport& member = run.members[run.reported];
        const double endedAt =
            run.reported + 1 < run.members.size() ? run.members[run.reported + 1].started : now;
        ProgressDone();
        if (quietOutput) {
        } else if (run.options->verbose) {
            char speed[32];
            FormatSpeed(speed, sizeof speed, member.size, endedAt - member.started);
            printf("  ok  %-40s %12llu bytes  %8.3f s  %s\n", member.name.c_str(),
                   static_cast<unsigned long long>(member.size), endedAt - member.started,
                   speed);
        } else {
            printf("  ok  %-40s %12llu bytes\n", member.name.c_str(),
                   static_cast<unsigned long long>(member.size));
        }
        ++run.reported;
    }
}

void HandleInterrupt(int) { CancelRequested = 1; }

// Creates DIR when missing; false with a message otherwise.
bool PrepareDirectory(const std::string& directory) {
    struct stat info;
    if (stat(directory.c_str(), &info) != 0) {
        if (mkdir(directory.c_str(), 0755) != 0) {
            fprintf(stderr, "vorpanex extract: cannot create %s: %s\n", directory.c_str(),
                    strerror(errno));
            return false;
        }
    } else if (!S_ISDIR(info.st_mode)) {
        fprintf(stderr, "vorpanex extract: %s is not a directory\n", directory.c_str());
        return false;
    }
    return true;
}

// The names of the path's components as they go to disk (UTF-8 with --codepage).
bool DiskComponents(const std::string& stored, unsigned codePage,
                    std::vector<std::string>& components, std::string& error) {
    components.clear();
    size_t start = 0;
    while (start <= stored.size()) {
        size_t end = stored.find('/', start);
        if (end == std::string::npos) end = stored.size();
        if (end > start) {
            std::string name;
            if (!MemberNameForDisk(stored.substr(start, end - start), codePage, name, error)) {
                return false;
            }
            components.push_back(name);
        }
        start = end + 1;
    }
    return true;
}

// Moves one extracted member from the private folder into DIR. Folders on the way
// are created; a link or file where a folder belongs is refused; a link at the
// member's own name is replaced. "" or the error (path and the system's reason).
std::string PlaceMember(const std::string& privateFolder, const std::string& directory,
                        const std::string& stored, unsigned codePage) {
    std::vector<std::string> components;
    std::string error;
    if (!DiskComponents(stored, codePage, components, error)) return Shown(stored) + ": " + error;
    if (components.empty()) return "";
    const std::string source = privateFolder + "/" + stored;
    struct stat sourceStatus;
    if (lstat(source.c_str(), &sourceStatus) != 0) return source + ": " + strerror(errno);
    std::string target = directory;
    for (size_t i = 0; i < components.size(); ++i) {
        target += "/" + components[i];
        const bool last = i + 1 == components.size();
        struct stat status;
        const bool exists = lstat(target.c_str(), &status) == 0;
        if (last && !S_ISDIR(sourceStatus.st_mode)) break;
        if (!exists) {
            if (mkdir(target.c_str(), 0755) != 0) return target + ": " + strerror(errno);
        } else if (S_ISLNK(status.st_mode)) {
            return target + ": a symbolic link where the archive has a folder; not followed "
                   "(remove it, or extract elsewhere)";
        } else if (!S_ISDIR(status.st_mode)) {
            return target + ": a file where the archive has a folder";
        }
    }
    if (S_ISDIR(sourceStatus.st_mode)) return "";  // a folder entry: made above
    // rename() replaces whatever is at the name, a link included, without following it.
    if (rename(source.c_str(), target.c_str()) != 0) return target + ": " + strerror(errno);
    return "";
}

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
    return (type == FTW_DP ? rmdir(path) : unlink(path)) == 0 ? 0 : -1;
}

// Removes the private folder and whatever a failure left in it (links not followed).
void RemoveTree(const std::string& path) {
    if (nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS) != 0) {
        fprintf(stderr, "vorpanex extract: could not remove %s: %s\n", path.c_str(),
                strerror(errno));
    }
}

// Why the core stopped, in words: the file, the member and the cause.
void ReportFailure(const char* verb, const char* path, const std::string& directory) {
    const int failure = extractionFailure;
    std::string where = path;
    if (failure == FAILURE_HEADER_SUM || failure == FAILURE_BAD_HEADER ||
        failure == FAILURE_LEVEL || failure == FAILURE_HEADER_CRC) {
        char text[48];
        snprintf(text, sizeof text, "header of member %u", membersExtracted + 1);
        where += std::string(": ") + text;
    } else if (failure != FAILURE_OPEN && failure != FAILURE_SEEK && failure != FAILURE_READ) {
        where += ": " + Shown(CurrentPath());
    }
    std::string cause = FailureDetail(failure);
    if ((failure == FAILURE_CREATE || failure == FAILURE_WRITE) && extractionSystemError != 0) {
        cause += " " + directory + "/" + Shown(CurrentPath()) + ": " +
                 strerror(static_cast<int>(extractionSystemError));
    }
    if (failure == FAILURE_NAME && run.options->codePage == 0 &&
        NameDependsOnCodePage(CurrentPath().c_str())) {
        cause += " under code page 1252, but code page 932 judges it otherwise: pass "
                 "--codepage 932 or --codepage 1252 as the target Windows uses";
    }
    ProgressDone();
    fprintf(stderr, "vorpanex %s: %s: %s\n", verb, where.c_str(), cause.c_str());
}

std::string FoldCase(const std::string& stored) {
    std::string upper;
    for (char c : stored) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return upper;
}

// The first member whose path is a file here and a folder elsewhere in the archive
// (compared without regard to case, as Windows does): extracting it must fail.
const MemberReport* FileAndFolder(uint32_t completed) {
    std::set<std::string> folders;
    for (uint32_t i = 0; i < completed && i < run.members.size(); ++i) {
        const std::string path = FoldCase(run.members[i].path);
        if (run.members[i].folder) folders.insert(path);
        for (size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            folders.insert(path.substr(0, slash));
        }
    }
    for (uint32_t i = 0; i < completed && i < run.members.size(); ++i) {
        if (!run.members[i].folder && folders.count(FoldCase(run.members[i].path)) != 0) {
            return &run.members[i];
        }
    }
    return nullptr;
}

bool IsSetupProgram(const std::string& stored) {
    std::string upper;
    for (char c : stored) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return upper == "SETUP32.EXE" || upper == "SETUP.EXE";
}

// Tests or extracts one FILE; the exit status.
int RunOne(const char* verb, const ExtractOptions& options, const char* path) {
    run = RunReport();
    run.options = &options;
    const long offset = ArchiveOffsetOf(verb, path);
    if (offset < 0) return EXIT_BAD_ARCHIVE;

    std::string privateFolder;
    if (options.extracting) {
        // Short, so that it takes little of the path limit that the core applies.
        std::string pattern = options.directory + "/.vx-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        if (mkdtemp(buffer.data()) == nullptr) {
            fprintf(stderr, "vorpanex extract: cannot create a folder in %s: %s\n",
                    options.directory.c_str(), strerror(errno));
            return EXIT_BAD_ARCHIVE;
        }
        privateFolder = buffer.data();
    }
    PlatformSetCodePage(options.codePage == 0 ? 1252 : options.codePage);
    const double started = NowSeconds();
    const int result = ExtractArchiveAt(
        nullptr, path, options.extracting ? privateFolder.c_str() : nullptr,
        static_cast<uint32_t>(offset));
    const double now = NowSeconds();
    const uint32_t completed = membersExtracted;
    int status = EXIT_OK;
    if (result != 1) {
        PrintFinishedMembers(completed, now);
        ReportFailure(verb, path, options.directory);
        status = extractionFailure == FAILURE_CANCELLED ? EXIT_CANCELLED : EXIT_BAD_ARCHIVE;
    }
    const uint64_t archiveSize = extractionState.archiveSize;
    const uint64_t consumed = archiveReader.consumedBytes;
    if (options.extracting) {
        for (uint32_t i = 0; i < completed && i < run.members.size(); ++i) {
            const std::string error = PlaceMember(privateFolder, options.directory,
                                                  run.members[i].path, options.codePage);
            if (error.empty()) continue;
            ProgressDone();
            fprintf(stderr, "vorpanex extract: %s: %s\n", path, error.c_str());
            if (status == EXIT_OK) status = EXIT_BAD_ARCHIVE;
        }
        RemoveTree(privateFolder);
    }
    if (result != 1) return status;
    PrintFinishedMembers(completed, now);
    ProgressDone();

    if (completed == 0) {
        // Nothing but an end marker followed by other bytes: no archive at all.
        if (archiveSize > consumed) {
            fprintf(stderr, "vorpanex %s: %s: %s%s\n", verb, path, NOT_AN_ARCHIVE,
                    offset == 0 ? "" : " (offset 49152 of the setup)");
            return EXIT_BAD_ARCHIVE;
        }
        if (!options.extracting) {
            fprintf(stderr, "vorpanex test: %s: holds no members%s\n", path,
                    offset != 0 ? ": a stub without an archive; the setup would have nothing "
                                  "to run" : "");
            return EXIT_BAD_ARCHIVE;
        }
        if (!quietOutput) printf("%s: holds no members; nothing extracted\n", path);
        return status;
    }
    if (!options.extracting && offset != 0 && !options.noSetup) {
        bool haveSetup = false;
        for (uint32_t i = 0; i < completed && i < run.members.size(); ++i) {
            haveSetup = haveSetup || IsSetupProgram(run.members[i].path);
        }
        if (!haveSetup) {
            fprintf(stderr, "vorpanex test: %s: a setup without SETUP32.EXE or SETUP.EXE at "
                    "the top of its archive: it would have nothing to run (--no-setup skips "
                    "this check)\n", path);
            return EXIT_BAD_ARCHIVE;
        }
    }
    if (!options.extracting) {
        const MemberReport* clash = FileAndFolder(completed);
        if (clash != nullptr) {
            fprintf(stderr, "vorpanex test: %s: %s: both a file and a folder in this archive; "
                    "it cannot be extracted\n", path, clash->name.c_str());
            return EXIT_BAD_ARCHIVE;
        }
    }
    if (quietOutput || status != EXIT_OK) return status;
    if (options.codePage == 0) {
        for (uint32_t i = 0; i < completed && i < run.members.size(); ++i) {
            if (!NameDependsOnCodePage(run.members[i].path.c_str())) continue;
            fprintf(stderr, "vorpanex %s: %s: %s: code pages 932 and 1252 judge this name "
                    "differently; pass --codepage 932 or --codepage 1252 as the target "
                    "Windows uses\n", verb, path, run.members[i].name.c_str());
        }
    }
    uint64_t total = 0;
    for (uint32_t i = 0; i < completed && i < run.members.size(); ++i) {
        total += run.members[i].size;
    }
    char speed[32];
    FormatSpeed(speed, sizeof speed, total, now - started);
    printf("%s: %u member%s, %llu bytes %s", path, completed, completed == 1 ? "" : "s",
           static_cast<unsigned long long>(total),
           options.extracting ? "extracted" : "tested, all OK");
    if (options.verbose) printf(" in %.3f s (%s)", now - started, speed);
    printf("\n");
    return status;
}

enum ExtractOptionId { OPTION_CODEPAGE = 256, OPTION_NO_SETUP };

int RunExtraction(const char* verb, int argc, char** argv) {
    ExtractOptions options;
    options.extracting = strcmp(verb, "extract") == 0;
    std::vector<OptionSpec> specs = {{"verbose", 'v', false},
                                     {"quiet", 'q', false},
                                     {"codepage", OPTION_CODEPAGE, true}};
    if (options.extracting) {
        specs.push_back({"directory", 'C', true});
    } else {
        specs.push_back({"no-setup", OPTION_NO_SETUP, false});
    }
    auto handle = [&](int id, const char* value) -> std::string {
        switch (id) {
            case 'v': options.verbose = true; break;
            case 'q': quietOutput = true; break;
            case 'C': options.directory = value; break;
            case OPTION_NO_SETUP: options.noSetup = true; break;
            case OPTION_CODEPAGE: return ParseCodePage(value, options.codePage);
        }
        return "";
    };
    bool help = false;
    if (ParseOptions(argc, argv, specs, handle, options.files, help) != 0) return EXIT_USAGE;
    if (help) {
        fputs(options.extracting ? EXTRACT_HELP : TEST_HELP, stdout);
        return EXIT_OK;
    }
    if (options.files.empty()) return UsageError(verb, "missing FILE");
    if (options.extracting && options.files.size() > 1) {
        return UsageError(verb, "one FILE only (use -C DIR for the directory)");
    }
    const std::string unavailable = CodePageUnavailable(options.codePage);
    if (!unavailable.empty()) {
        fprintf(stderr, "vorpanex %s: %s\n", verb, unavailable.c_str());
        return EXIT_BAD_ARCHIVE;
    }
    if (options.extracting && !PrepareDirectory(options.directory)) return EXIT_BAD_ARCHIVE;

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = HandleInterrupt;
    sigaction(SIGINT, &action, nullptr);

    int status = EXIT_OK;
    for (const std::string& file : options.files) {
        const int result = RunOne(verb, options, file.c_str());
        if (result == EXIT_CANCELLED) return result;
        if (result != EXIT_OK) status = result;
    }
    return status;
}

}  // namespace

int TestCommand(int argc, char** argv) { return RunExtraction("test", argc, argv); }

int ExtractCommand(int argc, char** argv) { return RunExtraction("extract", argc, argv); }

// --- the extraction's UI on the terminal -------------------------------------------------

volatile int CancelRequested;

int PumpOneMessage() { return 0; }

// The core's "Extracting : NAME" is not shown as such: the bar names the member, since
// the verb may be test rather than extract.
void ShowStatusLine(HWND, const char*) {
    const double now = NowSeconds();
    PrintFinishedMembers(membersExtracted, now);
    MemberReport member;
    member.path = CurrentPath();
    member.name = Shown(member.path);
    member.size = extractionState.originalSize;
    member.started = now;
    member.folder = extractionState.headerBuffer[3] == 'd';
    run.members.push_back(member);
    if (!quietOutput) ProgressBar(member.name.c_str(), 0, 100);
}

void ShowProgress(HWND, unsigned position) {
    if (!run.members.empty() && !quietOutput) {
        ProgressBar(run.members.back().name.c_str(), position, 100);
    }
}
