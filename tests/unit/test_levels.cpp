// Header levels 0, 1 and 2, names and folders in extended headers: one row per case,
// with the result and the tree that extraction must give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "extract/extract.h"
#include "support/archive_builder.h"
#include "support/hostile_builder.h"
#include "support/recording_ui.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

MemberSpec Member(int level, const std::string& name, const std::string& text = "data\n") {
    MemberSpec member;
    member.level = level;
    member.name = name;
    member.data = TextBytes(text);
    return member;
}

MemberSpec InFolder(MemberSpec member, const std::string& folder) {
    Bytes extended{0x02};
    for (char c : folder) extended.push_back(c == '|' ? 0xFF : static_cast<uint8_t>(c));
    member.extended.push_back(extended);
    return member;
}

MemberSpec Folder(int level, const std::string& folder) {
    MemberSpec member = InFolder(Member(level, "", ""), folder);
    member.method = "-lhd-";
    return member;
}

struct Row {
    const char* what;
    std::vector<MemberSpec> members;
    int failure;                       // FAILURE_NONE: extraction succeeds
    std::vector<std::string> tree;     // what the work directory holds afterwards
};

// Every path below root, folders with a trailing '/'.
void Tree(const std::string& root, const std::string& prefix, std::vector<std::string>* out) {
    for (const std::string& name : ListDirectory(JoinTestPath(root, prefix))) {
        const std::string relative = prefix + name;
        // The platform's own call on both targets (the host's does not follow links).
        const DWORD attributes = GetFileAttributesA(JoinTestPath(root, relative).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            out->push_back(relative + "/");
            Tree(root, relative + "/", out);
        } else {
            out->push_back(relative);
        }
    }
}

void RunRow(const Row& row) {
    SCOPED_TRACE(row.what);
    std::vector<Bytes> members;
    for (const MemberSpec& member : row.members) members.push_back(BuildMember(member));
    DumpRow(row.what, BuildArchive(members));
    const std::string archive = WriteTempFile(BuildArchive(members));
    const std::string work = MakeTempDir();
    ResetRecordingUi();
    const int result = ExtractArchiveAt(nullptr, archive.c_str(), work.c_str(), 0);
    EXPECT_EQ(row.failure == FAILURE_NONE ? 1 : 0, result);
    EXPECT_EQ(row.failure, extractionFailure);
    std::vector<std::string> tree;
    Tree(work, "", &tree);
    EXPECT_EQ(row.tree, tree);
    // Checking without writing comes to the same result, but for what only the files
    // written can show.
    if (row.failure != FAILURE_NOT_FOLDER) {
        EXPECT_EQ(result, ExtractArchiveAt(nullptr, archive.c_str(), nullptr, 0));
    }
    RemoveTempDir(work);
    DeleteTestFile(archive);
}

}  // namespace

