// The member listing of list and pack.
#include "tools/listing.h"

#include <set>

#include "archive/names.h"
#include "tools/sha256.h"
#include "tools/terminal.h"
#include "tools/times.h"

namespace {

std::string Hex(const std::string& bytes) {
    std::string text;
    char digits[3];
    for (unsigned char byte : bytes) {
        snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

// A stamp for the plain listing: "-" in the column when it names no moment.
std::string Shown(const std::string& stamp) {
    return stamp.empty() ? std::string("-") + std::string(18, ' ') : stamp;
}

// Permission bits as a JSON string of octal digits: "0755".
std::string OctalMode(unsigned mode) {
    char text[16];
    snprintf(text, sizeof text, "\"%04o\"", mode & 07777);
    return text;
}

const size_t VERBOSE_WIDTH = 33;  // the columns below, spaces included

// The columns that --verbose adds before the name.
std::string VerboseColumns(const ListedMember& member) {
    char attributes[8];
    snprintf(attributes, sizeof attributes, "%02x", member.attributes);
    char text[96];
    snprintf(text, sizeof text, "%u  %-12s %-4s %-10s  ", member.headerLevel,
             OsIdText(member.osId).c_str(), attributes,
             PermissionsText(member.modeKnown, member.mode).c_str());
    return text;
}

}  // namespace

std::string OsIdText(int osId) {
    if (osId < 0) return "-";
    static const struct {
        char id;
        const char* name;
    } systems[] = {{'M', "MS-DOS"},  {'2', "OS/2"},    {'9', "OS-9"},     {'K', "OS/68K"},
                   {'3', "OS/386"},  {'H', "Human68K"}, {'U', "Unix"},     {'C', "CP/M"},
                   {'F', "FLEX"},    {'m', "Mac"},     {'R', "Runser"},   {'T', "TownsOS"},
                   {'X', "XOSK"},    {'w', "Win95"},   {'W', "WinNT"},    {'J', "Java"}};
    char text[24];
    for (const auto& system : systems) {
        if (system.id == osId) {
            snprintf(text, sizeof text, "%c %s", system.id, system.name);
            return text;
        }
    }
    if (osId >= 0x21 && osId < 0x7F) {
        snprintf(text, sizeof text, "%c", osId);
    } else {
        snprintf(text, sizeof text, "\\x%02X", osId);
    }
    return text;
}

std::string PermissionsText(bool known, unsigned mode) {
    if (!known) return "-";
    std::string text(10, '-');
    const unsigned type = mode & 0170000;
    text[0] = type == 0040000 ? 'd' : type == 0120000 ? 'l' : '-';
    static const char letters[] = "rwxrwxrwx";
    for (unsigned bit = 0; bit < 9; ++bit) {
        if (mode & (0400u >> bit)) text[1 + bit] = letters[bit];
    }
    if (mode & 04000) text[3] = (mode & 0100) ? 's' : 'S';
    if (mode & 02000) text[6] = (mode & 010) ? 's' : 'S';
    if (mode & 01000) text[9] = (mode & 01) ? 't' : 'T';
    return text;
}

std::string GroupedNumber(uint64_t number) {
    std::string digits = std::to_string(number);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = c >= 0x80 ? Utf8CharacterLength(text, i) : 1;
        char escaped[8];
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else if (length == 0) {
            // Not UTF-8 (a file name on Linux may hold any bytes): the text \xNN, so
            // that the output stays JSON.
            snprintf(escaped, sizeof escaped, "\\\\x%02X", c);
            quoted += escaped;
        } else {
            quoted.append(text, i, length);
            i += length - 1;
        }
    }
    return quoted + "\"";
}

void PrintPlainListing(FILE* out, const ListedArchive& archive, const std::string& trailer,
                       bool verbose) {
    fprintf(out, "%-6s %10s %10s %6s %-4s  %-19s  %s%s\n", "Method", "Packed", "Original",
            "Ratio", "CRC", "Date       Time",
            verbose ? "Lv OS           Attr Mode        " : "", "Name");
    uint64_t totalPacked = 0, totalOriginal = 0;
    for (const ListedMember& member : archive.members) {
        char ratio[16];
        FormatRatio(ratio, sizeof ratio, member.packedSize, member.originalSize);
        fprintf(out, "%-6s %10llu %10llu %6s %04x  %s  %s%s%s%s\n", member.method.c_str(),
                static_cast<unsigned long long>(member.packedSize),
                static_cast<unsigned long long>(member.originalSize), ratio, member.crc,
                Shown(FormatDosStamp(member.dosDate, member.dosTime, ' ')).c_str(),
                verbose ? VerboseColumns(member).c_str() : "", member.name.c_str(), member.directory ? "/" : "",
                member.storedAbsolute ? "  (stored absolute: with a leading separator)" : "");
        totalPacked += member.packedSize;
        totalOriginal += member.originalSize;
    }
    char ratio[16];
    FormatRatio(ratio, sizeof ratio, totalPacked, totalOriginal);
    // Files and folders apart: a folder is a folder entry or a folder on a member's path.
    std::set<std::string> folders;
    size_t files = 0;
    for (const ListedMember& member : archive.members) {
        if (member.directory) folders.insert(member.name);
        files += member.directory ? 0 : 1;
        for (size_t slash = member.name.find('/'); slash != std::string::npos;
             slash = member.name.find('/', slash + 1)) {
            folders.insert(member.name.substr(0, slash));
        }
    }
    std::string counted = std::to_string(files) + (files == 1 ? " file" : " files");
    if (!folders.empty()) {
        counted += ", " + std::to_string(folders.size()) + (folders.size() == 1 ? " folder" : " folders");
    }
    fprintf(out, "%-6s %10llu %10llu %6s %-4s  %-19s  %s%s%s\n", "total",
            static_cast<unsigned long long>(totalPacked),
            static_cast<unsigned long long>(totalOriginal), ratio, "", "",
            verbose ? std::string(VERBOSE_WIDTH, ' ').c_str() : "", counted.c_str(),
            trailer.c_str());
    if (archive.endReached && archive.appendedBytes != 0) {
        fprintf(out, "%llu byte%s appended after the end marker (ignored; a signature, "
                "for instance)\n",
                static_cast<unsigned long long>(archive.appendedBytes),
                archive.appendedBytes == 1 ? "" : "s");
    }
    if (!archive.stubDescribed && !archive.seal.found) return;
    auto line = [&](const std::string& key, const std::string& value) {
        std::string printable;
        for (char c : value) printable += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
        fprintf(out, "  %-18s %s\n", key.c_str(), printable.c_str());
    };
    fputs("stub:\n", out);
    if (archive.stubDescribed) {
        const StubDescription& stub = archive.stub;
        line("title", stub.title.empty() ? "(none)" : stub.title);
        for (const auto& pair : stub.version.strings) line(pair.first, pair.second);
        if (stub.hasVersion) {
            line("version language",
                 stub.version.language.empty() ? "(none)" : stub.version.language);
            line("file version", DottedVersion(stub.version.fileVersion));
            line("product version", DottedVersion(stub.version.productVersion));
        }
        line("execution level", stub.executionLevel.empty() ? "(none)" : stub.executionLevel);
        std::string icons;
        for (const IconGroupEntry& icon : stub.icons) {
            icons += (icons.empty() ? "" : ", ") + std::to_string(icon.width) + "x" +
                     std::to_string(icon.height) + " " + std::to_string(icon.bitCount) + " bpp";
        }
        line("icon", icons.empty() ? "(none)" : icons);
    }
    const SetupSeal& seal = archive.seal;
    if (!seal.found) {
        line("archive SHA-256", "(no seal: the setup runs whatever archive follows it)");
        return;
    }
    line("archive SHA-256", seal.sealed ? DigestHex(seal.record.digest) + " (" +
                                              std::to_string(seal.record.archiveLength) +
                                              " bytes; the setup runs only this archive)"
                                        : "(none recorded: the setup runs whatever archive "
                                          "follows it)");
    line("names' code page", seal.record.codePage != 0
                                 ? std::to_string(seal.record.codePage)
                                 : "(none recorded: Windows' ANSI code page)");
}

namespace {

// The stub's resources and seal as a JSON object, or null for a bare archive.
std::string StubJson(const ListedArchive& archive) {
    if (!archive.stubDescribed && !archive.seal.found) return "null";
    const StubDescription& stub = archive.stub;
    std::string json = "{\"title\": ";
    json += stub.title.empty() ? "null" : JsonString(stub.title);
    json += ", \"version_language\": ";
    json += stub.version.language.empty() ? "null" : JsonString(stub.version.language);
    json += ", \"version_info\": {";
    for (size_t k = 0; k < stub.version.strings.size(); ++k) {
        json += (k ? ", " : "") + JsonString(stub.version.strings[k].first) + ": " +
                JsonString(stub.version.strings[k].second);
    }
    json += "}, \"file_version\": ";
    json += stub.hasVersion ? JsonString(DottedVersion(stub.version.fileVersion)) : "null";
    json += ", \"product_version\": ";
    json += stub.hasVersion ? JsonString(DottedVersion(stub.version.productVersion)) : "null";
    json += ", \"execution_level\": ";
    json += stub.executionLevel.empty() ? "null" : JsonString(stub.executionLevel);
    json += ", \"icons\": [";
    for (size_t k = 0; k < stub.icons.size(); ++k) {
        json += (k ? ", " : "") + std::string("{\"width\": ") + std::to_string(stub.icons[k].width) +
                ", \"height\": " + std::to_string(stub.icons[k].height) +
                ", \"bits_per_pixel\": " + std::to_string(stub.icons[k].bitCount) + "}";
    }
    const SetupSeal& seal = archive.seal;
    json += "], \"archive_sha256\": ";
    json += seal.sealed ? JsonString(DigestHex(seal.record.digest)) : "null";
    json += ", \"archive_length\": ";
    json += seal.sealed ? std::to_string(seal.record.archiveLength) : "null";
    json += ", \"codepage\": ";
    json += seal.found && seal.record.codePage != 0 ? std::to_string(seal.record.codePage)
                                                     : "null";
    return json + "}";
}

}  // namespace

void PrintJsonListing(FILE* out, const std::vector<ListedArchive>& archives) {
    fputs("[", out);
    for (size_t a = 0; a < archives.size(); ++a) {
        const ListedArchive& archive = archives[a];
        fprintf(out, "%s\n  {\"file\": %s, \"archive_offset\": %llu, ", a == 0 ? "" : ",",
                JsonString(archive.path).c_str(),
                static_cast<unsigned long long>(archive.archiveOffset));
        if (archive.endReached) {
            fprintf(out, "\"appended_bytes\": %llu,",
                    static_cast<unsigned long long>(archive.appendedBytes));
        } else {
            fputs("\"appended_bytes\": null,", out);
        }
        fprintf(out, " \"error\": %s,\n   \"stub\": %s,\n   \"members\": [",
                archive.error.empty() ? "null" : JsonString(archive.error).c_str(),
                StubJson(archive).c_str());
        for (size_t m = 0; m < archive.members.size(); ++m) {
            const ListedMember& member = archive.members[m];
            char crc[8];
            snprintf(crc, sizeof crc, "%04x", member.crc);
            const std::string stamp = FormatDosStamp(member.dosDate, member.dosTime, 'T');
            fprintf(out,
                    "%s\n    {\"name\": %s, \"name_bytes\": \"%s\", \"directory\": %s, "
                    "\"method\": %s, \"original_size\": %llu, \"packed_size\": %llu, "
                    "\"crc16\": \"%s\", \"time\": %s, \"header_offset\": %llu, "
                    "\"stored_absolute\": %s, \"header_level\": %u, \"os_id\": %s, "
                    "\"attributes\": %u, \"permissions\": %s}",
                    m == 0 ? "" : ",", JsonString(member.name).c_str(),
                    Hex(member.storedName).c_str(), member.directory ? "true" : "false",
                    JsonString(member.method).c_str(),
                    static_cast<unsigned long long>(member.originalSize),
                    static_cast<unsigned long long>(member.packedSize), crc,
                    stamp.empty() ? "null" : JsonString(stamp).c_str(),
                    static_cast<unsigned long long>(member.headerOffset),
                    member.storedAbsolute ? "true" : "false", member.headerLevel,
                    member.osId < 0 ? "null" : JsonString(std::string(1, static_cast<char>(member.osId))).c_str(),
                    member.attributes, member.modeKnown ? OctalMode(member.mode).c_str() : "null");
        }
        fputs(archive.members.empty() ? "]}" : "\n   ]}", out);
    }
    fputs(archives.empty() ? "]\n" : "\n]\n", out);
}
