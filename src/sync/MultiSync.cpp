// MultiSync: construction and destruction, the camera set, the callback
// object, start and stop, and the bus query. Timer ticks are in
// MultiSyncTicks.cpp, the register updates in MultiSyncRegisters.cpp.
#include "sync/MultiSyncState.h"
#include "sync/MultiSyncTexts.h"

#include <orvex/FlyCapCamera.h>
#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>
#include <orvex/OrvexError.h>

#include <log4cplus/loggingmacros.h>

#include <exception>

using namespace orvex::sync;
using orvex::kMultiSyncUnit;

namespace {

bool isZero(const CamGUID& guid)
{
    return guid.low() == 0 && guid.high() == 0;
}

CamGUID guidOf(const std::string& text)
{
    CamGUID guid;
    guid.from_string(text);
    return guid;
}

} // namespace

// --- the host's callback object ---------------------------------------------------

MultiSyncEvtCB::~MultiSyncEvtCB() = default;
void MultiSyncEvtCB::onUpdateSyncRegistersSuccess() {}
void MultiSyncEvtCB::onUpdateSyncRegistersFailure(const std::string& /*message*/) {}
void MultiSyncEvtCB::onSynchronized() {}
void MultiSyncEvtCB::onSynchronizationLost() {}

// --- construction and destruction ------------------------------------------------------

MultiSync::MultiSync() : _pState(std::make_unique<State>())
{
    SYNC_TRACE(kTraceConstructor);
    createWnd();
}

MultiSync::~MultiSync()
{
    try {
        SYNC_TRACE(kTraceDestructor);
        if (_pState->_state != ss_stopped) {
            stop();
        }
    } catch (const std::exception& error) {
        LOG4CPLUS_ERROR(g_OrvexLogger, "MultiSync::~MultiSync: " << error.what());
    }
    destroyWnd();
    // The state's owner deletes the callback object.
}

void MultiSync::createWnd()
{
    SYNC_TRACE(kTraceCreateWnd);
    _pState->_hWnd = orvex::HiddenWindow(kWndClass, &MultiSync::WindowProc, this, kMultiSyncUnit);
}

void MultiSync::destroyWnd() noexcept
{
    try {
        SYNC_TRACE(kTraceDestroyWnd);
        _pState->_hWnd.destroy();
    } catch (...) {
        _pState->_hWnd.destroy(); // only the trace can have failed
    }
}

HWND MultiSync::getWnd() const
{
    return _pState->_hWnd.handle();
}

// --- the camera set ------------------------------------------------------------------------

void MultiSync::setCameras(const CamGUID& master, const std::list<CamGUID>& cameras)
{
    SYNC_TRACE(kTraceSetCameras);
    State& s = *_pState;
    if (s._state != ss_stopped) {
        ORVEX_THROW(kMultiSyncUnit, kErrSetCamerasStarted);
    }
    if (isZero(master)) {
        ORVEX_THROW(kMultiSyncUnit, kErrInvalidMaster);
    }
    if (cameras.empty()) {
        ORVEX_THROW(kMultiSyncUnit, kErrCamerasEmpty);
    }
    for (const CamGUID& camera : cameras) {
        if (isZero(camera)) {
            ORVEX_THROW(kMultiSyncUnit, kErrInvalidGuidInCameras);
        }
    }
    // Built aside, then swapped in: an allocation failure changes nothing.
    std::set<std::string> texts;
    for (const CamGUID& camera : cameras) {
        texts.insert(camera.to_string());
    }
    texts.insert(master.to_string());
    std::map<std::string, offsetsByMasterDate> histories;
    for (const std::string& text : texts) {
        histories.emplace(text, offsetsByMasterDate());
    }
    s._masterGUID = master;
    s._camsGUIDs.swap(texts);
    s._offsetsByMasterDateByCam.swap(histories);
}

void MultiSync::getCameras(CamGUID& master, std::list<CamGUID>& cameras) const
{
    SYNC_TRACE(kTraceGetCameras);
    const State& s = *_pState;
    const std::string masterText = s._masterGUID.to_string();
    std::list<CamGUID> others;
    for (const std::string& text : s._camsGUIDs) {
        if (text != masterText) {
            others.push_back(guidOf(text));
        }
    }
    master = s._masterGUID;
    cameras.swap(others);
}

