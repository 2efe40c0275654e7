#include "package/crc32_fold.h"

#include <zlib.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>

#define FOLD_ISA __attribute__((target("sse4.1,pclmul")))
// Windows keeps a 32-bit thread's stack only 4-byte aligned; the folding's
// 16-byte values may be spilled to it.
#if defined(__i386__)
#define FOLD_ENTRY FOLD_ISA __attribute__((force_align_arg_pointer))
#else
#define FOLD_ENTRY FOLD_ISA
#endif

namespace {

FOLD_ISA inline __m128i Load(const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Folds a into the next 128 bits b: a's halves carried forward by the
// distance the constants in by stand for.
FOLD_ISA inline __m128i Fold(__m128i a, __m128i b, __m128i by) {
    __m128i low = _mm_clmulepi64_si128(a, by, 0x00);
    __m128i high = _mm_clmulepi64_si128(a, by, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), b);
}

// The CRC register before the first byte is the complement of zlib's value
// (and so is the value after the last), so every span is taken that way.
// Constants are powers of x modulo the bit-reflected polynomial, for folding
// across 512 and 128 bits, then 64 to 32, and the Barrett reduction's
// polynomial and quotient (Gopal et al., "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ Instruction", Intel, 2009).
FOLD_ENTRY uint32_t FoldRegister(uint32_t crc, const uint8_t* data, size_t size) {
    const __m128i fold512 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i fold128 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i fold64 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load(data + 16), x3 = Load(data + 32), x4 = Load(data + 48);
    data += 64;
    size -= 64;
    for (; size >= 64; data += 64, size -= 64) {
        x1 = Fold(x1, Load(data), fold512);
        x2 = Fold(x2, Load(data + 16), fold512);
        x3 = Fold(x3, Load(data + 32), fold512);
        x4 = Fold(x4, Load(data + 48), fold512);
    }
    x1 = Fold(x1, x2, fold128);
    x1 = Fold(x1, x3, fold128);
    x1 = Fold(x1, x4, fold128);
    for (; size >= 16; data += 16, size -= 16)
        x1 = Fold(x1, Load(data), fold128);

    // 128 bits to 64, then to 32.
    __m128i product = _mm_clmulepi64_si128(x1, fold128, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), product);
    __m128i high = _mm_srli_si128(x1, 4);
    x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), fold64, 0x00);
    x1 = _mm_xor_si128(x1, high);
    // Barrett reduction to the 32-bit remainder.
    __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10);
    product = _mm_clmulepi64_si128(_mm_and_si128(quotient, low32), barrett, 0x00);
    x1 = _mm_xor_si128(x1, product);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

bool ProcessorCanFold() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
}

} // namespace

uint32_t FoldCrc32(uint32_t crc, const uint8_t* data, size_t size) {
    return ~FoldRegister(~crc, data, size);
}

bool Crc32FoldAvailable() {
    // A wrong result would refuse every package, so the folding is used only
    // once it has agreed with zlib on a span that takes every step.
    static const bool available = [] {
        if (!ProcessorCanFold())
            return false;
        uint8_t span[208];
        for (size_t i = 0; i < sizeof span; ++i)
            span[i] = static_cast<uint8_t>(i * 167 + 13);
        uint32_t expected = static_cast<uint32_t>(crc32(0x12345678, span, sizeof span));
        return FoldCrc32(0x12345678, span, sizeof span) == expected;
    }();
    return available;
}

#else // no folding on other processors

bool Crc32FoldAvailable() {
    return false;
}

uint32_t FoldCrc32(uint32_t crc, const uint8_t* data, size_t size) {
    return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}

#endif
