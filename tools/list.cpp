// The list verb: the members of setups and archives, as columns or JSON.
#include <stdio.h>
#include <string.h>

#include "archive/archive.h"
#include "extract/extract.h"
#include "tools/commands.h"
#include "tools/reading.h"
#include "tools/listing.h"
#include "archive/names.h"
#include "tools/options.h"
#include "tools/times.h"

namespace {

const char LIST_HELP[] =
    "usage: vorpanex list [options] FILE... [MEMBER|PATTERN...]\n"
    "\n"
    MEMBER_ARGUMENTS_HELP
    "listed.\n"
    "\n"
    "Lists the members of each FILE: method, packed size (the compressed data) and\n"
    "original size, ratio, CRC-16, date and time (as stored: the packing machine's\n"
    "local time; - when the stored date names no day), and name, then a\n"
    "total line, and the number of bytes appended after the archive's end marker\n"
    "(such as a signature), which list, test, extract and the setup ignore. FILE is a\n"
    "setup (it starts with \"MZ\"; its archive begins at offset " ARCHIVE_OFFSET_TEXT
    ") or a bare .lzh\n"
    "archive. Several FILEs are listed one after the other, each under its name.\n"
    "For a setup, the stub's version information, execution level and icon sizes\n"
    "follow (\"stub\" in JSON; null for a bare archive), and its seal: the SHA-256 of\n"
    "the archive it was packed with, the only archive the setup runs, and the code\n"
    "page of the names.\n"
    "\n"
    "options:\n"
    "      --format=F     plain (default) or json\n"
    "      --codepage=N   show names stored in code page 932 or 1252 converted to\n"
    "                     UTF-8; without it, the code page the setup records, else\n"
    "                     bytes above 0x7F are shown as \\xNN\n"
    "  -v, --verbose      also the header level, OS ID (M MS-DOS, U Unix, w Win95,\n"
    "                     W WinNT, J Java...; - for a level-0 header without one),\n"
    "                     MS-DOS attributes (hex: 01 read-only, 02 hidden, 04 system,\n"
    "                     10 folder, 20 archive) and Unix permissions (- when not\n"
    "                     stored) of each member\n"
    "  -q, --quiet        print errors only (the exit status tells)\n"
    "  -h, --help         this text\n"
    "\n"
    "JSON: an array with one object per FILE (also one that cannot be read, with its\n"
    "\"error\" set): \"file\", \"archive_offset\",\n"
    "\"appended_bytes\" (null when the walk stopped early), \"error\" (null or the\n"
    "reason), and \"members\": objects with \"name\" (UTF-8, escaped as in the plain\n"
    "listing where it does not convert), \"name_bytes\" (the stored bytes in hex:\n"
    "the folder field, if any, then the name),\n"
    "\"directory\", \"method\", \"original_size\", \"packed_size\", \"crc16\" (4 hex\n"
    "digits), \"time\" (ISO 8601 without a zone: local time as stored; null when\n"
    "the stored date names no day), \"header_offset\" (of the member's header in\n"
    "FILE), \"stored_absolute\" (the stored path began with a separator),\n"
    "\"header_level\", \"os_id\" (the OS ID character; null when the header has\n"
    "none), \"attributes\" (the MS-DOS attribute byte) and \"permissions\" (octal,\n"
    "\"0755\"; null when not stored).\n"
    "\"stub\" has\n"
    "\"archive_sha256\", \"archive_length\" and \"codepage\" (null when not recorded).\n"
    "\n"
    "exit status: 0 listed; 1 a FILE is not an archive, is damaged or cannot be read\n"
    "(the members before the damage are listed); 2 usage error\n"
    "\n"
    "examples:\n"
    "  vorpanex list setup.exe\n"
    "  vorpanex list --format=json --codepage=932 setup.exe other.lzh\n";

enum ListOptionId { OPTION_FORMAT = 256, OPTION_CODEPAGE };

struct ListOptions {
    bool json = false;
    bool verbose = false;
    unsigned codePage = 0;
    std::vector<std::string> files;
};

// The members chosen by name or pattern in the FILE in hand.
MemberSelection listSelection;

// Walks the archive with the core's member walk, collecting what the listing shows:
// the members that test and extract meet, no more and no fewer.
void WalkArchive(const char* path, long offset, unsigned codePage, ListedArchive& listed) {
    listed.archiveOffset = static_cast<uint64_t>(offset);
    otherArchivesAccepted = offset == 0;  // paths read as extract reads them
    PlatformSetCodePage(codePage == 0 ? 1252 : codePage);
    if (!OpenArchive(path, static_cast<uint32_t>(offset))) {
        listed.error = FailureText(extractionFailure);
        return;
    }
    ExtractionState& state = extractionState;
    for (;;) {
        const int next = NextMember();
        if (next == 0) {
            listed.endReached = true;
            const uint64_t consumed = archiveReader.consumedBytes;
            listed.appendedBytes = state.archiveSize > consumed ? state.archiveSize - consumed : 0;
            break;
        }
        if (next != 1) {
            char text[64];
            snprintf(text, sizeof text, "header of member %zu: ", listed.members.size() + 1);
            listed.error = NoArchiveAtAll(extractionFailure, listed.members.empty())
                               ? NOT_LHA : text + FailureDetail(extractionFailure);
            const std::string other =
                offset != 0 && listed.members.empty() ? OtherSelfExtractor(path) : "";
            if (!other.empty()) listed.error = other;
            break;
        }
        if (state.pathProblem == FAILURE_PATH_TOO_LONG) {
            // memberPath holds only the part that fits: shown, it would name another path.
            char text[160];
            snprintf(text, sizeof text, "member %zu: its path (folders and name) is longer "
                     "than %u bytes, more than a Windows path holds; not listed",
                     listed.members.size() + 1, PATH_BUFFER_SIZE - 1);
            listed.error = text;
            break;
        }
        bool shownConverted = false;
        const std::string shown = MemberNameToUtf8(state.memberPath, codePage, shownConverted);
        if (!listSelection.Chooses(state.memberPath, shown,
                                   state.headerBuffer[3] == METHOD_FOLDER)) {
            if (!SkipMemberData()) {
                listed.error = FailureText(FAILURE_TRUNCATED);
                break;
            }
            continue;
        }
        ListedMember member;
        const char* folder;
        const char* name;
        unsigned folderLength, nameLength;
        StoredPathBytes(&folder, &folderLength, &name, &nameLength);
        member.storedName.assign(folder, folderLength);
        member.storedName.append(name, nameLength);
        member.rawName = state.memberPath;
        member.storedAbsolute = state.storedAbsolute != 0;
        bool converted = false;
        member.name = MemberNameToUtf8(member.rawName, codePage, converted);
        member.method = MethodOf(state.headerBuffer);
        member.directory = member.method == "-lhd-";
        member.packedSize = state.packedRemaining;  // the data: no level-1 extended headers
        member.originalSize = state.originalSize;
        member.crc = state.storedCrc;
        member.dosDate = state.fileDate;
        member.dosTime = state.fileTime;
        if (state.timeIsUnix) {
            bool clamped = false;
            const DosStamp local = DosStampFromFileTime(static_cast<time_t>(state.unixTime),
                                                        clamped);
            member.dosDate = local.date;
            member.dosTime = local.time;
        }
        member.headerOffset = state.headerOffset;
        member.headerLevel = state.headerLevel;
        member.osId = MemberOsId();
        member.attributes = state.headerBuffer[17];
        member.modeKnown = state.unixModeKnown != 0;
        member.mode = state.unixMode;
        listed.members.push_back(member);
        if (!SkipMemberData()) {
            listed.error = member.name + ": " + FailureText(FAILURE_TRUNCATED);
            break;
        }
    }
    CloseArchive();
    if (listed.error.empty() && listed.members.empty() && listed.appendedBytes != 0) {
        const std::string other = offset != 0 ? OtherSelfExtractor(path) : "";
        listed.error = other.empty() ? NOT_AN_ARCHIVE : other;
    }
}

}  // namespace

