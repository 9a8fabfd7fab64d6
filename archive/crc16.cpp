// CRC-16/ARC: the tables, and blocks folded eight bytes a step (64 with carry-less
// multiplication where the host has it).
#include "archive/crc16.h"

#include "archive/archive.h"

// Folding needs SSE2 and PCLMULQDQ, asked of the processor at run time: the i686 build
// (the stub's) runs on processors without them too. Every system that runs the stub
// (Windows XP and later: it imports CreateWellKnownSid) saves the SSE registers.
#if defined(__x86_64__) || defined(__i386__)
#define CRC16_CAN_FOLD 1
#include <cpuid.h>
#include <immintrin.h>

namespace {
bool canFold;
}  // namespace
#endif

uint16_t Crc16Table[CRC_SLICES][256];

void BuildCrcTable() {
    // Built once per process: every archive opened after the first finds it ready.
    static bool built;
    if (built) return;
    built = true;
#ifdef CRC16_CAN_FOLD
    unsigned eax, ebx, ecx, edx;
    canFold = __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_PCLMUL) != 0 &&
              (edx & bit_SSE2) != 0;
#endif
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i;
        for (int step = 0; step < 8; ++step) value = (value & 1) ? (value >> 1) ^ 0xA001 : value >> 1;
        Crc16Table[0][i] = static_cast<uint16_t>(value);
    }
    // Slice k advances a byte that is followed by k zero bytes.
    for (unsigned i = 0; i < 256; ++i) {
        for (unsigned k = 1; k < CRC_SLICES; ++k) {
            const uint16_t previous = Crc16Table[k - 1][i];
            Crc16Table[k][i] =
                static_cast<uint16_t>((previous >> 8) ^ Crc16Table[0][previous & 0xFF]);
        }
    }
}

namespace {

uint16_t Crc16Sliced(uint32_t crc, const uint8_t* data, uint32_t count) {
    while (count >= CRC_SLICES) {
        crc ^= static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8);
        crc = Crc16Table[7][crc & 0xFF] ^ Crc16Table[6][crc >> 8] ^ Crc16Table[5][data[2]] ^
              Crc16Table[4][data[3]] ^ Crc16Table[3][data[4]] ^ Crc16Table[2][data[5]] ^
              Crc16Table[1][data[6]] ^ Crc16Table[0][data[7]];
        data += CRC_SLICES;
        count -= CRC_SLICES;
    }
    while (count-- > 0) crc = Crc16Table[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return static_cast<uint16_t>(crc);
}

#ifdef CRC16_CAN_FOLD
// Carry-less multiplication folds 64 bytes a step. The bytes of a 128-bit register
// are a piece of the message: bit j of the register is the coefficient of x^(127-j)
// (bit 0 of byte 0 comes first, as the reflected CRC takes them). Its low half H and
// high half L stand for H x^64 + L. Moving a piece n bits further (multiplying by x^n)
// keeps the CRC when the halves are replaced by H (x^(n+64) mod P) + L (x^n mod P);
// a product of two reflected 64-bit values comes out multiplied by x once more, so
// the constants are x^(n+63) and x^(n-1) mod P. What is left after the last fold is
// a 16-byte message with the same CRC, finished with the table.

// x^n mod P for P = x^16 + x^15 + x^2 + 1, reflected into the top 16 bits of 64
// (the coefficient of x^d at bit 63 - d).
constexpr uint64_t ReflectedPowerModP(unsigned n) {
    uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x10000u) r ^= 0x18005u;
    }
    uint64_t reflected = 0;
    for (unsigned d = 0; d < 16; ++d) {
        if (r & (1u << d)) reflected |= uint64_t(1) << (63 - d);
    }
    return reflected;
}

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i piece, __m128i constants,
                                                            __m128i next) {
    const __m128i high = _mm_clmulepi64_si128(piece, constants, 0x00);
    const __m128i low = _mm_clmulepi64_si128(piece, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// count >= 64. On i686 Windows the stack is only 4-byte aligned: it is aligned on entry
// for the 16-byte values the compiler may keep there.
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
__attribute__((target("pclmul,sse2"))) uint16_t Crc16Folded(uint32_t crc, const uint8_t* data,
                                                             uint32_t count) {
    constexpr long long x511 = static_cast<long long>(ReflectedPowerModP(511));
    constexpr long long x575 = static_cast<long long>(ReflectedPowerModP(575));
    constexpr long long x127 = static_cast<long long>(ReflectedPowerModP(127));
    constexpr long long x191 = static_cast<long long>(ReflectedPowerModP(191));
    const __m128i by512 = _mm_set_epi64x(x511, x575);
    const __m128i by128 = _mm_set_epi64x(x127, x191);
    const __m128i* in = reinterpret_cast<const __m128i*>(data);
    __m128i a0 = _mm_xor_si128(_mm_loadu_si128(in), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i a1 = _mm_loadu_si128(in + 1);
    __m128i a2 = _mm_loadu_si128(in + 2);
    __m128i a3 = _mm_loadu_si128(in + 3);
    in += 4;
    count -= 64;
    for (; count >= 64; count -= 64, in += 4) {
        a0 = Fold(a0, by512, _mm_loadu_si128(in));
        a1 = Fold(a1, by512, _mm_loadu_si128(in + 1));
        a2 = Fold(a2, by512, _mm_loadu_si128(in + 2));
        a3 = Fold(a3, by512, _mm_loadu_si128(in + 3));
    }
    a1 = Fold(a0, by128, a1);
    a2 = Fold(a1, by128, a2);
    a3 = Fold(a2, by128, a3);
    for (; count >= 16; count -= 16, ++in) a3 = Fold(a3, by128, _mm_loadu_si128(in));
    uint8_t rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), a3);
    return Crc16Sliced(Crc16Sliced(0, rest, 16), reinterpret_cast<const uint8_t*>(in), count);
}
#endif

}  // namespace

uint16_t Crc16OfBlock(uint16_t start, const uint8_t* data, uint32_t count) {
#ifdef CRC16_CAN_FOLD
    if (count >= 64 && canFold) return Crc16Folded(start, data, count);
#endif
    return Crc16Sliced(start, data, count);
}

// In the file with Crc16OfBlock, so that it is folded into this call.
void UpdateCrcBlock(const uint8_t* data, uint32_t count) {
    extractionState.runningCrc = Crc16OfBlock(extractionState.runningCrc, data, count);
}
