#include "tools/setup_pack/authenticode.h"

#include "package/program_image.h"
#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
const char kOpusInfoOid[] = "1.3.6.1.4.1.311.2.1.12";
const char kRfc3161TimestampOid[] = "1.3.6.1.4.1.311.3.3.1";
const char kCounterSignatureOid[] = "1.2.840.113549.1.9.6";
const char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
const uint16_t kPkcsSignedData = 2; // WIN_CERTIFICATE.wCertificateType

// A DER reader over bytes it never reads past.
struct Der {
    const uint8_t* At;
    size_t Left;

    // Reads one element; its contents go to `inner`. False on a malformed
    // element or one of another tag (when tag is not 0).
    bool Next(uint8_t tag, Der* inner) {
        if (Left < 2 || (tag != 0 && At[0] != tag))
            return false;
        size_t length = At[1], header = 2;
        if (length & 0x80) {
            size_t bytes = length & 0x7F;
            if (bytes == 0 || bytes > 4 || Left < 2 + bytes)
                return false;
            length = 0;
            for (size_t i = 0; i < bytes; ++i)
                length = (length << 8) | At[2 + i];
            header += bytes;
        }
        if (length > Left - header)
            return false;
        if (inner)
            *inner = Der{At + header, length};
        At += header + length;
        Left -= header + length;
        return true;
    }
    uint8_t Tag() const { return Left ? At[0] : 0; }
};

// The dotted form of an encoded OBJECT IDENTIFIER's contents.
std::string OidText(const Der& oid) {
    std::string text;
    uint64_t value = 0;
    for (size_t i = 0; i < oid.Left; ++i) {
        value = (value << 7) | (oid.At[i] & 0x7F);
        if (oid.At[i] & 0x80)
            continue;
        if (text.empty()) {
            unsigned first = value < 80 ? static_cast<unsigned>(value / 40) : 2;
            text = std::to_string(first) + "." + std::to_string(value - first * 40);
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
    }
    return text;
}

struct DigestAlgorithm {
    const char* Oid;
    const char* Name;
    const wchar_t* BcryptName;
};
const DigestAlgorithm kAlgorithms[] = {
    {"2.16.840.1.101.3.4.2.1", "SHA-256", BCRYPT_SHA256_ALGORITHM},
    {"2.16.840.1.101.3.4.2.2", "SHA-384", BCRYPT_SHA384_ALGORITHM},
    {"2.16.840.1.101.3.4.2.3", "SHA-512", BCRYPT_SHA512_ALGORITHM},
    {"1.3.14.3.2.26", "SHA-1", BCRYPT_SHA1_ALGORITHM},
};

// SpcIndirectDataContent ::= SEQUENCE { data SEQUENCE, messageDigest
// DigestInfo ::= SEQUENCE { AlgorithmIdentifier, OCTET STRING } }.
bool ReadIndirectData(Der content, std::string* algorithmOid, Bytes* digest) {
    Der outer, data, digestInfo, algorithm, oid, value;
    // Some decoders hand the content over still wrapped in its OCTET STRING.
    if (content.Tag() == 0x04 && !content.Next(0x04, &content))
        return false;
    if (!content.Next(0x30, &outer) || !outer.Next(0x30, &data) || !outer.Next(0x30, &digestInfo) ||
        !digestInfo.Next(0x30, &algorithm) || !algorithm.Next(0x06, &oid) ||
        !digestInfo.Next(0x04, &value))
        return false;
    *algorithmOid = OidText(oid);
    digest->assign(value.At, value.At + value.Left);
    return true;
}

// The hash of the file without the checksum field, the certificate table's
// directory entry and the table itself (everything before it is hashed).
bool ImageDigest(const wchar_t* algorithm, const uint8_t* file, const ProgramLayout& layout,
                 Bytes* digest) {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    DWORD length = 0, got = 0;
    bool ok = BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0) == 0 &&
              BCryptGetProperty(provider, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length),
                                sizeof length, &got, 0) == 0 &&
              BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    const uint64_t cuts[][2] = {
        {0, layout.CheckSumOffset},
        {uint64_t(layout.CheckSumOffset) + 4, layout.SecurityEntryOffset},
        {uint64_t(layout.SecurityEntryOffset) + 8, layout.CertificateOffset}};
    for (const auto& cut : cuts) {
        for (uint64_t at = cut[0]; ok && at < cut[1]; at += 1u << 30) {
            uint64_t piece = cut[1] - at < (1u << 30) ? cut[1] - at : (1u << 30);
            ok = BCryptHashData(hash, const_cast<PUCHAR>(file + at), static_cast<ULONG>(piece),
                                0) == 0;
        }
    }
    if (ok) {
        digest->resize(length);
        ok = BCryptFinishHash(hash, digest->data(), length, 0) == 0;
    }
    if (hash)
        BCryptDestroyHash(hash);
    if (provider)
        BCryptCloseAlgorithmProvider(provider, 0);
    return ok;
}

