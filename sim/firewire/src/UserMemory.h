// Copies between the program's memory and ours the way the kernel does at an
// ioctl: an address the program does not own fails with EFAULT instead of
// crashing the process (process_vm_readv/writev on ourselves).
//
// Any thread, no locking.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex::sim::firewire {

// False (errno EFAULT) when any byte of the user range cannot be read.
bool copyFromUser(void* to, uint64_t userAddress, std::size_t bytes);
// False (errno EFAULT) when any byte of the user range cannot be written.
bool copyToUser(uint64_t userAddress, const void* from, std::size_t bytes);

} // namespace orvex::sim::firewire
