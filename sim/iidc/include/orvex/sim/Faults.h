// Injected faults: "the next N calls of function F fail with code E", on one
// camera or on all, optionally only at one register address, after letting
// the first K matching calls through, or with the call stalled first. The
// simulated SDK and driver ask the table at the start of every call.
// Thread-safe: one mutex, never held while calling out or stalling.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::sim {

class FaultTable {
public:
    // Matches calls on every camera, and calls that concern no camera.
    static constexpr uint32_t kAnyCamera = 0;
    // Matches every function name.
    static constexpr const char* kAnyFunction = "*";

    struct Fault {
        std::string function = kAnyFunction;
        uint32_t serialNumber = kAnyCamera;
        // Only calls at this absolute register address (the camera's
        // register space, e.g. 0xF0000200 for CYCLE_TIME; a block call's
        // first quadlet); calls that pass no address never match.
        std::optional<uint32_t> address;
        // Matching calls let through untouched before the fault acts.
        unsigned skip = 0;
        // Matching calls the fault then acts on.
        unsigned count = 1;
        // What consume() answers for those calls (any value, 0 included:
        // the driver's image faults use 0); none: they go on after the delay.
        std::optional<int> errorCode;
        // How long each of those calls stalls before it acts or fails.
        int64_t delayNs = 0;
    };

    // Adds a fault. Faults act in the order they were added: a call is
    // counted by every matching fault that is still skipping and acted on by
    // the first matching one that is not.
    void add(const Fault& fault);

    // The next `count` calls of `function` (on the camera with serial number
    // `serialNumber`, or any with kAnyCamera) fail with `errorCode`.
    void failNext(const std::string& function, unsigned count, int errorCode,
                  uint32_t serialNumber = kAnyCamera);

    // Asked by a call: stalls it if a fault says so, then returns the error
    // code it must fail with, if any (see Fault::errorCode). `serialNumber` is the camera the call
    // concerns, or 0; `address` the register it reaches, if any.
    std::optional<int> consume(std::string_view function, uint32_t serialNumber,
                               std::optional<uint32_t> address = std::nullopt);

    // Calls still to be acted on for `function` (all cameras).
    unsigned pending(const std::string& function) const;
    void clear();

    // Whether any fault is waiting, without the table's lock: every call
    // asks, and almost always none is.
    bool armed() const { return _armed.load(); }

private:
    mutable std::mutex _m;
    std::vector<Fault> _entries;
    std::atomic<bool> _armed{false}; // !_entries.empty(), written under _m
};

} // namespace orvex::sim
