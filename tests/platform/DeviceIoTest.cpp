// Device files: opening, synchronous and overlapped requests under each
// method, completion ports, cancellation by CancelIo and CloseHandle.
#include <memory>
#include <thread>
#include <vector>

#include <orvex/win32_testing.h>

#include "TestDriver.h"
#include "Win32TestSupport.h"

using namespace orvex::win32::test;

namespace {

constexpr orvex::win32::driver::NTSTATUS kDriverOwnStatus =
    static_cast<orvex::win32::driver::NTSTATUS>(0xE0000005);

// The client's spelling of an interface path: the GUID groups in upper case
// but the third.
std::string clientSpelling(const std::string& path)
{
    std::string spelled = path;
    const auto brace = spelled.find('{');
    for (size_t i = brace; i < spelled.size(); ++i)
        spelled[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(spelled[i])));
    return spelled;
}

// Waits, politely, until the driver keeps `count` requests.
void waitUntilKept(TestDevice& device, size_t count)
{
    while (device.keptCount() < count)
        Sleep(1);
}

struct Packet {
    BOOL ok;
    DWORD error;
    DWORD bytes;
    ULONG_PTR key;
    LPOVERLAPPED overlapped;
};

Packet takePacket(HANDLE port, DWORD milliseconds)
{
    Packet packet{};
    SetLastError(0);
    packet.ok = GetQueuedCompletionStatus(port, &packet.bytes, &packet.key, &packet.overlapped, milliseconds);
    packet.error = packet.ok ? 0 : GetLastError();
    return packet;
}

class DeviceIoTest : public ::testing::Test {
protected:
    DeviceIoTest() : _device(std::make_shared<TestDevice>()), _interface("1394#00305300000000A1", _device) {}

    TestDevice& driver() { return *_device; }
    const std::string& path() const { return _interface.path(); }

    // Sends a request that the driver keeps, on an overlapped handle.
    void sendKept(HANDLE file, OVERLAPPED& overlapped, unsigned char* output, DWORD size)
    {
        EXPECT_FALSE(DeviceIoControl(file, kKeepDirect, nullptr, 0, output, size, nullptr, &overlapped));
        EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    }

private:
    std::shared_ptr<TestDevice> _device;
    ScopedInterface _interface;
};

} // namespace

