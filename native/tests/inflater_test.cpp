#include "package/stream_inflater.h"
#include "tests/support/zlib_samples.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <zlib.h>

namespace {

class AbortingInflater : public StreamInflater {
  public:
    int reports = 0;
    void ReportProgress(int) override {
        if (++reports == 1)
            abortRequested = 1;
    }
};

class NativeInflater : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string base = std::string(NATIVE_SCRATCH_DIR) + "/" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "." +
                           std::to_string(getpid());
        packed = base + ".z";
        plain = base + ".out";
    }
    void TearDown() override {
        remove(packed.c_str());
        remove(plain.c_str());
    }

    int RunOn(const std::string& bytes) {
        FILE* f = fopen(packed.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        fclose(f);
        return InflateFile(packed.c_str(), plain.c_str());
    }

    std::string Output() {
        std::string bytes;
        FILE* f = fopen(plain.c_str(), "rb");
        if (f == nullptr)
            return "<missing>";
        char chunk[8192];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.append(chunk, n);
        fclose(f);
        return bytes;
    }

    std::string packed, plain;
};

TEST_F(NativeInflater, EveryCutOfAStreamFailsAndKeepsOnlyAPrefix) {
    std::string original = SampleText(60000);
    std::string stream = Compress(original);
    for (size_t cut = 0; cut < stream.size();
         cut += (cut < 16 || cut + 16 > stream.size()) ? 1 : 37) {
        ASSERT_NE(RunOn(stream.substr(0, cut)), 0) << cut;
        std::string out = Output();
        ASSERT_LE(out.size(), original.size());
        ASSERT_TRUE(original.compare(0, out.size(), out) == 0) << cut;
    }
    EXPECT_EQ(RunOn(stream + std::string(9000, '\xFF')), 0) << "trailing bytes are ignored";
    EXPECT_TRUE(Output() == original);
}

TEST_F(NativeInflater, FlippedBytesNeverPassAsSuccessWithOtherOutput) {
    std::string original = SampleText(20000);
    std::string stream = Compress(original);
    for (size_t i = 0; i < stream.size(); i += (i < 8 || i + 8 > stream.size()) ? 1 : 13) {
        for (unsigned char mask : {0x01, 0x80, 0xFF}) {
            std::string bad = stream;
            bad[i] = static_cast<char>(bad[i] ^ mask);
            if (RunOn(bad) == 0) {
                ASSERT_TRUE(Output() == original) << "byte " << i << " mask " << int(mask);
            }
        }
    }
}

TEST_F(NativeInflater, TinyEmptyAndDictionaryStreams) {
    EXPECT_EQ(RunOn(std::string("\x78\x9C\x03\x00\x00\x00\x00\x01", 8)), 0);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(RunOn(""), Z_BUF_ERROR);
    EXPECT_EQ(RunOn("\x78"), Z_BUF_ERROR);
    EXPECT_EQ(RunOn("\x78\x9C"), Z_BUF_ERROR);
    EXPECT_NE(RunOn("\x78\x9D"), 0) << "header check fails";
    // FDICT set: a preset dictionary this program never supplies.
    EXPECT_EQ(RunOn(std::string("\x78\xBB\x00\x00\x00\x01\x03\x00", 8)), Z_NEED_DICT);
    EXPECT_EQ(Output(), "");
    // A stored block claiming 65535 bytes that are not there.
    EXPECT_EQ(RunOn(std::string("\x78\x01\x01\xFF\xFF\x00\x00", 7)), Z_BUF_ERROR);
}

TEST_F(NativeInflater, HighRatioStreamIsWrittenInFull) {
    std::string original(20000000, '\0');
    EXPECT_EQ(RunOn(Compress(original)), 0);
    EXPECT_EQ(Output().size(), original.size());
}

TEST_F(NativeInflater, WriteToAFullDeviceIsMinusOne) {
    // /dev/full takes every open and refuses every write (ENOSPC): the
    // small output fails only when stdio flushes it, the large one at once.
    FILE* probe = fopen("/dev/full", "wb");
    if (probe == nullptr)
        GTEST_SKIP() << "no /dev/full here";
    fclose(probe);
    for (size_t size : {100u, 300000u}) {
        FILE* f = fopen(packed.c_str(), "wb");
        std::string stream = Compress(SampleText(size));
        fwrite(stream.data(), 1, stream.size(), f);
        fclose(f);
        EXPECT_EQ(InflateFile(packed.c_str(), "/dev/full"), StreamInflater::kWriteFailed) << size;
    }
}

TEST_F(NativeInflater, AbortAndUnopenableFilesReleaseEverything) {
    FILE* f = fopen(packed.c_str(), "wb");
    std::string stream = Compress(SampleText(300000));
    fwrite(stream.data(), 1, stream.size(), f);
    fclose(f);
    AbortingInflater inflater;
    EXPECT_EQ(inflater.Run(packed.c_str(), plain.c_str()), StreamInflater::kAborted);
    // The same object runs again from a clean state.
    inflater.reports = 1;
    EXPECT_EQ(inflater.Run(packed.c_str(), plain.c_str()), 0);
    EXPECT_TRUE(Output() == SampleText(300000));

    std::string missing = packed + ".missing";
    EXPECT_EQ(InflateFile(missing.c_str(), plain.c_str()), StreamInflater::kOpenFailed);
    std::string noFolder = std::string(NATIVE_SCRATCH_DIR) + "/no/such/folder/out";
    EXPECT_EQ(InflateFile(packed.c_str(), noFolder.c_str()), StreamInflater::kOpenFailed);
}

} // namespace
