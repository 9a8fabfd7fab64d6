// UTF-8 <-> UTF-16: the tool's strings and the text of Windows resources.
#ifndef VORPANEX_PE_TEXT_H
#define VORPANEX_PE_TEXT_H

#include <string>

// False when text is not valid UTF-8.
bool Utf8ToUtf16(const std::string& text, std::u16string& out);

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

#endif
