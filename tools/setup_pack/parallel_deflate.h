#pragma once
// Compresses files into one zlib stream each, on several threads at once.
// Every file is cut into fixed chunks that are deflated independently, each
// primed with the 32 KiB before it, and joined into one stream; the result
// depends on the level and the chunk size only, never on the thread count.
// Memory stays bounded: a few chunks per thread are in flight at a time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DeflateInput {
    std::wstring Path;
    uint64_t Size = 0; // the size the file must still have
};

// Receives the streams in file order, on the calling thread.
class StreamSink {
  public:
    virtual ~StreamSink() = default;
    virtual bool Write(const uint8_t* data, size_t size, std::string* error) = 0;
    // The stream of file `index` is complete and `length` bytes long.
    virtual bool EndStream(size_t index, uint64_t length, std::string* error) = 0;
};

constexpr size_t kDeflateChunkSize = 1u << 20;

bool DeflateFiles(const std::vector<DeflateInput>& files, int level, int jobs, StreamSink* sink,
                  std::string* error);

// The two header bytes zlib writes for a stream made at this level.
void ZlibHeaderBytes(int level, uint8_t out[2]);
