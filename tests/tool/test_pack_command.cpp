// The pack verb from its command line: the written setup, reproducibility, names,
// and the errors that must stop it without leaving anything at OUT.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "archive/archive.h"
#include "extract/extract.h"
#include "support.h"
#include "tools/commands.h"
#include "archive/names.h"
#include "pe/brand.h"
#include "tools/seal.h"

namespace {

struct Payload {
    TemporaryDirectory directory;
    std::string in;
    Payload() : in(directory.Join("in")) {
        mkdir(in.c_str(), 0755);
        WriteFile(in + "/SETUP.EXE", TextBytes(5000, 1));
        WriteFile(in + "/data.bin", RandomBytes(3000, 2));
        WriteFile(in + "/readme.txt", TextBytes(70000, 3));
        WriteFile(directory.Join("stub.bin"), FakeStub(1000));
    }
};

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Nothing but OUT's own entries (or none) in its directory.
int EntriesIn(const std::string& path) {
    int count = 0;
    DIR* directory = opendir(path.c_str());
    while (struct dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(directory);
    return count;
}

TEST(PackCommand, WritesStubPaddingArchiveAndEndMarker) {
    Payload payload;
    const std::string out = payload.directory.Join("setup.exe");
    ASSERT_EQ(EXIT_OK, RunPack({"--stub", payload.directory.Join("stub.bin"), "--mtime",
                                "2001-02-03 04:05:06", "-o", out, payload.in}));
    const std::vector<uint8_t> setup = ReadFile(out);
    ASSERT_GT(setup.size(), ARCHIVE_OFFSET + 10);
    EXPECT_EQ('S', setup[999]);
    EXPECT_EQ(0, setup[1000]);
    EXPECT_EQ(0, setup[ARCHIVE_OFFSET - 1]);
    EXPECT_EQ(0, setup.back());
    // Members in name order, with the fixed time.
    EXPECT_EQ(0, memcmp(&setup[ARCHIVE_OFFSET + 22], "SETUP.EXE", 9));
    EXPECT_EQ(0x20A3, setup[ARCHIVE_OFFSET + 15] | setup[ARCHIVE_OFFSET + 16] << 8);  // 04:05:06
    EXPECT_EQ(0x2A43, setup[ARCHIVE_OFFSET + 17] | setup[ARCHIVE_OFFSET + 18] << 8);  // 2001-02-03
    const std::string extracted = payload.directory.Join("x");
    mkdir(extracted.c_str(), 0755);
    ASSERT_EQ(1, ExtractArchive(nullptr, out.c_str(), extracted.c_str()));
    for (const char* name : {"SETUP.EXE", "data.bin", "readme.txt"}) {
        EXPECT_TRUE(ReadFile(payload.in + "/" + name) == ReadFile(extracted + "/" + name))
            << name;
    }
}

TEST(PackCommand, SameInputsGiveTheSameBytes) {
    Payload payload;
    const std::string first = payload.directory.Join("one.lzh");
    const std::string second = payload.directory.Join("two.lzh");
    for (const std::vector<std::string>& method : {std::vector<std::string>{"-m", "lh5"},
                                                   std::vector<std::string>{"--best"}}) {
        std::vector<std::string> arguments = {"--archive-only", "-o", first, payload.in};
        arguments.insert(arguments.begin(), method.begin(), method.end());
        ASSERT_EQ(EXIT_OK, RunPack(arguments));
        arguments[arguments.size() - 2] = second;
        arguments.insert(arguments.begin(), {"-j", "1"});
        ASSERT_EQ(EXIT_OK, RunPack(arguments));
        EXPECT_TRUE(ReadFile(first) == ReadFile(second));
    }
    // Files given one by one keep the order given.
    ASSERT_EQ(EXIT_OK, RunPack({"--archive-only", "-m", "lh0", "-o", first,
                                payload.in + "/readme.txt", payload.in + "/SETUP.EXE"}));
    const std::vector<uint8_t> archive = ReadFile(first);
    EXPECT_EQ(0, memcmp(&archive[22], "readme.txt", 10));
    EXPECT_EQ('0', archive[5]);
}

TEST(PackCommand, RefusesBadInputsAndLeavesNothing) {
    struct Case {
        const char* what;
        std::function<void(const std::string& in)> prepare;
        std::vector<std::string> extra;
        int status;
    } cases[] = {
        {"subdirectory with --flat",
         [](const std::string& in) { mkdir((in + "/sub").c_str(), 0755); }, {"--flat"}, 1},
        {"names differing in case",
         [](const std::string& in) { WriteFile(in + "/DATA.BIN", {1}); }, {}, 1},
        {"device name", [](const std::string& in) { WriteFile(in + "/con.txt", {1}); }, {}, 1},
        {"colon in name", [](const std::string& in) { WriteFile(in + "/a:b", {1}); }, {}, 1},
        {"trailing dot", [](const std::string& in) { WriteFile(in + "/end.", {1}); }, {}, 1},
        {"non-ASCII without --codepage",
         [](const std::string& in) { WriteFile(in + "/caf\xC3\xA9.txt", {1}); }, {}, 1},
        {"no setup program",
         [](const std::string& in) { unlink((in + "/SETUP.EXE").c_str()); }, {}, 1},
        {"name too long",
         [](const std::string& in) { WriteFile(in + "/" + std::string(231, 'n'), {1}); }, {}, 1},
        {"unknown option", [](const std::string&) {}, {"--fast"}, 2},
        {"unknown method", [](const std::string&) {}, {"-m", "lh4"}, 2},
        {"unknown version key", [](const std::string&) {}, {"--version-info", "Vendor=x"}, 2},
        {"version not a.b.c.d", [](const std::string&) {}, {"--version-info", "FileVersion=2 beta"},
         2},
        {"unknown execution level", [](const std::string&) {}, {"--execution-level", "admin"}, 2},
    };
    for (const Case& c : cases) {
        Payload payload;
        c.prepare(payload.in);
        const std::string out = payload.directory.Join("setup.exe");
        std::vector<std::string> arguments = {"--stub", payload.directory.Join("stub.bin"),
                                              "-o", out, payload.in};
        arguments.insert(arguments.begin(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(c.status, RunPack(arguments)) << c.what;
        EXPECT_FALSE(Exists(out)) << c.what;
        EXPECT_EQ(2, EntriesIn(payload.directory.Path())) << c.what;  // in/ and stub.bin
    }
}

TEST(PackCommand, UnwritableOutputLeavesNoTemporaryFile) {
    Payload payload;
    // OUT is a directory: the temporary file is written, the rename fails.
    const std::string out = payload.directory.Join("taken");
    mkdir(out.c_str(), 0755);
    EXPECT_EQ(1, RunPack({"--archive-only", "-o", out, payload.in}));
    EXPECT_EQ(3, EntriesIn(payload.directory.Path()));
    EXPECT_EQ(1, RunPack({"--archive-only", "-o", payload.directory.Join("no/such/dir/x.exe"),
                          payload.in}));
    EXPECT_EQ(1, RunPack({"-o", payload.directory.Join("x.exe"), payload.in}))
        << "built without a stub, and neither --stub nor --archive-only";
    EXPECT_EQ(3, EntriesIn(payload.directory.Path()));
}

// Branding goes through the same stub bytes that an unbranded pack writes unchanged but
// for its seal (and so its checksum); an icon that does not fit stops pack before
// anything is written.
TEST(PackCommand, BrandsTheStub) {
    const std::string stubPath = VORPANEX_TEST_STUB;
    if (stubPath.empty() || !Exists(stubPath)) GTEST_SKIP() << "no built stub";
    Payload payload;
    const std::vector<uint8_t> stub = ReadFile(stubPath);
    const std::string plain = payload.directory.Join("plain.exe");
    ASSERT_EQ(EXIT_OK, RunPack({"--stub", stubPath, "-o", plain, payload.in}));
    const std::vector<uint8_t> unbranded = ReadFile(plain);
    std::vector<uint8_t> sealed(unbranded.begin(), unbranded.begin() + ARCHIVE_OFFSET);
    const long seal = FindSeal(sealed.data(), sealed.size());
    ASSERT_GE(seal, 0) << "the built stub has no seal record";
    std::copy(stub.begin() + seal, stub.begin() + seal + SEAL_SIZE, sealed.begin() + seal);
    const size_t checksum = sealed[0x3C] + (sealed[0x3D] << 8) + 88;
    std::copy(stub.begin() + checksum, stub.begin() + checksum + 4, sealed.begin() + checksum);
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), sealed.begin())) << "stub changed";

    const std::string branded = payload.directory.Join("branded.exe");
    ASSERT_EQ(EXIT_OK, RunPack({"--stub", stubPath, "--version-info", "CompanyName=Hanabi",
                                "--execution-level", "requireAdministrator", "-o", branded,
                                payload.in}));
    const std::vector<uint8_t> setup = ReadFile(branded);
    StubDescription description;
    std::string error;
    ASSERT_TRUE(DescribeStub(std::vector<uint8_t>(setup.begin(), setup.begin() + ARCHIVE_OFFSET),
                             description, error)) << error;
    EXPECT_EQ("requireAdministrator", description.executionLevel);
    EXPECT_TRUE(std::equal(setup.begin() + ARCHIVE_OFFSET, setup.end(),
                           unbranded.begin() + ARCHIVE_OFFSET, unbranded.end()))
        << "the archive changed";

    // 40 KB of PNG cannot fit beside the stub's code.
    std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0, 22, 0, 0, 0,
                                0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D',
                                'R', 0, 0, 0, 32, 0, 0, 0, 32, 8, 6, 0, 0, 0};
    ico.resize(ico.size() + 40000, 0x77);
    const uint32_t bytes = static_cast<uint32_t>(ico.size() - 22);
    for (int k = 0; k < 4; ++k) ico[14 + k] = static_cast<uint8_t>(bytes >> 8 * k);
    WriteFile(payload.directory.Join("big.ico"), ico);
    const std::string refused = payload.directory.Join("refused.exe");
    EXPECT_EQ(EXIT_BAD_ARCHIVE, RunPack({"--stub", stubPath, "--icon", payload.directory.Join("big.ico"),
                                         "-o", refused, payload.in}));
    EXPECT_FALSE(Exists(refused));
    EXPECT_EQ(5, EntriesIn(payload.directory.Path()));  // in/, stub.bin, 2 setups, big.ico
}