TEST(HeaderLevels, NamesAndFoldersAtEveryLevel) {
    MemberSpec levelZeroExtra = Member(0, "EXTRA.TXT");
    levelZeroExtra.extraHeaderBytes = 5;  // an OS id and a Unix time after the CRC-16
    MemberSpec longName = Member(1, "SHORT");
    longName.extended = {Bytes{0x01, 'L', 'O', 'N', 'G', '.', 'T', 'X', 'T'}};
    MemberSpec skipped = Member(2, "SKIPPED.TXT");
    skipped.extended = {Bytes{0x54, 1, 2, 3, 4}, Bytes{0x7E, 9, 9}};
    MemberSpec withCrc = InFolder(Member(2, "CRC.TXT"), "SUB");
    withCrc.headerCrc = true;
    // A level-2 header of exactly 256 bytes has its low size byte 0: one padding byte.
    // 26 base bytes, then the name's (1 + 100 + 2) and a skipped one's (1 + 124 + 2).
    const std::string padName(100, 'P');
    MemberSpec padded = Member(2, padName);
    Bytes skippedContent{0x7E};
    skippedContent.resize(125, 0x33);
    padded.extended = {skippedContent};
    // 512 bytes (any multiple of 256) starts with a 0 byte too.
    MemberSpec paddedTwice = padded;
    paddedTwice.extended[0].resize(381, 0x33);
    // The header CRC also covers a skipped header longer than the reader's buffer.
    MemberSpec longSkipped = Member(2, "BIG.TXT");
    Bytes bigContent{0x7E};
    bigContent.resize(6001, 0xA5);
    longSkipped.extended = {bigContent};
    longSkipped.headerCrc = true;
    std::vector<Row> rows = {
        {"level 0", {Member(0, "L0.TXT")}, FAILURE_NONE, {"L0.TXT"}},
        {"level 0, bytes after the CRC-16", {levelZeroExtra}, FAILURE_NONE, {"EXTRA.TXT"}},
        {"level 0, folders in the name", {Member(0, "DIR\\SUB/L0.TXT")}, FAILURE_NONE,
         {"DIR/", "DIR/SUB/", "DIR/SUB/L0.TXT"}},
        {"level 1 folders keep same names apart",
         {InFolder(Member(1, "readme.txt", "en"), "en|"),
          InFolder(Member(1, "readme.txt", "ja"), "ja|")},
         FAILURE_NONE, {"en/", "en/readme.txt", "ja/", "ja/readme.txt"}},
        {"level 1 folder with backslash and slash", {InFolder(Member(1, "F.TXT"), "A\\B/C")},
         FAILURE_NONE, {"A/", "A/B/", "A/B/C/", "A/B/C/F.TXT"}},
        {"level 1 name in an extended header", {longName}, FAILURE_NONE, {"LONG.TXT"}},
        {"level 2", {Member(2, "L2.TXT")}, FAILURE_NONE, {"L2.TXT"}},
        {"level 2 with folder and header CRC", {withCrc}, FAILURE_NONE, {"SUB/", "SUB/CRC.TXT"}},
        {"level 2 skips other extended headers", {skipped}, FAILURE_NONE, {"SKIPPED.TXT"}},
        {"level 2 header of 256 bytes", {padded}, FAILURE_NONE, {padName}},
        {"level 2 header of 512 bytes, then another member",
         {paddedTwice, Member(1, "NEXT.TXT")}, FAILURE_NONE, {"NEXT.TXT", padName}},
        {"level 2 CRC over a long skipped header", {longSkipped}, FAILURE_NONE, {"BIG.TXT"}},
        {"empty folders from -lhd- entries", {Folder(1, "EMPTY|"), Folder(2, "E2|DEEP")},
         FAILURE_NONE, {"E2/", "E2/DEEP/", "EMPTY/"}},
        {"levels mixed in one archive",
         {Member(0, "A.TXT"), Member(1, "B.TXT"), Member(2, "C.TXT")}, FAILURE_NONE,
         {"A.TXT", "B.TXT", "C.TXT"}},
    };
    for (const Row& row : rows) RunRow(row);
}

