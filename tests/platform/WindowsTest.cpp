// Window classes, hidden windows, window fields and subclassing.
#include "Win32TestSupport.h"

using namespace orvex::win32::test;

namespace {

std::vector<UINT> messagesOf(HWND hwnd)
{
    std::vector<UINT> messages;
    for (const Received& r : received()) {
        if (r.hwnd == hwnd)
            messages.push_back(r.message);
    }
    return messages;
}

LRESULT CALLBACK refuseCreation(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    received().push_back({hwnd, message, wParam, lParam});
    if (message == WM_CREATE)
        return -1;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

WNDPROC g_previousProc = nullptr;

LRESULT CALLBACK subclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER + 1)
        return 1001; // handled by the subclass alone
    return CallWindowProcA(g_previousProc, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK answer7(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return message == WM_USER + 2 ? 7 : DefWindowProcA(hwnd, message, wParam, lParam);
}

LPVOID g_createParams = nullptr;

LRESULT CALLBACK rememberCreateParams(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        g_createParams = reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams;
    return recordingProc(hwnd, message, wParam, lParam);
}

LRESULT dispatch(HWND hwnd, UINT message)
{
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    return DispatchMessageA(&msg);
}

} // namespace

TEST(WindowClasses, AreRegisteredOncePerProcessAndLookedUpByName)
{
    WNDCLASSEXA info{};
    info.cbSize = 48; // what the library passes; the lookup fills it anyway
    EXPECT_FALSE(GetClassInfoExA(nullptr, "WindowsTestClassA", &info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST), GetLastError());

    ScopedClass windowClass("WindowsTestClassA");
    ASSERT_NE(0, windowClass.atom());
    ASSERT_TRUE(GetClassInfoExA(nullptr, "windowstestclassa", &info)) << "class names ignore case";
    EXPECT_EQ(&recordingProc, info.lpfnWndProc);

    WNDCLASSEXA again{};
    again.cbSize = sizeof again;
    again.lpfnWndProc = &recordingProc;
    again.lpszClassName = "WindowsTestClassA";
    EXPECT_EQ(0, RegisterClassExA(&again));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS), GetLastError());

    again.cbSize = 48;
    again.lpszClassName = "WindowsTestClassWrongSize";
    EXPECT_EQ(0, RegisterClassExA(&again));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(WindowClasses, CannotBeUnregisteredWhileTheyHaveWindows)
{
    ScopedClass windowClass("WindowsTestClassB");
    HWND first = createHiddenWindow(windowClass.name());
    HWND second = createHiddenWindow(windowClass.name());
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);

    EXPECT_FALSE(UnregisterClassA(windowClass.name(), nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS), GetLastError());
    DestroyWindow(first);
    EXPECT_FALSE(UnregisterClassA(windowClass.name(), nullptr)) << "one window left";
    DestroyWindow(second);
    EXPECT_TRUE(UnregisterClassA(windowClass.name(), nullptr));
    EXPECT_FALSE(UnregisterClassA(windowClass.name(), nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST), GetLastError());
}

TEST(Windows, CreationAndDestructionReachTheProcedureInOrder)
{
    ScopedClass windowClass("WindowsTestClassC", &rememberCreateParams);
    received().clear();
    int creationData = 5;
    HWND hwnd = CreateWindowExA(0, windowClass.name(), "", WS_POPUP | WS_DISABLED, 0, 0, 0, 0, nullptr,
                                nullptr, nullptr, &creationData);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_TRUE(IsWindow(hwnd));
    ASSERT_EQ((std::vector<UINT>{WM_NCCREATE, WM_CREATE}), messagesOf(hwnd));
    EXPECT_EQ(&creationData, g_createParams);
    EXPECT_EQ(GetCurrentThreadId(), GetWindowThreadProcessId(hwnd, nullptr));

    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ((std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}), messagesOf(hwnd));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

TEST(Windows, ARefusedCreationLeavesNoWindow)
{
    ScopedClass windowClass("WindowsTestClassD", &refuseCreation);
    received().clear();
    EXPECT_EQ(nullptr, createHiddenWindow(windowClass.name()));
    ASSERT_FALSE(received().empty());
    const HWND attempted = received()[0].hwnd;
    EXPECT_EQ((std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}), messagesOf(attempted));
    EXPECT_FALSE(IsWindow(attempted));
    EXPECT_TRUE(UnregisterClassA(windowClass.name(), nullptr)) << "the class has no window left";
}

