// Hostile archives: one row per case, each with the outcome extraction must give and a
// check that nothing outside the work directory changed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <stdio.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "extract/extract.h"
#include "support/hostile_builder.h"
#include "support/recording_ui.h"
#include "support/test_files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

enum Outcome {
    SUCCEEDS,           // result 1
    FAILS_BEFORE_FILE,  // result 0; no file for the hostile member
    FAILS_INSIDE,       // result 0; the member's file may exist, inside the work directory
};

struct Row {
    const char* what;
    Bytes hostile;      // appended after one good stored member
    Outcome outcome;
    int failure;        // the ExtractionFailure expected (FAILURE_NONE for SUCCEEDS)
    std::vector<std::string> files;  // the hostile member's files that may (or, for
                                     // SUCCEEDS, must) be in the work directory
    bool endMarker = true;
    bool longWorkDirectory = false;
};

const char GOOD_NAME[] = "GOOD.TXT";

bool IsDirectory(const std::string& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    return FileExists(JoinTestPath(path, "."));  // "." resolves only inside a directory
#endif
}

// Every path below root with its contents, directories marked by a trailing "/".
void Snapshot(const std::string& root, const std::string& relative,
              std::map<std::string, Bytes>* entries) {
    for (const std::string& name : ListDirectory(root)) {
        const std::string path = JoinTestPath(root, name);
        const std::string key = relative + name;
        if (IsDirectory(path)) {
            (*entries)[key + "/"] = Bytes();
            Snapshot(path, key + "/", entries);
        } else {
            ReadFileBytes(path, &(*entries)[key]);
        }
    }
}

// A sandbox: root/archive.lzh, root/outside.txt, root/outer/work (the work directory).
struct Sandbox {
    std::string root;
    std::string archive;
    std::string leaf;  // the work directory's own name
    std::string work;

    Sandbox(const Bytes& bytes, bool longWorkDirectory)
        : leaf(longWorkDirectory ? std::string(120, 'W') : std::string("work")) {
        root = MakeTempDir();
        archive = JoinTestPath(root, "archive.lzh");
        WriteFileBytes(archive, bytes);
        WriteFileBytes(JoinTestPath(root, "outside.txt"), TextBytes("outside\n"));
        work = MakeWorkDirectory();
    }
    ~Sandbox() { RemoveTempDir(root); }

    // A directory is made by MakeTempDir and moved into place, which needs nothing
    // beyond the helpers and the standard library on either platform.
    std::string MakeWorkDirectory() {
        const std::string outer = JoinTestPath(root, "outer");
        const std::string made = JoinTestPath(outer, leaf);
        const std::string a = MakeTempDir();
        const std::string b = MakeTempDir();
        EXPECT_EQ(0, std::rename(a.c_str(), outer.c_str()));
        EXPECT_EQ(0, std::rename(b.c_str(), made.c_str()));
        return made;
    }
};

Bytes GoodMember() { return StoredMember(GOOD_NAME, TextBytes("good\n")); }

