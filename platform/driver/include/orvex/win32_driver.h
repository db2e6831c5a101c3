// The other side of the Win32 subset on POSIX: what a kernel driver and the
// system's own data are on Windows. A simulated driver registers its device
// interfaces here, receives the I/O control requests that programs send with
// DeviceIoControl, keeps them pending, completes them, and announces arrival
// and removal; a simulator fills the data store with the registry values,
// the files' version resources and the message tables programs read. Library
// code never includes this header: it uses the Win32 calls, which on Windows
// reach the real driver and the real system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <orvex/win32.h>

namespace orvex::win32::driver {

// Kernel status of a request, as a driver completes it. The Win32 error the
// program sees follows from it (errorOfStatus).
using NTSTATUS = LONG;
constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005); // data copied; ERROR_MORE_DATA
constexpr NTSTATUS kStatusUnsuccessful = static_cast<NTSTATUS>(0xC0000001);   // ERROR_GEN_FAILURE
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);     // ERROR_INVALID_PARAMETER
constexpr NTSTATUS kStatusNoSuchDevice = static_cast<NTSTATUS>(0xC000000E);         // ERROR_FILE_NOT_FOUND
constexpr NTSTATUS kStatusInvalidDeviceRequest = static_cast<NTSTATUS>(0xC0000010); // ERROR_INVALID_FUNCTION
constexpr NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023); // ERROR_INSUFFICIENT_BUFFER
constexpr NTSTATUS kStatusDeviceNotConnected =
    static_cast<NTSTATUS>(0xC000009D);                                        // ERROR_DEVICE_NOT_CONNECTED
constexpr NTSTATUS kStatusDeviceNotReady = static_cast<NTSTATUS>(0xC00000A3); // ERROR_NOT_READY
constexpr NTSTATUS kStatusIoTimeout = static_cast<NTSTATUS>(0xC00000B5);      // ERROR_SEM_TIMEOUT
constexpr NTSTATUS kStatusCancelled = static_cast<NTSTATUS>(0xC0000120);      // ERROR_OPERATION_ABORTED
// A driver's own codes carry the customer bit; they reach the program as they are.
constexpr DWORD kStatusCustomerBit = 0x20000000;

// The Win32 error for a completion status: 0 for success, the table above,
// a status with the customer bit unchanged, ERROR_MR_MID_NOT_FOUND otherwise.
ORVEX_WIN32_API DWORD errorOfStatus(NTSTATUS status);

// The driver's view of a request's buffers, locked for as long as this
// object lives: the request cannot end (complete or be cancelled) meanwhile.
// Empty (false) once the request has ended; the driver must then not touch
// any buffer of it again.
// Buffered method: input and output are one system buffer holding a copy of
// the input; the output is copied to the program when the request succeeds.
// Direct methods: the input is a copy, the output is the program's buffer.
// Neither: both are the program's buffers.
class BufferAccess {
public:
    BufferAccess() = default;
    BufferAccess(std::unique_lock<std::recursive_mutex> lock, const void* input, DWORD inputLength,
                 void* output, DWORD outputLength)
        : _lock(std::move(lock)), _input(input), _inputLength(inputLength), _output(output),
          _outputLength(outputLength)
    {
    }

    explicit operator bool() const { return _lock.owns_lock(); }
    const void* input() const { return _input; }
    DWORD inputLength() const { return _inputLength; }
    void* output() const { return _output; }
    DWORD outputLength() const { return _outputLength; }

private:
    std::unique_lock<std::recursive_mutex> _lock;
    const void* _input = nullptr;
    DWORD _inputLength = 0;
    void* _output = nullptr;
    DWORD _outputLength = 0;
};

// One DeviceIoControl request. Shared: the subset and the driver both hold
// it; any thread may complete it, once.
class IoRequest {
public:
    virtual ~IoRequest() = default;
    virtual DWORD controlCode() const = 0;
    // The open handle that sent it (the value Device::open received).
    virtual uint64_t file() const = 0;
    virtual DWORD inputLength() const = 0;
    virtual DWORD outputLength() const = 0;
    virtual BufferAccess buffers() = 0;
    // Ends the request with `status`, `information` bytes transferred into
    // the output. False when it had already ended (cancelled): nothing happens.
    virtual bool complete(NTSTATUS status, DWORD information) = 0;
    virtual bool hasEnded() const = 0;
};

