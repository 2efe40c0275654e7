#include "tools/setup_pack/pack_verify.h"

#include "core/text_util.h"
#include "package/package_reader.h"
#include "tools/setup_pack/pack_build.h"
#include "tools/setup_pack/text_convert.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

const char* GroupName(PackageGroup group) {
    switch (group) {
    case PackageGroup::Server:
        return "server";
    case PackageGroup::Client:
        return "client";
    case PackageGroup::Database:
        return "database";
    }
    return "?";
}

PackageGroup GroupOfEntry(const PackageHeader& header, uint32_t entry) {
    if (entry < header.ServerEntryCount)
        return PackageGroup::Server;
    if (entry - header.ServerEntryCount < header.ClientEntryCount)
        return PackageGroup::Client;
    return PackageGroup::Database;
}

std::string InflateEntry(const uint8_t* stream, size_t length, uint64_t size,
                         const std::function<bool(const uint8_t*, size_t)>& sink) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK)
        return "cannot start the inflater";
    uint8_t out[65536];
    uint64_t produced = 0;
    size_t offered = 0;
    std::string problem;
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.avail_in == 0 && offered < length) {
            size_t piece = length - offered < (1u << 30) ? length - offered : (1u << 30);
            z.next_in = const_cast<Bytef*>(stream + offered);
            z.avail_in = static_cast<uInt>(piece);
            offered += piece;
        }
        z.next_out = out;
        z.avail_out = sizeof out;
        status = inflate(&z, Z_NO_FLUSH);
        size_t got = sizeof out - z.avail_out;
        produced += got;
        if (produced > size) {
            problem = "inflates to more than its size of " + std::to_string(size) + " bytes";
            break;
        }
        if (got > 0 && !sink(out, got)) {
            problem = "cannot store the inflated bytes";
            break;
        }
        if (status == Z_BUF_ERROR && offered == length && z.avail_in == 0) {
            problem = "stream is cut short";
            break;
        }
        if (status == Z_BUF_ERROR)
            status = Z_OK;
    }
    if (problem.empty() && status != Z_STREAM_END)
        problem = status == Z_DATA_ERROR
                      ? "stream is damaged (bad data or checksum)"
                      : "stream does not inflate (zlib " + std::to_string(status) + ")";
    if (problem.empty() && (z.avail_in != 0 || offered != length))
        problem = "stream ends " + std::to_string(length - offered + z.avail_in) +
                  " bytes before its compressed length";
    if (problem.empty() && produced != size)
        problem = "inflates to " + std::to_string(produced) + " bytes, not its size of " +
                  std::to_string(size);
    inflateEnd(&z);
    return problem;
}

namespace {

bool Terminated(const char* field, size_t size) {
    return memchr(field, 0, size) != nullptr;
}

void CheckConfig(const ResourceView& config, VerifyReport* report) {
    if (!config.Found) {
        report->Faults.push_back("configuration resource (BIN 121) is missing");
        return;
    }
    std::string text(reinterpret_cast<const char*>(config.Data), config.Size);
    if (text.size() <= 3)
        report->Faults.push_back("configuration holds 3 bytes or fewer; the installer gives up");
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        report->Faults.push_back("configuration starts with a UTF-8 byte-order mark");
    if (text.find('\0') != std::string::npos)
        report->Faults.push_back("configuration holds a NUL byte");
    int line = 1;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        bool end = i == text.size();
        if (!end && text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            report->Faults.push_back("configuration line " + std::to_string(line) +
                                     " ends in CR without LF");
        if (!end && text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            report->Faults.push_back("configuration line " + std::to_string(line) +
                                     " ends in LF without CR");
        if (end || text[i] == '\n') {
            std::wstring wide;
            if (!GbkToWideStrict(text.substr(start, i - start), &wide))
                report->Faults.push_back("configuration line " + std::to_string(line) +
                                         " is not valid code page 936");
            start = i + 1;
            ++line;
        }
    }
}

std::string Describe(const PackageHeader& header, uint32_t i, const PackageEntry& entry) {
    std::string path(entry.RelativePath, strnlen(entry.RelativePath, sizeof entry.RelativePath));
    return "entry " + std::to_string(i) + " (" + GroupName(GroupOfEntry(header, i)) + " " +
           GbkForDisplay(path) + "): ";
}

void CheckEntries(const PackageHeader& header, const PackageView& view, const ResourceView& payload,
                  uint32_t count, VerifyReport* report) {
    uint64_t totals[kPackageGroupCount] = {};
    std::vector<std::string> paths[kPackageGroupCount];
    uint64_t expectedOffset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        PackageEntry entry;
        if (!view.Entry(i, &entry))
            break;
        std::string where = Describe(header, i, entry);
        auto fault = [&](const std::string& text) { report->Faults.push_back(where + text); };
        int group = static_cast<int>(GroupOfEntry(header, i));
        totals[group] += entry.Size;
        if (entry.Ordinal != i)
            fault("ordinal is " + std::to_string(entry.Ordinal));
        bool safe = IsSafeRelativePath(entry.RelativePath, sizeof entry.RelativePath);
        if (!safe)
            fault("relative path is empty, unterminated, absolute, names a drive or leaves its "
                  "folder");
        else
            paths[group].push_back(entry.RelativePath);
        if (!Terminated(entry.FileName, sizeof entry.FileName)) {
            fault("file name is not terminated");
        } else if (safe) {
            long cut = FindLastSeparatorGbk(entry.RelativePath);
            if (strcmp(entry.FileName, entry.RelativePath + cut + 1) != 0)
                fault("file name " + GbkForDisplay(entry.FileName) +
                      " is not the last component of the relative path");
        }
        if (entry.PayloadOffset != expectedOffset)
            fault("stream starts at offset " + std::to_string(entry.PayloadOffset) +
                  ", not directly after the previous one at " + std::to_string(expectedOffset));
        expectedOffset = static_cast<uint64_t>(entry.PayloadOffset) + entry.CompressedLength;
        if (entry.Size == 0 && entry.CompressedLength != 8)
            fault("empty file with a stream of " + std::to_string(entry.CompressedLength) +
                  " bytes, not 8");
        const uint8_t* stream = view.Stream(entry);
        if (stream == nullptr) {
            fault("stream (offset " + std::to_string(entry.PayloadOffset) + ", length " +
                  std::to_string(entry.CompressedLength) + ") lies outside the payload of " +
                  std::to_string(payload.Size) + " bytes");
            continue;
        }
        std::string problem = InflateEntry(stream, entry.CompressedLength, entry.Size,
                                           [](const uint8_t*, size_t) { return true; });
        if (!problem.empty())
            fault(problem);
    }
    if (count > 0 && expectedOffset != payload.Size)
        report->Faults.push_back("payload is " + std::to_string(payload.Size) +
                                 " bytes but its last stream ends at " +
                                 std::to_string(expectedOffset));
    const uint32_t stated[] = {header.ServerBytes, header.ClientBytes, header.DatabaseBytes};
    for (int g = 0; g < kPackageGroupCount; ++g) {
        if (totals[g] != stated[g])
            report->Faults.push_back(std::string(GroupName(static_cast<PackageGroup>(g))) +
                                     " byte total is " + std::to_string(stated[g]) +
                                     " but its entries add up to " + std::to_string(totals[g]));
        std::vector<std::string> folded;
        for (const std::string& path : paths[g])
            folded.push_back(FoldProgramName(path));
        std::sort(folded.begin(), folded.end());
        for (size_t k = 1; k < folded.size(); ++k)
            if (folded[k] == folded[k - 1])
                report->Warnings.push_back(std::string(GroupName(static_cast<PackageGroup>(g))) +
                                           " holds " + GbkForDisplay(folded[k]) +
                                           " twice (ignoring case); the installer keeps the first");
    }
    if (header.ServerEntryCount > 0 && FindProgram(paths[0], header.ServerProgram).empty())
        report->Faults.push_back("server program " + GbkForDisplay(header.ServerProgram) +
                                 " is not a file of the server group");
    if (FindProgram(paths[1], header.ClientProgram).empty())
        report->Faults.push_back("client program " + GbkForDisplay(header.ClientProgram) +
                                 " is not a file of the client group");
}

} // namespace

