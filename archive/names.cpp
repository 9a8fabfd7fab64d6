// The rules a member name must keep to on Windows, shared by the stub's extraction and
// the tool's pack and test.
#include "archive/names.h"

#include <string.h>

#include "platform/platform.h"

namespace {

bool EqualsIgnoringCase(const char* text, size_t length, const char* upper) {
    if (strlen(upper) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i]) return false;
    }
    return true;
}

bool IsDeviceName(const char* name) {
    size_t stem = 0;
    while (name[stem] != 0 && name[stem] != '.') ++stem;
    // Trailing spaces are dropped by the system, so "CON " names the device too.
    while (stem > 0 && name[stem - 1] == ' ') --stem;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (EqualsIgnoringCase(name, stem, device)) return true;
    }
    // COM0-COM9 and LPT0-LPT9, and with the superscript digits 1, 2 and 3 of the
    // Western code page (B9, B2, B3), which the system reserves as well.
    if (stem == 4 && (EqualsIgnoringCase(name, 3, "COM") || EqualsIgnoringCase(name, 3, "LPT"))) {
        const unsigned char digit = static_cast<unsigned char>(name[3]);
        return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 ||
               digit == 0xB3;
    }
    return false;
}

}  // namespace

int IsSafeMemberName(const char* name) {
    if (name[0] == 0) return 0;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        if (PlatformIsLeadByte(*p)) {
            // A double-byte character: its trail byte (0x5C included) is not a separator.
            // No double-byte code page has a trail byte below 0x40, 0x7F or 0xFF; such a
            // byte would stand for itself (a colon, a slash, a control character).
            if (p[1] < 0x40 || p[1] == 0x7F || p[1] == 0xFF) return 0;
            ++p;
            continue;
        }
        if (*p < 0x20 || *p == 0x7F) return 0;
        if (strchr("\\/:*?\"<>|", *p) != nullptr) return 0;
    }
    // Names ending in a dot or space are silently altered by the system.
    const size_t length = strlen(name);
    if (name[length - 1] == '.' || name[length - 1] == ' ') return 0;
    if (IsDeviceName(name)) return 0;
    return 1;
}
