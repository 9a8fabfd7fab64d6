// The vorpanex command line: list, test, extract and pack setups and bare archives.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/ui.h"
#include "tools/commands.h"
#include "tools/pe_resources.h"
#include "tools/terminal.h"

namespace {

const char* const MAIN_HELP =
    "usage: vorpanex VERB [options] ...\n"
    "\n"
    "Builds and checks self-extracting setups: a 49152-byte Windows stub followed by\n"
    "an LHA archive of the setup files.\n"
    "\n"
    "verbs:\n"
    "  pack     build a setup (or a bare archive) from files and folders\n"
    "  list     show the members of a setup or archive\n"
    "  test     decode every member and check its size and CRC-16; writes nothing\n"
    "  extract  unpack every member into a directory\n"
    "\n"
    "`vorpanex VERB --help` describes each verb.\n"
    "exit status: 0 success, 1 bad archive or failed work, 2 usage error,\n"
    "             130 interrupted (Ctrl-C)\n";

const char* const LIST_HELP =
    "usage: vorpanex list FILE\n"
    "\n"
    "Lists the members of FILE: method, packed and original size, ratio, CRC-16,\n"
    "date and time (local), and name, then a total line. FILE is a setup (it starts\n"
    "with \"MZ\"; its archive begins at offset 49152) or a bare .lzh archive.\n"
    "Data after the archive's end marker (such as a signature) is ignored.\n"
    "For a setup, the stub's version information, execution level and icon follow.\n"
    "\n"
    "example: vorpanex list setup.exe\n";

const char* const TEST_HELP =
    "usage: vorpanex test [--verbose] FILE\n"
    "\n"
    "Decodes every member of FILE and checks its size and CRC-16 without writing\n"
    "anything; names the member that fails and why.\n"
    "\n"
    "  -v, --verbose   time and speed per member and in total\n"
    "\n"
    "example: vorpanex test setup.exe\n";

const char* const EXTRACT_HELP =
    "usage: vorpanex extract [--verbose] FILE [-C DIR]\n"
    "\n"
    "Extracts every member of FILE into DIR (default: the current directory),\n"
    "creating DIR if needed, with each member's date and time. Member names that\n"
    "could reach outside DIR are refused. Existing files of the same name are\n"
    "replaced.\n"
    "\n"
    "  -C DIR          the directory to extract into\n"
    "  -v, --verbose   time and speed per member and in total\n"
    "\n"
    "example: vorpanex extract setup.exe -C unpacked\n";

bool IsHelp(const char* argument) {
    return strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0;
}

int Usage(const char* verb, const char* message) {
    fprintf(stderr, "vorpanex %s: %s\n(see `vorpanex %s --help`)\n", verb, message, verb);
    return EXIT_USAGE;
}

const char* FailureText(int failure) {
    switch (failure) {
        case FAILURE_OPEN: return "cannot open the file";
        case FAILURE_SEEK: return "the file is too short to hold an archive";
        case FAILURE_HEADER_SUM: return "header checksum mismatch";
        case FAILURE_BAD_HEADER: return "malformed or truncated header";
        case FAILURE_METHOD: return "unsupported method";
        case FAILURE_NAME: return "name not allowed as a file name";
        case FAILURE_PATH_TOO_LONG: return "output path too long";
        case FAILURE_TRUNCATED: return "truncated: the file ends inside this member";
        case FAILURE_CREATE: return "cannot create the output file";
        case FAILURE_WRITE: return "cannot write the output file";
        case FAILURE_CANCELLED: return "interrupted";
        case FAILURE_CRC: return "CRC mismatch";
        case FAILURE_BAD_DATA: return "corrupt compressed data (CRC mismatch)";
        case FAILURE_READ: return "read error: the data end before the file does";
        default: return "failed";
    }
}

// The archive's offset in FILE: 49152 for a setup (starts with "MZ"), 0 otherwise.
// -1 when the file cannot be read, with a message.
long ArchiveOffsetOf(const char* verb, const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fprintf(stderr, "vorpanex %s: %s: %s\n", verb, path, strerror(errno));
        return -1;
    }
    unsigned char magic[2] = {0, 0};
    const size_t got = fread(magic, 1, 2, file);
    fseek(file, 0, SEEK_END);
    const long length = ftell(file);
    fclose(file);
    if (got == 2 && magic[0] == 'M' && magic[1] == 'Z') {
        if (length < static_cast<long>(ARCHIVE_OFFSET)) {
            fprintf(stderr, "vorpanex %s: %s: a program of %ld bytes, too short to carry a "
                    "setup archive at offset %u\n", verb, path, length, ARCHIVE_OFFSET);
            return -1;
        }
        return ARCHIVE_OFFSET;
    }
    return 0;
}

