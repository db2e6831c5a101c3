// The handle owners: each handle is given back exactly once, by whoever
// owns it last, and the values that mean "no handle" are never given back.
#include "Win32TestSupport.h"

#include <utility>

using namespace orvex::win32::test;

TEST(Owners, AKernelHandleIsClosedOnceByItsLastOwner)
{
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    {
        OwnedHandle first(event);
        OwnedHandle second(std::move(first));
        EXPECT_FALSE(first);
        OwnedHandle third;
        third = std::move(second);
        EXPECT_TRUE(SetEvent(third.get())) << "moving keeps the handle open";
    }
    EXPECT_FALSE(CloseHandle(event)) << "the last owner closed it";

    OwnedHandle kept(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const HANDLE old = kept.get();
    kept.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(CloseHandle(old)) << "reset closes the handle it held";
    EXPECT_TRUE(SetEvent(kept.get())) << "and keeps the new one";

    const HANDLE released = kept.release();
    EXPECT_FALSE(kept);
    EXPECT_TRUE(CloseHandle(released)) << "a released handle is the caller's to close";
}

TEST(Owners, NoHandleIsNeverClosed)
{
    SetLastError(ERROR_SUCCESS);
    {
        OwnedHandle failedOpen(INVALID_HANDLE_VALUE);
        OwnedHandle failedCreate(nullptr);
        OwnedWindow noWindow(nullptr);
        EXPECT_FALSE(failedOpen);
        EXPECT_FALSE(failedCreate);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "no close was attempted";
}

TEST(Owners, AWindowIsDestroyedWithItsOwnerOnItsThread)
{
    ScopedClass windowClass("OrvexOwnedWindowTest");
    HWND window = createHiddenWindow(windowClass.name());
    ASSERT_TRUE(IsWindow(window));
    {
        OwnedWindow owner(window);
    }
    EXPECT_FALSE(IsWindow(window));
}
