// SHA-256 (FIPS 180-4) of a buffer, for the tool's --version.
#ifndef VORPANEX_TOOLS_SHA256_H
#define VORPANEX_TOOLS_SHA256_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(const uint8_t* data, size_t size);

#endif
