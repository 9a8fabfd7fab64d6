// CRC-16 and member headers: check values, sum coverage, field offsets, terminator.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "support/archive_builder.h"

namespace {

uint16_t CoreCrc(const Bytes& bytes, bool blockwise) {
    BuildCrcTable();
    extractionState.runningCrc = 0;
    if (blockwise) {
        UpdateCrcBlock(bytes.data(), static_cast<uint32_t>(bytes.size()));
    } else {
        for (uint8_t byte : bytes) UpdateCrc(byte);
    }
    return extractionState.runningCrc;
}

// Opens the reader on archive bytes placed at offset 0 of a temporary file.
void OpenOn(const Bytes& bytes) {
    if (archiveReader.handle != 0) archiveReader.Close();
    ASSERT_EQ(1, archiveReader.Open(WriteTempFile(bytes).c_str()));
}

TEST(Crc16, TableHasTheClassicEntries) {
    BuildCrcTable();
    EXPECT_EQ(0x0000, Crc16Table[0][0]);
    EXPECT_EQ(0xC0C1, Crc16Table[0][1]);
    EXPECT_EQ(0xC181, Crc16Table[0][2]);
    EXPECT_EQ(0x0140, Crc16Table[0][3]);
    EXPECT_EQ(0xA001, Crc16Table[0][128]);
    EXPECT_EQ(0x4040, Crc16Table[0][255]);
}

TEST(Crc16, CheckValuesBytewiseAndBlockwise) {
    for (bool blockwise : {false, true}) {
        EXPECT_EQ(0x0000, CoreCrc(Bytes(), blockwise));
        EXPECT_EQ(0x9738, CoreCrc(TextBytes("abc"), blockwise));
        EXPECT_EQ(0xBB3D, CoreCrc(TextBytes("123456789"), blockwise));
    }
}

TEST(Crc16, BlockwiseMatchesBitwiseAtEveryLengthAndStart) {
    Bytes data(1000);
    uint32_t seed = 12345;
    for (uint8_t& byte : data) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    for (size_t length : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 63u, 64u, 65u, 79u, 80u, 127u, 128u,
                          129u, 191u, 192u, 255u, 1000u}) {
        const Bytes part(data.begin(), data.begin() + static_cast<long>(length));
        EXPECT_EQ(ReferenceCrc16(part), CoreCrc(part, true)) << length;
    }
    // Folding in pieces continues the same CRC.
    BuildCrcTable();
    extractionState.runningCrc = 0;
    UpdateCrcBlock(data.data(), 333);
    UpdateCrcBlock(data.data() + 333, 667);
    EXPECT_EQ(ReferenceCrc16(data), extractionState.runningCrc);
    // From an odd address.
    extractionState.runningCrc = 0;
    UpdateCrcBlock(data.data(), 1);
    UpdateCrcBlock(data.data() + 1, 999);
    EXPECT_EQ(ReferenceCrc16(data), extractionState.runningCrc);
}

TEST(Headers, FieldsComeFromTheirOffsets) {
    MemberSpec member;
    member.method = "-lh5-";
    member.name = "NAME.EXE";
    member.data = Bytes(10, 0xAA);
    member.originalSizeSet = true;
    member.originalSize = 0x01020304;
    member.crcSet = true;
    member.crc = 0xBEEF;
    member.time = 0x1234;
    member.date = 0x5678;
    OpenOn(BuildArchive({BuildMember(member)}));
    ASSERT_EQ(1, ReadMemberHeader());
    const ExtractionState& state = extractionState;
    EXPECT_EQ(25 + 8, state.headerSize);
    EXPECT_EQ(10u, state.packedRemaining);
    EXPECT_EQ(0x01020304u, state.originalRemaining);
    EXPECT_EQ(0x1234, state.fileTime);
    EXPECT_EQ(0x5678, state.fileDate);
    EXPECT_EQ(0xBEEF, state.storedCrc);
    // The terminator lands on the first CRC byte, after the CRC was taken.
    EXPECT_STREQ("NAME.EXE", reinterpret_cast<const char*>(state.headerBuffer + 20));
    EXPECT_EQ(0, state.headerBuffer[20 + 8]);
    EXPECT_EQ(0x1234u, GetHeaderField(13, 2));
    EXPECT_EQ(0x56781234u, GetHeaderField(13, 4));
    // The reader stands on the member's data.
    EXPECT_EQ(2u + 25 + 8, archiveReader.consumedBytes);
    EXPECT_EQ(0xAA, archiveReader.ReadByte());
    archiveReader.Close();
}

