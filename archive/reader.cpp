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
    handle = opened;
    position = READER_BUFFER_SIZE;
    available = READER_BUFFER_SIZE;
    atEnd = 0;
    consumedBytes = 0;
    return 1;
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
}

uint32_t ArchiveReader::ReadBytes(unsigned char* destination, uint32_t count) {
    uint32_t delivered = 0;
    while (delivered < count) {
        if (position == READER_BUFFER_SIZE) Refill();
        if (position == available) {
            atEnd = 1;
            break;
        }
        uint32_t run = available - position;
        if (run > count - delivered) run = count - delivered;
        memcpy(destination + delivered, buffer + position, run);
        position += run;
        delivered += run;
    }
    consumedBytes += delivered;
    return delivered;
}
