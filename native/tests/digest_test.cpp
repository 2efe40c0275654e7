#include "native/tests/exact_bytes.h"
#include "package/crc32_fold.h"
#include "package/package_digest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

bool ProcessorHasCarrylessMultiply() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_PCLMUL) && (ecx & bit_SSE4_1);
#else
    return false;
#endif
}

// Three resources in heap blocks of exactly their size; the payload spans
// several check pieces so a flip can land in the first, a middle or the last.
struct Resources {
    std::vector<char> Config = ExactBytes("[SETUP]\r\nTagFolder=x\r\n");
    std::vector<char> Index = ExactBytes(std::string(600 + 560 * 2, '\x11'));
    std::vector<char> Payload;
    Resources() {
        std::string bytes(2 * kDigestPieceSize + 12345, '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 2654435761u >> 13);
        Payload = ExactBytes(bytes);
    }
    void Spans(ResourceSpan out[kDigestPartCount]) {
        out[kDigestConfig] = {Config.data(), Config.size()};
        out[kDigestIndex] = {Index.data(), Index.size()};
        out[kDigestPayload] = {Payload.data(), Payload.size()};
    }
    PackageDigest Digest() {
        ResourceSpan spans[kDigestPartCount];
        Spans(spans);
        return ComputePackageDigest(spans[0], spans[1], spans[2]);
    }
};

TEST(PackageDigest, EncodesAndDecodesTheThreeParts) {
    Resources resources;
    PackageDigest digest = resources.Digest();
    EXPECT_EQ(digest.Parts[kDigestPayload].Crc,
              crc32(0, reinterpret_cast<const Bytef*>(resources.Payload.data()),
                    static_cast<uInt>(resources.Payload.size())));
    std::vector<uint8_t> encoded = EncodeDigest(digest);
    ASSERT_EQ(encoded.size(), kDigestResourceSize);
    EXPECT_EQ(memcmp(encoded.data(), "MDPD\x01\x00\x10\x00\x01\x00\x00\x00\x03\x00\x00\x00", 16),
              0);
    std::vector<char> exact(encoded.begin(), encoded.end());
    PackageDigest decoded;
    ASSERT_EQ(DecodeDigest(exact.data(), exact.size(), &decoded), DigestFormat::kOk);
    EXPECT_EQ(memcmp(&decoded, &digest, sizeof digest), 0);
    const uint32_t ids[] = {121, 102, 101};
    for (int i = 0; i < kDigestPartCount; ++i)
        EXPECT_EQ(decoded.Parts[i].ResourceId, ids[i]);
}

TEST(PackageDigest, UnreadableResourcesAreTold) {
    std::vector<uint8_t> good = EncodeDigest(Resources().Digest());
    struct Case {
        const char* Name;
        size_t Offset; // byte to change, or the size to cut to when Cut
        uint8_t Value;
        bool Cut;
        DigestFormat Expected;
    } cases[] = {
        {"empty", 0, 0, true, DigestFormat::kTooShort},
        {"cut in the header", 15, 0, true, DigestFormat::kTooShort},
        {"cut in the parts", 40, 0, true, DigestFormat::kBadLayout},
        {"magic", 0, 'X', false, DigestFormat::kBadMagic},
        {"version 2", 4, 2, false, DigestFormat::kUnknownVersion},
        {"header size", 6, 20, false, DigestFormat::kBadLayout},
        {"algorithm", 8, 2, false, DigestFormat::kBadLayout},
        {"part count", 12, 2, false, DigestFormat::kBadLayout},
        {"part id", 16, 120, false, DigestFormat::kBadLayout},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<uint8_t> bytes = good;
        if (c.Cut)
            bytes.resize(c.Offset);
        else
            bytes[c.Offset] = c.Value;
        std::vector<char> exact(bytes.begin(), bytes.end());
        PackageDigest decoded;
        EXPECT_EQ(DecodeDigest(exact.data(), exact.size(), &decoded), c.Expected);
    }
    std::vector<char> longer(good.begin(), good.end());
    longer.push_back(0);
    PackageDigest decoded;
    EXPECT_EQ(DecodeDigest(longer.data(), longer.size(), &decoded), DigestFormat::kBadLayout);
    EXPECT_EQ(DecodeDigest(nullptr, 0, &decoded), DigestFormat::kTooShort);
}

TEST(PackageDigest, EachFlippedByteIsFoundInItsPart) {
    struct Flip {
        int Part;
        size_t Offset; // from the start; SIZE_MAX: the last byte
    } flips[] = {
        {kDigestConfig, 0},      {kDigestConfig, SIZE_MAX},          {kDigestIndex, 0},
        {kDigestIndex, 600 + 3}, {kDigestIndex, SIZE_MAX},           {kDigestPayload, 0},
        {kDigestPayload, 1},     {kDigestPayload, kDigestPieceSize}, {kDigestPayload, SIZE_MAX},
    };
    for (const Flip& flip : flips) {
        SCOPED_TRACE(std::string(DigestPartName(flip.Part)) + " at " + std::to_string(flip.Offset));
        Resources resources;
        PackageDigest digest = resources.Digest();
        std::vector<char>* target[] = {&resources.Config, &resources.Index, &resources.Payload};
        std::vector<char>& bytes = *target[flip.Part];
        bytes[flip.Offset == SIZE_MAX ? bytes.size() - 1 : flip.Offset] ^= 0x01;
        ResourceSpan spans[kDigestPartCount];
        resources.Spans(spans);
        bool mismatched[kDigestPartCount];
        EXPECT_FALSE(CheckPackageDigest(digest, spans, nullptr, false, mismatched));
        for (int i = 0; i < kDigestPartCount; ++i)
            EXPECT_EQ(mismatched[i], i == flip.Part) << i;
    }
}

TEST(PackageDigest, ChecksEveryByteOnceAndReportsProgress) {
    Resources resources;
    PackageDigest digest = resources.Digest();
    ResourceSpan spans[kDigestPartCount];
    resources.Spans(spans);
    uint64_t total = spans[0].Size + spans[1].Size + spans[2].Size;
    std::vector<uint64_t> seen;
    bool mismatched[kDigestPartCount] = {true, true, true};
    EXPECT_TRUE(CheckPackageDigest(
        digest, spans,
        [&](uint64_t done, uint64_t all) {
            EXPECT_EQ(all, total);
            seen.push_back(done);
        },
        true, mismatched));
    for (bool m : mismatched)
        EXPECT_FALSE(m);
    ASSERT_EQ(seen.size(), 5u); // config, index, three payload pieces
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_LT(seen[i - 1], seen[i]);
    EXPECT_EQ(seen.back(), total);
}

TEST(PackageDigest, SizeChangesAndMissingPartsFailWithoutReading) {
    Resources resources;
    PackageDigest digest = resources.Digest();
    ResourceSpan spans[kDigestPartCount];
    resources.Spans(spans);
    spans[kDigestConfig].Size -= 1; // cut short
    spans[kDigestPayload] = {};     // missing
    int calls = 0;
    bool mismatched[kDigestPartCount];
    EXPECT_FALSE(CheckPackageDigest(
        digest, spans, [&](uint64_t, uint64_t) { ++calls; }, true, mismatched));
    EXPECT_TRUE(mismatched[kDigestConfig]);
    EXPECT_FALSE(mismatched[kDigestIndex]) << "stopped at the first";
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(CheckPackageDigest(digest, spans, nullptr, false, mismatched));
    EXPECT_TRUE(mismatched[kDigestConfig]);
    EXPECT_FALSE(mismatched[kDigestIndex]);
    EXPECT_TRUE(mismatched[kDigestPayload]);
}

TEST(PackageDigest, EmptyResourcesHaveAZeroCrc) {
    DigestPart part = MakeDigestPart(101, ResourceSpan{});
    EXPECT_EQ(part.Size, 0u);
    EXPECT_EQ(part.Crc, 0u);
    EXPECT_EQ(ExtendCrc32(0, "123456789", 9), 0xCBF43926u); // the CRC-32 check value
}

// The folding against zlib's table method: every length class (whole 64-byte
// steps, 16-byte steps after them, a tail for the table), any starting value,
// each span in a block of exactly its size so a read past it is caught.
TEST(PackageDigest, FoldedCrcAgreesWithZlib) {
    const bool folds = ProcessorHasCarrylessMultiply();
    EXPECT_EQ(Crc32FoldAvailable(), folds);
    const size_t sizes[] = {1,   15,  63,  64,  65,  79,   80,   127,
                            128, 129, 191, 192, 208, 1000, 4111, 65543};
    const uint32_t starts[] = {0, 0xFFFFFFFFu, 0x12345678u};
    for (size_t size : sizes) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 2654435761u) >> 11);
        std::vector<char> block = ExactBytes(bytes);
        const auto* data = reinterpret_cast<const uint8_t*>(block.data());
        for (uint32_t start : starts) {
            uint32_t expected = static_cast<uint32_t>(
                crc32(start, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
            EXPECT_EQ(ExtendCrc32(start, data, size), expected) << size << " from " << start;
            if (folds && size >= kCrc32FoldMinimum && size % 16 == 0)
                EXPECT_EQ(FoldCrc32(start, data, size), expected) << size << " from " << start;
        }
        // In pieces that split the folding's steps, as the check reads.
        if (size > 0) {
            uint32_t pieces = ExtendCrc32(0, data, size / 3);
            pieces = ExtendCrc32(pieces, data + size / 3, size - size / 3);
            EXPECT_EQ(pieces, ExtendCrc32(0, data, size)) << size;
        }
    }
}

} // namespace
