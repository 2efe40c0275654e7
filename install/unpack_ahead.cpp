#include "install/unpack_ahead.h"

#include "core/text_util.h"
#include "install/worker_pause.h"
#include "package/stream_inflater.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <algorithm>

namespace {

// Smaller entries cost less to unpack than to hand between threads.
constexpr uint32_t kSmallestAhead = 16u << 10;
// Spare files at most, unpacked and not yet moved into place, and the bytes
// they may hold together: the disk space they take is the cost of running
// ahead.
constexpr int kSpares = 32;
constexpr uint64_t kSpareBytes = 256u << 20;
// How far past its own entry the waiting worker looks for one to unpack.
constexpr size_t kHelpReach = 64;
constexpr size_t kNone = static_cast<size_t>(-1);

// Set when the run ends; the helper's inflater sees it between two blocks.
volatile LONG g_helperStopping;

// The helper's safe point, between two blocks: it rests while the worker is
// parked for the stop question, so nothing is written while the user decides.
bool HelperShouldStop() {
    for (;;) {
        if (InterlockedCompareExchange(&g_helperStopping, 0, 0) != 0)
            return true;
        if (!WorkerParked())
            return false;
        Sleep(10);
    }
}

int UsableProcessors() {
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        return 1;
    int count = 0;
    for (; process != 0; process &= process - 1)
        ++count;
    return count;
}

// On a drive without room for the whole run and every spare file at once,
// the run unpacks one entry after the other as it always did, so that it
// fails on the same entry when the drive fills up.
bool RoomForSpares(const char* installDir, const std::vector<AheadSource>& sources) {
    uint64_t needed = kSpareBytes;
    for (const AheadSource& source : sources)
        needed += source.Size;
    ULARGE_INTEGER available;
    return GetDiskFreeSpaceExA(installDir, &available, nullptr, nullptr) &&
           available.QuadPart >= needed;
}

void Discard(UnpackedAhead& file) {
    if (file.Output != nullptr) {
        fclose(file.Output);
        DeleteFileA(file.Path);
    }
    file = UnpackedAhead();
}

} // namespace

FILE* StreamOverHandle(HANDLE file) {
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr)
        _close(descriptor);
    return stream;
}

UnpackAhead::UnpackAhead() {
    InitializeSRWLock(&lock_);
    InitializeConditionVariable(&changed_);
}

UnpackAhead::~UnpackAhead() {
    Stop();
}

bool UnpackAhead::SparePath(int spare, char* path, size_t size) const {
    return FormatFits(path, size, "%s~MDPX.part.%d", installDir_, spare + 1);
}

void UnpackAhead::Start(const char* installDir, const std::vector<AheadSource>& sources) {
    InterlockedExchange(&g_helperStopping, 0);
    CopyBounded(installDir_, sizeof installDir_, installDir);
    // Left by a run ended by force; never written through (CREATE_NEW below).
    for (int spare = 0; spare < kSpares; ++spare) {
        char path[260];
        if (SparePath(spare, path, sizeof path))
            DeleteFileA(path);
    }
    if (UsableProcessors() < 2 || !RoomForSpares(installDir, sources))
        return;
    sources_ = sources;
    slots_.assign(sources.size(), Slot());
    for (size_t i = 0; i < sources.size(); ++i) {
        slots_[i].Large = sources[i].Stream != nullptr && sources[i].Size >= kSmallestAhead &&
                          sources[i].Size <= kSpareBytes;
        if (slots_[i].Large)
            largestFirst_.push_back(i);
    }
    std::stable_sort(largestFirst_.begin(), largestFirst_.end(),
                     [this](size_t a, size_t b) { return sources_[a].Size > sources_[b].Size; });
    if (!largestFirst_.empty()) {
        uintptr_t thread = _beginthreadex(nullptr, 64 << 10, HelperMain, this, 0, nullptr);
        thread_ = reinterpret_cast<HANDLE>(thread);
    }
    if (thread_ == nullptr) {
        // Without a helper the worker unpacks everything itself.
        sources_.clear();
        slots_.clear();
        largestFirst_.clear();
    }
}

unsigned __stdcall UnpackAhead::HelperMain(void* self) {
    static_cast<UnpackAhead*>(self)->HelperLoop();
    return 0;
}

// The largest free entry the worker has not reached yet.
size_t UnpackAhead::LargestFreeLocked() const {
    for (size_t at = largestOpen_; at < largestFirst_.size(); ++at) {
        size_t index = largestFirst_[at];
        if (index >= next_ && slots_[index].Now == State::Free)
            return index;
    }
    return kNone;
}

// The first large free entry after `after`, for the waiting worker.
size_t UnpackAhead::NextFreeLocked(size_t after) const {
    if (writeFailed_)
        return kNone;
    size_t end = std::min(slots_.size(), after + 1 + kHelpReach);
    for (size_t index = after + 1; index < end; ++index) {
        if (slots_[index].Large && slots_[index].Now == State::Free)
            return index;
    }
    return kNone;
}

// Marks the entry as being unpacked under a free spare name, which it
// returns; -1 while every spare name is taken.
int UnpackAhead::ClaimLocked(size_t index) {
    int spare = 0;
    while (spare < kSpares && (sparesInUse_ & (1u << spare)) != 0)
        ++spare;
    if (spare == kSpares || spareBytes_ + sources_[index].Size > kSpareBytes)
        return -1;
    spareBytes_ += sources_[index].Size;
    slots_[index].Now = State::Busy;
    slots_[index].Spare = spare;
    sparesInUse_ |= 1u << spare;
    return spare;
}

