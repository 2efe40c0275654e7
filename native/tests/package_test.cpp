#include "native/tests/exact_bytes.h"
#include "package/package_reader.h"
#include "package/package_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

struct File {
    PackageGroup Group;
    std::string Path;
    std::string Bytes;
};

std::vector<File> SampleFiles() {
    return {
        {PackageGroup::Server, "VTRServer.exe", std::string(5000, 'S')},
        {PackageGroup::Server, "d\x95\x5C\\f.bin", "trail byte 0x5C in the folder"},
        {PackageGroup::Client, "empty.txt", ""},
        {PackageGroup::Database, "data\\mysql\\\xCA\xFD\xBE\xDD.frm", std::string(3000, '\x7F')},
    };
}

struct Blobs {
    std::vector<uint8_t> Index;
    std::vector<uint8_t> Payload;
};

Blobs BuildSample() {
    PackageBuilder builder;
    std::string error;
    EXPECT_TRUE(builder.Begin(PackageSettings(), &error)) << error;
    for (const File& file : SampleFiles()) {
        EXPECT_TRUE(builder.AddFile(file.Group, file.Path, file.Bytes.data(), file.Bytes.size(),
                                    PackageFileTimes(), 9, &error))
            << error;
    }
    return {builder.Index(), builder.Payload()};
}

std::string Inflate(const uint8_t* stream, size_t length, size_t size) {
    std::string out(size, '\0');
    uLongf outLength = static_cast<uLongf>(size);
    // uncompress refuses a null destination even for an empty file.
    Bytef spare = 0;
    Bytef* target = size ? reinterpret_cast<Bytef*>(&out[0]) : &spare;
    EXPECT_EQ(uncompress(target, &outLength, stream, static_cast<uLong>(length)), Z_OK);
    out.resize(outLength);
    return out;
}

PackageEntry* EntryAt(std::vector<uint8_t>* index, size_t i) {
    return reinterpret_cast<PackageEntry*>(index->data() + sizeof(PackageHeader) +
                                           i * sizeof(PackageEntry));
}

PackageHeader* HeaderOf(std::vector<uint8_t>* index) {
    return reinterpret_cast<PackageHeader*>(index->data());
}

// Every accessor, on every entry the header claims and one beyond.
void WalkEverything(const PackageView& view) {
    PackageHeader header = view.Header();
    (void)header;
    for (PackageGroup group :
         {PackageGroup::Server, PackageGroup::Client, PackageGroup::Database}) {
        GroupRange range = view.Group(group);
        for (uint32_t k = 0; k <= range.Count && k < 8; ++k) {
            PackageEntry entry;
            if (view.Entry(range.First + k, &entry))
                view.Stream(entry);
        }
    }
    view.StoredEntryCount();
}

TEST(PackageRoundTrip, StreamsInflateBackAndNamesKeepTrailBytes) {
    Blobs blobs = BuildSample();
    std::vector<uint8_t> index(blobs.Index), payload(blobs.Payload);
    PackageView view(index.data(), index.size(), payload.data(), payload.size());
    ASSERT_EQ(view.Validate(), PackageFault::kOk);
    std::vector<File> files = SampleFiles();
    ASSERT_EQ(view.StoredEntryCount(), files.size());
    uint64_t offset = 0;
    for (uint32_t i = 0; i < files.size(); ++i) {
        PackageEntry entry;
        ASSERT_TRUE(view.Entry(i, &entry));
        EXPECT_EQ(entry.PayloadOffset, offset);
        ASSERT_NE(view.Stream(entry), nullptr);
        EXPECT_TRUE(Inflate(view.Stream(entry), entry.CompressedLength, entry.Size) ==
                    files[i].Bytes);
        offset += entry.CompressedLength;
    }
    EXPECT_EQ(offset, payload.size());
    PackageEntry entry;
    view.Entry(1, &entry);
    EXPECT_STREQ(entry.FileName, "f.bin");
    view.Entry(3, &entry);
    EXPECT_STREQ(entry.FileName, "\xCA\xFD\xBE\xDD.frm");
    EXPECT_FALSE(view.Entry(4, &entry));
}

TEST(PackageView, NullAndEmptyRangesAreEmptyViews) {
    PackageView none(nullptr, 5000, nullptr, 5000);
    EXPECT_FALSE(none.HasHeader());
    EXPECT_EQ(none.Validate(), PackageFault::kIndexTooSmall);
    EXPECT_EQ(none.Header().ServerEntryCount, 0u);
    EXPECT_EQ(none.StoredEntryCount(), 0u);
    WalkEverything(none);

    Blobs blobs = BuildSample();
    PackageView noPayload(blobs.Index.data(), blobs.Index.size(), nullptr, 0);
    uint32_t bad = 99;
    EXPECT_EQ(noPayload.Validate(&bad), PackageFault::kStreamOutsidePayload);
    EXPECT_EQ(bad, 0u);
    WalkEverything(noPayload);
}

TEST(PackageView, EveryTruncationOfTheIndexIsRefusedWithoutReadingPastIt) {
    Blobs blobs = BuildSample();
    for (size_t length = 0; length < blobs.Index.size(); ++length) {
        std::vector<uint8_t> index(blobs.Index.begin(), blobs.Index.begin() + length);
        PackageView view(index.data(), index.size(), blobs.Payload.data(), blobs.Payload.size());
        PackageFault fault = view.Validate();
        EXPECT_EQ(fault, length < sizeof(PackageHeader) ? PackageFault::kIndexTooSmall
                                                        : PackageFault::kIndexSizeMismatch)
            << length;
        WalkEverything(view);
    }
}

