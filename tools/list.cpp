// The list verb: the members of setups and archives, as columns or JSON.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "archive/archive.h"
#include "tools/commands.h"
#include "tools/inspect.h"
#include "tools/listing.h"
#include "tools/names.h"
#include "tools/options.h"

namespace {

const char LIST_HELP[] =
    "usage: vorpanex list [options] FILE...\n"
    "\n"
    "Lists the members of each FILE: method, packed and original size, ratio, CRC-16,\n"
    "date and time (as stored: the packing machine's local time), and name, then a\n"
    "total line, and the number of bytes appended after the archive's end marker\n"
    "(such as a signature), which list, test, extract and the setup ignore. FILE is a\n"
    "setup (it starts with \"MZ\"; its archive begins at offset 49152) or a bare .lzh\n"
    "archive. Several FILEs are listed one after the other, each under its name.\n"
    "For a setup, the stub's version information, execution level and icon sizes\n"
    "follow (\"stub\" in JSON; null for a bare archive).\n"
    "\n"
    "options:\n"
    "      --format=F     plain (default) or json\n"
    "      --codepage=N   show names stored in code page 932 or 1252 converted to\n"
    "                     UTF-8; without it bytes above 0x7F are shown as \\xNN\n"
    "  -q, --quiet        print errors only (the exit status tells)\n"
    "  -h, --help         this text\n"
    "\n"
    "JSON: an array with one object per FILE: \"file\", \"archive_offset\",\n"
    "\"appended_bytes\" (null when the walk stopped early), \"error\" (null or the\n"
    "reason), and \"members\": objects with \"name\" (UTF-8, escaped as in the plain\n"
    "listing where it does not convert), \"name_bytes\" (the stored bytes in hex),\n"
    "\"directory\", \"method\", \"original_size\", \"packed_size\", \"crc16\" (4 hex\n"
    "digits), \"time\" (ISO 8601 without a zone: local time as stored) and\n"
    "\"header_offset\" (of the member's header in FILE).\n"
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
    unsigned codePage = 0;
    std::vector<std::string> files;
};

std::string MethodOf(const uint8_t* header) {
    std::string method;
    for (int i = 0; i < 5; ++i) {
        const char c = static_cast<char>(header[i]);
        method += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return method;
}

// The member's time as a local MS-DOS date and time word (level 2 stores Unix time).
void LocalDosTime(const ExtractionState& state, uint16_t& date, uint16_t& time) {
    date = state.fileDate;
    time = state.fileTime;
    if (!state.timeIsUnix) return;
    const time_t seconds = static_cast<time_t>(state.unixTime);
    struct tm local;
    if (localtime_r(&seconds, &local) == nullptr || local.tm_year < 80) return;
    date = static_cast<uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) |
                                 local.tm_mday);
    time = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

// Walks the archive with the core's member walk, collecting what the listing shows:
// the same members, in the same order, that test and extract go through.
void WalkArchive(const char* path, long offset, unsigned codePage, ListedArchive& listed) {
    listed.archiveOffset = static_cast<uint64_t>(offset);
    if (!OpenArchive(path, static_cast<uint32_t>(offset))) {
        listed.error = FailureText(extractionFailure);
        return;
    }
    for (;;) {
        const int next = NextMember();
        if (next == 0) {
            listed.endReached = true;
            const uint64_t consumed = archiveReader.consumedBytes;
            const uint64_t size = extractionState.archiveSize;
            listed.appendedBytes = size > consumed ? size - consumed : 0;
            break;
        }
        if (next != 1) {
            char text[96];
            snprintf(text, sizeof text, "header of member %zu: %s", listed.members.size() + 1,
                     FailureDetail(extractionFailure).c_str());
            listed.error = text;
            break;
        }
        ExtractionState& state = extractionState;
        ListedMember member;
        member.rawName = state.memberPath;
        bool converted = false;
        member.name = MemberNameToUtf8(member.rawName, codePage, converted);
        member.method = MethodOf(state.headerBuffer);
        member.packedSize = state.packedSize;
        member.originalSize = state.originalSize;
        member.crc = state.storedCrc;
        LocalDosTime(state, member.dosDate, member.dosTime);
        member.headerOffset = state.headerOffset;
        listed.members.push_back(member);
        if (!SkipMemberData()) {
            listed.error = member.name + ": " + FailureText(FAILURE_TRUNCATED);
            break;
        }
    }
    CloseArchive();
}

}  // namespace

int ListCommand(int argc, char** argv) {
    ListOptions options;
    const std::vector<OptionSpec> specs = {
        {"format", OPTION_FORMAT, true},
        {"codepage", OPTION_CODEPAGE, true},
        {"quiet", 'q', false},
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
        const long offset = ArchiveOffsetOf("list", path);
        if (offset < 0) {
            status = EXIT_BAD_ARCHIVE;
            continue;
        }
        WalkArchive(path, offset, options.codePage, listed);
        std::string unreadable;  // a stub without readable resources just shows none
        if (offset > 0) {
            listed.stubDescribed = DescribeSetupFile(path, offset, listed.stub, unreadable);
        }
        if (!listed.error.empty()) {
            fprintf(stderr, "vorpanex list: %s: %s\n", path, listed.error.c_str());
            status = EXIT_BAD_ARCHIVE;
        }
        if (options.json) {
            archives.push_back(listed);
        } else if (!quietOutput) {
            if (options.files.size() > 1) printf("%s%s:\n", i == 0 ? "" : "\n", path);
            PrintPlainListing(stdout, listed, "");
        }
    }
    if (options.json && !quietOutput) PrintJsonListing(stdout, archives);
    return status;
}
