#pragma once
// Sample data for inflater tests, shared by the Windows and native builds.
#include <cstdint>
#include <string>
#include <zlib.h>

// One zlib stream of plain at the given level (empty on failure).
inline std::string Compress(const std::string& plain, int level = 9) {
    uLongf length = compressBound(static_cast<uLong>(plain.size()));
    std::string packed(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&packed[0]), &length,
                  reinterpret_cast<const Bytef*>(plain.data()), static_cast<uLong>(plain.size()),
                  level) != Z_OK)
        return std::string();
    packed.resize(length);
    return packed;
}

// Mixed text with GBK bytes: compressible, but varied enough to span many
// 4096-byte blocks.
inline std::string SampleText(size_t size, uint32_t seed = 12345) {
    std::string text;
    uint32_t state = seed;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text += "line " + std::to_string(state % 977) + (state & 0x100 ? " \xB3\xE9\r\n" : " x\n");
    }
    text.resize(size);
    return text;
}
