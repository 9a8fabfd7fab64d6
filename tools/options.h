// The one command-line parser of every verb (GNU getopt_long rules), and the checks
// of option values that several verbs share.
#ifndef VORPANEX_TOOLS_OPTIONS_H
#define VORPANEX_TOOLS_OPTIONS_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

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

// Set by -q/--quiet: only errors are printed.
extern bool quietOutput;

#endif
