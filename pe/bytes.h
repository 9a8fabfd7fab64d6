// Little-endian fields of a PE image or resource: read, written in place, appended.
#ifndef VORPANEX_PE_BYTES_H
#define VORPANEX_PE_BYTES_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

inline uint16_t Get16(const std::vector<uint8_t>& data, size_t at) {
    return static_cast<uint16_t>(data[at] | data[at + 1] << 8);
}

inline uint32_t Get32(const std::vector<uint8_t>& data, size_t at) {
    return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
           static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

inline uint32_t GetBig32(const std::vector<uint8_t>& data, size_t at) {
    return static_cast<uint32_t>(data[at]) << 24 | static_cast<uint32_t>(data[at + 1]) << 16 |
           static_cast<uint32_t>(data[at + 2]) << 8 | static_cast<uint32_t>(data[at + 3]);
}

inline void Put16(std::vector<uint8_t>& data, size_t at, uint32_t value) {
    data[at] = static_cast<uint8_t>(value);
    data[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void Put32(std::vector<uint8_t>& data, size_t at, uint32_t value) {
    for (int k = 0; k < 4; ++k) data[at + k] = static_cast<uint8_t>(value >> (8 * k));
}

inline void Append16(std::vector<uint8_t>& data, uint32_t value) {
    data.push_back(static_cast<uint8_t>(value));
    data.push_back(static_cast<uint8_t>(value >> 8));
}

inline void Append32(std::vector<uint8_t>& data, uint32_t value) {
    Append16(data, value & 0xFFFF);
    Append16(data, value >> 16);
}

inline void PadTo(std::vector<uint8_t>& data, size_t alignment) {
    while (data.size() % alignment != 0) data.push_back(0);
}

inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

#endif
