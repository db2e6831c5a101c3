// Copies to and from the calling program's memory, refused with EFAULT as
// the kernel refuses a bad pointer.
#include "UserMemory.h"

#include <cerrno>
#include <sys/uio.h>
#include <unistd.h>

namespace orvex::sim::firewire {

namespace {

void* toPointer(uint64_t address)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(address));
}

} // namespace

bool copyFromUser(void* to, uint64_t userAddress, std::size_t bytes)
{
    if (bytes == 0)
        return true;
    iovec local{to, bytes};
    iovec remote{toPointer(userAddress), bytes};
    if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(bytes)) {
        errno = EFAULT;
        return false;
    }
    return true;
}

bool copyToUser(uint64_t userAddress, const void* from, std::size_t bytes)
{
    if (bytes == 0)
        return true;
    iovec local{const_cast<void*>(from), bytes};
    iovec remote{toPointer(userAddress), bytes};
    if (process_vm_writev(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(bytes)) {
        errno = EFAULT;
        return false;
    }
    return true;
}

} // namespace orvex::sim::firewire
