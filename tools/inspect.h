// What list, test and extract share: where the archive starts in FILE, failures in
// words, and the verb's options.
#ifndef VORPANEX_TOOLS_INSPECT_H
#define VORPANEX_TOOLS_INSPECT_H

#include <stdint.h>

#include <string>

// The archive's offset in FILE: 49152 for a setup (starts with "MZ"), 0 otherwise.
// -1 when the file cannot be read or is too short, with a message.
long ArchiveOffsetOf(const char* verb, const char* path);

// True when FILE starts with "MZ".
bool IsSetupFile(const char* path);

const char* FailureText(int failure);
// The failure with what the header in hand adds (the level, the method).
std::string FailureDetail(int failure);

#endif
