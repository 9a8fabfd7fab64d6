// Fuzz target: arbitrary bytes as a bare archive, walked header by header with the
// extended headers skipped and every member checked, no file written.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "archive/archive.h"
#include "fuzz_support.h"

namespace {

size_t inputSize;

// After a member was accepted: the fields the rest of the core relies on must hold.
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
    // Every component of the path is a safe name, and there is at least one.
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
    const char method = static_cast<char>(state.headerBuffer[3]);
    if (method != '0' && method != '4' && method != '5' && method != '6' && method != 'd') {
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
