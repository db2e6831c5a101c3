// Field mode of the synchronisation controller, for buses whose cycle clocks
// do not keep still: a bus reset that hands the cycle master role to another
// node makes a slave's clock jump, and oscillators wander with temperature.
//
// Off by default: the controller then behaves exactly as documented in
// <orvex/MultiSync.h>. Switched on, it changes three things and nothing else
// (events, messages, register layout and the 50-offset rule stay):
//
// - a step in a slave's offsets (two offsets in a row far outside what the
//   estimate predicts, agreeing with each other) restarts that slave's
//   history from the step: the controller reports onSynchronizationLost at
//   the next slow tick, then onSynchronized once 50 offsets have been
//   measured again;
// - drift and offset come from a tracking estimate that weighs recent
//   offsets more than old ones, instead of a fit that weighs the last 100
//   equally (how much more is chosen per slave from the offsets themselves);
// - a camera of the set other than the master that leaves the bus while the
//   controller runs (the video server has heard it through its bus callback)
//   leaves the set, with one onUpdateSyncRegistersFailure naming it: "camera
//   0x" + identifier + " left the bus: it no longer takes part in the
//   synchronisation"; the other slaves go on being corrected. Once it is
//   back, addMultiSyncCamera takes it in again;
// - the controller keeps measuring every 100 ms once synchronised: averaging
//   is the only defence against read jitter, and a wandering clock leaves
//   only the last few seconds worth averaging.
//
// Threads: the controller's thread, like every operation of MultiSync. Any
// state; switching keeps the histories.
#pragma once

#include <orvex/Export.h>
#include <orvex/MultiSync.h>

namespace orvex {

// Switches field mode on (true) or off (false, the default).
ORVEX_API void setMultiSyncFieldMode(MultiSync& sync, bool enabled);
ORVEX_API bool isMultiSyncFieldMode(const MultiSync& sync);

// Adds one camera to the set, stopped or running, in either mode; the others
// keep their histories. The new camera's history starts empty: a slave is
// corrected once it holds 50 offsets, and until then the controller is not
// synchronised (a slow tick reports the loss, and onSynchronized follows).
// A camera on the master's bus gets its zero correction at the next tick.
// Nothing changes for a camera already in the set. Throws OrvexError for a
// zero identifier, before a master is set, and for a connected camera of
// another back end than FlyCapture.
ORVEX_API void addMultiSyncCamera(MultiSync& sync, const CamGUID& camera);

} // namespace orvex
