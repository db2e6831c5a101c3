// The ledger of one acquisition run: every image announced, read, dropped or
// freed, and the check that each one ended exactly once.
#include "RunLedger.h"

#include "FrameIndexes.h"

namespace orvex::soak {

using bench::IndexTally;
using bench::isAhead;

void RunLedger::announced(uint32_t idx)
{
    const std::lock_guard<std::mutex> lock(_mutex);
    _announced.push_back(idx);
}

void RunLedger::dropped(uint32_t idx)
{
    const std::lock_guard<std::mutex> lock(_mutex);
    _dropped.insert(idx);
}

void RunLedger::seen(uint32_t idx)
{
    const std::lock_guard<std::mutex> lock(_mutex);
    _seen.insert(idx);
    if (!_anySeen || isAhead(idx, _lastSeen))
        _lastSeen = idx;
    _anySeen = true;
}

RunOutcome RunLedger::close() const
{
    const std::lock_guard<std::mutex> lock(_mutex);
    RunOutcome out;
    IndexTally order;
    std::unordered_set<uint32_t> announcedSet;
    for (const uint32_t idx : _announced) {
        order.take(idx);
        announcedSet.insert(idx);
        if (_seen.count(idx) != 0)
            continue;
        if (_dropped.count(idx) != 0)
            ++out.droppedUnseen;
        else if (!_anySeen || isAhead(idx, _lastSeen))
            ++out.discardedAtStop;
        else
            ++out.lostNotifications;
    }
    for (const uint32_t idx : _seen)
        out.unannounced += announcedSet.count(idx) == 0 ? 1u : 0u;
    out.announced = _announced.size();
    out.seen = _seen.size();
    out.skippedBySdk = order.skipped();
    return out;
}

} // namespace orvex::soak
