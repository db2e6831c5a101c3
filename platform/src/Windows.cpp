// Window classes and hidden windows.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>

#include <orvex/win32/errors.h>
#include <orvex/win32/messages.h>
#include <orvex/win32/threads.h>
#include <orvex/win32/window.h>

#include "Messages.h"
#include "WindowManager.h"

namespace orvex::win32::detail {
namespace {

// The predefined class of message-only windows.
constexpr const char* kMessageClassName = "Message";
constexpr ATOM kFirstAtom = 0xC000;
constexpr uintptr_t kFirstWindowHandle = 0x10010;

struct WindowRegistry {
    std::unordered_map<std::string, std::shared_ptr<WindowClass>> classes;
    std::unordered_map<std::string, std::shared_ptr<WindowClass>> systemClasses;
    ATOM nextAtom = kFirstAtom;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    uintptr_t nextWindow = kFirstWindowHandle;

    WindowRegistry()
    {
        auto message = std::make_shared<WindowClass>();
        message->key = kMessageClassName;
        std::transform(message->key.begin(), message->key.end(), message->key.begin(), ::tolower);
        message->atom = nextAtom++;
        message->info.cbSize = sizeof(WNDCLASSEXA);
        message->info.lpfnWndProc = &DefWindowProcA;
        message->system = true;
        systemClasses.emplace(message->key, message);
    }
};

// Never destroyed, like the kernel it belongs to.
WindowRegistry& registry()
{
    static WindowRegistry* instance = new WindowRegistry;
    return *instance;
}

bool isAtom(LPCSTR name)
{
    return reinterpret_cast<uintptr_t>(name) <= 0xFFFF;
}

std::string keyOf(LPCSTR name)
{
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

std::shared_ptr<WindowClass>
findIn(const std::unordered_map<std::string, std::shared_ptr<WindowClass>>& classes, LPCSTR nameOrAtom)
{
    if (nameOrAtom == nullptr)
        return nullptr;
    if (isAtom(nameOrAtom)) {
        const auto atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(nameOrAtom));
        for (const auto& entry : classes) {
            if (entry.second->atom == atom)
                return entry.second;
        }
        return nullptr;
    }
    auto it = classes.find(keyOf(nameOrAtom));
    return it == classes.end() ? nullptr : it->second;
}

// Application classes shadow the system ones. Kernel lock held.
std::shared_ptr<WindowClass> findClass(LPCSTR nameOrAtom)
{
    if (auto found = findIn(registry().classes, nameOrAtom))
        return found;
    return findIn(registry().systemClasses, nameOrAtom);
}

// Forgets a window whose destruction is complete. Kernel lock held.
void forgetWindow(Window& window)
{
    window.windowClass->windows -= 1;
    if (window.owner->queue)
        removeTimersOfWindow(*window.owner->queue, window.handle);
    registry().windows.erase(reinterpret_cast<uintptr_t>(window.handle));
}

// The procedure currently set for a live window, or nullptr.
WNDPROC currentProcedure(HWND hwnd)
{
    KernelLock lock(kernelLock());
    auto window = findWindow(hwnd);
    return window ? window->procedure : nullptr;
}

// Calls the window's procedure on the calling thread, as SendMessage would
// from the owning thread. Returns `otherwise` when the window is gone.
LRESULT callProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT otherwise)
{
    WNDPROC procedure = currentProcedure(hwnd);
    return procedure ? procedure(hwnd, message, wParam, lParam) : otherwise;
}

bool isPointerSizedIndex(int index)
{
    return index == GWLP_USERDATA || index == GWLP_WNDPROC || index == GWLP_HINSTANCE ||
           index == GWLP_HWNDPARENT;
}

// Reads or writes one window field. `width` is the byte size of the value
// for the class's extra bytes. Kernel lock held. Returns false with the last
// error set on failure.
bool accessField(Window& window, int index, size_t width, const LONG_PTR* newValue, LONG_PTR& oldValue)
{
    if (index >= 0) {
        if (static_cast<size_t>(index) + width > window.extraBytes.size()) {
            SetLastError(ERROR_INVALID_INDEX);
            return false;
        }
        unsigned char* field = window.extraBytes.data() + index;
        if (width == sizeof(LONG)) {
            LONG value;
            std::memcpy(&value, field, sizeof value);
            oldValue = value;
            if (newValue != nullptr) {
                value = static_cast<LONG>(*newValue);
                std::memcpy(field, &value, sizeof value);
            }
        } else {
            std::memcpy(&oldValue, field, sizeof oldValue);
            if (newValue != nullptr)
                std::memcpy(field, newValue, sizeof *newValue);
        }
        return true;
    }
    switch (index) {
    case GWLP_USERDATA:
        oldValue = window.userData;
        if (newValue != nullptr)
            window.userData = *newValue;
        return true;
    case GWLP_WNDPROC:
        oldValue = reinterpret_cast<LONG_PTR>(window.procedure);
        if (newValue != nullptr) {
            if (*newValue == 0) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            window.procedure = reinterpret_cast<WNDPROC>(*newValue);
        }
        return true;
    case GWL_STYLE:
        oldValue = window.style;
        if (newValue != nullptr)
            window.style = static_cast<LONG>(*newValue);
        return true;
    case GWL_EXSTYLE:
        oldValue = window.exStyle;
        if (newValue != nullptr)
            window.exStyle = static_cast<LONG>(*newValue);
        return true;
    case GWLP_ID:
        oldValue = window.id;
        if (newValue != nullptr)
            window.id = *newValue;
        return true;
    case GWLP_HINSTANCE:
        oldValue = reinterpret_cast<LONG_PTR>(window.instance);
        if (newValue != nullptr)
            window.instance = reinterpret_cast<HINSTANCE>(*newValue);
        return true;
    case GWLP_HWNDPARENT:
        oldValue = reinterpret_cast<LONG_PTR>(window.parent);
        if (newValue != nullptr) {
            SetLastError(ERROR_NOT_SUPPORTED); // owned windows do not exist here
            return false;
        }
        return true;
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return false;
    }
}

LONG_PTR windowField(HWND hwnd, int index, size_t width, const LONG_PTR* newValue)
{
    KernelLock lock(kernelLock());
    auto window = findWindow(hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR oldValue = 0;
    return accessField(*window, index, width, newValue, oldValue) ? oldValue : 0;
}

DWORD unsupportedCreationReason(DWORD style, HWND parent, HMENU menu)
{
    if (parent != nullptr && parent != HWND_MESSAGE) {
        return IsWindow(parent) ? ERROR_NOT_SUPPORTED : ERROR_INVALID_WINDOW_HANDLE;
    }
    if ((style & WS_CHILD) != 0 && parent == nullptr)
        return ERROR_TLW_WITH_WSCHILD;
    if ((style & WS_VISIBLE) != 0 || menu != nullptr)
        return ERROR_NOT_SUPPORTED;
    return ERROR_SUCCESS;
}

} // namespace

std::shared_ptr<Window> findWindow(HWND hwnd)
{
    auto it = registry().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == registry().windows.end() ? nullptr : it->second;
}

void destroyWindowsOfThread(ThreadContext& thread)
{
    std::vector<std::shared_ptr<Window>> owned;
    for (const auto& entry : registry().windows) {
        if (entry.second->owner == &thread)
            owned.push_back(entry.second);
    }
    for (const auto& window : owned)
        forgetWindow(*window);
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

extern "C" {

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx)
{
    if (lpwcx == nullptr || lpwcx->cbSize != sizeof(WNDCLASSEXA) || lpwcx->lpszClassName == nullptr ||
        isAtom(lpwcx->lpszClassName) || lpwcx->lpszClassName[0] == '\0' || lpwcx->lpfnWndProc == nullptr ||
        lpwcx->cbClsExtra < 0 || lpwcx->cbWndExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    KernelLock lock(kernelLock());
    WindowRegistry& windows = registry();
    std::string key = keyOf(lpwcx->lpszClassName);
    if (windows.classes.count(key) != 0) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    if (windows.nextAtom == 0) { // every atom used
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    auto windowClass = std::make_shared<WindowClass>();
    windowClass->key = key;
    windowClass->atom = windows.nextAtom++;
    windowClass->info = *lpwcx;
    windowClass->info.lpszClassName = nullptr;
    windowClass->info.lpszMenuName = nullptr;
    windows.classes.emplace(std::move(key), windowClass);
    return windowClass->atom;
}

BOOL WINAPI GetClassInfoExA(HINSTANCE hInstance, LPCSTR lpszClass, LPWNDCLASSEXA lpwcx)
{
    (void)hInstance; // one class namespace per process
    if (lpwcx == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    KernelLock lock(kernelLock());
    auto windowClass = findClass(lpszClass);
    if (!windowClass) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    const UINT callerSize = lpwcx->cbSize;
    *lpwcx = windowClass->info;
    lpwcx->cbSize = callerSize;
    lpwcx->lpszClassName = lpszClass;
    return windowClass->atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance)
{
    (void)hInstance;
    KernelLock lock(kernelLock());
    WindowRegistry& windows = registry();
    auto windowClass = findIn(windows.classes, lpClassName);
    if (!windowClass) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (windowClass->windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    windows.classes.erase(windowClass->key);
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                            int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam)
{
    if (const DWORD reason = unsupportedCreationReason(dwStyle, hWndParent, hMenu); reason != ERROR_SUCCESS) {
        SetLastError(reason);
        return nullptr;
    }
    ThreadContext& self = currentThread();
    HWND hwnd;
    {
        KernelLock lock(kernelLock());
        auto windowClass = findClass(lpClassName);
        if (!windowClass) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        queueOf(self); // a thread that owns a window has a queue
        auto window = std::make_shared<Window>();
        WindowRegistry& windows = registry();
        hwnd = reinterpret_cast<HWND>(windows.nextWindow);
        windows.nextWindow += 0x10;
        window->handle = hwnd;
        window->windowClass = windowClass;
        window->owner = &self;
        window->procedure = windowClass->info.lpfnWndProc;
        window->style = static_cast<LONG>(dwStyle);
        window->exStyle = static_cast<LONG>(dwExStyle);
        window->instance = hInstance;
        window->parent = hWndParent;
        window->extraBytes.assign(static_cast<size_t>(windowClass->info.cbWndExtra), 0);
        windowClass->windows += 1;
        windows.windows.emplace(reinterpret_cast<uintptr_t>(hwnd), std::move(window));
    }

    CREATESTRUCTA create{};
    create.lpCreateParams = lpParam;
    create.hInstance = hInstance;
    create.hMenu = hMenu;
    create.hwndParent = hWndParent;
    create.cy = nHeight;
    create.cx = nWidth;
    create.y = Y;
    create.x = X;
    create.style = static_cast<LONG>(dwStyle);
    create.lpszName = lpWindowName;
    create.lpszClass = lpClassName;
    create.dwExStyle = dwExStyle;
    const auto createParam = reinterpret_cast<LPARAM>(&create);

    if (callProcedure(hwnd, WM_NCCREATE, 0, createParam, FALSE) == FALSE) {
        KernelLock lock(kernelLock());
        if (auto window = findWindow(hwnd))
            forgetWindow(*window);
        return nullptr;
    }
    if (callProcedure(hwnd, WM_CREATE, 0, createParam, -1) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return IsWindow(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    ThreadContext& self = currentThread();
    {
        KernelLock lock(kernelLock());
        auto window = findWindow(hWnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (window->owner != &self) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (window->destroying)
            return TRUE; // called again from WM_DESTROY
        window->destroying = true;
    }
    callProcedure(hWnd, WM_DESTROY, 0, 0, 0);
    callProcedure(hWnd, WM_NCDESTROY, 0, 0, 0);
    KernelLock lock(kernelLock());
    if (auto window = findWindow(hWnd))
        forgetWindow(*window);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    KernelLock lock(kernelLock());
    return findWindow(hWnd) ? TRUE : FALSE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId)
{
    KernelLock lock(kernelLock());
    auto window = findWindow(hWnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (lpdwProcessId != nullptr)
        *lpdwProcessId = GetCurrentProcessId();
    return window->owner->id;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex)
{
    return windowField(hWnd, nIndex, sizeof(LONG_PTR), nullptr);
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    return windowField(hWnd, nIndex, sizeof(LONG_PTR), &dwNewLong);
}

// A pointer does not fit a LONG here: the pointer-sized fields are refused
// rather than truncated.
LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex)
{
    if (isPointerSizedIndex(nIndex)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return static_cast<LONG>(windowField(hWnd, nIndex, sizeof(LONG), nullptr));
}

LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong)
{
    if (isPointerSizedIndex(nIndex)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    const LONG_PTR value = dwNewLong;
    return static_cast<LONG>(windowField(hWnd, nIndex, sizeof(LONG), &value));
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    (void)wParam;
    (void)lParam;
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    default:
        return 0;
    }
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return lpPrevWndFunc ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

} // extern "C"
