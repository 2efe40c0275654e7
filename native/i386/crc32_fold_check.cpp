// The folded CRC-32 as a 32-bit program, against a bitwise CRC-32, run by
// tools/check_fold_i386.sh under an emulated processor. Built without the C++
// library (none is installed for 32-bit code here).
//   crc32_fold_check EXPECTED   EXPECTED: 1 when the processor can fold, else 0
#include "package/crc32_fold.h"

#include <stdio.h>

// zlib's crc32, which the folding's self-check compares with, bit by bit.
extern "C" unsigned long crc32(unsigned long crc, const unsigned char* data, unsigned int size) {
    uint32_t value = ~static_cast<uint32_t>(crc);
    for (unsigned int i = 0; i < size; ++i) {
        value ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1u)));
    }
    return ~value;
}

static unsigned char g_bytes[70000];

int main(int argc, char** argv) {
    const bool expected = argc > 1 && argv[1][0] == '1';
    const bool available = Crc32FoldAvailable();
    if (available != expected) {
        printf("folding available: %d, expected %d\n", available, expected);
        return 1;
    }
    if (!available) {
        printf("not folded here, and nothing faulted\n");
        return 0;
    }
    for (size_t i = 0; i < sizeof g_bytes; ++i)
        g_bytes[i] = static_cast<unsigned char>((i * 2654435761u) >> 11);
    const uint32_t starts[] = {0u, 0xFFFFFFFFu, 0x12345678u};
    int checked = 0, wrong = 0;
    for (size_t size = 64; size <= 65600; size += size < 1024 ? 16 : 4112) {
        for (size_t offset = 0; offset < 16; offset += 5) {
            for (uint32_t start : starts) {
                ++checked;
                uint32_t folded = FoldCrc32(start, g_bytes + offset, size);
                wrong += folded != static_cast<uint32_t>(crc32(start, g_bytes + offset,
                                                               static_cast<unsigned int>(size)));
            }
        }
    }
    printf("%d spans, %d wrong\n", checked, wrong);
    return wrong == 0 ? 0 : 1;
}