TEST(PackCommand, NoSetupAndCodePages) {
    Payload payload;
    unlink((payload.in + "/SETUP.EXE").c_str());
    WriteFile(payload.in + "/caf\xC3\xA9\xE2\x82\xAC.txt", {1, 2, 3});
    const std::string out = payload.directory.Join("a.lzh");
    ASSERT_EQ(EXIT_OK, RunPack({"--archive-only", "--no-setup", "--codepage", "1252", "-o", out,
                                payload.in}));
    const std::vector<uint8_t> archive = ReadFile(out);
    EXPECT_EQ(0, memcmp(&archive[22], "caf\xE9\x80.txt", 9));
}

TEST(MemberNames, Conversion) {
    std::string name, error;
    EXPECT_TRUE(ConvertMemberName("SETUP.EXE", 0, name, error));
    EXPECT_EQ("SETUP.EXE", name);
    EXPECT_FALSE(ConvertMemberName("\xC3\xA9", 0, name, error));
    EXPECT_NE(std::string::npos, error.find("--codepage"));
    EXPECT_TRUE(ConvertMemberName("\xE2\x80\x9Cq\xE2\x80\x9D", 1252, name, error));
    EXPECT_EQ("\x93q\x94", name);
    EXPECT_FALSE(ConvertMemberName("\xE6\x97\xA5", 1252, name, error));  // no kanji in 1252
    EXPECT_TRUE(ConvertMemberName("\xE6\x97\xA5\xE6\x9C\xAC.txt", 932, name, error));  // 日本
    EXPECT_EQ("\x93\xFA\x96\x7B.txt", name);
    EXPECT_TRUE(ConvertMemberName("\xE8\xA1\xA8", 932, name, error));  // 表: trail byte 0x5C
    EXPECT_EQ("\x95\x5C", name);
    EXPECT_FALSE(ConvertMemberName("\xC3", 1252, name, error));  // cut UTF-8
    EXPECT_FALSE(ConvertMemberName(std::string(231, 'x'), 0, name, error));
    EXPECT_TRUE(ConvertMemberName(std::string(230, 'x'), 0, name, error));
}

