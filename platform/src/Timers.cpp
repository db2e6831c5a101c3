// Window and thread timers. A timer never queues more than one WM_TIMER: the
// message is made when the owning thread looks at its queue after the due
// time, and the next one is due a whole number of periods later.
#include <algorithm>

#include <orvex/win32/errors.h>
#include <orvex/win32/time.h>

#include "Messages.h"
#include "WindowManager.h"

namespace orvex::win32::detail {
namespace {

uint64_t g_nextTimerSerial = 1;   // kernel lock held
UINT_PTR g_nextThreadTimerId = 1; // kernel lock held

Timer* findTimer(MessageQueue& queue, HWND hwnd, UINT_PTR id)
{
    for (Timer& timer : queue.timers) {
        if (timer.hwnd == hwnd && timer.id == id)
            return &timer;
    }
    return nullptr;
}

DWORD clampPeriod(UINT elapse)
{
    return std::clamp<DWORD>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
}

UINT_PTR freeThreadTimerId(MessageQueue& queue)
{
    for (;;) {
        const UINT_PTR id = g_nextThreadTimerId++;
        if (id != 0 && findTimer(queue, nullptr, id) == nullptr)
            return id;
    }
}

} // namespace

void collectDueTimers(MessageQueue& queue, Clock::time_point now)
{
    for (Timer& timer : queue.timers) {
        if (timer.pending || timer.due > now)
            continue;
        MSG msg{};
        msg.hwnd = timer.hwnd;
        msg.message = WM_TIMER;
        msg.wParam = timer.id;
        msg.lParam = reinterpret_cast<LPARAM>(timer.proc);
        msg.time = GetTickCount();
        queue.timerMessages.push_back(TimerMessage{msg, timer.serial});
        timer.pending = true;
        queue.newTimer = true;
        // Periods missed while the thread did not look are not made up for.
        const auto period = std::chrono::milliseconds(timer.period);
        const auto missed = (now - timer.due) / period;
        timer.due += period * (missed + 1);
    }
}

std::optional<Clock::time_point> nextTimerDue(const MessageQueue& queue)
{
    std::optional<Clock::time_point> next;
    for (const Timer& timer : queue.timers) {
        if (!timer.pending && (!next || timer.due < *next))
            next = timer.due;
    }
    return next;
}

void onTimerMessageRemoved(MessageQueue& queue, uint64_t serial)
{
    for (Timer& timer : queue.timers) {
        if (timer.serial == serial)
            timer.pending = false;
    }
}

void removeTimersOfWindow(MessageQueue& queue, HWND hwnd)
{
    queue.timers.erase(std::remove_if(queue.timers.begin(), queue.timers.end(),
                                      [hwnd](const Timer& timer) { return timer.hwnd == hwnd; }),
                       queue.timers.end());
}

bool isLiveTimerProc(const MessageQueue& queue, HWND hwnd, UINT_PTR id, TIMERPROC proc)
{
    for (const Timer& timer : queue.timers) {
        if (timer.hwnd == hwnd && timer.id == id)
            return timer.proc == proc;
    }
    return false;
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

extern "C" {

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    if (hWnd != nullptr) {
        auto window = findWindow(hWnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (window->owner != &self) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
    }
    MessageQueue& queue = queueOf(self);
    const DWORD period = clampPeriod(uElapse);
    Timer* timer = findTimer(queue, hWnd, nIDEvent);
    if (timer == nullptr) {
        const UINT_PTR id = hWnd != nullptr ? nIDEvent : freeThreadTimerId(queue);
        queue.timers.push_back(Timer{hWnd, id, period, lpTimerFunc, {}, g_nextTimerSerial++});
        timer = &queue.timers.back();
    }
    timer->period = period;
    timer->proc = lpTimerFunc;
    timer->due = Clock::now() + std::chrono::milliseconds(period);
    self.wake.notify_all(); // a GetMessageA in a timer procedure re-reads its deadline
    if (hWnd == nullptr)
        return timer->id;
    return nIDEvent != 0 ? nIDEvent : 1;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    ThreadContext* owner = &self;
    if (hWnd != nullptr) {
        auto window = findWindow(hWnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        owner = window->owner;
    }
    if (owner->queue) {
        auto& timers = owner->queue->timers;
        for (auto it = timers.begin(); it != timers.end(); ++it) {
            if (it->hwnd == hWnd && it->id == uIDEvent) {
                timers.erase(it);
                return TRUE;
            }
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

} // extern "C"
