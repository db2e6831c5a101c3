// The synchronisation controller: keeps the cycle clocks of FlyCapture
// cameras on several 1394 buses aligned to one master camera, so that the
// hardware time stamps of their images share one time base.
//
// Cameras on the master's bus share its cycle clock: they get a zero
// correction once. Every other camera (a slave) is measured against the
// master on each timer tick; once its history holds 50 offsets, it gets the
// fitted drift and offset in its sync registers at every tick.
//
// Threads. The controller has no lock and no thread of its own: everything
// runs on the thread that constructed it. That thread owns the controller's
// hidden window, so it must dispatch window messages for the timers to fire;
// the host calls every operation from it, and the callbacks run on it,
// inside a timer tick or inside start().
//
// Failures of register access during ticks are not thrown: they set
// lastSyncRegUpdateFailed() and reach the host through
// MultiSyncEvtCB::onUpdateSyncRegistersFailure. Misuse (bad arguments, wrong
// state) throws OrvexError.
#pragma once

#include <orvex/Export.h>
#include <orvex/companions/CamGUID.h>
#include <orvex/win32.h>

#include <list>
#include <memory>
#include <string>
#include <utility>

enum SyncState {
    ss_stopped = 0,
    ss_started = 1, // running, not synchronised
    ss_synchronized = 2,
};

// What the controller tells the host; every operation does nothing unless
// overridden. Called on the controller's thread. Hand an object created with
// new to MultiSync::setEvtCB: the controller deletes it.
class ORVEX_API MultiSyncEvtCB {
public:
    MultiSyncEvtCB() = default;
    MultiSyncEvtCB(const MultiSyncEvtCB&) = default;
    MultiSyncEvtCB& operator=(const MultiSyncEvtCB&) = default;
    virtual ~MultiSyncEvtCB();

    // An update of sync registers completed.
    virtual void onUpdateSyncRegistersSuccess();
    // An update failed; the message says why.
    virtual void onUpdateSyncRegistersFailure(const std::string& message);
    // Every slave is now corrected.
    virtual void onSynchronized();
    // Synchronisation was lost (ticks stopped for more than 10 s).
    virtual void onSynchronizationLost();
};

namespace orvex::sync {
// Field mode's access to the controller's state (<orvex/MultiSyncField.h>):
// a setting kept out of the class surface.
class FieldModeAccess;
} // namespace orvex::sync

class ORVEX_API MultiSync {
public:
    // Creates the hidden timer window on the calling thread. Throws
    // OrvexFatalError when the window class cannot be looked up, OrvexError
    // when the window cannot be created.
    MultiSync();
    // Stops the controller if it runs, destroys the window and deletes the
    // callback object. Never throws. The constructing thread, never from
    // inside one of the controller's callbacks.
    ~MultiSync();

    MultiSync(const MultiSync&) = delete;
    MultiSync& operator=(const MultiSync&) = delete;

    // The master and the cameras to control (the master may be among them
    // or not; duplicates collapse). Every check runs before anything changes;
    // the histories start empty. Refused while started, for a zero master,
    // an empty list or a zero identifier in it.
    void setCameras(const CamGUID& master, const std::list<CamGUID>& cameras);
    // The master, and every other camera of the set in ascending order of
    // its identifier text.
    void getCameras(CamGUID& master, std::list<CamGUID>& cameras) const;

    // Takes ownership of `cb` (null allowed: silence) and deletes the
    // previous object, unless it is the same one. Replacing the callback from
    // inside one of its own calls is safe: the old object is deleted once
    // that call has returned.
    void setEvtCB(MultiSyncEvtCB* cb);

    // Writes the zero correction to the cameras on the master's bus and arms
    // the fast timer. Refused when started, without a master or cameras, and
    // when a camera of the set belongs to another back end than FlyCapture;
    // an error leaves the controller stopped.
    void start();
    // Kills both timers and removes their ticks already queued. Refused when
    // stopped. May be called from inside a callback.
    void stop();

    bool isStarted() const;
    bool isSynchronized() const;
    bool lastSyncRegUpdateFailed() const;

    // Whether every camera of the set is on the master's bus. Throws when the
    // master or the cameras are not set, or a camera is not connected. Any
    // state; changes nothing.
    bool areAllCamerasOnTheSameBus() const;

protected:
    // The two timers of the window: fast until synchronised, then slow.
    static constexpr UINT_PTR Timer_FastUpdateSyncReg = 1;
    static constexpr UINT_PTR Timer_SlowUpdateSyncReg = 2;
    static constexpr UINT kFastUpdatePeriodMs = 100;
    static constexpr UINT kSlowUpdatePeriodMs = 1000;

    void createWnd();
    void destroyWnd() noexcept;
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    // The hidden timer window (for tests that drive ticks themselves).
    HWND getWnd() const;

    // Register input and output of one tick (see MultiSyncRegisters.cpp).
    // Failed register access is reported, not thrown; errors of the video
    // server and of the estimation propagate.
    void computeMasterAndSlaveDates(void* masterCntxt, void* slaveCamCntxt, double& masterDate,
                                    double& slaveDate);
    void updateMasterCamsSyncRegisters();
    void updateSlaveCamsSyncRegisters();
    void testLastUpdateNotTooOld();

private:
    // Everything the controller keeps, behind the wall (sync/MultiSyncState.h).
    struct State;
    friend class orvex::sync::FieldModeAccess;

    // One timer tick, in its fixed order; never lets an exception out.
    void onTimerTick(UINT_PTR timerId) noexcept;
    void tick(UINT_PTR timerId);
    void switchTimer(UINT_PTR from, UINT_PTR to, UINT periodMs);
    void containTickError(const std::string& message) noexcept;
    // Refuses a set that holds a camera of another back end.
    void checkCamerasAreFlyCapture() const;
    // One attempt-and-retry write of the sync block; false once reported.
    bool writeSyncRegisters(void* camCntxt, uint32_t quadlet0, uint32_t quadlet1);
    // Field mode: feeds one offset to the slave's tracker and its history;
    // false when the offset is held back (it may be the first of a step).
    bool trackInFieldMode(const std::string& text, double masterDate, unsigned long offset,
                          std::list<std::pair<double, unsigned long>>& history);
    // Field mode: a camera of the set other than the master that is no
    // longer connected leaves the set, reported once; false otherwise.
    bool leaveIfGoneInFieldMode(const std::string& text);
    // Sets both failure flags around the failure callback.
    void reportFailure(const std::string& message);
    template <class Call> void notify(Call&& call);

    std::unique_ptr<State> _pState;
};
