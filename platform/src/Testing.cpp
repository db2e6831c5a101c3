// The test switches (<orvex/win32_testing.h>) and what the layer reads from
// them: WOW64 mode, tick-count and system-time offsets, the open-handle count.
#include <atomic>

#include "Clock.h"
#include "Kernel.h"
#include "Switches.h"

namespace orvex::win32 {
namespace {

std::atomic<DWORD> g_tickCountOffset{0};
std::atomic<testing::Wow64> g_wow64{testing::Wow64::native};
std::atomic<LONGLONG> g_systemTimeOffset{0};
// 0: running; otherwise the real system time at which it was frozen.
std::atomic<uint64_t> g_systemTimeFrozenAt{0};

} // namespace

namespace detail {

DWORD tickCountOffset()
{
    return g_tickCountOffset.load(std::memory_order_relaxed);
}
testing::Wow64 wow64Mode()
{
    return g_wow64.load(std::memory_order_relaxed);
}

uint64_t switchedSystemTime(uint64_t realHundredNanoseconds)
{
    const uint64_t frozenAt = g_systemTimeFrozenAt.load(std::memory_order_relaxed);
    const uint64_t base = frozenAt != 0 ? frozenAt : realHundredNanoseconds;
    // Two's complement addition: a negative offset moves the time back.
    return base + static_cast<uint64_t>(g_systemTimeOffset.load(std::memory_order_relaxed));
}

} // namespace detail

namespace testing {

void setWow64(Wow64 mode)
{
    g_wow64.store(mode);
}
Wow64 wow64()
{
    return g_wow64.load();
}
void setTickCountOffset(DWORD offset)
{
    g_tickCountOffset.store(offset);
}
void setSystemTimeOffset(LONGLONG offset)
{
    g_systemTimeOffset.store(offset);
}
void freezeSystemTime(bool frozen)
{
    g_systemTimeFrozenAt.store(frozen ? detail::systemTimeAsHundredNanoseconds() : 0);
}

std::size_t openHandleCount()
{
    detail::KernelLock lock(detail::kernelLock());
    return detail::handleCount();
}

void resetSwitches()
{
    setWow64(Wow64::native);
    setTickCountOffset(0);
    setSystemTimeOffset(0);
    freezeSystemTime(false);
}

} // namespace testing
} // namespace orvex::win32