// Pairs of names in a code page, and whether Windows takes them for one file (its own
// upper-casing of the UTF-16 names, asked under Wine).
TEST(MemberNames, CaseFoldingAsWindows) {
    struct Case {
        unsigned codePage;
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {0, "Setup.exe", "SETUP.EXE", true},
        {1252, "caf\xE9", "CAF\xC9", true},
        {1252, "\x9A", "\x8A", true},             // s with caron
        {1252, "\xFF", "\x9F", true},             // y with diaeresis
        {1252, "\x83", "\x83", true},             // f with hook: no upper case in 1252
        {1252, "\xDF", "SS", false},               // sharp s stays itself
        {1252, "\xB5", "\xB5", true},
        {932, "\x83\xBF", "\x83\x9F", true},      // Greek alpha, Alpha
        {932, "\x84\x70", "\x84\x40", true},      // Cyrillic a, A
        {932, "\x82\x81", "\x82\x60", true},      // fullwidth a, A
        {932, "\xFA\x40", "\x87\x54", true},      // small and capital roman numeral one
        {932, "\xEE\xEF", "\xFA\x40", true},      // the same small numeral twice
        {932, "\x83\x61", "\x83\x41", false},     // a trail byte 'a' is no letter
        {932, "\x83\x61x", "\x83\x61X", true},
        {932, "\x85\x40", "\x85\x41", true},      // no character: both KATAKANA MIDDLE DOT
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.same, FoldMemberName(c.a, c.codePage) == FoldMemberName(c.b, c.codePage))
            << c.codePage << " " << c.a << " " << c.b;
    }
}

