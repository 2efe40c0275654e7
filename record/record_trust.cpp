#include "record/record_trust.h"

#include <wincrypt.h>

#include <vector>

std::string RecordDigestText(const std::string& bytes) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return std::string();
    HCRYPTHASH hash = 0;
    BYTE value[32];
    DWORD size = sizeof value;
    bool done = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
                CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size()), 0) &&
                CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0) && size == sizeof value;
    if (hash != 0)
        CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    if (!done)
        return std::string();
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : value) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::wstring WideFrom(const std::string& text, UINT codePage) {
    if (text.empty())
        return std::wstring();
    int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                     static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        &wide[0], length);
    return wide;
}

std::string NarrowFrom(const std::wstring& text, UINT codePage) {
    if (text.empty())
        return std::string();
    int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length,
                        nullptr, nullptr);
    return narrow;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           (a.empty() || CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL);
}

bool PathLess::operator()(const std::wstring& a, const std::wstring& b) const {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
}

bool SamePathGbk(const std::string& a, const std::string& b) {
    std::wstring wideA = WideFromGbk(a), wideB = WideFromGbk(b);
    // Text that is not GBK is never the same path as anything.
    return !wideA.empty() && !wideB.empty() && SamePath(wideA, wideB);
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty() || folder.back() != L'\\')
        return false;
    if (path.size() + 1 == folder.size())
        return SamePath(path + L"\\", folder);
    return path.size() >= folder.size() && SamePath(path.substr(0, folder.size()), folder);
}

std::wstring FinalPathOf(HANDLE handle) {
    std::vector<wchar_t> path(1024);
    DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED);
    if (length >= path.size() && length < 32768) {
        path.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                           FILE_NAME_NORMALIZED);
    }
    return length > 0 && length < path.size() ? std::wstring(path.data(), length) : std::wstring();
}
