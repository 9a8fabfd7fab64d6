// Fuzz target: arbitrary bytes as a bare archive, walked member by member as list
// walks it (NextMember, SkipMemberData), every member in hand checked; nothing decoded.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "archive/archive.h"
#include "extract/extract.h"
#include "fuzz_support.h"

namespace {

size_t inputSize;

// A member in hand: the fields the rest of the core relies on must hold.
void CheckAcceptedHeader() {
    const ExtractionState& state = extractionState;
    if (state.headerLevel > 2) FuzzFailure("header level accepted");
    if (state.headerLevel < 2) {
        const unsigned nameLength = state.headerBuffer[19];
        if (state.headerSize < LEVEL0_FIXED_SIZE) FuzzFailure("header shorter than fixed fields");
        if (20u + nameLength + 2 > state.headerSize) FuzzFailure("name overlaps the CRC");
        if (state.headerBuffer[20 + nameLength] != 0) FuzzFailure("name not terminated");
    }
    if (memchr(state.memberPath, 0, sizeof state.memberPath) == nullptr) {
        FuzzFailure("member path not terminated");
    }
    if (state.headerOffset >= inputSize) FuzzFailure("header beyond the file");
    if (archiveReader.consumedBytes > inputSize) FuzzFailure("read past the file");
    // A path the walk does not refuse has at least one component, each a safe name.
    if (state.pathProblem != FAILURE_NONE) return;
    std::string path = state.memberPath;
    if (path.empty()) FuzzFailure("empty path accepted");
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('/', start);
        const std::string component = path.substr(start, end - start);
        if (!IsSafeMemberName(component.c_str())) FuzzFailure("unsafe name accepted", component);
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = ScratchRoot() + "/headers.lzh";
    PlatformServeMemory(path.c_str(), data, static_cast<UINT>(size));
    inputSize = size;
    if (!OpenArchive(path.c_str(), 0)) FuzzFailure("the served input did not open");
    const ExtractionState& state = extractionState;
    int next;
    while ((next = NextMember()) == 1) {
        CheckAcceptedHeader();
        // The walk goes by the packed size: the member ends where its header says.
        const uint64_t headerLength = state.headerLevel == 2
            ? (state.headerSize | static_cast<uint32_t>(state.headerSum) << 8)
            : 2u + state.headerSize;
        const uint64_t end = state.headerOffset + headerLength + state.packedSize;
        if (!SkipMemberData()) {
            if (extractionFailure != FAILURE_TRUNCATED || end <= size) {
                FuzzFailure("skip failed inside the file");
            }
            break;
        }
        if (archiveReader.consumedBytes != end) FuzzFailure("member did not end at its size");
    }
    if ((next == 0) != (extractionFailure == FAILURE_NONE)) {
        FuzzFailure("walk result and failure disagree");
    }
    if (archiveReader.consumedBytes > size) FuzzFailure("more bytes delivered than the file has");
    CloseArchive();
    if (archiveReader.handle != 0) FuzzFailure("reader left open");
    return 0;
}
