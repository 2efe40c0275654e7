#include "core/text_util.h"

#include <cstdio>
#include <cstring>

size_t GbkBoundaryAtOrBelow(const char* text, size_t limit) {
    size_t i = 0;
    while (i < limit && text[i] != '\0') {
        size_t step = IsGbkLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        // A lead byte whose trail byte is missing or beyond the limit is a
        // half character: it is left out.
        if (i + step > limit || (step == 2 && text[i + 1] == '\0'))
            break;
        i += step;
    }
    return i;
}

size_t FormatBoundedV(char* buf, size_t capacity, const char* format, va_list args) {
    if (capacity == 0)
        return 0;
    int wanted = vsnprintf(buf, capacity, format, args);
    if (wanted < 0) {
        buf[0] = '\0';
        return 0;
    }
    size_t stored =
        static_cast<size_t>(wanted) < capacity ? static_cast<size_t>(wanted) : capacity - 1;
    // vsnprintf cuts at a byte; move back so no half character remains.
    size_t cut = GbkBoundaryAtOrBelow(buf, stored);
    buf[cut] = '\0';
    return cut;
}

size_t FormatBounded(char* buf, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = FormatBoundedV(buf, capacity, format, args);
    va_end(args);
    return n;
}

bool FormatFits(char* buf, size_t capacity, const char* format, ...) {
    if (capacity == 0)
        return false;
    va_list args;
    va_start(args, format);
    int wanted = vsnprintf(buf, capacity, format, args);
    va_end(args);
    if (wanted < 0 || static_cast<size_t>(wanted) >= capacity) {
        buf[GbkBoundaryAtOrBelow(buf, capacity - 1)] = '\0';
        return false;
    }
    return true;
}

size_t CopyBounded(char* buf, size_t capacity, const char* src) {
    if (capacity == 0)
        return 0;
    size_t n = GbkBoundaryAtOrBelow(src, capacity - 1);
    memmove(buf, src, n);
    buf[n] = '\0';
    return n;
}

size_t AppendBounded(char* buf, size_t capacity, const char* src) {
    size_t used = strnlen(buf, capacity);
    if (used >= capacity)
        return used;
    return used + CopyBounded(buf + used, capacity - used, src);
}

long FindLastSeparatorGbk(const char* text) {
    long last = -1;
    for (long i = 0; text[i] != '\0';) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (IsGbkLeadByte(b) && text[i + 1] != '\0') {
            i += 2;
            continue;
        }
        if (b == '\\')
            last = i;
        ++i;
    }
    return last;
}

bool EndsWithBackslashByte(const char* text) {
    size_t n = strlen(text);
    return n > 0 && text[n - 1] == '\\';
}
