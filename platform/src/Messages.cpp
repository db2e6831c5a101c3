// Posted messages, message loops and message-aware waits.
#include "Messages.h"

#include <orvex/win32/errors.h>
#include <orvex/win32/sync.h>
#include <orvex/win32/time.h>

#include "WindowManager.h"

namespace orvex::win32::detail {
namespace {

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
const HWND kBroadcast = reinterpret_cast<HWND>(static_cast<intptr_t>(0xFFFF));
constexpr UINT kSupportedPeekFlags = PM_REMOVE | PM_NOYIELD;

struct MessageFilter {
    HWND hwnd;
    UINT first;
    UINT last;

    bool matches(const MSG& msg) const
    {
        if (hwnd == kThreadMessagesOnly) {
            if (msg.hwnd != nullptr)
                return false;
        } else if (hwnd != nullptr && msg.hwnd != hwnd) {
            return false;
        }
        return (first == 0 && last == 0) || (msg.message >= first && msg.message <= last);
    }

    // WM_QUIT is a thread message that no message range filters out.
    bool admitsQuit() const { return hwnd == nullptr || hwnd == kThreadMessagesOnly; }
};

MSG makeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    return msg;
}

// A window filter must name a live window. Kernel lock held.
bool isValidFilter(HWND hwnd)
{
    return hwnd == nullptr || hwnd == kThreadMessagesOnly || findWindow(hwnd);
}

// Takes the first message the filter admits, in the order posted messages,
// WM_QUIT, WM_TIMER. Kernel lock held.
bool takeMessage(MessageQueue& queue, const MessageFilter& filter, bool remove, MSG& out)
{
    queue.newPosted = false; // the thread has looked at its queue
    queue.newTimer = false;
    collectDueTimers(queue, Clock::now());
    queue.newTimer = false;
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (filter.matches(*it)) {
            out = *it;
            if (remove)
                queue.posted.erase(it);
            return true;
        }
    }
    if (queue.quitPending && filter.admitsQuit()) {
        out = makeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
        if (remove)
            queue.quitPending = false;
        return true;
    }
    for (auto it = queue.timerMessages.begin(); it != queue.timerMessages.end(); ++it) {
        if (filter.matches(it->msg)) {
            out = it->msg;
            if (remove) {
                const uint64_t serial = it->serial;
                queue.timerMessages.erase(it);
                onTimerMessageRemoved(queue, serial);
            }
            return true;
        }
    }
    return false;
}

bool hasMessages(const MessageQueue& queue, DWORD wakeMask)
{
    const bool posted = (wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0;
    const bool timers = (wakeMask & QS_TIMER) != 0;
    const bool sent = (wakeMask & QS_SENDMESSAGE) != 0;
    return (posted && (!queue.posted.empty() || queue.quitPending)) ||
           (timers && !queue.timerMessages.empty()) || (sent && !queue.sent.empty());
}

// Hands every sent message waiting for the calling thread to its window's
// procedure, with the kernel lock released around each call, then frees its
// record. A message for a window gone meanwhile is dropped with its record.
void deliverSentMessages(ThreadContext& self, KernelLock& lock)
{
    queueOf(self).newSent = false;
    while (!queueOf(self).sent.empty()) {
        SentMessage message = std::move(queueOf(self).sent.front());
        queueOf(self).sent.pop_front();
        auto window = findWindow(message.hwnd);
        const WNDPROC procedure = window && window->owner == &self ? window->procedure : nullptr;
        lock.unlock();
        if (procedure != nullptr) {
            procedure(message.hwnd, message.message, message.wParam,
                      reinterpret_cast<LPARAM>(message.record ? message.record->data() : nullptr));
        }
        message.record.reset();
        lock.lock();
    }
}

// Input in the queue of the waiting thread, for MsgWaitForMultipleObjects.
class QueueInput final : public WaitInput {
public:
    QueueInput(ThreadContext& self, DWORD wakeMask, bool anyInput)
        : _self(self), _wakeMask(wakeMask), _anyInput(anyInput)
    {
    }

    bool available() override
    {
        MessageQueue& queue = queueOf(_self);
        if ((_wakeMask & QS_TIMER) != 0)
            collectDueTimers(queue, Clock::now());
        if (_anyInput)
            return hasMessages(queue, _wakeMask);
        const bool posted = (_wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0 && queue.newPosted;
        const bool timers = (_wakeMask & QS_TIMER) != 0 && queue.newTimer;
        const bool sent = (_wakeMask & QS_SENDMESSAGE) != 0 && queue.newSent;
        return posted || timers || sent;
    }

    std::optional<Clock::time_point> nextCheck() override
    {
        if ((_wakeMask & QS_TIMER) == 0)
            return std::nullopt;
        return nextTimerDue(queueOf(_self));
    }

private:
    ThreadContext& _self;
    const DWORD _wakeMask;
    const bool _anyInput;
};

} // namespace

MessageQueue& queueOf(ThreadContext& thread)
{
    if (!thread.queue)
        thread.queue = std::make_unique<MessageQueue>();
    return *thread.queue;
}

bool appendPostedMessage(ThreadContext& owner, const MSG& msg)
{
    MessageQueue& queue = queueOf(owner);
    if (queue.posted.size() >= kMaxPostedMessages) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return false;
    }
    queue.posted.push_back(msg);
    queue.newPosted = true;
    owner.wake.notify_all();
    return true;
}

