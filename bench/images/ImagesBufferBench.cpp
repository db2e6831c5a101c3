// Cost per image of the images buffer's round trip (add, lock, capture,
// release, unlock), beside a baseline that pushes the same samples through a
// mutex-guarded std::deque. Samples come from a pool, so neither side pays
// for building them; one iteration is one image (time per iteration = ns per image).
#include <orvex/ImagesBuffer.h>
#include <orvex/Loggers.h>

#include <benchmark/benchmark.h>

#include <boost/make_shared.hpp>

#include <log4cplus/initializer.h>
#include <log4cplus/loglevel.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace {

using SamplePtr = boost::shared_ptr<ImageSample>;

constexpr size_t kPoolSize = 64;

std::vector<SamplePtr> makePool()
{
    std::vector<SamplePtr> pool;
    for (size_t i = 0; i < kPoolSize; ++i) {
        auto sample = boost::make_shared<ImageSample>();
        sample->setParam(reinterpret_cast<void*>(static_cast<uintptr_t>(i + 1)));
        pool.push_back(sample);
    }
    return pool;
}

// The next pool sample, re-indexed: the buffer has let go of it by then.
const SamplePtr& nextSample(const std::vector<SamplePtr>& pool, unsigned long& idx)
{
    const SamplePtr& sample = pool[idx % kPoolSize];
    sample->setIdx(++idx);
    return sample;
}

// What the host does with the newest image: lock, capture it, let it go.
void hostCapturesAndReleases(ImagesBuffer& buffer, unsigned long idx)
{
    buffer.lockBuffer();
    SamplePtr captured = buffer.captureImage(idx);
    benchmark::DoNotOptimize(captured.get());
    captured.reset();
    buffer.releaseImage();
    buffer.unlockBuffer();
}

void BM_Baseline_MutexDeque(benchmark::State& state)
{
    const auto pool = makePool();
    std::mutex mutex;
    std::deque<SamplePtr> queue;
    unsigned long idx = 0;
    for (auto _ : state) {
        const SamplePtr& sample = nextSample(pool, idx);
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(sample);
        }
        SamplePtr taken;
        {
            std::lock_guard<std::mutex> lock(mutex);
            taken = std::move(queue.front());
            queue.pop_front();
        }
        benchmark::DoNotOptimize(taken.get());
        taken.reset();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Baseline_MutexDeque);

void BM_ImagesBuffer_AddLockCaptureReleaseUnlock(benchmark::State& state)
{
    const auto pool = makePool();
    ImagesBuffer buffer(false);
    unsigned long idx = 0;
    for (auto _ : state) {
        buffer.addImage(nextSample(pool, idx));
        hostCapturesAndReleases(buffer, idx);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ImagesBuffer_AddLockCaptureReleaseUnlock);

// The same round trip for a back end that recycles its buffers: the
// released image's parameter comes back before the next addition.
void BM_ImagesBuffer_RoundTripWithRecycling(benchmark::State& state)
{
    const auto pool = makePool();
    ImagesBuffer buffer(true);
    unsigned long idx = 0;
    for (auto _ : state) {
        if (buffer.isObsoleteParamAvailable())
            benchmark::DoNotOptimize(buffer.getObsoleteParam());
        buffer.addImage(nextSample(pool, idx));
        hostCapturesAndReleases(buffer, idx);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ImagesBuffer_RoundTripWithRecycling);

// A host slower than the camera: it captures one image in four, so the
// others are dropped (lost-image logging off, as for a host not watching).
void BM_ImagesBuffer_CaptureOneInFour(benchmark::State& state)
{
    const auto pool = makePool();
    ImagesBuffer buffer(false);
    unsigned long idx = 0;
    for (auto _ : state) {
        buffer.addImage(nextSample(pool, idx));
        if (idx % 4 != 0)
            continue;
        hostCapturesAndReleases(buffer, idx);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ImagesBuffer_CaptureOneInFour);

// Building each sample from a small raw frame (copied) on top of the round
// trip: what the sample itself costs.
void BM_ImagesBuffer_RoundTripBuildingSamples(benchmark::State& state)
{
    unsigned char frame[64] = {};
    ImagesBuffer buffer(false);
    unsigned long idx = 0;
    for (auto _ : state) {
        ++idx;
        buffer.addImage(idx, 0.0, -1.0, frame, sizeof frame, 8, 8, imgv_notChecked, -10000, -10000, true,
                        nullptr, 0, nullptr);
        hostCapturesAndReleases(buffer, idx);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ImagesBuffer_RoundTripBuildingSamples);

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer initializer;
    g_OrvexLostStreamLogger.setLogLevel(log4cplus::WARN_LOG_LEVEL);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
