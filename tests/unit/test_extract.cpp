// Member extraction: the archive walk, stored members, names, times, progress, Cancel.
#include <gtest/gtest.h>
#include <time.h>

#include "archive/archive.h"
#include "extract/extract.h"
#include "support/archive_builder.h"
#include "support/recording_ui.h"

namespace {

Bytes Pattern(size_t size, unsigned seed = 1) {
    Bytes bytes(size);
    uint32_t state = seed;
    for (uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// Extracts archive bytes (a bare archive) into a fresh directory.
class Extraction : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRecordingUi();
        directory = MakeTempDir();
    }
    void TearDown() override { RemoveTempDir(directory); }

    int Extract(const Bytes& archive) {
        return ExtractArchiveAt(nullptr, WriteTempFile(archive).c_str(), directory.c_str(), 0);
    }
    Bytes Contents(const std::string& name) {
        Bytes bytes;
        EXPECT_TRUE(ReadFileBytes(JoinTestPath(directory, name), &bytes)) << name;
        return bytes;
    }
    std::vector<std::string> Files() { return ListDirectory(directory); }

    std::string directory;
};

TEST_F(Extraction, StoredMembersAtChunkSizes) {
    const Bytes empty;
    const Bytes exact = Pattern(32768, 2);
    const Bytes over = Pattern(32769, 3);
    ASSERT_EQ(1, Extract(BuildArchive({StoredMember("EMPTY.TXT", empty),
                                       StoredMember("EXACT.BIN", exact),
                                       StoredMember("OVER.BIN", over)})));
    EXPECT_EQ(3u, membersExtracted);
    EXPECT_EQ((std::vector<std::string>{"EMPTY.TXT", "EXACT.BIN", "OVER.BIN"}), Files());
    EXPECT_EQ(empty, Contents("EMPTY.TXT"));
    EXPECT_EQ(exact, Contents("EXACT.BIN"));
    EXPECT_EQ(over, Contents("OVER.BIN"));
    // One status line per member; one progress step per chunk: 0 + 1 + 2.
    EXPECT_EQ((std::vector<std::string>{"Extracting : EMPTY.TXT", "Extracting : EXACT.BIN",
                                        "Extracting : OVER.BIN"}),
              recordingUi.statusLines);
    ASSERT_EQ(3u, recordingUi.positions.size());
    for (size_t i = 1; i < recordingUi.positions.size(); ++i) {
        EXPECT_LE(recordingUi.positions[i - 1], recordingUi.positions[i]);
    }
    EXPECT_LE(recordingUi.positions.back(), 100u);
}

// Host only: the Windows build runs the same line of the core, and under an emulated
// Wine 44 MB would cost minutes of the suite's time.
#ifndef _WIN32
TEST_F(Extraction, ProgressAbove42MegabytesDoesNotWrap) {
    // consumedBytes * 100 passes 2^32 at about 42.9 MB of archive.
    const Bytes archive = BuildArchive({StoredMember("BIG.BIN", Bytes(44000000, 0))});
    ASSERT_EQ(1, ExtractArchiveAt(nullptr, WriteTempFile(archive).c_str(), nullptr, 0));
    ASSERT_FALSE(recordingUi.positions.empty());
    for (size_t i = 1; i < recordingUi.positions.size(); ++i) {
        ASSERT_LE(recordingUi.positions[i - 1], recordingUi.positions[i]) << i;
    }
    EXPECT_EQ(99u, recordingUi.positions.back());
}
#endif

TEST_F(Extraction, EmptyArchivesSucceedWithoutFiles) {
    EXPECT_EQ(1, Extract(Bytes{0}));
    EXPECT_EQ(1, Extract(Bytes()));
    EXPECT_TRUE(Files().empty());
    EXPECT_TRUE(recordingUi.positions.empty());
}

TEST_F(Extraction, SecondMemberOfTheSameNameReplacesTheFirst) {
    ASSERT_EQ(1, Extract(BuildArchive({StoredMember("SAME.TXT", TextBytes("first, longer")),
                                       StoredMember("SAME.TXT", TextBytes("second"))})));
    EXPECT_EQ(TextBytes("second"), Contents("SAME.TXT"));
}

TEST_F(Extraction, MissingEndMarkerReadsAsComplete) {
    EXPECT_EQ(1, Extract(BuildArchive({StoredMember("A.TXT", TextBytes("a"))}, false)));
    EXPECT_EQ(TextBytes("a"), Contents("A.TXT"));
}

TEST_F(Extraction, DataAfterTheEndMarkerIsIgnored) {
    Bytes archive = BuildArchive({StoredMember("A.TXT", TextBytes("a"))});
    const Bytes signature = Pattern(3000, 9);
    archive.insert(archive.end(), signature.begin(), signature.end());
    EXPECT_EQ(1, Extract(archive));
}

TEST_F(Extraction, StoredMemberCutShortFails) {
    Bytes archive = BuildArchive({StoredMember("CUT.BIN", Pattern(40000))}, false);
    archive.resize(archive.size() - 1);
    EXPECT_EQ(0, Extract(archive));
    EXPECT_EQ(FAILURE_TRUNCATED, extractionFailure);
    // The chunk written before the end is removed with the failed member.
    EXPECT_TRUE(Files().empty());
}

TEST_F(Extraction, CrcMismatchFailsAndLeavesNoFile) {
    MemberSpec member;
    member.name = "BAD.CRC";
    member.data = TextBytes("payload");
    member.crcSet = true;
    member.crc = static_cast<uint16_t>(ReferenceCrc16(member.data) ^ 1);
    EXPECT_EQ(0, Extract(BuildArchive({BuildMember(member)})));
    EXPECT_EQ(FAILURE_CRC, extractionFailure);
    EXPECT_TRUE(Files().empty());
}

TEST_F(Extraction, UnacceptedMethodsFailBeforeAnyFile) {
    for (const char* method : {"-lh1-", "-lh8-", "-lhe-", "-LH5-", "-lz5-", "xlh0-", "-lh0x"}) {
        MemberSpec member;
        member.method = method;
        member.name = "M.BIN";
        member.data = TextBytes("data");
        EXPECT_EQ(0, Extract(BuildArchive({StoredMember("FIRST.TXT", Bytes()),
                                           BuildMember(member)})))
            << method;
        EXPECT_EQ(FAILURE_METHOD, extractionFailure) << method;
        EXPECT_EQ((std::vector<std::string>{"FIRST.TXT"}), Files()) << method;
    }
}

TEST_F(Extraction, ExtendedHeadersAreSkipped) {
    MemberSpec member;
    member.name = "EXT.TXT";
    member.data = TextBytes("after the extended headers");
    member.extended = {Bytes{0x40, 0x20, 0x00}, Bytes{0x54, 1, 2, 3, 4, 5, 6, 7, 8, 9}};
    ASSERT_EQ(1, Extract(BuildArchive({BuildMember(member), StoredMember("NEXT.TXT", Bytes{7})})));
    EXPECT_EQ(member.data, Contents("EXT.TXT"));
    EXPECT_EQ(Bytes{7}, Contents("NEXT.TXT"));
}

TEST_F(Extraction, ExtendedHeaderOfSizeTwoAndOne) {
    // Size 2: no content, the next size follows at once.
    MemberSpec two;
    two.name = "TWO.TXT";
    two.data = TextBytes("two");
    Bytes archive = BuildArchive({BuildMember(two)});
    const size_t sizeField = 2 + archive[0] - 2;
    archive[sizeField] = 2;
    archive.insert(archive.begin() + static_cast<long>(2 + archive[0]), {0, 0});
    archive[7] += 2;  // packed size covers the extended header
    FixHeaderSum(&archive, 0);
    ASSERT_EQ(1, Extract(archive));
    EXPECT_EQ(two.data, Contents("TWO.TXT"));

    // Size 1 cannot hold even the next size: the header is malformed, no file.
    Bytes one = BuildArchive({StoredMember("ONE.TXT", TextBytes("one"))});
    one[2 + one[0] - 2] = 1;
    FixHeaderSum(&one, 0);
    EXPECT_EQ(0, Extract(one));
    EXPECT_EQ(FAILURE_BAD_HEADER, extractionFailure);
    EXPECT_FALSE(FileExists(JoinTestPath(directory, "ONE.TXT")));
}

TEST_F(Extraction, NamesThatCouldLeaveTheDirectoryAreRefused) {
    const char* const names[] = {
        "", ".", "..", "..\\EVIL.TXT", "../EVIL.TXT", "SUB/FILE.TXT", "SUB\\FILE.TXT",
        "C:EVIL.TXT", "C:\\EVIL.TXT", "/etc/EVIL", "A\x01.TXT", "A\x7F.TXT", "TAB\t.TXT",
        "STAR*.TXT", "WHAT?.TXT", "QUOTE\".TXT", "LESS<.TXT", "MORE>.TXT", "PIPE|.TXT",
        "CON", "con.txt", "PRN.LOG", "AUX", "NUL.TXT", "COM1", "com9.bin", "LPT1.TXT",
        "Lpt9", "TRAILING.", "TRAILING ", "CON .TXT", "LPT0", "com0.txt", "COM\xB9",
        "lpt\xB2.txt", "COM\xB3 .LOG"};
    for (const char* name : names) {
        EXPECT_EQ(0, IsSafeMemberName(name)) << name;
        EXPECT_EQ(0, Extract(BuildArchive({StoredMember(name, TextBytes("x"))}))) << name;
        EXPECT_EQ(FAILURE_NAME, extractionFailure) << name;
        EXPECT_TRUE(Files().empty()) << name;
    }
    for (const char* name : {"SETUP.EXE", "a", "...A", "COM10.TXT", "CONSOLE.TXT", "LPT\xB4",
                             "COM.TXT", "read me.txt", "x.y.z"}) {
        EXPECT_EQ(1, IsSafeMemberName(name)) << name;
    }
}

#ifndef _WIN32
TEST_F(Extraction, ShiftJisTrailByte5CIsPartOfItsCharacter) {
    // 表示.TXT: 表 is 95 5C in Shift_JIS, its trail byte the backslash's code.
    const std::string name = "\x95\x5C\x8E\xA6.TXT";
    PlatformSetCodePage(932);
    EXPECT_EQ(1, Extract(BuildArchive({StoredMember(name, TextBytes("sjis"))})));
    EXPECT_EQ((std::vector<std::string>{name}), Files());
    // A lead byte with no trail byte, or one that no double-byte code page uses as a
    // trail byte, is not a name.
    for (const char* bad : {"AB\x95", "\x81:stream", "\x81/x", "\x81\x01x", "\x81\x7F"}) {
        EXPECT_EQ(0, IsSafeMemberName(bad)) << bad;
    }
    PlatformSetCodePage(1252);
    EXPECT_EQ(0, IsSafeMemberName(name.c_str()));
}
#endif

TEST_F(Extraction, OutputPathThatDoesNotFitFailsTheMember) {
    const std::string name(230, 'L');
    const std::string deep = directory + std::string(1, PATH_SEPARATOR) + std::string(80, 'D');
    ASSERT_GT(deep.size() + 1 + name.size() + 1, OUTPUT_PATH_SIZE);
    const int result = ExtractArchiveAt(
        nullptr, WriteTempFile(BuildArchive({StoredMember(name, TextBytes("x"))})).c_str(),
        deep.c_str(), 0);
    EXPECT_EQ(0, result);
    EXPECT_EQ(FAILURE_PATH_TOO_LONG, extractionFailure);
}

TEST_F(Extraction, TimeStampFromTheHeaderInLocalTime) {
    MemberSpec member;
    member.name = "TIMED.TXT";
    member.data = TextBytes("t");
    member.date = static_cast<uint16_t>(((2021 - 1980) << 9) | (6 << 5) | 15);
    member.time = static_cast<uint16_t>((9 << 11) | (30 << 5) | (58 / 2));
    ASSERT_EQ(1, Extract(BuildArchive({BuildMember(member)})));
    struct tm local = {};
    local.tm_year = 2021 - 1900;
    local.tm_mon = 5;
    local.tm_mday = 15;
    local.tm_hour = 9;
    local.tm_min = 30;
    local.tm_sec = 58;
    local.tm_isdst = -1;
    EXPECT_EQ(static_cast<int64_t>(mktime(&local)),
              FileWriteTime(JoinTestPath(directory, "TIMED.TXT")));
}

TEST_F(Extraction, InvalidDosDateOrTimeLeavesTheWriteTime) {
    const int64_t before = static_cast<int64_t>(time(nullptr));
    const uint16_t goodDate = static_cast<uint16_t>((41 << 9) | (6 << 5) | 15);
    struct Case {
        uint16_t date;
        uint16_t time;
    };
    const Case cases[] = {{static_cast<uint16_t>((41 << 9) | (13 << 5) | 1), 0},  // month 13
                          {static_cast<uint16_t>((41 << 9) | (0 << 5) | 1), 0},   // month 0
                          {static_cast<uint16_t>((41 << 9) | (2 << 5) | 30), 0},  // 30 February
#ifndef _WIN32  // the host layer's calendar; Windows builds run the system's own
                          {static_cast<uint16_t>((120 << 9) | (2 << 5) | 29), 0}, // 2100-02-29
#endif
                          {goodDate, static_cast<uint16_t>(24 << 11)},            // hour 24
                          {goodDate, static_cast<uint16_t>(60 << 5)}};            // minute 60
    for (const Case& c : cases) {
        MemberSpec member;
        member.name = "ODD.TXT";
        member.data = TextBytes("o");
        member.date = c.date;
        member.time = c.time;
        ASSERT_EQ(1, Extract(BuildArchive({BuildMember(member)})));
        const int64_t written = FileWriteTime(JoinTestPath(directory, "ODD.TXT"));
        EXPECT_GE(written, before - 5);
        EXPECT_LE(written, static_cast<int64_t>(time(nullptr)) + 5);
    }
}

TEST_F(Extraction, CancelStopsBetweenChunks) {
    recordingUi.cancelAfterPumps = 3;  // status pump, first chunk pump, second chunk pump
    EXPECT_EQ(0, Extract(BuildArchive({StoredMember("BIG.BIN", Pattern(100000))})));
    EXPECT_EQ(FAILURE_CANCELLED, extractionFailure);
    EXPECT_TRUE(Files().empty());
}

TEST_F(Extraction, VerifyOnlyChecksWithoutWriting) {
    const Bytes archive = BuildArchive({StoredMember("A.BIN", Pattern(70000))});
    EXPECT_EQ(1, ExtractArchiveAt(nullptr, WriteTempFile(archive).c_str(), nullptr, 0));
    EXPECT_TRUE(Files().empty());
    Bytes bad = archive;
    bad[bad.size() - 2] ^= 0xFF;
    EXPECT_EQ(0, ExtractArchiveAt(nullptr, WriteTempFile(bad).c_str(), nullptr, 0));
    EXPECT_EQ(FAILURE_CRC, extractionFailure);
}

TEST_F(Extraction, SetupLayoutReadsFromTheArchiveOffset) {
    Bytes setup(ARCHIVE_OFFSET, 0);
    setup[0] = 'M';
    setup[1] = 'Z';
    const Bytes archive = BuildArchive({StoredMember("SETUP.EXE", TextBytes("MZ..."))});
    setup.insert(setup.end(), archive.begin(), archive.end());
    EXPECT_EQ(1, ExtractArchive(nullptr, WriteTempFile(setup).c_str(), directory.c_str()));
    EXPECT_EQ(TextBytes("MZ..."), Contents("SETUP.EXE"));
    // A file that ends before the archive offset has no archive.
    EXPECT_EQ(0, ExtractArchive(nullptr, WriteTempFile(Bytes(100, 1)).c_str(), directory.c_str()));
}

TEST(JoinPath, AddsOneSeparatorOnlyWhenNeeded) {
    char path[64] = "C:\\WORK";
    EXPECT_STREQ((std::string("C:\\WORK") + PATH_SEPARATOR + "A.TXT").c_str(),
                 JoinPath(path, "A.TXT"));
    char withBackslash[64] = "C:\\WORK\\";
    EXPECT_STREQ("C:\\WORK\\A.TXT", JoinPath(withBackslash, "A.TXT"));
    char withSlash[64] = "/tmp/";
    EXPECT_STREQ("/tmp/A.TXT", JoinPath(withSlash, "A.TXT"));
}

TEST_F(Extraction, IndependentArchiveOfStoredMembers) {
    const std::string fixtures = VORPANEX_FIXTURES;
    ASSERT_EQ(1, ExtractArchiveAt(nullptr, (fixtures + "/fx-lh0.lzh").c_str(),
                                  directory.c_str(), 0));
    Bytes manifest;
    ASSERT_TRUE(ReadFileBytes(fixtures + "/MANIFEST.txt", &manifest));
    const std::string text(manifest.begin(), manifest.end());
    const std::vector<std::string> files = Files();
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files) {
        const size_t line = text.find("\n" + file + " ");
        ASSERT_NE(std::string::npos, line) << file << " is not in the manifest";
        unsigned long size = 0;
        char sha[65];
        unsigned crc = 0;
        ASSERT_EQ(3, sscanf(text.c_str() + line + 1 + file.size(), "%lu %64s %x", &size, sha, &crc));
        const Bytes contents = Contents(file);
        EXPECT_EQ(size, contents.size()) << file;
        EXPECT_EQ(std::string(sha), Sha256Hex(contents)) << file;
        EXPECT_EQ(crc, ReferenceCrc16(contents)) << file;
    }
}

}  // namespace