void MultiSync::setEvtCB(MultiSyncEvtCB* cb)
{
    SYNC_TRACE(kTraceSetEvtCB);
    State& s = *_pState;
    if (cb == s._pEvtCB.get()) {
        return; // the same object handed again stays
    }
    std::unique_ptr<MultiSyncEvtCB> previous(s._pEvtCB.release());
    s._pEvtCB.reset(cb);
    if (previous && s._nCallbacksRunning > 0) {
        // It may be the object whose operation is running now.
        s._retiredEvtCBs.push_back(std::move(previous));
    }
}

// --- start and stop --------------------------------------------------------------------------

void MultiSync::checkCamerasAreFlyCapture() const
{
    IEEE1394VideoServer& server = videoServer();
    for (const std::string& text : _pState->_camsGUIDs) {
        const CamGUID guid = guidOf(text);
        if (server.testCameraConnected(guid) &&
            dynamic_cast<FlyCapCamera*>(&server.getCamera(guid)) == nullptr) {
            ORVEX_THROW(kMultiSyncUnit, "camera 0x" + text + kErrNotFlyCaptureSuffix);
        }
    }
}

void MultiSync::start()
{
    SYNC_TRACE(kTraceStart);
    State& s = *_pState;
    if (s._state != ss_stopped) {
        ORVEX_THROW(kMultiSyncUnit, kErrAlreadyStarted);
    }
    if (isZero(s._masterGUID)) {
        ORVEX_THROW(kMultiSyncUnit, kErrMasterNotInitialized);
    }
    if (s._camsGUIDs.empty()) {
        ORVEX_THROW(kMultiSyncUnit, kErrCamerasNotInitialized);
    }
    checkCamerasAreFlyCapture();
    updateMasterCamsSyncRegisters();
    if (SetTimer(s._hWnd.handle(), Timer_FastUpdateSyncReg, kFastUpdatePeriodMs, nullptr) == 0) {
        ORVEX_THROW(kMultiSyncUnit, orvex::systemErrorText(GetLastError()));
    }
    s._nArmedTimer = Timer_FastUpdateSyncReg;
    s._state = ss_started;
}

void MultiSync::stop()
{
    SYNC_TRACE(kTraceStop);
    State& s = *_pState;
    if (s._state == ss_stopped) {
        ORVEX_THROW(kMultiSyncUnit, kErrNotStarted);
    }
    const HWND wnd = s._hWnd.handle();
    KillTimer(wnd, Timer_FastUpdateSyncReg);
    KillTimer(wnd, Timer_SlowUpdateSyncReg);
    // KillTimer leaves a tick already queued where it is.
    MSG pending;
    while (PeekMessageA(&pending, wnd, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    }
    s._nArmedTimer = 0;
    s._state = ss_stopped;
}

bool MultiSync::isStarted() const
{
    return _pState->_state != ss_stopped;
}

bool MultiSync::isSynchronized() const
{
    return _pState->_state == ss_synchronized;
}

bool MultiSync::lastSyncRegUpdateFailed() const
{
    return _pState->_bLastSyncRegUpdateFailed;
}

// --- the bus query -------------------------------------------------------------------------------

bool MultiSync::areAllCamerasOnTheSameBus() const
{
    SYNC_TRACE(kTraceSameBus);
    const State& s = *_pState;
    if (isZero(s._masterGUID)) {
        ORVEX_THROW(kMultiSyncUnit, kErrMasterNotInitialized);
    }
    if (s._camsGUIDs.empty()) {
        ORVEX_THROW(kMultiSyncUnit, kErrCamerasNotInitialized);
    }
    IEEE1394VideoServer& server = videoServer();
    const std::string masterBus = server.getCamera(s._masterGUID).getOwningBusId();
    for (const std::string& text : s._camsGUIDs) {
        const CamGUID guid = guidOf(text);
        if (!server.testCameraConnected(guid)) {
            ORVEX_THROW(kMultiSyncUnit, kErrSameBusCameraPrefix + guid.to_string() + kErrSameBusCameraSuffix);
        }
        if (server.getCamera(guid).getOwningBusId() != masterBus) {
            return false;
        }
    }
    return true;
}
