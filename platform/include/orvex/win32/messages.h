// Message queues, posted messages, timers and message-aware waits.
#pragma once

#include <orvex/win32/base.h>
#include <orvex/win32/window.h>

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *PMSG, *LPMSG;

typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_TIMER 0x0113
#define WM_DEVICECHANGE 0x0219
#define WM_USER 0x0400
#define WM_APP 0x8000

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002

#define QS_KEY 0x0001
#define QS_MOUSEMOVE 0x0002
#define QS_MOUSEBUTTON 0x0004
#define QS_POSTMESSAGE 0x0008
#define QS_TIMER 0x0010
#define QS_PAINT 0x0020
#define QS_SENDMESSAGE 0x0040
#define QS_HOTKEY 0x0080
#define QS_ALLPOSTMESSAGE 0x0100
#define QS_RAWINPUT 0x0400
#define QS_MOUSE (QS_MOUSEMOVE | QS_MOUSEBUTTON)
#define QS_INPUT (QS_MOUSE | QS_KEY | QS_RAWINPUT)
#define QS_ALLEVENTS (QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY)
#define QS_ALLINPUT (QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY | QS_SENDMESSAGE)

#define MWMO_WAITALL 0x0001
#define MWMO_ALERTABLE 0x0002
#define MWMO_INPUTAVAILABLE 0x0004

#define USER_TIMER_MINIMUM 0x0000000A
#define USER_TIMER_MAXIMUM 0x7FFFFFFF

extern "C" {

// Appends a message to the queue of the thread owning hWnd (hWnd NULL: the
// calling thread's queue, as a thread message). Any thread; takes the kernel
// lock. Dead or unknown window: ERROR_INVALID_WINDOW_HANDLE; a queue holding
// 10000 messages: ERROR_NOT_ENOUGH_QUOTA.
ORVEX_WIN32_API BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Posts a thread message (hwnd NULL) to a thread that has a queue (it created
// a window or called a message function); else ERROR_INVALID_THREAD_ID.
ORVEX_WIN32_API BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);

// Asks the calling thread's message loop to end: GetMessageA returns 0 with
// WM_QUIT once the posted messages are consumed.
ORVEX_WIN32_API void WINAPI PostQuitMessage(int nExitCode);

// Looks at the calling thread's queue. Order: posted messages (FIFO), then
// WM_QUIT, then WM_TIMER of due timers (at most one pending per timer).
// hWnd: NULL for any, (HWND)-1 for thread messages only, or one window.
// wMsgFilterMin..Max: inclusive range, 0..0 for all. wRemoveMsg: PM_REMOVE or
// PM_NOREMOVE (| PM_NOYIELD). Owning thread only; never blocks.
ORVEX_WIN32_API BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                                         UINT wRemoveMsg);

// Blocks until a matching message arrives and removes it. Returns 0 for
// WM_QUIT, -1 for an invalid window filter, nonzero otherwise.
ORVEX_WIN32_API BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);

// Calls the current procedure of lpMsg->hwnd on the calling thread (for a
// WM_TIMER with a timer procedure, that procedure). A message for a window
// destroyed since it was posted is discarded: returns 0 with
// ERROR_INVALID_WINDOW_HANDLE. Thread messages (hwnd NULL) are not dispatched.
ORVEX_WIN32_API LRESULT WINAPI DispatchMessageA(const MSG* lpMsg);

// No keyboard input exists here: never translates anything (returns FALSE).
ORVEX_WIN32_API BOOL WINAPI TranslateMessage(const MSG* lpMsg);

// Timers on a window of the calling thread (or, hWnd NULL, on the thread with
// a generated id). Setting an existing id restarts it. The period is clamped
// to USER_TIMER_MINIMUM..USER_TIMER_MAXIMUM. Returns the id, 0 on failure.
ORVEX_WIN32_API UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
// Stops a timer. A WM_TIMER already taken into the queue stays there.
ORVEX_WIN32_API BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// Waits for handles or for new input in the calling thread's queue (input
// that arrived since the thread last looked at its queue). Returns
// WAIT_OBJECT_0 + i for a signalled handle, WAIT_OBJECT_0 + nCount for input,
// WAIT_TIMEOUT or WAIT_FAILED. fWaitAll is not supported (ERROR_NOT_SUPPORTED).
ORVEX_WIN32_API DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                                       DWORD dwMilliseconds, DWORD dwWakeMask);
// dwFlags: MWMO_INPUTAVAILABLE also counts input already seen; MWMO_WAITALL
// and MWMO_ALERTABLE are not supported.
ORVEX_WIN32_API DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles,
                                                         DWORD dwMilliseconds, DWORD dwWakeMask,
                                                         DWORD dwFlags);

} // extern "C"
