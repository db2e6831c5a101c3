// Field mode's switch: a setting of the controller kept out of its class.
#include "sync/MultiSyncState.h"

#include "sync/MultiSyncTexts.h"

#include <orvex/FlyCapCamera.h>
#include <orvex/IEEE1394VideoServer.h>
#include <orvex/MultiSyncField.h>
#include <orvex/OrvexError.h>

namespace orvex::sync {

class FieldModeAccess {
public:
    static MultiSync::State& state(MultiSync& sync) { return *sync._pState; }
    static const MultiSync::State& state(const MultiSync& sync) { return *sync._pState; }
};

} // namespace orvex::sync

namespace orvex {

using orvex::sync::FieldModeAccess;

void setMultiSyncFieldMode(MultiSync& sync, bool enabled)
{
    auto& s = FieldModeAccess::state(sync);
    if (enabled && !s._bFieldMode) {
        // Trackers start with the next offset; until they hold as many as
        // the rule for writing needs, the least-squares fit goes on.
        s._fieldTrackers.clear();
    }
    s._bFieldMode = enabled;
}

bool isMultiSyncFieldMode(const MultiSync& sync)
{
    return FieldModeAccess::state(sync)._bFieldMode;
}

void addMultiSyncCamera(MultiSync& sync, const CamGUID& camera)
{
    using namespace orvex::sync;
    auto& s = FieldModeAccess::state(sync);
    if (camera.low() == 0 && camera.high() == 0) {
        ORVEX_THROW(kMultiSyncUnit, kErrInvalidGuidInCameras);
    }
    if (s._masterGUID.low() == 0 && s._masterGUID.high() == 0) {
        ORVEX_THROW(kMultiSyncUnit, kErrMasterNotInitialized);
    }
    const std::string text = camera.to_string();
    if (s._camsGUIDs.count(text) != 0) {
        return;
    }
    IEEE1394VideoServer& server = videoServer();
    if (server.testCameraConnected(camera) &&
        dynamic_cast<FlyCapCamera*>(&server.getCamera(camera)) == nullptr) {
        ORVEX_THROW(kMultiSyncUnit, "camera 0x" + text + kErrNotFlyCaptureSuffix);
    }
    s._camsGUIDs.insert(text);
    s._offsetsByMasterDateByCam[text].clear();
    s._fieldTrackers.erase(text);
    // The master update writes the zero correction of a camera on the
    // master's bus; running it again is harmless for the others.
    s._bMasterCamsSyncRegUpdated = false;
}

} // namespace orvex
