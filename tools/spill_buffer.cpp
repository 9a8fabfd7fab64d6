// pack's spill buffers: memory under a shared budget, then a temporary file.
#include "tools/spill_buffer.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <atomic>

#include "platform/system.h"

namespace {

std::atomic<size_t> memoryHeld{0};
std::string temporaryFolder = ".";

int MakeTemporaryFile(std::string& error) {
    const int file = sys::MakeUnnamedFile(temporaryFolder);
    if (file < 0) {
        error = temporaryFolder + ": " + strerror(errno) +
                " (cannot make a temporary file for the packed data)";
    }
    return file;
}

bool WriteAll(int file, const uint8_t* data, size_t size) {
    return sys::Write(file, data, size) >= 0;
}

}  // namespace

SpillBuffer::~SpillBuffer() { Clear(); }

void SpillBuffer::SetFolder(const std::string& folder) {
    temporaryFolder = folder.empty() ? "." : folder;
}

bool SpillBuffer::MoveToFile(std::string& error) {
    file = MakeTemporaryFile(error);
    if (file < 0) return false;
    if (!WriteAll(file, memory.data(), memory.size())) {
        error = temporaryFolder + ": " + strerror(errno) + " (writing the packed data)";
        return false;
    }
    memoryHeld -= accounted;
    accounted = 0;
    std::vector<uint8_t>().swap(memory);
    return true;
}

bool SpillBuffer::Append(const uint8_t* data, size_t count, std::string& error) {
    if (count == 0) return true;
    if (file < 0) {
        const size_t before = accounted;
        const size_t wanted = memory.size() + count;
        // Room is taken from the budget before it is allocated.
        const size_t grown = wanted > before ? std::max(wanted, before * 2) : before;
        if (grown > before) {
            if (memoryHeld.fetch_add(grown - before) + (grown - before) > SPILL_MEMORY_BYTES) {
                memoryHeld -= grown - before;
                if (!MoveToFile(error)) return false;
            } else {
                accounted = grown;
                memory.reserve(grown);
            }
        }
    }
    if (file >= 0) {
        if (!WriteAll(file, data, count)) {
            error = temporaryFolder + ": " + strerror(errno) + " (writing the packed data)";
            return false;
        }
    } else {
        memory.insert(memory.end(), data, data + count);
    }
    size += count;
    return true;
}

bool SpillBuffer::ForEach(const std::function<bool(const uint8_t*, size_t)>& sink,
                          std::string& error) const {
    if (file < 0) return memory.empty() || sink(memory.data(), memory.size());
    std::vector<uint8_t> chunk(size_t(1) << 20);
    uint64_t offset = 0;
    while (offset < size) {
        const size_t want =
            size - offset < chunk.size() ? static_cast<size_t>(size - offset) : chunk.size();
        const long long got = sys::ReadAt(file, chunk.data(), want, offset);
        if (got <= 0) {
            error = temporaryFolder + ": " + (got < 0 ? strerror(errno) : "cut short") +
                    " (reading the packed data back)";
            return false;
        }
        if (!sink(chunk.data(), static_cast<size_t>(got))) return false;
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

void SpillBuffer::Clear() {
    if (file >= 0) {
        sys::Close(file);
        file = -1;
    }
    memoryHeld -= accounted;
    accounted = 0;
    std::vector<uint8_t>().swap(memory);
    size = 0;
}
