// Field mode's switch: a setting of the controller kept out of its class.
#include "sync/MultiSyncState.h"

#include <orvex/MultiSyncField.h>

namespace orvex {

void setMultiSyncFieldMode(MultiSync& sync, bool enabled)
{
    MultiSync::State& s = *sync._pState;
    if (enabled && !s._bFieldMode) {
        // Trackers start with the next offset; until they hold as many as
        // the rule for writing needs, the least-squares fit goes on.
        s._fieldTrackers.clear();
    }
    s._bFieldMode = enabled;
}

bool isMultiSyncFieldMode(const MultiSync& sync)
{
    return sync._pState->_bFieldMode;
}

} // namespace orvex