VerifyReport VerifyPackage(const ResourceView& index, const ResourceView& payload,
                           const ResourceView& config) {
    VerifyReport report;
    CheckConfig(config, &report);
    if (!payload.Found)
        report.Faults.push_back("payload resource (BIN 101) is missing");
    if (!index.Found || index.Size < sizeof(PackageHeader)) {
        report.Faults.push_back(index.Found ? "index resource (BIN 102) is shorter than its "
                                              "600-byte header"
                                            : "index resource (BIN 102) is missing");
        return report;
    }
    PackageView view(index.Data, index.Size, payload.Data, payload.Size);
    PackageHeader header = view.Header();
    if (header.Reserved0 != 1 || header.Reserved1 != 1)
        report.Warnings.push_back("header words at offsets 0 and 4 are " +
                                  std::to_string(header.Reserved0) + " and " +
                                  std::to_string(header.Reserved1) + ", not 1 and 1");
    struct {
        const char* Field;
        size_t Size;
        const char* Name;
    } texts[] = {{header.ServerProgram, sizeof header.ServerProgram, "ServerProgram"},
                 {header.ClientProgram, sizeof header.ClientProgram, "ClientProgram"},
                 {header.ServerRunArgs, sizeof header.ServerRunArgs, "ServerRunArgs"},
                 {header.ClientRunArgs, sizeof header.ClientRunArgs, "ClientRunArgs"}};
    for (const auto& text : texts)
        if (!Terminated(text.Field, text.Size))
            report.Faults.push_back(std::string(text.Name) + " is not terminated in its field");
    header.ServerProgram[sizeof header.ServerProgram - 1] = '\0';
    header.ClientProgram[sizeof header.ClientProgram - 1] = '\0';

    uint64_t count = static_cast<uint64_t>(header.ServerEntryCount) + header.ClientEntryCount +
                     header.DatabaseEntryCount;
    uint32_t stored = view.StoredEntryCount();
    if (sizeof(PackageHeader) + count * sizeof(PackageEntry) != index.Size)
        report.Faults.push_back(
            "index is " + std::to_string(index.Size) + " bytes but the counts (" +
            std::to_string(header.ServerEntryCount) + " server, " +
            std::to_string(header.ClientEntryCount) + " client, " +
            std::to_string(header.DatabaseEntryCount) + " database) call for " +
            std::to_string(sizeof(PackageHeader) + count * sizeof(PackageEntry)));
    CheckEntries(header, view, payload, count < stored ? static_cast<uint32_t>(count) : stored,
                 &report);
    if (payload.Found && view.Validate() != PackageFault::kOk)
        report.Faults.push_back(std::string("the installer refuses this package at start-up: ") +
                                DescribePackageFault(view.Validate()));
    return report;
}