TEST(HeaderLevels, HostilePathsAndHeaders) {
    MemberSpec badCrc = Member(2, "BADCRC.TXT");
    badCrc.headerCrc = true;
    Bytes badCrcBytes = BuildMember(badCrc);
    badCrcBytes[15] ^= 0x01;  // a bit of the time, covered by the header CRC
    MemberSpec levelThree = Member(1, "L3.TXT");
    Bytes levelThreeBytes = BuildMember(levelThree);
    levelThreeBytes[20] = 3;
    FixHeaderSum(&levelThreeBytes, 0);
    const Bytes levelTwo = BuildMember(InFolder(Member(2, "CUT.TXT"), "FOLDER"));
    const Bytes levelTwoCut(levelTwo.begin(), levelTwo.begin() + 34);
    Bytes overlong = BuildMember(Member(2, "OVER.TXT"));
    overlong[24] = 0xF0;  // first extended header larger than the header

    struct ByteRow {
        const char* what;
        Bytes archive;
        int failure;
    };
    const std::vector<ByteRow> byteRows = {
        {"level 2 header CRC mismatch", badCrcBytes, FAILURE_HEADER_CRC},
        {"level 3", levelThreeBytes, FAILURE_LEVEL},
        {"level 2 cut inside its extended headers", levelTwoCut, FAILURE_TRUNCATED},
        {"level 2 extended header past the header", overlong, FAILURE_BAD_HEADER},
    };
    for (const ByteRow& row : byteRows) {
        SCOPED_TRACE(row.what);
        DumpRow(row.what, row.archive);
        const std::string work = MakeTempDir();
        const std::string archive = WriteTempFile(row.archive);
        EXPECT_EQ(0, ExtractArchiveAt(nullptr, archive.c_str(), work.c_str(), 0));
        EXPECT_EQ(row.failure, extractionFailure);
        EXPECT_TRUE(ListDirectory(work).empty());
        RemoveTempDir(work);
        DeleteTestFile(archive);
    }

    MemberSpec folderWithData = Folder(1, "DIR");
    folderWithData.data = TextBytes("data");
    folderWithData.originalSize = 4;
    folderWithData.originalSizeSet = true;
    std::vector<Row> rows = {
        {"dot-dot as a folder", {InFolder(Member(1, "X.TXT"), "..|")}, FAILURE_NAME, {}},
        {"dot-dot inside a folder", {InFolder(Member(1, "X.TXT"), "A|..|..|B")}, FAILURE_NAME,
         {}},
        {"absolute folder", {InFolder(Member(2, "X.TXT"), "|tmp")}, FAILURE_NAME, {}},
        {"absolute level-0 name", {Member(0, "\\X.TXT")}, FAILURE_NAME, {}},
        {"dot-dot in a level-0 name", {Member(0, "A/../../X.TXT")}, FAILURE_NAME, {}},
        {"drive as a folder", {InFolder(Member(1, "X.TXT"), "C:")}, FAILURE_NAME, {}},
        {"device name as a folder", {InFolder(Member(1, "X.TXT"), "AUX")}, FAILURE_NAME, {}},
        {"control character in a folder", {InFolder(Member(1, "X.TXT"), "A\x01")}, FAILURE_NAME,
         {}},
        {"separator in a level-1 name", {Member(1, "A\\X.TXT")}, FAILURE_NAME, {}},
        {"folder entry without a path", {Folder(1, "")}, FAILURE_NAME, {}},
        {"path longer than the limit",
         {InFolder(Member(1, std::string(60, 'X')),
                   std::string(100, 'A') + "|" + std::string(100, 'B'))},
         FAILURE_PATH_TOO_LONG, {}},
        {"folder entry with data", {folderWithData}, FAILURE_BAD_HEADER, {}},
        {"file without a name of its own", {InFolder(Member(2, ""), "DIR")}, FAILURE_NAME, {}},
        {"level-0 file name ending in a separator", {Member(0, "DIR\\")}, FAILURE_NAME, {}},
        {"a file where a folder must go", {Member(1, "A"), InFolder(Member(1, "X.TXT"), "A")},
         FAILURE_NOT_FOLDER, {"A"}},
    };
    for (const Row& row : rows) RunRow(row);
}

TEST(HeaderLevels, LevelTwoTimeIsUnixTime) {
    const std::string work = MakeTempDir();
    MemberSpec member = Member(2, "TIME.TXT");
    member.unixTime = 1234567890;
    const std::string archive = WriteTempFile(BuildArchive({BuildMember(member)}));
    ASSERT_EQ(1, ExtractArchiveAt(nullptr, archive.c_str(), work.c_str(), 0));
    EXPECT_EQ(1234567890, FileWriteTime(JoinTestPath(work, "TIME.TXT")));
    RemoveTempDir(work);
    DeleteTestFile(archive);
}

#ifndef _WIN32
// A folder of the member's path that is a link to elsewhere is never followed.
TEST(HeaderLevels, LinkInTheWayIsNotFollowed) {
    const std::string root = MakeTempDir();
    const std::string work = JoinTestPath(root, "work");
    const std::string outside = JoinTestPath(root, "outside");
    ASSERT_EQ(0, mkdir(work.c_str(), 0755));
    ASSERT_EQ(0, mkdir(outside.c_str(), 0755));
    ASSERT_EQ(0, symlink(outside.c_str(), JoinTestPath(work, "DIR").c_str()));
    const std::string archive =
        WriteTempFile(BuildArchive({BuildMember(InFolder(Member(1, "EVIL.TXT"), "DIR"))}));
    EXPECT_EQ(0, ExtractArchiveAt(nullptr, archive.c_str(), work.c_str(), 0));
    EXPECT_EQ(FAILURE_NOT_FOLDER, extractionFailure);
    EXPECT_TRUE(ListDirectory(outside).empty());
    RemoveTempDir(root);
    DeleteTestFile(archive);
}
#endif