std::string MethodOf(const uint8_t* header) {
    std::string method;
    for (int i = 0; i < 5; ++i) {
        const char c = static_cast<char>(header[i]);
        method += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return method;
}

// A member name for the terminal: control bytes escaped.
std::string Printable(const char* name) {
    std::string text;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", *p);
            text += escaped;
        } else {
            text += static_cast<char>(*p);
        }
    }
    return text;
}

std::string CurrentName() {
    return Printable(reinterpret_cast<const char*>(extractionState.headerBuffer + 20));
}

void FormatDosTime(char* text, size_t size, uint16_t date, uint16_t time) {
    snprintf(text, size, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (date >> 9),
             (date >> 5) & 15u, date & 31u, time >> 11, (time >> 5) & 63u, (time & 31u) * 2u);
}

}  // namespace

// --- list --------------------------------------------------------------------------

int ListCommand(int argc, char** argv) {
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            fputs(LIST_HELP, stdout);
            return EXIT_OK;
        }
        if (argv[i][0] == '-' && argv[i][1] != 0) return Usage("list", "unknown option");
        if (path != nullptr) return Usage("list", "one FILE only");
        path = argv[i];
    }
    if (path == nullptr) return Usage("list", "missing FILE");
    const long offset = ArchiveOffsetOf("list", path);
    if (offset < 0) return EXIT_BAD_ARCHIVE;
    if (!archiveReader.Open(path)) {
        fprintf(stderr, "vorpanex list: %s: %s\n", path, strerror(errno));
        return EXIT_BAD_ARCHIVE;
    }
    _llseek(archiveReader.handle, static_cast<LONG>(offset), FILE_BEGIN);

    printf("%-6s %10s %10s %6s %-4s  %-19s  %s\n", "Method", "Packed", "Original", "Ratio",
           "CRC", "Date       Time", "Name");
    uint64_t totalPacked = 0;
    uint64_t totalOriginal = 0;
    unsigned members = 0;
    int status = EXIT_OK;
    static unsigned char scratch[READER_BUFFER_SIZE];
    for (;;) {
        const int header = ReadMemberHeader();
        if (header == 0) break;
        if (header != 1) {
            fprintf(stderr, "vorpanex list: %s: member %u: %s\n", path, members + 1,
                    FailureText(extractionFailure));
            status = EXIT_BAD_ARCHIVE;
            break;
        }
        ExtractionState& state = extractionState;
        const uint32_t packedSize = state.packedRemaining;
        const uint32_t originalSize = state.originalRemaining;
        if (!SkipExtendedHeaders()) {
            fprintf(stderr, "vorpanex list: %s: %s: %s\n", path, CurrentName().c_str(),
                    FailureText(FAILURE_TRUNCATED));
            status = EXIT_BAD_ARCHIVE;
            break;
        }
        const uint32_t dataSize = state.headerBuffer[3] == '0' &&
                                          memcmp(state.headerBuffer, "-lh0-", 5) == 0
                                      ? originalSize
                                      : state.packedRemaining;
        char when[32];
        char ratio[16];
        FormatDosTime(when, sizeof when, state.fileDate, state.fileTime);
        FormatRatio(ratio, sizeof ratio, packedSize, originalSize);
        printf("%-6s %10u %10u %6s %04X  %s  %s\n", MethodOf(state.headerBuffer).c_str(),
               packedSize, originalSize, ratio, state.storedCrc, when, CurrentName().c_str());
        ++members;
        totalPacked += packedSize;
        totalOriginal += originalSize;
        for (uint32_t left = dataSize; left != 0;) {
            const uint32_t step = left < sizeof scratch ? left : sizeof scratch;
            if (archiveReader.ReadBytes(scratch, step) != step) break;
            left -= step;
        }
        if (archiveReader.atEnd) {
            fprintf(stderr, "vorpanex list: %s: %s: %s\n", path, CurrentName().c_str(),
                    FailureText(FAILURE_TRUNCATED));
            status = EXIT_BAD_ARCHIVE;
            break;
        }
    }
    archiveReader.Close();
    char ratio[16];
    FormatRatio(ratio, sizeof ratio, totalPacked, totalOriginal);
    printf("%-6s %10llu %10llu %6s %-4s  %-19s  %u file%s\n", "total",
           static_cast<unsigned long long>(totalPacked),
           static_cast<unsigned long long>(totalOriginal), ratio, "", "", members,
           members == 1 ? "" : "s");
    if (offset > 0) fputs(DescribeSetupStub(path, ARCHIVE_OFFSET).c_str(), stdout);
    return status;
}

// --- test and extract ----------------------------------------------------------------