// The one rule by which pack refuses and test fails a set of paths: files of one key
// clash, a file clashes with a folder of its key, folders never clash with folders.
TEST(MemberNames, ClashesAsWindowsMakesThem) {
    struct Case {
        const char* what;
        unsigned codePage;
        std::vector<std::string> paths;  // a trailing '/' marks a folder entry
        size_t fileWhereFolder;
        size_t sameFiles;
    } cases[] = {
        {"folders of one key", 1252, {"\xC9/", "\xE9/", "\xC9/x", "\xE9/y"}, SIZE_MAX, 0},
        {"file in a folder's place", 1252, {"\xC9/x", "\xE9"}, 1, 0},
        {"file, then a folder entry", 1252, {"\xE9", "\xC9/"}, 0, 0},
        {"Greek files", 932, {"\x83\xBF", "\x83\x9F", "\x83\xBF"}, SIZE_MAX, 2},
        {"Cyrillic folder above a file", 932, {"\x84\x70/x", "\x84\x40"}, 1, 0},
        {"s with caron in folders", 1252, {"\x9A/a", "\x8A/A"}, SIZE_MAX, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> paths;
        std::vector<bool> isFolder;
        for (const std::string& path : c.paths) {
            isFolder.push_back(path.back() == '/');
            paths.push_back(isFolder.back() ? path.substr(0, path.size() - 1) : path);
        }
        const WindowsNames names = JudgeWindowsNames(paths, isFolder, c.codePage);
        EXPECT_EQ(c.fileWhereFolder, names.fileWhereFolder) << c.what;
        EXPECT_EQ(c.sameFiles, names.sameFile.size()) << c.what;
    }
}

// What a name that has no character in its code page becomes on disk: what Windows'
// ANSI file functions make of it.
TEST(MemberNames, EveryNameConvertsAsWindowsConvertsIt) {
    const struct {
        unsigned codePage;
        const char* stored;
        const char* disk;
    } cases[] = {
        {1252, "\x81\x8D", "\xC2\x81\xC2\x8D"},
        {1252, "\x80", "\xE2\x82\xAC"},
        {932, "\x85\x40", "\xE3\x83\xBB"},
        {932, "x\x81", "x\xE3\x83\xBB"},             // a lead byte at the end
        {932, "\x80\xA0\xFD", "\xC2\x80\xEF\xA3\xB0\xEF\xA3\xB1"},
        {932, "\x95\x5C", "\xE8\xA1\xA8"},
        {0, "\x85\x40", "\x85\x40"},
    };
    for (const auto& c : cases) {
        std::string name, error;
        EXPECT_TRUE(MemberNameForDisk(c.stored, c.codePage, name, error)) << error;
        EXPECT_EQ(c.disk, name) << c.codePage << " " << c.stored;
    }
}

// A folder tree: members in the documented order, level-1 headers with the folder in a
// directory extended header, and through the core the same bytes and times back.
TEST(PackCommand, FolderTreeRoundTripsThroughTheCore) {
    TemporaryDirectory directory;
    const std::string in = directory.Join("in");
    for (const char* folder : {"", "/b", "/a", "/a/sub", "/a/empty", "/a/sub/deeper"}) {
        mkdir((in + folder).c_str(), 0755);
    }
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"SETUP.EXE", TextBytes(3000, 1)},   {"z.txt", {}},
        {"a/readme.txt", TextBytes(40000, 2)}, {"a/sub/data.bin", RandomBytes(5000, 3)},
        {"a/sub/deeper/x", TextBytes(10, 4)},  {"b/readme.txt", TextBytes(7, 5)},
    };
    struct tm local = {};
    local.tm_year = 124;
    local.tm_mon = 2;
    local.tm_mday = 9;
    local.tm_hour = 17;
    local.tm_min = 45;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    const time_t when = mktime(&local);
    for (const auto& file : files) {
        WriteFile(in + "/" + file.first, file.second);
        const struct timespec times[2] = {{when, 0}, {when, 0}};
        utimensat(AT_FDCWD, (in + "/" + file.first).c_str(), times, 0);
    }
    const std::string out = directory.Join("tree.lzh");
    ASSERT_EQ(EXIT_OK, RunPack({"--archive-only", "-m", "lh5", "-o", out, in}));

    // Files of a folder before its subfolders, each sorted by name; the empty folder
    // as a folder entry.
    const std::vector<std::string> order = {"SETUP.EXE",      "z.txt",          "a/readme.txt",
                                            "a/empty",        "a/sub/data.bin", "a/sub/deeper/x",
                                            "b/readme.txt"};
    ASSERT_EQ(1, OpenArchive(out.c_str(), 0));
    std::vector<std::string> walked;
    while (NextMember() == 1) {
        walked.push_back(extractionState.memberPath);
        EXPECT_EQ(1, extractionState.headerLevel);
        ASSERT_EQ(1, SkipMemberData());
    }
    CloseArchive();
    EXPECT_EQ(order, walked);

    const std::string extracted = directory.Join("x");
    mkdir(extracted.c_str(), 0755);
    ASSERT_EQ(1, ExtractArchiveAt(nullptr, out.c_str(), extracted.c_str(), 0));
    for (const auto& file : files) {
        const std::string path = extracted + "/" + file.first;
        EXPECT_TRUE(ReadFile(path) == file.second) << file.first;
        struct stat status;
        ASSERT_EQ(0, stat(path.c_str(), &status)) << file.first;
        EXPECT_EQ(when, status.st_mtime) << file.first;
    }
    struct stat status;
    ASSERT_EQ(0, stat((extracted + "/a/empty").c_str(), &status));
    EXPECT_TRUE(S_ISDIR(status.st_mode));
}

