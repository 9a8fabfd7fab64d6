// The pack verb: files in; a setup (stub, archive, end marker) or a bare archive out.
#include "tools/pack.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>

#include "archive/archive.h"
#include "tools/commands.h"
#include "tools/listing.h"
#include "archive/names.h"
#include "tools/options.h"
#include "tools/output_file.h"
#include "tools/pack_brand_options.h"
#include "tools/seal.h"
#include "tools/terminal.h"

namespace {

const char PACK_HELP[] =
    "usage: vorpanex pack [options] -o OUT FILE|DIR...\n"
    "\n"
    "Builds a setup: the stub padded to " ARCHIVE_OFFSET_TEXT
    " bytes, an LHA archive of the files, and\n"
    "the end marker. A FILE becomes one member at the top of the archive. A DIR\n"
    "contributes what is inside it (not its own name): its files sorted by name, then\n"
    "its subfolders sorted by name, each the same way; an empty folder becomes a\n"
    "folder entry (\"-lhd-\"). Members keep the order of the FILEs and DIRs given.\n"
    "Folders are stored as other LHA archivers store them (level-1 headers with a\n"
    "directory extended header). The top of the archive must hold SETUP32.EXE or\n"
    "SETUP.EXE, the program that the setup starts. Every file and folder name must be\n"
    "a valid Windows name, names must differ in more than case, and each member's path\n"
    "(folders and name) may have at most 154 bytes, so that it fits below the setup's\n"
    "work directory (Windows paths end at 260 characters; 100 are left for the work\n"
    "directory, such as C:\\Users\\NAME\\AppData\\Local\\Temp\\ZEB1A2.tmp).\n"
    "A member holds at most 4 GiB - 1 bytes; a setup at most 2147483647 bytes (the\n"
    "stub reads its file through 32-bit signed offsets; a bare archive has no limit).\n"
    "Members are packed as streams: memory stays under about 200 MB per job (250 MB\n"
    "with --best) whatever their size.\n"
    "\n"
    "pack seals the stub: it records the archive's SHA-256 and length, and the names'\n"
    "code page (--codepage), in the stub's bytes, where a signature made afterwards\n"
    "covers them. The setup runs only the archive it was packed with; list shows the\n"
    "seal, test checks it, and list, test and extract read the names in its code page.\n"
    "\n"
    "options:\n"
    "  -o, --output=OUT   the file to write; \"-\" writes to standard output. OUT is\n"
    "                     written as a temporary file beside it and renamed over it\n"
    "                     when complete: a failed or interrupted pack leaves an\n"
    "                     existing OUT unchanged and no temporary file behind. A\n"
    "                     symbolic link at OUT stays and the file it names is replaced;\n"
    "                     a device, folder or other non-regular file is refused.\n"
    "  -m, --method=M     lh7 (default, 64 KiB window), lh6 (32 KiB window), lh5\n"
    "                     (8 KiB window) or lh0 (stored); a member that would not\n"
    "                     shrink is stored. With a --stub from before lh7 the\n"
    "                     default is lh6, and -m lh7 is refused\n"
    "      --best         slower, smaller: optimal parsing instead of lazy matching\n"
    "      --stub=FILE    the stub to put in front instead of the built-in one: a\n"
    "                     Windows executable (MZ and PE headers) of at most "
    ARCHIVE_OFFSET_TEXT " bytes\n"
    "      --icon=FILE    the setup's icon, from an .ico file: its best 32x32 and 16x16\n"
    "                     images (bitmaps at 1, 16 or 24 bits per pixel converted to\n"
    "                     32, PNG kept as PNG), then a 48x48 one where room is left;\n"
    "                     pack says which images it took and left out. The progress\n"
    "                     window shows it too\n"
    "      --title=TEXT   the progress window's caption (instead of \"Setup is\n"
    "                     Self-Extracting\"), at most 255 characters\n"
    "      --version-info=KEY=VALUE\n"
    "                     a version string of the setup (repeatable); KEY is one of\n"
    "                     CompanyName, ProductName, FileDescription, FileVersion,\n"
    "                     ProductVersion, LegalCopyright, OriginalFilename,\n"
    "                     InternalName, Comments. FileVersion and ProductVersion are\n"
    "                     a.b.c.d (1 to 4 numbers) and set the numeric version too;\n"
    "                     keys not given keep the stub's values\n"
    "      --version-language=LANG\n"
    "                     the language of the version strings, four hex digits:\n"
    "                     0409 (English, United States; the default when a\n"
    "                     --version-info is given), 0411 (Japanese), 0407 (German)...\n"
    "      --execution-level=LEVEL\n"
    "                     asInvoker, highestAvailable (the stub's own) or\n"
    "                     requireAdministrator: the rights the setup asks Windows for.\n"
    "                     A branded stub must still fit " ARCHIVE_OFFSET_TEXT
    " bytes, or nothing is\n"
    "                     written; --stub and these options combine.\n"
    "      --archive-only write a bare archive without a stub\n"
    "      --no-setup     allow an archive without SETUP32.EXE or SETUP.EXE\n"
    "      --flat         refuse folders inside a DIR: members are its files only\n"
    "      --exclude=PATTERN\n"
    "                     leave out the files and folders (with what they hold) whose\n"
    "                     path inside the DIR, or any tail of it after a '/', matches\n"
    "                     the shell pattern, as tar's --exclude: '*.bak', '.DS_Store',\n"
    "                     'docs/drafts'; '*' matches '/' too; a pattern ending in '/'\n"
    "                     matches folders only. Repeatable. A FILE given is matched by\n"
    "                     its name.\n"
    "      --exclude-vcs  leave out version control files and folders: .git,\n"
    "                     .gitignore, .gitattributes, .gitmodules, .svn, .hg, .hgignore,\n"
    "                     .hgtags, .bzr, .bzrignore, .bzrtags, CVS, .cvsignore, RCS,\n"
    "                     SCCS, _darcs, .arch-ids, {arch}, =RELEASE-ID, =meta-update,\n"
    "                     =update\n"
    "      --follow-links pack what every symbolic link inside a DIR leads to. Without\n"
    "                     it a link whose target lies inside the DIR is packed as that\n"
    "                     target, and one that leads outside the DIR, or to nothing, is\n"
    "                     refused by its name (so that nothing from outside the payload\n"
    "                     ends up in a setup). A FILE or DIR named on the command line\n"
    "                     is always taken as what it leads to.\n"
    "      --codepage=N   convert UTF-8 file names to code page 932 (Japanese) or 1252\n"
    "                     (Western); without it names must be plain ASCII\n"
    "      --mtime=WHEN   one time for every member instead of the files' own:\n"
    "                       SECONDS or @SECONDS  since 1970-01-01 UTC, as UTC\n"
    "                       YYYY-MM-DDTHH:MM:SSZ (or +HH:MM, -HH:MM)  converted to UTC\n"
    "                       YYYY-MM-DD[ HH:MM[:SS]]  taken as written\n"
    "                     A date that does not exist (2024-02-31) or lies outside\n"
    "                     1980..2107 (what DOS times cover) is refused.\n"
    "  -j, --jobs=N       members compressed at once (default: the number of CPUs)\n"
    "  -q, --quiet        print errors only\n"
    "  -v, --verbose      also print the time taken and the speed\n"
    "  -h, --help         this text\n"
    "\n"
    "Times: members carry DOS times (local wall-clock time, 2-second steps), which the\n"
    "setup restores as the local time of the machine it runs on. Without --mtime, the\n"
    "environment variable SOURCE_DATE_EPOCH (seconds since 1970) sets every member's\n"
    "time, as UTC, so the same inputs give the same bytes in every time zone (times\n"
    "before 1980 or after 2107 are clamped). Without either, each file's modification\n"
    "time is taken in this machine's local time zone (TZ).\n"
    "\n"
    "The same inputs, options and times always give the same bytes.\n"
    "After writing, pack lists the members as `vorpanex list` does (on standard error\n"
    "when OUT is \"-\").\n"
    "\n"
    "exit status: 0 written; 1 failed (an existing OUT is left unchanged); 2 usage\n"
    "error; 130 interrupted (Ctrl-C)\n"
    "\n"
    "examples:\n"
    "  vorpanex pack -o setup.exe payload/\n"
    "  vorpanex pack --best -j2 -o setup.exe payload/\n"
    "  vorpanex pack --exclude-vcs --exclude .DS_Store -o setup.exe payload/\n"
    "  SOURCE_DATE_EPOCH=1700000000 vorpanex pack -o setup.exe payload/\n"
    "  vorpanex pack -m lh0 --archive-only --no-setup -o files.lzh README.TXT DATA.BIN\n"
    "  vorpanex pack --codepage=932 --mtime=2024-04-01T09:00:00+09:00 -o - payload/ | ...\n";
// The limits PACK_HELP states in words.
static_assert(MAX_MEMBER_PATH == 154 && PATH_BUFFER_SIZE == 260 && WORK_DIRECTORY_BUDGET == 100 &&
                  STUB_FILE_LIMIT == 2147483647,
              "PACK_HELP states these numbers");

enum PackOptionId {
    OPTION_BEST = 256,
    OPTION_STUB,
    OPTION_ARCHIVE_ONLY,
    OPTION_NO_SETUP,
    OPTION_CODEPAGE,
    OPTION_MTIME,
    OPTION_ICON,
    OPTION_VERSION_INFO,
    OPTION_EXECUTION_LEVEL,
    OPTION_FLAT,
    OPTION_TITLE,
    OPTION_VERSION_LANGUAGE,
    OPTION_EXCLUDE,
    OPTION_EXCLUDE_VCS,
    OPTION_FOLLOW_LINKS,
};

// Where spill buffers make their temporary files: beside OUT (whose file system takes
// the setup anyway), or in TMPDIR when writing to standard output.
std::string SpillFolder(const std::string& output) {
    if (output == "-") {
        return sys::TemporaryFolder();
    }
    std::string target;
    if (!FollowLinks(output, target)) target = output;
    const size_t slash = target.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : target.substr(0, slash);
}

int Failure(const std::string& message) {
    ProgressDone();
    fprintf(stderr, "vorpanex pack: %s\n", message.c_str());
    return EXIT_BAD_ARCHIVE;
}

// A PE image starts with an MZ header whose 32-bit field at 0x3C is the offset of
// "PE\0\0"; the stub is a 32-bit one (machine 0x14C follows the signature).
std::string CheckStub(const std::string& path, const std::vector<uint8_t>& stub) {
    char size[96];
    if (stub.size() > ARCHIVE_OFFSET) {
        snprintf(size, sizeof size, "a file of %zu bytes; a stub has at most %u", stub.size(),
                 ARCHIVE_OFFSET);
        return path + ": not a usable stub: " + size;
    }
    if (stub.size() < 2 || stub[0] != 'M' || stub[1] != 'Z') {
        return path + ": not a Windows executable (no MZ header)";
    }
    if (stub.size() < 0x40) return path + ": not a Windows executable (cut short)";
    const uint32_t pe = stub[0x3C] | stub[0x3D] << 8 | stub[0x3E] << 16 |
                        static_cast<uint32_t>(stub[0x3F]) << 24;
    if (pe > stub.size() - 6 || memcmp(&stub[pe], "PE\0\0", 4) != 0) {
        return path + ": not a Windows executable (an MZ header without a PE header)";
    }
    if ((stub[pe + 4] | stub[pe + 5] << 8) != 0x14C) {
        return path + ": not a 32-bit (i386) Windows executable, as the stub must be";
    }
    return "";
}

}  // namespace