void UnpackAhead::FreeSpareLocked(size_t index) {
    Slot& slot = slots_[index];
    if (slot.Spare < 0)
        return;
    sparesInUse_ &= ~(1u << slot.Spare);
    spareBytes_ -= sources_[index].Size;
    slot.Spare = -1;
}

void UnpackAhead::HelperLoop() {
    AcquireSRWLockExclusive(&lock_);
    while (InterlockedCompareExchange(&g_helperStopping, 0, 0) == 0 && !writeFailed_) {
        // Entries at the front that are taken or passed stay so.
        while (largestOpen_ < largestFirst_.size() &&
               (largestFirst_[largestOpen_] < next_ ||
                slots_[largestFirst_[largestOpen_]].Now != State::Free))
            ++largestOpen_;
        size_t index = LargestFreeLocked();
        if (index == kNone)
            break; // nothing left to do
        int spare = ClaimLocked(index);
        if (spare < 0) {
            SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
            continue;
        }
        ReleaseSRWLockExclusive(&lock_);
        UnpackClaimed(index, spare, HelperShouldStop);
        AcquireSRWLockExclusive(&lock_);
    }
    ReleaseSRWLockExclusive(&lock_);
}

// Without the lock: the entry is Busy and the spare name its.
void UnpackAhead::UnpackClaimed(size_t index, int spare, bool (*stopCheck)()) {
    const AheadSource& source = sources_[index];
    UnpackedAhead file;
    bool named = SparePath(spare, file.Path, sizeof file.Path);
    file.File = named ? CreateFileA(file.Path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr)
                      : INVALID_HANDLE_VALUE;
    if (file.File != INVALID_HANDLE_VALUE)
        file.Output = StreamOverHandle(file.File);
    int result = StreamInflater::kOpenFailed;
    if (file.Output != nullptr)
        result = InflateToStreamStamped(source.Stream, source.CompressedLength, file.Output,
                                        &file.Stamp, stopCheck);
    else if (file.File != INVALID_HANDLE_VALUE)
        DeleteFileA(file.Path);
    if (result != 0)
        Discard(file);

    AcquireSRWLockExclusive(&lock_);
    Slot& slot = slots_[index];
    bool keep = result == 0 && !slot.Dropped;
    if (keep) {
        slot.File = file;
        slot.Now = State::Ready;
    } else {
        slot.Now = slot.Dropped ? State::Done : State::GivenUp;
        FreeSpareLocked(index);
        // A drive that refuses one file will refuse the next.
        writeFailed_ |=
            result == StreamInflater::kWriteFailed || result == StreamInflater::kOpenFailed;
    }
    WakeAllConditionVariable(&changed_);
    ReleaseSRWLockExclusive(&lock_);
    if (result == 0 && !keep)
        Discard(file);
}

UnpackAhead::Take UnpackAhead::TakeEntry(size_t index, bool (*stopCheck)(),
                                         UnpackedAhead* unpacked) {
    if (index >= slots_.size())
        return Take::Yours;
    AcquireSRWLockExclusive(&lock_);
    for (;;) {
        Slot& slot = slots_[index];
        if (slot.Now == State::Ready) {
            *unpacked = slot.File;
            slot.File = UnpackedAhead();
            slot.Now = State::Worker; // its spare name is freed by Done
            ReleaseSRWLockExclusive(&lock_);
            return Take::Ready;
        }
        if (slot.Now != State::Busy) {
            slot.Now = State::Worker;
            ReleaseSRWLockExclusive(&lock_);
            return Take::Yours;
        }
        // The helper is on it: rather than wait, unpack a later one.
        size_t later = NextFreeLocked(index);
        int spare = later != kNone ? ClaimLocked(later) : -1;
        if (spare >= 0) {
            ReleaseSRWLockExclusive(&lock_);
            UnpackClaimed(later, spare, stopCheck);
            AcquireSRWLockExclusive(&lock_);
        } else {
            SleepConditionVariableSRW(&changed_, &lock_, 20, 0);
        }
        if (slots_[index].Now == State::Busy && stopCheck != nullptr) {
            ReleaseSRWLockExclusive(&lock_);
            if (stopCheck())
                return Take::Stopped;
            AcquireSRWLockExclusive(&lock_);
        }
    }
}

void UnpackAhead::Done(size_t index) {
    if (index >= slots_.size())
        return;
    UnpackedAhead unused;
    AcquireSRWLockExclusive(&lock_);
    Slot& slot = slots_[index];
    if (slot.Now == State::Busy) {
        slot.Dropped = true; // the helper removes it when it is through
    } else {
        unused = slot.File; // unpacked, never handed over
        slot.File = UnpackedAhead();
        FreeSpareLocked(index);
        slot.Now = State::Done;
    }
    next_ = index + 1;
    WakeAllConditionVariable(&changed_);
    ReleaseSRWLockExclusive(&lock_);
    Discard(unused);
}

bool UnpackAhead::Stop() {
    InterlockedExchange(&g_helperStopping, 1);
    if (thread_ != nullptr) {
        AcquireSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&changed_);
        ReleaseSRWLockExclusive(&lock_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    bool removed = false;
    for (Slot& slot : slots_) {
        removed |= slot.File.Output != nullptr;
        Discard(slot.File);
    }
    slots_.clear();
    sources_.clear();
    largestFirst_.clear();
    return removed;
}
