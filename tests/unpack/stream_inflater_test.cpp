#include "install/placed_files.h"
#include "package/package_digest.h"
#include "package/stream_inflater.h"
#include "tests/support/zlib_samples.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

// Records what the hooks receive; can ask for an abort at the first report.
class RecordingInflater : public StreamInflater {
  public:
    std::vector<int> progress;
    std::string status;
    bool abortOnProgress = false;

    void ReportProgress(int percent) override {
        progress.push_back(percent);
        if (abortOnProgress)
            abortRequested = 1;
    }
    void ReportStatus(const char* text) override { status = text; }
};

// Makes every write after the first progress report fail, as a full drive
// does: the output is reopened read-only under the same stream field.
class WriteFailingInflater : public RecordingInflater {
  public:
    std::string outputPath;
    void ReportProgress(int percent) override {
        RecordingInflater::ReportProgress(percent);
        if (progress.size() == 1 && output != nullptr) {
            fclose(output);
            output = fopen(outputPath.c_str(), "rb");
        }
    }
};

// Sets the fields ProgressPercent reads, without a file of that size.
class PercentProbe : public StreamInflater {
  public:
    int At(int32_t length, uLong consumed) {
        inputLength = length;
        total_in = consumed;
        return ProgressPercent();
    }
};

class StreamInflaterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = MakeScratchDir("inflater");
        packed = dir + "Zlib.tmp";
        plain = dir + "out.bin";
    }
    void TearDown() override { RemoveTree(dir); }

    std::string Output() {
        std::string bytes;
        EXPECT_TRUE(ReadBytes(plain, &bytes));
        return bytes;
    }

    std::string dir, packed, plain;
};

TEST_F(StreamInflaterTest, EightByteStreamOfEmptyFileGivesEmptyOutput) {
    ASSERT_TRUE(WriteBytes(packed, std::string("\x78\x9C\x03\x00\x00\x00\x00\x01", 8)));
    EXPECT_EQ(InflateFile(packed.c_str(), plain.c_str()), 0);
    ASSERT_TRUE(PathExists(plain));
    EXPECT_EQ(Output(), "");
}

TEST_F(StreamInflaterTest, EmptyInputIsBufferErrorWithEmptyOutput) {
    ASSERT_TRUE(WriteBytes(packed, ""));
    RecordingInflater inflater;
    EXPECT_EQ(inflater.Run(packed.c_str(), plain.c_str()), Z_BUF_ERROR);
    EXPECT_EQ(inflater.status, "Zlib Error");
    ASSERT_FALSE(inflater.progress.empty());
    EXPECT_EQ(inflater.progress.back(), 100);
    ASSERT_TRUE(PathExists(plain));
    EXPECT_EQ(Output(), "");
}

TEST_F(StreamInflaterTest, RoundTripsDataLargerThanBothBuffers) {
    // Text spans many input blocks; a long run of zeros expands one input
    // block into many output blocks.
    const std::string cases[] = {SampleText(300000), std::string(3000000, '\0') + "end"};
    for (const std::string& original : cases) {
        ASSERT_TRUE(WriteBytes(packed, Compress(original)));
        RecordingInflater inflater;
        EXPECT_EQ(inflater.Run(packed.c_str(), plain.c_str()), 0);
        EXPECT_EQ(inflater.status, "Success");
        EXPECT_TRUE(Output() == original);
        ASSERT_FALSE(inflater.progress.empty());
        EXPECT_EQ(inflater.progress.back(), 100);
        for (size_t i = 1; i < inflater.progress.size(); ++i)
            EXPECT_LE(inflater.progress[i - 1], inflater.progress[i]);
    }
}

// The stamp the uninstall record gets comes from the output blocks as they
// are written: it matches the file's bytes, without reading the file again.
TEST_F(StreamInflaterTest, StampIsTheSizeAndCrcOfWhatWasWritten) {
    const std::string cases[] = {"", SampleText(300000), std::string(3000000, '\0') + "end"};
    for (const std::string& original : cases) {
        ASSERT_TRUE(WriteBytes(packed, Compress(original)));
        ContentStamp stamp;
        stamp.Crc = 0xDEADBEEF;
        EXPECT_EQ(InflateFileStamped(packed.c_str(), plain.c_str(), &stamp), 0);
        EXPECT_TRUE(Output() == original);
        EXPECT_EQ(stamp.Size, original.size());
        EXPECT_EQ(stamp.Crc, ExtendCrc32(0, original.data(), original.size()));
    }
}

TEST_F(StreamInflaterTest, BytesAfterTheStreamAreIgnored) {
    std::string original = SampleText(10000);
    ASSERT_TRUE(WriteBytes(packed, Compress(original) + std::string(5000, 'J')));
    EXPECT_EQ(InflateFile(packed.c_str(), plain.c_str()), 0);
    EXPECT_TRUE(Output() == original);
}