TEST_F(DeviceIoTest, OpensPresentDevicesByAnySpellingOfTheirPath)
{
    OwnedHandle exact(openDevice(path()));
    EXPECT_NE(INVALID_HANDLE_VALUE, exact.get());
    OwnedHandle client(openDevice(clientSpelling(path())));
    EXPECT_NE(INVALID_HANDLE_VALUE, client.get()) << "device paths are case-insensitive";
    OwnedHandle dosDevice(openDevice("\\\\.\\" + path().substr(4)));
    EXPECT_NE(INVALID_HANDLE_VALUE, dosDevice.get());

    EXPECT_EQ(INVALID_HANDLE_VALUE, openDevice(path() + "x"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(path().c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                                                FILE_FLAG_OVERLAPPED, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, openDevice("C:\\bcam.sys"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError())
        << "regular files are outside the subset";
}

TEST_F(DeviceIoTest, SharingModesOfOpenHandlesDecide)
{
    HANDLE exclusive =
        CreateFileA(path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    EXPECT_EQ(INVALID_HANDLE_VALUE, openDevice(path()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    OwnedHandle query(CreateFileA(path().c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(INVALID_HANDLE_VALUE, query.get()) << "an open without access conflicts with nothing";
    EXPECT_TRUE(CloseHandle(exclusive));

    OwnedHandle reader(
        CreateFileA(path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, reader.get());
    EXPECT_EQ(INVALID_HANDLE_VALUE, openDevice(path())) << "the reader does not share writing";
    OwnedHandle secondReader(CreateFileA(path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(INVALID_HANDLE_VALUE, secondReader.get());
}

TEST_F(DeviceIoTest, SynchronousRequestsFollowTheirMethodsBufferRules)
{
    OwnedHandle file(openDevice(path(), 0));
    ASSERT_NE(INVALID_HANDLE_VALUE, file.get());
    struct Case {
        DWORD code;
        bool outputIsProgramsOwn;
        bool inputIsProgramsOwn;
    };
    for (const Case& c : {Case{kEchoBuffered, false, false}, Case{kEchoInDirect, true, false},
                          Case{kEchoOutDirect, true, false}, Case{kEchoNeither, true, true}}) {
        SCOPED_TRACE(c.code);
        unsigned char input[4] = {1, 2, 3, 4};
        unsigned char output[8];
        std::memset(output, 'x', sizeof output);
        DWORD bytes = 0;
        ASSERT_TRUE(
            DeviceIoControl(file.get(), c.code, input, sizeof input, output, sizeof output, &bytes, nullptr));
        EXPECT_EQ(4u, bytes);
        EXPECT_EQ(0, std::memcmp(output, "\2\3\4\5xxxx", 8)) << "only the bytes transferred are written";
        EXPECT_EQ(c.outputIsProgramsOwn, driver().lastOutput == output);
        EXPECT_EQ(c.inputIsProgramsOwn, driver().lastInput == input);
        if (c.code == kEchoBuffered) {
            EXPECT_EQ(driver().lastInput, driver().lastOutput) << "one system buffer for both";
        }
    }
}

TEST_F(DeviceIoTest, FailuresReportTheDriversStatusAsAWin32Error)
{
    OwnedHandle file(openDevice(path(), 0));
    DWORD bytes = 99;
    EXPECT_FALSE(DeviceIoControl(file.get(), kFailAtOnce, nullptr, 0, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), GetLastError());
    EXPECT_FALSE(DeviceIoControl(file.get(), CTL_CODE(kTestDeviceType, 0xFFF, METHOD_BUFFERED, 0), nullptr, 0,
                                 nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
    unsigned char output[4];
    EXPECT_FALSE(DeviceIoControl(file.get(), kEchoBuffered, nullptr, 4, output, 4, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOACCESS), GetLastError());
    EXPECT_FALSE(
        DeviceIoControl(INVALID_HANDLE_VALUE, kEchoBuffered, nullptr, 0, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

    EXPECT_EQ(static_cast<DWORD>(0xE0000005), orvex::win32::driver::errorOfStatus(kDriverOwnStatus))
        << "a driver's own code reaches the program unchanged";
    EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND),
              orvex::win32::driver::errorOfStatus(static_cast<orvex::win32::driver::NTSTATUS>(0xC0001234)));
}

TEST_F(DeviceIoTest, ASynchronousHandleBlocksUntilTheDriverCompletes)
{
    OwnedHandle file(openDevice(path(), 0));
    auto completer = [this] {
        waitUntilKept(driver(), 1);
        driver().completeOldest(0x5A);
    };
    OwnedHandle thread(startThread(completer));
    unsigned char output[16] = {};
    DWORD bytes = 0;
    EXPECT_TRUE(DeviceIoControl(file.get(), kKeepDirect, nullptr, 0, output, sizeof output, &bytes, nullptr));
    EXPECT_EQ(16u, bytes);
    EXPECT_EQ(0x5A, output[15]);
    WaitForSingleObject(thread.get(), INFINITE);
}

TEST_F(DeviceIoTest, AnOverlappedRequestIsPendingUntilTheDriverCompletesIt)
{
    OwnedHandle file(openDevice(path()));
    OwnedHandle event(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    unsigned char output[8] = {};
    sendKept(file.get(), overlapped, output, sizeof output);
    EXPECT_FALSE(HasOverlappedIoCompleted(&overlapped));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.get(), 0))
        << "the event is reset when the request starts";
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(file.get(), &overlapped, &bytes, FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_INCOMPLETE), GetLastError());

    auto completer = [this] { driver().completeOldest(0x11); };
    OwnedHandle thread(startThread(completer));
    EXPECT_TRUE(GetOverlappedResult(file.get(), &overlapped, &bytes, TRUE));
    EXPECT_EQ(8u, bytes);
    EXPECT_EQ(0x11, output[7]);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), 0));
    WaitForSingleObject(thread.get(), INFINITE);

    OVERLAPPED withoutEvent{};
    sendKept(file.get(), withoutEvent, output, sizeof output);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(file.get(), 0))
        << "the handle itself is reset when a request starts";
    auto secondCompleter = [this] { driver().completeOldest(0x22); };
    OwnedHandle secondThread(startThread(secondCompleter));
    EXPECT_TRUE(GetOverlappedResult(file.get(), &withoutEvent, &bytes, TRUE)) << "waits for the handle";
    EXPECT_EQ(0x22, output[0]);
    WaitForSingleObject(secondThread.get(), INFINITE);

    unsigned char input[2] = {7, 8};
    EXPECT_TRUE(DeviceIoControl(file.get(), kEchoOutDirect, input, 2, output, 2, &bytes, &overlapped))
        << "a request the driver completes at once returns its result";
    EXPECT_EQ(2u, bytes);
    EXPECT_TRUE(HasOverlappedIoCompleted(&overlapped));
    EXPECT_EQ(2u, overlapped.InternalHigh);

    EXPECT_FALSE(DeviceIoControl(file.get(), kEchoOutDirect, input, 2, output, 2, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError())
        << "an overlapped handle needs one";
}

TEST_F(DeviceIoTest, ThePortDeliversCompletionsInTheOrderTheDriverMadeThem)
{
    OwnedHandle file(openDevice(path()));
    OwnedHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0));
    ASSERT_NE(nullptr, port.get());
    EXPECT_EQ(port.get(), CreateIoCompletionPort(file.get(), port.get(), 7, 0));

    OVERLAPPED first{}, second{}, third{};
    unsigned char out1[4], out2[4], out3[4];
    sendKept(file.get(), first, out1, 4);
    sendKept(file.get(), second, out2, 4);
    sendKept(file.get(), third, out3, 4);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), takePacket(port.get(), 0).error) << "nothing yet";

    driver().completeKept(2, 3);
    driver().completeKept(0, 1);
    EXPECT_TRUE(PostQueuedCompletionStatus(port.get(), 42, 9, nullptr));
    driver().completeKept(0, 2, orvex::win32::driver::kStatusDeviceNotConnected);

    Packet packet = takePacket(port.get(), INFINITE);
    EXPECT_TRUE(packet.ok);
    EXPECT_EQ(&third, packet.overlapped);
    EXPECT_EQ(7u, packet.key);
    EXPECT_EQ(4u, packet.bytes);
    EXPECT_EQ(&first, takePacket(port.get(), INFINITE).overlapped);
    packet = takePacket(port.get(), INFINITE);
    EXPECT_EQ(nullptr, packet.overlapped);
    EXPECT_EQ(42u, packet.bytes);
    EXPECT_EQ(9u, packet.key);
    packet = takePacket(port.get(), INFINITE);
    EXPECT_FALSE(packet.ok);
    EXPECT_EQ(&second, packet.overlapped) << "a failed request still names its OVERLAPPED";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), packet.error);

    packet = takePacket(port.get(), 20);
    EXPECT_FALSE(packet.ok);
    EXPECT_EQ(nullptr, packet.overlapped);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), packet.error);
}

