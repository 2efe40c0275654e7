#pragma once
// Heap copies of exactly the given length: AddressSanitizer then reports a
// read or write even one byte past the end, which a larger stack buffer hides.
#include <cstring>
#include <string>
#include <vector>

inline std::vector<char> ExactBytes(const std::string& bytes) {
    return std::vector<char>(bytes.begin(), bytes.end());
}

// The text and its terminator, nothing more.
inline std::vector<char> ExactText(const std::string& text) {
    std::vector<char> out(text.size() + 1);
    memcpy(out.data(), text.c_str(), text.size() + 1);
    return out;
}
