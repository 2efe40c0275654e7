#pragma once
// Unpacking on a second core.
//
// The worker does every step of a run that anyone sees in the package's
// order: folders, files under their names, times, texts, log lines, progress.
// Meanwhile a helper thread unpacks the run's large entries, the largest
// first so that the longest stream is not left for the end, each into a spare
// file in the install folder ("~MDPX.part.1" to ".32"). When the worker comes
// to such an entry it moves the spare file into place, by handle, as it
// moves its own partial files; every other entry it unpacks itself as before.
// While it would only wait for the helper, it unpacks the next large entries
// into spare files too.
//
// The helper makes no folder and names no target. An entry it cannot unpack
// whole (damaged stream, a failed write, a stop) leaves no spare file and is
// unpacked by the worker as it always was, failing in the same way. Spare
// files left by a run ended by force are removed by the next run's start.
#include "install/placed_files.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

struct AheadSource {
    const uint8_t* Stream;
    uint32_t CompressedLength;
    uint32_t Size; // as the index declares it
};

// A spare file the helper has unpacked and the worker now owns: it moves it
// into place or deletes it, and closes Output (which closes File).
struct UnpackedAhead {
    HANDLE File = INVALID_HANDLE_VALUE; // opened with write and delete access
    FILE* Output = nullptr;
    char Path[260] = {};
    ContentStamp Stamp;
};

class UnpackAhead {
  public:
    UnpackAhead();
    ~UnpackAhead(); // stops as Stop
    UnpackAhead(const UnpackAhead&) = delete;
    UnpackAhead& operator=(const UnpackAhead&) = delete;

    // Worker, before its first entry, once the install folder is made and
    // protected; sources are the run's entries in order. Removes spare files
    // an earlier run left; the helper starts only with a second processor to
    // run on, room on the drive for the run and every spare file, and an
    // entry worth it.
    void Start(const char* installDir, const std::vector<AheadSource>& sources);

    enum class Take {
        Yours,   // unpack it from the package yourself
        Ready,   // the spare file holding it is handed over
        Stopped, // stopCheck confirmed a stop while the entry was awaited
    };
    // Worker, at the entry `index` of the run, when it is about to unpack it.
    Take TakeEntry(size_t index, bool (*stopCheck)(), UnpackedAhead* unpacked);
    // Worker, after each entry, whatever became of it: the helper leaves it
    // alone, and a spare file it made for it is removed.
    void Done(size_t index);
    // Ends the helper within one block of its inflation and removes every
    // spare file not handed over. True when there was one: a full drive may
    // have room again.
    bool Stop();

  private:
    enum class State : uint8_t { Free, Worker, Busy, Ready, GivenUp, Done };
    struct Slot {
        State Now = State::Free;
        bool Large = false;   // worth unpacking ahead
        bool Dropped = false; // done with while the helper was still on it
        int Spare = -1;       // which spare name holds it
        UnpackedAhead File;
    };

    char installDir_[260] = {};
    std::vector<AheadSource> sources_;
    std::vector<Slot> slots_;
    std::vector<size_t> largestFirst_; // the entries worth unpacking ahead
    size_t largestOpen_ = 0;           // where in it the helper looks first
    size_t next_ = 0;                  // the worker's entry
    uint32_t sparesInUse_ = 0;         // a bit per spare name
    uint64_t spareBytes_ = 0;          // declared sizes of the entries they hold
    bool writeFailed_ = false;         // no more unpacking ahead on this drive
    HANDLE thread_ = nullptr;
    SRWLOCK lock_;
    CONDITION_VARIABLE changed_;

    static unsigned __stdcall HelperMain(void* self);
    void HelperLoop();
    size_t LargestFreeLocked() const;
    size_t NextFreeLocked(size_t after) const;
    int ClaimLocked(size_t index);
    void FreeSpareLocked(size_t index);
    bool SparePath(int spare, char* path, size_t size) const;
    void UnpackClaimed(size_t index, int spare, bool (*stopCheck)());
};

// A stdio stream that owns an open file handle: closing the stream closes the
// handle. Null when none could be made; the handle is closed then too.
FILE* StreamOverHandle(HANDLE file);
