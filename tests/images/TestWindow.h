// A hidden window of the calling thread that collects what is posted to it.
#pragma once

#include <orvex/win32.h>
#include <orvex/win32_owned.h>

#include <vector>

namespace orvex::images::test {

class TestWindow {
public:
    TestWindow()
    {
        static const ATOM kClass = registerClass();
        (void)kClass;
        _window.reset(CreateWindowExA(0, kClassName, "", WS_POPUP | WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr,
                                      nullptr, nullptr));
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND handle() const { return _window.get(); }

    void destroy() { _window.reset(); }

    // Removes and returns the queued messages of number `message`. Owning thread.
    std::vector<MSG> take(UINT message)
    {
        std::vector<MSG> taken;
        MSG msg{};
        while (PeekMessageA(&msg, _window.get(), message, message, PM_REMOVE))
            taken.push_back(msg);
        return taken;
    }

private:
    static constexpr const char* kClassName = "OrvexImagesTestWndClass";

    static LRESULT CALLBACK procedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        return DefWindowProcA(wnd, msg, wParam, lParam);
    }

    static ATOM registerClass()
    {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &procedure;
        wc.lpszClassName = kClassName;
        return RegisterClassExA(&wc);
    }

    orvex::win32::OwnedWindow _window;
};

} // namespace orvex::images::test