int ParsePackOptions(int argc, char** argv, PackOptions& options, bool& done) {
    done = false;
    const std::vector<OptionSpec> specs = {
        {"output", 'o', true},        {"method", 'm', true},
        {"jobs", 'j', true},          {"verbose", 'v', false},
        {"quiet", 'q', false},        {"best", OPTION_BEST, false},
        {"stub", OPTION_STUB, true},  {"archive-only", OPTION_ARCHIVE_ONLY, false},
        {"no-setup", OPTION_NO_SETUP, false},
        {"codepage", OPTION_CODEPAGE, true},
        {"mtime", OPTION_MTIME, true},
        {"icon", OPTION_ICON, true},
        {"version-info", OPTION_VERSION_INFO, true},
        {"execution-level", OPTION_EXECUTION_LEVEL, true},
        {"flat", OPTION_FLAT, false},
        {"title", OPTION_TITLE, true},
        {"version-language", OPTION_VERSION_LANGUAGE, true},
        {"exclude", OPTION_EXCLUDE, true},
        {"exclude-vcs", OPTION_EXCLUDE_VCS, false},
        {"follow-links", OPTION_FOLLOW_LINKS, false},
    };
    bool haveMtime = false;
    auto handle = [&](int id, const char* value) -> std::string {
        uint64_t number = 0;
        switch (id) {
            case 'o': options.output = sys::PortablePath(value); break;
            case 'm':
                options.methodGiven = true;
                if (strcmp(value, "lh7") == 0 || strcmp(value, "-lh7-") == 0) {
                    options.method = METHOD_LH7;
                } else if (strcmp(value, "lh6") == 0 || strcmp(value, "-lh6-") == 0) {
                    options.method = METHOD_LH6;
                } else if (strcmp(value, "lh5") == 0 || strcmp(value, "-lh5-") == 0) {
                    options.method = METHOD_LH5;
                } else if (strcmp(value, "lh0") == 0 || strcmp(value, "-lh0-") == 0) {
                    options.method = METHOD_STORED;
                } else {
                    return std::string("--method ") + value + ": unknown; use lh7, lh6, lh5 or lh0";
                }
                break;
            case 'j':
                if (!ParseWholeNumber(value, 1, 1024, number)) {
                    return std::string("--jobs ") + value + ": not a whole number from 1 to 1024";
                }
                options.jobs = static_cast<unsigned>(number);
                break;
            case 'v': options.verbose = true; break;
            case 'q': quietOutput = true; break;
            case OPTION_BEST: options.best = true; break;
            case OPTION_STUB: options.stubPath = value; break;
            case OPTION_ARCHIVE_ONLY: options.archiveOnly = true; break;
            case OPTION_NO_SETUP: options.noSetup = true; break;
            case OPTION_FLAT: options.flat = true; break;
            case OPTION_EXCLUDE:
                if (*value == 0) return "--exclude needs a pattern";
                options.excludes.push_back(sys::PortablePath(value));
                break;
            case OPTION_EXCLUDE_VCS: options.excludeVcs = true; break;
            case OPTION_FOLLOW_LINKS: options.followLinks = true; break;
            case OPTION_CODEPAGE: return ParseCodePage(value, options.codePage);
            case OPTION_MTIME:
                haveMtime = true;
                options.haveFixedTime = true;
                return ParseFixedTime(value, options.fixedTime);
            case OPTION_ICON:
                if (*value == 0) return "--icon needs an .ico file";
                options.branding.iconPath = value;
                break;
            case OPTION_VERSION_INFO: {
                std::string key, text;
                const std::string problem = CheckVersionArgument(value, key, text);
                if (!problem.empty()) return "--version-info " + problem;
                for (const auto& given : options.branding.versionInfo) {
                    if (given.first == key) return "--version-info " + key + " given twice";
                }
                options.branding.versionInfo.emplace_back(key, text);
                break;
            }
            case OPTION_EXECUTION_LEVEL:
                if (!IsExecutionLevel(value)) {
                    return std::string("--execution-level ") + value + ": use asInvoker, "
                           "highestAvailable or requireAdministrator";
                }
                options.branding.executionLevel = value;
                break;
            case OPTION_TITLE: {
                const std::string problem = CheckTitle(value);
                if (!problem.empty()) return problem;
                options.branding.title = value;
                break;
            }
            case OPTION_VERSION_LANGUAGE: {
                unsigned language = 0;
                const std::string problem = ParseVersionLanguage(value, language);
                if (!problem.empty()) return problem;
                options.branding.versionLanguage = static_cast<int>(language);
                break;
            }
        }
        return "";
    };
    bool help = false;
    if (ParseOptions(argc, argv, specs, handle, options.inputs, help) != 0) {
        done = true;
        return EXIT_USAGE;
    }
    if (help) {
        done = true;
        fputs(PACK_HELP, stdout);
        return EXIT_OK;
    }
    done = true;
    if (options.output.empty()) return UsageError("pack", "missing -o OUT");
    if (options.inputs.empty()) return UsageError("pack", "no FILE or DIR to pack");
    for (std::string& input : options.inputs) input = sys::PortablePath(input);
    if (options.archiveOnly && !options.stubPath.empty()) {
        return UsageError("pack", "--stub and --archive-only exclude each other");
    }
    if (options.archiveOnly && !options.branding.Empty()) {
        return UsageError("pack", "--icon, --title, --version-info, --version-language and "
                          "--execution-level brand the stub, which --archive-only leaves out");
    }
    if (!haveMtime) {
        const char* epoch = getenv("SOURCE_DATE_EPOCH");
        if (epoch != nullptr && *epoch != 0) {
            bool clamped = false;
            const std::string error = ParseSourceDateEpoch(epoch, options.fixedTime, clamped);
            if (!error.empty()) {
                fprintf(stderr, "vorpanex pack: %s\n", error.c_str());
                return EXIT_BAD_ARCHIVE;
            }
            options.haveFixedTime = true;
            if (clamped && !quietOutput) {
                fprintf(stderr, "vorpanex pack: warning: SOURCE_DATE_EPOCH=%s lies outside "
                        "1980..2107; clamped\n", epoch);
            }
        }
    }
    done = false;
    return 0;
}

