// MultiSync's register input and output: sampling the cycle-time registers
// of the master and a slave, writing the sync block of every controlled
// camera, and the staleness rule between ticks. Failed register access is
// reported to the host, never thrown.
#include "sync/CycleTime.h"
#include "sync/LocalClock.h"
#include "sync/MultiSyncState.h"
#include "sync/MultiSyncTexts.h"

#include <orvex/FlyCapCamera.h>
#include <orvex/IEEE1394VideoServer.h>
#include <orvex/OrvexError.h>
#include <orvex/iidc/SyncRegisters.h>

#include <log4cplus/loggingmacros.h>

#include <array>
#include <cmath>

using namespace orvex::sync;
using orvex::kMultiSyncUnit;
using orvex::sync::FieldTracker;
namespace iidc = orvex::iidc;

namespace {

// One measurement: m0, s0, m1, ..., s19, m20.
constexpr std::size_t kNbSlaveSamples = 20;
constexpr std::size_t kNbMasterSamples = kNbSlaveSamples + 1;
// The outlying pairs left out of the mean (8 at each end of 39).
constexpr unsigned kNbSamplesToReject = 16;
constexpr unsigned kSyncWriteAttempts = 2;

CamGUID guidOf(const std::string& text)
{
    CamGUID guid;
    guid.from_string(text);
    return guid;
}

// The controlled camera behind an identifier; the controller can only use
// FlyCapture contexts.
FlyCapCamera& flyCapCameraOf(IEEE1394VideoServer& server, const CamGUID& guid)
{
    auto* camera = dynamic_cast<FlyCapCamera*>(&server.getCamera(guid));
    if (camera == nullptr) {
        ORVEX_THROW(kMultiSyncUnit, "camera 0x" + guid.to_string() + kErrNotFlyCaptureSuffix);
    }
    return *camera;
}

// A date rounded to the nearest tick, as the 32-bit count the estimation
// takes. Dates from valid cycle times are below the wrap period; anything
// else cannot be converted.
uint32_t roundedTicks(double date)
{
    const double rounded = std::trunc(date + 0.5);
    if (!(rounded >= 0.0 && rounded <= 4294967295.0)) {
        ORVEX_THROW(kMultiSyncUnit, kErrDateOutOfRange);
    }
    return static_cast<uint32_t>(rounded);
}

} // namespace

// --- failure reporting -----------------------------------------------------------------------

void MultiSync::reportFailure(const std::string& message)
{
    State& s = *_pState;
    s._bLastSyncRegUpdateFailed = true;
    notify([&message](MultiSyncEvtCB& cb) { cb.onUpdateSyncRegistersFailure(message); });
    s._bRegAccessFailed = true;
}

// --- measurement --------------------------------------------------------------------------------

void MultiSync::computeMasterAndSlaveDates(void* masterCntxt, void* slaveCamCntxt, double& masterDate,
                                           double& slaveDate)
{
    SYNC_TRACE(kTraceComputeDates);
    State& s = *_pState;
    std::array<uint32_t, kNbMasterSamples> masterRegs{};
    std::array<uint32_t, kNbSlaveSamples> slaveRegs{};
    std::vector<double> masterSamples(kNbMasterSamples, 0.0);
    std::vector<double> slaveSamples(kNbSlaveSamples, 0.0);

    // Back to back: nothing but the storing of each value between two reads,
    // so that each slave reading lies between its two master neighbours.
    int error = 0;
    const char* failedCall = nullptr;
    for (std::size_t i = 0; i < kNbSlaveSamples && failedCall == nullptr; ++i) {
        s._bRegAccessFailed = false;
        error = FlyCapCamera::getCameraRegister(masterCntxt, iidc::FC_REG_CSR_CYCLE_TIME, masterRegs[i]);
        if (error != 0) {
            failedCall = kCallReadMasterCycleTime;
            break;
        }
        s._bRegAccessFailed = false;
        error = FlyCapCamera::getCameraRegister(slaveCamCntxt, iidc::FC_REG_CSR_CYCLE_TIME, slaveRegs[i]);
        if (error != 0) {
            failedCall = kCallReadSlaveCycleTime;
        }
    }
    if (failedCall == nullptr) {
        s._bRegAccessFailed = false;
        error = FlyCapCamera::getCameraRegister(masterCntxt, iidc::FC_REG_CSR_CYCLE_TIME,
                                                masterRegs[kNbSlaveSamples]);
        if (error != 0) {
            failedCall = kCallReadMasterCycleTime;
        }
    }
    if (failedCall != nullptr) {
        const std::string message = std::string(failedCall) + ": " + FlyCapCamera::sdkErrorText(error);
        LOG4CPLUS_ERROR(g_OrvexLogger, message);
        reportFailure(message);
        return;
    }

    for (std::size_t i = 0; i < kNbMasterSamples; ++i) {
        masterSamples[i] = cycleTimeToTicks(masterRegs[i]);
    }
    for (std::size_t i = 0; i < kNbSlaveSamples; ++i) {
        slaveSamples[i] = cycleTimeToTicks(slaveRegs[i]);
    }
    ::computeMasterAndSlaveDates(masterSamples, slaveSamples, kNbSamplesToReject, masterDate, slaveDate);
}

