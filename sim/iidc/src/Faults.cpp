#include <orvex/sim/Faults.h>

#include <algorithm>

namespace orvex::sim {

void FaultTable::failNext(const std::string& function, unsigned count, int errorCode, uint32_t serialNumber)
{
    if (count == 0)
        return;
    std::lock_guard<std::mutex> lock(m_);
    entries_.push_back({function, serialNumber, count, errorCode});
}

std::optional<int> FaultTable::consume(const std::string& function, uint32_t serialNumber)
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        const bool functionMatches = it->function == kAnyFunction || it->function == function;
        const bool cameraMatches = it->serialNumber == kAnyCamera || it->serialNumber == serialNumber;
        if (!functionMatches || !cameraMatches)
            continue;
        const int code = it->errorCode;
        if (--it->remaining == 0)
            entries_.erase(it);
        return code;
    }
    return std::nullopt;
}

unsigned FaultTable::pending(const std::string& function) const
{
    std::lock_guard<std::mutex> lock(m_);
    unsigned total = 0;
    for (const Entry& e : entries_) {
        if (e.function == function)
            total += e.remaining;
    }
    return total;
}

void FaultTable::clear()
{
    std::lock_guard<std::mutex> lock(m_);
    entries_.clear();
}

} // namespace orvex::sim