Bytes MessageParam(HCRYPTMSG message, DWORD type, DWORD index = 0) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, index, nullptr, &size) || size == 0)
        return Bytes();
    Bytes bytes(size);
    if (!CryptMsgGetParam(message, type, index, bytes.data(), &size))
        return Bytes();
    bytes.resize(size);
    return bytes;
}

std::string FormatUtc(const SYSTEMTIME& t) {
    char text[40];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay,
             t.wHour, t.wMinute, t.wSecond);
    return text;
}

// The time-stamp token: ContentInfo { signedData, [0] SignedData { version,
// digestAlgorithms, encapContentInfo { TSTInfo's type, [0] OCTET STRING {
// TSTInfo ::= SEQUENCE { version, policy, messageImprint, serialNumber,
// genTime GeneralizedTime ("YYYYMMDDHHMMSS[.f]Z"), ... } } } } }.
std::string Rfc3161Time(const uint8_t* data, size_t size) {
    Der token{data, size}, info, signedData, body, encap, wrapped, octets, tst, time;
    if (!token.Next(0x30, &info) || !info.Next(0x06, nullptr) || !info.Next(0xA0, &signedData) ||
        !signedData.Next(0x30, &body) || !body.Next(0x02, nullptr) || !body.Next(0x31, nullptr) ||
        !body.Next(0x30, &encap) || !encap.Next(0x06, nullptr) || !encap.Next(0xA0, &wrapped) ||
        !wrapped.Next(0x04, &octets) || !octets.Next(0x30, &tst) || !tst.Next(0x02, nullptr) ||
        !tst.Next(0x06, nullptr) || !tst.Next(0x30, nullptr) || !tst.Next(0x02, nullptr) ||
        !tst.Next(0x18, &time) || time.Left < 14)
        return std::string();
    std::string t(reinterpret_cast<const char*>(time.At), 14);
    return t.substr(0, 4) + "-" + t.substr(4, 2) + "-" + t.substr(6, 2) + " " + t.substr(8, 2) +
           ":" + t.substr(10, 2) + ":" + t.substr(12, 2) + " UTC (RFC 3161)";
}

// The legacy Authenticode counter-signature: its signing-time attribute.
std::string CounterSignatureTime(const uint8_t* data, size_t size) {
    DWORD length = 0;
    PCMSG_SIGNER_INFO signer = nullptr;
    std::string when;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS7_SIGNER_INFO, data,
                             static_cast<DWORD>(size), CRYPT_DECODE_ALLOC_FLAG, nullptr, &signer,
                             &length))
        return when;
    for (DWORD i = 0; i < signer->AuthAttrs.cAttr && when.empty(); ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer->AuthAttrs.rgAttr[i];
        FILETIME time;
        DWORD timeSize = sizeof time;
        SYSTEMTIME parts;
        if (strcmp(attribute.pszObjId, kSigningTimeOid) == 0 && attribute.cValue > 0 &&
            CryptDecodeObject(X509_ASN_ENCODING, X509_CHOICE_OF_TIME, attribute.rgValue[0].pbData,
                              attribute.rgValue[0].cbData, 0, &time, &timeSize) &&
            FileTimeToSystemTime(&time, &parts))
            when = FormatUtc(parts) + " (Authenticode counter-signature)";
    }
    LocalFree(signer);
    return when;
}

