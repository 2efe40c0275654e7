#pragma once
// Conversions between UTF-16, UTF-8 and code page 936, refusing what 936
// cannot represent instead of substituting '?'.
#include <string>

bool WideToGbk(const std::wstring& text, std::string* out);
std::wstring Utf8ToWide(const std::string& text);
std::wstring GbkToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// An INI text given in UTF-8 (with or without BOM) becomes code page 936 with
// CR LF line ends, no BOM and no terminator. Fails naming the first line that
// cannot be represented.
bool ConvertConfigText(const std::string& utf8, std::string* gbk, std::string* error);
