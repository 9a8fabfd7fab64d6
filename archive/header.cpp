// Member headers, the extraction record and the CRC-16 of member data.
#include "archive/archive.h"

ExtractionState extractionState;
int extractionFailure;
uint16_t Crc16Table[CRC_SLICES][256];

static_assert(HEADER_BUFFER_SIZE >= 255 + 1, "headerBuffer holds the largest header");
static_assert(HEADER_FIXED_SIZE == 20 + 5, "fixed fields, empty name, trailing fields");

void BuildCrcTable() {
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i;
        for (int step = 0; step < 8; ++step) value = (value & 1) ? (value >> 1) ^ 0xA001 : value >> 1;
        Crc16Table[0][i] = static_cast<uint16_t>(value);
    }
    // Slice k advances a byte that is followed by k zero bytes.
    for (unsigned i = 0; i < 256; ++i) {
        for (unsigned k = 1; k < CRC_SLICES; ++k) {
            const uint16_t previous = Crc16Table[k - 1][i];
            Crc16Table[k][i] =
                static_cast<uint16_t>((previous >> 8) ^ Crc16Table[0][previous & 0xFF]);
        }
    }
}

void UpdateCrcBlock(const uint8_t* data, uint32_t count) {
    uint32_t crc = extractionState.runningCrc;
    while (count >= CRC_SLICES) {
        crc ^= static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8);
        crc = Crc16Table[7][crc & 0xFF] ^ Crc16Table[6][crc >> 8] ^ Crc16Table[5][data[2]] ^
              Crc16Table[4][data[3]] ^ Crc16Table[3][data[4]] ^ Crc16Table[2][data[5]] ^
              Crc16Table[1][data[6]] ^ Crc16Table[0][data[7]];
        data += CRC_SLICES;
        count -= CRC_SLICES;
    }
    while (count-- > 0) crc = Crc16Table[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    extractionState.runningCrc = static_cast<uint16_t>(crc);
}

uint32_t GetHeaderField(int offset, int width) {
    uint32_t value = 0;
    for (int k = width - 1; k >= 0; --k) {
        value = (value << 8) + extractionState.headerBuffer[offset + k];
    }
    return value;
}

uint8_t SumHeaderBytes() {
    unsigned sum = 0;
    for (unsigned i = 0; i < extractionState.headerSize; ++i) sum += extractionState.headerBuffer[i];
    return static_cast<uint8_t>(sum);
}

void ReadHeaderBytes(uint8_t* destination, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        destination[i] = archiveReader.ReadByte();
        if (archiveReader.atEnd) return;
    }
}

int ReadMemberHeader() {
    ExtractionState& state = extractionState;
    state.headerSize = archiveReader.ReadByte();
    if (state.headerSize == 0) return 0;
    state.headerSum = archiveReader.ReadByte();
    ReadHeaderBytes(state.headerBuffer, state.headerSize);
    // A header cut short by the end of the file would be judged partly on the bytes
    // of the header before it; it is refused as a whole.
    if (archiveReader.atEnd) {
        extractionFailure = FAILURE_BAD_HEADER;
        return 2;
    }
    if (SumHeaderBytes() != state.headerSum) {
        extractionFailure = FAILURE_HEADER_SUM;
        return 2;
    }
    // The name must end before the trailing fields; this also guarantees the fixed
    // fields (headerSize >= 25), and keeps every read and the terminator inside
    // headerBuffer.
    const unsigned nameEnd = 20u + state.headerBuffer[19];
    if (state.headerSize < HEADER_FIXED_SIZE || nameEnd > state.headerSize - 5u) {
        extractionFailure = FAILURE_BAD_HEADER;
        return 2;
    }
    state.packedRemaining = GetHeaderField(5, 4);
    state.originalRemaining = GetHeaderField(9, 4);
    state.fileTime = static_cast<uint16_t>(GetHeaderField(13, 2));
    state.fileDate = static_cast<uint16_t>(GetHeaderField(15, 2));
    state.storedCrc = static_cast<uint16_t>(GetHeaderField(state.headerSize - 5, 2));
    state.headerBuffer[nameEnd] = 0;
    return 1;
}