void appendSentMessage(ThreadContext& owner, SentMessage message)
{
    MessageQueue& queue = queueOf(owner);
    queue.sent.push_back(std::move(message));
    queue.newSent = true;
    owner.wake.notify_all();
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

extern "C" {

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (hWnd == kBroadcast) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const MSG msg = makeMessage(hWnd, Msg, wParam, lParam);
    if (hWnd == nullptr) {
        ThreadContext& self = currentThread();
        KernelLock lock(kernelLock());
        return appendPostedMessage(self, msg) ? TRUE : FALSE;
    }
    KernelLock lock(kernelLock());
    auto window = findWindow(hWnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return appendPostedMessage(*window->owner, msg) ? TRUE : FALSE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    const MSG msg = makeMessage(nullptr, Msg, wParam, lParam);
    KernelLock lock(kernelLock());
    ThreadContext* thread = findThread(idThread);
    if (thread == nullptr || !thread->queue) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return appendPostedMessage(*thread, msg) ? TRUE : FALSE;
}

void WINAPI PostQuitMessage(int nExitCode)
{
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    MessageQueue& queue = queueOf(self);
    queue.quitPending = true;
    queue.quitCode = nExitCode;
    queue.newPosted = true;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (lpMsg == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if ((wRemoveMsg & ~kSupportedPeekFlags) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    deliverSentMessages(self, lock);
    if (!isValidFilter(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const MessageFilter filter{hWnd, wMsgFilterMin, wMsgFilterMax};
    return takeMessage(queueOf(self), filter, (wRemoveMsg & PM_REMOVE) != 0, *lpMsg) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    if (lpMsg == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return -1;
    }
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    const MessageFilter filter{hWnd, wMsgFilterMin, wMsgFilterMax};
    for (;;) {
        deliverSentMessages(self, lock);
        if (!isValidFilter(hWnd)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        MessageQueue& queue = queueOf(self);
        if (takeMessage(queue, filter, true, *lpMsg))
            return lpMsg->message == WM_QUIT ? FALSE : TRUE;
        if (auto due = nextTimerDue(queue)) {
            self.wake.wait_until(lock, *due);
        } else {
            self.wake.wait(lock);
        }
    }
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg)
{
    if (lpMsg == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return 0;
    }
    ThreadContext& self = currentThread();
    WNDPROC procedure = nullptr;
    TIMERPROC timerProcedure = nullptr;
    {
        KernelLock lock(kernelLock());
        if (lpMsg->hwnd != nullptr) {
            auto window = findWindow(lpMsg->hwnd);
            if (!window) {
                // Posted before the window was destroyed: discarded.
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return 0;
            }
            if (window->owner != &self) {
                SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
                return 0;
            }
            procedure = window->procedure;
        }
        if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
            // Only a timer procedure this thread set is called, never an
            // arbitrary address someone posted.
            const auto candidate = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
            if (self.queue && isLiveTimerProc(*self.queue, lpMsg->hwnd, lpMsg->wParam, candidate)) {
                timerProcedure = candidate;
            }
            procedure = nullptr;
        }
    }
    if (timerProcedure != nullptr) {
        timerProcedure(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
        return 0;
    }
    return procedure ? procedure(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg)
{
    (void)lpMsg;
    return FALSE;
}

DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds,
                                         DWORD dwWakeMask, DWORD dwFlags)
{
    if ((dwFlags & (MWMO_WAITALL | MWMO_ALERTABLE)) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    if ((dwFlags & ~static_cast<DWORD>(MWMO_INPUTAVAILABLE)) != 0 ||
        (dwWakeMask & ~static_cast<DWORD>(QS_ALLINPUT)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    ThreadContext& self = currentThread();
    QueueInput input(self, dwWakeMask, (dwFlags & MWMO_INPUTAVAILABLE) != 0);
    return waitForObjects(self, nCount, pHandles, false, dwMilliseconds, &input);
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                       DWORD dwMilliseconds, DWORD dwWakeMask)
{
    if (fWaitAll) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    return MsgWaitForMultipleObjectsEx(nCount, pHandles, dwMilliseconds, dwWakeMask, 0);
}

} // extern "C"
