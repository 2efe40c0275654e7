#include "tools/setup_pack/text_convert.h"

#include <windows.h>

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
    WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), &(*out)[0], n,
                        nullptr, &lossy);
    return !lossy;
}

static std::wstring ToWide(UINT codePage, const std::string& text) {
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::wstring Utf8ToWide(const std::string& text) { return ToWide(CP_UTF8, text); }
std::wstring GbkToWide(const std::string& text) { return ToWide(936, text); }

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                            nullptr, nullptr);
    return out;
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
        std::string converted;
        if (!WideToGbk(Utf8ToWide(line), &converted) ||
            WideToUtf8(Utf8ToWide(line)) != line) {
            *error = "configuration line " + std::to_string(lineNumber) +
                     " cannot be written in code page 936: " + line;
            return false;
        }
        if (last) {
            *gbk += converted;
            break;
        }
        *gbk += converted + "\r\n";
        start = end + 1;
        ++lineNumber;
    }
    return true;
}