TEST(PackCommand, RefusesTreesTheStubCannotHold) {
    const std::string deep = std::string(100, 'd') + "/" + std::string(50, 'e');
    struct Case {
        const char* what;
        std::vector<std::string> files;   // '/' makes folders
        std::vector<std::string> extra;
        const char* message;              // in the error
    } cases[] = {
        {"device name as a folder", {"SETUP.EXE", "con/x.txt"}, {}, "folder \"con\""},
        {"folder ending in a dot", {"SETUP.EXE", "dir./x"}, {}, "folder \"dir.\""},
        {"same path in another case", {"SETUP.EXE", "A/x", "a/X"}, {}, "only in case"},
        {"file where a folder is", {"SETUP.EXE", "data", "DATA/x"}, {}, "name of a folder"},
        {"setup program only in a folder", {"sub/SETUP.EXE"}, {}, "at the top"},
        {"path over the budget", {"SETUP.EXE", deep + "/" + std::string(4, 'f')}, {},
         "at most 154 fit"},
        {"--flat", {"SETUP.EXE", "sub/x"}, {"--flat"}, "with --flat"},
    };
    for (const Case& c : cases) {
        TemporaryDirectory directory;
        const std::string in = directory.Join("in");
        mkdir(in.c_str(), 0755);
        for (const std::string& file : c.files) {
            for (size_t slash = file.find('/'); slash != std::string::npos;
                 slash = file.find('/', slash + 1)) {
                mkdir((in + "/" + file.substr(0, slash)).c_str(), 0755);
            }
            WriteFile(in + "/" + file, {1});
        }
        std::vector<std::string> arguments = {"--archive-only", "-o", directory.Join("o"), in};
        arguments.insert(arguments.begin(), c.extra.begin(), c.extra.end());
        testing::internal::CaptureStderr();
        EXPECT_EQ(1, RunPack(arguments)) << c.what;
        const std::string error = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, error.find(c.message)) << c.what << ": " << error;
        EXPECT_FALSE(Exists(directory.Join("o"))) << c.what;
    }
    // The budget itself fits: 154 bytes of path (100 + 1 + 50 + 1 + 2).
    TemporaryDirectory directory;
    const std::string in = directory.Join("in");
    mkdir(in.c_str(), 0755);
    mkdir((in + "/" + std::string(100, 'd')).c_str(), 0755);
    mkdir((in + "/" + deep).c_str(), 0755);
    WriteFile(in + "/" + deep + "/ff", {1});
    EXPECT_EQ(EXIT_OK, RunPack({"--archive-only", "--no-setup", "-o", directory.Join("o"), in}));
}

