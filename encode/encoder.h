// The packer's compressor: "-lh5-" to "-lh7-" streams, and level-1 archive members.
// The stream it writes: archive/format.h.
#ifndef VORPANEX_ENCODE_ENCODER_H
#define VORPANEX_ENCODE_ENCODER_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/format.h"

// Called now and then with the number of input bytes handled so far.
typedef void (*EncodeProgress)(void* context, uint64_t done);

struct EncodeOptions {
    char method = METHOD_LH6;        // '5', '6' or '7'
    bool best = false;               // optimal parsing instead of lazy matching
    uint32_t maxBlockSymbols = 0;    // test hook: 0 lets the encoder choose
    EncodeProgress progress = nullptr;
    void* progressContext = nullptr;
};

// Compresses size bytes into a complete stream for the method.
std::vector<uint8_t> CompressStream(const uint8_t* data, size_t size,
                                    const EncodeOptions& options);

// Input bytes parsed at a time by StreamCompressor (the default; --best). A member of
// at most this size comes out as from one parse of all of it; a larger one in parts of
// this size, each parsed with the 32 KiB before it as history. Memory follows these,
// not the member. Smaller parts of the default made the corpus of `make bench` larger;
// those of --best, smaller.
const size_t STREAM_SEGMENT_BYTES = size_t(16) << 20;
const size_t STREAM_BEST_SEGMENT_BYTES = size_t(4) << 20;
const size_t STREAM_HISTORY_BYTES = LARGE_WINDOW_SIZE;  // the largest window

// Compresses a member's bytes as they come: the caller fills InputSpace, says how much
// with Added, and takes the stream's bytes from Output (clearing it) as they appear;
// Finish ends the stream. Progress counts the member's input bytes.
class BitWriter;
class StreamCompressor {
public:
    explicit StreamCompressor(const EncodeOptions& options);
    ~StreamCompressor();
    StreamCompressor(const StreamCompressor&) = delete;
    StreamCompressor& operator=(const StreamCompressor&) = delete;

    uint8_t* InputSpace(size_t* room);
    void Added(size_t count);
    void Finish();
    std::vector<uint8_t>& Output();

private:
    void CompressSegment();
    static void Report(void* context, uint64_t position);

    EncodeOptions options;
    size_t segmentBytes;
    std::unique_ptr<uint8_t[]> buffer;  // history, then the segment's bytes
    size_t history = 0;           // bytes of history at the start of buffer
    size_t filled = 0;
    uint64_t segmentBase = 0;     // the member's offset of buffer[history]
    bool compressedAny = false;
    std::unique_ptr<BitWriter> out;  // keeps the bits of a byte not yet complete
};

// CRC-16/ARC of the bytes, continuing from crc.
uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc = 0);

// One member ready to be written: header and data.
struct PackedMember {
    char method;                     // '0', '5', '6' or '7'; 'd' for a folder entry
    uint32_t originalSize;
    uint16_t crc;
    std::vector<uint8_t> data;       // the packed bytes
};

// Compresses a member with the chosen method ('0', '5', '6' or '7'), falling back to
// "-lh0-" when compression does not make it smaller (unless allowFallback is false).
PackedMember PackMember(const uint8_t* data, size_t size, const EncodeOptions& options,
                        char method, bool allowFallback = true);

// The level-1 header of a member whose name is given in the archive's code page
// (1 to 230 bytes): headerSize = 25 + L, sum, CRC-16, OS id 'M', attribute 0x20.
// A member inside a folder carries the folder in a directory extended header (type
// 0x02): its components in the archive's code page, each followed by 0xFF; the packed
// size then counts that header too. A folder entry (method 'd', "-lhd-") has an empty
// name and no data; its path is the folder.
std::vector<uint8_t> BuildMemberHeader(const std::string& name, const PackedMember& member,
                                       uint16_t dosTime, uint16_t dosDate,
                                       const std::string& folder = std::string());
// The same for a member whose packed bytes (packedSize of them) are kept elsewhere.
std::vector<uint8_t> BuildMemberHeader(const std::string& name, const PackedMember& member,
                                       uint32_t packedSize, uint16_t dosTime,
                                       uint16_t dosDate, const std::string& folder);

// The folder of a member as the directory extended header holds it: each component
// followed by 0xFF.
std::string FolderField(const std::vector<std::string>& components);

#endif