void NoteCodePage(const char* verb, const char* file, const ListedArchive& listed) {
    const std::string shown = EscapeForTerminal(file);
    const char* path = shown.c_str();
    bool escaped = false;
    for (const ListedMember& member : listed.members) {
        for (unsigned char c : member.rawName) escaped = escaped || c >= 0x80;
        if (NameDependsOnCodePage(member.rawName.c_str())) {
            fprintf(stderr, "vorpanex %s: %s: %s: code pages 932 and 1252 judge this name "
                    "differently; pass --codepage 932 or --codepage 1252 as the target "
                    "Windows uses\n", verb, path, member.name.c_str());
        }
    }
    if (escaped) {
        fprintf(stderr, "vorpanex %s: %s: bytes above 0x7F in names are shown as \\xNN; pass "
                "--codepage 932 or --codepage 1252 to show them as text\n", verb, path);
    }
}

int ListCommand(int argc, char** argv) {
    ListOptions options;
    const std::vector<OptionSpec> specs = {
        {"format", OPTION_FORMAT, true},
        {"codepage", OPTION_CODEPAGE, true},
        {"quiet", 'q', false},
        {"verbose", 'v', false},
    };
    auto handle = [&](int id, const char* value) -> std::string {
        switch (id) {
            case OPTION_FORMAT:
                if (strcmp(value, "json") == 0) {
                    options.json = true;
                } else if (strcmp(value, "plain") == 0) {
                    options.json = false;
                } else {
                    return std::string("--format ") + value + ": use plain or json";
                }
                break;
            case OPTION_CODEPAGE: return ParseCodePage(value, options.codePage);
            case 'q': quietOutput = true; break;
            case 'v': options.verbose = true; break;
        }
        return "";
    };
    bool help = false;
    if (ParseOptions(argc, argv, specs, handle, options.files, help) != 0) return EXIT_USAGE;
    if (help) {
        fputs(LIST_HELP, stdout);
        return EXIT_OK;
    }
    if (options.files.empty()) return UsageError("list", "missing FILE");
    std::vector<std::string> patterns;
    const std::vector<std::string> operands = options.files;
    options.files.clear();
    const std::string wrong = SplitFilesAndPatterns(operands, options.files, patterns);
    if (!wrong.empty()) return UsageError("list", wrong);
    const std::string unavailable = CodePageUnavailable(options.codePage);
    if (!unavailable.empty()) {
        fprintf(stderr, "vorpanex list: %s\n", unavailable.c_str());
        return EXIT_BAD_ARCHIVE;
    }

    int status = EXIT_OK;
    std::vector<ListedArchive> archives;
    for (size_t i = 0; i < options.files.size(); ++i) {
        const char* path = options.files[i].c_str();
        ListedArchive listed;
        listed.path = path;
        const long offset = ArchiveOffsetOf("list", path, &listed.error);
        if (offset < 0) {
            // One object per FILE in JSON, always: this one says why it has no members.
            status = EXIT_BAD_ARCHIVE;
            if (options.json) archives.push_back(listed);
            continue;
        }
        if (offset > 0) listed.seal = ReadSetupSeal(path);
        const unsigned codePage = NamesCodePage(options.codePage, listed.seal);
        listSelection.Reset(patterns);
        WalkArchive(path, offset, codePage, listed);
        if (listed.error.empty() && !listSelection.ReportUnmatched("list", path)) {
            status = EXIT_BAD_ARCHIVE;
        }
        std::string unreadable;  // a stub without readable resources just shows none
        if (offset > 0) {
            listed.stubDescribed = DescribeSetupFile(path, offset, listed.stub, unreadable);
        }
        if (!listed.error.empty()) {
            fprintf(stderr, "vorpanex list: %s: %s\n", EscapeForTerminal(path).c_str(),
                    listed.error.c_str());
            status = EXIT_BAD_ARCHIVE;
        }
        if (options.json) {
            archives.push_back(listed);
        } else if (!quietOutput) {
            const std::string shown = EscapeForTerminal(path);
            if (options.files.size() > 1) printf("%s%s:\n", i == 0 ? "" : "\n", shown.c_str());
            if (listed.members.empty()) {
                // Members chosen away by names are not an empty archive.
                if (listed.error.empty() && patterns.empty()) {
                    printf("%s: holds no members (an empty archive)\n", shown.c_str());
                }
            } else {
                PrintPlainListing(stdout, listed, "", options.verbose);
            }
        }
        if (codePage == 0 && !quietOutput) NoteCodePage("list", path, listed);
    }
    if (options.json && !quietOutput) PrintJsonListing(stdout, archives);
    return status;
}