// --- writing the sync block -----------------------------------------------------------------

bool MultiSync::writeSyncRegisters(void* camCntxt, uint32_t quadlet0, uint32_t quadlet1)
{
    const uint32_t pgrSyncRegValue[iidc::kSyncBlockQuadlets] = {quadlet0, quadlet1};
    for (unsigned attempt = 1;; ++attempt) {
        const int error = FlyCapCamera::writeRegisterBlock(camCntxt, iidc::kAddressHigh, iidc::FC_REG_SYNC,
                                                           pgrSyncRegValue, iidc::kSyncBlockQuadlets);
        if (error == 0) {
            return true;
        }
        const std::string message = std::string(kCallWriteSync) + ": " + FlyCapCamera::sdkErrorText(error);
        if (attempt >= kSyncWriteAttempts) {
            reportFailure(message);
            return false;
        }
        LOG4CPLUS_ERROR(g_OrvexLogger, message);
    }
}

// --- the two updates ----------------------------------------------------------------------------

void MultiSync::updateMasterCamsSyncRegisters()
{
    SYNC_TRACE(kTraceUpdateMaster);
    State& s = *_pState;
    s._bMasterCamsSyncRegUpdated = false;
    IEEE1394VideoServer& server = videoServer();
    if (!server.testCameraConnected(s._masterGUID)) {
        notify([](MultiSyncEvtCB& cb) { cb.onUpdateSyncRegistersFailure(kMsgMasterNotDetected); });
        return;
    }
    const std::string masterBus = flyCapCameraOf(server, s._masterGUID).getOwningBusId();
    for (auto it = s._camsGUIDs.begin(); it != s._camsGUIDs.end();) {
        const std::string text = *it++;
        const CamGUID guid = guidOf(text);
        if (!server.testCameraConnected(guid) && leaveIfGoneInFieldMode(text)) {
            continue;
        }
        if (!server.testCameraConnected(guid)) {
            const std::string message = kMsgCameraNotDetectedPrefix + text + kMsgCameraNotDetectedSuffix;
            notify([&message](MultiSyncEvtCB& cb) { cb.onUpdateSyncRegistersFailure(message); });
            return;
        }
        FlyCapCamera& camera = flyCapCameraOf(server, guid);
        if (camera.getOwningBusId() != masterBus) {
            continue; // a slave: measured at the ticks
        }
        s._bRegAccessFailed = false;
        if (!writeSyncRegisters(camera.getFlyCaptureContext(), 0, 0)) {
            return;
        }
    }
    s._bMasterCamsSyncRegUpdated = true;
    s._bLastSyncRegUpdateFailed = false;
    notify([](MultiSyncEvtCB& cb) { cb.onUpdateSyncRegistersSuccess(); });
}

