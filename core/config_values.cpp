#include "core/config_values.h"

#include <cstring>

int32_t ParseIniInteger(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' ||
           *text == '\f')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    uint32_t value = 0;
    while (*text >= '0' && *text <= '9')
        value = value * 10u + static_cast<uint32_t>(*text++ - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

void AppendFolderSeparator(char* field, size_t capacity) {
    size_t length = strnlen(field, capacity);
    if (length == 0 || length >= capacity - 1 || field[length - 1] == '\\')
        return;
    field[length] = '\\';
    field[length + 1] = '\0';
}
