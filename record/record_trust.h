#pragma once
// What installer and uninstaller agree on to trust a record and to compare
// paths: the record's digest, written into the product's Programs and
// Features key (which only administrators can write), and one comparison of
// paths that reads GBK as GBK whatever the system's code page.
#include <windows.h>

#include <string>

// The value of the Programs and Features key that holds the record's digest.
constexpr const char kRecordDigestValue[] = "RecordDigest";
constexpr const wchar_t kRecordDigestValueW[] = L"RecordDigest";

// SHA-256 of the record's bytes as 64 lowercase hex digits; empty when the
// system cannot compute it.
std::string RecordDigestText(const std::string& bytes);

// Text of a code page as UTF-16 (936 for GBK, CP_UTF8); empty when it is not
// valid text of that code page.
std::wstring WideFrom(const std::string& text, UINT codePage);
inline std::wstring WideFromGbk(const std::string& text) {
    return WideFrom(text, 936);
}
// UTF-16 as text of a code page; characters it lacks become '?'.
std::string NarrowFrom(const std::wstring& text, UINT codePage);
inline std::string GbkFromWide(const std::wstring& text) {
    return NarrowFrom(text, 936);
}
inline std::string Utf8FromGbk(const std::string& text) {
    return NarrowFrom(WideFromGbk(text), CP_UTF8);
}
// A GBK text as the record of a code page holds it.
inline std::string GbkTextIn(const std::string& text, UINT codePage) {
    return codePage == CP_UTF8 ? Utf8FromGbk(text) : text;
}

// Paths compared as UTF-16, ignoring case as the file system does.
bool SamePath(const std::wstring& a, const std::wstring& b);
// GBK paths, converted with code page 936 (never the system's code page).
bool SamePathGbk(const std::string& a, const std::string& b);
// Orders paths as SamePath compares them, for maps keyed by path.
struct PathLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};
// True when path lies inside folder (which ends in a backslash), or is it.
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder);

// The path the system really reaches through an open handle (links and
// junctions resolved), or "" when it cannot say.
std::wstring FinalPathOf(HANDLE handle);
