// Injected failures: "the next N calls of function F fail with code E", on
// one camera or on all. The simulated SDK and driver ask the table at the
// start of every call. Thread-safe: one mutex, never held while calling out.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvex::sim {

class FaultTable {
public:
    // Matches calls on every camera, and calls that concern no camera.
    static constexpr uint32_t kAnyCamera = 0;
    // Matches every function name.
    static constexpr const char* kAnyFunction = "*";

    // The next `count` calls of `function` (on the camera with serial number
    // `serialNumber`, or any with kAnyCamera) fail with `errorCode`. Entries
    // are consumed in the order they were added.
    void failNext(const std::string& function, unsigned count, int errorCode,
                  uint32_t serialNumber = kAnyCamera);

    // Asked by a call: the error code it must fail with, if any; consumes one
    // failure. `serialNumber` is the camera the call concerns, or 0.
    std::optional<int> consume(const std::string& function, uint32_t serialNumber);

    // Failures still waiting for `function` (all cameras).
    unsigned pending(const std::string& function) const;
    void clear();

private:
    struct Entry {
        std::string function;
        uint32_t serialNumber;
        unsigned remaining;
        int errorCode;
    };
    mutable std::mutex m_;
    std::vector<Entry> entries_;
};

} // namespace orvex::sim
