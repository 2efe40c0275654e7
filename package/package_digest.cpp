#include "package/package_digest.h"

#include "package/crc32_fold.h"
#include "package/package_format.h"

#include <climits>
#include <cstring>
#include <zlib.h>

static const char kDigestMagic[4] = {'M', 'D', 'P', 'D'};
static const int kPartResourceIds[kDigestPartCount] = {kConfigResourceId, kIndexResourceId,
                                                       kPayloadResourceId};

uint32_t ExtendCrc32(uint32_t crc, const void* data, size_t size) {
    const Bytef* at = static_cast<const Bytef*>(data);
    if (size >= kCrc32FoldMinimum && Crc32FoldAvailable()) {
        size_t folded = size & ~size_t(15);
        crc = FoldCrc32(crc, at, folded);
        at += folded;
        size -= folded;
    }
    uLong value = crc;
    while (size > 0) {
        // crc32 takes a uInt length; feed larger spans in pieces.
        uInt piece = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
        value = crc32(value, at, piece);
        at += piece;
        size -= piece;
    }
    return static_cast<uint32_t>(value);
}

DigestPart MakeDigestPart(int resourceId, const ResourceSpan& bytes) {
    DigestPart part;
    part.ResourceId = static_cast<uint32_t>(resourceId);
    part.Size = static_cast<uint32_t>(bytes.Size);
    part.Crc = bytes.Size ? ExtendCrc32(0, bytes.Data, bytes.Size) : 0;
    return part;
}

PackageDigest ComputePackageDigest(const ResourceSpan& config, const ResourceSpan& index,
                                   const ResourceSpan& payload) {
    PackageDigest digest;
    digest.Parts[kDigestConfig] = MakeDigestPart(kConfigResourceId, config);
    digest.Parts[kDigestIndex] = MakeDigestPart(kIndexResourceId, index);
    digest.Parts[kDigestPayload] = MakeDigestPart(kPayloadResourceId, payload);
    return digest;
}

std::vector<uint8_t> EncodeDigest(const PackageDigest& digest) {
    DigestHeader header;
    memcpy(header.Magic, kDigestMagic, sizeof header.Magic);
    header.Version = kDigestVersion;
    header.HeaderSize = sizeof(DigestHeader);
    header.Algorithm = kDigestAlgorithmCrc32;
    header.PartCount = kDigestPartCount;
    std::vector<uint8_t> bytes(kDigestResourceSize);
    memcpy(bytes.data(), &header, sizeof header);
    memcpy(bytes.data() + sizeof header, digest.Parts, sizeof digest.Parts);
    return bytes;
}

DigestFormat DecodeDigest(const void* data, size_t size, PackageDigest* out) {
    DigestHeader header;
    if (data == nullptr || size < sizeof header)
        return DigestFormat::kTooShort;
    memcpy(&header, data, sizeof header);
    if (memcmp(header.Magic, kDigestMagic, sizeof header.Magic) != 0)
        return DigestFormat::kBadMagic;
    if (header.Version != kDigestVersion)
        return DigestFormat::kUnknownVersion;
    if (header.HeaderSize != sizeof header || header.Algorithm != kDigestAlgorithmCrc32 ||
        header.PartCount != kDigestPartCount || size != kDigestResourceSize)
        return DigestFormat::kBadLayout;
    memcpy(out->Parts, static_cast<const uint8_t*>(data) + sizeof header, sizeof out->Parts);
    for (int i = 0; i < kDigestPartCount; ++i)
        if (out->Parts[i].ResourceId != static_cast<uint32_t>(kPartResourceIds[i]))
            return DigestFormat::kBadLayout;
    return DigestFormat::kOk;
}

const char* DescribeDigestFormat(DigestFormat format) {
    switch (format) {
    case DigestFormat::kOk:
        return "readable";
    case DigestFormat::kTooShort:
        return "shorter than its header";
    case DigestFormat::kBadMagic:
        return "does not start with MDPD";
    case DigestFormat::kUnknownVersion:
        return "has a version this program does not know";
    case DigestFormat::kBadLayout:
        return "has a size, algorithm or part list that version 1 does not allow";
    }
    return "?";
}

const char* DigestPartName(int part) {
    static const char* const kNames[kDigestPartCount] = {"configuration (BIN 121)",
                                                         "index (BIN 102)", "payload (BIN 101)"};
    return part >= 0 && part < kDigestPartCount ? kNames[part] : "?";
}

bool CheckPackageDigest(const PackageDigest& digest, const ResourceSpan parts[kDigestPartCount],
                        const DigestProgress& progress, bool stopAtFirst,
                        bool mismatched[kDigestPartCount]) {
    uint64_t total = 0, done = 0;
    for (int i = 0; i < kDigestPartCount; ++i) {
        mismatched[i] = false;
        total += parts[i].Size;
    }
    bool allMatch = true;
    for (int i = 0; i < kDigestPartCount; ++i) {
        const ResourceSpan& part = parts[i];
        // A size that differs needs no reading: the part is damaged.
        if (part.Size != digest.Parts[i].Size || (part.Size > 0 && part.Data == nullptr)) {
            mismatched[i] = true;
        } else {
            const uint8_t* at = static_cast<const uint8_t*>(part.Data);
            uint32_t crc = 0;
            for (size_t offset = 0; offset < part.Size; offset += kDigestPieceSize) {
                size_t piece =
                    part.Size - offset < kDigestPieceSize ? part.Size - offset : kDigestPieceSize;
                crc = ExtendCrc32(crc, at + offset, piece);
                done += piece;
                if (progress)
                    progress(done, total);
            }
            mismatched[i] = crc != digest.Parts[i].Crc;
        }
        if (mismatched[i]) {
            allMatch = false;
            if (stopAtFirst)
                break;
        }
    }
    return allMatch;
}
