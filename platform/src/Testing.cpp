#include <atomic>

#include "Switches.h"

namespace orvex::win32 {
namespace {

std::atomic<DWORD> g_tickCountOffset{0};
std::atomic<testing::Wow64> g_wow64{testing::Wow64::native};

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

void resetSwitches()
{
    setWow64(Wow64::native);
    setTickCountOffset(0);
}

} // namespace testing
} // namespace orvex::win32
