// ArchiveReader: the buffered byte source over the archive file.
#include "archive/archive.h"

ArchiveReader archiveReader;

ArchiveReader::ArchiveReader() { handle = 0; }

ArchiveReader::~ArchiveReader() {
    if (handle != 0) Close();
}

int ArchiveReader::Open(const char* path) {
    HFILE opened = _lopen(path, OF_READ);
    if (opened == HFILE_ERROR) return 0;
    Adopt(opened);
    return 1;
}

void ArchiveReader::Adopt(HFILE file) {
    handle = file;
    position = READER_BUFFER_SIZE;
    available = READER_BUFFER_SIZE;
    atEnd = 0;
    consumedBytes = 0;
    digest = nullptr;
}

void ArchiveReader::Close() {
    _lclose(handle);
    handle = 0;
}

void ArchiveReader::Refill() {
    UINT got = _lread(handle, buffer, READER_BUFFER_SIZE);
    // A failed read ends the data: available 0 keeps ReadByte inside the buffer and
    // makes it report the end from here on.
    if (got == static_cast<UINT>(HFILE_ERROR) || got > READER_BUFFER_SIZE) got = 0;
    available = got;
    position = 0;
    if (digest != nullptr) {
        const uint32_t hashed = got < digestRemaining ? got : digestRemaining;
        Sha256Add(digest, buffer, hashed);
        digestRemaining -= hashed;
    }
}

int ArchiveReader::FinishDigest() {
    // Every byte from the archive's offset has passed through a refill, in order; what
    // the walk did not reach is read here. A refill that gets nothing is the file's end.
    while (digestRemaining != 0) {
        Refill();
        if (available == 0) break;
    }
    return digestRemaining == 0;
}

namespace {

// Hands out up to count bytes (copied when destination is not null, folded into *crc
// when crc is not null), refilling as ReadByte does; stops at the end of the data.
FileOffset Deliver(ArchiveReader* reader, unsigned char* destination, FileOffset count,
                   uint16_t* crc) {
    FileOffset delivered = 0;
    while (delivered < count) {
        if (reader->position == READER_BUFFER_SIZE) reader->Refill();
        if (reader->position == reader->available) {
            reader->atEnd = 1;
            break;
        }
        uint32_t run = reader->available - reader->position;
        if (run > count - delivered) run = static_cast<uint32_t>(count - delivered);
        if (destination != nullptr) {
            memcpy(destination + delivered, reader->buffer + reader->position, run);
        }
        if (crc != nullptr) *crc = Crc16OfBlock(*crc, reader->buffer + reader->position, run);
        reader->position += run;
        delivered += run;
    }
    reader->consumedBytes += delivered;
    return delivered;
}

}  // namespace

uint32_t ArchiveReader::ReadBytes(unsigned char* destination, uint32_t count) {
    return static_cast<uint32_t>(Deliver(this, destination, count, nullptr));
}

FileOffset ArchiveReader::SkipBytes(FileOffset count, uint16_t* crc) {
    return Deliver(this, nullptr, count, crc);
}
