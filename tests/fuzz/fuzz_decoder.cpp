// Fuzz target: arbitrary bytes as one member's packed data, decoded chunk by chunk.
//
// Input layout
//   byte 0      method: '4', '5', '6' or '7' chosen by the byte modulo 4
//   bytes 1-3   original size, little-endian, low 21 bits (at most 2 MiB - 1)
//   bytes 4-    the packed data; its length is the packed size
// Once every packed bit has been taken the stream is zero bits without end (the decoder
// ends a chunk early once it takes bits past them); one more chunk of that is tried
// and the rest of the original size is skipped. A run also
// ends after the chunk in which the decoder refused its data (as extraction does) and
// at the output budget, as if the original size ended there; that keeps it short
// without leaving a path of the decoder unexercised. The budget grows with the packed
// size (a short input cannot ask for the whole budget of zero bits): decoding is nearly
// all of a run's time, and most inputs are a few hundred bytes.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "archive/archive.h"
#include "decode/bits.h"
#include "decode/decoder.h"
#include "fuzz_support.h"

namespace {

bool OnlyZeroBitsLeft() {
    const BitReader& bits = bitReader;
    const uint32_t spare = bits.spareByte & ((1u << bits.spareBits) - 1);
    return extractionState.packedRemaining == 0 && bits.bitBuffer == 0 && spare == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static const char METHODS[] = {'4', '5', '6', '7'};
    const int method = METHODS[data[0] % 4];
    uint32_t originalSize =
        (data[1] | (static_cast<uint32_t>(data[2]) << 8) | (static_cast<uint32_t>(data[3]) << 16)) &
        0x1FFFFFu;
    const uint32_t packedSize = static_cast<uint32_t>(size - 4);

    static const std::string path = ScratchRoot() + "/member.bin";
    PlatformServeMemory(path.c_str(), data + 4, packedSize);
    if (!archiveReader.Open(path.c_str())) FuzzFailure("cannot open", path);

    // The window keeps earlier members' bytes; clear it so that a run depends on its
    // input alone.
    memset(extractionState.windowBuffer, 0, sizeof extractionState.windowBuffer);
    extractionState.packedRemaining = packedSize;
    BeginDecode(method);
    const uint32_t budget = FuzzOutputBudget(packedSize);
    int chunksOnZeroBits = 0;
    uint32_t decoded = 0;
    while (originalSize != 0 && chunksOnZeroBits < 2 && decoded < budget && !DecodeSawBadData()) {
        uint32_t count = originalSize < WINDOW_SIZE ? originalSize : WINDOW_SIZE;
        if (count > budget - decoded) count = budget - decoded;
        DecodeChunk(count, extractionState.windowBuffer);
        originalSize -= count;
        decoded += count;
        // The bit input takes bytes only while the packed size allows, so it can never
        // run into the end of a file that holds exactly the packed data.
        if (archiveReader.atEnd) FuzzFailure("decoder read past its packed data");
        if (archiveReader.consumedBytes + extractionState.packedRemaining != packedSize) {
            FuzzFailure("bytes taken and packed size disagree");
        }
        if (OnlyZeroBitsLeft()) ++chunksOnZeroBits;
    }
    archiveReader.Close();
    return 0;
}
