// The tool's name rules: UTF-8 to and from code pages 932 and 1252, case folding as
// Windows does it, names that clash on Windows, and the names that list, test and
// extract show.
#include "archive/names.h"

#include <errno.h>
#ifndef _WIN32
#include <iconv.h>
#endif
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "archive/format.h"
#include "platform/platform.h"
#include "platform/system.h"

namespace {

const size_t MAX_NAME_BYTES = 230;

// Code points 0x80..0x9F of code page 1252; 0 where the code page has no character.
const uint16_t CP1252_HIGH[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes UTF-8 into code points; false for malformed input.
bool DecodeUtf8(const std::string& text, std::vector<uint32_t>& points) {
    for (size_t i = 0; i < text.size();) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        int extra;
        uint32_t point;
        if (lead < 0x80) {
            extra = 0;
            point = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            point = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size() && extra > 0) return false;
        for (int k = 1; k <= extra; ++k) {
            const uint8_t next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        static const uint32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
        if (point < smallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        points.push_back(point);
        i += extra + 1;
    }
    return true;
}

bool ToCp1252(const std::vector<uint32_t>& points, std::string& name, uint32_t& bad) {
    for (uint32_t point : points) {
        if (point < 0x80 || (point >= 0xA0 && point <= 0xFF)) {
            name.push_back(static_cast<char>(point));
            continue;
        }
        int byte = -1;
        for (int k = 0; k < 32; ++k) {
            if (CP1252_HIGH[k] == point) byte = 0x80 + k;
        }
        if (byte < 0) {
            bad = point;
            return false;
        }
        name.push_back(static_cast<char>(byte));
    }
    return true;
}

// What Windows makes of the bytes of code page 932 that have no character: a lead
// byte takes the next byte with it whatever that is, and the pair (or a lead byte at
// the end) becomes KATAKANA MIDDLE DOT; the single bytes 0x80, 0xA0 and 0xFD..0xFF
// become U+0080 and U+F8F0..U+F8F3. Code page 1252 maps its five holes 0x81, 0x8D,
// 0x8F, 0x90 and 0x9D to U+0081 and so on. (MultiByteToWideChar, which the ANSI file
// functions use, asked under Wine.)
const uint32_t CP932_DEFAULT_CHARACTER = 0x30FB;

bool IsCp932Lead(uint8_t byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Every character of the code pages that Windows upper-cases to another, and that
// one: generated under Wine by tests/tool/windows_names.cpp.
const uint16_t WINDOWS_UPPER_CASE[][2] = {
#include "archive/names_windows.inc"
};

uint32_t WindowsUpperCase(uint32_t point) {
    const size_t count = sizeof WINDOWS_UPPER_CASE / sizeof WINDOWS_UPPER_CASE[0];
    size_t low = 0;
    size_t high = count;
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (WINDOWS_UPPER_CASE[middle][0] < point) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low < count && WINDOWS_UPPER_CASE[low][0] == point ? WINDOWS_UPPER_CASE[low][1]
                                                              : point;
}

// One character of code page 932 (one or two bytes) to its code point through iconv,
// whose converter is opened once; false when iconv has none for it.
bool Cp932Character(const char* bytes, size_t length, uint32_t& point) {
    static iconv_t converter = iconv_open("UTF-32LE", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes);
    size_t inLeft = length;
    uint8_t out[8];
    char* outPointer = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    if (iconv(converter, &in, &inLeft, &outPointer, &outLeft) == static_cast<size_t>(-1) ||
        inLeft != 0 || sizeof out - outLeft != 4) {
        return false;
    }
    point = out[0] | (out[1] << 8) | (static_cast<uint32_t>(out[2]) << 16);
    return true;
}

// Converts with iconv; false when iconv cannot (a character with no place there).
bool Iconv(const char* to, const char* from, const std::string& text, std::string& result) {
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> input(text.begin(), text.end());
    std::vector<char> output(text.size() * 4 + 8);
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = output.data();
    size_t outLeft = output.size();
    const size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (converted == static_cast<size_t>(-1) || inLeft != 0) return false;
    result.assign(output.data(), out);
    return true;
}

void AppendEscaped(std::string& text, uint8_t byte) {
    char escaped[8];
    snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    text += escaped;
}

void AppendUtf8(std::string& text, uint32_t point) {
    if (point >= 0x10000) {
        text += static_cast<char>(0xF0 | (point >> 18));
        text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x80) {
        text += static_cast<char>(point);
    } else if (point < 0x800) {
        text += static_cast<char>(0xC0 | (point >> 6));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (point >> 12));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    }
}

bool IsControl(uint8_t byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

std::string CodePageUnavailable(unsigned codePage) {
    if (codePage != 932) return "";
    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return std::string("cannot convert names to or from code page 932: this system's "
                           "iconv has no CP932 (iconv_open: ") + strerror(errno) +
               "; install the gconv modules, e.g. Debian's libc6 with its gconv files)";
    }
    iconv_close(converter);
    return "";
}

bool ConvertMemberName(const std::string& utf8, unsigned codePage, std::string& name,
                       std::string& error) {
    name.clear();
    std::vector<uint32_t> points;
    if (!DecodeUtf8(utf8, points)) {
        error = "the name is not valid UTF-8";
        return false;
    }
    const bool ascii =
        std::all_of(points.begin(), points.end(), [](uint32_t point) { return point < 0x80; });
    if (ascii) {
        name = utf8;
    } else if (codePage == 0) {
        error = "the name is not plain ASCII; pass --codepage 932 or --codepage 1252 to "
                "convert it to the code page of the target Windows";
        return false;
    } else if (codePage == 1252) {
        uint32_t bad = 0;
        if (!ToCp1252(points, name, bad)) {
            char text[96];
            snprintf(text, sizeof text, "the character U+%04X has no place in code page 1252",
                     bad);
            error = text;
            return false;
        }
    } else if (codePage == 932) {
        const std::string unavailable = CodePageUnavailable(932);
        if (!unavailable.empty()) {
            error = unavailable;
            return false;
        }
        if (!Iconv("CP932", "UTF-8", utf8, name)) {
            error = "the name has a character that code page 932 cannot hold";
            return false;
        }
    } else {
        error = "unsupported code page";
        return false;
    }
    if (name.empty() || name.size() > MAX_NAME_BYTES) {
        char text[96];
        snprintf(text, sizeof text, "the name is %zu bytes long in the archive; 1 to %zu fit",
                 name.size(), MAX_NAME_BYTES);
        error = text;
        return false;
    }
    return true;
}

std::string FoldMemberName(const std::string& name, unsigned codePage) {
    std::vector<uint32_t> points;
    WindowsCharacters(name, codePage, points);
    std::string folded;
    for (uint32_t point : points) AppendUtf8(folded, WindowsUpperCase(point));
    return folded;
}

void WindowsCharacters(const std::string& bytes, unsigned codePage,
                       std::vector<uint32_t>& points) {
    points.clear();
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t byte = static_cast<uint8_t>(bytes[i]);
        if (byte < 0x80) {
            points.push_back(byte);
        } else if (codePage != 932) {
            points.push_back(byte >= 0xA0 || CP1252_HIGH[byte - 0x80] == 0
                                 ? byte
                                 : CP1252_HIGH[byte - 0x80]);
        } else if (IsCp932Lead(byte)) {
            uint32_t point = CP932_DEFAULT_CHARACTER;
            if (i + 1 < bytes.size()) {
                Cp932Character(bytes.data() + i, 2, point);
                ++i;
            }
            points.push_back(point);
        } else if (byte == 0x80) {
            points.push_back(0x80);
        } else if (byte == 0xA0 || byte >= 0xFD) {
            points.push_back(byte == 0xA0 ? 0xF8F0 : 0xF8F1 + (byte - 0xFD));
        } else {
            uint32_t point = CP932_DEFAULT_CHARACTER;
            Cp932Character(bytes.data() + i, 1, point);
            points.push_back(point);
        }
    }
}

std::string MemberNameToUtf8(const std::string& bytes, unsigned codePage, bool& converted) {
    converted = true;
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t byte = static_cast<uint8_t>(bytes[i]);
        if (IsControl(byte) || (byte == '\\' && codePage == 0)) {
            AppendEscaped(text, byte);
            converted = false;
        } else if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else if (codePage == 1252 && (byte >= 0xA0 || CP1252_HIGH[byte - 0x80] != 0)) {
            AppendUtf8(text, byte >= 0xA0 ? byte : CP1252_HIGH[byte - 0x80]);
        } else if (codePage == 932) {
            // One character: a lead byte takes its trail byte with it.
            const size_t length = IsCp932Lead(byte) && i + 1 < bytes.size() ? 2 : 1;
            uint32_t point = 0;
            if (Cp932Character(bytes.data() + i, length, point)) {
                AppendUtf8(text, point);
                i += length - 1;
            } else {
                AppendEscaped(text, byte);
                converted = false;
            }
        } else {
            AppendEscaped(text, byte);
            converted = false;
        }
    }
    return text;
}

bool MemberNameForDisk(const std::string& bytes, unsigned codePage, std::string& name,
                       std::string& error) {
#ifdef _WIN32
    // Windows names files in UTF-16, not bytes: a name whose code page is not known is
    // read as 1252, the code page it is judged in, as a Western Windows reads it.
    if (codePage == 0) codePage = 1252;
#endif
    if (codePage == 0) {
        name = bytes;
        return true;
    }
    const std::string unavailable = CodePageUnavailable(codePage);
    if (!unavailable.empty()) {
        error = unavailable;
        return false;
    }
    // The file Windows makes of these bytes, whether or not each has a character.
    std::vector<uint32_t> points;
    WindowsCharacters(bytes, codePage, points);
    name.clear();
    for (uint32_t point : points) AppendUtf8(name, point);
    return true;
}

size_t Utf8CharacterLength(const std::string& text, size_t at) {
    const uint8_t byte = static_cast<uint8_t>(text[at]);
    const size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    std::vector<uint32_t> point;
    if (at + length > text.size() || !DecodeUtf8(text.substr(at, length), point)) return 0;
    return length;
}

std::string EscapeForTerminal(const std::string& text) {
    std::string escaped;
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t byte = static_cast<uint8_t>(text[i]);
        if (byte < 0x80) {
            if (IsControl(byte)) {
                AppendEscaped(escaped, byte);
            } else {
                escaped += static_cast<char>(byte);
            }
            ++i;
            continue;
        }
        const size_t length = Utf8CharacterLength(text, i);
        if (length == 0) {
            AppendEscaped(escaped, byte);  // not UTF-8
            ++i;
            continue;
        }
        // U+0080..U+009F, the C1 controls, are C2 80..C2 9F.
        const bool control = byte == 0xC2 && static_cast<uint8_t>(text[i + 1]) < 0xA0;
        for (size_t k = 0; k < length; ++k) {
            if (control) {
                AppendEscaped(escaped, static_cast<uint8_t>(text[i + k]));  // a C1 control
            } else {
                escaped += text[i + k];
            }
        }
        i += length;
    }
    return escaped;
}

