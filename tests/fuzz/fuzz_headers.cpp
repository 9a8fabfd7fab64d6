// Fuzz target: arbitrary bytes as a bare archive, walked header by header with the
// extended headers skipped and every member checked, no file written.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "archive/archive.h"
#include "fuzz_support.h"

namespace {

size_t inputSize;

// After a header was accepted and its extended headers skipped: the fields the rest of
// the core relies on must hold.
void CheckAcceptedHeader() {
    const ExtractionState& state = extractionState;
    const unsigned nameLength = state.headerBuffer[19];
    if (state.headerSize < HEADER_FIXED_SIZE) FuzzFailure("header shorter than fixed fields");
    if (20u + nameLength > state.headerSize - 5u) FuzzFailure("name overlaps trailing fields");
    if (state.headerBuffer[20 + nameLength] != 0) FuzzFailure("name not terminated");
    const char* name = reinterpret_cast<const char*>(state.headerBuffer + 20);
    if (!IsSafeMemberName(name)) FuzzFailure("unsafe name accepted", name);
    const char method = static_cast<char>(state.headerBuffer[3]);
    if (method != '0' && method != '4' && method != '5' && method != '6') {
        FuzzFailure("method accepted", std::string(1, method));
    }
    if (archiveReader.consumedBytes > inputSize) FuzzFailure("read past the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = ScratchRoot() + "/headers.lzh";
    PlatformServeMemory(path.c_str(), data, static_cast<UINT>(size));
    inputSize = size;
    ResetSilentUi();
    fuzzMemberHook = CheckAcceptedHeader;
    const int result = ExtractArchiveAt(nullptr, path.c_str(), nullptr, 0);
    fuzzMemberHook = nullptr;
    if (extractionFailure == FAILURE_OPEN) FuzzFailure("the served input did not open");
    if ((result == 1) != (extractionFailure == FAILURE_NONE)) {
        FuzzFailure("result and failure disagree");
    }
    if (archiveReader.handle != 0) FuzzFailure("reader left open");
    if (archiveReader.consumedBytes > size) FuzzFailure("more bytes delivered than the file has");
    return 0;
}