std::string LoadStub(const PackOptions& options, std::vector<uint8_t>& stub) {
    stub.clear();
    if (options.archiveOnly) return "";
    if (!options.stubPath.empty()) {
        std::string error;
        if (!ReadWholeFile(options.stubPath, stub, error)) return error;
        return CheckStub(options.stubPath, stub);
    }
    if (embeddedStubSize == 0) {
        return "this vorpanex was built without a stub; pass --stub FILE, or --archive-only "
               "for a bare archive";
    }
    stub.assign(embeddedStub, embeddedStub + embeddedStubSize);
    return "";
}

std::string FitMethodToStub(PackOptions& options, const std::vector<uint8_t>& stub) {
    if (options.archiveOnly || options.method != METHOD_LH7 ||
        StubReadsLh7(stub.data(), stub.size())) {
        return "";
    }
    const std::string shown = EscapeForTerminal(options.stubPath);
    if (options.methodGiven) {
        return "--stub " + shown + ": this stub extracts -lh5- and -lh6- only, not -lh7-; "
               "use -m lh6, or a newer stub";
    }
    options.method = METHOD_LH6;
    if (!quietOutput) {
        fprintf(options.output == "-" ? stderr : stdout,
                "stub %s: extracts no -lh7-: packing with -lh6-\n", shown.c_str());
    }
    return "";
}