void MultiSync::updateSlaveCamsSyncRegisters()
{
    SYNC_TRACE(kTraceUpdateSlaves);
    State& s = *_pState;
    IEEE1394VideoServer& server = videoServer();
    if (!server.testCameraConnected(s._masterGUID)) {
        notify([](MultiSyncEvtCB& cb) { cb.onUpdateSyncRegistersFailure(kMsgMasterNotDetected); });
        return;
    }
    FlyCapCamera& master = flyCapCameraOf(server, s._masterGUID);
    void* const masterCntxt = master.getFlyCaptureContext();
    const std::string masterBus = master.getOwningBusId();

    bool allReady = true;
    for (auto it = s._camsGUIDs.begin(); it != s._camsGUIDs.end();) {
        const std::string text = *it++;
        const CamGUID guid = guidOf(text);
        if (!server.testCameraConnected(guid) && leaveIfGoneInFieldMode(text)) {
            continue;
        }
        if (!server.testCameraConnected(guid)) {
            const std::string message = kMsgSlaveNotDetectedPrefix + text + kMsgSlaveNotDetectedSuffix;
            notify([&message](MultiSyncEvtCB& cb) { cb.onUpdateSyncRegistersFailure(message); });
            return;
        }
        FlyCapCamera& camera = flyCapCameraOf(server, guid);
        if (camera.getOwningBusId() == masterBus) {
            continue; // shares the master's clock: written once by the master update
        }
        double masterDate = 0.0;
        double slaveDate = 0.0;
        computeMasterAndSlaveDates(masterCntxt, camera.getFlyCaptureContext(), masterDate, slaveDate);
        if (s._bRegAccessFailed) {
            return; // reported
        }
        const uint32_t m = roundedTicks(masterDate);
        const uint32_t slaveTicks = roundedTicks(slaveDate);
        const unsigned long offset = computeOffset(m, slaveTicks);
        offsetsByMasterDate& history = s._offsetsByMasterDateByCam[text];
        bool bHeld = false;
        if (s._bFieldMode) {
            bHeld = !trackInFieldMode(text, masterDate, offset, history);
        } else {
            pushOffsetInOffsetsByMasterDateColl(masterDate, offset, history, s._nMaxNbOffsets);
        }
        if (history.size() < s._nMinNbOffsets) {
            allReady = false;
            continue;
        }
        if (bHeld) {
            continue; // the camera keeps the correction it has until the next offset tells
        }
        // The reference instant: the slave clock's last whole second.
        const uint32_t second = slaveTicks / nb_ticks_in_1_second;
        const double ticksIntoSlaveSecond = static_cast<double>(slaveTicks - second * nb_ticks_in_1_second);
        const FieldTracker* tracker = s._bFieldMode ? &s._fieldTrackers[text] : nullptr;
        const std::pair<unsigned long, unsigned long> fit =
            tracker != nullptr && tracker->count() >= s._nMinNbOffsets
                ? tracker->driftAndOffset(ticksIntoSlaveSecond)
                : computeDriftAndOffset(history, ticksIntoSlaveSecond);
        const uint32_t quadlet0 = ticksToCycleTime(static_cast<uint32_t>(fit.second));
        const uint32_t quadlet1 = iidc::makeSyncQuadlet1(static_cast<uint32_t>(fit.first), second);
        s._bRegAccessFailed = false;
        if (!writeSyncRegisters(camera.getFlyCaptureContext(), quadlet0, quadlet1)) {
            return;
        }
    }
    s._state = allReady ? ss_synchronized : ss_started;
    s._bLastSyncRegUpdateFailed = false;
    notify([](MultiSyncEvtCB& cb) { cb.onUpdateSyncRegistersSuccess(); });
}

// --- field mode -------------------------------------------------------------------------------

bool MultiSync::trackInFieldMode(const std::string& text, double masterDate, unsigned long offset,
                                 offsetsByMasterDate& history)
{
    State& s = *_pState;
    FieldTracker& tracker = s._fieldTrackers[text];
    if (history.empty()) {
        tracker.reset(); // a new set, or a pause that emptied the histories
    }
    switch (tracker.add(masterDate, static_cast<uint32_t>(offset))) {
    case FieldTracker::Verdict::held:
        return false;
    case FieldTracker::Verdict::step:
        // The slave's clock jumped (a bus reset that moved its cycle master):
        // every offset before the jump would drag the fit for as long as it
        // stays in the history, so the history starts again here. The slave
        // is not ready until it holds 50 offsets again, which the next slow
        // tick reports as synchronisation lost.
        LOG4CPLUS_WARN(g_OrvexLogger, kLogStepPrefix << text << kLogStepSuffix);
        history.clear();
        break;
    case FieldTracker::Verdict::accepted:
        break;
    }
    pushOffsetInOffsetsByMasterDateColl(masterDate, offset, history, s._nMaxNbOffsets);
    return true;
}

bool MultiSync::leaveIfGoneInFieldMode(const std::string& text)
{
    State& s = *_pState;
    if (!s._bFieldMode || text == s._masterGUID.to_string()) {
        return false;
    }
    // A camera unplugged while the controller runs: the server has heard it
    // through its bus callback and forgotten the camera. Waiting for it
    // would stop every other slave's corrections, so it leaves the set; the
    // host may add it again once it is back.
    s._camsGUIDs.erase(text);
    s._offsetsByMasterDateByCam.erase(text);
    s._fieldTrackers.erase(text);
    const std::string message = kMsgCameraLeftPrefix + text + kMsgCameraLeftSuffix;
    LOG4CPLUS_WARN(g_OrvexLogger, message);
    notify([&message](MultiSyncEvtCB& cb) { cb.onUpdateSyncRegistersFailure(message); });
    return true;
}

// --- staleness ------------------------------------------------------------------------------------

void MultiSync::testLastUpdateNotTooOld()
{
    SYNC_TRACE(kTraceTestLastUpdate);
    State& s = *_pState;
    const boost::posix_time::ptime now = localTimeNow();
    // No tick since construction counts as longer than any limit.
    bool tooOld = s._lastTickTime.is_not_a_date_time();
    if (!tooOld) {
        const int64_t gapMs = (now - s._lastTickTime).total_microseconds() / 1000;
        tooOld = gapMs > static_cast<int64_t>(s._nMaxTickGapMs);
    }
    if (tooOld) {
        for (auto& entry : s._offsetsByMasterDateByCam) {
            entry.second.clear();
        }
    }
    s._lastTickTime = now;
}
