// The hidden-window helper every window-owning class uses: one class
// registration shared by all windows of a kind, the owner in the user data,
// and failures carrying the system's text.
#include "base/HiddenWindow.h"

#include <orvex/OrvexError.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

using orvex::HiddenWindow;

int g_ownerCalls = 0;

LRESULT CALLBACK countingProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_APP + 1) {
        if (int* owner = HiddenWindow::ownerOf<int>(wnd)) {
            ++*owner;
            ++g_ownerCalls;
            return 0;
        }
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

void dispatchAll()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&msg);
    }
}

bool classExists(const char* name)
{
    WNDCLASSEXA info = {};
    info.cbSize = sizeof info;
    return GetClassInfoExA(nullptr, name, &info) != FALSE;
}

TEST(HiddenWindow, WindowsOfOneKindShareOneClassAndKnowTheirOwner)
{
    int first = 0;
    int second = 0;
    {
        HiddenWindow a("OrvexTestHiddenWndClass", countingProc, &first, "test");
        HiddenWindow b("OrvexTestHiddenWndClass", countingProc, &second, "test");
        ASSERT_TRUE(a);
        EXPECT_TRUE(IsWindow(a.handle()));
        EXPECT_EQ(static_cast<LONG>(WS_POPUP | WS_DISABLED), GetWindowLongA(a.handle(), GWL_STYLE));
        PostMessageA(a.handle(), WM_APP + 1, 0, 0);
        PostMessageA(b.handle(), WM_APP + 1, 0, 0);
        PostMessageA(b.handle(), WM_APP + 1, 0, 0);
        dispatchAll();
        EXPECT_EQ(1, first);
        EXPECT_EQ(2, second);

        a.destroy();
        EXPECT_FALSE(a);
        EXPECT_TRUE(classExists("OrvexTestHiddenWndClass")); // b still uses it
    }
    EXPECT_FALSE(classExists("OrvexTestHiddenWndClass"));
}

TEST(HiddenWindow, QueuedMessagesOfADestroyedWindowReachNobody)
{
    int owner = 0;
    g_ownerCalls = 0;
    HiddenWindow window("OrvexTestHiddenWndClass", countingProc, &owner, "test");
    PostMessageA(window.handle(), WM_APP + 1, 0, 0);
    window.destroy();
    dispatchAll();
    EXPECT_EQ(0, g_ownerCalls);
}

TEST(HiddenWindow, MovingKeepsOneOwnerOfTheWindow)
{
    int owner = 0;
    HiddenWindow first("OrvexTestHiddenWndClass", countingProc, &owner, "test");
    const HWND handle = first.handle();
    HiddenWindow second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(handle, second.handle());
    HiddenWindow third;
    third = std::move(second);
    EXPECT_TRUE(IsWindow(handle));
    third.destroy();
    EXPECT_FALSE(IsWindow(handle));
}

TEST(HiddenWindow, DestroyedFromAnotherThreadItClosesOnItsOwnersNextDispatch)
{
    int owner = 0;
    HiddenWindow window("OrvexTestHiddenWndClass", countingProc, &owner, "test");
    const HWND handle = window.handle();
    std::thread([&window] { window.destroy(); }).join();
    EXPECT_TRUE(IsWindow(handle));
    dispatchAll();
    EXPECT_FALSE(IsWindow(handle));
}

TEST(HiddenWindow, OnlyAMissingClassLetsRegistrationGoOn)
{
    EXPECT_NO_THROW(orvex::throwIfClassLookupFatal(ERROR_CLASS_DOES_NOT_EXIST, "test"));
    try {
        orvex::throwIfClassLookupFatal(ERROR_ACCESS_DENIED, "test");
        ADD_FAILURE() << "no OrvexFatalError";
    } catch (const OrvexFatalError& error) {
        EXPECT_EQ(orvex::systemErrorText(ERROR_ACCESS_DENIED), error.what());
    }
}

TEST(HiddenWindow, SystemTextsAreOneLineAndNeverEmpty)
{
    const std::string text = orvex::systemErrorText(ERROR_CLASS_DOES_NOT_EXIST);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
    EXPECT_LE(text.size(), 260u);
    EXPECT_EQ("system error 4294967295", orvex::systemErrorText(0xFFFFFFFF));
}

} // namespace
