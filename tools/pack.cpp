// The pack verb: files in; a setup (stub, archive, end marker) or a bare archive out.
#include "tools/pack.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive.h"
#include "encode/encoder.h"
#include "tools/commands.h"
#include "tools/pe_resources.h"
#include "tools/terminal.h"

namespace {

const char PACK_HELP[] =
    "usage: vorpanex pack [options] -o OUT FILE|DIR...\n"
    "\n"
    "Builds a setup: the stub padded to 49152 bytes, an LHA archive of the files, and\n"
    "the end marker. A DIR contributes the regular files directly inside it, sorted by\n"
    "name; a folder inside it is an error (members are flat files). The members must\n"
    "include SETUP32.EXE or SETUP.EXE, the program that the setup starts.\n"
    "\n"
    "options:\n"
    "  -o, --output OUT   the file to write (written beside it, then renamed)\n"
    "  -m, --method M     lh6 (default, 32 KiB window), lh5 (8 KiB window) or lh0\n"
    "                     (stored); a member that would not shrink is stored\n"
    "      --best         slower, smaller: optimal parsing instead of lazy matching\n"
    "      --stub FILE    the stub to put in front instead of the built-in one\n"
    "      --icon FILE    the setup's icon: an .ico file of 16x16 and 32x32 images at\n"
    "                     4, 8 or 32 bits per pixel (bitmaps or PNG); its window\n"
    "                     shows it too\n"
    "      --version-info KEY=VALUE\n"
    "                     a version string of the setup (repeatable); KEY is one of\n"
    "                     CompanyName, ProductName, FileDescription, FileVersion,\n"
    "                     ProductVersion, LegalCopyright, OriginalFilename,\n"
    "                     InternalName, Comments. FileVersion and ProductVersion are\n"
    "                     a.b.c.d (1 to 4 numbers) and set the numeric version too\n"
    "      --execution-level LEVEL\n"
    "                     asInvoker, highestAvailable (default) or\n"
    "                     requireAdministrator: the rights the setup asks Windows for\n"
    "      --archive-only write a bare archive without a stub\n"
    "      --no-setup     allow an archive without SETUP32.EXE or SETUP.EXE\n"
    "      --codepage N   convert UTF-8 file names to code page 932 or 1252; without\n"
    "                     it names must be plain ASCII\n"
    "      --mtime WHEN   the time of every member: seconds since 1970, or\n"
    "                     \"YYYY-MM-DD[ HH:MM[:SS]]\" in local time (SOURCE_DATE_EPOCH\n"
    "                     in the environment does the same); otherwise each file's\n"
    "                     modification time. DOS times cover 1980 to 2107.\n"
    "  -j, --jobs N       members compressed at once (default: the number of CPUs)\n"
    "  -v, --verbose      also print the time taken and the speed\n"
    "  -h, --help         this text\n"
    "\n"
    "The same inputs and options always give the same bytes.\n"
    "exit status: 0 done, 1 failed (nothing is left at OUT), 2 usage error\n"
    "example: vorpanex pack -o setup.exe payload/\n";

const size_t MAX_NAME_BYTES = 230;
const uint64_t MAX_MEMBER_SIZE = 0xFFFFFFFFull;

int Usage(const char* message) {
    fprintf(stderr, "vorpanex pack: %s\n(see `vorpanex pack --help`)\n", message);
    return EXIT_USAGE;
}

int Failure(const std::string& message) {
    ProgressDone();
    fprintf(stderr, "vorpanex pack: %s\n", message.c_str());
    return EXIT_BAD_ARCHIVE;
}

std::string ErrnoText(const std::string& path, int error) {
    return path + ": " + strerror(error);
}

// --- names -------------------------------------------------------------------------

// Code points 0x80..0x9F of code page 1252; 0 where the code page has no character.
const uint16_t CP1252_HIGH[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes UTF-8 into code points; false for malformed input.
bool DecodeUtf8(const std::string& text, std::vector<uint32_t>& points) {
    for (size_t i = 0; i < text.size();) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        int extra;
        uint32_t point;
        if (lead < 0x80) {
            extra = 0;
            point = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            point = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size() && extra > 0) return false;
        for (int k = 1; k <= extra; ++k) {
            const uint8_t next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        static const uint32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
        if (point < smallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        points.push_back(point);
        i += extra + 1;
    }
    return true;
}

bool ToCp1252(const std::vector<uint32_t>& points, std::string& name, uint32_t& bad) {
    for (uint32_t point : points) {
        if (point < 0x80 || (point >= 0xA0 && point <= 0xFF)) {
            name.push_back(static_cast<char>(point));
            continue;
        }
        int byte = -1;
        for (int k = 0; k < 32; ++k) {
            if (CP1252_HIGH[k] == point) byte = 0x80 + k;
        }
        if (byte < 0) {
            bad = point;
            return false;
        }
        name.push_back(static_cast<char>(byte));
    }
    return true;
}

bool ToCp932(const std::string& utf8, std::string& name) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> input(utf8.begin(), utf8.end());
    std::vector<char> output(utf8.size() * 2 + 8);
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = output.data();
    size_t outLeft = output.size();
    const size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1) || inLeft != 0) return false;
    name.assign(output.data(), out);
    return true;
}

