// The decoder's bit input: priming, MSB-first fields, lazy byte taking, zero bits
// past the member's packed data.
#include <gtest/gtest.h>

#include "decode/bits.h"
#include "support/test_files.h"

namespace {

// Opens the reader on a file holding bytes, with packed of them counted as the member.
void OpenPacked(const Bytes& bytes, uint32_t packed) {
    ASSERT_EQ(1, archiveReader.Open(WriteTempFile(bytes).c_str()));
    extractionState.packedRemaining = packed;
}

TEST(BitInput, WorkedExample) {
    OpenPacked({0x12, 0x34, 0x56, 0x78, 0x9A}, 5);
    InitBits();
    EXPECT_EQ(0x12345678u, bitReader.bitBuffer);
    EXPECT_EQ(0x78u, bitReader.spareByte);
    EXPECT_EQ(0, bitReader.spareBits);

    EXPECT_EQ(0x1u, GetBits(4));
    EXPECT_EQ(0x23456789u, bitReader.bitBuffer);
    EXPECT_EQ(0x9Au, bitReader.spareByte);
    EXPECT_EQ(4, bitReader.spareBits);

    EXPECT_EQ(0x234u, GetBits(12));
    EXPECT_EQ(0x56789A00u, bitReader.bitBuffer);
    EXPECT_EQ(0u, bitReader.spareByte);  // the sixth byte, supplied as 0
    EXPECT_EQ(0, bitReader.spareBits);
    EXPECT_EQ(0u, extractionState.packedRemaining);
    EXPECT_EQ(5u, archiveReader.consumedBytes);
    archiveReader.Close();
}

TEST(BitInput, ShortMembersPrimeOnlyTheirBytesAndLeaveTheRest) {
    // The file goes on after the member (as the next header would): those bytes must
    // neither enter the bit buffer nor be taken from the reader.
    const Bytes file = {0xA1, 0xB2, 0xC3, 0xEE, 0xEE, 0xEE, 0xEE};
    const uint32_t expected[] = {0x00000000u, 0xA1000000u, 0xA1B20000u, 0xA1B2C300u};
    for (uint32_t packed = 0; packed <= 3; ++packed) {
        SCOPED_TRACE(packed);
        OpenPacked(file, packed);
        InitBits();
        EXPECT_EQ(expected[packed], bitReader.bitBuffer);
        EXPECT_EQ(0u, extractionState.packedRemaining);
        EXPECT_EQ(packed, archiveReader.consumedBytes);
        // Past the packed data every bit is 0, however much is asked for.
        for (int i = 0; i < 6; ++i) GetBits(16);
        FillBits(32);
        EXPECT_EQ(0u, bitReader.bitBuffer);
        EXPECT_EQ(packed, archiveReader.consumedBytes);
        EXPECT_EQ(file[packed], archiveReader.ReadByte());  // the reader stands after them
        archiveReader.Close();
    }
}

TEST(BitInput, FillZeroAndFillThirtyTwo) {
    OpenPacked({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09}, 9);
    InitBits();
    FillBits(0);
    EXPECT_EQ(0x01020304u, bitReader.bitBuffer);
    EXPECT_EQ(4u, archiveReader.consumedBytes);
    GetBits(4);
    FillBits(32);  // a whole buffer in one step, across a partly used byte
    EXPECT_EQ(0x50607080u, bitReader.bitBuffer);
    EXPECT_EQ(4, bitReader.spareBits);
    EXPECT_EQ(9u, archiveReader.consumedBytes);
    archiveReader.Close();
}

TEST(BitInput, BytesAreTakenOnlyAsTheLookAheadNeedsThem) {
    // After k bits, min(packed size, ceil((32 + k) / 8)) bytes have been taken, and the
    // fields read back the stream exactly.
    Bytes bytes(64);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    const uint32_t packed = 60;
    OpenPacked(bytes, packed);
    InitBits();
    uint32_t taken = 0;
    uint32_t seed = 12345;
    while (taken < packed * 8 + 40) {
        seed = seed * 1103515245u + 12345u;
        const int n = 1 + static_cast<int>((seed >> 16) % 16);
        uint32_t expected = 0;
        for (int i = 0; i < n; ++i) {
            const uint32_t bit = taken + static_cast<uint32_t>(i);
            const uint32_t byte = bit / 8 < packed ? bytes[bit / 8] : 0;
            expected = (expected << 1) | ((byte >> (7 - bit % 8)) & 1);
        }
        ASSERT_EQ(expected, GetBits(n)) << "at bit " << taken;
        taken += static_cast<uint32_t>(n);
        const uint32_t needed = (32 + taken + 7) / 8;
        ASSERT_EQ(needed < packed ? needed : packed, archiveReader.consumedBytes);
    }
    archiveReader.Close();
}

TEST(BitInput, FileEndingInsideTheMemberReadsAsZeros) {
    // Five packed bytes announced, three in the file: the missing ones count down
    // packedRemaining and read as 0.
    OpenPacked({0xFF, 0xFF, 0xFF}, 5);
    InitBits();
    EXPECT_EQ(0xFFFFFF00u, bitReader.bitBuffer);
    EXPECT_EQ(1u, extractionState.packedRemaining);
    EXPECT_EQ(1u, archiveReader.atEnd);
    GetBits(8);
    EXPECT_EQ(0u, extractionState.packedRemaining);
    EXPECT_EQ(0xFFFF0000u, bitReader.bitBuffer);
    archiveReader.Close();
}

TEST(BitInput, ShiftsByThirtyTwoGiveZero) {
    EXPECT_EQ(0u, ShiftLeft32(0xFFFFFFFFu, 32));
    EXPECT_EQ(0u, ShiftRight32(0xFFFFFFFFu, 32));
    EXPECT_EQ(0x80000000u, ShiftLeft32(1u, 31));
}

}  // namespace
