// SHA-256 (FIPS 180-4) fed in pieces: the digest that binds an archive to its stub.
// Small rather than fast: the stub carries it.
#ifndef VORPANEX_ARCHIVE_SHA256_H
#define VORPANEX_ARCHIVE_SHA256_H

#include <stdint.h>

const unsigned SHA256_SIZE = 32;

struct Sha256 {
    uint32_t state[8];
    uint64_t length;     // bytes added so far
    uint8_t block[64];   // the block being filled: length % 64 bytes of it
};

void Sha256Begin(Sha256* hash);
void Sha256Add(Sha256* hash, const uint8_t* data, uint32_t count);
// Pads, and writes the digest; the hash must be begun again before more use.
void Sha256End(Sha256* hash, uint8_t digest[SHA256_SIZE]);

#endif