// --- inputs ------------------------------------------------------------------------

struct Input {
    std::string path;         // as found on disk
    std::string display;      // the UTF-8 file name, for messages
    std::string name;         // the member name in the archive's code page
    struct stat status;
    uint16_t dosTime = 0, dosDate = 0;
    PackedMember packed;
    std::string error;        // set by a worker when the file cannot be read
};

std::string BaseName(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// Adds a file or the regular files of a directory. Returns an error text or "".
std::string CollectInput(const std::string& path, std::vector<Input>& inputs) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return ErrnoText(path, errno);
    if (S_ISREG(status.st_mode)) {
        Input input;
        input.path = path;
        input.display = BaseName(path);
        input.status = status;
        inputs.push_back(std::move(input));
        return "";
    }
    if (!S_ISDIR(status.st_mode)) return path + ": not a regular file or a directory";
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) return ErrnoText(path, errno);
    std::vector<std::string> names;
    errno = 0;
    while (struct dirent* entry = readdir(directory)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        names.push_back(entry->d_name);
    }
    const int readError = errno;
    closedir(directory);
    if (readError != 0) return ErrnoText(path, readError);
    std::sort(names.begin(), names.end());
    const std::string prefix = path.back() == '/' ? path : path + "/";
    for (const std::string& name : names) {
        Input input;
        input.path = prefix + name;
        input.display = name;
        if (stat(input.path.c_str(), &input.status) != 0) return ErrnoText(input.path, errno);
        if (S_ISDIR(input.status.st_mode)) {
            return input.path + ": is a folder; members are flat files, so a folder inside " +
                   path + " cannot be packed (move its files up or leave it out)";
        }
        if (!S_ISREG(input.status.st_mode)) return input.path + ": not a regular file";
        inputs.push_back(std::move(input));
    }
    return "";
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
    const int file = open(path.c_str(), O_RDONLY);
    if (file < 0) {
        error = ErrnoText(path, errno);
        return false;
    }
    struct stat status;
    if (fstat(file, &status) != 0) {
        error = ErrnoText(path, errno);
        close(file);
        return false;
    }
    data.clear();
    data.reserve(static_cast<size_t>(status.st_size));
    uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(file, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            error = ErrnoText(path, errno);
            close(file);
            return false;
        }
        if (got == 0) break;
        data.insert(data.end(), buffer, buffer + got);
        if (data.size() > MAX_MEMBER_SIZE) {
            error = path + ": larger than 4 GiB, which an archive member cannot hold";
            close(file);
            return false;
        }
    }
    close(file);
    return true;
}

// --- times -------------------------------------------------------------------------

