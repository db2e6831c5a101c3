// The C library calls through which a program reaches /dev/fw* devices,
// replaced when this library is preloaded (scripts/with-simulated-firewire.sh):
// opendir("/dev") lists the simulated nodes, open("/dev/fwN") opens one,
// and ioctl, read, write, mmap and close on its descriptor reach the
// simulated device. Every other path and descriptor goes to the C library
// untouched. poll, select and epoll need no replacement: the descriptor is
// a real eventfd whose count is the number of pending events.
//
// Why our own interposer rather than umockdev: umockdev wraps neither mmap
// nor poll, so the frame buffers and a non-blocking dequeue would need an
// interposer of ours anyway, and its ioctl handler runs in a second
// process or a GLib main loop; one small library of our own serves the
// whole device from the program's process, on any program.
#include "Devices.h"
#include "RealCalls.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace orvex::sim::firewire {

namespace real {

namespace {

template <typename F> F next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

int open(const char* path, int flags, mode_t mode)
{
    static const auto f = next<int (*)(const char*, int, ...)>("open");
    return f(path, flags, mode);
}

int openat(int dirFd, const char* path, int flags, mode_t mode)
{
    static const auto f = next<int (*)(int, const char*, int, ...)>("openat");
    return f(dirFd, path, flags, mode);
}

int close(int fd)
{
    static const auto f = next<int (*)(int)>("close");
    return f(fd);
}

ssize_t read(int fd, void* buffer, std::size_t bytes)
{
    static const auto f = next<ssize_t (*)(int, void*, std::size_t)>("read");
    return f(fd, buffer, bytes);
}

ssize_t write(int fd, const void* buffer, std::size_t bytes)
{
    static const auto f = next<ssize_t (*)(int, const void*, std::size_t)>("write");
    return f(fd, buffer, bytes);
}

int ioctl(int fd, unsigned long request, void* argument)
{
    static const auto f = next<int (*)(int, unsigned long, ...)>("ioctl");
    return f(fd, request, argument);
}

void* mmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset)
{
    static const auto f = next<void* (*)(void*, std::size_t, int, int, int, off_t)>("mmap");
    return f(address, length, protection, flags, fd, offset);
}

DIR* opendir(const char* path)
{
    static const auto f = next<DIR* (*)(const char*)>("opendir");
    return f(path);
}

} // namespace real

namespace {

constexpr const char kNodePrefix[] = "/dev/fw";

// The node number of "/dev/fwN", or -1 for any other path.
int nodeMinor(const char* path)
{
    if (!path || std::strncmp(path, kNodePrefix, sizeof kNodePrefix - 1) != 0)
        return -1;
    const char* digits = path + sizeof kNodePrefix - 1;
    if (*digits < '0' || *digits > '9')
        return -1;
    long minor = 0;
    for (const char* c = digits; *c; ++c) {
        if (*c < '0' || *c > '9' || minor > 100000)
            return -1;
        minor = minor * 10 + (*c - '0');
    }
    return static_cast<int>(minor);
}

bool isControlPath(const char* path)
{
    return path && std::strcmp(path, kControlPath) == 0;
}

// -1 when the path is not ours, else the result of opening it.
int openSimulated(const char* path, int flags, bool& ours)
{
    ours = true;
    if (isControlPath(path))
        return Devices::instance().openControl(flags);
    const int minor = nodeMinor(path);
    if (minor >= 0)
        return Devices::instance().open(minor, flags);
    ours = false;
    return -1;
}

int result(int value)
{
    if (value < 0) {
        errno = -value;
        return -1;
    }
    return value;
}

} // namespace

} // namespace orvex::sim::firewire

using namespace orvex::sim::firewire;

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    bool ours = false;
    const int fd = openSimulated(path, flags, ours);
    return ours ? fd : real::open(path, flags, mode);
}

// open64 names the same call as open here: one body serves both.
__attribute__((visibility("default"))) int open64(const char* path, int flags, ...)
    __attribute__((alias("open")));

__attribute__((visibility("default"))) int openat(int dirFd, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    bool ours = false;
    const int fd = (path[0] == '/') ? openSimulated(path, flags, ours) : -1;
    return ours ? fd : real::openat(dirFd, path, flags, mode);
}

__attribute__((visibility("default"))) int __open_2(const char* path, int flags)
{
    bool ours = false;
    const int fd = openSimulated(path, flags, ours);
    return ours ? fd : real::open(path, flags, 0);
}

__attribute__((visibility("default"))) int __open64_2(const char* path, int flags)
    __attribute__((alias("__open_2")));

__attribute__((visibility("default"))) DIR* opendir(const char* path)
{
    if ((std::strcmp(path, "/dev") == 0 || std::strcmp(path, "/dev/") == 0)) {
        const std::string directory = Devices::instance().directory();
        if (!directory.empty())
            return real::opendir(directory.c_str());
    }
    return real::opendir(path);
}

__attribute__((visibility("default"))) int close(int fd)
{
    if (Devices::active()) {
        Devices& devices = Devices::instance();
        // The file's resources go (its last reference here) before the
        // descriptor number can be reused.
        devices.release(fd);
        devices.releaseControl(fd);
    }
    return real::close(fd);
}

__attribute__((visibility("default"))) ssize_t read(int fd, void* buffer, size_t bytes)
{
    if (Devices::active()) {
        if (Devices::instance().isControl(fd))
            return 0; // the control file has nothing to read: end of file
        if (const std::shared_ptr<File> file = Devices::instance().file(fd)) {
            uint64_t count = 0;
            const ssize_t got = real::read(fd, &count, sizeof count);
            if (got < 0)
                return -1;
            return file->events().pop(buffer, bytes);
        }
    }
    return real::read(fd, buffer, bytes);
}

__attribute__((visibility("default"))) ssize_t __read_chk(int fd, void* buffer, size_t bytes, size_t)
{
    return read(fd, buffer, bytes);
}

__attribute__((visibility("default"))) ssize_t write(int fd, const void* buffer, size_t bytes)
{
    if (Devices::active()) {
        Devices& devices = Devices::instance();
        if (devices.isControl(fd)) {
            const std::string text(static_cast<const char*>(buffer), bytes);
            return devices.control(text) ? static_cast<ssize_t>(bytes) : -1;
        }
        if (devices.file(fd)) {
            errno = EINVAL; // the kernel's files have no write
            return -1;
        }
    }
    return real::write(fd, buffer, bytes);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (Devices::active()) {
        if (const std::shared_ptr<File> file = Devices::instance().file(fd))
            return result(file->ioctl(request, argument));
    }
    return real::ioctl(fd, request, argument);
}

__attribute__((visibility("default"))) void* mmap(void* address, size_t length, int protection, int flags,
                                                  int fd, off_t offset)
{
    if (fd >= 0 && Devices::active()) {
        if (const std::shared_ptr<File> file = Devices::instance().file(fd))
            return file->mmap(address, length, protection, flags);
    }
    return real::mmap(address, length, protection, flags, fd, offset);
}

__attribute__((visibility("default"))) void* mmap64(void* address, size_t length, int protection, int flags,
                                                    int fd, off_t offset)
{
    return mmap(address, length, protection, flags, fd, offset);
}

} // extern "C"
