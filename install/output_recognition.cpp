#include "install/output_recognition.h"

#include <cstring>

namespace {

const char kInstalled[] = "Service successfully installed.";
const char kAlreadyExists[] = "The service already exists!";
// The Chinese texts as GBK bytes, so every compiler compares the same bytes
// whatever its execution character set.
const char* const kStartedTexts[] = {
    // 服务已经启动成功。
    "\xB7\xFE\xCE\xF1\xD2\xD1\xBE\xAD\xC6\xF4\xB6\xAF\xB3\xC9\xB9\xA6\xA1\xA3",
    // 请求的服务已经启动。
    "\xC7\xEB\xC7\xF3\xB5\xC4\xB7\xFE\xCE\xF1\xD2\xD1\xBE\xAD\xC6\xF4\xB6\xAF\xA1\xA3",
    "service is starting.",
    "service has already been started.",
};

bool BeginsWith(const char* text, size_t length, const char* prefix) {
    size_t n = strlen(prefix);
    return length >= n && memcmp(text, prefix, n) == 0;
}

// Searches the whole captured length: output with a NUL byte in it must not
// hide a recognised text that follows.
bool Contains(const char* text, size_t length, const char* needle) {
    size_t n = strlen(needle);
    for (size_t i = 0; n <= length && i <= length - n; ++i) {
        if (text[i] == needle[0] && memcmp(text + i, needle, n) == 0)
            return true;
    }
    return false;
}

} // namespace

bool IsInstallAccepted(const char* text, size_t length) {
    if (text == nullptr)
        return false;
    return BeginsWith(text, length, kInstalled) || BeginsWith(text, length, kAlreadyExists);
}

bool IsStartAccepted(const char* text, size_t length) {
    if (text == nullptr)
        return false;
    for (const char* started : kStartedTexts) {
        if (Contains(text, length, started))
            return true;
    }
    return false;
}