void RunRow(const Row& row) {
    SCOPED_TRACE(row.what);
    Bytes archive = GoodMember();
    archive.insert(archive.end(), row.hostile.begin(), row.hostile.end());
    if (row.endMarker) archive.push_back(0);
    DumpRow(row.what, archive);
    Sandbox box(archive, row.longWorkDirectory);

    std::map<std::string, Bytes> before;
    Snapshot(box.root, "", &before);
    ResetRecordingUi();
    // Positions before a member's start read this, not bytes of earlier runs.
    memset(extractionState.windowBuffer, 0x5A, sizeof extractionState.windowBuffer);

    const int result = ExtractArchiveAt(nullptr, box.archive.c_str(), box.work.c_str(), 0);
    const int failure = extractionFailure;
    EXPECT_EQ(row.outcome == SUCCEEDS ? 1 : 0, result);
    EXPECT_EQ(row.failure, failure);
    EXPECT_EQ(0, archiveReader.handle) << "reader left open";

    // Outside the work directory nothing changed.
    std::map<std::string, Bytes> after;
    Snapshot(box.root, "", &after);
    const std::string workKey = "outer/" + box.leaf + "/";
    std::vector<std::string> inside;
    for (auto it = after.begin(); it != after.end();) {
        if (it->first.compare(0, workKey.size(), workKey) == 0 && it->first != workKey) {
            inside.push_back(it->first.substr(workKey.size()));
            it = after.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = before.begin(); it != before.end(); ++it) {
        EXPECT_TRUE(after.count(it->first) == 1 && after[it->first] == it->second)
            << "changed outside the work directory: " << it->first;
    }
    for (auto it = after.begin(); it != after.end(); ++it) {
        EXPECT_EQ(1u, before.count(it->first)) << "created outside the work directory: "
                                               << it->first;
    }

    // Inside: the good member, and the hostile member's files only as the outcome allows.
    std::vector<std::string> allowed = {GOOD_NAME};
    if (row.outcome != FAILS_BEFORE_FILE) {
        allowed.insert(allowed.end(), row.files.begin(), row.files.end());
    }
    for (const std::string& name : inside) {
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end())
            << "unexpected file in the work directory: " << name;
    }
    EXPECT_NE(std::find(inside.begin(), inside.end(), GOOD_NAME), inside.end());
    if (row.outcome == SUCCEEDS) {
        for (const std::string& name : row.files) {
            EXPECT_NE(std::find(inside.begin(), inside.end(), name), inside.end())
                << "missing " << name;
        }
    }
}

Bytes Stored(const std::string& name, const std::string& text) {
    return StoredMember(name, TextBytes(text));
}

Bytes WithName(const std::string& name) { return Stored(name, "hostile\n"); }

// A -lh5- member decoding `bits` (a whole stream) to original size `size` with CRC `crc`.
Bytes Lh5(const StreamWriter& bits, uint32_t size, uint16_t crc) {
    return PackedMember("-lh5-", "PACKED.BIN", bits.Finish(), size, crc);
}

}  // namespace

