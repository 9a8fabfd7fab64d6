// Member names: UTF-8 to and from code pages 932 and 1252, case folding, and the
// names that list, test and extract show.
#include "tools/names.h"

#include <errno.h>
#include <iconv.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "archive/archive.h"

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
    if (point < 0x80) {
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
    std::string folded = name;
    for (size_t i = 0; i < folded.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(folded[i]);
        if (codePage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))) {
            ++i;  // a double-byte character: its trail byte is not a letter
            continue;
        }
        uint8_t upper = c;
        if (c >= 'a' && c <= 'z') {
            upper = static_cast<uint8_t>(c - 32);
        } else if (codePage == 1252) {
            if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) upper = static_cast<uint8_t>(c - 32);
            if (c == 0x9A || c == 0x9C || c == 0x9E) upper = static_cast<uint8_t>(c - 16);
            if (c == 0xFF) upper = 0x9F;
        }
        folded[i] = static_cast<char>(upper);
    }
    return folded;
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
            const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
            const size_t length = lead && i + 1 < bytes.size() ? 2 : 1;
            std::string character;
            if (Iconv("UTF-8", "CP932", bytes.substr(i, length), character)) {
                text += character;
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
    if (codePage == 0) {
        name = bytes;
        return true;
    }
    const std::string unavailable = CodePageUnavailable(codePage);
    if (!unavailable.empty()) {
        error = unavailable;
        return false;
    }
    bool converted = false;
    name = MemberNameToUtf8(bytes, codePage, converted);
    if (!converted) {
        char text[64];
        snprintf(text, sizeof text, "the name does not convert from code page %u", codePage);
        error = text;
        return false;
    }
    return true;
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
