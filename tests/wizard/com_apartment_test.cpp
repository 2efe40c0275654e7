// The folder picker's COM apartment: entered for the picker, left after it,
// and whatever the thread held before is left as it was.
#include "wizard/com_apartment.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

enum class Before { kNothing, kSingleThreaded, kMultiThreaded };

// What CoInitializeEx(multi-threaded) answers on a thread: S_OK when the
// thread holds no apartment, S_FALSE inside a multi-threaded one, and
// RPC_E_CHANGED_MODE inside a single-threaded one. The probe is undone.
HRESULT ProbeApartment() {
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result))
        CoUninitialize();
    return result;
}

TEST(ComApartment, EntersForItsLifetimeAndLeavesTheThreadAsItWas) {
    const struct {
        Before State;
        HRESULT Inside;
        HRESULT After;
    } kCases[] = {
        {Before::kNothing, RPC_E_CHANGED_MODE, S_OK},
        {Before::kSingleThreaded, RPC_E_CHANGED_MODE, RPC_E_CHANGED_MODE},
        // A thread of the other apartment keeps it: the picker would fail,
        // but its owner's COM must not be ended underneath it.
        {Before::kMultiThreaded, S_FALSE, S_FALSE},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(static_cast<int>(c.State));
        // A thread of its own each time, so one case cannot leak into the next.
        std::thread([&] {
            HRESULT outer = S_OK;
            if (c.State == Before::kSingleThreaded)
                outer = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            else if (c.State == Before::kMultiThreaded)
                outer = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            ASSERT_EQ(outer, S_OK);
            {
                ComApartment com;
                EXPECT_EQ(SUCCEEDED(com.Result()), c.State != Before::kMultiThreaded);
                EXPECT_EQ(ProbeApartment(), c.Inside);
            }
            EXPECT_EQ(ProbeApartment(), c.After);
            if (c.State != Before::kNothing)
                CoUninitialize();
            EXPECT_EQ(ProbeApartment(), S_OK);
        }).join();
    }
}

} // namespace
