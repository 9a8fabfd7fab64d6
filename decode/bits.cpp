// Bit input of the decoder: the global record and its priming.
#include "decode/bits.h"

BitReader bitReader;

void InitBits() {
    bitReader.bitBuffer = 0;
    bitReader.spareByte = 0;
    bitReader.spareBits = 0;
    bitReader.bytesPastEnd = 0;
    FillBits(32);
}