TEST(Headers, ExtraBytesBeforeTheCrcAreAllowed) {
    // The trailing fields are found from the header's end, not from the name length.
    MemberSpec member;
    member.name = "A";
    member.extraHeaderBytes = 7;
    member.crcSet = true;
    member.crc = 0x4321;
    OpenOn(BuildArchive({BuildMember(member)}));
    ASSERT_EQ(1, ReadMemberHeader());
    EXPECT_EQ(25 + 1 + 7, extractionState.headerSize);
    EXPECT_EQ(0x4321, extractionState.storedCrc);
    EXPECT_STREQ("A", reinterpret_cast<const char*>(extractionState.headerBuffer + 20));
    archiveReader.Close();
}

TEST(Headers, SumCoversEveryHeaderByteButNotSizeAndSum) {
    const Bytes good = BuildArchive({StoredMember("SUM.TXT", TextBytes("x"))});
    const size_t headerSize = good[0];
    for (size_t i = 2; i < 2 + headerSize; ++i) {
        Bytes bad = good;
        bad[i] ^= 0x01;
        OpenOn(bad);
        EXPECT_EQ(2, ReadMemberHeader()) << "byte " << i;
        EXPECT_EQ(FAILURE_HEADER_SUM, extractionFailure);
        archiveReader.Close();
    }
    OpenOn(good);
    EXPECT_EQ(1, ReadMemberHeader());
    archiveReader.Close();
}

TEST(Headers, EndMarkerAndEndOfFile) {
    // A size byte of 0 ends the archive without a second byte being read.
    OpenOn(Bytes{0, 0x55});
    EXPECT_EQ(0, ReadMemberHeader());
    EXPECT_EQ(1u, archiveReader.consumedBytes);
    archiveReader.Close();
    // No bytes at all read as an archive without members.
    OpenOn(Bytes());
    EXPECT_EQ(0, ReadMemberHeader());
    EXPECT_EQ(1u, archiveReader.atEnd);
    archiveReader.Close();
}

TEST(Headers, RefusedShapes) {
    struct Case {
        const char* what;
        int cut;          // bytes removed from the end of the archive (end marker included)
        int nameLength;   // overrides the name length byte when >= 0
        int headerSize;   // overrides the header size byte when >= 0
    };
    const Case cases[] = {
        {"file ends inside the header", 10, -1, -1},
        {"file ends after the size byte", 0, -1, -1},
        {"name reaches into the CRC", 0, 9, -1},
        {"name reaches past the header", 0, 200, -1},
        {"header smaller than the fixed fields", 0, -1, 19},
        {"header smaller than fixed plus trailing fields", 0, 0, 24},
    };
    for (const Case& c : cases) {
        Bytes archive = BuildArchive({StoredMember("FIVE5", Bytes())}, false);
        if (std::string(c.what) == "file ends after the size byte") archive.resize(1);
        if (c.nameLength >= 0) archive[2 + 19] = static_cast<uint8_t>(c.nameLength);
        if (c.headerSize >= 0) archive[0] = static_cast<uint8_t>(c.headerSize);
        if (c.cut > 0) archive.resize(archive.size() - static_cast<size_t>(c.cut));
        if (archive.size() > 2) FixHeaderSum(&archive, 0);
        OpenOn(archive);
        EXPECT_EQ(2, ReadMemberHeader()) << c.what;
        EXPECT_NE(FAILURE_NONE, extractionFailure) << c.what;
        archiveReader.Close();
    }
}

TEST(Headers, LongestNameFitsTheBuffer) {
    const std::string name(230, 'N');
    OpenOn(BuildArchive({StoredMember(name, Bytes())}));
    ASSERT_EQ(1, ReadMemberHeader());
    EXPECT_EQ(255, extractionState.headerSize);
    EXPECT_EQ(name, reinterpret_cast<const char*>(extractionState.headerBuffer + 20));
    archiveReader.Close();
}

}  // namespace