// The member paths of a bare archive, in order, through the core's walk.
std::vector<std::string> MemberPaths(const std::string& archive) {
    std::vector<std::string> paths;
    if (!OpenArchive(archive.c_str(), 0)) return paths;
    while (NextMember() == 1) {
        paths.push_back(extractionState.memberPath);
        if (!SkipMemberData()) break;
    }
    CloseArchive();
    return paths;
}

TEST(PackCommand, ExcludesAndSymbolicLinks) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::vector<std::string> members;  // empty: refused, with `message`
        const char* message;
    } cases[] = {
        {"links inside the tree are packed as their targets; the one outside is refused",
         {}, {}, "in/key.lnk: a symbolic link to ../outside/key, outside"},
        {"--follow-links packs the target outside",
         {"--follow-links", "--exclude-vcs"},
         {".DS_Store", "SETUP.EXE", "alias.txt", "c.bak", "key.lnk", "docs/a.txt",
          "docs/drafts/b.txt", "docs/link/b.txt"}, ""},
        {"tar's --exclude: names anywhere, '*' across '/', a path tail, a folder pattern",
         {"--exclude-vcs", "--exclude", ".DS_Store", "--exclude", "*.bak", "--exclude",
          "docs/drafts", "--exclude", "key.lnk", "--exclude", "link/"},
         {"SETUP.EXE", "alias.txt", "docs/a.txt"}, ""},
        {"a pattern for the whole tree leaves nothing", {"--exclude", "*"}, {},
         "everything in them is excluded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TemporaryDirectory directory;
        const std::string in = directory.Join("in");
        for (const char* folder : {"in", "in/.git", "in/docs", "in/docs/drafts", "outside"}) {
            mkdir(directory.Join(folder).c_str(), 0755);
        }
        for (const char* file : {"in/SETUP.EXE", "in/.git/config", "in/.gitignore",
                                 "in/.DS_Store", "in/c.bak", "in/docs/a.txt",
                                 "in/docs/drafts/b.txt", "outside/key"}) {
            WriteFile(directory.Join(file), {1});
        }
        ASSERT_EQ(0, symlink("../outside/key", directory.Join("in/key.lnk").c_str()));
        ASSERT_EQ(0, symlink("docs/a.txt", directory.Join("in/alias.txt").c_str()));
        ASSERT_EQ(0, symlink("drafts", directory.Join("in/docs/link").c_str()));
        std::vector<std::string> arguments = c.options;
        const std::string out = directory.Join("o.lzh");
        for (const char* tail : {"-q", "--archive-only", "-m", "lh0", "-o"}) {
            arguments.push_back(tail);
        }
        arguments.push_back(out);
        arguments.push_back(in);
        testing::internal::CaptureStderr();
        const int status = RunPack(arguments);
        const std::string error = testing::internal::GetCapturedStderr();
        if (c.members.empty()) {
            EXPECT_EQ(1, status);
            EXPECT_NE(std::string::npos, error.find(c.message)) << error;
            EXPECT_FALSE(Exists(out));
        } else {
            ASSERT_EQ(EXIT_OK, status) << error;
            EXPECT_EQ(c.members, MemberPaths(out));
        }
    }
    // A link that leads nowhere is refused by its name, even with --follow-links.
    TemporaryDirectory directory;
    const std::string in = directory.Join("in");
    mkdir(in.c_str(), 0755);
    WriteFile(in + "/SETUP.EXE", {1});
    ASSERT_EQ(0, symlink("nowhere", (in + "/gone").c_str()));
    for (const char* follow : {"--quiet", "--follow-links"}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(1, RunPack({follow, "--archive-only", "-o", directory.Join("o"), in}));
        EXPECT_NE(std::string::npos,
                  testing::internal::GetCapturedStderr().find("in/gone: a symbolic link to "
                                                              "nowhere, which does not exist"));
    }
}

}  // namespace
