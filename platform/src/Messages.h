// Message queues and timers of the threads (internal).
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include <orvex/win32/messages.h>

#include "BroadcastRecord.h"
#include "Kernel.h"

namespace orvex::win32::detail {

// Windows refuses posts beyond this many queued messages.
constexpr size_t kMaxPostedMessages = 10000;

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    DWORD period; // milliseconds
    TIMERPROC proc;
    Clock::time_point due;
    uint64_t serial;      // tells this timer from a later one with the same id
    bool pending = false; // a WM_TIMER of this timer waits in the queue
};

struct TimerMessage {
    MSG msg;
    uint64_t serial; // of the timer that produced it
};

// A message sent from another thread (WM_DEVICECHANGE): handed to the
// window's procedure while the owner looks at its queue, never returned by
// PeekMessageA or GetMessageA.
struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    std::unique_ptr<BroadcastRecord> record; // lParam
};

// One per thread that used a window or a message function. Kernel lock held
// for every access; only the owning thread reads messages out of it.
struct MessageQueue {
    std::deque<MSG> posted;
    std::deque<SentMessage> sent;           // delivered before any posted message
    std::deque<TimerMessage> timerMessages; // served after posted messages
    std::vector<Timer> timers;
    bool quitPending = false;
    int quitCode = 0;
    // Wake bits: input that arrived since the thread last looked at its queue.
    bool newPosted = false;
    bool newTimer = false;
    bool newSent = false;
};

// The calling thread's queue, created on first use. Kernel lock held.
MessageQueue& queueOf(ThreadContext& thread);

// Appends a posted message to `owner`'s queue and wakes it. Kernel lock held.
// Returns false with the last error set when the queue is full.
bool appendPostedMessage(ThreadContext& owner, const MSG& msg);

// Appends a sent message to `owner`'s queue and wakes it. Kernel lock held.
void appendSentMessage(ThreadContext& owner, SentMessage message);

// Moves a WM_TIMER of every due timer that has none pending into the timer
// messages. Kernel lock held.
void collectDueTimers(MessageQueue& queue, Clock::time_point now);

// When the next timer without a pending message is due. Kernel lock held.
std::optional<Clock::time_point> nextTimerDue(const MessageQueue& queue);

// The timer of a removed WM_TIMER may produce the next one. Kernel lock held.
void onTimerMessageRemoved(MessageQueue& queue, uint64_t serial);

// Stops the timers of a window being destroyed. Kernel lock held.
void removeTimersOfWindow(MessageQueue& queue, HWND hwnd);

// The procedure of a live timer, if (hwnd, id) has one equal to `proc`.
// Kernel lock held.
bool isLiveTimerProc(const MessageQueue& queue, HWND hwnd, UINT_PTR id, TIMERPROC proc);

} // namespace orvex::win32::detail