// A driver's device behind one device interface. Called without any lock of
// the subset's held, on the program's thread.
class Device {
public:
    virtual ~Device() = default;
    // CreateFileA on the interface; `file` names the new handle.
    virtual NTSTATUS open(uint64_t file, DWORD access)
    {
        (void)file;
        (void)access;
        return kStatusSuccess;
    }
    // Dispatch: complete the request now, or keep it and complete it later
    // from any thread (the program then sees ERROR_IO_PENDING).
    virtual void deviceControl(const std::shared_ptr<IoRequest>& request) = 0;
    // The request was cancelled (CancelIo, CloseHandle) and has ended with
    // ERROR_OPERATION_ABORTED: forget it.
    virtual void cancelled(const IoRequest& request) { (void)request; }
    // The handle was closed, after its pending requests were cancelled.
    virtual void closed(uint64_t file) { (void)file; }
};

// The registry form of a GUID: "{D535C794-A527-4B72-923A-63029FA5D83B}".
ORVEX_WIN32_API std::string guidText(const GUID& guid);

// Registers a present device interface of `classGuid` for `device` and
// announces its arrival (DBT_DEVICEARRIVAL) to the windows registered for
// the class. `reference` is the device's instance path with "#" separators,
// such as "1394#0030530000000001"; the interface path returned is
// "\\?\" + reference + "#" + the class GUID in lower case. Throws
// std::invalid_argument when that path is already present. Any thread.
ORVEX_WIN32_API std::string addInterface(const GUID& classGuid, const std::string& reference,
                                         std::shared_ptr<Device> device);

// The device is gone: its interface is no longer enumerated or opened, and
// DBT_DEVICEREMOVECOMPLETE goes to the windows registered for the class and
// for handles open on it. Open handles stay usable; their requests still
// reach the driver, which fails them as it sees fit. False for an unknown
// path. Any thread.
ORVEX_WIN32_API bool removeInterface(const std::string& path);

// DBT_CUSTOMEVENT with `eventGuid` and `data` to the windows registered for
// handles open on the interface. False for an unknown path. Any thread.
ORVEX_WIN32_API bool signalCustomEvent(const std::string& path, const GUID& eventGuid,
                                       const std::vector<BYTE>& data, LONG nameOffset = -1);

// The data store. Process-wide; any thread.
// Registry: creates the key and its parents. Strings get their zero.
ORVEX_WIN32_API void setRegistryValue(HKEY root, const std::string& keyPath, const std::string& name,
                                      DWORD type, const std::vector<BYTE>& data);
ORVEX_WIN32_API void setRegistryString(HKEY root, const std::string& keyPath, const std::string& name,
                                       const std::string& text, DWORD type = REG_SZ);
ORVEX_WIN32_API void setRegistryDword(HKEY root, const std::string& keyPath, const std::string& name,
                                      DWORD value);
// Deletes a key with its subkeys; open handles to them see ERROR_KEY_DELETED.
ORVEX_WIN32_API bool deleteRegistryKey(HKEY root, const std::string& keyPath);

// What GetWindowsDirectoryA answers (default "C:\WINDOWS").
ORVEX_WIN32_API void setWindowsDirectory(const std::string& path);

// Files, by Windows path (any case, "\" or "/"), with or without a version
// resource.
ORVEX_WIN32_API VS_FIXEDFILEINFO fixedFileInfo(WORD major, WORD minor, WORD build, WORD revision);
ORVEX_WIN32_API void setFileVersion(const std::string& path, const VS_FIXEDFILEINFO& info);
ORVEX_WIN32_API void setFileWithoutVersion(const std::string& path);
ORVEX_WIN32_API void removeFile(const std::string& path);

// The message table of a module loaded with LOAD_LIBRARY_AS_DATAFILE, by its
// file name ("BcamError.dll"). Texts as the message compiler leaves them,
// normally ending with "\r\n". Modules already loaded keep the table they had.
ORVEX_WIN32_API void setMessageTable(const std::string& moduleName,
                                     const std::vector<std::pair<DWORD, std::string>>& messages);
ORVEX_WIN32_API void removeMessageTable(const std::string& moduleName);

// Empties the data store (registry, files, message tables, Windows directory).
ORVEX_WIN32_API void resetDataStore();

// For tests: the WM_DEVICECHANGE records allocated and not yet freed.
ORVEX_WIN32_API size_t liveBroadcastRecords();

} // namespace orvex::win32::driver
