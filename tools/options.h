// The one command-line parser of every verb (GNU getopt_long rules), and the checks
// of option values that several verbs share.
#ifndef VORPANEX_TOOLS_OPTIONS_H
#define VORPANEX_TOOLS_OPTIONS_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/format.h"

// One option of a verb. shortName 0: long form only. Options without a short name
// get an id above 255 from the parser's caller.
struct OptionSpec {
    const char* longName;
    int id;              // the short letter, or a number above 255
    bool takesValue;
};

// Called once per option found, in order; returns "" or an error text.
typedef std::function<std::string(int id, const char* value)> OptionHandler;

// Parses argv[1..] of a verb (argv[0] is the verb): "--name=VALUE" and "--name VALUE",
// "-xVALUE" and "-x VALUE", "-abc", "--" ending the options, operands anywhere.
// -h/--help is always known and sets help. Returns 0, or EXIT_USAGE after printing
// "vorpanex VERB: ..." naming the unknown option or the missing value.
int ParseOptions(int argc, char** argv, const std::vector<OptionSpec>& specs,
                 const OptionHandler& handler, std::vector<std::string>& operands,
                 bool& help);

// Prints "vorpanex VERB: MESSAGE" and a pointer to --help; returns EXIT_USAGE.
int UsageError(const char* verb, const std::string& message);

// A whole decimal number in [low, high]: "4" yes; "4x", "", " 4", "-1" no.
bool ParseWholeNumber(const char* text, uint64_t low, uint64_t high, uint64_t& value);

// --codepage: "932" or "1252"; "" or an error text.
std::string ParseCodePage(const char* text, unsigned& codePage);

// The operands of list, test and extract: the first is a FILE; a later one that names
// an existing file holding an archive or a setup is another FILE; every other one is a
// member name or shell pattern, matched in each FILE. A file holds an archive when a
// member header that parses starts it, or, for a program ("MZ"), starts where a
// setup's archive does. "" or the error (an empty name).
std::string SplitFilesAndPatterns(const std::vector<std::string>& operands,
                                  std::vector<std::string>& files,
                                  std::vector<std::string>& patterns);

// The member selection of one FILE: which patterns matched, and whether a member path
// ('/' between folders and name) is chosen: a pattern matches the path, or a folder on
// it (so "docs" chooses everything in docs), '*' not crossing a '/'; a pattern equal
// to the path chooses it as it is; "docs/" chooses a folder only. The path is tried as
// stored and as shown (converted from the archive's code page). No patterns: every
// member.
struct MemberSelection {
    std::vector<std::string> patterns;
    std::vector<bool> matched;
    void Reset(const std::vector<std::string>& given);
    bool Chooses(const std::string& path, const std::string& shown, bool folder);
    // Prints "vorpanex VERB: FILE: PATTERN: not found" per pattern that matched nothing;
    // false when there was one.
    bool ReportUnmatched(const char* verb, const std::string& file) const;
};

// Set by -q/--quiet: only errors are printed.
extern bool quietOutput;

// The paragraph on FILEs and member names that list, test and extract's --help share;
// each continues it with what it does with the chosen members ("listed.\n").
#define MEMBER_ARGUMENTS_HELP                                                             \
    "Arguments: the first is a FILE; a later one that names an existing file holding\n" \
    "an archive or a setup (a member header at its start, or at " ARCHIVE_OFFSET_TEXT \
    " after \"MZ\")\n" \
    "is another FILE; every other one is a member name or a shell pattern (quote it:\n" \
    "'docs/*'), matched in each FILE against the member's path: a folder's name\n"     \
    "chooses what it holds, '*' does not cross a '/', and a pattern that matches\n"    \
    "nothing in a FILE is an error. The path is the one list shows (converted from\n"  \
    "the code page) or the stored one; a name equal to a path chooses it as it is,\n"  \
    "'[x].txt' too; \"docs/\" chooses the folder docs. Only the chosen members are\n"

#endif
