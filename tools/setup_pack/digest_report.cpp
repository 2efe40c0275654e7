#include "tools/setup_pack/digest_report.h"

#include "package/package_format.h"

#include <cstdio>

namespace {

ResourceSpan Span(const ResourceView& view) {
    ResourceSpan span;
    span.Data = view.Data;
    span.Size = view.Found ? view.Size : 0;
    return span;
}

std::string SizeAndCrc(const DigestPart& part) {
    char crc[16];
    snprintf(crc, sizeof crc, "%08X", part.Crc);
    return std::to_string(part.Size) + " bytes, CRC-32 " + crc;
}

} // namespace

bool DigestReport::Damaged() const {
    if (!Present)
        return false;
    if (Format != DigestFormat::kOk)
        return true;
    for (bool mismatched : Mismatched)
        if (mismatched)
            return true;
    return false;
}

DigestReport ExamineDigest(const ResourceView& digest, const ResourceView& config,
                           const ResourceView& index, const ResourceView& payload) {
    DigestReport report;
    report.Present = digest.Found;
    report.Actual[kDigestConfig] = MakeDigestPart(kConfigResourceId, Span(config));
    report.Actual[kDigestIndex] = MakeDigestPart(kIndexResourceId, Span(index));
    report.Actual[kDigestPayload] = MakeDigestPart(kPayloadResourceId, Span(payload));
    if (!report.Present)
        return report;
    report.Format = DecodeDigest(digest.Data, digest.Size, &report.Stored);
    if (report.Format != DigestFormat::kOk)
        return report;
    for (int i = 0; i < kDigestPartCount; ++i)
        report.Mismatched[i] = report.Actual[i].Size != report.Stored.Parts[i].Size ||
                               report.Actual[i].Crc != report.Stored.Parts[i].Crc;
    return report;
}

std::vector<std::string> DigestFaults(const DigestReport& report) {
    std::vector<std::string> faults;
    if (!report.Present)
        return faults;
    if (report.Format != DigestFormat::kOk) {
        faults.push_back(std::string("digest resource (BIN 122) cannot be read: it ") +
                         DescribeDigestFormat(report.Format) +
                         "; the installer refuses the package");
        return faults;
    }
    for (int i = 0; i < kDigestPartCount; ++i)
        if (report.Mismatched[i])
            faults.push_back(std::string(DigestPartName(i)) +
                             " does not match the digest: " + SizeAndCrc(report.Actual[i]) +
                             ", the digest says " + SizeAndCrc(report.Stored.Parts[i]));
    return faults;
}

std::vector<std::string> DigestLines(const DigestReport& report) {
    if (!report.Present)
        return {"digest: missing (the installer cannot refuse a damaged download before it "
                "installs)"};
    if (report.Format != DigestFormat::kOk)
        return {std::string("digest: unreadable, it ") + DescribeDigestFormat(report.Format)};
    std::vector<std::string> lines = {"digest: version 1, CRC-32"};
    const char* keys[kDigestPartCount] = {"digest.config", "digest.index", "digest.payload"};
    for (int i = 0; i < kDigestPartCount; ++i)
        lines.push_back(std::string(keys[i]) + ": " + SizeAndCrc(report.Stored.Parts[i]) +
                        (report.Mismatched[i]
                             ? " (differs: the resource holds " + SizeAndCrc(report.Actual[i]) + ")"
                             : " (matches)"));
    return lines;
}
