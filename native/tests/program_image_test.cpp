#include "native/tests/exact_bytes.h"
#include "package/program_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes* b, size_t at, uint32_t v) {
    (*b)[at] = static_cast<uint8_t>(v);
    (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes* b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A small PE32 file: headers, one section at RVA 0x1000 / file offset 0x200
// holding a resource tree BIN -> 122 -> 0x0804 -> 16 data bytes, and a
// certificate table entry naming 24 bytes at the end of the file.
constexpr size_t kLfanew = 0x40, kOptional = kLfanew + 24, kSection = kOptional + 224;
constexpr uint32_t kRsrcRva = 0x1000, kRsrcOffset = 0x200;

Bytes TinyProgram() {
    Bytes b(0x400, 0);
    Put16(&b, 0, 0x5A4D);
    Put32(&b, 0x3C, kLfanew);
    Put32(&b, kLfanew, 0x00004550);
    Put16(&b, kLfanew + 6, 1);    // one section
    Put16(&b, kLfanew + 20, 224); // optional header size
    Put16(&b, kOptional, 0x10B);
    Put32(&b, kOptional + 64, 0x12345678); // CheckSum
    Put32(&b, kOptional + 92, 16);         // directory count
    Put32(&b, kOptional + 96 + 2 * 8, kRsrcRva);
    Put32(&b, kOptional + 96 + 2 * 8 + 4, 0x100);
    Put32(&b, kOptional + 96 + 4 * 8, 0x3E8); // certificate table at 0x3E8, 24 bytes
    Put32(&b, kOptional + 96 + 4 * 8 + 4, 24);
    memcpy(&b[kSection], ".rsrc", 5);
    Put32(&b, kSection + 8, 0x100);
    Put32(&b, kSection + 12, kRsrcRva);
    Put32(&b, kSection + 16, 0x100);
    Put32(&b, kSection + 20, kRsrcOffset);
    size_t r = kRsrcOffset;
    // Root: one named entry ("BIN" at 0x60) -> directory 0x18.
    Put16(&b, r + 12, 1);
    Put32(&b, r + 16, 0x80000060);
    Put32(&b, r + 20, 0x80000018);
    // Ids: 122 -> directory 0x30.
    Put16(&b, r + 0x18 + 14, 1);
    Put32(&b, r + 0x18 + 16, 122);
    Put32(&b, r + 0x18 + 20, 0x80000030);
    // Languages: 0x0804 -> data entry 0x48.
    Put16(&b, r + 0x30 + 14, 1);
    Put32(&b, r + 0x30 + 16, 0x0804);
    Put32(&b, r + 0x30 + 20, 0x48);
    Put32(&b, r + 0x48, kRsrcRva + 0x80); // data RVA
    Put32(&b, r + 0x48 + 4, 16);          // data size
    Put16(&b, r + 0x60, 3);
    Put16(&b, r + 0x62, 'B');
    Put16(&b, r + 0x64, 'i'); // the loader ignores case
    Put16(&b, r + 0x66, 'N');
    for (int i = 0; i < 16; ++i)
        b[r + 0x80 + i] = static_cast<uint8_t>(0xA0 + i);
    return b;
}

// The system's algorithm as written: 16-bit words with end-around carry over
// the file as it is, then the stored CheckSum's two words taken out with
// one's-complement subtraction, then the length added.
uint32_t ReferenceChecksum(const Bytes& file, size_t field) {
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    for (size_t half : {field, field + 2}) {
        uint32_t word = file[half] | (file[half + 1] << 8);
        sum = sum >= word ? sum - word : ((sum - word) & 0xFFFF) - 1;
    }
    return sum + static_cast<uint32_t>(file.size());
}

TEST(ProgramImage, ReadsTheLayoutAndFindsTheResource) {
    Bytes b = TinyProgram();
    ProgramLayout layout;
    ASSERT_TRUE(ReadProgramLayout(b.data(), b.size(), &layout));
    EXPECT_EQ(layout.CheckSumOffset, kOptional + 64);
    EXPECT_EQ(layout.StoredCheckSum, 0x12345678u);
    EXPECT_EQ(layout.SecurityEntryOffset, kOptional + 96 + 4 * 8);
    EXPECT_EQ(layout.CertificateOffset, 0x3E8u);
    EXPECT_EQ(layout.CertificateSize, 24u);
    FileResource found;
    ASSERT_TRUE(FindFileResource(b.data(), b.size(), "BIN", 0, 122, &found));
    EXPECT_EQ(found.Offset, kRsrcOffset + 0x80u);
    EXPECT_EQ(found.Size, 16u);
    EXPECT_EQ(found.IdEntryOffset, kRsrcOffset + 0x18 + 16u);
    EXPECT_FALSE(FindFileResource(b.data(), b.size(), "BIN", 0, 121, &found));
    EXPECT_FALSE(FindFileResource(b.data(), b.size(), "BINX", 0, 122, &found));
    EXPECT_FALSE(FindFileResource(b.data(), b.size(), nullptr, 10, 122, &found));
}

// Cut anywhere, the file is refused or read within its bytes (the
// sanitizers see every read); data that would end past the file is refused.
TEST(ProgramImage, CutOrMisleadingFilesAreRefusedWithoutReadingPastThem) {
    Bytes full = TinyProgram();
    for (size_t size = 0; size < full.size(); ++size) {
        std::vector<char> cut = ExactBytes(std::string(full.begin(), full.begin() + size));
        const uint8_t* data = reinterpret_cast<const uint8_t*>(cut.data());
        ProgramLayout layout;
        FileResource found;
        bool read = ReadProgramLayout(data, size, &layout);
        bool resource = FindFileResource(data, size, "BIN", 0, 122, &found);
        EXPECT_EQ(read, size >= kSection) << size;
        if (resource) {
            EXPECT_LE(found.Offset + found.Size, size);
        }
        EXPECT_EQ(resource, size >= kRsrcOffset + 0x90) << size;
    }
    struct Damage {
        const char* Name;
        void (*Apply)(Bytes* b);
    } damages[] = {
        {"data size past the section", [](Bytes* b) { Put32(b, kRsrcOffset + 0x48 + 4, 0x200); }},
        {"data address outside every section",
         [](Bytes* b) { Put32(b, kRsrcOffset + 0x48, 0x9000); }},
        {"subdirectory past the section", [](Bytes* b) { Put32(b, kRsrcOffset + 20, 0x80000F00); }},
        {"language level names a directory",
         [](Bytes* b) { Put32(b, kRsrcOffset + 0x30 + 20, 0x80000048); }},
        {"name string past the section", [](Bytes* b) { Put32(b, kRsrcOffset + 16, 0x8000FFFF); }},
        {"entry count past the section",
         [](Bytes* b) {
             Put16(b, kRsrcOffset + 14, 0xFFFF);
             Put32(b, kRsrcOffset + 16, 7); // the one real entry names another type
         }},
        {"section table past the file", [](Bytes* b) { Put16(b, kLfanew + 20, 0xFFFF); }},
        {"header past the file", [](Bytes* b) { Put32(b, 0x3C, 0xFFFFFFF0); }},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.Name);
        Bytes b = full;
        damage.Apply(&b);
        std::vector<char> exact = ExactBytes(std::string(b.begin(), b.end()));
        FileResource found;
        EXPECT_FALSE(FindFileResource(reinterpret_cast<const uint8_t*>(exact.data()), b.size(),
                                      "BIN", 0, 122, &found));
    }
}

