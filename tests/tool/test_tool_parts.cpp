// Parts of the command line that the command-line tests cannot pin down exactly:
// option values, fixed times, SHA-256, the stub's version resource and test's
// judgement of a walked archive.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>

#include "support.h"
#include "archive/archive.h"
#include "tools/commands.h"
#include "tools/extract_verbs.h"
#include "tools/options.h"
#include "tools/pack.h"
#include "tools/sha256.h"
#include "tools/terminal.h"
#include "tools/times.h"

namespace {

TEST(PackOptions, GnuStyleFillsTheStruct) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        unsigned jobs;
        bool quiet;
        std::vector<std::string> inputs;
    } cases[] = {
        {{"-o", "x", "-j4", "in"}, 0, 4, false, {"in"}},
        {{"--output=x", "--jobs", "12", "in", "more"}, 0, 12, false, {"in", "more"}},
        {{"-qvj2", "-ox", "in"}, 0, 2, true, {"in"}},
        {{"-o", "x", "--", "-j3", "--best"}, 0, 0, false, {"-j3", "--best"}},
        {{"in", "-o", "x", "--jobs=1"}, 0, 1, false, {"in"}},
        {{"-o", "x", "-j", "3x", "in"}, EXIT_USAGE, 0, false, {}},
        {{"-o", "x", "-j", "0", "in"}, EXIT_USAGE, 0, false, {}},
        {{"-o", "x", "-j", "99999999999999999999999", "in"}, EXIT_USAGE, 0, false, {}},
        {{"-o", "x", "--codepage", "437", "in"}, EXIT_USAGE, 0, false, {}},
        {{"-o", "x", "--best=yes", "in"}, EXIT_USAGE, 0, false, {}},
        {{"-o", "x"}, EXIT_USAGE, 0, false, {}},
        {{"in"}, EXIT_USAGE, 0, false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> all = {"pack"};
        all.insert(all.end(), c.arguments.begin(), c.arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all) argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        PackOptions options;
        bool done = false;
        const int status = ParsePackOptions(static_cast<int>(all.size()), argv.data(), options,
                                            done);
        EXPECT_EQ(c.status, status) << c.arguments[0] << " " << c.arguments.back();
        if (c.status != 0) continue;
        EXPECT_EQ(c.jobs, options.jobs);
        EXPECT_EQ(c.quiet, quietOutput);
        EXPECT_EQ(c.inputs, options.inputs);
        EXPECT_EQ("x", options.output);
    }
}

TEST(FixedTimes, SameWordsInEveryZone) {
    struct Case {
        const char* text;
        uint16_t date, time;  // 0, 0: refused
    } cases[] = {
        {"1700000000", 0x576E, 0xB1AA},                 // 2023-11-14 22:13:20 UTC
        {"@1700000000", 0x576E, 0xB1AA},
        {"2023-11-15T07:13:20+09:00", 0x576E, 0xB1AA},
        {"2023-11-14T17:13:20-0500", 0x576E, 0xB1AA},
        {"2023-11-14T22:13:20Z", 0x576E, 0xB1AA},
        {"2023-11-14 22:13:20", 0x576E, 0xB1AA},         // no zone: as written
        {"2024-02-29", 0x585D, 0},
        {"1980-01-01T00:00:00Z", 0x0021, 0},
        {"2107-12-31 23:59:58", 0xFF9F, 0xBF7D},
        {"2024-02-30", 0, 0},
        {"2100-02-29", 0, 0},
        {"2024-13-01", 0, 0},
        {"2024-01-01T24:00", 0, 0},
        {"1979-12-31T23:59:59Z", 0, 0},
        {"2024-01-01T00:00+24:00", 0, 0},
        {"2024-1-1", 0, 0},
        {"315532800x", 0, 0},
        {"", 0, 0},
    };
    for (const char* zone : {"UTC", "Asia/Tokyo", "America/New_York"}) {
        setenv("TZ", zone, 1);
        tzset();
        for (const Case& c : cases) {
            DosStamp stamp;
            const std::string error = ParseFixedTime(c.text, stamp);
            if (c.date == 0) {
                EXPECT_NE("", error) << c.text;
                continue;
            }
            EXPECT_EQ("", error) << c.text;
            EXPECT_EQ(c.date, stamp.date) << c.text << " in " << zone;
            EXPECT_EQ(c.time, stamp.time) << c.text << " in " << zone;
        }
        bool clamped = false;
        DosStamp stamp;
        EXPECT_EQ("", ParseSourceDateEpoch("1700000000", stamp, clamped));
        EXPECT_EQ(0x576E, stamp.date);
        EXPECT_EQ("", ParseSourceDateEpoch("0", stamp, clamped));
        EXPECT_TRUE(clamped);
        EXPECT_EQ(0x0021, stamp.date);
        EXPECT_NE("", ParseSourceDateEpoch("17e8", stamp, clamped));
    }
    unsetenv("TZ");
    tzset();
}

