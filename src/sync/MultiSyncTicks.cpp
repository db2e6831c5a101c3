// MultiSync's timer ticks: the window procedure and the fixed order of one
// tick. A tick never lets an exception into the system's message dispatch.
#include "sync/MultiSyncState.h"
#include "sync/MultiSyncTexts.h"

#include <orvex/OrvexError.h>

#include <log4cplus/loggingmacros.h>

#include <exception>

using namespace orvex::sync;

LRESULT CALLBACK MultiSync::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    MultiSync* self = orvex::HiddenWindow::ownerOf<MultiSync>(hWnd);
    if (self == nullptr || message != WM_TIMER) {
        return DefWindowProcA(hWnd, message, wParam, lParam);
    }
    if (wParam == Timer_FastUpdateSyncReg || wParam == Timer_SlowUpdateSyncReg) {
        self->onTimerTick(wParam);
    }
    return DefWindowProcA(hWnd, WM_TIMER, wParam, lParam);
}

void MultiSync::onTimerTick(UINT_PTR timerId) noexcept
{
    try {
        tick(timerId);
    } catch (const std::exception& error) {
        containTickError(error.what());
    } catch (...) {
        containTickError("unknown exception");
    }
}

void MultiSync::tick(UINT_PTR timerId)
{
    State& s = *_pState;
    // KillTimer leaves a tick that was already queued: it belongs to a timer
    // this controller has stopped or replaced, and must not run as a tick of
    // the current one (a second onSynchronized, a tick after stop).
    if (timerId != s._nArmedTimer) {
        return;
    }
    const bool fast = timerId == Timer_FastUpdateSyncReg;
    SYNC_TRACE(fast ? kTraceFastTick : kTraceSlowTick);

    testLastUpdateNotTooOld();
    if (s._bMasterCamsSyncRegUpdated) {
        updateSlaveCamsSyncRegisters();
    } else {
        updateMasterCamsSyncRegisters();
    }
    if (s._state == ss_stopped) {
        return; // the host stopped the controller from a callback
    }
    if (fast && s._state == ss_synchronized) {
        // Field mode keeps measuring at the fast rate (see MultiSyncField.h).
        switchTimer(Timer_FastUpdateSyncReg, Timer_SlowUpdateSyncReg,
                    s._bFieldMode ? kFastUpdatePeriodMs : kSlowUpdatePeriodMs);
        notify([](MultiSyncEvtCB& cb) { cb.onSynchronized(); });
    } else if (!fast && s._state != ss_synchronized) {
        switchTimer(Timer_SlowUpdateSyncReg, Timer_FastUpdateSyncReg, kFastUpdatePeriodMs);
        notify([](MultiSyncEvtCB& cb) { cb.onSynchronizationLost(); });
    }
}

void MultiSync::switchTimer(UINT_PTR from, UINT_PTR to, UINT periodMs)
{
    State& s = *_pState;
    KillTimer(s._hWnd.handle(), from);
    if (SetTimer(s._hWnd.handle(), to, periodMs, nullptr) == 0) {
        s._nArmedTimer = 0;
        ORVEX_THROW(orvex::kMultiSyncUnit, orvex::systemErrorText(GetLastError()));
    }
    s._nArmedTimer = to;
}

void MultiSync::containTickError(const std::string& message) noexcept
{
    try {
        LOG4CPLUS_ERROR(g_OrvexLogger, kLogTickError << message);
        _pState->_bLastSyncRegUpdateFailed = true;
        notify([&message](MultiSyncEvtCB& cb) { cb.onUpdateSyncRegistersFailure(message); });
    } catch (...) {
        // The host's callback failed too: nothing more can be told.
    }
}