bool IsSetupProgramKey(const std::string& key) {
    for (const char* program : SETUP_NAMES) {
        if (key == program) return true;
    }
    return false;
}

WindowsNames JudgeWindowsNames(const std::vector<std::string>& paths,
                               const std::vector<bool>& isFolder, unsigned codePage) {
    WindowsNames names;
    names.keys.reserve(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        names.keys.push_back(FoldMemberName(paths[i], codePage));
        // Every folder above a member (and a folder entry itself) is a folder.
        const std::string& key = names.keys.back();
        for (size_t slash = key.find('/'); slash != std::string::npos;
             slash = key.find('/', slash + 1)) {
            names.folders.emplace(key.substr(0, slash), i);
        }
        if (isFolder[i]) names.folders.emplace(key, i);
    }
    std::unordered_map<std::string, size_t> files;  // key -> the first file of that key
    for (size_t i = 0; i < paths.size(); ++i) {
        if (isFolder[i]) continue;
        if (names.fileWhereFolder == SIZE_MAX && names.folders.count(names.keys[i]) != 0) {
            names.fileWhereFolder = i;
        }
        const auto found = files.emplace(names.keys[i], i);
        if (!found.second) names.sameFile.emplace_back(found.first->second, i);
    }
    return names;
}

bool NameDependsOnCodePage(const char* path) {
    const unsigned previous = PlatformCodePage();
    bool depends = false;
    // '/' between components is never a trail byte of code page 932.
    const std::string text = path;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        const std::string component = text.substr(start, end - start);
        PlatformSetCodePage(932);
        const int underJapanese = IsSafeMemberName(component.c_str());
        PlatformSetCodePage(1252);
        const int underWestern = IsSafeMemberName(component.c_str());
        depends = depends || underJapanese != underWestern;
        start = end + 1;
    }
    PlatformSetCodePage(previous);
    return depends;
}