TEST_F(DeviceIoTest, APortHearsOfRequestsThatEndedAtOnceButNotOfThoseThatFailedAtOnce)
{
    OwnedHandle file(openDevice(path()));
    OwnedHandle port(CreateIoCompletionPort(file.get(), nullptr, 3, 0));
    ASSERT_NE(nullptr, port.get());
    OVERLAPPED overlapped{};
    unsigned char input[1] = {1}, output[1];
    DWORD bytes = 0;
    EXPECT_TRUE(DeviceIoControl(file.get(), kEchoBuffered, input, 1, output, 1, &bytes, &overlapped));
    EXPECT_EQ(&overlapped, takePacket(port.get(), 0).overlapped);
    EXPECT_FALSE(DeviceIoControl(file.get(), kFailAtOnce, nullptr, 0, nullptr, 0, &bytes, &overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), takePacket(port.get(), 0).error);

    OVERLAPPED kept{};
    sendKept(file.get(), kept, output, 1);
    driver().completeOldest(0, kDriverOwnStatus);
    const Packet packet = takePacket(port.get(), 0);
    EXPECT_EQ(&kept, packet.overlapped);
    EXPECT_EQ(static_cast<DWORD>(0xE0000005), packet.error);
}

TEST_F(DeviceIoTest, AnEventWithItsLowBitSetSuppressesThePacket)
{
    OwnedHandle file(openDevice(path()));
    OwnedHandle port(CreateIoCompletionPort(file.get(), nullptr, 0, 0));
    OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event.get()) | 1);
    unsigned char output[4];
    sendKept(file.get(), overlapped, output, sizeof output);
    driver().completeOldest(1);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), 0)) << "the event itself is still set";
    DWORD bytes = 0;
    EXPECT_TRUE(GetOverlappedResult(file.get(), &overlapped, &bytes, TRUE));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), takePacket(port.get(), 0).error);
}