TEST(Windows, UnknownClassesAndUnsupportedShapesFailLoudly)
{
    EXPECT_EQ(nullptr, createHiddenWindow("WindowsTestNoSuchClass"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS), GetLastError());

    ScopedClass windowClass("WindowsTestClassE");
    EXPECT_EQ(nullptr, CreateWindowExA(0, windowClass.name(), "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 10,
                                       10, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
    EXPECT_EQ(nullptr, CreateWindowExA(0, windowClass.name(), "", WS_CHILD, 0, 0, 0, 0, nullptr, nullptr,
                                       nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD), GetLastError());

    OwnedWindow parent(createHiddenWindow(windowClass.name()));
    EXPECT_EQ(nullptr, CreateWindowExA(0, windowClass.name(), "", WS_CHILD, 0, 0, 0, 0, parent.get(), nullptr,
                                       nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
}

TEST(Windows, MessageOnlyWindowsUseTheSystemMessageClass)
{
    WNDCLASSEXA info{};
    ASSERT_TRUE(GetClassInfoExA(nullptr, "Message", &info));
    OwnedWindow window(CreateWindowExA(0, "Message", "BcamMessageOnly", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       nullptr, nullptr));
    ASSERT_NE(nullptr, window.get());
    EXPECT_EQ(0, dispatch(window.get(), WM_USER)) << "default processing";
    EXPECT_FALSE(UnregisterClassA("Message", nullptr)) << "system classes are not the application's";
}

TEST(Windows, UserDataFollowsTheSetLastErrorZeroPattern)
{
    ScopedClass windowClass("WindowsTestClassF");
    OwnedWindow window(createHiddenWindow(windowClass.name()));
    int object = 0;

    SetLastError(ERROR_ACCESS_DENIED);
    SetLastError(0);
    EXPECT_EQ(0, SetWindowLongPtrA(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&object)));
    EXPECT_EQ(0u, GetLastError()) << "previous value 0, and no failure";
    EXPECT_EQ(&object, reinterpret_cast<int*>(GetWindowLongPtrA(window.get(), GWLP_USERDATA)))
        << "a 64-bit pointer survives";

    HWND dead = createHiddenWindow(windowClass.name());
    DestroyWindow(dead);
    SetLastError(0);
    EXPECT_EQ(0, SetWindowLongPtrA(dead, GWLP_USERDATA, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

TEST(Windows, FieldsByIndex)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &recordingProc;
    wc.cbWndExtra = static_cast<int>(sizeof(LONG_PTR));
    wc.lpszClassName = "WindowsTestClassG";
    ASSERT_NE(0, RegisterClassExA(&wc));
    {
        OwnedWindow window(createHiddenWindow("WindowsTestClassG"));
        EXPECT_EQ(static_cast<LONG>(WS_POPUP | WS_DISABLED), GetWindowLongA(window.get(), GWL_STYLE));
        EXPECT_EQ(0, GetWindowLongPtrA(window.get(), 0));
        // A pointer uses every bit of the field, whatever its width.
        const LONG_PTR pointer = reinterpret_cast<LONG_PTR>(&wc);
        SetWindowLongPtrA(window.get(), 0, pointer);
        EXPECT_EQ(pointer, GetWindowLongPtrA(window.get(), 0));

        SetLastError(0);
        EXPECT_EQ(0, GetWindowLongPtrA(window.get(), 4)) << "beyond the extra bytes";
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_INDEX), GetLastError());
        EXPECT_EQ(0, GetWindowLongPtrA(window.get(), -100));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_INDEX), GetLastError());
        // Where a pointer does not fit the 32-bit calls (64-bit builds):
        // refused, not truncated. On 32-bit Windows they are the same calls.
        if constexpr (sizeof(LONG_PTR) > sizeof(LONG)) {
            EXPECT_EQ(0, SetWindowLongA(window.get(), GWLP_USERDATA, 1));
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_INDEX), GetLastError());
        }
    }
    UnregisterClassA("WindowsTestClassG", nullptr);
}

TEST(Windows, SubclassingReplacesTheProcedureAndChainsToTheOldOne)
{
    ScopedClass windowClass("WindowsTestClassH", &answer7);
    OwnedWindow window(createHiddenWindow(windowClass.name()));
    g_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&subclassProc)));
    EXPECT_EQ(&answer7, g_previousProc);
    EXPECT_EQ(&subclassProc, reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window.get(), GWLP_WNDPROC)));

    EXPECT_EQ(1001, dispatch(window.get(), WM_USER + 1));
    EXPECT_EQ(7, dispatch(window.get(), WM_USER + 2)) << "chained to the class procedure";

    // Another window of the class keeps the class procedure.
    OwnedWindow other(createHiddenWindow(windowClass.name()));
    EXPECT_EQ(0, dispatch(other.get(), WM_USER + 1));
}

TEST(Windows, OnlyTheOwningThreadDestroysAWindow)
{
    ScopedClass windowClass("WindowsTestClassI");
    OwnedWindow window(createHiddenWindow(windowClass.name()));
    BOOL destroyed = TRUE;
    DWORD error = 0;
    BOOL seenAsWindow = FALSE;
    auto body = [&] {
        seenAsWindow = IsWindow(window.get());
        destroyed = DestroyWindow(window.get());
        error = GetLastError();
    };
    OwnedHandle thread(startThread(body));
    WaitForSingleObject(thread.get(), INFINITE);
    EXPECT_TRUE(seenAsWindow);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error);
    EXPECT_TRUE(IsWindow(window.get()));
}

TEST(Windows, TheWindowsOfAThreadEndWithIt)
{
    ScopedClass windowClass("WindowsTestClassJ");
    HWND hwnd = nullptr;
    auto body = [&] { hwnd = createHiddenWindow(windowClass.name()); };
    OwnedHandle thread(startThread(body));
    WaitForSingleObject(thread.get(), INFINITE);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
    EXPECT_TRUE(UnregisterClassA(windowClass.name(), nullptr));
}

TEST(Windows, DefaultProcessingOfCloseDestroysTheWindow)
{
    ScopedClass windowClass("WindowsTestClassK");
    HWND hwnd = createHiddenWindow(windowClass.name());
    EXPECT_EQ(0, DefWindowProcA(hwnd, WM_CLOSE, 0, 0));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(TRUE, DefWindowProcA(nullptr, WM_NCCREATE, 0, 0));
}
