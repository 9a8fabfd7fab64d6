// The checks of pack's branding options, made before any file is read.
#include "tools/pack_brand_options.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "pe/text.h"
#include "pe/version.h"

namespace {

const size_t MAX_TITLE = 255;  // UTF-16 units of a progress window caption

}  // namespace

const char* const VERSION_KEYS[9] = {"CompanyName",     "ProductName",  "FileDescription",
                                     "FileVersion",     "ProductVersion", "LegalCopyright",
                                     "OriginalFilename", "InternalName", "Comments"};

std::string CheckVersionArgument(const std::string& argument, std::string& key,
                                 std::string& value) {
    const size_t equals = argument.find('=');
    if (equals == std::string::npos) return "\"" + argument + "\": expected KEY=VALUE";
    key = argument.substr(0, equals);
    value = argument.substr(equals + 1);
    if (std::find_if(std::begin(VERSION_KEYS), std::end(VERSION_KEYS),
                     [&](const char* known) { return key == known; }) == std::end(VERSION_KEYS)) {
        std::string known;
        for (const char* name : VERSION_KEYS) known += std::string(known.empty() ? "" : ", ") + name;
        return "unknown key \"" + key + "\"; the keys are " + known;
    }
    std::u16string text;
    if (!Utf8ToUtf16(value, text)) return key + ": the value is not valid UTF-8";
    if (text.size() > MAX_VERSION_TEXT) {
        return key + ": the value is longer than " + std::to_string(MAX_VERSION_TEXT) +
               " characters";
    }
    for (char16_t unit : text) {
        if (unit < 0x20 || unit == 0x7F) return key + ": the value holds a control character";
    }
    uint32_t words[2];
    if ((key == "FileVersion" || key == "ProductVersion") && !ParseDottedVersion(value, words)) {
        return key + ": \"" + value + "\" is not a version a.b.c.d (one to four numbers "
               "from 0 to 65535)";
    }
    return "";
}

std::string ParseVersionLanguage(const char* text, unsigned& language) {
    const char* digits = strncmp(text, "0x", 2) == 0 || strncmp(text, "0X", 2) == 0 ? text + 2 : text;
    if (strlen(digits) != 4 || strspn(digits, "0123456789abcdefABCDEF") != 4) {
        return std::string("--version-language ") + text + ": not a language id of four hex "
               "digits, such as 0409 (English, United States) or 0411 (Japanese)";
    }
    language = static_cast<unsigned>(strtoul(digits, nullptr, 16));
    return "";
}

std::string CheckTitle(const std::string& text) {
    std::u16string units;
    if (text.empty()) return "--title needs a text";
    if (!Utf8ToUtf16(text, units)) return "--title: the text is not valid UTF-8";
    if (units.size() > MAX_TITLE) {
        return "--title: the text is longer than " + std::to_string(MAX_TITLE) + " characters";
    }
    for (char16_t unit : units) {
        if (unit < 0x20 || unit == 0x7F) return "--title: the text holds a control character";
    }
    return "";
}

bool IsExecutionLevel(const std::string& level) {
    return level == "asInvoker" || level == "highestAvailable" || level == "requireAdministrator";
}