// Local time as DOS date and time words; clamped to 1980..2107 (clamped set then).
void DosTimeOf(time_t when, uint16_t& dosTime, uint16_t& dosDate, bool& clamped) {
    struct tm local;
    clamped = false;
    if (localtime_r(&when, &local) == nullptr) {
        clamped = true;
        local = {};
        local.tm_year = when < 0 ? 80 : 207;
        local.tm_mday = when < 0 ? 1 : 31;
        local.tm_mon = when < 0 ? 0 : 11;
        if (when >= 0) {
            local.tm_hour = 23;
            local.tm_min = 59;
            local.tm_sec = 58;
        }
    }
    if (local.tm_year < 80) {
        clamped = true;
        local = {};
        local.tm_year = 80;
        local.tm_mday = 1;
    } else if (local.tm_year > 207) {
        clamped = true;
        local = {};
        local.tm_year = 207;
        local.tm_mon = 11;
        local.tm_mday = 31;
        local.tm_hour = 23;
        local.tm_min = 59;
        local.tm_sec = 58;
    }
    dosDate = static_cast<uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) |
                                    local.tm_mday);
    dosTime = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) |
                                    (local.tm_sec / 2));
}

// Seconds since 1970, or "YYYY-MM-DD[ HH:MM[:SS]]" (also with a T) in local time.
bool ParseTime(const char* text, time_t& when) {
    char* end = nullptr;
    errno = 0;
    const long long seconds = strtoll(text, &end, 10);
    if (errno == 0 && end != text && *end == 0) {
        when = static_cast<time_t>(seconds);
        return true;
    }
    struct tm local = {};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = 0;
    char trailing = 0;
    const int fields = sscanf(text, "%4d-%2d-%2d%c%2d:%2d:%2d%c", &year, &month, &day,
                              &separator, &hour, &minute, &second, &trailing);
    if (fields != 3 && fields != 6 && fields != 7) return false;
    if (fields > 3 && separator != ' ' && separator != 'T') return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 59 || hour < 0 || minute < 0 || second < 0) {
        return false;
    }
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    when = mktime(&local);
    return true;
}

// --- output ------------------------------------------------------------------------

// The temporary output, removed on failure and on Ctrl-C.
char temporaryPath[4096];
volatile sig_atomic_t temporaryExists;

void OnInterrupt(int) {
    if (temporaryExists) unlink(temporaryPath);
    static const char message[] = "\nvorpanex pack: interrupted; nothing written\n";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    _exit(EXIT_CANCELLED);
}

bool WriteAll(int file, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(file, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

struct Progress {
    std::atomic<uint64_t> done{0};
};

void OnEncodeProgress(void* context, uint64_t done) {
    // Each worker reports its own member; the delta goes into the shared counter.
    auto* state = static_cast<std::pair<Progress*, uint64_t>*>(context);
    if (done > state->second) {
        state->first->done += done - state->second;
        state->second = done;
    }
}

}  // namespace

bool ConvertMemberName(const std::string& utf8, unsigned codePage, std::string& name,
                       std::string& error) {
    name.clear();
    std::vector<uint32_t> points;
    if (!DecodeUtf8(utf8, points)) {
        error = "the name is not valid UTF-8";
        return false;
    }
    const bool ascii =
        std::all_of(points.begin(), points.end(), [](uint32_t point) { return point < 0x80; });
    if (ascii) {
        name = utf8;
    } else if (codePage == 0) {
        error = "the name is not plain ASCII; pass --codepage 932 or --codepage 1252 to "
                "convert it to the code page of the target Windows";
        return false;
    } else if (codePage == 1252) {
        uint32_t bad = 0;
        if (!ToCp1252(points, name, bad)) {
            char text[96];
            snprintf(text, sizeof text, "the character U+%04X has no place in code page 1252",
                     bad);
            error = text;
            return false;
        }
    } else if (codePage == 932) {
        if (!ToCp932(utf8, name)) {
            error = "the name has a character that code page 932 cannot hold";
            return false;
        }
    } else {
        error = "unsupported code page";
        return false;
    }
    if (name.empty() || name.size() > MAX_NAME_BYTES) {
        char text[96];
        snprintf(text, sizeof text, "the name is %zu bytes long in the archive; 1 to %zu fit",
                 name.size(), MAX_NAME_BYTES);
        error = text;
        return false;
    }
    return true;
}

std::string FoldMemberName(const std::string& name, unsigned codePage) {
    std::string folded = name;
    for (size_t i = 0; i < folded.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(folded[i]);
        if (codePage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))) {
            ++i;  // a double-byte character: its trail byte is not a letter
            continue;
        }
        uint8_t upper = c;
        if (c >= 'a' && c <= 'z') {
            upper = static_cast<uint8_t>(c - 32);
        } else if (codePage == 1252) {
            if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) upper = static_cast<uint8_t>(c - 32);
            if (c == 0x9A || c == 0x9C || c == 0x9E) upper = static_cast<uint8_t>(c - 16);
            if (c == 0xFF) upper = 0x9F;
        }
        folded[i] = static_cast<char>(upper);
    }
    return folded;
}

