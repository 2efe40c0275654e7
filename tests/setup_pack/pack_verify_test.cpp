#include "tests/setup_pack/pack_test_util.h"

#include "tests/support/test_support.h"
#include "tools/setup_pack/pack_options.h"
#include "tools/setup_pack/pack_verify.h"
#include "tools/setup_pack/parallel_deflate.h"
#include "tools/setup_pack/text_convert.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

ResourceView View(const std::vector<uint8_t>& bytes) {
    ResourceView view;
    view.Data = bytes.data();
    view.Size = bytes.size();
    view.Found = true;
    return view;
}

ResourceView View(const std::string& bytes) {
    ResourceView view;
    view.Data = reinterpret_cast<const uint8_t*>(bytes.data());
    view.Size = bytes.size();
    view.Found = true;
    return view;
}

bool Mentions(const VerifyReport& report, const std::string& text) {
    for (const std::string& fault : report.Faults)
        if (fault.find(text) != std::string::npos)
            return true;
    return false;
}

std::string AllFaults(const VerifyReport& report) {
    std::string all;
    for (const std::string& fault : report.Faults)
        all += fault + "\n";
    return all;
}

PackageEntry* EntryAt(std::vector<uint8_t>* index, size_t i) {
    return reinterpret_cast<PackageEntry*>(index->data() + sizeof(PackageHeader) +
                                           i * sizeof(PackageEntry));
}

class VerifyPackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        package_ = SmallSamplePackage();
        BuildBlobs(package_, &index_, &payload_);
        config_ = SampleConfigText();
    }
    VerifyReport Verify() { return VerifyPackage(View(index_), View(payload_), View(config_)); }

    TestPackage package_;
    std::vector<uint8_t> index_, payload_;
    std::string config_;
};

TEST_F(VerifyPackageTest, SoundPackageHasNoFault) {
    VerifyReport report = Verify();
    EXPECT_TRUE(report.Faults.empty()) << AllFaults(report);
}

TEST_F(VerifyPackageTest, FlippedPayloadByteIsNamedByEntry) {
    PackageEntry* entry = EntryAt(&index_, 1);
    payload_[entry->PayloadOffset + entry->CompressedLength / 2] ^= 0x40;
    VerifyReport report = Verify();
    ASSERT_EQ(report.Faults.size(), 1u) << AllFaults(report);
    EXPECT_EQ(report.Faults[0].rfind("entry 1 (server ", 0), 0u) << report.Faults[0];
}

TEST_F(VerifyPackageTest, WrongCountAndTotalsAreFaults) {
    reinterpret_cast<PackageHeader*>(index_.data())->ClientEntryCount += 1;
    VerifyReport report = Verify();
    EXPECT_TRUE(Mentions(report, "call for")) << AllFaults(report);
    EXPECT_TRUE(Mentions(report, "installer refuses")) << AllFaults(report);

    SetUp();
    reinterpret_cast<PackageHeader*>(index_.data())->DatabaseBytes += 1;
    EXPECT_TRUE(Mentions(Verify(), "database byte total"));
}

TEST_F(VerifyPackageTest, StreamOutsidePayloadGapsAndTrailingBytesAreFaults) {
    EntryAt(&index_, 5)->PayloadOffset = 0xFFFFFF00u;
    VerifyReport report = Verify();
    EXPECT_TRUE(Mentions(report, "entry 5 (database ")) << AllFaults(report);
    EXPECT_TRUE(Mentions(report, "lies outside the payload")) << AllFaults(report);

    SetUp();
    payload_.push_back(0);
    EXPECT_TRUE(Mentions(Verify(), "its last stream ends at"));

    SetUp();
    EntryAt(&index_, 2)->CompressedLength += 1; // swallows a byte of the next stream
    report = Verify();
    EXPECT_TRUE(Mentions(report, "entry 2 (client ")) << AllFaults(report);
    EXPECT_TRUE(Mentions(report, "entry 3 (client ")) << AllFaults(report);
}

TEST_F(VerifyPackageTest, UnsafePathsAndMissingProgramsAreFaults) {
    strcpy(EntryAt(&index_, 4)->RelativePath, "..\\..\\evil.dll");
    strcpy(EntryAt(&index_, 0)->RelativePath, "renamed.exe");
    strcpy(EntryAt(&index_, 0)->FileName, "renamed.exe");
    strcpy(EntryAt(&index_, 2)->FileName, "other.exe");
    VerifyReport report = Verify();
    EXPECT_TRUE(Mentions(report, "entry 4 (database ..\\..\\evil.dll): relative path"))
        << AllFaults(report);
    EXPECT_TRUE(Mentions(report, "server program VTRServer.exe is not a file"))
        << AllFaults(report);
    EXPECT_TRUE(Mentions(report, "not the last component")) << AllFaults(report);
}

TEST_F(VerifyPackageTest, ConfigurationMustBeGbkWithCrLf) {
    config_ = "2012-2-3\n[INFO]\r\nAppName=x";
    EXPECT_TRUE(Mentions(Verify(), "line 1 ends in LF without CR"));
    config_ = "\xEF\xBB\xBF[INFO]\r\n";
    EXPECT_TRUE(Mentions(Verify(), "byte-order mark"));
    config_ = "[INFO]\r\nAppName=\x81\r\n";
    EXPECT_TRUE(Mentions(Verify(), "line 2 is not valid code page 936"));
    config_ = "abc";
    EXPECT_TRUE(Mentions(Verify(), "3 bytes or fewer"));
}