TEST(HostileArchive, MemberNamesThatLeaveOrAbuseTheWorkDirectory) {
    std::vector<Row> rows = {
        {"dot-dot", WithName(".."), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"single dot", WithName("."), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"empty name", WithName(""), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"parent with backslash", WithName("..\\VXEVIL.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME,
         {}},
        {"parent with slash", WithName("../VXEVIL.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"backslash inside", WithName("SUB\\VXEVIL.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"slash inside", WithName("SUB/VXEVIL.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"rooted", WithName("\\VXEVIL.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"absolute posix", WithName("/tmp/VXEVIL.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"drive letter", WithName("C:\\VXEVIL.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"drive-relative", WithName("C:VXEVIL.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"alternate stream", WithName("GOOD.TXT:evil"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"device CON", WithName("CON"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"device with extension", WithName("nul.txt"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"device COM1", WithName("COM1"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"device LPT9 with space", WithName("LPT9 .LOG"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"control character", WithName("VX\x01" "EVIL.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME,
         {}},
        {"escape character", WithName("VX\x1B[2J.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"wildcard", WithName("VX*.TXT"), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"trailing dot", WithName("VXEVIL."), FAILS_BEFORE_FILE, FAILURE_NAME, {}},
        {"ordinary name", WithName("README.TXT"), SUCCEEDS, FAILURE_NONE, {"README.TXT"}},
        {"same name twice replaces", WithName(GOOD_NAME), SUCCEEDS, FAILURE_NONE, {}},
    };
    for (const Row& row : rows) RunRow(row);
}

// 0x83 0x5C is a katakana letter in Shift_JIS; its trail byte is the backslash's code.
TEST(HostileArchive, ShiftJisNameWithBackslashTrailByte) {
    const std::string name = "\x83\x5C.TXT";
#ifdef _WIN32
    // Under another ANSI code page 0x5C is a separator there, and the name is refused.
    const bool doubleByte = IsDBCSLeadByte(0x83) != 0;
#else
    const unsigned saved = PlatformCodePage();
    PlatformSetCodePage(932);
    const bool doubleByte = true;
#endif
    if (doubleByte) {
        RunRow({"Shift_JIS name", WithName(name), SUCCEEDS, FAILURE_NONE, {name}});
        RunRow({"lead byte at the end", WithName("VX\x83"), FAILS_BEFORE_FILE, FAILURE_NAME, {}});
    } else {
        RunRow({"0x5C separator", WithName(name), FAILS_BEFORE_FILE, FAILURE_NAME, {}});
    }
#ifndef _WIN32
    PlatformSetCodePage(saved);
#endif
}

TEST(HostileArchive, HeadersWhoseFieldsDoNotFit) {
    Bytes badSum = WithName("SUM.TXT");
    badSum[1] ^= 0x01;
    std::vector<Row> rows = {
        {"headerSize below the fixed fields", RawHeaderMember(20, 0, "", Bytes()),
         FAILS_BEFORE_FILE, FAILURE_BAD_HEADER, {}},
        {"headerSize 0x18, one short", RawHeaderMember(24, 0, "", Bytes()), FAILS_BEFORE_FILE,
         FAILURE_BAD_HEADER, {}},
        {"name length past the header", RawHeaderMember(30, 200, "VXEVIL", Bytes()),
         FAILS_BEFORE_FILE, FAILURE_BAD_HEADER, {}},
        {"name running into the CRC", RawHeaderMember(30, 6, "VXEVIL", Bytes()),
         FAILS_BEFORE_FILE, FAILURE_BAD_HEADER, {}},
        {"largest header size, name fits", RawHeaderMember(255, 5, "X.TXT", Bytes()), SUCCEEDS,
         FAILURE_NONE, {"X.TXT"}},
        {"header sum mismatch", badSum, FAILS_BEFORE_FILE, FAILURE_HEADER_SUM, {}},
        {"method -lh1-", PackedMember("-lh1-", "M.BIN", Bytes(4), 1, 0), FAILS_BEFORE_FILE,
         FAILURE_METHOD, {}},
        {"method -LH5-", PackedMember("-LH5-", "M.BIN", Bytes(4), 1, 0), FAILS_BEFORE_FILE,
         FAILURE_METHOD, {}},
        {"method -lhe-", PackedMember("-lhe-", "M.BIN", Bytes(), 0, 0), FAILS_BEFORE_FILE,
         FAILURE_METHOD, {}},
    };
    for (const Row& row : rows) RunRow(row);
}

TEST(HostileArchive, OutputPathLongerThanTheBuffer) {
    // Work directory of 120 characters below the temporary directory, name of 200.
    const std::string name(200, 'N');
    RunRow({"path over 300 characters", WithName(name), FAILS_BEFORE_FILE,
            FAILURE_PATH_TOO_LONG, {}, true, true});
}

TEST(HostileArchive, ExtendedHeaderChains) {
    MemberSpec sizeTwo;
    sizeTwo.name = "EXT2.TXT";
    sizeTwo.data = TextBytes("after an empty extended header\n");
    sizeTwo.extended = {Bytes()};  // size 2: no type byte, the next size at once

    // A size of 1 makes the skip count 2^32 - 1: it runs to the end of the file.
    Bytes sizeOne = WithName("EXT1.TXT");
    const size_t sizeOneField = 2 + sizeOne[0] - 2;
    sizeOne[sizeOneField] = 1;
    FixHeaderSum(&sizeOne, 0);

    // Each extended header names a next one until the file ends (the last size field,
    // which would end the chain, is cut off).
    MemberSpec chain;
    chain.name = "CHAIN.TXT";
    for (int i = 0; i < 2000; ++i) chain.extended.push_back(Bytes{0x7F});
    const Bytes chained = BuildMember(chain);
    const Bytes endless = Cut(chained, chained.size() - 2);

    MemberSpec cutInside;
    cutInside.name = "CUT.TXT";
    cutInside.extended = {Bytes(40, 0x41)};
    const Bytes cutMember = BuildMember(cutInside);

    std::vector<Row> rows = {
        {"size 2", BuildMember(sizeTwo), SUCCEEDS, FAILURE_NONE, {"EXT2.TXT"}},
        {"size 1", sizeOne, FAILS_BEFORE_FILE, FAILURE_BAD_HEADER, {}, false},
        {"chain to the end of the file", endless, FAILS_BEFORE_FILE, FAILURE_TRUNCATED, {},
         false},
        {"file ends inside an extended header",
         Cut(cutMember, cutMember.size() - 20), FAILS_BEFORE_FILE, FAILURE_TRUNCATED, {}, false},
    };
    for (const Row& row : rows) RunRow(row);
}

TEST(HostileArchive, SizesAndFilesCutShort) {
    const Bytes stored = Stored("STORED.TXT", std::string(5000, 's'));
    Bytes letters;
    const Bytes stream = TwoLetterStream(8000, 0x9E3779B9u, &letters);
    const Bytes packed = PackedMember("-lh5-", "PACKED.BIN", stream, 8000, ReferenceCrc16(letters));
    // The same member with a zero byte more in its declared packed data: cutting that
    // byte off loses no bit of the stream, yet the file is still short.
    Bytes padded = stream;
    padded.push_back(0);
    const Bytes paddedMember =
        PackedMember("-lh5-", "PADDED.BIN", padded, 8000, ReferenceCrc16(letters));

    MemberSpec hugeStored;
    hugeStored.name = "HUGE.TXT";
    hugeStored.data = TextBytes("short");
    hugeStored.originalSize = 0xFFFFFFFF;
    hugeStored.originalSizeSet = true;
    Bytes hugeStoredMember = BuildMember(hugeStored);
    for (int i = 0; i < 4; ++i) hugeStoredMember[2 + 5 + i] = 0xFF;  // packed size too
    FixHeaderSum(&hugeStoredMember, 0);

    Bytes hugePacked = PackedMember("-lh5-", "HUGE.BIN", stream, 0xFFFFFFFF, 0);
    for (int i = 0; i < 4; ++i) hugePacked[2 + 5 + i] = 0xFF;
    FixHeaderSum(&hugePacked, 0);

    std::vector<Row> rows = {
        {"file ends after the header size byte", Bytes{30}, FAILS_BEFORE_FILE,
         FAILURE_BAD_HEADER, {}, false},
        {"file ends inside a header", Cut(stored, 12), FAILS_BEFORE_FILE, FAILURE_BAD_HEADER,
         {}, false},
        {"file ends inside stored data", Cut(stored, stored.size() - 100), FAILS_INSIDE,
         FAILURE_TRUNCATED, {"STORED.TXT"}, false},
        {"file ends inside packed data", Cut(packed, packed.size() - stream.size() / 2),
         FAILS_INSIDE, FAILURE_TRUNCATED, {"PACKED.BIN"}, false},
        {"file ends inside packed padding", Cut(paddedMember, paddedMember.size() - 1),
         FAILS_INSIDE, FAILURE_TRUNCATED, {"PADDED.BIN"}, false},
        {"whole packed member, no end marker", packed, SUCCEEDS, FAILURE_NONE, {"PACKED.BIN"},
         false},
        {"stored sizes 0xFFFFFFFF", hugeStoredMember, FAILS_INSIDE, FAILURE_TRUNCATED,
         {"HUGE.TXT"}},
        {"packed sizes 0xFFFFFFFF", hugePacked, FAILS_INSIDE, FAILURE_TRUNCATED, {"HUGE.BIN"}},
    };
    for (const Row& row : rows) RunRow(row);
}

TEST(HostileArchive, CompressedDataOutsideTheLimits) {
    const uint16_t WRONG_CRC = 0x1234;  // zero output must not match it by chance
    auto stream = [](const std::function<void(StreamWriter*)>& body) {
        StreamWriter w;
        w.Put(1, 16);  // block size
        body(&w);
        for (int i = 0; i < 8; ++i) w.Put(0, 8);
        return w;
    };
    std::vector<std::pair<const char*, StreamWriter>> bad = {
        {"length code: length escape over 16", stream([](StreamWriter* w) {
             w->Put(1, 5);
             w->PutEscape(10);
         })},
        {"length code: over-full set", stream([](StreamWriter* w) {
             w->Put(3, 5);
             w->PutLength(1);
             w->PutLength(1);
             w->PutLength(1);
             w->Put(0, 2);
         })},
        {"length code: incomplete set", stream([](StreamWriter* w) {
             w->Put(2, 5);
             w->PutLength(1);
             w->PutLength(2);
         })},
        {"length code: no length at all", stream([](StreamWriter* w) {
             w->Put(3, 5);
             w->PutLength(0);
             w->PutLength(0);
             w->PutLength(0);
             w->Put(0, 2);
         })},
        {"length code: single symbol 19", stream([](StreamWriter* w) {
             w->Put(0, 5);
             w->Put(19, 5);
         })},
        {"literal/length count 511", stream([](StreamWriter* w) {
             w->Put(0, 5);
             w->Put(3, 5);  // every length decodes as 1
             w->Put(511, 9);
         })},
        {"literal/length zero run past 510", stream([](StreamWriter* w) {
             w->Put(0, 5);
             w->Put(2, 5);  // every length is a run of 20 + 9 bits
             w->Put(510, 9);
             w->Put(511, 9);
         })},
        {"literal/length over-full set", stream([](StreamWriter* w) {
             w->Put(0, 5);
             w->Put(3, 5);
             w->Put(3, 9);  // three lengths of 1
         })},
        {"literal/length single symbol 510", stream([](StreamWriter* w) {
             w->Put(0, 5);
             w->Put(0, 5);
             w->Put(0, 9);
             w->Put(510, 9);
         })},
        {"distance code: single symbol 14 for -lh5-", stream([](StreamWriter* w) {
             w->Put(0, 5);
             w->Put(0, 5);
             w->Put(0, 9);
             w->Put('A', 9);
             w->Put(0, 4);
             w->Put(14, 4);
         })},
        {"distance code: length escape over 16", stream([](StreamWriter* w) {
             w->Put(0, 5);
             w->Put(0, 5);
             w->Put(0, 9);
             w->Put('A', 9);
             w->Put(1, 4);
             w->PutEscape(13);
         })},
    };
    for (const auto& entry : bad) {
        RunRow({entry.first, Lh5(entry.second, 100, WRONG_CRC), FAILS_INSIDE,
                FAILURE_BAD_DATA, {"PACKED.BIN"}});
    }
}

TEST(HostileArchive, CompressedDataThatMustEnd) {
    // Block size 0: the block's one-symbol codes hold for the rest of the member.
    StreamWriter blockSizeZero;
    blockSizeZero.Put(0, 16);
    PutSingleSymbolCodes(&blockSizeZero, 'A', 0, 4);
    // All zero bits: block size 0 and single symbol 0 everywhere, so zero bytes out.
    StreamWriter zeroBits;
    zeroBits.Put(0, 32);
    zeroBits.Put(0, 32);
    // A match of 3 at distance value 4 from the member's first byte: it copies window
    // bytes from before the member (set to 0x5A by the table's runner).
    StreamWriter before;
    before.Put(1, 16);
    PutSingleSymbolCodes(&before, 256, 3, 4);
    before.Put(0, 2);  // the distance code's extra bits: value 4 + 0
    // Four packed bytes, a block the decoder would refuse (single length-code symbol
    // 19): a member of original size 0 primes the bit input with them and reads nothing
    // more, and the next header follows them.
    StreamWriter refused;
    refused.Put(5, 16);
    refused.Put(0, 5);
    refused.Put(19, 5);
    Bytes primedOnly = PackedMember("-lh5-", "ZERO.BIN", refused.Finish(), 0, 0);
    const Bytes after = Stored("AFTER.TXT", "after");
    primedOnly.insert(primedOnly.end(), after.begin(), after.end());

    std::vector<Row> rows = {
        {"block size 0", Lh5(blockSizeZero, 70000, ReferenceCrc16(Bytes(70000, 'A'))),
         SUCCEEDS, FAILURE_NONE, {"PACKED.BIN"}},
        {"zero-bit stream", Lh5(zeroBits, 300000, 0), SUCCEEDS, FAILURE_NONE, {"PACKED.BIN"}},
        {"distance before the member's start",
         Lh5(before, 3, ReferenceCrc16(Bytes(3, 0x5A))), SUCCEEDS, FAILURE_NONE,
         {"PACKED.BIN"}},
        {"original size 0: primed, no symbol read", primedOnly, SUCCEEDS, FAILURE_NONE,
         {"ZERO.BIN", "AFTER.TXT"}},
    };
    for (const Row& row : rows) RunRow(row);
}

TEST(HostileArchive, HundredThousandEmptyMembers) {
    const Bytes empty = Stored("EMPTY.TXT", "");
    Bytes many;
    many.reserve(empty.size() * 100000);
    for (int i = 0; i < 100000; ++i) many.insert(many.end(), empty.begin(), empty.end());
    RunRow({"100,000 empty members", many, SUCCEEDS, FAILURE_NONE, {"EMPTY.TXT"}});
}

// A read that fails ends the data: the reader hands out no stale or foreign bytes.
TEST(HostileArchive, FailedReadEndsTheData) {
    const std::string path = WriteTempFile(BuildArchive({GoodMember()}));
    ASSERT_EQ(1, archiveReader.Open(path.c_str()));
    const HFILE real = archiveReader.handle;
    archiveReader.handle = HFILE_ERROR;  // every read now fails
    EXPECT_EQ(0, archiveReader.ReadByte());
    EXPECT_EQ(1u, archiveReader.atEnd);
    EXPECT_EQ(0u, archiveReader.consumedBytes);
    unsigned char sink[16];
    EXPECT_EQ(0u, archiveReader.ReadBytes(sink, sizeof sink));
    EXPECT_EQ(0, ReadMemberHeader());
    archiveReader.handle = real;
    archiveReader.Close();
    DeleteTestFile(path);
}

namespace {

HFILE savedHandle = HFILE_ERROR;

// Makes every read after the first member's status line fail.
void BreakReads() {
    if (savedHandle != HFILE_ERROR) return;
    savedHandle = archiveReader.handle;
    archiveReader.handle = HFILE_ERROR;
}

}  // namespace

// A read that fails where the next header would begin is not the end of the archive.
TEST(HostileArchive, FailedReadAtAMemberBoundaryFails) {
    // The first member ends exactly where the reader's first buffer does, so
    // the second header needs a refill: the read that fails.
    const size_t headerBytes = StoredMember("FIRST.BIN", Bytes()).size();
    const Bytes archive = BuildArchive({StoredMember("FIRST.BIN", Bytes(READER_BUFFER_SIZE - headerBytes, 'f')),
                                        Stored("SECOND.TXT", "second\n")});
    const std::string path = WriteTempFile(archive);
    const std::string work = MakeTempDir();
    ResetRecordingUi();
    recordingUi.onStatusLine = BreakReads;
    savedHandle = HFILE_ERROR;

    EXPECT_EQ(0, ExtractArchiveAt(nullptr, path.c_str(), work.c_str(), 0));
    EXPECT_EQ(FAILURE_READ, extractionFailure);
    EXPECT_EQ(std::vector<std::string>{"FIRST.BIN"}, ListDirectory(work));

    ASSERT_NE(HFILE_ERROR, savedHandle);
    _lclose(savedHandle);
    recordingUi.onStatusLine = nullptr;
    RemoveTempDir(work);
    DeleteTestFile(path);
}

// The walk goes by each member's packed size, whatever its decoder took: bytes left
// over in a member never read as the next header (a zero there would end the archive).
TEST(HostileArchive, PackedBytesTheDecoderLeavesAreSkipped) {
    Bytes letters;
    Bytes padded = TwoLetterStream(8000, 0x2545F491u, &letters);
    padded.insert(padded.end(), 8, 0);
    Bytes paddedThenMore =
        PackedMember("-lh5-", "PADDED.BIN", padded, 8000, ReferenceCrc16(letters));
    const Bytes after = Stored("AFTER.TXT", "after\n");
    paddedThenMore.insert(paddedThenMore.end(), after.begin(), after.end());
    Bytes emptyThenMore = PackedMember("-lh6-", "EMPTY.BIN", Bytes(10, 0), 0, 0);
    emptyThenMore.insert(emptyThenMore.end(), after.begin(), after.end());
    std::vector<Row> rows = {
        {"8 zero bytes after the last block", paddedThenMore, SUCCEEDS, FAILURE_NONE,
         {"PADDED.BIN", "AFTER.TXT"}},
        {"original size 0, packed size 10", emptyThenMore, SUCCEEDS, FAILURE_NONE,
         {"EMPTY.BIN", "AFTER.TXT"}},
        {"stored data longer than the packed size",
         PackedMember("-lh0-", "SHORT.TXT", Bytes(4, 'x'), 8, 0), FAILS_BEFORE_FILE,
         FAILURE_BAD_HEADER, {}},
    };
    for (const Row& row : rows) RunRow(row);
}

// Data the decoder refused fail the member even when the zeros it then produced match
// the stored CRC-16, and the failure comes at the first chunk, not after the declared size.
TEST(HostileArchive, RefusedDataFailAtOnceWhateverTheCrc) {
    Bytes escape = {0xFF, 0xFF, 0x9F, 0xFF, 0xC0};  // a length escape of more than 9 ones
    escape.resize(64, 0);
    RunRow({"CRC of the zeros matches", PackedMember("-lh5-", "ZEROS.BIN", escape, 100000, 0),
            FAILS_INSIDE, FAILURE_BAD_DATA, {"ZEROS.BIN"}});
    EXPECT_LE(recordingUi.positions.size(), 2u) << "chunks after the refusal";  // GOOD.TXT, 1

    Bytes noise(1 << 20);
    uint32_t state = 0x12345678u;
    for (uint8_t& byte : noise) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    // Packed size 0: the stream is zero bits past its end, which decode as valid blocks
    // of zeros whose CRC-16 is 0; taking those bits fails the member at once.
    RunRow({"4 GiB declared over no packed data",
            PackedMember("-lh5-", "BOMB.BIN", Bytes(), 0xFFFFFFFFu, 0), FAILS_INSIDE,
            FAILURE_BAD_DATA, {"BOMB.BIN"}});
    EXPECT_LE(recordingUi.positions.size(), 2u) << "chunks after the data ran out";
    RunRow({"4 GiB declared over random data",
            PackedMember("-lh5-", "HUGE.BIN", noise, 0xFFFFFFFFu, 0), FAILS_INSIDE,
            FAILURE_BAD_DATA, {"HUGE.BIN"}});
    EXPECT_LE(recordingUi.positions.size(), 64u) << "chunks after the refusal";
}
