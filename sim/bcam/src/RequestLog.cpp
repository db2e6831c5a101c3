// The record of received requests.
#include "RequestLog.h"

#include <orvex/sim/BcamRequests.h>

#include <mutex>

namespace orvex::sim::bcam {

namespace {

struct Log {
    std::mutex m;
    bool recording = false;
    std::vector<ReceivedRequest> requests;
};

Log& log()
{
    static Log instance;
    return instance;
}

} // namespace

void noteRequest(uint32_t serialNumber, uint32_t code, uint32_t inBytes, uint32_t outBytes)
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.m);
    if (l.recording)
        l.requests.push_back({serialNumber, code, inBytes, outBytes});
}

void startRecordingRequests()
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.m);
    l.requests.clear();
    l.recording = true;
}

std::vector<ReceivedRequest> stopRecordingRequests()
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.m);
    l.recording = false;
    return std::move(l.requests);
}

} // namespace orvex::sim::bcam
