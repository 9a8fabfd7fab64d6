// What list, test and extract share: where the archive starts in FILE, failures in
// words, and the verb's options.
#ifndef VORPANEX_TOOLS_READING_H
#define VORPANEX_TOOLS_READING_H

#include <stdint.h>

#include <string>

// The archive's offset in FILE: ARCHIVE_OFFSET for a setup (starts with "MZ"), 0 otherwise.
// -1 when the file cannot be read, is not a regular file or is too short, with a
// message (and, when reason is given, the reason without the file's name).
long ArchiveOffsetOf(const char* verb, const char* path, std::string* reason = nullptr);

// True when FILE starts with "MZ".
bool IsSetupFile(const char* path);

const char* FailureText(int failure);

// The failure with what the header in hand tells about it (the level, the method).
std::string FailureDetail(int failure);

// The method id of the header in hand, unprintable bytes as '?'.
std::string MethodOf(const uint8_t* header);

struct ListedArchive;
// Without --codepage: notes on standard error for names shown escaped, and for names
// that code pages 932 and 1252 judge differently.
void NoteCodePage(const char* verb, const char* path, const ListedArchive& listed);

// An archive area with no member but bytes after an end marker at its start.
extern const char NOT_AN_ARCHIVE[];

// True when the failure is of the first member's header and that header has no method
// id of the form "-xxx-": the file holds no LHA archive (where a setup's would start),
// whichever check its bytes failed first. NOT_LHA is what to say then.
bool NoArchiveAtAll(int failure, bool firstMember);
extern const char NOT_LHA[];

// Whether the length bytes at h begin with a member header that parses: a method id
// "-l??-", a level of 0 to 3, and for levels 0 and 1 a header sum that matches.
bool StartsWithMemberHeader(const unsigned char* h, size_t length);

// For a program whose archive area holds no archive: when a member header
// (StartsWithMemberHeader) lies before ARCHIVE_OFFSET, right after another self-extractor's
// program, the text says so and where; "" otherwise.
std::string OtherSelfExtractor(const char* path);

#endif
