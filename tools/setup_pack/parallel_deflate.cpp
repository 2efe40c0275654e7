#include "tools/setup_pack/parallel_deflate.h"

#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <zlib.h>

namespace {

constexpr size_t kWindowSize = 32768;

struct Unit {
    size_t File;
    uint64_t Offset;
    size_t Length;
    bool First;
    bool Last;
};

struct UnitResult {
    std::vector<uint8_t> Deflated;
    uLong Adler = 1;
    std::string Error;
    bool Ready = false;
};

bool ReadAt(HANDLE file, uint64_t offset, uint8_t* buffer, size_t length, size_t* got) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    *got = 0;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
        return false;
    while (*got < length) {
        DWORD read = 0;
        DWORD want = static_cast<DWORD>(length - *got < (1u << 30) ? length - *got : (1u << 30));
        if (!ReadFile(file, buffer + *got, want, &read, nullptr))
            return false;
        if (read == 0)
            break;
        *got += read;
    }
    return true;
}

class Compressor {
  public:
    explicit Compressor(int level) {
        memset(&stream_, 0, sizeof stream_);
        // The largest hash table: slightly smaller output and, on program-like
        // data, no slower. Inflating needs nothing extra.
        ok_ = deflateInit2(&stream_, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Compressor() {
        if (ok_)
            deflateEnd(&stream_);
    }

    void Run(const DeflateInput& input, const Unit& unit, UnitResult* result) {
        if (!ok_) {
            result->Error = "cannot start the compressor";
            return;
        }
        size_t dictionary =
            unit.Offset < kWindowSize ? static_cast<size_t>(unit.Offset) : kWindowSize;
        buffer_.resize(dictionary + unit.Length + 1);
        HANDLE file = CreateFileW(input.Path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            result->Error = "cannot read " + WideToUtf8(input.Path) + " (error " +
                            std::to_string(GetLastError()) + ")";
            return;
        }
        // The last chunk asks for one byte more, to notice a file that grew.
        size_t want = dictionary + unit.Length + (unit.Last ? 1 : 0);
        size_t got = 0;
        bool read = ReadAt(file, unit.Offset - dictionary, buffer_.data(), want, &got);
        CloseHandle(file);
        if (!read) {
            result->Error = "cannot read " + WideToUtf8(input.Path);
            return;
        }
        if (got != dictionary + unit.Length) {
            result->Error = "file changed while being packed: " + WideToUtf8(input.Path);
            return;
        }
        const uint8_t* data = buffer_.data() + dictionary;
        result->Adler = adler32(1, data, static_cast<uInt>(unit.Length));
        deflateReset(&stream_);
        if (dictionary > 0)
            deflateSetDictionary(&stream_, buffer_.data(), static_cast<uInt>(dictionary));
        std::vector<uint8_t>& out = result->Deflated;
        out.resize(deflateBound(&stream_, static_cast<uLong>(unit.Length)) + 16);
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = static_cast<uInt>(unit.Length);
        size_t produced = 0;
        // A sync flush ends a chunk on a byte boundary so the next chunk's
        // deflate data can follow it directly.
        int flush = unit.Last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            if (produced == out.size())
                out.resize(out.size() * 2);
            stream_.next_out = out.data() + produced;
            stream_.avail_out = static_cast<uInt>(out.size() - produced);
            int status = deflate(&stream_, flush);
            produced = out.size() - stream_.avail_out;
            if (status == Z_STREAM_END || (flush == Z_SYNC_FLUSH && status == Z_OK &&
                                           stream_.avail_in == 0 && stream_.avail_out != 0))
                break;
            if (status != Z_OK && status != Z_BUF_ERROR) {
                result->Error = "compression failed: " + WideToUtf8(input.Path);
                return;
            }
        }
        out.resize(produced);
    }

  private:
    z_stream stream_;
    bool ok_ = false;
    std::vector<uint8_t> buffer_;
};

struct Shared {
    const std::vector<DeflateInput>* Files;
    const std::vector<Unit>* Units;
    std::vector<UnitResult> Results; // ring of `Window` slots
    size_t Window = 0;
    size_t Next = 0;      // next unit to hand out
    size_t Committed = 0; // units the sink has taken
    bool Abort = false;
    std::mutex Lock;
    std::condition_variable Changed;
};

void Worker(Shared* shared, int level) {
    Compressor compressor(level);
    UnitResult local;
    for (;;) {
        size_t unit;
        {
            std::unique_lock<std::mutex> lock(shared->Lock);
            shared->Changed.wait(lock, [&] {
                return shared->Abort || shared->Next >= shared->Units->size() ||
                       shared->Next < shared->Committed + shared->Window;
            });
            if (shared->Abort || shared->Next >= shared->Units->size())
                return;
            unit = shared->Next++;
        }
        const Unit& work = (*shared->Units)[unit];
        // Clearing keeps the buffer's capacity, which circulates between the
        // workers and the writer instead of being allocated per chunk.
        local.Deflated.clear();
        local.Error.clear();
        local.Adler = 1;
        compressor.Run((*shared->Files)[work.File], work, &local);
        local.Ready = true;
        std::lock_guard<std::mutex> lock(shared->Lock);
        std::swap(shared->Results[unit % shared->Window], local);
        shared->Changed.notify_all();
    }
}

} // namespace

