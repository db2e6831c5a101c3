// The C library's own entry points behind the ones this library replaces,
// for our own use and for every descriptor that is not a simulated device.
// Resolved once (dlsym RTLD_NEXT); any thread.
#pragma once

#include <cstddef>
#include <dirent.h>
#include <sys/types.h>

namespace orvex::sim::firewire::real {

int open(const char* path, int flags, mode_t mode);
int openat(int dirFd, const char* path, int flags, mode_t mode);
int close(int fd);
ssize_t read(int fd, void* buffer, std::size_t bytes);
ssize_t write(int fd, const void* buffer, std::size_t bytes);
int ioctl(int fd, unsigned long request, void* argument);
void* mmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset);
DIR* opendir(const char* path);

} // namespace orvex::sim::firewire::real
