// A record of the requests the simulated BCAM driver receives, for tests
// that witness what a client sends: each request's control code and the
// sizes of its input and output as they reached the driver. Deliberately
// free of the protocol's constants, so that a test compares them with its
// own.
//
// Threads: any thread.
#pragma once

#include <cstdint>
#include <vector>

namespace orvex::sim::bcam {

struct ReceivedRequest {
    uint32_t serialNumber; // of the camera behind the device
    uint32_t code;
    uint32_t inBytes;
    uint32_t outBytes;
};

// Empties the record and records every request from now on.
void startRecordingRequests();
// Stops recording; the requests received since the start, in arrival order.
std::vector<ReceivedRequest> stopRecordingRequests();

} // namespace orvex::sim::bcam
