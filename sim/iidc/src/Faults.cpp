// Injected faults of the simulated cameras: which calls fail, on which
// camera and register, and how many times.
#include <orvex/sim/CycleClock.h>
#include <orvex/sim/Faults.h>

namespace orvex::sim {

namespace {

bool matches(const FaultTable::Fault& fault, std::string_view function, uint32_t serialNumber,
             std::optional<uint32_t> address)
{
    const bool functionMatches = fault.function == FaultTable::kAnyFunction || fault.function == function;
    const bool cameraMatches =
        fault.serialNumber == FaultTable::kAnyCamera || fault.serialNumber == serialNumber;
    const bool addressMatches = !fault.address || (address && *fault.address == *address);
    return functionMatches && cameraMatches && addressMatches;
}

} // namespace

void FaultTable::add(const Fault& fault)
{
    if (fault.count == 0)
        return;
    std::lock_guard<std::mutex> lock(_m);
    _entries.push_back(fault);
    _armed = true;
}

void FaultTable::failNext(const std::string& function, unsigned count, int errorCode, uint32_t serialNumber)
{
    Fault fault;
    fault.function = function;
    fault.serialNumber = serialNumber;
    fault.count = count;
    fault.errorCode = errorCode;
    add(fault);
}

std::optional<int> FaultTable::consume(std::string_view function, uint32_t serialNumber,
                                       std::optional<uint32_t> address)
{
    if (!armed())
        return std::nullopt;
    std::optional<int> errorCode;
    int64_t delayNs = 0;
    {
        std::lock_guard<std::mutex> lock(_m);
        for (auto it = _entries.begin(); it != _entries.end(); ++it) {
            if (!matches(*it, function, serialNumber, address))
                continue;
            if (it->skip > 0) {
                --it->skip;
                continue;
            }
            errorCode = it->errorCode;
            delayNs = it->delayNs;
            if (--it->count == 0)
                _entries.erase(it);
            _armed = !_entries.empty();
            break;
        }
    }
    // Stalled outside the lock: other calls go on meanwhile.
    waitNs(delayNs);
    return errorCode;
}

unsigned FaultTable::pending(const std::string& function) const
{
    std::lock_guard<std::mutex> lock(_m);
    unsigned total = 0;
    for (const Fault& f : _entries) {
        if (f.function == function)
            total += f.count;
    }
    return total;
}

void FaultTable::clear()
{
    std::lock_guard<std::mutex> lock(_m);
    _entries.clear();
    _armed = false;
}

} // namespace orvex::sim
