// The synchronisation controller's texts: refusals, failure messages handed
// to the host's callback, the SDK call texts they quote, trace texts and the
// window class. Plain constants: any thread.
#pragma once

namespace orvex::sync {

constexpr const char* kWndClass = "MultiSyncWndClass";

// --- Refusals (OrvexError) -------------------------------------------------------------

constexpr const char* kErrSetCamerasStarted =
    "MultiSync::setCameras cannot be invoked if MultiSync is started";
constexpr const char* kErrInvalidMaster = "invalid master camera GUID";
constexpr const char* kErrCamerasEmpty = "cameras collection is empty";
constexpr const char* kErrInvalidGuidInCameras = "invalid GUID in cameras collection";
constexpr const char* kErrAlreadyStarted = "already started";
constexpr const char* kErrNotStarted = "not started";
constexpr const char* kErrMasterNotInitialized = "master camera not initialized";
constexpr const char* kErrCamerasNotInitialized = "cameras collection not initialized";
// "MultiSync::areAllCamerasOnTheSameBus(): camera 0x" + identifier + this.
constexpr const char* kErrSameBusCameraPrefix = "MultiSync::areAllCamerasOnTheSameBus(): camera 0x";
constexpr const char* kErrSameBusCameraSuffix = " was not detected";
// "camera 0x" + identifier + this: the controller needs FlyCapture contexts.
constexpr const char* kErrNotFlyCaptureSuffix =
    " is not a FlyCapture camera: MultiSync synchronises FlyCapture cameras only";
constexpr const char* kErrDateOutOfRange = "measured date is not a cycle-timer tick count";

// --- Failures reported to the host (onUpdateSyncRegistersFailure) ------------------------

constexpr const char* kMsgMasterNotDetected = "master camera was not detected";
// Master update: "camera with GUID 0x" + identifier + this.
constexpr const char* kMsgCameraNotDetectedPrefix = "camera with GUID 0x";
constexpr const char* kMsgCameraNotDetectedSuffix = " is not detected";
// Slave update (the same wording for every camera of the set).
constexpr const char* kMsgSlaveNotDetectedPrefix = "master camera (GUID 0x";
constexpr const char* kMsgSlaveNotDetectedSuffix = ") is not detected";
// The SDK calls, each followed by ": " and the SDK's text for the error.
constexpr const char* kCallReadMasterCycleTime =
    "flycaptureGetCameraRegister(masterCntxt, FC_REG_CSR_CYCLE_TIME, &regVal)";
constexpr const char* kCallReadSlaveCycleTime =
    "flycaptureGetCameraRegister(slaveCamCntxt, FC_REG_CSR_CYCLE_TIME, &regVal)";
constexpr const char* kCallWriteSync =
    "flycaptureWriteRegisterBlock(camCntxt, 0xFFFF, FC_REG_SYNC, pgrSyncRegValue, 2)";
// A tick that ended with an error (logged, then reported with its text).
constexpr const char* kLogTickError = "MultiSync: a timer tick ended with an error: ";

// Field mode: a slave's clock stepped ("... 0x" + identifier + suffix).
constexpr const char* kLogStepPrefix = "MultiSync: the cycle clock of camera 0x";
constexpr const char* kLogStepSuffix = " stepped; its offsets history restarts from the step";

// Field mode: a camera of the set left the bus ("camera 0x" + identifier + suffix).
constexpr const char* kMsgCameraLeftPrefix = "camera 0x";
constexpr const char* kMsgCameraLeftSuffix = " left the bus: it no longer takes part in the synchronisation";

// --- Trace texts ---------------------------------------------------------------------------

constexpr const char* kTraceConstructor = "MultiSync::MultiSync()";
constexpr const char* kTraceDestructor = "MultiSync::~MultiSync()";
constexpr const char* kTraceSetCameras = "MultiSync::setCameras(...)";
constexpr const char* kTraceGetCameras = "MultiSync::getCameras(...)";
constexpr const char* kTraceSetEvtCB = "setEvtCB(...)";
constexpr const char* kTraceStart = "MultiSync::start()";
constexpr const char* kTraceStop = "MultiSync::stop()";
constexpr const char* kTraceSameBus = "MultiSync::areAllCamerasOnTheSameBus()";
constexpr const char* kTraceCreateWnd = "MultiSync::createWnd()";
constexpr const char* kTraceDestroyWnd = "MultiSync::destroyWnd()";
constexpr const char* kTraceFastTick = "MultiSync::WindowProc(WM_TIMER, Timer_FastUpdateSyncReg)";
constexpr const char* kTraceSlowTick = "MultiSync::WindowProc(WM_TIMER, Timer_SlowUpdateSyncReg)";
constexpr const char* kTraceComputeDates = "MultiSync::computeMasterAndSlaveDates(...)";
constexpr const char* kTraceUpdateMaster = "MultiSync::updateMasterCamsSyncRegisters()";
constexpr const char* kTraceUpdateSlaves = "MultiSync::updateSlaveCamsSyncRegisters()";
constexpr const char* kTraceTestLastUpdate = "MultiSync::testLastUpdateNotTooOld()";

} // namespace orvex::sync
