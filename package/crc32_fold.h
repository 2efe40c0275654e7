#pragma once
// CRC-32 of the gzip polynomial over large spans by carry-less multiplication
// (PCLMULQDQ), folding 64 bytes a step: several times the speed of the table
// method, which start-up's check of the whole program feels.
// C headers: the 32-bit check (tools/check_fold_i386.sh) builds this code
// where no 32-bit C++ library is installed.
#include <stddef.h>
#include <stdint.h>

// The shortest span the folding takes; shorter ones are not worth it.
constexpr size_t kCrc32FoldMinimum = 64;

// True when this processor has the instructions and the folding gives the
// table method's results here (checked once, on a known span).
bool Crc32FoldAvailable();

// Extends crc (as zlib's crc32 takes and returns it: 0 to start) over size
// bytes. size is at least kCrc32FoldMinimum and a multiple of 16; only call
// it when Crc32FoldAvailable().
uint32_t FoldCrc32(uint32_t crc, const uint8_t* data, size_t size);
