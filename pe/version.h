// The version block of a Windows program: its strings and version numbers.
#ifndef VORPANEX_PE_VERSION_H
#define VORPANEX_PE_VERSION_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>


struct VersionInfo {
    std::vector<std::pair<std::string, std::string>> strings;  // UTF-8, in stored order
    std::string language;                                     // of the strings: "0409"
    uint32_t fileVersion[2] = {0, 0};                         // most, least significant
    uint32_t productVersion[2] = {0, 0};
};

bool ParseVersionInfo(const std::vector<uint8_t>& data, VersionInfo& info);


// Sets the version strings (checked KEY, VALUE pairs) in every string table of the
// version block data and, when language is not -1, names that language in the first
// table's key ("040904b0": language, then code page) and in the first Translation pair.
// False with the reason when the block is damaged or the result too long.
bool ApplyVersionInfo(std::vector<uint8_t>& data,
                      const std::vector<std::pair<std::string, std::string>>& values,
                      int language, std::string& error);

// The longest version string, in UTF-16 units.
const size_t MAX_VERSION_TEXT = 4096;

const unsigned US_ENGLISH = 0x0409;

// "a.b.c.d" (one to four numbers up to 65535; missing ones are 0) as two words.
bool ParseDottedVersion(const std::string& text, uint32_t words[2]);

// A version's two words as "a.b.c.d".
std::string DottedVersion(const uint32_t words[2]);

#endif
