// The DEV_BROADCAST_* record of one WM_DEVICECHANGE (internal): allocated
// for each recipient when the event happens, freed once the recipient's
// procedure has returned or the message is dropped.
#pragma once

#include <cstddef>
#include <memory>

namespace orvex::win32::detail {

class BroadcastRecord {
public:
    explicit BroadcastRecord(size_t size); // zeroed
    ~BroadcastRecord();
    BroadcastRecord(const BroadcastRecord&) = delete;
    BroadcastRecord& operator=(const BroadcastRecord&) = delete;

    void* data() { return _bytes.get(); }

private:
    std::unique_ptr<unsigned char[]> _bytes;
};

} // namespace orvex::win32::detail
