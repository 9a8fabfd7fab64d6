// The buffered byte source: refills, the end of the data, counting.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "support/test_files.h"

namespace {

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return bytes;
}

TEST(Reader, DeliversRegionsOfWholeBuffersThenEnds) {
    for (size_t buffers : {1u, 2u, 3u}) {
        const Bytes bytes = Pattern(READER_BUFFER_SIZE * buffers);
        ASSERT_EQ(1, archiveReader.Open(WriteTempFile(bytes).c_str()));
        bool same = true;
        for (uint8_t expected : bytes) same = same && archiveReader.ReadByte() == expected;
        EXPECT_TRUE(same);
        EXPECT_EQ(0u, archiveReader.atEnd);
        EXPECT_EQ(bytes.size(), archiveReader.consumedBytes);
        EXPECT_EQ(0, archiveReader.ReadByte());
        EXPECT_EQ(1u, archiveReader.atEnd);
        // Later reads keep returning 0 and count nothing.
        EXPECT_EQ(0, archiveReader.ReadByte());
        EXPECT_EQ(bytes.size(), archiveReader.consumedBytes);
        archiveReader.Close();
        EXPECT_EQ(0, archiveReader.handle);
    }
}

TEST(Reader, ShortRegionAndEmptyRegion) {
    const Bytes bytes = Pattern(5000);
    ASSERT_EQ(1, archiveReader.Open(WriteTempFile(bytes).c_str()));
    ASSERT_NE(HFILE_ERROR, _llseek(archiveReader.handle, 4990, FILE_BEGIN));
    for (size_t i = 4990; i < 5000; ++i) ASSERT_EQ(bytes[i], archiveReader.ReadByte());
    EXPECT_EQ(0, archiveReader.ReadByte());
    EXPECT_EQ(1u, archiveReader.atEnd);
    EXPECT_EQ(10u, archiveReader.consumedBytes);
    archiveReader.Close();

    ASSERT_EQ(1, archiveReader.Open(WriteTempFile(bytes).c_str()));
    ASSERT_NE(HFILE_ERROR, _llseek(archiveReader.handle, 0, FILE_END));
    EXPECT_EQ(0, archiveReader.ReadByte());
    EXPECT_EQ(1u, archiveReader.atEnd);
    EXPECT_EQ(0u, archiveReader.consumedBytes);
    archiveReader.Close();
}

TEST(Reader, BulkReadMatchesByteReads) {
    const Bytes bytes = Pattern(3 * READER_BUFFER_SIZE + 123);
    ASSERT_EQ(1, archiveReader.Open(WriteTempFile(bytes).c_str()));
    Bytes got(bytes.size() + 10);
    EXPECT_EQ(5u, archiveReader.ReadBytes(got.data(), 5));
    EXPECT_EQ(bytes[5], archiveReader.ReadByte());
    EXPECT_EQ(bytes.size() - 6, archiveReader.ReadBytes(got.data() + 6, 4 * READER_BUFFER_SIZE));
    got[5] = bytes[5];
    got.resize(bytes.size());
    EXPECT_EQ(bytes, Bytes(got.begin(), got.end()));
    EXPECT_EQ(1u, archiveReader.atEnd);
    EXPECT_EQ(bytes.size(), archiveReader.consumedBytes);
    archiveReader.Close();
}

TEST(Reader, OpenFailsOnAMissingFileAndReopenResets) {
    EXPECT_EQ(0, archiveReader.Open(JoinTestPath(MakeTempDir(), "missing.bin").c_str()));
    EXPECT_EQ(0, archiveReader.handle);
    const std::string path = WriteTempFile(Pattern(10));
    ASSERT_EQ(1, archiveReader.Open(path.c_str()));
    while (!archiveReader.atEnd) archiveReader.ReadByte();
    archiveReader.Close();
    ASSERT_EQ(1, archiveReader.Open(path.c_str()));
    EXPECT_EQ(0u, archiveReader.atEnd);
    EXPECT_EQ(0u, archiveReader.consumedBytes);
    EXPECT_EQ(Pattern(1)[0], archiveReader.ReadByte());
    archiveReader.Close();
}

#ifndef _WIN32
TEST(Reader, AFailedReadIsTheEndOfTheData) {
    // A directory opens for reading on POSIX but every read fails (EISDIR).
    ASSERT_EQ(1, archiveReader.Open(MakeTempDir().c_str()));
    EXPECT_EQ(0, archiveReader.ReadByte());
    EXPECT_EQ(1u, archiveReader.atEnd);
    EXPECT_EQ(0u, archiveReader.available);
    EXPECT_EQ(0, archiveReader.ReadByte());
    EXPECT_EQ(0u, archiveReader.consumedBytes);
    archiveReader.Close();
}
#endif

}  // namespace