// The time stamp among the signer's unauthenticated attributes.
std::string TimestampOf(HCRYPTMSG message) {
    Bytes attributes = MessageParam(message, CMSG_SIGNER_UNAUTH_ATTR_PARAM);
    if (attributes.empty())
        return std::string();
    const CRYPT_ATTRIBUTES* list = reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data());
    for (DWORD i = 0; i < list->cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = list->rgAttr[i];
        if (attribute.cValue == 0)
            continue;
        const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
        std::string when;
        if (strcmp(attribute.pszObjId, kRfc3161TimestampOid) == 0)
            when = Rfc3161Time(value.pbData, value.cbData);
        else if (strcmp(attribute.pszObjId, kCounterSignatureOid) == 0)
            when = CounterSignatureTime(value.pbData, value.cbData);
        if (!when.empty())
            return when;
    }
    return std::string();
}

// SpcSpOpusInfo ::= SEQUENCE { programName [0] EXPLICIT SpcString OPTIONAL, ... },
// SpcString ::= CHOICE { unicode [0] IMPLICIT BMPString, ascii [1] IMPLICIT IA5String }.
std::string DescriptionOf(HCRYPTMSG message) {
    Bytes attributes = MessageParam(message, CMSG_SIGNER_AUTH_ATTR_PARAM);
    if (attributes.empty())
        return std::string();
    const CRYPT_ATTRIBUTES* list = reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data());
    for (DWORD i = 0; i < list->cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = list->rgAttr[i];
        if (strcmp(attribute.pszObjId, kOpusInfoOid) != 0 || attribute.cValue == 0)
            continue;
        Der der{attribute.rgValue[0].pbData, attribute.rgValue[0].cbData}, info, name, text;
        if (!der.Next(0x30, &info) || info.Tag() != 0xA0 || !info.Next(0xA0, &name))
            return std::string();
        if (name.Tag() == 0x80 && name.Next(0x80, &text)) {
            std::wstring wide;
            for (size_t k = 0; k + 1 < text.Left; k += 2)
                wide.push_back(static_cast<wchar_t>((text.At[k] << 8) | text.At[k + 1]));
            return WideToUtf8(wide);
        }
        if (name.Tag() == 0x81 && name.Next(0x81, &text))
            return std::string(reinterpret_cast<const char*>(text.At), text.Left);
    }
    return std::string();
}

std::string SubjectOf(PCCERT_CONTEXT certificate) {
    DWORD size = CertNameToStrW(X509_ASN_ENCODING, &certificate->pCertInfo->Subject,
                                CERT_X500_NAME_STR, nullptr, 0);
    if (size <= 1)
        return std::string();
    std::wstring text(size, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, &certificate->pCertInfo->Subject, CERT_X500_NAME_STR,
                   &text[0], size);
    text.resize(size - 1);
    return WideToUtf8(text);
}

