// The checks of pack's branding options (--version-info, --version-language, --title,
// --execution-level): each says what is wrong with an argument, or "".
#ifndef VORPANEX_TOOLS_PACK_BRAND_OPTIONS_H
#define VORPANEX_TOOLS_PACK_BRAND_OPTIONS_H

#include <string>

// The keys that --version-info accepts.
extern const char* const VERSION_KEYS[9];

// Checks one KEY=VALUE argument; "" when it is good, else what is wrong.
std::string CheckVersionArgument(const std::string& argument, std::string& key,
                                 std::string& value);

// --version-language: a language id of four hex digits ("0409"); "" or what is wrong.
std::string ParseVersionLanguage(const char* text, unsigned& language);

// --title: "" when text can be the progress window's caption, else what is wrong.
std::string CheckTitle(const std::string& text);

// --execution-level: one of the three levels a manifest can request.
bool IsExecutionLevel(const std::string& level);

#endif
