// The test and extract verbs, and the extraction's user interface on the terminal.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <errno.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/ui.h"
#include "tools/commands.h"
#include "tools/inspect.h"
#include "tools/names.h"
#include "tools/options.h"
#include "tools/terminal.h"

namespace {

const char TEST_HELP[] =
    "usage: vorpanex test [options] FILE...\n"
    "\n"
    "Decodes every member of each FILE and checks its size and CRC-16 without writing\n"
    "anything; names the member that fails and why. FILE is a setup (it starts with\n"
    "\"MZ\"; its archive begins at offset 49152) or a bare .lzh archive.\n"
    "\n"
    "options:\n"
    "  -v, --verbose      time and speed per member and in total\n"
    "  -q, --quiet        print errors only (the exit status tells)\n"
    "  -h, --help         this text\n"
    "\n"
    "exit status: 0 every FILE passed; 1 a FILE failed (damaged, unreadable, not an\n"
    "archive); 2 usage error; 130 interrupted (Ctrl-C)\n"
    "\n"
    "examples:\n"
    "  vorpanex test setup.exe\n"
    "  vorpanex test -q build/*.exe && echo all good\n";

const char EXTRACT_HELP[] =
    "usage: vorpanex extract [options] FILE [-C DIR]\n"
    "\n"
    "Extracts every member of FILE into DIR (default: the current directory),\n"
    "creating DIR if needed, with each member's date and time (taken as local time).\n"
    "Member names that could reach outside DIR are refused. Existing files of the\n"
    "same name are replaced.\n"
    "\n"
    "options:\n"
    "  -C, --directory=DIR  the directory to extract into\n"
    "  -v, --verbose        time and speed per member and in total\n"
    "  -q, --quiet          print errors only\n"
    "  -h, --help           this text\n"
    "\n"
    "exit status: 0 every member extracted; 1 a member failed, or FILE is damaged or\n"
    "unreadable (members before it are kept); 2 usage error; 130 interrupted (Ctrl-C)\n"
    "\n"
    "example: vorpanex extract setup.exe -C unpacked\n";

// What the extraction loop showed about each member, for the per-member report.
struct MemberReport {
    std::string name;
    uint64_t size = 0;
    double started = 0;
};

struct RunReport {
    bool verbose = false;
    std::vector<MemberReport> members;
    uint32_t reported = 0;  // members already printed
};

RunReport run;

std::string CurrentName() {
    bool converted = false;
    return MemberNameToUtf8(extractionState.memberPath, 0, converted);
}

void PrintFinishedMembers(uint32_t finished, double now) {
    while (run.reported < finished && run.reported < run.members.size()) {
        const MemberReport& member = run.members[run.reported];
        const double endedAt =
            run.reported + 1 < run.members.size() ? run.members[run.reported + 1].started : now;
        ProgressDone();
        if (quietOutput) {
        } else if (run.verbose) {
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

struct ExtractOptions {
    bool extracting = false;
    bool verbose = false;
    std::string directory = ".";
    std::vector<std::string> files;
};

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
    if (directory.size() + 2 > OUTPUT_PATH_SIZE) {
        fprintf(stderr, "vorpanex extract: %s: path too long\n", directory.c_str());
        return false;
    }
    return true;
}

// Tests or extracts one FILE; the exit status.
int RunOne(const char* verb, const ExtractOptions& options, const char* path) {
    run = RunReport();
    run.verbose = options.verbose;
    const long offset = ArchiveOffsetOf(verb, path);
    if (offset < 0) return EXIT_BAD_ARCHIVE;
    const double started = NowSeconds();
    const int result =
        ExtractArchiveAt(nullptr, path, options.extracting ? options.directory.c_str() : nullptr,
                         static_cast<uint32_t>(offset));
    const double now = NowSeconds();
    PrintFinishedMembers(membersExtracted, now);
    ProgressDone();

    uint64_t total = 0;
    for (uint32_t i = 0; i < membersExtracted && i < run.members.size(); ++i) {
        total += run.members[i].size;
    }
    if (result != 1) {
        const int failure = extractionFailure;
        if (failure == FAILURE_OPEN || failure == FAILURE_SEEK || failure == FAILURE_READ) {
            fprintf(stderr, "vorpanex %s: %s: %s\n", verb, path, FailureText(failure));
        } else if (failure == FAILURE_HEADER_SUM || failure == FAILURE_BAD_HEADER ||
                   failure == FAILURE_LEVEL || failure == FAILURE_HEADER_CRC) {
            fprintf(stderr, "vorpanex %s: %s: header of member %u: %s\n", verb, path,
                    membersExtracted + 1, FailureDetail(failure).c_str());
        } else {
            fprintf(stderr, "vorpanex %s: %s: %s: %s\n", verb, path, CurrentName().c_str(),
                    FailureDetail(failure).c_str());
        }
        return failure == FAILURE_CANCELLED ? EXIT_CANCELLED : EXIT_BAD_ARCHIVE;
    }
    if (quietOutput) return EXIT_OK;
    char speed[32];
    FormatSpeed(speed, sizeof speed, total, now - started);
    printf("%s: %u member%s, %llu bytes %s", path, membersExtracted,
           membersExtracted == 1 ? "" : "s", static_cast<unsigned long long>(total),
           options.extracting ? "extracted" : "tested, all OK");
    if (run.verbose) printf(" in %.3f s (%s)", now - started, speed);
    printf("\n");
    return EXIT_OK;
}

int RunExtraction(const char* verb, int argc, char** argv) {
    ExtractOptions options;
    options.extracting = strcmp(verb, "extract") == 0;
    std::vector<OptionSpec> specs = {{"verbose", 'v', false}, {"quiet", 'q', false}};
    if (options.extracting) specs.push_back({"directory", 'C', true});
    auto handle = [&](int id, const char* value) -> std::string {
        switch (id) {
            case 'v': options.verbose = true; break;
            case 'q': quietOutput = true; break;
            case 'C': options.directory = value; break;
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
    member.name = CurrentName();
    member.size = extractionState.originalRemaining;
    member.started = now;
    run.members.push_back(member);
    if (!quietOutput) ProgressBar(member.name.c_str(), 0, 100);
}

void ShowProgress(HWND, unsigned position) {
    if (!run.members.empty() && !quietOutput) {
        ProgressBar(run.members.back().name.c_str(), position, 100);
    }
}
