// What a MultiSync keeps, behind the wall of its public header. Touched only
// on the controller's thread: no lock.
#pragma once

#include "base/HiddenWindow.h"
#include "sync/FieldTracker.h"
#include "sync/MultiSyncUnit.h"

#include <orvex/DriftEstimation.h>
#include <orvex/Loggers.h>
#include <orvex/MultiSync.h>
#include <orvex/Tracer.h>
#include <orvex/Types.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct MultiSync::State {
    orvex::HiddenWindow _hWnd;
    // Texts (CamGUID::to_string) of every camera under control, master
    // included, in plain string order.
    std::set<std::string> _camsGUIDs;
    CamGUID _masterGUID; // zero: not set
    // One history per camera text; those of master-bus cameras stay empty.
    std::map<std::string, offsetsByMasterDate> _offsetsByMasterDateByCam;
    std::unique_ptr<MultiSyncEvtCB> _pEvtCB;
    uint32_t _nMinNbOffsets = 50;  // history a slave needs before it is written
    uint32_t _nMaxNbOffsets = 100; // history bound
    SyncState _state = ss_stopped;
    bool _bMasterCamsSyncRegUpdated = false;
    bool _bLastSyncRegUpdateFailed = false;
    bool _bRegAccessFailed = false;         // a read or write of the current update failed
    boost::posix_time::ptime _lastTickTime; // not-a-date-time until the first tick
    uint32_t _nMaxTickGapMs = 10000;        // longest pause between ticks that keeps the histories

    // The timer whose ticks count: a tick of a timer killed after it was
    // queued is stale.
    UINT_PTR _nArmedTimer = 0;
    // Callbacks running now, and callback objects replaced meanwhile (deleted
    // once the outermost callback has returned).
    unsigned _nCallbacksRunning = 0;
    std::vector<std::unique_ptr<MultiSyncEvtCB>> _retiredEvtCBs;

    // Field mode (<orvex/MultiSyncField.h>): off unless the host asks. One
    // tracker per slave text, started with its history.
    bool _bFieldMode = false;
    std::map<std::string, orvex::sync::FieldTracker> _fieldTrackers;
};

// Calls `call(callback)` on the host's callback object, if one is set. A
// callback may replace the object (setEvtCB) or stop the controller.
template <class Call> void MultiSync::notify(Call&& call)
{
    State& s = *_pState;
    if (!s._pEvtCB) {
        return;
    }
    struct Running {
        State& s;
        explicit Running(State& state) : s(state) { ++s._nCallbacksRunning; }
        ~Running()
        {
            if (--s._nCallbacksRunning == 0) {
                s._retiredEvtCBs.clear();
            }
        }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    } running(s);
    call(*s._pEvtCB);
}

// Opens a tracer for the scope with `text` when "Orvex" traces, an empty
// message otherwise.
#define SYNC_TRACE(text)                                                                                     \
    const Tracer syncTracer(::isTracing() ? std::string(text) : std::string(), g_OrvexLogger,                \
                            ::orvex::kLevelTrace)