TEST_F(StreamInflaterTest, CorruptDataIsDataError) {
    std::string stream = Compress(SampleText(20000));
    std::string badChecksum = stream;
    badChecksum.back() ^= 0x55;
    std::string badBlockType = std::string("\x78\x9C\x07", 3) + stream.substr(3);
    std::string badHeader = stream;
    badHeader[1] ^= 0x01; // header check bits no longer match
    for (const std::string& bad : {badChecksum, badBlockType, badHeader}) {
        ASSERT_TRUE(WriteBytes(packed, bad));
        RecordingInflater inflater;
        EXPECT_EQ(inflater.Run(packed.c_str(), plain.c_str()), Z_DATA_ERROR);
        EXPECT_EQ(inflater.status, "Zlib Error");
    }
}

TEST_F(StreamInflaterTest, TruncatedStreamIsBufferErrorAndKeepsWhatCameOut) {
    std::string original = SampleText(200000);
    std::string stream = Compress(original);
    ASSERT_TRUE(WriteBytes(packed, stream.substr(0, stream.size() / 2)));
    EXPECT_EQ(InflateFile(packed.c_str(), plain.c_str()), Z_BUF_ERROR);
    std::string partial = Output();
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), original.size());
    EXPECT_TRUE(original.compare(0, partial.size(), partial) == 0);
}

TEST_F(StreamInflaterTest, ExistingOutputIsTruncatedAndRewritten) {
    ASSERT_TRUE(WriteBytes(plain, std::string(100000, 'o')));
    ASSERT_TRUE(WriteBytes(packed, Compress("short")));
    EXPECT_EQ(InflateFile(packed.c_str(), plain.c_str()), 0);
    EXPECT_EQ(Output(), "short");
}

TEST_F(StreamInflaterTest, AbortEndsRunWithAbortResult) {
    ASSERT_TRUE(WriteBytes(packed, Compress(SampleText(300000))));
    RecordingInflater inflater;
    inflater.abortOnProgress = true;
    EXPECT_EQ(inflater.Run(packed.c_str(), plain.c_str()), StreamInflater::kAborted);
    EXPECT_EQ(inflater.status, "User Abort");
    // One report from phase one, then the closing report.
    EXPECT_EQ(inflater.progress.size(), 2u);
    EXPECT_LT(Output().size(), 300000u);
}

TEST_F(StreamInflaterTest, FailedWriteIsMinusOneNeverSuccess) {
    const std::string original = SampleText(300000);
    ASSERT_TRUE(WriteBytes(packed, Compress(original)));
    WriteFailingInflater inflater;
    inflater.outputPath = plain;
    EXPECT_EQ(inflater.Run(packed.c_str(), plain.c_str()), StreamInflater::kWriteFailed);
    EXPECT_EQ(StreamInflater::kWriteFailed, -1);
    EXPECT_EQ(inflater.status, "Zlib Error");
    EXPECT_LT(Output().size(), original.size());
}

TEST_F(StreamInflaterTest, UnopenableFilesEndTheRunAndReleaseTheOther) {
    // Missing input: the existing target is neither created nor truncated.
    ASSERT_TRUE(WriteBytes(plain, "keep"));
    std::string missing = dir + "missing.tmp";
    EXPECT_EQ(InflateFile(missing.c_str(), plain.c_str()), StreamInflater::kOpenFailed);
    EXPECT_EQ(Output(), "keep");
    std::string neverMade = dir + "never.bin";
    EXPECT_NE(InflateFile(missing.c_str(), neverMade.c_str()), 0);
    EXPECT_FALSE(PathExists(neverMade));

    // Output in a missing folder: the input must be closed again.
    ASSERT_TRUE(WriteBytes(packed, Compress("data")));
    std::string unreachable = dir + "no\\such\\out.bin";
    EXPECT_EQ(InflateFile(packed.c_str(), unreachable.c_str()), StreamInflater::kOpenFailed);
    EXPECT_TRUE(DeleteFileA(packed.c_str()));
}

TEST(StreamInflaterPercent, SwitchesFormulaAboveTenMillionBytes) {
    PercentProbe probe;
    EXPECT_EQ(probe.At(0, 0), 100);
    EXPECT_EQ(probe.At(3, 1), 33);
    EXPECT_EQ(probe.At(10000000, 5000000), 50);
    EXPECT_EQ(probe.At(10000000, 10000000), 100);
    // Above the boundary the divisor is length / 100: 100000 here.
    EXPECT_EQ(probe.At(10000001, 100000), 1);
    EXPECT_EQ(probe.At(10000001, 10000001), 100);
    // total * 100 would overflow 32 bits here; the second formula does not.
    EXPECT_EQ(probe.At(2000000000, 1000000000), 50);
}

} // namespace