#ifndef _WIN32
// The tool on Linux takes a level-1 member's Unix time header as its file time (the
// stub, built for Windows, keeps the DOS time).
TEST(HeaderLevels, UnixTimeHeaderGivesTheFileTime) {
    MemberSpec member = Member(1, "TIME.TXT");
    member.extended = {Bytes{0x54, 0x00, 0xF1, 0x53, 0x65}};  // 1700000000
    const std::string archive = WriteTempFile(BuildArchive({BuildMember(member)}));
    const std::string work = MakeTempDir();
    ResetRecordingUi();
    ASSERT_EQ(1, ExtractArchiveAt(nullptr, archive.c_str(), work.c_str(), 0));
    struct stat info;
    ASSERT_EQ(0, stat(JoinTestPath(work, "TIME.TXT").c_str(), &info));
    EXPECT_EQ(1700000000, info.st_mtime);
    RemoveTempDir(work);
    DeleteTestFile(archive);
}
#endif

// Extended header 0x42 gives 64-bit sizes: at level 2 they replace the base header's
// 32-bit ones; a level-1 header must repeat its own there. Sizes of 4 GiB or more are
// read by the tool and refused by the stub, whose file offsets have 32 bits.
TEST(HeaderLevels, SixtyFourBitSizes) {
    const Bytes text = TextBytes("eleven byte");
    auto sizes = [](uint64_t packed, uint64_t original) {
        Bytes content{0x42};
        for (int k = 0; k < 8; ++k) content.push_back(static_cast<uint8_t>(packed >> (8 * k)));
        for (int k = 0; k < 8; ++k) content.push_back(static_cast<uint8_t>(original >> (8 * k)));
        return content;
    };
    // A stored member of `text` whose base header says `base` for both sizes.
    auto member = [&](int level, const Bytes& extended, uint32_t base) {
        MemberSpec stored = Member(level, "BIG.BIN");
        stored.data = text;
        stored.extended = {extended};
        Bytes bytes = BuildMember(stored);
        if (base != 0) {
            for (int k = 0; k < 4; ++k) {
                bytes[7 + k] = static_cast<uint8_t>(base >> (8 * k));
                bytes[11 + k] = static_cast<uint8_t>(base >> (8 * k));
            }
        }
        if (level != 2) FixHeaderSum(&bytes, 0);
        return bytes;
    };
    const uint64_t huge = (uint64_t(1) << 32) + 11;
    struct SizeRow {
        const char* what;
        Bytes archive;
        int failure;
    };
    const std::vector<SizeRow> rows = {
        {"level 2: 0x42 sizes over short base sizes", member(2, sizes(11, 11), 3), FAILURE_NONE},
        {"level 2: 0x42 sizes as the base sizes", member(2, sizes(11, 11), 0), FAILURE_NONE},
#ifdef _WIN32
        {"level 2: 4 GiB and more", member(2, sizes(huge, huge), 11), FAILURE_TOO_LARGE},
#else
        {"level 2: 4 GiB and more, cut short", member(2, sizes(huge, huge), 11), FAILURE_TRUNCATED},
#endif
        {"level 2: 0x42 of 8 bytes", member(2, Bytes(9, 0x42), 0), FAILURE_BAD_HEADER},
        // Level 1: the packed size counts the 19 bytes of the extended header.
        {"level 1: 0x42 repeats the base sizes", member(1, sizes(30, 11), 0), FAILURE_NONE},
        {"level 1: 0x42 contradicts the base sizes", member(1, sizes(huge, huge), 0),
         FAILURE_TOO_LARGE},
    };
    for (const SizeRow& row : rows) {
        SCOPED_TRACE(row.what);
        DumpRow(row.what, BuildArchive({row.archive}));
        const std::string archive = WriteTempFile(BuildArchive({row.archive}));
        const std::string work = MakeTempDir();
        ResetRecordingUi();
        EXPECT_EQ(row.failure == FAILURE_NONE ? 1 : 0,
                  ExtractArchiveAt(nullptr, archive.c_str(), work.c_str(), 0));
        EXPECT_EQ(row.failure, extractionFailure);
        if (row.failure == FAILURE_NONE) {
            Bytes written;
            EXPECT_TRUE(ReadFileBytes(JoinTestPath(work, "BIG.BIN"), &written));
            EXPECT_EQ(text, written);
        }
        RemoveTempDir(work);
        DeleteTestFile(archive);
    }
}
