// SHA-256 (FIPS 180-4) of a buffer as hex: the built-in stub's for --version, the
// archive's for the seal.
#ifndef VORPANEX_TOOLS_SHA256_H
#define VORPANEX_TOOLS_SHA256_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(const uint8_t* data, size_t size);

// A 32-byte digest as 64 lower-case hex digits.
std::string DigestHex(const uint8_t* digest);

#endif