TEST_F(DeviceIoTest, CancelIoEndsTheCallingThreadsRequestsAndFreesTheirBuffers)
{
    OwnedHandle file(openDevice(path()));
    OwnedHandle port(CreateIoCompletionPort(file.get(), nullptr, 0, 0));
    auto mine = std::make_unique<OVERLAPPED>();
    auto buffer = std::make_unique<unsigned char[]>(64);
    sendKept(file.get(), *mine, buffer.get(), 64);
    const auto late = driver().oldestKept();

    OVERLAPPED theirs{};
    unsigned char theirBuffer[8];
    auto otherThread = [&] { sendKept(file.get(), theirs, theirBuffer, sizeof theirBuffer); };
    OwnedHandle thread(startThread(otherThread));
    WaitForSingleObject(thread.get(), INFINITE);
    ASSERT_EQ(2u, driver().keptCount());

    EXPECT_TRUE(CancelIo(file.get()));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(file.get(), mine.get(), &bytes, FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), GetLastError());
    const Packet packet = takePacket(port.get(), 0);
    EXPECT_EQ(mine.get(), packet.overlapped);
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), packet.error);
    EXPECT_EQ(1, driver().cancelledCount());
    EXPECT_EQ(1u, driver().keptCount()) << "another thread's request is not the caller's to cancel";

    // Once ended, the program may free what it lent; a late driver finds nothing.
    buffer.reset();
    mine.reset();
    EXPECT_FALSE(static_cast<bool>(late->buffers()));
    EXPECT_FALSE(late->complete(orvex::win32::driver::kStatusSuccess, 64));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), takePacket(port.get(), 0).error);
    driver().completeOldest(0);
}

TEST_F(DeviceIoTest, ClosingTheHandleEndsEveryPendingRequest)
{
    HANDLE file = openDevice(path());
    OwnedHandle port(CreateIoCompletionPort(file, nullptr, 5, 0));
    OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    auto first = std::make_unique<OVERLAPPED>();
    first->hEvent = event.get();
    auto firstBuffer = std::make_unique<unsigned char[]>(32);
    sendKept(file, *first, firstBuffer.get(), 32);
    auto second = std::make_unique<OVERLAPPED>();
    auto secondBuffer = std::make_unique<unsigned char[]>(32);
    auto otherThread = [&] { sendKept(file, *second, secondBuffer.get(), 32); };
    OwnedHandle thread(startThread(otherThread));
    WaitForSingleObject(thread.get(), INFINITE);
    const auto late = driver().oldestKept();

    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(2, driver().cancelledCount());
    EXPECT_EQ(1u, driver().closedFiles().size());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), 0));
    EXPECT_EQ(static_cast<ULONG_PTR>(0xC0000120), first->Internal);
    firstBuffer.reset();
    secondBuffer.reset();
    EXPECT_FALSE(late->complete(orvex::win32::driver::kStatusSuccess, 32));

    Packet packet = takePacket(port.get(), 0);
    EXPECT_EQ(first.get(), packet.overlapped) << "the port still hears of them";
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), packet.error);
    EXPECT_EQ(second.get(), takePacket(port.get(), 0).overlapped);
}

TEST_F(DeviceIoTest, AWaiterWakesForACompletionAndForTheClosingOfThePort)
{
    OwnedHandle file(openDevice(path()));
    HANDLE port = CreateIoCompletionPort(file.get(), nullptr, 1, 0);
    OVERLAPPED overlapped{};
    unsigned char output[4];
    sendKept(file.get(), overlapped, output, sizeof output);

    // The second wait has a deadline on the manual clock, which never comes:
    // the clock's count of sleepers tells when the waiter is inside that wait,
    // so the port is closed under a waiting thread, not before it calls.
    orvex::win32::testing::useManualClock(true);
    Packet first{}, second{};
    auto waiter = [&] {
        first = takePacket(port, INFINITE);
        second = takePacket(port, 60'000);
    };
    OwnedHandle thread(startThread(waiter));
    driver().completeOldest(4);
    while (orvex::win32::testing::clockSleepers() == 0)
        std::this_thread::yield();
    EXPECT_TRUE(CloseHandle(port));
    WaitForSingleObject(thread.get(), INFINITE);
    orvex::win32::testing::useManualClock(false);
    EXPECT_EQ(&overlapped, first.overlapped);
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(nullptr, second.overlapped);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ABANDONED_WAIT_0), second.error);
}

TEST_F(DeviceIoTest, PortsAssociateOverlappedHandlesOnce)
{
    OwnedHandle synchronous(openDevice(path(), 0));
    EXPECT_EQ(nullptr, CreateIoCompletionPort(synchronous.get(), nullptr, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    OwnedHandle file(openDevice(path()));
    OwnedHandle port(CreateIoCompletionPort(file.get(), nullptr, 0, 0));
    EXPECT_EQ(nullptr, CreateIoCompletionPort(file.get(), port.get(), 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, CreateIoCompletionPort(INVALID_HANDLE_VALUE, port.get(), 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}