// Reads the signature in the certificate table and compares its image digest
// with the file's; report->Problem says what does not hold.
void ExamineSignature(const uint8_t* file, uint64_t size, const ProgramLayout& layout,
                      ProgramFileReport* report) {
    uint64_t end = uint64_t(layout.CertificateOffset) + layout.CertificateSize;
    if (end > size || layout.CertificateSize < 8 ||
        layout.CertificateOffset < uint64_t(layout.SecurityEntryOffset) + 8) {
        report->Problem = "the certificate table lies outside the file";
        return;
    }
    // WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then the PKCS #7 blob.
    uint32_t length;
    uint16_t type;
    memcpy(&length, file + layout.CertificateOffset, 4);
    memcpy(&type, file + layout.CertificateOffset + 6, 2);
    if (length < 8 || length > layout.CertificateSize || type != kPkcsSignedData) {
        report->Problem = "the certificate table holds no PKCS #7 signature";
        return;
    }
    // Anything after the table (other than the padding to 8 bytes) is not
    // covered by the digest.
    if (size - end >= 8) {
        report->Problem = std::to_string(size - end) +
                          " bytes after the certificate table are not covered by the signature";
        return;
    }
    CERT_BLOB blob = {length - 8, const_cast<BYTE*>(file + layout.CertificateOffset + 8)};
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store,
                          &message, nullptr)) {
        report->Problem =
            "the signature cannot be read (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    Bytes innerType = MessageParam(message, CMSG_INNER_CONTENT_TYPE_PARAM);
    Bytes content = MessageParam(message, CMSG_CONTENT_PARAM);
    std::string algorithmOid;
    Bytes signedDigest, fileDigest;
    const DigestAlgorithm* algorithm = nullptr;
    if (innerType.empty() ||
        strcmp(reinterpret_cast<const char*>(innerType.data()), kIndirectDataOid) != 0 ||
        !ReadIndirectData(Der{content.data(), content.size()}, &algorithmOid, &signedDigest)) {
        report->Problem = "the signature holds no Authenticode image digest";
    } else {
        for (const DigestAlgorithm& known : kAlgorithms)
            if (algorithmOid == known.Oid)
                algorithm = &known;
        if (algorithm == nullptr)
            report->Problem =
                "the image digest uses an algorithm this tool does not know (" + algorithmOid + ")";
    }
    if (algorithm) {
        report->Algorithm = algorithm->Name;
        if (!ImageDigest(algorithm->BcryptName, file, layout, &fileDigest))
            report->Problem = "the image digest cannot be computed";
        else if (fileDigest != signedDigest)
            report->Problem = "the signature does not cover the file as it is: its " +
                              std::string(algorithm->Name) +
                              " image digest differs from the file's (the file changed after "
                              "signing)";
    }
    // The signer's certificate, and the signer's own signature over the
    // signed attributes (which hold the digest of the content above).
    Bytes signerInfo = MessageParam(message, CMSG_SIGNER_CERT_INFO_PARAM);
    PCCERT_CONTEXT signer =
        signerInfo.empty()
            ? nullptr
            : CertGetSubjectCertificateFromStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                 reinterpret_cast<PCERT_INFO>(signerInfo.data()));
    if (signer == nullptr) {
        if (report->Problem.empty())
            report->Problem = "the signer's certificate is not in the signature";
    } else {
        report->Subject = SubjectOf(signer);
        if (report->Problem.empty() &&
            !CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE, signer->pCertInfo))
            report->Problem = "the signer's signature over the image digest does not verify";
        CertFreeCertificateContext(signer);
    }
    report->Timestamp = TimestampOf(message);
    report->Description = DescriptionOf(message);
    CryptMsgClose(message);
    CertCloseStore(store, 0);
}

} // namespace

bool ExamineProgramFile(const std::wstring& path, ProgramFileReport* report, std::string* error) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error =
            "cannot open " + WideToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    LARGE_INTEGER size = {};
    HANDLE mapping = GetFileSizeEx(file, &size) && size.QuadPart > 0
                         ? CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)
                         : nullptr;
    const uint8_t* view =
        mapping ? static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))
                : nullptr;
    ProgramLayout layout;
    bool ok = view && ReadProgramLayout(view, static_cast<uint64_t>(size.QuadPart), &layout);
    if (!ok) {
        *error = "not a Windows program: " + WideToUtf8(path);
    } else {
        uint64_t bytes = static_cast<uint64_t>(size.QuadPart);
        report->StoredCheckSum = layout.StoredCheckSum;
        report->ComputedCheckSum = ComputePeChecksum(view, bytes, layout.CheckSumOffset);
        report->ChecksumMatches =
            PeChecksumMatches(report->StoredCheckSum, report->ComputedCheckSum, bytes);
        report->Signed = layout.CertificateSize != 0;
        if (report->Signed)
            ExamineSignature(view, bytes, layout, report);
    }
    if (view)
        UnmapViewOfFile(view);
    if (mapping)
        CloseHandle(mapping);
    CloseHandle(file);
    return ok;
}
