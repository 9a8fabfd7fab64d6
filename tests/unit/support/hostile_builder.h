// Hand-built compressed streams and broken member layouts for the hostile-archive table.
#ifndef VORPANEX_TESTS_HOSTILE_BUILDER_H
#define VORPANEX_TESTS_HOSTILE_BUILDER_H

#include <string>

#include "support/archive_builder.h"
#include "support/stream_builder.h"

// The three length lists of a block in which every code is a single symbol (a count of
// 0 and the symbol): every literal/length symbol is `symbol` and every distance code is
// `distanceSymbol`, none taking any bits. distanceBits is 4 for -lh4-/-lh5-, 5 for -lh6-.
void PutSingleSymbolCodes(StreamWriter* w, int symbol, int distanceSymbol, int distanceBits);

// A -lh5- stream of one block of `letters` symbols that are each 'A' (bit 0) or 'B'
// (bit 1), as the bits of `pattern` say, taken in turn. *output gets the bytes it decodes to.
Bytes TwoLetterStream(size_t letters, uint32_t pattern, Bytes* output);

// A compressed member with the given packed data, original size and CRC-16.
Bytes PackedMember(const std::string& method, const std::string& name, const Bytes& packed,
                   uint32_t originalSize, uint16_t crc);

// A member whose header is written as given: headerSize and name length are not
// derived from each other, and the header sum is made to match.
Bytes RawHeaderMember(uint8_t headerSize, uint8_t nameLength, const std::string& name,
                      const Bytes& data);

// With VORPANEX_DUMP_ROWS set to a directory, writes a table row's archive there as
// row-WHAT.lzh, a seed for the fuzz corpora (tests/fuzz/make_seeds.py --rows DIR).
void DumpRow(const char* what, const Bytes& archive);

// The archive cut to its first `length` bytes.
Bytes Cut(const Bytes& archive, size_t length);

#endif
