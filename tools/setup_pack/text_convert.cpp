#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <cstdio>

static bool ToWide(UINT codePage, const std::string& text, std::wstring* out) {
    out->clear();
    if (text.empty())
        return true;
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        return false;
    out->resize(n);
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                               static_cast<int>(text.size()), &(*out)[0], n) == n;
}

static std::string FromWide(UINT codePage, const std::wstring& text) {
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                            nullptr, nullptr);
    return out;
}

bool WideToGbk(const std::wstring& text, std::string* out) {
    out->clear();
    if (text.empty())
        return true;
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, &lossy);
    if (n <= 0 || lossy)
        return false;
    out->resize(n);
    WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), &(*out)[0], n, nullptr,
                        &lossy);
    // Best-fit mappings do not report loss; only a round trip proves the
    // bytes mean the same characters.
    std::wstring back;
    return !lossy && ToWide(936, *out, &back) && back == text;
}

bool GbkToWideStrict(const std::string& text, std::wstring* out) {
    return ToWide(936, text, out);
}
bool Utf8ToWideStrict(const std::string& text, std::wstring* out) {
    return ToWide(CP_UTF8, text, out);
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring wide;
    if (!ToWide(CP_UTF8, text, &wide)) {
        int n =
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        wide.assign(n > 0 ? n : 0, L'\0');
        if (n > 0)
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                n);
    }
    return wide;
}

std::wstring GbkToWide(const std::string& text) {
    std::wstring wide;
    if (!ToWide(936, text, &wide)) {
        int n = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        wide.assign(n > 0 ? n : 0, L'\0');
        if (n > 0)
            MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    }
    return wide;
}

std::string WideToUtf8(const std::wstring& text) {
    return FromWide(CP_UTF8, text);
}

std::string GbkForDisplay(const std::string& gbk) {
    std::wstring wide;
    if (GbkToWideStrict(gbk, &wide))
        return WideToUtf8(wide);
    std::string shown;
    for (unsigned char b : gbk) {
        char hex[8];
        snprintf(hex, sizeof hex, "\\x%02X", b);
        shown += b >= 0x20 && b < 0x7F ? std::string(1, static_cast<char>(b)) : std::string(hex);
    }
    return shown;
}

bool ConvertConfigText(const std::string& utf8, std::string* gbk, std::string* error) {
    std::string text = utf8;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    gbk->clear();
    size_t start = 0;
    int lineNumber = 1;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        bool last = end == std::string::npos;
        std::string line = text.substr(start, last ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::wstring wide;
        std::string converted;
        const char* problem = nullptr;
        if (line.find('\0') != std::string::npos)
            problem = "holds a NUL byte";
        else if (!Utf8ToWideStrict(line, &wide))
            problem = "is not UTF-8";
        else if (wide.find(L'\r') != std::wstring::npos)
            problem = "holds a carriage return that does not end it";
        else if (!WideToGbk(wide, &converted))
            problem = "cannot be written in code page 936";
        if (problem) {
            *error = "configuration line " + std::to_string(lineNumber) + " " + problem + ": " +
                     (wide.empty() ? std::string() : WideToUtf8(wide));
            return false;
        }
        *gbk += converted;
        if (last)
            break;
        *gbk += "\r\n";
        start = end + 1;
        ++lineNumber;
    }
    return true;
}
