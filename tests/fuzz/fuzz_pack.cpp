// Fuzz target: the packer round trip. Arbitrary bytes packed with arbitrary options,
// then read back by the core: the decoded bytes must be the bytes packed, and the
// archive holding the member must pass the core's check.
//
// Input layout
//   byte 0      method '5', '6' or '0' by the byte modulo 3; bit 0 of the byte divided
//               by 3: optimal parsing (--best) instead of lazy matching
//   bytes 1-2   block budget in symbols, little-endian; 0 lets the encoder choose
//   bytes 3-    the data; beyond 2048 bytes (512 with --best, 8 per symbol of a block
//               budget) the rest is ignored. Under the sanitizers a lazy run costs a
//               few milliseconds, an optimal one about ten per kilobyte, and a block
//               about a tenth of a millisecond.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "decode/decoder.h"
#include "encode/encoder.h"
#include "extract/extract.h"
#include "fuzz_support.h"

namespace {

const size_t PACK_MAX_DATA = 2048;
const size_t PACK_MAX_DATA_BEST = 512;
const size_t PACK_DATA_PER_BLOCK_SYMBOL = 8;

// Decodes the member's packed bytes with the core's decoder and compares them with the
// bytes packed, chunk by chunk.
void CheckStreamDecodes(const PackedMember& member, const uint8_t* data, size_t size) {
    static const std::string path = ScratchRoot() + "/stream";
    PlatformServeMemory(path.c_str(), member.data.data(),
                        static_cast<UINT>(member.data.size()));
    if (!archiveReader.Open(path.c_str())) FuzzFailure("the served stream did not open");
    memset(extractionState.windowBuffer, 0, sizeof extractionState.windowBuffer);
    extractionState.packedRemaining = static_cast<uint32_t>(member.data.size());
    BeginDecode(member.method);
    for (size_t done = 0; done < size;) {
        const uint32_t count =
            size - done < WINDOW_SIZE ? static_cast<uint32_t>(size - done) : WINDOW_SIZE;
        DecodeChunk(count, extractionState.windowBuffer);
        if (DecodeSawBadData()) FuzzFailure("the decoder refused the packer's stream");
        if (memcmp(extractionState.windowBuffer, data + done, count) != 0) {
            FuzzFailure("decoded bytes differ", "chunk at " + std::to_string(done));
        }
        done += count;
    }
    archiveReader.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
    if (inputSize < 3) return 0;
    static const char METHODS[] = {'5', '6', '0'};
    const char method = METHODS[input[0] % 3];
    EncodeOptions options;
    options.best = (input[0] / 3) % 2 != 0;
    options.maxBlockSymbols = input[1] | static_cast<uint32_t>(input[2]) << 8;
    const uint8_t* data = input + 3;
    size_t size = inputSize - 3;
    const size_t most = options.best ? PACK_MAX_DATA_BEST : PACK_MAX_DATA;
    if (size > most) size = most;
    if (options.maxBlockSymbols != 0 &&
        size > options.maxBlockSymbols * PACK_DATA_PER_BLOCK_SYMBOL) {
        size = options.maxBlockSymbols * PACK_DATA_PER_BLOCK_SYMBOL;
    }

    const PackedMember member = PackMember(data, size, options, method);
    if (member.originalSize != size) FuzzFailure("original size changed");
    if (member.method == '0') {
        if (member.data.size() != size ||
            (size != 0 && memcmp(member.data.data(), data, size) != 0)) {
            FuzzFailure("stored bytes differ");
        }
    } else {
        if (member.method != method) FuzzFailure("method changed");
        if (member.data.size() >= size) FuzzFailure("kept a stream no smaller than the data");
        CheckStreamDecodes(member, data, size);
    }

    // The member in an archive of its own, checked by the core as the tool's `test`.
    std::vector<uint8_t> archive = BuildMemberHeader("F.BIN", member, 0x6000, 0x5A21);
    archive.insert(archive.end(), member.data.begin(), member.data.end());
    archive.push_back(0);
    static const std::string path = ScratchRoot() + "/packed.lzh";
    PlatformServeMemory(path.c_str(), archive.data(), static_cast<UINT>(archive.size()));
    memset(extractionState.windowBuffer, 0, sizeof extractionState.windowBuffer);
    ResetSilentUi();
    if (ExtractArchiveAt(nullptr, path.c_str(), nullptr, 0) != 1 || membersExtracted != 1) {
        FuzzFailure("the core did not pass the packed archive",
                    "failure " + std::to_string(extractionFailure));
    }
    return 0;
}