std::string BrandLoadedStub(const PackOptions& options, std::vector<uint8_t>& stub) {
    if (options.archiveOnly || options.branding.Empty()) return "";
    Branding branding = options.branding;
    std::string error;
    if (!branding.iconPath.empty() && !ReadWholeFile(branding.iconPath, branding.icon, error)) {
        return EscapeForTerminal(error);
    }
    // From here on the file name is only shown.
    branding.iconPath = EscapeForTerminal(branding.iconPath);
    std::string iconReport;
    if (!BrandStub(stub, branding, ARCHIVE_OFFSET, error, &iconReport)) return error;
    if (!iconReport.empty() && !quietOutput) {
        fprintf(options.output == "-" ? stderr : stdout, "icon %s: %s\n",
                branding.iconPath.c_str(), iconReport.c_str());
    }
    return "";
}

namespace {

std::vector<uint8_t> HeaderOf(const PackInput& input) {
    return BuildMemberHeader(input.name, input.packed, input.packedSize, input.stamp.time,
                             input.stamp.date, input.folderField);
}

}  // namespace

uint64_t SetupSize(const PackOptions& options, const std::vector<PackInput>& inputs) {
    uint64_t size = options.archiveOnly ? 0 : ARCHIVE_OFFSET;
    for (const PackInput& input : inputs) size += HeaderOf(input).size() + input.packedSize;
    return size + 1;  // the end marker
}