int PackCommand(int argc, char** argv) {
    const char* output = nullptr;
    const char* stubPath = nullptr;
    const char* mtimeText = nullptr;
    char method = '6';
    bool best = false, archiveOnly = false, noSetup = false, verbose = false;
    unsigned codePage = 0;
    unsigned jobs = std::thread::hardware_concurrency();
    Branding branding;
    std::vector<std::string> paths;
    bool optionsEnded = false;

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&](const char* option) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)option;
            return argv[++i];
        };
        if (optionsEnded || arg[0] != '-' || arg[1] == 0) {
            paths.push_back(arg);
        } else if (strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            fputs(PACK_HELP, stdout);
            return EXIT_OK;
        } else if (strcmp(arg, "-o") == 0 || strcmp(arg, "--output") == 0) {
            if ((output = value(arg)) == nullptr) return Usage("-o needs a file name");
        } else if (strcmp(arg, "-m") == 0 || strcmp(arg, "--method") == 0) {
            const char* name = value(arg);
            if (name == nullptr) return Usage("-m needs lh6, lh5 or lh0");
            if (strcmp(name, "lh6") == 0 || strcmp(name, "-lh6-") == 0) {
                method = '6';
            } else if (strcmp(name, "lh5") == 0 || strcmp(name, "-lh5-") == 0) {
                method = '5';
            } else if (strcmp(name, "lh0") == 0 || strcmp(name, "-lh0-") == 0) {
                method = '0';
            } else {
                return Usage("unknown method; use lh6, lh5 or lh0");
            }
        } else if (strcmp(arg, "--best") == 0) {
            best = true;
        } else if (strcmp(arg, "--stub") == 0) {
            if ((stubPath = value(arg)) == nullptr) return Usage("--stub needs a file name");
        } else if (strcmp(arg, "--icon") == 0) {
            const char* icon = value(arg);
            if (icon == nullptr || *icon == 0) return Usage("--icon needs an .ico file");
            branding.iconPath = icon;
        } else if (strcmp(arg, "--version-info") == 0) {
            const char* pair = value(arg);
            if (pair == nullptr) return Usage("--version-info needs KEY=VALUE");
            std::string key, text;
            const std::string problem = CheckVersionArgument(pair, key, text);
            if (!problem.empty()) return Usage(("--version-info: " + problem).c_str());
            for (const auto& given : branding.versionInfo) {
                if (given.first == key) {
                    return Usage(("--version-info: " + key + " given twice").c_str());
                }
            }
            branding.versionInfo.emplace_back(key, text);
        } else if (strcmp(arg, "--execution-level") == 0) {
            const char* level = value(arg);
            if (level == nullptr || !IsExecutionLevel(level)) {
                return Usage("--execution-level needs asInvoker, highestAvailable or "
                             "requireAdministrator");
            }
            branding.executionLevel = level;
        } else if (strcmp(arg, "--archive-only") == 0) {
            archiveOnly = true;
        } else if (strcmp(arg, "--no-setup") == 0) {
            noSetup = true;
        } else if (strcmp(arg, "--codepage") == 0) {
            const char* number = value(arg);
            if (number == nullptr) return Usage("--codepage needs 932 or 1252");
            if (strcmp(number, "932") == 0) {
                codePage = 932;
            } else if (strcmp(number, "1252") == 0) {
                codePage = 1252;
            } else {
                return Usage("unsupported code page; use 932 (Japanese) or 1252 (Western)");
            }
        } else if (strcmp(arg, "--mtime") == 0) {
            if ((mtimeText = value(arg)) == nullptr) return Usage("--mtime needs a time");
        } else if (strcmp(arg, "-j") == 0 || strcmp(arg, "--jobs") == 0) {
            const char* number = value(arg);
            if (number == nullptr || atoi(number) < 1) return Usage("--jobs needs a count");
            jobs = static_cast<unsigned>(atoi(number));
        } else if (strcmp(arg, "-v") == 0 || strcmp(arg, "--verbose") == 0) {
            verbose = true;
        } else {
            std::string message = std::string("unknown option ") + arg;
            return Usage(message.c_str());
        }
    }
    if (output == nullptr) return Usage("missing -o OUT");
    if (paths.empty()) return Usage("no FILE or DIR to pack");
    if (archiveOnly && stubPath != nullptr) return Usage("--stub and --archive-only exclude each other");
    if (archiveOnly && !branding.Empty()) {
        return Usage("--icon, --version-info and --execution-level brand the stub, which "
                     "--archive-only leaves out");
    }
    if (jobs == 0) jobs = 1;
    if (jobs > 16) jobs = 16;

    time_t fixedTime = 0;
    bool haveFixedTime = false;
    if (mtimeText != nullptr) {
        if (!ParseTime(mtimeText, fixedTime)) {
            return Usage("--mtime: use seconds since 1970 or \"YYYY-MM-DD HH:MM:SS\"");
        }
        haveFixedTime = true;
    } else if (const char* epoch = getenv("SOURCE_DATE_EPOCH")) {
        if (*epoch != 0) {
            char* end = nullptr;
            const long long seconds = strtoll(epoch, &end, 10);
            if (*end != 0) {
                return Failure(std::string("SOURCE_DATE_EPOCH is not a number of seconds: ") +
                               epoch);
            }
            fixedTime = static_cast<time_t>(seconds);
            haveFixedTime = true;
        }
    }

    // The stub.
    std::vector<uint8_t> stub;
    if (!archiveOnly) {
        if (stubPath != nullptr) {
            std::string error;
            if (!ReadWholeFile(stubPath, stub, error)) return Failure(error);
            if (stub.size() > ARCHIVE_OFFSET) {
                char text[64];
                snprintf(text, sizeof text, ": a stub of %zu bytes; at most %u fit", stub.size(),
                         ARCHIVE_OFFSET);
                return Failure(stubPath + std::string(text));
            }
        } else if (embeddedStubSize == 0) {
            return Failure("this vorpanex was built without a stub; pass --stub FILE, or "
                           "--archive-only for a bare archive");
        } else {
            stub.assign(embeddedStub, embeddedStub + embeddedStubSize);
        }
        if (!branding.Empty()) {
            std::string error;
            if (!branding.iconPath.empty() &&
                !ReadWholeFile(branding.iconPath, branding.icon, error)) {
                return Failure(error);
            }
            if (!BrandStub(stub, branding, ARCHIVE_OFFSET, error)) return Failure(error);
        }
    }

    // The members.
    std::vector<Input> inputs;
    for (const std::string& path : paths) {
        const std::string error = CollectInput(path, inputs);
        if (!error.empty()) return Failure(error);
    }
    struct stat outputStatus;
    const bool outputExists = stat(output, &outputStatus) == 0;
    if (outputExists) {
        for (const Input& input : inputs) {
            if (input.status.st_dev == outputStatus.st_dev &&
                input.status.st_ino == outputStatus.st_ino) {
                return Failure(input.path + ": is the output file itself; write OUT elsewhere "
                               "or leave it out of the inputs");
            }
        }
    }
    if (inputs.empty()) return Failure("no files to pack: the folders given are empty");
    PlatformSetCodePage(codePage == 0 ? 1252 : codePage);
    std::vector<std::string> folded;
    bool haveSetup = false;
    for (Input& input : inputs) {
        std::string error;
        if (!ConvertMemberName(input.display, codePage, input.name, error)) {
            return Failure(input.path + ": " + error);
        }
        if (!IsSafeMemberName(input.name.c_str())) {
            return Failure(input.path + ": \"" + input.display +
                           "\" cannot be a Windows file name (no \\ / : * ? \" < > |, control "
                           "characters, device names like CON or NUL, or a dot or space at "
                           "the end)");
        }
        const std::string key = FoldMemberName(input.name, codePage);
        for (size_t k = 0; k < folded.size(); ++k) {
            if (folded[k] == key) {
                return Failure(input.path + ": the name \"" + input.display + "\" differs from "
                               "\"" + inputs[k].display + "\" (" + inputs[k].path + ") only in "
                               "case; Windows takes them for one file");
            }
        }
        folded.push_back(key);
        if (key == "SETUP32.EXE" || key == "SETUP.EXE") haveSetup = true;
        if (static_cast<uint64_t>(input.status.st_size) > MAX_MEMBER_SIZE) {
            return Failure(input.path + ": larger than 4 GiB, which an archive member cannot "
                           "hold");
        }
        bool clamped = false;
        const time_t when = haveFixedTime ? fixedTime : input.status.st_mtime;
        DosTimeOf(when, input.dosTime, input.dosDate, clamped);
        if (clamped) {
            fprintf(stderr, "vorpanex pack: warning: %s: time outside 1980..2107, clamped\n",
                    input.path.c_str());
        }
    }
    if (!haveSetup && !noSetup) {
        return Failure("no SETUP32.EXE or SETUP.EXE among the files: the setup would have "
                       "nothing to start (pass --no-setup to pack anyway)");
    }

    // Compress, in order, members shared among the workers.
    uint64_t totalBytes = 0;
    for (const Input& input : inputs) totalBytes += static_cast<uint64_t>(input.status.st_size);
    const double started = NowSeconds();
    Progress progress;
    std::atomic<size_t> nextMember{0};
    std::atomic<size_t> finished{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable wake;
    auto work = [&]() {
        std::vector<uint8_t> data;
        for (;;) {
            const size_t index = nextMember++;
            if (index >= inputs.size() || failed) break;
            Input& input = inputs[index];
            if (!ReadWholeFile(input.path, data, input.error)) {
                failed = true;
            } else {
                std::pair<Progress*, uint64_t> context(&progress, 0);
                EncodeOptions options;
                options.best = best;
                options.progress = OnEncodeProgress;
                options.progressContext = &context;
                input.packed = PackMember(data.data(), data.size(), options, method);
                OnEncodeProgress(&context, data.size());
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++finished;
            }
            wake.notify_all();
        }
    };
    const unsigned workerCount =
        static_cast<unsigned>(std::min<size_t>(jobs, inputs.size()));
    std::vector<std::thread> workers;
    for (unsigned k = 0; k < workerCount; ++k) workers.emplace_back(work);
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (finished < inputs.size() && !failed) {
            wake.wait_for(lock, std::chrono::milliseconds(100));
            ProgressBar("packing", progress.done, totalBytes);
        }
    }
    for (std::thread& worker : workers) worker.join();
    for (const Input& input : inputs) {
        if (!input.error.empty()) return Failure(input.error);
    }
    const double compressed = NowSeconds();

    // Write beside OUT, then rename over it.
    const std::string outputPath = output;
    if (outputPath.size() + 16 > sizeof temporaryPath) return Failure(outputPath + ": path too long");
    snprintf(temporaryPath, sizeof temporaryPath, "%s.XXXXXX", output);
    struct sigaction action = {}, previous = {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, &previous);
    const int file = mkstemp(temporaryPath);
    if (file < 0) {
        sigaction(SIGINT, &previous, nullptr);
        return Failure(ErrnoText(outputPath, errno) + " (cannot create a file beside it)");
    }
    temporaryExists = 1;
    auto abandon = [&](const std::string& message) {
        close(file);
        unlink(temporaryPath);
        temporaryExists = 0;
        sigaction(SIGINT, &previous, nullptr);
        return Failure(message);
    };
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(file, 0777 & ~mask);
    std::vector<uint8_t> head = stub;
    if (!archiveOnly) head.resize(ARCHIVE_OFFSET, 0);
    if (!WriteAll(file, head.data(), head.size())) return abandon(ErrnoText(outputPath, errno));
    for (const Input& input : inputs) {
        const std::vector<uint8_t> header =
            BuildMemberHeader(input.name, input.packed, input.dosTime, input.dosDate);
        if (!WriteAll(file, header.data(), header.size()) ||
            !WriteAll(file, input.packed.data.data(), input.packed.data.size())) {
            return abandon(ErrnoText(outputPath, errno));
        }
    }
    const uint8_t endMarker = 0;
    if (!WriteAll(file, &endMarker, 1)) return abandon(ErrnoText(outputPath, errno));
    if (close(file) != 0) {
        const int error = errno;
        unlink(temporaryPath);
        temporaryExists = 0;
        sigaction(SIGINT, &previous, nullptr);
        return Failure(ErrnoText(outputPath, error));
    }
    if (rename(temporaryPath, output) != 0) {
        const int error = errno;
        unlink(temporaryPath);
        temporaryExists = 0;
        sigaction(SIGINT, &previous, nullptr);
        return Failure(ErrnoText(outputPath, error));
    }
    temporaryExists = 0;
    sigaction(SIGINT, &previous, nullptr);
    const double finishedAt = NowSeconds();
    ProgressDone();

    // Summary, in the manner of list.
    printf("%-6s %10s %10s %6s %-4s  %-19s  %s\n", "Method", "Packed", "Original", "Ratio",
           "CRC", "Date", "Name");
    uint64_t totalPacked = 0;
    for (const Input& input : inputs) {
        char ratio[16], when[32];
        FormatRatio(ratio, sizeof ratio, input.packed.data.size(), input.packed.originalSize);
        snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (input.dosDate >> 9),
                 (input.dosDate >> 5) & 15u, input.dosDate & 31u, input.dosTime >> 11u,
                 (input.dosTime >> 5) & 63u, (input.dosTime & 31u) * 2u);
        printf("-lh%c-  %10zu %10u %6s %04X  %s  %s\n", input.packed.method,
               input.packed.data.size(), input.packed.originalSize, ratio, input.packed.crc,
               when, input.display.c_str());
        totalPacked += input.packed.data.size();
    }
    char ratio[16];
    FormatRatio(ratio, sizeof ratio, totalPacked, totalBytes);
    printf("%-6s %10llu %10llu %6s %-4s  %-19s  %zu file%s -> %s\n", "total",
           static_cast<unsigned long long>(totalPacked),
           static_cast<unsigned long long>(totalBytes), ratio, "", "", inputs.size(),
           inputs.size() == 1 ? "" : "s", output);
    if (verbose) {
        char speed[32];
        FormatSpeed(speed, sizeof speed, totalBytes, compressed - started);
        printf("compressed in %.3f s (%s, %u job%s), written in %.3f s\n", compressed - started,
               speed, workerCount, workerCount == 1 ? "" : "s", finishedAt - compressed);
    }
    return EXIT_OK;
}