namespace {

// What the extraction loop showed about each member, for the per-member report.
struct MemberReport {
    std::string name;
    uint64_t size = 0;
    double started = 0;
};

struct RunReport {
    const char* verb = "";
    const char* path = "";
    bool verbose = false;
    std::vector<MemberReport> members;
    uint32_t reported = 0;  // members already printed
    uint64_t archiveSize = 0;
};

RunReport run;

void PrintFinishedMembers(uint32_t finished, double now) {
    while (run.reported < finished && run.reported < run.members.size()) {
        const MemberReport& member = run.members[run.reported];
        const double endedAt =
            run.reported + 1 < run.members.size() ? run.members[run.reported + 1].started : now;
        ProgressDone();
        if (run.verbose) {
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

int RunExtraction(const char* verb, int argc, char** argv) {
    const bool extracting = strcmp(verb, "extract") == 0;
    const char* path = nullptr;
    const char* directory = ".";
    run = RunReport();
    run.verb = verb;
    for (int i = 1; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            fputs(extracting ? EXTRACT_HELP : TEST_HELP, stdout);
            return EXIT_OK;
        }
        if (strcmp(argv[i], "-v") == 0 || strcmp(argv[i], "--verbose") == 0) {
            run.verbose = true;
        } else if (extracting && strcmp(argv[i], "-C") == 0) {
            if (i + 1 >= argc) return Usage(verb, "-C needs a directory");
            directory = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != 0) {
            return Usage(verb, "unknown option");
        } else if (path != nullptr) {
            return Usage(verb, "one FILE only");
        } else {
            path = argv[i];
        }
    }
    if (path == nullptr) return Usage(verb, "missing FILE");
    const long offset = ArchiveOffsetOf(verb, path);
    if (offset < 0) return EXIT_BAD_ARCHIVE;

    if (extracting) {
        struct stat info;
        if (stat(directory, &info) != 0) {
            if (mkdir(directory, 0755) != 0) {
                fprintf(stderr, "vorpanex extract: cannot create %s: %s\n", directory,
                        strerror(errno));
                return EXIT_BAD_ARCHIVE;
            }
        } else if (!S_ISDIR(info.st_mode)) {
            fprintf(stderr, "vorpanex extract: %s is not a directory\n", directory);
            return EXIT_BAD_ARCHIVE;
        }
        if (strlen(directory) + 2 > OUTPUT_PATH_SIZE) {
            fprintf(stderr, "vorpanex extract: %s: path too long\n", directory);
            return EXIT_BAD_ARCHIVE;
        }
    }
    run.path = path;

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = HandleInterrupt;
    sigaction(SIGINT, &action, nullptr);

    const double started = NowSeconds();
    const int result = ExtractArchiveAt(nullptr, path, extracting ? directory : nullptr,
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
        } else if (failure == FAILURE_HEADER_SUM || failure == FAILURE_BAD_HEADER) {
            fprintf(stderr, "vorpanex %s: %s: header of member %u: %s\n", verb, path,
                    membersExtracted + 1, FailureText(failure));
        } else {
            fprintf(stderr, "vorpanex %s: %s: %s: %s\n", verb, path, CurrentName().c_str(),
                    FailureText(failure));
        }
        if (failure == FAILURE_CANCELLED) return EXIT_CANCELLED;
        return EXIT_BAD_ARCHIVE;
    }
    char speed[32];
    FormatSpeed(speed, sizeof speed, total, now - started);
    printf("%s: %u member%s, %llu bytes %s", path, membersExtracted,
           membersExtracted == 1 ? "" : "s", static_cast<unsigned long long>(total),
           extracting ? "extracted" : "tested, all OK");
    if (run.verbose) printf(" in %.3f s (%s)", now - started, speed);
    printf("\n");
    return EXIT_OK;
}

int Dispatch(int argc, char** argv) {
    if (argc < 2 || IsHelp(argv[1])) {
        fputs(MAIN_HELP, argc < 2 ? stderr : stdout);
        return argc < 2 ? EXIT_USAGE : EXIT_OK;
    }
    const char* verb = argv[1];
    if (strcmp(verb, "list") == 0) return ListCommand(argc - 1, argv + 1);
    if (strcmp(verb, "test") == 0) return TestCommand(argc - 1, argv + 1);
    if (strcmp(verb, "extract") == 0) return ExtractCommand(argc - 1, argv + 1);
    if (strcmp(verb, "pack") == 0) return PackCommand(argc - 1, argv + 1);
    fprintf(stderr, "vorpanex: unknown verb '%s'\n\n%s", verb, MAIN_HELP);
    return EXIT_USAGE;
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
    member.name = Printable(reinterpret_cast<const char*>(extractionState.headerBuffer + 20));
    member.size = extractionState.originalRemaining;
    member.started = now;
    run.members.push_back(member);
    ProgressBar(member.name.c_str(), 0, 100);
}

void ShowProgress(HWND, unsigned position) {
    if (!run.members.empty()) ProgressBar(run.members.back().name.c_str(), position, 100);
}

int main(int argc, char** argv) { return Dispatch(argc, argv); }
