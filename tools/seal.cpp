// Finding, filling and reading the seal record in a stub's bytes.
#include "tools/seal.h"

#include <stdio.h>
#include <string.h>

#include "archive/archive.h"
#include "pe/resources.h"
#include "platform/system.h"

namespace {

const char SEAL_MARK[SEAL_MARK_SIZE] = VORPANEX_SEAL_MARK;

void Put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const uint8_t* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The PE checksum field: after "PE\0\0" (4), the file header (20) and 64 bytes of the
// optional header. 0 when the stub has no PE header there.
size_t ChecksumField(const std::vector<uint8_t>& stub) {
    if (stub.size() < 0x40) return 0;
    const size_t pe = Get32(&stub[0x3C]);
    if (pe + 92 > stub.size() || memcmp(&stub[pe], "PE\0\0", 4) != 0) return 0;
    return pe + 88;
}

}  // namespace

long FindSeal(const uint8_t* stub, size_t size) {
    long found = -1;
    for (size_t at = 0; at + SEAL_SIZE <= size; ++at) {
        if (stub[at] != 'V' || memcmp(stub + at, SEAL_MARK, SEAL_MARK_SIZE - 1) != 0 ||
            (stub[at + SEAL_MARK_SIZE - 1] != '1' && stub[at + SEAL_MARK_SIZE - 1] != '2')) {
            continue;
        }
        if (found >= 0) return -1;
        found = static_cast<long>(at);
    }
    return found;
}

bool WriteSeal(std::vector<uint8_t>& stub, uint32_t archiveLength, uint32_t codePage,
               const uint8_t* digest) {
    const long at = FindSeal(stub.data(), stub.size());
    if (at < 0) return false;
    uint8_t* seal = &stub[static_cast<size_t>(at)];
    Put32(seal + 8, archiveLength);
    Put32(seal + 12, codePage);
    memcpy(seal + 16, digest, SHA256_SIZE);
    const size_t field = ChecksumField(stub);
    if (field != 0 && Get32(&stub[field]) != 0) Put32(&stub[field], PeChecksum(stub));
    return true;
}

SetupSeal ReadSetupSeal(const char* path) {
    SetupSeal seal;
    FILE* file = sys::OpenStream(path, "rb");
    if (file == nullptr) return seal;
    std::vector<uint8_t> stub(ARCHIVE_OFFSET);
    stub.resize(fread(stub.data(), 1, stub.size(), file));
    fclose(file);
    const long at = FindSeal(stub.data(), stub.size());
    if (at < 0) return seal;
    const uint8_t* record = &stub[static_cast<size_t>(at)];
    seal.found = true;
    memcpy(seal.record.mark, record, SEAL_MARK_SIZE);
    seal.record.archiveLength = Get32(record + 8);
    seal.record.codePage = Get32(record + 12);
    memcpy(seal.record.digest, record + 16, SHA256_SIZE);
    seal.sealed = seal.record.archiveLength != 0;
    seal.readsLh7 = StubReadsLh7(stub.data(), stub.size());
    return seal;
}

bool StubReadsLh7(const uint8_t* stub, size_t size) {
    const long at = FindSeal(stub, size);
    return at >= 0 && stub[static_cast<size_t>(at) + SEAL_MARK_SIZE - 1] ==
                          SEAL_MARK[SEAL_MARK_SIZE - 1];
}

unsigned NamesCodePage(unsigned given, const SetupSeal& seal) {
    if (given != 0 || !seal.found) return given;
    // Only the code pages pack records; any other value is not ours to act on.
    const unsigned recorded = seal.record.codePage;
    return recorded == 932 || recorded == 1252 ? recorded : 0;
}
