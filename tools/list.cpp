// The list verb: the members of setups and archives, as columns or JSON.
#include <stdio.h>
#include <string.h>

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

// Walks the archive's headers by their sizes, collecting what the listing shows.
void WalkArchive(const char* path, long offset, unsigned codePage, ListedArchive& listed) {
    listed.archiveOffset = static_cast<uint64_t>(offset);
    if (!archiveReader.Open(path)) {
        listed.error = FailureText(FAILURE_OPEN);
        return;
    }
    const LONG length = _llseek(archiveReader.handle, 0, FILE_END);
    _llseek(archiveReader.handle, static_cast<LONG>(offset), FILE_BEGIN);
    static unsigned char scratch[READER_BUFFER_SIZE];
    for (;;) {
        const uint64_t headerOffset = static_cast<uint64_t>(offset) + archiveReader.consumedBytes;
        const int header = ReadMemberHeader();
        if (header == 0) {
            listed.endReached = true;
            const uint64_t consumed = archiveReader.consumedBytes;
            const uint64_t size = static_cast<uint64_t>(length) - static_cast<uint64_t>(offset);
            listed.appendedBytes = size > consumed ? size - consumed : 0;
            break;
        }
        if (header != 1) {
            char text[64];
            snprintf(text, sizeof text, "header of member %zu: %s", listed.members.size() + 1,
                     FailureText(extractionFailure));
            listed.error = text;
            break;
        }
        ExtractionState& state = extractionState;
        ListedMember member;
        member.rawName = reinterpret_cast<const char*>(state.headerBuffer + 20);
        bool converted = false;
        member.name = MemberNameToUtf8(member.rawName, codePage, converted);
        member.method = MethodOf(state.headerBuffer);
        member.packedSize = state.packedRemaining;
        member.originalSize = state.originalRemaining;
        member.crc = state.storedCrc;
        member.dosDate = state.fileDate;
        member.dosTime = state.fileTime;
        member.headerOffset = headerOffset;
        listed.members.push_back(member);
        if (!SkipExtendedHeaders()) {
            listed.error = member.name + ": " + FailureText(FAILURE_TRUNCATED);
            break;
        }
        for (uint32_t left = state.packedRemaining; left != 0;) {
            const uint32_t step = left < sizeof scratch ? left : sizeof scratch;
            if (archiveReader.ReadBytes(scratch, step) != step) break;
            left -= step;
        }
        if (archiveReader.atEnd) {
            listed.error = member.name + ": " + FailureText(FAILURE_TRUNCATED);
            break;
        }
    }
    archiveReader.Close();
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
