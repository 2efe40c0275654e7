#include "app/package_digest_check.h"

#include "install/setup_context.h"
#include "package/package_digest.h"
#include "package/package_format.h"
#include "package/package_resources.h"

static ResourceSpan Span(const ResourceBytes& bytes) {
    ResourceSpan span;
    span.Data = bytes.Data;
    span.Size = bytes.Found ? bytes.Size : 0;
    return span;
}

bool PackageMatchesDigest(const CheckProgressPace& pace) {
    ResourceBytes stored = LoadPackageResource(kDigestResourceId);
    if (!stored.Found)
        return true;
    PackageDigest digest;
    if (DecodeDigest(stored.Data, stored.Size, &digest) != DigestFormat::kOk)
        return false;
    ResourceSpan parts[kDigestPartCount];
    parts[kDigestConfig] = Span(LoadPackageResource(kConfigResourceId));
    parts[kDigestIndex] = Span(LoadPackageResource(kIndexResourceId));
    parts[kDigestPayload] = Span(LoadPackageResource(kPayloadResourceId));

    CheckProgressWindow progress;
    BeginCheckProgress(&progress, pace, g_SetupContext.ConfigPath);
    bool mismatched[kDigestPartCount];
    bool match = CheckPackageDigest(
        digest, parts,
        [&progress](uint64_t done, uint64_t total) { UpdateCheckProgress(&progress, done, total); },
        true, mismatched);
    EndCheckProgress(&progress);
    return match;
}
