// The appended archive: the buffered byte source, member headers with CRC-16, and
// the extraction of members into files. Shared by the stub and the vorpanex tool.
//
// Format notes
//   The archive is a sequence of members, then one 0 byte (the end marker); the end
//   of the file in its place ends the sequence too. A member is a level-1 header,
//   zero or more extended headers chained through 2-byte size fields, then its data
//   (packed size minus the extended headers). Multi-byte fields are little-endian.
//
//   header byte  headerBuffer  width  field
//   0            -             1      headerSize: bytes after the first two; 0 = end
//   1            -             1      headerSum: low 8 bits of the sum of those bytes
//   2            0             5      method id "-lh0-", "-lh4-", "-lh5-", "-lh6-"
//   7            5             4      packed size (extended headers + data)
//   11           9             4      original size
//   15           13            2      MS-DOS time (local)
//   17           15            2      MS-DOS date (local)
//   19           17            1      attribute (0x20)
//   20           18            1      level (1)
//   21           19            1      name length L
//   22           20            L      name, ANSI, no directory part
//   22+L         headerSize-5  2      CRC-16/ARC of the uncompressed bytes
//   24+L         headerSize-3  1      OS id ('M')
//   25+L         headerSize-2  2      size of the first extended header, 0 = none
//   The trailing three fields are found from the header's end, the name from L.
#ifndef VORPANEX_ARCHIVE_ARCHIVE_H
#define VORPANEX_ARCHIVE_ARCHIVE_H

#include <stdint.h>
#include <string.h>

#include "platform/platform.h"

const uint32_t ARCHIVE_OFFSET = 49152;
const uint32_t READER_BUFFER_SIZE = 4096;
const uint32_t WINDOW_SIZE = 32768;
const unsigned HEADER_BUFFER_SIZE = 256;   // 255 header bytes and a terminator
const unsigned OUTPUT_PATH_SIZE = 300;     // a member's output path, terminator included
const unsigned HEADER_FIXED_SIZE = 25;     // headerSize of a member with an empty name

// The one read-only byte source over the archive file: 4096-byte refills, one byte
// handed out at a time; a 0 byte with atEnd set once the file has no more.
class ArchiveReader {
public:
    ArchiveReader();
    ~ArchiveReader();

    int Open(const char* path);
    void Close();
    void Refill();

    unsigned char ReadByte() {
        if (position == READER_BUFFER_SIZE) Refill();
        if (position == available) {
            atEnd = 1;
            return 0;
        }
        ++consumedBytes;
        return buffer[position++];
    }

    // Up to count bytes into destination, as count ReadByte calls would deliver them,
    // stopping at the end of the data. Returns the number delivered.
    uint32_t ReadBytes(unsigned char* destination, uint32_t count);

    unsigned char buffer[READER_BUFFER_SIZE];
    uint32_t position;
    uint32_t available;
    uint32_t consumedBytes;
    HFILE handle;
    uint32_t atEnd;
};

extern ArchiveReader archiveReader;

// Why the last extraction failed. Results stay plain integers; this is for the tool,
// which turns a failure into words. The stub only tells cancel from the rest.
enum ExtractionFailure {
    FAILURE_NONE = 0,
    FAILURE_OPEN,          // the archive file cannot be opened
    FAILURE_SEEK,          // the archive offset cannot be reached
    FAILURE_HEADER_SUM,    // header sum mismatch
    FAILURE_BAD_HEADER,    // header cut short, or its name overlaps the trailing fields
    FAILURE_METHOD,        // method id not accepted
    FAILURE_NAME,          // member name not usable as a file name
    FAILURE_PATH_TOO_LONG, // output path does not fit its buffer
    FAILURE_TRUNCATED,     // the file ends inside the member
    FAILURE_CREATE,        // the member file cannot be created
    FAILURE_WRITE,         // a chunk cannot be written
    FAILURE_CANCELLED,     // Cancel was pressed
    FAILURE_CRC,           // CRC-16 mismatch
    FAILURE_BAD_DATA,      // compressed data outside the format's limits
    FAILURE_READ           // the data ended before the file did: a read failed
};

// The member in hand. One global record.
struct ExtractionState {
    uint8_t headerSize;
    uint8_t headerSum;
    uint8_t headerBuffer[HEADER_BUFFER_SIZE];
    uint32_t packedRemaining;
    uint32_t originalRemaining;
    uint16_t fileTime;
    uint16_t fileDate;
    uint16_t storedCrc;
    uint16_t runningCrc;
    uint32_t archiveSize;
    HFILE outputFile;
    uint8_t windowBuffer[WINDOW_SIZE];
};

extern ExtractionState extractionState;
extern int extractionFailure;       // an ExtractionFailure, set when a result is 0
extern uint32_t membersExtracted;   // members completed by the last extraction

// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR.
// Crc16Table[0] is the classic one-byte table; slice k advances a byte followed by k
// zero bytes, so that a block is folded eight bytes per step.
const unsigned CRC_SLICES = 8;
extern uint16_t Crc16Table[CRC_SLICES][256];
void BuildCrcTable();
inline void UpdateCrc(uint8_t byte) {
    extractionState.runningCrc = static_cast<uint16_t>(
        Crc16Table[0][(extractionState.runningCrc ^ byte) & 0xFF] ^
        (extractionState.runningCrc >> 8));
}
void UpdateCrcBlock(const uint8_t* data, uint32_t count);

uint32_t GetHeaderField(int offset, int width);
uint8_t SumHeaderBytes();
void ReadHeaderBytes(uint8_t* destination, unsigned count);
int ReadMemberHeader();  // 0 end of archive, 1 header read, 2 bad header

// 1 when every member was extracted with a matching CRC-16, else 0.
int ExtractArchive(HWND window, const char* modulePath, const char* workDirectory);
// The same from a given offset (0 for a bare archive). A null workDirectory decodes
// and checks every member without creating any file.
int ExtractArchiveAt(HWND window, const char* archivePath, const char* workDirectory,
                     uint32_t offset);
int ExtractMember(HWND window, const char* workDirectory);
// Skips the extended headers that follow the header in hand and takes their sizes
// off packedRemaining. 0 when the file ends inside them.
int SkipExtendedHeaders();
int WriteChunk(const uint8_t* data, uint32_t count, HFILE file);

// Appends one separator (a backslash on Windows, a slash on the host) unless the path
// already ends in a backslash or slash, then the name. The result must fit the buffer.
#ifdef _WIN32
const char PATH_SEPARATOR = '\\';
#else
const char PATH_SEPARATOR = '/';
#endif
char* JoinPath(char* path, const char* name);

// 1 when name can be a file name inside the work directory, read in the ANSI code
// page: not empty, not "." or "..", no separator, drive colon, control character or
// wildcard, and not a device name.
int IsSafeMemberName(const char* name);

#endif