TEST(SetupPackCli, VerifyOfDamagedProgramPrintsFaultAndFails) {
    std::string dir = MakeScratchDir("pack_verify_cli");
    TestPackage package = SmallSamplePackage();
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    payload[payload.size() - 3] ^= 1;
    ASSERT_TRUE(WriteTestSetup(package, dir + "setup.exe", &index, &payload));
    PackRun run = RunPack({"verify", dir + "setup.exe"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Out.find("fault: entry 5 (database "), std::string::npos) << run.Out;

    PackRun extract = RunPack({"extract", dir + "setup.exe", dir + "out"});
    EXPECT_EQ(extract.ExitCode, 1) << extract.Out;
    EXPECT_TRUE(FileExistsUtf8(dir + "out\\client\\VTRClient.exe"))
        << "sound entries still come out";
}

TEST(SetupPackCli, HelpDocumentsEveryOptionAndMisuseExitsTwo) {
    PackRun help = RunPack({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    for (const char* option :
         {"--config", "--server", "--client", "--database", "--server-program", "--client-program",
          "--server-run-args", "--client-run-args", "--no-server-run", "--no-client-run", "--level",
          "--jobs", "--template", "-o", "inspect", "verify", "extract"})
        EXPECT_NE(help.Out.find(option), std::string::npos) << option;
    EXPECT_EQ(RunPack({"build", "--level", "0"}).ExitCode, 2);
    EXPECT_EQ(RunPack({"build", "--frobnicate"}).ExitCode, 2);
    EXPECT_EQ(RunPack({"verify"}).ExitCode, 2);
    PackRun missing = RunPack({"verify", "D:\\no\\such.exe"});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Out.find("cannot open"), std::string::npos) << missing.Out;
}

TEST(ConfigText, ConvertsUtf8ToGbkWithCrLfAndNamesBadLines) {
    std::string gbk, error;
    ASSERT_TRUE(ConvertConfigText(u8"\uFEFF[INFO]\nAppName=澜枢\r\nX=1", &gbk, &error));
    EXPECT_EQ(gbk, "[INFO]\r\nAppName=\xC0\xBD\xCA\xE0\r\nX=1");
    EXPECT_FALSE(ConvertConfigText("[INFO]\nAppName=\xC0\xBD\n", &gbk, &error))
        << "GBK input is not UTF-8";
    EXPECT_NE(error.find("line 2 is not UTF-8"), std::string::npos) << error;
    EXPECT_FALSE(ConvertConfigText(std::string("a\n\0b", 4), &gbk, &error));
    EXPECT_NE(error.find("line 2 holds a NUL"), std::string::npos) << error;
}

// Collects the streams in memory.
class MemorySink : public StreamSink {
  public:
    bool Write(const uint8_t* data, size_t size, std::string*) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    bool EndStream(size_t index, uint64_t length, std::string*) override {
        EXPECT_EQ(index, lengths.size());
        lengths.push_back(length);
        return true;
    }
    std::vector<uint8_t> bytes;
    std::vector<uint64_t> lengths;
};

TEST(ParallelDeflate, ChunkBoundariesInflateExactlyAndThreadsDoNotChangeBytes) {
    std::string dir = MakeScratchDir("pack_deflate");
    const size_t chunk = kDeflateChunkSize;
    const size_t sizes[] = {0, 1, chunk - 1, chunk, chunk + 1, 2 * chunk + 40000};
    std::vector<std::string> contents;
    std::vector<DeflateInput> inputs;
    for (size_t n : sizes) {
        std::string bytes(n, '\0');
        for (size_t i = 0; i < n; ++i) // repeats across chunk edges, some noise
            bytes[i] = static_cast<char>((i % 1000) < 900 ? (i % 97) : (i * 2654435761u) >> 24);
        std::string path = dir + "f" + std::to_string(inputs.size());
        PutFile(path, bytes, MakeTimes(1));
        contents.push_back(bytes);
        inputs.push_back({Utf8ToWide(path), n});
    }
    MemorySink one, three;
    std::string error;
    ASSERT_TRUE(DeflateFiles(inputs, 6, 1, &one, &error)) << error;
    ASSERT_TRUE(DeflateFiles(inputs, 6, 3, &three, &error)) << error;
    EXPECT_TRUE(one.bytes == three.bytes);
    ASSERT_EQ(one.lengths.size(), inputs.size());
    EXPECT_EQ(one.lengths[0], 8u) << "empty file gives the 8-byte stream";
    EXPECT_EQ(one.bytes[0], 0x78);
    EXPECT_EQ(one.bytes[1], 0x9C);
    size_t offset = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        std::string out;
        std::string problem = InflateEntry(one.bytes.data() + offset, one.lengths[i], sizes[i],
                                           [&](const uint8_t* data, size_t n) {
                                               out.append(reinterpret_cast<const char*>(data), n);
                                               return true;
                                           });
        EXPECT_EQ(problem, "") << "file " << i;
        EXPECT_TRUE(out == contents[i]) << "file " << i;
        offset += one.lengths[i];
    }
    EXPECT_EQ(offset, one.bytes.size());

    PutFile(dir + "f5", contents[5].substr(0, chunk), MakeTimes(1));
    MemorySink shrunk;
    EXPECT_FALSE(DeflateFiles(inputs, 6, 2, &shrunk, &error));
    EXPECT_NE(error.find("changed while being packed"), std::string::npos) << error;
}

} // namespace
