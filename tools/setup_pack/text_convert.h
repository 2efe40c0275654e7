#pragma once
// Conversions between UTF-16, UTF-8 and code page 936, refusing what 936
// cannot represent instead of substituting '?' or a look-alike.
#include <string>

bool WideToGbk(const std::wstring& text, std::string* out);
// False when text is not valid code page 936.
bool GbkToWideStrict(const std::string& text, std::wstring* out);
// False when text is not valid UTF-8.
bool Utf8ToWideStrict(const std::string& text, std::wstring* out);
std::wstring Utf8ToWide(const std::string& text);
std::wstring GbkToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
// GBK bytes shown as UTF-8; bytes that do not decode are shown as \xNN.
std::string GbkForDisplay(const std::string& gbk);

// An INI text given in UTF-8 (with or without BOM) becomes code page 936 with
// CR LF line ends, no BOM and no terminator. Fails naming the first line that
// is not UTF-8 or cannot be represented.
bool ConvertConfigText(const std::string& utf8, std::string* gbk, std::string* error);
