// The shared command-line parser over getopt_long, and value checks.
#include "tools/options.h"

#include <getopt.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "archive/archive.h"
#include "platform/system.h"
#include "tools/commands.h"
#include "tools/reading.h"

bool quietOutput;

int UsageError(const char* verb, const std::string& message) {
    fprintf(stderr, "vorpanex %s: %s\n(see `vorpanex %s --help`)\n", verb, message.c_str(),
            verb);
    return EXIT_USAGE;
}

int ParseOptions(int argc, char** argv, const std::vector<OptionSpec>& specs,
                 const OptionHandler& handler, std::vector<std::string>& operands,
                 bool& help) {
    const char* verb = argv[0];
    const int HELP_ID = 'h';
    std::string shortOptions = ":h";  // ':' first: a missing value returns ':'
    std::vector<option> longOptions;
    longOptions.push_back({"help", no_argument, nullptr, HELP_ID});
    for (const OptionSpec& wanted : specs) {
        if (wanted.id > 0 && wanted.id < 256) {
            shortOptions += static_cast<char>(wanted.id);
            if (wanted.takesValue) shortOptions += ':';
        }
        const int argument = wanted.takesValue ? required_argument : no_argument;
        longOptions.push_back({wanted.longName, argument, nullptr, wanted.id});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});
    help = false;
    quietOutput = false;
    opterr = 0;
    optind = 0;  // glibc: a full restart, also of a scan left half-way by an earlier call
    for (;;) {
        int longIndex = -1;
        const int id = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(),
                                   &longIndex);
        if (id == -1) break;
        if (id == '?' || id == ':') {
            // The option as the user wrote it: a short letter, or the long word.
            // optind has moved past the argument at fault, except inside a cluster of
            // short flags ("-Zq"), where the letter in optopt is the one at fault.
            const char* argument = argv[optind - 1];
            std::string written;
            if (strncmp(argument, "--", 2) == 0 && argument[2] != 0) {
                written = argument;
                written.resize(std::min(written.find('='), written.size()));
            }
            if (optopt != 0 && !written.empty()) {
                // A long option at fault carries its own id in optopt.
                bool matches = false;
                for (const option& known : longOptions) {
                    if (known.name != nullptr && known.val == optopt &&
                        strncmp(known.name, written.c_str() + 2, written.size() - 2) == 0) {
                        matches = true;
                    }
                }
                if (!matches) written.clear();
            }
            if (written.empty()) written = std::string("-") + static_cast<char>(optopt);
            if (id == ':') return UsageError(verb, "option " + written + " needs a value");
            if (optopt != 0 && strchr(argv[optind - 1], '=') != nullptr &&
                strncmp(argv[optind - 1], "--", 2) == 0) {
                return UsageError(verb, "option " + written + " takes no value");
            }
            // An abbreviation that fits several long options is not "unknown".
            if (optopt == 0 && written.compare(0, 2, "--") == 0) {
                int fits = 0;
                for (const option& known : longOptions) {
                    if (known.name != nullptr &&
                        strncmp(known.name, written.c_str() + 2, written.size() - 2) == 0) {
                        ++fits;
                    }
                }
                if (fits > 1) return UsageError(verb, "option " + written + " is ambiguous");
            }
            return UsageError(verb, "unknown option " + written);
        }
        if (id == HELP_ID) {
            help = true;
            continue;
        }
        const std::string error = handler(id, optarg);
        if (!error.empty()) return UsageError(verb, error);
    }
    for (int i = optind; i < argc; ++i) operands.push_back(argv[i]);
    return 0;
}

