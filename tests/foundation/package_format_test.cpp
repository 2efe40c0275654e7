#include "package/package_reader.h"
#include "package/package_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <zlib.h>

namespace {

std::string Inflate(const uint8_t* stream, size_t length, size_t expected) {
    std::string out(expected, '\0');
    uLongf outLength = static_cast<uLongf>(expected);
    int result = uncompress(reinterpret_cast<Bytef*>(&out[0]), &outLength, stream,
                            static_cast<uLong>(length));
    EXPECT_EQ(result, Z_OK);
    out.resize(outLength);
    return out;
}

TEST(PackageWriter, RoundTripKeepsEveryInvariant) {
    TestPackage package = SmallSamplePackage();
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    PackageView view(index.data(), index.size(), payload.data(), payload.size());
    ASSERT_EQ(view.Validate(), PackageFault::kOk);

    PackageHeader header = view.Header();
    EXPECT_EQ(header.Reserved0, 1u);
    EXPECT_EQ(header.Reserved1, 1u);
    EXPECT_STREQ(header.ServerProgram, "VTRServer.exe");
    EXPECT_STREQ(header.ClientRunArgs, "Install");
    EXPECT_EQ(header.ServerEntryCount, 2u);
    EXPECT_EQ(header.ClientEntryCount, 2u);
    EXPECT_EQ(header.DatabaseEntryCount, 2u);
    EXPECT_EQ(header.ServerBytes, 5000u + 21u);
    EXPECT_EQ(header.ClientBytes, 7000u);

    uint32_t expectedOffset = 0;
    for (uint32_t i = 0; i < package.Files.size(); ++i) {
        PackageEntry entry;
        ASSERT_TRUE(view.Entry(i, &entry));
        const TestFile& file = package.Files[i];
        EXPECT_EQ(entry.Ordinal, i);
        EXPECT_STREQ(entry.RelativePath, file.RelativePath.c_str());
        EXPECT_EQ(entry.PayloadOffset, expectedOffset) << "streams lie back to back";
        EXPECT_EQ(entry.Size, file.Bytes.size());
        EXPECT_EQ(memcmp(&entry.LastWriteTime, &file.Times.LastWrite, 8), 0);
        EXPECT_EQ(Inflate(view.Stream(entry), entry.CompressedLength, entry.Size), file.Bytes);
        expectedOffset += entry.CompressedLength;
    }
    EXPECT_EQ(expectedOffset, payload.size()) << "payload ends where the last stream ends";

    PackageEntry last;
    view.Entry(5, &last);
    EXPECT_STREQ(last.FileName, "user.frm");
    PackageEntry empty;
    view.Entry(3, &empty);
    EXPECT_EQ(empty.CompressedLength, 8u) << "an empty file is the 8-byte zlib stream";
}

TEST(PackageWriter, PackageWithoutServerGroupStartsClientsAtEntryZero) {
    TestPackage package = SmallSamplePackage();
    package.Files.erase(package.Files.begin(), package.Files.begin() + 2);
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    PackageView view(index.data(), index.size(), payload.data(), payload.size());
    EXPECT_EQ(view.Validate(), PackageFault::kOk);
    EXPECT_EQ(view.Header().ServerBytes, 0u);
    EXPECT_EQ(view.Group(PackageGroup::Client).First, 0u);
    EXPECT_EQ(view.Group(PackageGroup::Database).First, 2u);
}

TEST(PackageWriter, RefusesTextsThatDoNotFitAndGroupsOutOfOrder) {
    PackageBuilder builder;
    std::string error;
    PackageSettings settings;
    settings.ServerRunArgs = std::string(20, 'a');
    EXPECT_FALSE(builder.Begin(settings, &error));
    ASSERT_TRUE(builder.Begin(PackageSettings(), &error));
    EXPECT_FALSE(builder.AddFile(PackageGroup::Client, std::string(260, 'p'), "", 0,
                                 PackageFileTimes(), 6, &error));
    ASSERT_TRUE(builder.AddFile(PackageGroup::Client, "a", "", 0, PackageFileTimes(), 6, &error));
    EXPECT_FALSE(builder.AddFile(PackageGroup::Server, "b", "", 0, PackageFileTimes(), 6, &error));
}

TEST(PackageView, RefusesDamagedIndexes) {
    TestPackage package = SmallSamplePackage();
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);

    PackageView shortIndex(index.data(), 599, payload.data(), payload.size());
    EXPECT_EQ(shortIndex.Validate(), PackageFault::kIndexTooSmall);

    std::vector<uint8_t> extraCount = index;
    reinterpret_cast<PackageHeader*>(extraCount.data())->DatabaseEntryCount += 1;
    EXPECT_EQ(PackageView(extraCount.data(), extraCount.size(), payload.data(), payload.size())
                  .Validate(),
              PackageFault::kIndexSizeMismatch);

    std::vector<uint8_t> hugeCount = index;
    reinterpret_cast<PackageHeader*>(hugeCount.data())->ServerEntryCount = 0xFFFFFFFFu;
    EXPECT_EQ(
        PackageView(hugeCount.data(), hugeCount.size(), payload.data(), payload.size()).Validate(),
        PackageFault::kIndexSizeMismatch);

    PackageView truncatedPayload(index.data(), index.size(), payload.data(), payload.size() - 1);
    uint32_t bad = 0;
    EXPECT_EQ(truncatedPayload.Validate(&bad), PackageFault::kStreamOutsidePayload);
    EXPECT_EQ(bad, 5u);

    std::vector<uint8_t> farOffset = index;
    PackageEntry* entries = reinterpret_cast<PackageEntry*>(farOffset.data() + 600);
    entries[0].PayloadOffset = 0xFFFFFFF0u;
    EXPECT_EQ(
        PackageView(farOffset.data(), farOffset.size(), payload.data(), payload.size()).Validate(),
        PackageFault::kStreamOutsidePayload);
}

TEST(PackageView, RelativePathRules) {
    auto safe = [](const char* path) {
        char field[260] = {};
        strncpy(field, path, sizeof field - 1);
        return IsSafeRelativePath(field, sizeof field);
    };
    EXPECT_TRUE(safe("bin\\mysqld.exe"));
    EXPECT_TRUE(safe("a.b\\..c\\d"));
    EXPECT_TRUE(safe("数据\\表.frm"));
    EXPECT_TRUE(safe("\x95\x5C\\x")) << "trail byte 0x5C is not a separator";
    EXPECT_FALSE(safe(""));
    EXPECT_FALSE(safe("\\windows\\x"));
    EXPECT_FALSE(safe("/etc/x"));
    EXPECT_FALSE(safe("C:x"));
    EXPECT_FALSE(safe("a\\C:\\x"));
    EXPECT_FALSE(safe("..\\x"));
    EXPECT_FALSE(safe("a\\..\\..\\x"));
    EXPECT_FALSE(safe("a/../x"));
    EXPECT_FALSE(safe("a\\.\\x"));
    EXPECT_FALSE(safe("a\\\\x"));
    EXPECT_FALSE(safe("a\\"));
    char unterminated[260];
    memset(unterminated, 'a', sizeof unterminated);
    EXPECT_FALSE(IsSafeRelativePath(unterminated, sizeof unterminated));
}

} // namespace
