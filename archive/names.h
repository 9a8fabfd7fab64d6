// The rules for member names on Windows, in one place: the name the stub may create
// (shared by the stub's extraction and the tool's pack and test), and, for the tool,
// names between the archive's code page and UTF-8, the case folding by which names
// must be unique, the one rule for names that clash, and names shown by list and extract.
#ifndef VORPANEX_ARCHIVE_NAMES_H
#define VORPANEX_ARCHIVE_NAMES_H

// 1 when name can be a file name inside the work directory, read in the ANSI code
// page: not empty, not "." or "..", no separator, drive colon, control character or
// wildcard, and not a device name.
int IsSafeMemberName(const char* name);

#if !defined(_WIN32) || defined(VORPANEX_HOSTED)

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <unordered_map>
#include <vector>

// Converts a UTF-8 file name to the code page (0: plain ASCII only; 932; 1252).
// Returns false with a reason in error when that cannot be done.
bool ConvertMemberName(const std::string& utf8, unsigned codePage, std::string& name,
                       std::string& error);

// The characters (code points) that Windows makes of a member name's bytes in the code
// page (932, else 1252), as its ANSI file functions convert them: bytes without a
// character become what Windows makes of them, so every name converts.
void WindowsCharacters(const std::string& bytes, unsigned codePage,
                       std::vector<uint32_t>& points);

// The name as Windows compares file names: its characters in the code page (932, else
// 1252), each upper-cased as Windows does (Latin, Greek, Cyrillic, fullwidth, ...), as
// UTF-8. Two names with the same key are one file on Windows.
std::string FoldMemberName(const std::string& name, unsigned codePage);

// What Windows makes of a list of member paths ('/' between components) in the code
// page, the one rule by which pack refuses and test fails names. A folder never clashes
// with a folder: Windows makes it once and later members find it there. A file clashes
// with a file of the same key (the later replaces the earlier) and with a folder of its
// key (it cannot be made).
struct WindowsNames {
    std::vector<std::string> keys;                    // keys[i]: path i folded
    std::unordered_map<std::string, size_t> folders;  // folder key -> first member making it
    size_t fileWhereFolder = SIZE_MAX;  // the first file whose key is a folder's
    // Files that are one file on Windows: (earlier, later), in the order of the later.
    std::vector<std::pair<size_t, size_t>> sameFile;
};
WindowsNames JudgeWindowsNames(const std::vector<std::string>& paths,
                               const std::vector<bool>& isFolder, unsigned codePage);

// True when the key is the setup program's name (SETUP32.EXE or SETUP.EXE).
bool IsSetupProgramKey(const std::string& key);

// A member name from the archive as UTF-8 text. Code page 0 keeps ASCII and shows
// every other byte as \xNN; 932 and 1252 convert. Control bytes and bytes that do
// not convert are shown as \xNN too. converted is false when any byte was escaped.
std::string MemberNameToUtf8(const std::string& bytes, unsigned codePage, bool& converted);

// The name to give the file on Linux: for code page 0 the bytes themselves, else the
// UTF-8 of the file name Windows makes of them (see WindowsCharacters). false (with a
// reason) only when the code page's converter is missing.
bool MemberNameForDisk(const std::string& bytes, unsigned codePage, std::string& name,
                       std::string& error);

// True when the stub's name rule judges a component of the path ('/' between them)
// differently under code pages 932 and 1252 (a Shift_JIS trail byte 0x5C, for
// instance): the code page decides.
bool NameDependsOnCodePage(const char* path);

// The length of the UTF-8 character at text[at], or 0 when the bytes there are not one.
size_t Utf8CharacterLength(const std::string& text, size_t at);

// Text for the terminal: control characters (C0, DEL, and C1 written in UTF-8) and
// bytes that are not UTF-8 become \xNN, so that a name cannot send escape sequences.
std::string EscapeForTerminal(const std::string& text);

// The reason a code page conversion could not start (iconv_open failed), or "".
std::string CodePageUnavailable(unsigned codePage);

#endif

#endif
