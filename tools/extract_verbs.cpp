// The test and extract verbs; the core reaches them through extract_ui.cpp.
//
// extract writes each member into a private file beside its target in DIR and renames
// it into place once the member has come out whole: a symbolic link at a file's name
// is replaced (as tar does), never written through; a link where a folder belongs is
// refused; a later member of the same name replaces an earlier one, as on Windows;
// with --codepage the names become UTF-8 on the way, as Windows converts them.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <unordered_map>
#include <unordered_set>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "extract/extract.h"
#include "extract/ui.h"
#include "platform/system.h"
#include "tools/commands.h"
#include "tools/extract_verbs.h"
#include "tools/reading.h"
#include "archive/names.h"
#include "tools/options.h"
#include "tools/pack.h"
#include "tools/seal.h"
#include "tools/terminal.h"

namespace extraction {

RunReport run;

namespace {

const char TEST_HELP[] =
    "usage: vorpanex test [options] FILE... [MEMBER|PATTERN...]\n"
    "\n"
    MEMBER_ARGUMENTS_HELP
    "decoded. A setup's own checks (below) judge all its members, whichever are\n"
    "chosen: they are about what its stub will meet.\n"
    "\n"
    "Decodes every member of each FILE and checks its size and CRC-16 without writing\n"
    "anything; names each member that fails and why, and goes on with the next one (a\n"
    "damaged header stops the walk there). FILE is a setup (it starts with\n"
    "\"MZ\"; its archive begins at offset " ARCHIVE_OFFSET_TEXT
    ") or a bare .lzh archive. test answers\n"
    "\"will this setup run?\": it also fails for a FILE with no members, for a file\n"
    "that is not an archive, for a setup without SETUP32.EXE or SETUP.EXE at the\n"
    "top of its archive (the program the setup starts), for an archive in which\n"
    "one path is both a file and a folder, and for a setup whose archive is not the\n"
    "one its stub was sealed with by pack (changed after packing, or put behind\n"
    "another setup's stub), which the setup would refuse to run. In a setup, names\n"
    "are judged by Windows' rules: a folder named SETUP32.EXE or SETUP.EXE, two\n"
    "members that are one file on Windows (the same name, or names that differ only\n"
    "in case, Greek, Cyrillic and fullwidth letters too) and a path over 154 bytes\n"
    "fail it.\n"
    "\n"
    "options:\n"
    "      --codepage=N   judge and show names as code page 932 (Japanese) or 1252\n"
    "                     (Western) Windows will; without it, the code page the\n"
    "                     setup records, else names are judged as 1252 and bytes\n"
    "                     above 0x7F are shown as \\xNN\n"
    "      --no-setup     do not require SETUP32.EXE or SETUP.EXE in a setup\n"
    "  -v, --verbose      time and speed per member and in total\n"
    "  -q, --quiet        print errors only (the exit status tells)\n"
    "  -h, --help         this text\n"
    "\n"
    "exit status: 0 every FILE passed; 1 a FILE failed (damaged, unreadable, not an\n"
    "archive, no members, no setup program, a failed write to standard output);\n"
    "2 usage error; 130 interrupted (Ctrl-C; other stop signals 128 + the signal:\n"
    "143 SIGTERM, 129 SIGHUP, 138 SIGUSR1)\n"
    "\n"
    "examples:\n"
    "  vorpanex test setup.exe\n"
    "  vorpanex test -q --codepage=932 build/*.exe && echo all good\n";
static_assert(MAX_MEMBER_PATH == 154, "TEST_HELP states the member path limit");

const char EXTRACT_HELP[] =
    "usage: vorpanex extract [options] FILE... [MEMBER|PATTERN...] [-C DIR]\n"
    "\n"
    MEMBER_ARGUMENTS_HELP
    "extracted.\n"
    "\n"
    "Extracts every member of FILE into DIR (default: the current directory),\n"
    "creating DIR and the archive's folders if needed, with each member's date and\n"
    "time (taken as local time). Member paths that could reach outside DIR are\n"
    "refused. Existing files of the same name are replaced; a symbolic link at a\n"
    "member's name is replaced by the file, never written through, and a link where\n"
    "the archive has a folder is refused. A later member of the same name replaces an\n"
    "earlier one, as on Windows. A member that fails (an unsupported method, a name\n"
    "Windows refuses, a CRC error...) leaves no partial file and is named; the\n"
    "others are still extracted, and the exit status is 1. A damaged header stops\n"
    "the walk there. Member paths may have up to 244 bytes, whatever DIR's own path.\n"
    "On Linux members get the Unix permission bits their headers carry; on Windows\n"
    "they are not applied (files take the folder's ACLs), and a junction or link\n"
    "where the archive has a folder is refused like a link.\n"
    "\n"
    "options:\n"
    "  -C, --directory=DIR  the directory to extract into\n"
    "  -p, --to-stdout      write the chosen members' bytes to standard output, one\n"
    "                       after the other, and no file; messages go to standard\n"
    "                       error\n"
    "  -k, --keep-old-files an existing file is not replaced: an error for that\n"
    "                       member, which is left out\n"
    "      --skip-old-files an existing file is not replaced, silently\n"
    "      --codepage=N     names are code page 932 (Japanese) or 1252 (Western):\n"
    "                       judged as that Windows will, written as UTF-8; without it,\n"
    "                       the code page the setup records, else names are judged\n"
    "                       as 1252 and written as stored (on Windows, as 1252)\n"
    "  -v, --verbose        time and speed per member and in total\n"
    "  -q, --quiet          print errors only\n"
    "  -h, --help           this text\n"
    "\n"
    "exit status: 0 every member extracted (or FILE holds no members, which is said);\n"
    "1 a member failed, or FILE is damaged, unreadable or not an archive, or a write\n"
    "to standard output failed (the members are still extracted); 2 usage error;\n"
    "130 interrupted (Ctrl-C; other stop signals 128 + the signal: 143 SIGTERM,\n"
    "129 SIGHUP, 138 SIGUSR1), leaving no partial file\n"
    "\n"
    "examples:\n"
    "  vorpanex extract setup.exe -C unpacked\n"
    "  vorpanex extract --codepage=932 setup.exe -C unpacked\n"
    "  vorpanex extract setup.exe 'docs/*' README.TXT -C unpacked\n"
    "  vorpanex extract -p setup.exe README.TXT | less\n";

// The members chosen by name or pattern in the FILE in hand.
MemberSelection selection;

const HFILE STANDARD_OUTPUT = 1;  // the descriptor of standard output, for -p

// Where informational lines go: standard error while members' bytes go to standard
// output.
FILE* InfoStream() { return run.options != nullptr && run.options->toStdout ? stderr : stdout; }

// The permission bits a member gets: the header's, without set-user-ID, set-group-ID
// and sticky, within the umask; without them 0666 (files) or 0777 (folders) within
// the umask, as before.
mode_t ModeFor(bool known, mode_t stored, bool folder) {
    return (known ? stored & 0777 : folder ? 0777 : 0666) & ~run.umask;
}

// The member in hand's time as seconds since 1970: a Unix time, or the DOS time taken
// as local time. false for a DOS time that is not a valid one.
bool MemberTime(time_t& when) {
    const ExtractionState& state = extractionState;
    if (state.timeIsUnix) {
        when = static_cast<time_t>(state.unixTime);
        return true;
    }
    struct tm local;
    memset(&local, 0, sizeof local);
    local.tm_year = 80 + (state.fileDate >> 9);
    local.tm_mon = ((state.fileDate >> 5) & 15) - 1;
    local.tm_mday = state.fileDate & 31;
    local.tm_hour = state.fileTime >> 11;
    local.tm_min = (state.fileTime >> 5) & 63;
    local.tm_sec = (state.fileTime & 31) * 2;
    local.tm_isdst = -1;
    if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday == 0 || local.tm_hour > 23 ||
        local.tm_min > 59 || local.tm_sec > 59) {
        return false;
    }
    when = mktime(&local);
    return when != static_cast<time_t>(-1);
}

// The member in hand: folders and name as stored, '/' between.
std::string CurrentPath() { return extractionState.memberPath; }

std::string Shown(const std::string& stored) {
    bool converted = false;
    return MemberNameToUtf8(stored, run.codePage, converted);
}

// A path under DIR for a message, its control characters escaped.
std::string Quoted(const std::string& relative) {
    return EscapeForTerminal(run.options->directory + "/" + relative);
}

// Puts a member that came out whole in place: its file replaces whatever is at its
// name (a link included, never followed); a folder entry becomes a folder. "" or the
// reason, naming the path under DIR.
std::string PlaceMember(MemberReport& member);

void PrintFinishedMembers(uint32_t finished, double now) {
    while (run.reported < finished && run.reported < run.members.size()) {
        MemberReport& member = run.members[run.reported];
        const double endedAt =
            run.reported + 1 < run.members.size() ? run.members[run.reported + 1].started : now;
        ++run.reported;
        if (member.failed) continue;
        ProgressDone();
        const std::string error = run.extracting ? PlaceMember(member) : "";
        if (!error.empty()) {
            // Like any member that fails: named with its archive, counted, walked past.
            fprintf(stderr, "vorpanex extract: %s: %s: %s\n", run.shownFile,
                    member.name.c_str(), error.c_str());
            ++run.failed;
            ++run.notPlaced;
        } else if (quietOutput || (run.options->toStdout && !run.options->verbose)) {
        } else if (run.options->verbose) {
            char speed[32];
            FormatSpeed(speed, sizeof speed, member.size, endedAt - member.started);
            fprintf(InfoStream(), "  ok  %-40s %12llu bytes  %8.3f s  %s\n", member.name.c_str(),
                   static_cast<unsigned long long>(member.size), endedAt - member.started,
                   speed);
        } else {
            fprintf(InfoStream(), "  ok  %-40s %12llu bytes\n", member.name.c_str(),
                   static_cast<unsigned long long>(member.size));
        }
    }
}

// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2 and SIGALRM all stop the work at
// the next chunk or member, and the clean-up runs as after any failure; the exit status
// is 128 + the signal.
volatile sig_atomic_t stopSignal;

void HandleStopSignal(int signal) {
    stopSignal = signal;
    CancelRequested = 1;
}

int CancelledStatus() { return stopSignal != 0 ? 128 + stopSignal : EXIT_CANCELLED; }

// Creates DIR when missing; false with a message otherwise.
bool PrepareDirectory(const std::string& directory) {
    FileStatus info;
    if (sys::Status(directory.c_str(), &info) != 0) {
        if (sys::MakeFolder(directory.c_str(), 0755) != 0) {
            fprintf(stderr, "vorpanex extract: cannot create %s: %s\n",
                    EscapeForTerminal(directory).c_str(), strerror(errno));
            return false;
        }
    } else if (!S_ISDIR(info.st_mode)) {
        fprintf(stderr, "vorpanex extract: %s is not a directory\n",
                EscapeForTerminal(directory).c_str());
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

// Makes the folders of a path under DIR (the working directory while extracting): a
// link or a file where a folder belongs is refused. "" or the reason.
std::string MakeFolders(const std::vector<std::string>& components, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        path += (i == 0 ? "" : "/") + components[i];
        FileStatus status;
        if (sys::LinkStatus(path.c_str(), &status) != 0) {
            if (sys::MakeFolder(path.c_str(), 0755) != 0 && errno != EEXIST) {
                return Quoted(path) + ": " + strerror(errno);
            }
        } else if (S_ISLNK(status.st_mode)) {
            return Quoted(path) + ": a symbolic link where the archive has a folder; not "
                   "followed (remove it, or extract elsewhere)";
        } else if (!S_ISDIR(status.st_mode)) {
            return Quoted(path) + ": a file where the archive has a folder";
        }
    }
    return "";
}

std::string PlaceMember(MemberReport& member) {
    std::vector<std::string> components;
    std::string error;
    if (!DiskComponents(member.path, run.codePage, components, error)) {
        return Shown(member.path) + ": " + error;
    }
    if (member.folder) {
        // The core made the folder in its private folder too: that copy goes now, not
        // all at the end, so that a stop after many folder entries ends at once.
        sys::RemoveFolder((run.privateFolder + "/" + member.path).c_str());
        const std::string error = MakeFolders(components, components.size());
        member.placed = error.empty();
        return error;
    }
    // Rename replaces whatever is at the name, a link included, without following it;
    // the file was made in the target's own folder, so no mount point lies between.
    const std::string temporary = member.temporary;
    member.temporary.clear();
    if (temporary.empty()) return "";
    // A file this run put there is an earlier copy of this member: it goes first, as a
    // rename over an existing file can make the file system write the new one out at
    // once (ext4 does), which took a millisecond per copy of a name stored many times.
    if (!run.placed.insert(member.target).second) sys::RemoveFile(member.target.c_str());
    if (sys::Rename(temporary.c_str(), member.target.c_str()) != 0) {
        const int error = errno;
        sys::RemoveFile(temporary.c_str());
        return Quoted(member.target) + ": " + strerror(error);
    }
    return "";
}

// Removes the private folder and whatever a failure left in it (links not followed).
void RemoveTree(const std::string& path) {
    if (!sys::RemoveTree(path.c_str())) {
        fprintf(stderr, "vorpanex extract: could not remove %s: %s\n",
                EscapeForTerminal(path).c_str(), strerror(errno));
    }
}

// Why the core stopped, in words: the file, the member and the cause.
void ReportFailure(const char* verb, const char* path, const std::string& directory) {
    const int failure = extractionFailure;
    std::string where = path;
    if (failure == FAILURE_HEADER_SUM || failure == FAILURE_BAD_HEADER ||
        failure == FAILURE_LEVEL || failure == FAILURE_HEADER_CRC) {
        char text[48];
        snprintf(text, sizeof text, "header of member %u", run.walked + 1);
        where += std::string(": ") + text;
    } else if (failure != FAILURE_OPEN && failure != FAILURE_SEEK && failure != FAILURE_READ &&
               failure != FAILURE_DIGEST) {
        where += ": " + Shown(CurrentPath());
    }
    std::string cause = FailureDetail(failure);
    if (NoArchiveAtAll(failure, run.walked == 0)) {
        where = path;
        cause = NOT_LHA;
    }
    const bool headerFailure = failure == FAILURE_HEADER_SUM || failure == FAILURE_BAD_HEADER ||
                               failure == FAILURE_LEVEL || failure == FAILURE_HEADER_CRC ||
                               failure == FAILURE_METHOD;
    if (run.setup && run.walked <= (failure == FAILURE_METHOD ? 1u : 0u) && headerFailure) {
        const std::string other = OtherSelfExtractor(run.file);
        if (!other.empty()) {
            where = path;
            cause = other;
        }
    }
    if (failure == FAILURE_NAME) {
        const char* folder;
        const char* name;
        unsigned folderLength, nameLength;
        StoredPathBytes(&folder, &folderLength, &name, &nameLength);
        const std::string stored = CurrentPath();
        const size_t bar = stored.find('|');
        const bool link = (extractionState.unixModeKnown &&
                           (extractionState.unixMode & 0170000) == 0120000) ||
                          (extractionState.headerBuffer[3] == METHOD_FOLDER &&
                           bar != std::string::npos);
        if (folderLength == 0 && nameLength == 0) {
            where = std::string(path) + ": member " + std::to_string(run.walked);
            cause = "empty name";
        } else if (link) {
            cause = bar == std::string::npos
                        ? "symlink not supported: symbolic links are not extracted"
                        : "symlink " + Shown(stored.substr(0, bar)) + " -> " +
                              Shown(stored.substr(bar + 1)) +
                              " not supported: symbolic links are not extracted";
        }
    }
    if (failure == FAILURE_CREATE && !run.createError.empty()) {
        cause += ": " + run.createError;
    } else if (failure == FAILURE_WRITE && run.options->toStdout) {
        cause = "cannot write to standard output: " +
                std::string(strerror(static_cast<int>(extractionSystemError)));
    } else if ((failure == FAILURE_CREATE || failure == FAILURE_WRITE) &&
               extractionSystemError != 0) {
        cause += " " + EscapeForTerminal(directory) + "/" + Shown(CurrentPath()) + ": " +
                 strerror(static_cast<int>(extractionSystemError));
    }
    if (failure == FAILURE_PATH_TOO_LONG && extractionState.pathProblem == FAILURE_PATH_TOO_LONG) {
        // The walk kept only the part of the path that fits: the member is named by the
        // bytes it stores, cut short.
        const char* folder;
        const char* name;
        unsigned folderLength, nameLength;
        StoredPathBytes(&folder, &folderLength, &name, &nameLength);
        std::string stored = std::string(folder, folderLength) + std::string(name, nameLength);
        const bool cut = stored.size() > 60;
        if (cut) stored.resize(60);
        where = std::string(path) + ": member " + std::to_string(run.walked) + " (" +
                Shown(stored) + (cut ? "...)" : ")");
        cause = "its path (folders and name) is longer than " +
                std::to_string(PATH_BUFFER_SIZE - 1) + " bytes, more than a Windows path holds";
    }
    if (failure == FAILURE_NAME && extractionState.storedAbsolute) {
        cause = "absolute path (stored with a leading separator), which the setup's stub "
                "refuses";
    } else if (failure == FAILURE_NAME && run.codePage == 0 &&
        NameDependsOnCodePage(CurrentPath().c_str())) {
        cause += " under code page 1252, but code page 932 judges it otherwise: pass "
                 "--codepage 932 or --codepage 1252 as the target Windows uses";
    }
    ProgressDone();
    fprintf(stderr, "vorpanex %s: %s: %s\n", verb, where.c_str(), cause.c_str());
}

// What Windows makes of the members' names, for test, judged by the rule pack refuses
// names by: a folder where the setup program's name is, no setup program, a file that
// is also a folder, two members that are one file, paths beyond the stub's budget. Each problem found is printed; false
// when the FILE fails (a setup; for a bare archive, names that are one file are noted
// only, as archivers add a newer copy of a member at the end).
bool CheckWindowsNames(const char* path, const std::vector<MemberReport>& members,
                       uint32_t completed, bool setup, bool noSetup) {
    const uint32_t count = completed < members.size() ? completed : members.size();
    std::vector<std::string> paths;
    std::vector<bool> isFolder;
    for (uint32_t i = 0; i < count; ++i) {
        paths.push_back(members[i].path);
        isFolder.push_back(members[i].folder);
    }
    const WindowsNames names = JudgeWindowsNames(paths, isFolder, run.codePage);
    const std::vector<std::string>& keys = names.keys;
    const std::unordered_map<std::string, size_t>& folders = names.folders;
    bool passed = true;
    auto fail = [&](const std::string& text) {
        fprintf(stderr, "vorpanex test: %s: %s\n", path, text.c_str());
        passed = false;
    };
    if (setup) {
        for (const char* program : SETUP_NAMES) {
            const auto folder = folders.find(program);
            if (folder == folders.end()) continue;
            const std::string& stored = members[folder->second].path;
            fail(Shown(stored.substr(0, stored.find('/'))) + ": a folder with the name of "
                 "the setup program; the setup can only start a file of that name");
        }
        bool haveSetup = false;
        for (uint32_t i = 0; i < count; ++i) {
            haveSetup = haveSetup || (!members[i].folder && IsSetupProgramKey(keys[i]));
        }
        if (!haveSetup && !noSetup) {
            fail("a setup without SETUP32.EXE or SETUP.EXE at the top of its archive: it "
                 "would have nothing to run (--no-setup skips this check)");
        }
    }
    if (names.fileWhereFolder != SIZE_MAX) {
        fail(members[names.fileWhereFolder].name + ": both a file and a folder in this "
             "archive; it cannot be extracted");
    }
    // Later members replace earlier ones of the same name, on Windows and by extract.
    const size_t clashes = names.sameFile.size();
    std::string first;
    bool firstStoredTwice = false;
    if (clashes != 0) {
        const size_t e = names.sameFile[0].first;
        const size_t i = names.sameFile[0].second;
        const MemberReport& earlier = members[e];
        char numbers[64];
        snprintf(numbers, sizeof numbers, " (members %zu and %zu)", e + 1, i + 1);
        firstStoredTwice = earlier.path == members[i].path;
        // Two byte sequences may stand for one character (code page 932 has such
        // pairs): the same name on Windows without any difference of case.
        first = firstStoredTwice ? earlier.name + ": stored twice" + numbers
                : earlier.name == members[i].name
                    ? earlier.name + " and " + members[i].name + ": one file on Windows, "
                      "where both byte sequences make the same name" + numbers
                    : earlier.name + " and " + members[i].name + ": one file on Windows, "
                      "which does not tell case apart" + numbers;
    }
    if (clashes != 0) {
        char more[64] = "";
        if (clashes > 1) snprintf(more, sizeof more, " (and %zu more such names)", clashes - 1);
        if (setup) {
            fail(first + ": the later would replace the earlier on Windows, and the setup "
                 "would lose a file" + more);
        } else if (!quietOutput) {
            fprintf(stderr, "vorpanex test: %s: note: %s: %s%s\n", path, first.c_str(),
                    firstStoredTwice ? "the later replaces the earlier when extracted"
                                     : "extract keeps both here; on Windows the later would "
                                       "replace the earlier",
                    more);
        }
    }
    if (setup) {
        for (uint32_t i = 0; i < count; ++i) {
            if (members[i].path.size() <= MaxMemberPath()) continue;
            char limit[200];
            snprintf(limit, sizeof limit,
                     ": the path is %zu bytes; at most %zu fit below a setup's work directory "
                     "(Windows paths end at %u characters), so the setup would fail",
                     members[i].path.size(), MaxMemberPath(),
                     static_cast<unsigned>(MAX_PATH));
            fail(members[i].name + limit);
            break;
        }
    }
    return passed;
}

// The member in hand failed: its report, if it has one, is not put in place and its
// file goes.
void DropFailedMember() {
    run.inHand = false;
    if (run.members.size() <= run.current) return;
    MemberReport& member = run.members.back();
    member.failed = true;
    if (!member.temporary.empty()) {
        sys::RemoveFile(member.temporary.c_str());
        member.temporary.clear();
    }
}

// The walk's choice of the member in hand: chosen by name or pattern, and with -k or
// --skip-old-files not when something is already at its name (a link too).
int SelectMember() {
    ++run.walked;
    run.current = run.members.size();
    run.inHand = false;
    if (!run.options->extracting && run.setup) {
        MemberReport member;
        member.path = CurrentPath();
        member.name = Shown(member.path);
        member.folder = extractionState.headerBuffer[3] == METHOD_FOLDER;
        run.everyMember.push_back(member);
    }
    if (!selection.Chooses(extractionState.memberPath, Shown(extractionState.memberPath),
                           extractionState.headerBuffer[3] == METHOD_FOLDER)) {
        return 0;
    }
    run.extractedBefore = membersExtracted;
    run.inHand = true;
    // -p writes no file: a name Windows refuses is no danger there, and is printed as
    // unzip -p and tar -O print it (a folder entry or a link has no bytes to print).
    ExtractionState& state = extractionState;
    if (run.options->toStdout && state.pathProblem == FAILURE_NAME && state.memberPath[0] != 0 &&
        state.headerBuffer[3] != METHOD_FOLDER &&
        !(state.unixModeKnown && (state.unixMode & 0170000) == 0120000)) {
        state.pathProblem = FAILURE_NONE;
    }
    if (!run.extracting || run.options->existing == REPLACE_EXISTING ||
        extractionState.headerBuffer[3] == METHOD_FOLDER ||
        extractionState.pathProblem != FAILURE_NONE) {
        return 1;
    }
    // The members before are put in place first: a name stored twice finds its copy.
    PrintFinishedMembers(static_cast<uint32_t>(run.members.size()), NowSeconds());
    std::vector<std::string> components;
    std::string error;
    if (!DiskComponents(CurrentPath(), run.codePage, components, error) || components.empty()) {
        return 1;  // the extraction names the problem
    }
    // The folders on the way are looked at, not through: a link or a file among them
    // is left for the extraction to refuse, as it refuses it without -k.
    std::string target;
    FileStatus status;
    for (size_t i = 0; i < components.size(); ++i) {
        target += (target.empty() ? "" : "/") + components[i];
        if (sys::LinkStatus(target.c_str(), &status) != 0) return 1;
        if (i + 1 < components.size() && !S_ISDIR(status.st_mode)) return 1;
    }
    run.inHand = false;
    if (run.options->existing == SKIP_EXISTING) {
        ++run.skipped;
        return 0;
    }
    ProgressDone();
    fprintf(stderr, "vorpanex extract: %s: %s: %s exists; left as it is (--keep-old-files)\n",
            run.shownFile, Shown(CurrentPath()).c_str(), Quoted(target).c_str());
    ++run.failed;
    return 0;
}

// After a member failed: it is named at once and the walk goes on, unless the work
// was stopped, the archive can no longer be read (cut short, a failed read), or
// standard output, which receives the members' bytes, is gone.
int MemberFailed() {
    const int failure = extractionFailure;
    if (CancelRequested || failure == FAILURE_CANCELLED || failure == FAILURE_TRUNCATED ||
        failure == FAILURE_READ || (failure == FAILURE_WRITE && run.options->toStdout)) {
        return 0;
    }
    DropFailedMember();
    ReportFailure(run.verb, run.shownFile, run.options->directory);
    ++run.failed;
    return 1;
}

// Gives the folder entries that were placed their permission bits and times, last
// first: writing their members changed their times, and a folder without write
// permission would have refused them. The folder is held while it is changed; a link
// put in its place is not followed.
void FinishFolders() {
    for (size_t i = run.members.size(); i-- > 0;) {
        const MemberReport& member = run.members[i];
        if (!member.folder || !member.placed) continue;
        std::vector<std::string> components;
        std::string error;
        if (!DiskComponents(member.path, run.codePage, components, error)) continue;
        std::string path;
        for (const std::string& component : components) path += (path.empty() ? "" : "/") + component;
        const int64_t seconds = member.time;
        const unsigned mode = ModeFor(true, member.mode, true);
        sys::SetFolderTimeAndMode(path.c_str(), member.timeKnown ? &seconds : nullptr,
                                  member.modeKnown ? &mode : nullptr);
    }
}

// Extracting: the working directory is DIR while the core runs, so that every path is
// short and relative to it (no limit but the system's own); the core's private
// folder only receives the folders it makes on its way.
struct ExtractionPlace {
    sys::FolderReturn previousDirectory;
    std::string privateFolder;
    std::string archivePath;

    // "" or the error.
    std::string Enter(const std::string& directory, const char* path) {
        archivePath = path;
        std::string absolute;
        if (sys::RealPath(path, absolute)) archivePath = absolute;
        if (!sys::EnterFolder(directory.c_str(), previousDirectory)) {
            if (previousDirectory.descriptor < 0) {
                return std::string("cannot open the current directory: ") + strerror(errno);
            }
            return directory + ": " + strerror(errno);
        }
        std::string pattern = ".vx-XXXXXX";
        if (!sys::MakeTemporaryFolder(pattern)) {
            return "cannot create a folder in " + directory + ": " + strerror(errno);
        }
        privateFolder = pattern;
        run.privateFolder = privateFolder;
        run.umask = static_cast<mode_t>(sys::CurrentUmask());
        run.extracting = true;
        return "";
    }

    void Leave() {
        // A member that failed leaves no file: its temporary one goes.
        for (size_t i = run.reported; i < run.members.size(); ++i) {
            if (!run.members[i].temporary.empty()) sys::RemoveFile(run.members[i].temporary.c_str());
        }
        if (!privateFolder.empty()) RemoveTree(privateFolder);
        FinishFolders();
        if (!sys::ReturnFromFolder(previousDirectory)) {
            fprintf(stderr, "vorpanex extract: cannot return to the starting directory: "
                    "%s\n", strerror(errno));
        }
        run.extracting = false;
    }
};

// Starts the run over FILE: where its archive begins (-1 when there is none, named),
// the setup's seal, and the code page its names are read in.
long BeginRun(const char* verb, const ExtractOptions& options, const char* file,
              const char* shownFile, SetupSeal& seal) {
    run = RunReport();
    run.options = &options;
    run.verb = verb;
    run.shownFile = shownFile;
    run.file = file;
    const long offset = ArchiveOffsetOf(verb, file);
    if (offset < 0) return offset;
    run.setup = offset != 0;
    seal = offset != 0 ? ReadSetupSeal(file) : SetupSeal();
    run.codePage = NamesCodePage(options.codePage, seal);
    return offset;
}

// Sets the core's rules for this FILE: the code page, the sealed digest, which
// archives and methods it accepts, the members chosen and where -p sends them.
void PrepareCore(const ExtractOptions& options, const SetupSeal& seal, long offset) {
    PlatformSetCodePage(run.codePage == 0 ? 1252 : run.codePage);
    // test checks the archive against the digest sealed into its stub, as the setup does.
    if (!options.extracting && seal.sealed) {
        ExpectArchiveDigest(seal.record.digest, seal.record.archiveLength);
    }
    // A setup is judged by its stub's rules for paths; a bare archive as other
    // archivers wrote it.
    otherArchivesAccepted = offset == 0;
    // test judges a setup by what its stub extracts: stubs from before -lh7- refuse it.
    largeWindowRefused = !options.extracting && offset != 0 && !seal.readsLh7;
    selection.Reset(options.patterns);
    memberSelected = SelectMember;
    memberFailed = MemberFailed;
    memberStream = options.toStdout ? STANDARD_OUTPUT : HFILE_ERROR;
}

// Walks the archive through the core, members placed as they come out; a walk that
// stopped early is named. place is left (when it was entered) before this returns.
WalkOutcome Walk(const ExtractOptions& options, const char* file, const char* shownFile,
                 ExtractionPlace& place, bool toFiles, long offset) {
    WalkOutcome walk;
    const double started = NowSeconds();
    walk.result = ExtractArchiveAt(
        nullptr, toFiles ? place.archivePath.c_str() : file,
        toFiles ? place.privateFolder.c_str() : nullptr, static_cast<uint32_t>(offset));
    const double now = NowSeconds();
    walk.seconds = now - started;
    if (walk.result != 1 && run.inHand && membersExtracted == run.extractedBefore) {
        DropFailedMember();
    }
    PrintFinishedMembers(static_cast<uint32_t>(run.members.size()), now);
    walk.completed = membersExtracted - run.notPlaced;
    if (walk.result != 1) {
        // A stop asked for ends the walk however the core noticed it.
        if (CancelRequested) extractionFailure = FAILURE_CANCELLED;
        ReportFailure(run.verb, shownFile, options.directory);
        walk.status =
            extractionFailure == FAILURE_CANCELLED ? CancelledStatus() : EXIT_BAD_ARCHIVE;
    }
    walk.archiveSize = extractionState.archiveSize;
    walk.consumed = archiveReader.consumedBytes;
    if (toFiles) place.Leave();
    if (run.failed != 0 && walk.status == EXIT_OK) walk.status = EXIT_BAD_ARCHIVE;
    return walk;
}

// A FILE the walk found no member in: another program's self-extractor, no archive
// at all, or an empty one (which test fails and extract notes). The exit status.
int ReportNoMembers(const char* verb, const char* path, const ExtractOptions& options,
                    const char* file, long offset, const WalkOutcome& walk) {
    // Nothing but an end marker followed by other bytes: no archive at all.
    const std::string other = offset != 0 ? OtherSelfExtractor(file) : "";
    if (walk.archiveSize > walk.consumed && !other.empty()) {
        fprintf(stderr, "vorpanex %s: %s: %s\n", verb, path, other.c_str());
        return EXIT_BAD_ARCHIVE;
    }
    if (walk.archiveSize > walk.consumed) {
        fprintf(stderr, "vorpanex %s: %s: %s%s\n", verb, path, NOT_AN_ARCHIVE,
                offset == 0 ? "" : " (offset " ARCHIVE_OFFSET_TEXT " of the setup)");
        return EXIT_BAD_ARCHIVE;
    }
    if (!options.extracting) {
        fprintf(stderr, "vorpanex test: %s: holds no members%s\n", path,
                offset != 0 ? ": a stub without an archive; the setup would have nothing "
                              "to run" : "");
        return EXIT_BAD_ARCHIVE;
    }
    if (!quietOutput) {
        fprintf(InfoStream(), "%s: holds no members; nothing extracted\n", path);
    }
    return walk.status;
}

}  // namespace

// test's judgement of the archive as Windows and the stub will meet it; false when
// the FILE fails (each problem named).
bool CheckAsWindows(const char* path, const ExtractOptions& options, long offset,
                    const WalkOutcome& walk) {
    if (options.extracting) return true;
    // A setup's checks are about the setup as a whole (what the stub will meet), so
    // they judge every member whichever were chosen; a bare archive's, the members of
    // a walk that chose them all.
    if (offset != 0 &&
        !CheckWindowsNames(path, run.everyMember, static_cast<uint32_t>(run.everyMember.size()),
                           true, options.noSetup)) {
        return false;
    }
    if (offset == 0 && options.patterns.empty() &&
        !CheckWindowsNames(path, run.members, walk.completed, false, options.noSetup)) {
        return false;
    }
    // pack refuses to write a setup the stub cannot address; test fails one made otherwise.
    if (offset != 0 && offset + walk.archiveSize > STUB_FILE_LIMIT) {
        fprintf(stderr, "vorpanex test: %s: the setup is %llu bytes; its stub reads at most %u "
                "bytes (2 GiB - 1: its file offsets are 32-bit signed), so the setup would "
                "fail\n", path, static_cast<unsigned long long>(offset + walk.archiveSize),
                STUB_FILE_LIMIT);
        return false;
    }
    return true;
}

namespace {

// The closing lines of a walk that succeeded: names the code page would judge
// otherwise, then the members, bytes and (-v) time.
void ReportSummary(const char* verb, const char* path, const ExtractOptions& options,
                   const WalkOutcome& walk) {
    const uint32_t completed = walk.completed;
    if (run.codePage == 0) {
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
    FormatSpeed(speed, sizeof speed, total, walk.seconds);
    FILE* info = InfoStream();
    fprintf(info, "%s: %u member%s, %llu bytes %s", path, completed, completed == 1 ? "" : "s",
            static_cast<unsigned long long>(total),
            options.toStdout     ? "written to standard output"
            : options.extracting ? "extracted"
                                 : "tested, all OK");
    if (run.skipped != 0) {
        fprintf(info, "; %u left as they were (--skip-old-files)", run.skipped);
    }
    if (options.verbose) fprintf(info, " in %.3f s (%s)", walk.seconds, speed);
    fprintf(info, "\n");
}

// Tests or extracts one FILE; the exit status.
int RunOne(const char* verb, const ExtractOptions& options, const char* file) {
    const std::string shownFile = EscapeForTerminal(file);
    const char* path = shownFile.c_str();  // for messages
    SetupSeal seal;
    const long offset = BeginRun(verb, options, file, path, seal);
    if (offset < 0) return EXIT_BAD_ARCHIVE;
    ExtractionPlace place;
    const bool toFiles = options.extracting && !options.toStdout;
    if (toFiles) {
        const std::string error = place.Enter(options.directory, file);
        if (!error.empty()) {
            place.Leave();
            fprintf(stderr, "vorpanex extract: %s\n", EscapeForTerminal(error).c_str());
            return EXIT_BAD_ARCHIVE;
        }
    }
    PrepareCore(options, seal, offset);
    const WalkOutcome walk = Walk(options, file, path, place, toFiles, offset);
    if (walk.result != 1) return walk.status;
    ProgressDone();
    if (!selection.ReportUnmatched(verb, path)) return EXIT_BAD_ARCHIVE;
    if (run.failed != 0) {
        fprintf(stderr, "vorpanex %s: %s: %u member%s failed; %u %s\n", verb, path, run.failed,
                run.failed == 1 ? "" : "s", walk.completed,
                options.extracting ? "extracted" : "passed");
        return walk.status;
    }
    if (run.walked == 0) return ReportNoMembers(verb, path, options, file, offset, walk);
    if (!CheckAsWindows(path, options, offset, walk)) return EXIT_BAD_ARCHIVE;
    if (quietOutput || walk.status != EXIT_OK) return walk.status;
    // -p: standard error gets the summary only when asked for (-v).
    if (options.toStdout && !options.verbose) return walk.status;
    ReportSummary(verb, path, options, walk);
    return walk.status;
}

enum ExtractOptionId { OPTION_CODEPAGE = 256, OPTION_NO_SETUP, OPTION_SKIP_OLD_FILES };

int RunExtraction(const char* verb, int argc, char** argv) {
    ExtractOptions options;
    options.extracting = strcmp(verb, "extract") == 0;
    std::vector<OptionSpec> specs = {{"verbose", 'v', false},
                                     {"quiet", 'q', false},
                                     {"codepage", OPTION_CODEPAGE, true}};
    if (options.extracting) {
        specs.push_back({"directory", 'C', true});
        specs.push_back({"to-stdout", 'p', false});
        specs.push_back({"keep-old-files", 'k', false});
        specs.push_back({"skip-old-files", OPTION_SKIP_OLD_FILES, false});
    } else {
        specs.push_back({"no-setup", OPTION_NO_SETUP, false});
    }
    auto handle = [&](int id, const char* value) -> std::string {
        switch (id) {
            case 'v': options.verbose = true; break;
            case 'q': quietOutput = true; break;
            case 'C': options.directory = value; break;
            case 'p': options.toStdout = true; break;
            case 'k': options.existing = KEEP_EXISTING; break;
            case OPTION_SKIP_OLD_FILES: options.existing = SKIP_EXISTING; break;
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
    const std::vector<std::string> operands = options.files;
    options.files.clear();
    const std::string wrong = SplitFilesAndPatterns(operands, options.files, options.patterns);
    if (!wrong.empty()) return UsageError(verb, wrong);
    const std::string unavailable = CodePageUnavailable(options.codePage);
    if (!unavailable.empty()) {
        fprintf(stderr, "vorpanex %s: %s\n", verb, unavailable.c_str());
        return EXIT_BAD_ARCHIVE;
    }
    if (options.extracting && !options.toStdout && !PrepareDirectory(options.directory)) {
        return EXIT_BAD_ARCHIVE;
    }

    sys::CatchStopSignals(HandleStopSignal);

    int status = EXIT_OK;
    for (const std::string& file : options.files) {
        const int result = RunOne(verb, options, file.c_str());
        if (CancelRequested) return result;
        if (result != EXIT_OK) status = result;
    }
    return status;
}

}  // namespace

// --- member files: made beside their targets in DIR, put in place when complete -------

namespace {

// The file made for the member in hand, until its status line records it.
std::string pendingTemporary;
std::string pendingTarget;

}  // namespace

// The core asks for the member's file in its private folder; extract makes a private
// file in the target's own folder under DIR instead (so that no mount point lies
// between them), and renames it to its name once the member has come out whole.
HFILE CreateExtractedFile(const char* path, const char* name) {
    if (!run.extracting) return _lcreat(path, 0);
    PrintFinishedMembers(static_cast<uint32_t>(run.members.size()), NowSeconds());
    run.createError.clear();
    if (CancelRequested) {
        errno = EINTR;
        return HFILE_ERROR;
    }
    std::vector<std::string> components;
    std::string error;
    if (!DiskComponents(name, run.codePage, components, error) || components.empty()) {
        run.createError = error;
        errno = EINVAL;
        return HFILE_ERROR;
    }
    error = MakeFolders(components, components.size() - 1);
    if (!error.empty()) {
        run.createError = error;
        errno = ENOTDIR;
        return HFILE_ERROR;
    }
    std::string target;
    for (const std::string& component : components) target += (target.empty() ? "" : "/") + component;
    const size_t slash = target.rfind('/');
    std::string pattern =
        (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".vx-XXXXXX";
    const int file = sys::MakeTemporaryFile(pattern);
    if (file < 0) {
        run.createError = Quoted(target) + ": cannot create a file beside it: " + strerror(errno);
        return HFILE_ERROR;
    }
    sys::SetMode(file, ModeFor(extractionState.unixModeKnown != 0, extractionState.unixMode, false));
    pendingTemporary = pattern;
    pendingTarget = target;
    return file;
}

void StartMemberReport() {
    const double now = NowSeconds();
    PrintFinishedMembers(static_cast<uint32_t>(run.members.size()), now);
    MemberReport member;
    member.path = CurrentPath();
    member.name = Shown(member.path);
    member.size = extractionState.originalSize;
    member.started = now;
    member.folder = extractionState.headerBuffer[3] == METHOD_FOLDER;
    member.modeKnown = extractionState.unixModeKnown != 0;
    member.mode = extractionState.unixMode;
    member.timeKnown = MemberTime(member.time);
    member.temporary.swap(pendingTemporary);
    member.target.swap(pendingTarget);
    run.members.push_back(member);
    if (!quietOutput) ProgressBar(member.name.c_str(), 0, 100);
}

// Between chosen members the walk decodes the others into the window: the bar then
// names the FILE, not the member shown last.
void ShowMemberProgress(unsigned position) {
    if (quietOutput) return;
    if (run.inHand && !run.members.empty()) {
        ProgressBar(run.members.back().name.c_str(), position, 100);
    } else {
        ProgressBar(run.file, position, 100);
    }
}

}  // namespace extraction

int TestCommand(int argc, char** argv) { return extraction::RunExtraction("test", argc, argv); }

int ExtractCommand(int argc, char** argv) {
    return extraction::RunExtraction("extract", argc, argv);
}
