// Waking waiting threads without the kernel lock: a futex word per thread,
// and the wake-ups asked for under the kernel lock issued once it is released.
#include "Kernel.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <iterator>

namespace orvex::win32::detail {

// Shared between a thread's WakeSignal and the wake-ups on their way to it,
// so that a wake-up issued after the kernel lock is released never touches
// freed memory, even if the thread has ended meanwhile.
struct WakeWord {
    // Bumped by every notification; the futex word the owner sleeps on.
    std::atomic<uint32_t> sequence{0};
    // Set by the owner before it sleeps; whoever clears it issues the wake-up.
    std::atomic<bool> sleeping{false};
    std::atomic<uint32_t> references{1};

    void retain() { references.fetch_add(1, std::memory_order_relaxed); }
    void release()
    {
        if (references.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
};

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "futex word must be a plain 32-bit word");

uint32_t* futexAddress(std::atomic<uint32_t>& word)
{
    return reinterpret_cast<uint32_t*>(&word);
}

// Sleeps while `word` still holds `seen`, until an absolute steady-clock
// deadline (nullptr: none). Spurious returns are the caller's to absorb.
void futexWait(std::atomic<uint32_t>& word, uint32_t seen, const Clock::time_point* deadline)
{
    timespec until{};
    if (deadline != nullptr) {
        // steady_clock counts CLOCK_MONOTONIC, the clock FUTEX_WAIT_BITSET uses.
        const auto sinceEpoch =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline->time_since_epoch());
        if (sinceEpoch.count() < 0)
            return;
        until.tv_sec = static_cast<time_t>(sinceEpoch.count() / 1000000000);
        until.tv_nsec = static_cast<long>(sinceEpoch.count() % 1000000000);
    }
    syscall(SYS_futex, futexAddress(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, seen,
            deadline != nullptr ? &until : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
}

void futexWake(std::atomic<uint32_t>& word)
{
    syscall(SYS_futex, futexAddress(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, 1, nullptr, nullptr, 0);
}

// The wake-ups the calling thread owes, held while it holds the kernel lock.
// Trivially destructible, so it stays usable from the thread-exit hook that
// ends a thread's life in the layer (which runs after thread_local
// destructors). When it is full, wake-ups go out at once: early, not lost.
struct DeferredWakes {
    unsigned depth;
    unsigned count;
    WakeWord* words[16];
};
thread_local DeferredWakes t_deferred;

void wakeSoon(WakeWord& word)
{
    DeferredWakes& deferred = t_deferred;
    if (deferred.depth == 0 || deferred.count == std::size(deferred.words)) {
        futexWake(word.sequence);
        return;
    }
    word.retain();
    deferred.words[deferred.count++] = &word;
}

void beginDeferring()
{
    ++t_deferred.depth;
}

void endDeferring()
{
    DeferredWakes& deferred = t_deferred;
    if (--deferred.depth != 0)
        return;
    const unsigned count = deferred.count;
    deferred.count = 0;
    for (unsigned i = 0; i < count; ++i) {
        futexWake(deferred.words[i]->sequence);
        deferred.words[i]->release();
    }
}

} // namespace

KernelLock::KernelLock(std::mutex& mutex) : std::unique_lock<std::mutex>(mutex)
{
    beginDeferring();
}

KernelLock::~KernelLock()
{
    if (owns_lock())
        unlock();
}

void KernelLock::lock()
{
    std::unique_lock<std::mutex>::lock();
    beginDeferring();
}

void KernelLock::unlock()
{
    std::unique_lock<std::mutex>::unlock();
    endDeferring();
}

WakeSignal::WakeSignal() : _word(new WakeWord) {}

WakeSignal::~WakeSignal()
{
    _word->release();
}

void WakeSignal::notify_all()
{
    _word->sequence.fetch_add(1);
    if (_word->sleeping.exchange(false))
        wakeSoon(*_word);
}

void WakeSignal::wait(KernelLock& lock)
{
    sleep(lock, nullptr);
}

void WakeSignal::wait_until(KernelLock& lock, Clock::time_point deadline)
{
    sleep(lock, &deadline);
}

void WakeSignal::sleep(KernelLock& lock, const Clock::time_point* deadline)
{
    // Read under the lock: a notification after this point changes the word,
    // and the futex does not sleep on a changed word.
    const uint32_t seen = _word->sequence.load();
    _word->sleeping.store(true);
    lock.unlock();
    futexWait(_word->sequence, seen, deadline);
    lock.lock();
    _word->sleeping.store(false);
}

} // namespace orvex::win32::detail