bool ParseWholeNumber(const char* text, uint64_t low, uint64_t high, uint64_t& value) {
    if (text == nullptr || *text == 0) return false;
    uint64_t number = 0;
    for (const char* p = text; *p != 0; ++p) {
        if (*p < '0' || *p > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (number > (UINT64_MAX - digit) / 10) return false;
        number = number * 10 + digit;
    }
    if (number < low || number > high) return false;
    value = number;
    return true;
}

std::string ParseCodePage(const char* text, unsigned& codePage) {
    if (strcmp(text, "932") == 0) {
        codePage = 932;
    } else if (strcmp(text, "1252") == 0) {
        codePage = 1252;
    } else {
        return std::string("--codepage ") + text +
               ": unsupported; use 932 (Japanese) or 1252 (Western)";
    }
    return "";
}

namespace {

// Whether the file holds a setup (starts with "MZ" and has a member header where a
// setup's archive starts) or a bare archive (starts with a member header). A file of
// the payload, a small program included, is a member name, not a FILE. Only a regular
// file is looked into: opening a pipe would wait for a writer.
bool HoldsArchive(const std::string& path) {
    FileStatus info;
    if (sys::Status(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    FILE* file = sys::OpenStream(path.c_str(), "rb");
    if (file == nullptr) return false;
    unsigned char head[2 + 255] = {0};
    size_t got = fread(head, 1, sizeof head, file);
    if (got >= 2 && head[0] == 'M' && head[1] == 'Z') {
        got = fseek(file, static_cast<long>(ARCHIVE_OFFSET), SEEK_SET) == 0
                  ? fread(head, 1, sizeof head, file) : 0;
    }
    fclose(file);
    return StartsWithMemberHeader(head, got);
}

}  // namespace

std::string SplitFilesAndPatterns(const std::vector<std::string>& operands,
                                  std::vector<std::string>& files,
                                  std::vector<std::string>& patterns) {
    for (size_t i = 0; i < operands.size(); ++i) {
        if (i == 0 || HoldsArchive(operands[i])) {
            files.push_back(operands[i]);
        } else if (operands[i].empty()) {
            return "an empty member name or pattern chooses nothing; name a member, or "
                   "leave the names out to choose every member";
        } else {
            // A member's path has '/' between its folders; on Windows '\' is taken too.
            patterns.push_back(sys::PortablePath(operands[i]));
        }
    }
    return "";
}

void MemberSelection::Reset(const std::vector<std::string>& given) {
    patterns = given;
    matched.assign(given.size(), false);
}

bool MemberSelection::Chooses(const std::string& path, const std::string& shown, bool folder) {
    if (patterns.empty()) return true;
    bool chosen = false;
    for (size_t k = 0; k < patterns.size(); ++k) {
        // "docs/", as the listing shows a folder, chooses the folder "docs" only.
        std::string pattern = patterns[k];
        const bool folderOnly = pattern.size() > 1 && pattern.back() == '/';
        while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
        // The path itself, then each folder on it; the stored path and the one the
        // listing shows (its bytes converted from the archive's code page). A name
        // equal to the path chooses it even when it holds '[', '*' or '?'.
        bool hit = false;
        for (const std::string* text : {&path, &shown}) {
            for (size_t end = text->size(); end != std::string::npos && end > 0;
                 end = text->rfind('/', end - 1)) {
                if (folderOnly && end == text->size() && !folder) continue;
                const std::string part = text->substr(0, end);
                if (part == pattern || sys::MatchPattern(pattern.c_str(), part.c_str(), true)) {
                    hit = true;
                    break;
                }
            }
            if (hit) break;
        }
        if (hit) matched[k] = chosen = true;
    }
    return chosen;
}

bool MemberSelection::ReportUnmatched(const char* verb, const std::string& file) const {
    bool all = true;
    for (size_t k = 0; k < patterns.size(); ++k) {
        if (matched[k]) continue;
        // A file of that name that holds no archive was taken as a member name: say so.
        FileStatus info;
        const bool isFile = sys::Status(patterns[k].c_str(), &info) == 0 && S_ISREG(info.st_mode);
        fprintf(stderr, "vorpanex %s: %s: %s: not found in the archive%s\n", verb, file.c_str(),
                patterns[k].c_str(),
                isFile ? " (the file of that name holds no archive or setup, so it was taken "
                         "as a member name)" : "");
        all = false;
    }
    return all;
}
