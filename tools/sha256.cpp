// SHA-256 of a buffer as hex, over the core's SHA-256 (the one the stub carries).
#include "tools/sha256.h"

#include <stdio.h>

#include "archive/sha256.h"

std::string DigestHex(const uint8_t* digest) {
    std::string hex;
    char digits[3];
    for (unsigned i = 0; i < SHA256_SIZE; ++i) {
        snprintf(digits, sizeof digits, "%02x", digest[i]);
        hex += digits;
    }
    return hex;
}

std::string Sha256Hex(const uint8_t* data, size_t size) {
    Sha256 hash;
    Sha256Begin(&hash);
    // The core takes 32-bit counts.
    while (size != 0) {
        const uint32_t piece = size > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(size);
        Sha256Add(&hash, data, piece);
        data += piece;
        size -= piece;
    }
    uint8_t digest[SHA256_SIZE];
    Sha256End(&hash, digest);
    return DigestHex(digest);
}