TEST(PackageView, EveryTruncationOfThePayloadNamesTheFirstEntryOutside) {
    Blobs blobs = BuildSample();
    PackageView whole(blobs.Index.data(), blobs.Index.size(), blobs.Payload.data(),
                      blobs.Payload.size());
    for (size_t length = 0; length <= blobs.Payload.size(); ++length) {
        std::vector<uint8_t> payload(blobs.Payload.begin(), blobs.Payload.begin() + length);
        PackageView view(blobs.Index.data(), blobs.Index.size(), payload.data(), payload.size());
        uint32_t firstOutside = 0;
        PackageEntry entry;
        while (whole.Entry(firstOutside, &entry) &&
               entry.PayloadOffset + entry.CompressedLength <= length)
            ++firstOutside;
        uint32_t bad = 99;
        PackageFault fault = view.Validate(&bad);
        if (length == blobs.Payload.size()) {
            EXPECT_EQ(fault, PackageFault::kOk);
        } else {
            EXPECT_EQ(fault, PackageFault::kStreamOutsidePayload) << length;
            EXPECT_EQ(bad, firstOutside) << length;
        }
        WalkEverything(view);
    }
}

TEST(PackageView, CountsAndOffsetsThatWrapIn32BitsAreRefused) {
    Blobs blobs = BuildSample();
    // 0xFFFFFFFF + 5 + 0 == 4 in 32 bits: the real number of entries.
    std::vector<uint8_t> counts = blobs.Index;
    HeaderOf(&counts)->ServerEntryCount = 0xFFFFFFFFu;
    HeaderOf(&counts)->ClientEntryCount = 5;
    HeaderOf(&counts)->DatabaseEntryCount = 0;
    PackageView wrapped(counts.data(), counts.size(), blobs.Payload.data(), blobs.Payload.size());
    EXPECT_EQ(wrapped.Validate(), PackageFault::kIndexSizeMismatch);
    WalkEverything(wrapped);

    // Offset + length == 1 in 32 bits.
    std::vector<uint8_t> offsets = blobs.Index;
    EntryAt(&offsets, 2)->PayloadOffset = 0xFFFFFFFFu;
    EntryAt(&offsets, 2)->CompressedLength = 2;
    PackageView far(offsets.data(), offsets.size(), blobs.Payload.data(), blobs.Payload.size());
    uint32_t bad = 0;
    EXPECT_EQ(far.Validate(&bad), PackageFault::kStreamOutsidePayload);
    EXPECT_EQ(bad, 2u);
    PackageEntry entry;
    ASSERT_TRUE(far.Entry(2, &entry));
    EXPECT_EQ(far.Stream(entry), nullptr);

    // A zero-length stream right at the end of the payload is inside it.
    EntryAt(&offsets, 2)->PayloadOffset = static_cast<uint32_t>(blobs.Payload.size());
    EntryAt(&offsets, 2)->CompressedLength = 0;
    ASSERT_TRUE(far.Entry(2, &entry));
    EXPECT_NE(far.Stream(entry), nullptr);
}

TEST(RelativePathRules, FieldsFilledToTheirLastByte) {
    auto safe = [](const std::string& bytes) {
        std::vector<char> field = ExactBytes(bytes);
        return IsSafeRelativePath(field.data(), field.size());
    };
    EXPECT_TRUE(safe(std::string(259, 'a') + '\0'));
    EXPECT_FALSE(safe(std::string(260, 'a'))) << "unterminated";
    EXPECT_FALSE(safe(std::string("\0", 1)));
    EXPECT_FALSE(safe("a"));
    EXPECT_TRUE(safe(std::string("a\0", 2)));
    EXPECT_TRUE(safe(std::string("a\\\x95\x5C\0", 5)));
    EXPECT_TRUE(safe(std::string("a\\\xC0\0", 4))) << "lone lead byte at the end";
    EXPECT_FALSE(safe(std::string("a\\..\0junk", 9))) << "bytes after the terminator ignored";
    EXPECT_TRUE(safe(std::string("a\\b\0..\\", 8)));
    for (const char* bad : {"a\tb", "a*", "a?", "a|b", "a<", "a>", "a\"", "\x7F\x01"}) {
        std::string path = bad;
        EXPECT_FALSE(safe(path + '\0')) << path;
    }
}

TEST(RelativePathRules, ComponentsWindowsTrimsToDotsAreRefused) {
    // Windows drops trailing dots and spaces from names, so these could end
    // up as "." or ".." or as an empty name.
    auto safe = [](const std::string& path) {
        std::vector<char> field = ExactText(path);
        return IsSafeRelativePath(field.data(), field.size());
    };
    for (const char* bad :
         {"..\\x", "a\\..", "a\\.", ".. \\x", "a\\...\\x", "a\\ \\x", "a\\. .", " ", "..."}) {
        EXPECT_FALSE(safe(bad)) << bad;
    }
    for (const char* good : {".a", "a.", "a\\..b\\c", "a\\b..", "a b\\ c", ".profile"})
        EXPECT_TRUE(safe(good)) << good;
}

} // namespace
