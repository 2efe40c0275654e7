#pragma once
// A Windows program file read as bytes, without the loader: where its header
// checksum, certificate table and resources lie, and the header checksum
// computed over the file. Start-up checks its own file with these before the
// first page; setup-pack verifies and signs with them. The file is untrusted
// input: every read is bounds-checked, and a file that is not a PE image is
// refused, never read past its end.
#include <cstddef>
#include <cstdint>

// Places in the file, all file offsets. PE32 and PE32+ are both understood.
struct ProgramLayout {
    uint32_t CheckSumOffset = 0;      // the optional header's CheckSum field (4 bytes)
    uint32_t StoredCheckSum = 0;      // its value; 0 means "not set"
    uint32_t SecurityEntryOffset = 0; // the certificate table's directory entry (8 bytes)
    uint32_t CertificateOffset = 0;   // the certificate table (0 when there is none)
    uint32_t CertificateSize = 0;
};

// False when the bytes are not a PE image with a certificate directory entry.
bool ReadProgramLayout(const uint8_t* file, uint64_t size, ProgramLayout* layout);

// One resource's bytes as they lie in the file.
struct FileResource {
    uint64_t Offset = 0;        // of the data
    uint32_t Size = 0;          // of the data
    uint64_t IdEntryOffset = 0; // of the directory entry that names its id
};

// Finds resource `id` of a type named typeName ("BIN"; compared as the
// loader does, ignoring ASCII case) or, with typeName null, of numeric type
// typeId; the first language is taken (package resources have one).
// False when the directory does not lead to data inside the file.
bool FindFileResource(const uint8_t* file, uint64_t size, const char* typeName, uint32_t typeId,
                      uint32_t id, FileResource* resource);

// The header checksum as the system computes it (the file's 16-bit words
// added with end-around carry, the CheckSum field counting as zero, plus the
// file length), fed piece by piece so one pass can serve other checks too.
class PeChecksum {
  public:
    explicit PeChecksum(uint32_t checkSumOffset) : field_(checkSumOffset) {}
    // Adds the next piece of the file. Every piece but the last must be a
    // multiple of 4 bytes long.
    void Add(const uint8_t* data, size_t size);
    // The checksum of everything added.
    uint32_t Value() const;

  private:
    uint64_t sum_ = 0;  // of the file's little-endian 32-bit words
    uint64_t size_ = 0; // bytes added
    uint32_t field_;
};

uint32_t ComputePeChecksum(const uint8_t* file, uint64_t size, uint32_t checkSumOffset);

// True when a stored checksum agrees with the computed one. The 16-bit sum
// has two forms of zero (0 and 0xFFFF) and writers differ in which they
// leave, so both are taken.
bool PeChecksumMatches(uint32_t stored, uint32_t computed, uint64_t fileSize);
