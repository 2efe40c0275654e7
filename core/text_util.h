#pragma once
// Bounded text helpers for the fixed 260-byte buffers the installer uses.
// Every text that meets a fixed buffer goes through one of these: they never
// write past the capacity and always terminate (capacity > 0).
#include <cstdarg>
#include <cstddef>

// Formats into buf (capacity bytes including the terminator). A result longer
// than capacity - 1 is cut there, at a GBK character boundary. Returns the
// length stored.
size_t FormatBounded(char* buf, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
size_t FormatBoundedV(char* buf, size_t capacity, const char* format, va_list args);

// Formats like FormatBounded but reports whether the whole result fitted.
bool FormatFits(char* buf, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Copies src into buf, cut at a GBK character boundary when too long.
size_t CopyBounded(char* buf, size_t capacity, const char* src);

// Appends src to the text already in buf, with the same cut rule.
size_t AppendBounded(char* buf, size_t capacity, const char* src);

// True when byte b starts a GBK double-byte character.
inline bool IsGbkLeadByte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

// The largest length <= limit that does not split a double-byte character of
// the NUL-terminated GBK text.
size_t GbkBoundaryAtOrBelow(const char* text, size_t limit);

// Position of the last backslash that is a real separator (a trail byte 0x5C
// of a double-byte character is not), or -1.
long FindLastSeparatorGbk(const char* text);

// True when the last byte is a backslash: the simple rule the configuration
// and folder-picker code uses on purpose. (Shortcut paths are judged by
// character with FindLastSeparatorGbk instead, so a special folder ending in a
// double-byte character whose trail byte is 0x5C still gets its separator.)
bool EndsWithBackslashByte(const char* text);
