// The system layer under the tool, on Linux and (cross-built, under Wine) on Windows:
// the same results from POSIX and from the wide Win32 calls.
#include <gtest/gtest.h>
#include <errno.h>
#include <sys/stat.h>
#include <time.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>

#include "platform/system.h"
#include "tools/times.h"
#include "support.h"

TEST(Platform, PatternsMatchAsFnmatch) {
    struct Case {
        const char* pattern;
        const char* text;
        bool wholeNames;
        bool matches;
    } cases[] = {
        {"*.txt", "a.txt", false, true},
        {"*.txt", "docs/a.txt", false, true},   // '*' crosses '/' without whole names
        {"*.txt", "docs/a.txt", true, false},   // and not with them
        {"docs/*", "docs/a.txt", true, true},
        {"docs/*", "docs/sub/a.txt", true, false},
        {"?.txt", "ab.txt", false, false},
        {"a?c", "a/c", true, false},
        {"[a-c]x", "bx", false, true},
        {"[!a-c]x", "bx", false, false},
        {"[!a-c]x", "dx", false, true},
        {"[]]x", "]x", false, true},
        {"[x", "[x", false, true},              // no closing bracket: itself
        {"*", "", false, true},
        {"a*b*c", "aXbYbZc", false, true},
        {"a*b*c", "aXbYbZ", false, false},
        {"日本語/*", "日本語/テスト.txt", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.matches, sys::MatchPattern(c.pattern, c.text, c.wholeNames))
            << c.pattern << " on " << c.text << (c.wholeNames ? " (whole names)" : "");
    }
}

TEST(Platform, RenameReplacesAndTemporaryFilesGo) {
    TemporaryDirectory directory;
    const std::string target = directory.Join("target.bin");
    WriteFile(target, {1, 2, 3});
    std::string pattern = target + ".XXXXXX";
    const int file = sys::MakeTemporaryFile(pattern);
    ASSERT_GE(file, 0);
    EXPECT_NE(std::string::npos, pattern.find("target.bin.")) << pattern;
    EXPECT_EQ(std::string::npos, pattern.find("XXXXXX")) << pattern;
    const uint8_t data[] = {9, 8, 7, 6};
    EXPECT_EQ(4, sys::Write(file, data, sizeof data));
    uint8_t back[2] = {0, 0};
    EXPECT_EQ(2, sys::ReadAt(file, back, 2, 2));
    EXPECT_EQ(7, back[0]);
    EXPECT_EQ(0, sys::Close(file));
    // Over an existing file, atomically (MoveFileExW with MOVEFILE_REPLACE_EXISTING).
    ASSERT_EQ(0, sys::Rename(pattern.c_str(), target.c_str()));
    EXPECT_EQ((std::vector<uint8_t>{9, 8, 7, 6}), ReadFile(target));
    FileStatus status;
    EXPECT_NE(0, sys::Status(pattern.c_str(), &status));
    EXPECT_EQ(ENOENT, errno);
    ASSERT_EQ(0, sys::Status(target.c_str(), &status));
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(4, status.st_size);
    // Over a read-only file too, as rename(2) does (NTFS refuses MoveFileExW there).
    std::string other = target + ".XXXXXX";
    const int second = sys::MakeTemporaryFile(other);
    ASSERT_GE(second, 0);
    EXPECT_EQ(0, sys::Close(second));
#ifdef _WIN32
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
#else
    ASSERT_EQ(0, chmod(target.c_str(), 0444));
#endif
    ASSERT_EQ(0, sys::Rename(other.c_str(), target.c_str()));
    EXPECT_TRUE(ReadFile(target).empty());
}

#ifdef _WIN32
// An IANA TZ, which the C runtime misreads as offset 0 with US summer time, gives way
// to the system's time zone; a POSIX TZ is kept.
TEST(Platform, TimeZoneNamesTheRuntimeCannotReadAreIgnored) {
    const time_t july = 1720000000;  // 2024-07-03, summer in the US
    _putenv("TZ=");
    _tzset();
    bool clamped = false;
    const DosStamp system = DosStampFromFileTime(july, clamped);
    const DosStamp tokyo = DosStampFromUtcSeconds(july + 9 * 3600, clamped);
    struct Case {
        const char* tz;
        DosStamp expected;
    } cases[] = {{"TZ=Asia/Tokyo", system}, {"TZ=:Asia/Tokyo", system}, {"TZ=JST-9", tokyo}};
    for (const Case& c : cases) {
        _putenv(c.tz);
        _tzset();
        UseSystemTimeZoneUnlessPosixTz();
        const DosStamp got = DosStampFromFileTime(july, clamped);
        EXPECT_EQ(c.expected.date, got.date) << c.tz;
        EXPECT_EQ(c.expected.time, got.time) << c.tz;
    }
    _putenv("TZ=");
    _tzset();
}
#endif

TEST(Platform, FoldersWithNamesThatAreNotUtf8) {
    // The core names the folders in its private folder by a member's stored bytes (code
    // page 932 here: 日本語/空/.keep), which are not UTF-8 and must still make a tree.
    TemporaryDirectory directory;
    const std::string japanese = directory.Join("\x93\xFA\x96\x7B\x8C\xEA");
    const std::string sky = japanese + "/\x8B\xF3";
    ASSERT_EQ(0, sys::MakeFolder(japanese.c_str(), 0755));
    ASSERT_EQ(0, sys::MakeFolder(sky.c_str(), 0755));
    ASSERT_EQ(0, sys::MakeFolder((directory.Join("\x8B\xF3")).c_str(), 0755));
    const int file = sys::CreateTruncated((sky + "/.keep").c_str(), 0644);
    ASSERT_GE(file, 0);
    EXPECT_EQ(0, sys::Close(file));
    std::vector<std::string> names;
    ASSERT_TRUE(sys::ListFolder(directory.Path().c_str(), names));
    EXPECT_EQ(2u, names.size());
    EXPECT_TRUE(sys::RemoveTree(japanese.c_str()));
    FileStatus status;
    EXPECT_NE(0, sys::LinkStatus(japanese.c_str(), &status));
    ASSERT_EQ(0, sys::LinkStatus(directory.Join("\x8B\xF3").c_str(), &status));
    EXPECT_TRUE(S_ISDIR(status.st_mode));
}

TEST(Platform, SeparatorsOfCommandLinePaths) {
#ifdef _WIN32
    EXPECT_EQ("C:/Users/Łukasz/payload/", sys::PortablePath("C:\\Users\\Łukasz\\payload\\"));
#else
    EXPECT_EQ("odd\\name", sys::PortablePath("odd\\name"));  // a Linux name may hold '\'
#endif
}