TEST(ProgramImage, ChecksumIsTheSystemsAlgorithmForAnyPiecesAndOddSizes) {
    Bytes b = TinyProgram();
    for (size_t i = 0x200; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(i * 2654435761u >> 11);
    const size_t field = kOptional + 64;
    for (size_t size : {b.size(), b.size() - 1, b.size() - 2, b.size() - 3}) {
        Bytes file(b.begin(), b.begin() + size);
        uint32_t expected = ReferenceChecksum(file, field);
        EXPECT_EQ(ComputePeChecksum(file.data(), file.size(), field), expected) << size;
        for (size_t piece : {4u, 8u, 64u, 100u}) {
            PeChecksum sum(field);
            for (size_t at = 0; at < size; at += piece)
                sum.Add(&file[at], size - at < piece ? size - at : piece);
            EXPECT_EQ(sum.Value(), expected) << size << " in pieces of " << piece;
        }
        // What the header holds plays no part.
        Put32(&file, field, 0xFFFFFFFF);
        EXPECT_EQ(ComputePeChecksum(file.data(), file.size(), field), expected) << size;
    }
}

TEST(ProgramImage, ChecksumTakesBothFormsOfZero) {
    EXPECT_TRUE(PeChecksumMatches(0x1234 + 100, 0x1234 + 100, 100));
    EXPECT_TRUE(PeChecksumMatches(0 + 100, 0xFFFF + 100, 100));
    EXPECT_TRUE(PeChecksumMatches(0xFFFF + 100, 0 + 100, 100));
    EXPECT_FALSE(PeChecksumMatches(0x1235 + 100, 0x1234 + 100, 100));
    EXPECT_FALSE(PeChecksumMatches(0xFFFE + 100, 0 + 100, 100));
    EXPECT_FALSE(PeChecksumMatches(0x1234 + 101, 0x1234 + 100, 100));
}

} // namespace
