// Once its queues have grown to their working size, the images buffer moves
// samples without touching the heap: the only allocations per image are the
// sample's own. Counted through the global operator new of this executable,
// which the library's allocations resolve to as well.
#include <orvex/ImagesBuffer.h>

#include "images/LostLineRecorder.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<long> g_nAllocations{0};
} // namespace

void* operator new(std::size_t size)
{
    g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

// GCC takes the replacement pair for a mismatch of new and free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
#pragma GCC diagnostic pop

namespace {

using SamplePtr = boost::shared_ptr<ImageSample>;

std::vector<SamplePtr> makePool(size_t size)
{
    std::vector<SamplePtr> pool;
    for (size_t i = 0; i < size; ++i) {
        pool.push_back(boost::make_shared<ImageSample>());
        pool.back()->setParam(reinterpret_cast<void*>(static_cast<uintptr_t>(i + 1)));
    }
    return pool;
}

// One image in four is captured while a burst waits locked in transit; the
// others are dropped, and every parameter is recycled.
void cycle(ImagesBuffer& buffer, const std::vector<SamplePtr>& pool, unsigned long& idx, int images)
{
    for (int n = 0; n < images; ++n) {
        while (buffer.isObsoleteParamAvailable())
            buffer.getObsoleteParam();
        const SamplePtr& sample = pool[idx % pool.size()];
        sample->setIdx(++idx);
        buffer.addImage(sample);
        if (idx % 4 == 0) {
            buffer.lockBuffer();
            buffer.addImage(pool[(idx + 1) % pool.size()]); // waits, then is let go as a duplicate or dropped
            buffer.captureImage(idx);
            buffer.releaseImage();
            buffer.unlockBuffer();
        }
    }
}

} // namespace

TEST(ImagesBufferAllocation, TheSteadyStateAllocatesNothing)
{
    orvex::images::test::LostLineRecorder notWatched(log4cplus::WARN_LOG_LEVEL);
    const auto pool = makePool(64);
    ImagesBuffer buffer(true);
    unsigned long idx = 0;
    cycle(buffer, pool, idx, 1000); // the queues reach their working size

    const long before = g_nAllocations.load();
    cycle(buffer, pool, idx, 10000);
    EXPECT_EQ(g_nAllocations.load() - before, 0);
}