std::string CheckSetupSize(const PackOptions& options, uint64_t size) {
    if (options.archiveOnly || size <= STUB_FILE_LIMIT) return "";
    char text[320];
    snprintf(text, sizeof text,
             "the setup would be %llu bytes; the stub reads at most %u bytes (2 GiB - 1: its "
             "file offsets are 32-bit signed). Nothing written; pack fewer files into it, or "
             "write a bare archive with --archive-only",
             static_cast<unsigned long long>(size), STUB_FILE_LIMIT);
    return text;
}

// Records the archive's length, SHA-256 and names' code page in the stub's seal, so
// that the setup runs only this archive. A stub without a seal record (an older one
// given with --stub) gets a note and runs whatever archive follows it. The packed
// bytes are read once more for the digest, from where they wait.
std::string SealStub(const PackOptions& options, std::vector<uint8_t>& head,
                     const std::vector<PackInput>& inputs) {
    Sha256 hash;
    Sha256Begin(&hash);
    uint64_t length = 1;
    auto add = [&](const uint8_t* data, size_t size) {
        Sha256Add(&hash, data, static_cast<uint32_t>(size));
        return true;
    };
    for (const PackInput& input : inputs) {
        const std::vector<uint8_t> header = HeaderOf(input);
        add(header.data(), header.size());
        const std::string error = ReadPackedData(input, add);
        if (!error.empty()) return error;
        length += header.size() + input.packedSize;
    }
    const uint8_t endMarker = 0;
    Sha256Add(&hash, &endMarker, 1);
    uint8_t digest[SHA256_SIZE];
    Sha256End(&hash, digest);
    const char* problem = nullptr;
    if (length > 0xFFFFFFFFu - ARCHIVE_OFFSET) {
        problem = "the archive is too large to be sealed";
    } else if (!WriteSeal(head, static_cast<uint32_t>(length), options.codePage, digest)) {
        problem = "the stub has no seal record (a stub from before seals)";
    }
    if (problem != nullptr && !quietOutput) {
        fprintf(stderr, "vorpanex pack: note: %s: the setup will not check that its archive "
                "is the one packed with it, nor know the names' code page\n", problem);
    }
    return "";
}

