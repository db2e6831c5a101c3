// Window classes and hidden windows (pop-up and message-only). Windows here
// are never shown: they exist to receive posted messages and timers.
#pragma once

#include <orvex/win32/base.h>

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXA, *PWNDCLASSEXA, *LPWNDCLASSEXA;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

#define MAKEINTATOM(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))

// Window styles (recorded; nothing is drawn).
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_MINIMIZE 0x20000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L
#define WS_MAXIMIZE 0x01000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW                                                                                  \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)

#define CW_USEDEFAULT ((int)0x80000000)

// Parent of a message-only window.
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)

// Window field indexes. On 64-bit Windows the pointer-sized fields exist only
// as GWLP_* for the ...LongPtrA calls, and so it is here.
#define GWLP_WNDPROC (-4)
#define GWLP_HINSTANCE (-6)
#define GWLP_HWNDPARENT (-8)
#define GWLP_ID (-12)
#define GWL_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWLP_USERDATA (-21)

extern "C" {

// Registers a window class for the process. cbSize must be
// sizeof(WNDCLASSEXA); the procedure and the name are required
// (ERROR_INVALID_PARAMETER). A class of the same name: ERROR_CLASS_ALREADY_EXISTS.
// Class names are case-insensitive; the instance handle is recorded but does
// not separate classes. Returns the class atom, 0 on failure. Any thread;
// takes the kernel lock.
ORVEX_WIN32_API ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx);

// Fills *lpwcx with a registered class (also the system class "Message").
// Unknown class: FALSE with ERROR_CLASS_DOES_NOT_EXIST. Any thread.
ORVEX_WIN32_API BOOL WINAPI GetClassInfoExA(HINSTANCE hInstance, LPCSTR lpszClass, LPWNDCLASSEXA lpwcx);

// Unknown class: ERROR_CLASS_DOES_NOT_EXIST; a class with live windows:
// ERROR_CLASS_HAS_WINDOWS. Any thread.
ORVEX_WIN32_API BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);

// Creates a window owned by the calling thread (which thereby gets a message
// queue). Supported: top-level windows (no parent) and message-only windows
// (parent HWND_MESSAGE), without WS_VISIBLE, WS_CHILD or a menu; anything
// else fails with ERROR_NOT_SUPPORTED. The procedure receives WM_NCCREATE and
// WM_CREATE (lParam: CREATESTRUCTA) on the calling thread before the call
// returns; FALSE from WM_NCCREATE or -1 from WM_CREATE fails the creation.
ORVEX_WIN32_API HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName,
                                            DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                            HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                            LPVOID lpParam);

// Only the owning thread may destroy a window (else ERROR_ACCESS_DENIED). The
// procedure receives WM_DESTROY then WM_NCDESTROY; the window's timers are
// killed. Messages for it still queued are then discarded by DispatchMessageA.
ORVEX_WIN32_API BOOL WINAPI DestroyWindow(HWND hWnd);

// TRUE while the window exists (also during its WM_DESTROY). Any thread.
ORVEX_WIN32_API BOOL WINAPI IsWindow(HWND hWnd);

// Thread id of the owning thread (and the process id), 0 for no window.
ORVEX_WIN32_API DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);

// Window fields: GWLP_USERDATA, GWLP_WNDPROC (subclassing; the old procedure
// is returned for CallWindowProcA), GWL_STYLE, GWL_EXSTYLE, GWLP_ID,
// GWLP_HINSTANCE, GWLP_HWNDPARENT (read only), and the class's extra bytes at
// offsets >= 0. A successful set does not clear the last error, so callers
// that must tell a previous value 0 from a failure call SetLastError(0)
// first. Bad index: ERROR_INVALID_INDEX; dead window:
// ERROR_INVALID_WINDOW_HANDLE. Any thread; takes the kernel lock.
ORVEX_WIN32_API LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex);
ORVEX_WIN32_API LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
// 32-bit fields only (styles, id, extra bytes).
ORVEX_WIN32_API LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex);
ORVEX_WIN32_API LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong);

// Default processing: WM_NCCREATE answers TRUE, WM_CLOSE destroys the window,
// everything else answers 0.
ORVEX_WIN32_API LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Calls a window procedure (typically the one a subclass replaced).
ORVEX_WIN32_API LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam,
                                               LPARAM lParam);

} // extern "C"
