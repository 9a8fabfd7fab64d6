// The archive's digest: SHA-256 itself, and the check that binds an archive to its stub.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "archive/archive.h"
#include "extract/extract.h"
#include "support/archive_builder.h"
#include "support/recording_ui.h"

namespace {

std::string Hex(const uint8_t* digest) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < SHA256_SIZE; ++i) {
        hex += DIGITS[digest[i] >> 4];
        hex += DIGITS[digest[i] & 15];
    }
    return hex;
}

// The digest of data fed in pieces of the given size.
std::string Digest(const Bytes& data, size_t piece) {
    Sha256 hash;
    Sha256Begin(&hash);
    for (size_t at = 0; at < data.size(); at += piece) {
        Sha256Add(&hash, data.data() + at, static_cast<uint32_t>(std::min(piece, data.size() - at)));
    }
    uint8_t digest[SHA256_SIZE];
    Sha256End(&hash, digest);
    return Hex(digest);
}

TEST(Sha256, PublishedVectorsInAnyPieces) {
    struct Vector {
        Bytes data;
        const char* digest;
    };
    const Vector vectors[] = {
        {TextBytes(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {TextBytes("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block.
        {TextBytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {Bytes(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Vector& vector : vectors) {
        for (size_t piece : {size_t(1), size_t(63), size_t(64), size_t(65), size_t(4096)}) {
            EXPECT_EQ(vector.digest, Digest(vector.data, piece))
                << vector.data.size() << " bytes in pieces of " << piece;
        }
    }
}

class DigestCheck : public ::testing::Test {
protected:
    void SetUp() override { ResetRecordingUi(); }

    // Checks file (a bare archive and whatever follows it) against the digest of the
    // first length bytes of sealed.
    int Check(const Bytes& file, const Bytes& sealed, uint32_t length) {
        Sha256 hash;
        Sha256Begin(&hash);
        Sha256Add(&hash, sealed.data(), length);
        uint8_t digest[SHA256_SIZE];
        Sha256End(&hash, digest);
        ExpectArchiveDigest(digest, length);
        return ExtractArchiveAt(nullptr, WriteTempFile(file).c_str(), nullptr, 0);
    }
};

TEST_F(DigestCheck, OnlyTheSealedBytesPass) {
    // Larger than the reader's buffer, so the digest runs over several refills.
    Bytes big(READER_BUFFER_SIZE * 2 + 100);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    const Bytes archive = BuildArchive({StoredMember("SETUP.EXE", big),
                                        StoredMember("README.TXT", TextBytes("hello"))});
    const uint32_t length = static_cast<uint32_t>(archive.size());
    Bytes signedFile = archive;
    signedFile.insert(signedFile.end(), 3000, 0x5A);  // a signature after the end marker
    // A name's byte changed and its header sum mended: no CRC-16 notices.
    Bytes renamed = archive;
    const std::string name = "README.TXT";
    const size_t at = std::search(archive.begin(), archive.end(), name.begin(), name.end()) -
                      archive.begin();
    renamed[at] = 'r';
    FixHeaderSum(&renamed, at - 22);  // the name starts at byte 22 of a level-1 header
    const Bytes other = BuildArchive({StoredMember("SETUP.EXE", TextBytes("MZ other"))});
    Bytes extended = archive;  // more members after where the sealed archive ended
    extended.pop_back();
    const Bytes extra = StoredMember("EXTRA.DLL", TextBytes("planted"));
    extended.insert(extended.end(), extra.begin(), extra.end());
    extended.push_back(0);

    struct Row {
        const char* what;
        const Bytes& file;
        uint32_t length;
        int result;
    };
    const Row rows[] = {
        {"the archive as sealed", archive, length, 1},
        {"signed after sealing", signedFile, length, 1},
        {"a name's byte changed", renamed, length, 0},
        {"another archive", other, length, 0},
        {"a member added", extended, length, 0},
        {"the file ends before the sealed length", archive, length + 1, 0},
    };
    for (const Row& row : rows) {
        const Bytes sealed = row.length > length ? signedFile : archive;
        extractionFailure = FAILURE_NONE;
        EXPECT_EQ(row.result, Check(row.file, sealed, row.length)) << row.what;
        EXPECT_EQ(row.result == 1 ? FAILURE_NONE : FAILURE_DIGEST, extractionFailure) << row.what;
    }
}

TEST_F(DigestCheck, ArmedForOneExtractionOnly) {
    const Bytes archive = BuildArchive({StoredMember("SETUP.EXE", TextBytes("MZ"))});
    const std::string path = WriteTempFile(archive);
    const Bytes other = BuildArchive({StoredMember("SETUP.EXE", TextBytes("MZ other"))});
    EXPECT_EQ(0, Check(archive, other, static_cast<uint32_t>(other.size())));
    EXPECT_EQ(1, ExtractArchiveAt(nullptr, path.c_str(), nullptr, 0));
}

}  // namespace