std::string WriteSetup(const PackOptions& options, const std::vector<uint8_t>& stub,
                       const std::vector<PackInput>& inputs) {
    std::string error = CheckSetupSize(options, SetupSize(options, inputs));
    if (!error.empty()) return error;
    OutputFile out;
    error = out.Open(options.output, !options.archiveOnly);
    if (!error.empty()) return error;
    std::vector<uint8_t> head = stub;
    if (!options.archiveOnly) {
        head.resize(ARCHIVE_OFFSET, 0);
        error = SealStub(options, head, inputs);
        if (!error.empty()) return error;
    }
    if (!out.Write(head.data(), head.size())) return out.WriteError();
    bool written = true;
    auto write = [&](const uint8_t* data, size_t size) {
        written = out.Write(data, size);
        return written;
    };
    for (const PackInput& input : inputs) {
        const std::vector<uint8_t> header = HeaderOf(input);
        if (!out.Write(header.data(), header.size())) return out.WriteError();
        error = ReadPackedData(input, write);
        if (!written) return out.WriteError();
        if (!error.empty()) return error;
        if (input.spill) input.spill->Clear();
    }
    const uint8_t endMarker = 0;
    if (!out.Write(&endMarker, 1)) return out.WriteError();
    return out.Commit();
}

namespace {

int PackSteps(int argc, char** argv) {
    PackOptions options;
    bool done = false;
    const int parsed = ParsePackOptions(argc, argv, options, done);
    if (done) return parsed;

    std::vector<uint8_t> stub;
    std::string error = LoadStub(options, stub);
    if (error.empty()) error = FitMethodToStub(options, stub);
    if (error.empty()) error = BrandLoadedStub(options, stub);
    if (!error.empty()) return Failure(error);
    std::vector<PackInput> inputs;
    error = CollectMembers(options, inputs);
    if (!error.empty()) return Failure(error);
    // Stored members have their size now: a setup too large for the stub is refused
    // before any file is read.
    if (options.method == METHOD_STORED) {
        for (PackInput& input : inputs) {
            input.packed.method = input.isFolder ? METHOD_FOLDER : METHOD_STORED;
            input.packedSize = input.isFolder ? 0 : static_cast<uint32_t>(input.status.st_size);
        }
        error = CheckSetupSize(options, SetupSize(options, inputs));
        if (!error.empty()) return Failure(error);
    }
    SpillBuffer::SetFolder(SpillFolder(options.output));
    double compressSeconds = 0;
    unsigned workers = 0;
    error = CompressMembers(options, inputs, compressSeconds, workers);
    if (!error.empty()) return Failure(error);
    const double writeStarted = NowSeconds();
    error = WriteSetup(options, stub, inputs);
    if (!error.empty()) return Failure(error);
    const double writeSeconds = NowSeconds() - writeStarted;
    if (quietOutput) return EXIT_OK;

    // The summary, as list shows the archive.
    ListedArchive listed;
    listed.path = options.output;
    uint64_t offset = options.archiveOnly ? 0 : ARCHIVE_OFFSET;
    listed.archiveOffset = offset;
    uint64_t totalBytes = 0;
    for (const PackInput& input : inputs) {
        ListedMember member;
        member.name = input.DisplayPath();
        member.rawName = input.archivePath;
        member.storedName = input.folderField + input.name;
        member.directory = input.isFolder;
        member.method = std::string("-lh") + input.packed.method + "-";
        member.originalSize = input.packed.originalSize;
        member.crc = input.packed.crc;
        member.dosDate = input.stamp.date;
        member.dosTime = input.stamp.time;
        member.headerOffset = offset;
        const size_t headerSize = HeaderOf(input).size();
        member.packedSize = input.packedSize;
        offset += headerSize + input.packedSize;
        totalBytes += member.originalSize;
        listed.members.push_back(member);
    }
    FILE* summary = options.output == "-" ? stderr : stdout;
    PrintPlainListing(summary, listed, ", " + GroupedNumber(offset + 1) + " bytes -> " +
                      options.output);  // the end marker follows the last member
    if (options.verbose) {
        char speed[32];
        FormatSpeed(speed, sizeof speed, totalBytes, compressSeconds);
        fprintf(summary, "compressed in %.3f s (%s, %u job%s), written in %.3f s\n",
                compressSeconds, speed, workers, workers == 1 ? "" : "s", writeSeconds);
    }
    return EXIT_OK;
}

}  // namespace

int PackCommand(int argc, char** argv) {
    // Memory that runs out is an error like any other: the temporary OUT is removed as
    // the steps unwind, and an existing OUT stays as it was.
    try {
        return PackSteps(argc, argv);
    } catch (const std::bad_alloc&) {
        return Failure("out of memory; nothing written");
    }
}