void ZlibHeaderBytes(int level, uint8_t out[2]) {
    unsigned flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    unsigned header = (0x78u << 8) | (flags << 6);
    header += 31 - header % 31;
    out[0] = static_cast<uint8_t>(header >> 8);
    out[1] = static_cast<uint8_t>(header & 0xFF);
}

bool DeflateFiles(const std::vector<DeflateInput>& files, int level, int jobs, StreamSink* sink,
                  std::string* error) {
    std::vector<Unit> units;
    for (size_t i = 0; i < files.size(); ++i) {
        uint64_t offset = 0;
        do {
            uint64_t left = files[i].Size - offset;
            size_t length =
                left < kDeflateChunkSize ? static_cast<size_t>(left) : kDeflateChunkSize;
            units.push_back({i, offset, length, offset == 0, offset + length == files[i].Size});
            offset += length;
        } while (offset < files[i].Size);
    }
    if (jobs < 1)
        jobs = 1;
    Shared shared;
    shared.Files = &files;
    shared.Units = &units;
    shared.Window = static_cast<size_t>(jobs) * 3;
    shared.Results.resize(shared.Window);
    std::vector<std::thread> threads;
    for (int i = 0; i < jobs; ++i)
        threads.emplace_back(Worker, &shared, level);

    uint8_t header[2];
    ZlibHeaderBytes(level, header);
    bool ok = true;
    uLong adler = 1;
    uint64_t streamLength = 0;
    UnitResult result;
    for (size_t u = 0; u < units.size() && ok; ++u) {
        {
            std::unique_lock<std::mutex> lock(shared.Lock);
            UnitResult& slot = shared.Results[u % shared.Window];
            shared.Changed.wait(lock, [&] { return slot.Ready; });
            std::swap(result, slot);
            slot.Ready = false;
            shared.Committed = u + 1;
            shared.Changed.notify_all();
        }
        const Unit& unit = units[u];
        if (!result.Error.empty()) {
            *error = result.Error;
            ok = false;
            break;
        }
        if (unit.First) {
            adler = 1;
            streamLength = sizeof header;
            ok = sink->Write(header, sizeof header, error);
        }
        adler = adler32_combine(adler, result.Adler, static_cast<z_off_t>(unit.Length));
        streamLength += result.Deflated.size();
        ok = ok && sink->Write(result.Deflated.data(), result.Deflated.size(), error);
        if (ok && unit.Last) {
            uint8_t trailer[4] = {static_cast<uint8_t>(adler >> 24),
                                  static_cast<uint8_t>(adler >> 16),
                                  static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)};
            streamLength += sizeof trailer;
            ok = sink->Write(trailer, sizeof trailer, error) &&
                 sink->EndStream(unit.File, streamLength, error);
        }
    }
    {
        std::lock_guard<std::mutex> lock(shared.Lock);
        shared.Abort = true;
        shared.Changed.notify_all();
    }
    for (std::thread& thread : threads)
        thread.join();
    return ok;
}
