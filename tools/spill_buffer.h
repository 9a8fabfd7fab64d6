// Bytes that pack keeps between compressing a member and writing it: in memory while
// all buffers together hold little, in an unnamed temporary file beyond that, so that
// pack's memory does not grow with its input.
#ifndef VORPANEX_TOOLS_SPILL_BUFFER_H
#define VORPANEX_TOOLS_SPILL_BUFFER_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

// What all spill buffers together keep in memory at most.
const size_t SPILL_MEMORY_BYTES = size_t(8) << 20;

class SpillBuffer {
public:
    SpillBuffer() = default;
    ~SpillBuffer();
    SpillBuffer(const SpillBuffer&) = delete;
    SpillBuffer& operator=(const SpillBuffer&) = delete;

    // The folder for temporary files (unnamed where the system allows, else removed at
    // once): set before the first Append.
    static void SetFolder(const std::string& folder);

    // false with a message when the temporary file cannot be made or written.
    bool Append(const uint8_t* data, size_t size, std::string& error);
    uint64_t Size() const { return size; }
    // Hands the bytes to sink in order; false with a message when they cannot be read
    // back, false without one when sink returns false.
    bool ForEach(const std::function<bool(const uint8_t*, size_t)>& sink,
                 std::string& error) const;
    // Gives back memory and file.
    void Clear();

private:
    bool MoveToFile(std::string& error);

    std::vector<uint8_t> memory;
    size_t accounted = 0;  // of the shared budget, for memory
    int file = -1;
    uint64_t size = 0;
};

#endif