TEST(Sha256, KnownDigests) {
    const std::string million(1000000, 'a');
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first padding block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, Sha256Hex(reinterpret_cast<const uint8_t*>(c.first.data()),
                                      c.first.size()))
            << c.first.size() << " bytes";
    }
}

// --best spends seconds on one member: its progress must move within the member.
TEST(BestProgress, ReportedThroughoutOneMember) {
    std::vector<uint64_t> reports;
    EncodeOptions options;
    options.best = true;
    options.progressContext = &reports;
    options.progress = [](void* context, uint64_t done) {
        static_cast<std::vector<uint64_t>*>(context)->push_back(done);
    };
    const std::vector<uint8_t> data = TextBytes(300000, 7);
    CompressStream(data.data(), data.size(), options);
    ASSERT_GE(reports.size(), 10u);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_LT(reports[reports.size() / 2], data.size());
    EXPECT_EQ(data.size(), reports.back());
}

TEST(StubVersion, FromTheFixedFileInfo) {
    std::vector<unsigned char> image(256, 0);
    const unsigned char record[] = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0,
                                    2, 0, 1, 0, 7, 0, 3, 0};  // 1.2, 3.7
    std::copy(record, record + sizeof record, image.begin() + 100);
    EXPECT_EQ("1.2.3.7", StubFileVersion(image.data(), image.size()));
    EXPECT_EQ("", StubFileVersion(image.data(), 100));
}

// The progress bar fits the terminal it is drawn on: a redraw that wrapped would leave a
// new line behind on every update in a narrow pane.
TEST(ProgressLine, FitsEveryWidthAndCutsTheLabel) {
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";  // 日本語.txt
    const std::string labels[] = {"SETUP.EXE", std::string(100, 'n'), japanese + japanese +
                                  japanese + japanese + japanese + japanese};
    for (const std::string& label : labels) {
        for (int columns : {200, 80, 60, 40, 24, 14, 13, 3}) {
            SCOPED_TRACE(label + " in " + std::to_string(columns) + " columns");
            const std::string line = ProgressLine(label.c_str(), 100, columns);
            EXPECT_LE(DisplayWidth(line), static_cast<size_t>(columns - 1));
            if (columns > 14) {
                EXPECT_NE(std::string::npos, line.find("#] 100%"));
                EXPECT_EQ(0u, line.find(label.substr(0, 4))) << line;
            }
        }
    }
    EXPECT_EQ(78u, DisplayWidth(ProgressLine("SETUP.EXE", 45, 200))) << "40 + bar of 30 + 8";
    EXPECT_EQ(10u, DisplayWidth(japanese)) << "three wide characters and .txt";
}

// test's checks after a walk, on sizes no test file reaches cheaply: the stub's 2 GiB
// bound is exact and binds setups only, and a bare archive walked for a few chosen
// members is not judged by its names.
TEST(CheckAsWindows, SetupBoundAndChosenMembers) {
    using namespace extraction;
    const uint64_t fits = STUB_FILE_LIMIT - 49152;
    auto members = [](std::vector<std::string> paths) {
        std::vector<MemberReport> reports(paths.size());
        for (size_t i = 0; i < paths.size(); ++i) reports[i].path = reports[i].name = paths[i];
        return reports;
    };
    const std::vector<MemberReport> setup = members({"SETUP.EXE"});
    const std::vector<MemberReport> clash = members({"A", "A/x.txt"});
    struct Case {
        const char* what;
        long offset;
        uint64_t archiveSize;
        std::vector<MemberReport> members;
        std::vector<std::string> patterns;
        bool passes;
        const char* message;
    } cases[] = {
        {"a setup ending at the stub's last byte", 49152, fits, setup, {}, true, ""},
        {"one byte more", 49152, fits + 1, setup, {}, false,
         "the setup is 2147483648 bytes; its stub reads at most 2147483647 bytes"},
        {"a bare archive of 4 GiB", 0, 1ull << 32, setup, {}, true, ""},
        {"a file that is also a folder", 0, 100, clash, {}, false, "A: both a file and a folder"},
        {"the same, members chosen", 0, 100, clash, {"A"}, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExtractOptions options;
        options.patterns = c.patterns;
        run = RunReport();
        run.options = &options;
        (c.offset != 0 ? run.everyMember : run.members) = c.members;
        WalkOutcome walk;
        walk.result = 1;
        walk.completed = static_cast<uint32_t>(c.members.size());
        walk.archiveSize = c.archiveSize;
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.passes, CheckAsWindows("f", options, c.offset, walk));
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, errors.find(c.message)) << errors;
        if (c.passes) {
            EXPECT_EQ("", errors);
        }
    }
}

}  // namespace
