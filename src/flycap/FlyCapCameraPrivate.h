// What a FlyCapCamera keeps: the caches init() fills, the SDK context and
// the acquisition thread's handles and maps. Every lock, context and handle
// is held by an owner that releases it with the state.
//
// Threads: the host thread reads and writes everything here without a lock;
// the acquisition thread shares only the two raw-to-real maps (each under
// its critical section) and `_bAcquiring` (interlocked exchange only).
#pragma once

#include <orvex/FlyCapCamera.h>

#include "PGRFlyCapture.h"
#include "base/CriticalSection.h"
#include "flycap/SdkContext.h"

#include <orvex/win32.h>
#include <orvex/win32_owned.h>

#include <boost/shared_array.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct FlyCapCamera::State {
    State(unsigned short portIdx, uint32_t serialNumber, const std::string& modelName,
          const std::string& vendorName, int busId)
        : _nPortIdx(portIdx), _nSerialNumber(serialNumber), _nBusId(busId), _modelName(modelName),
          _vendorName(vendorName)
    {
    }

    // The packet limits the SDK reports for the current geometry: the
    // smallest packet (also the packet step) and the largest.
    struct PacketInfo {
        uint32_t minBytes = 0;
        uint32_t maxBytes = 0;
    };

    // Declared first, so that it is closed last.
    orvex::flycap::SdkContext _fcContext;
    unsigned short _nPortIdx;
    uint32_t _nSerialNumber;
    int _nBusId;
    uint32_t _nImgCounter = 0;
    bool _bInitialized = false;
    FlyCapturePixelFormat _fcPixFormat = FLYCAPTURE_MONO8;
    uint32_t _xImgOffset = 0, _yImgOffset = 0;
    uint32_t _xImgSz = 0, _yImgSz = 0;
    uint32_t _nPacketSz = 0;
    uint32_t _xMaxImgSz = 0, _yMaxImgSz = 0;
    uint32_t _xUnitImgSz = 0, _yUnitImgSz = 0;
    uint32_t _xUnitImgOffset = 0, _yUnitImgOffset = 0;
    uint32_t _nPixFormats = 0;
    PacketInfo _fcPacketInfo;
    bool _bTriggerPresent = false, _bTriggerReadable = false, _bTriggerOnOffSupported = false,
         _bTriggerPolarityChangeable = false;
    bool _bTriggerOn = false;
    uint32_t _nTriggerPolarity = 0;
    uint32_t _nTriggerSource = 0;
    bool _bTriggerModeSupported[2] = {false, false};
    CameraTriggerMode _triggerMode = camtm_exposureTimed;
    bool _bShutterPresent = false, _bGainPresent = false, _bBrightnessPresent = false;
    uint32_t _nShutter = 0, _nShutterMin = 0, _nShutterMax = 0;
    std::optional<int32_t> _gain;
    int32_t _nGainMin = 0, _nGainMax = 0, _nDefaultGain = 0;
    double _fBrightnessMin = 0.0, _fBrightnessMax = 0.0, _fBrightness = 0.0;
    double _fFrameRateMin = 0.0, _fFrameRateMax = 0.0;
    bool _bFrameRateEnabled = false;
    double _fFrameRate = 0.0;
    uint32_t _nFormat7ModeCsr = 0;
    volatile LONG _bAcquiring = 0;
    orvex::win32::OwnedHandle _hAcquiThread;
    orvex::win32::OwnedHandle _hAcquiThreadStarted;
    bool _bTimeStampSupported = false, _bFrameCounterSupported = false, _bDCAMInfoSupported = false,
         _bGPIOStatusSupported = false;
    bool _bTimeStampEnabled = false, _bFrameCounterEnabled = false, _bDCAMInfoEnabled = false,
         _bGPIOStatusEnabled = false;
    bool _bFrameRateRegisterImplemented = false;
    bool _bAutoExposureEnabled = false;
    bool _bWow64 = false;
    uint32_t _nUserMemSpace = 0;
    std::string _modelName, _vendorName;
    orvex::CriticalSection _csMapShutter;
    std::map<int32_t, uint32_t> _mapShutterRawToReal;
    orvex::CriticalSection _csMapGain;
    std::map<int32_t, int32_t> _mapGainRawToReal;
    uint32_t _nStrobeCsrBase = 0;
    std::vector<uint32_t> _strobeOutputPortIds;
    std::map<uint32_t, std::optional<uint32_t>> _strobeDurationCache, _strobeDelayCache;
    std::map<uint32_t, uint32_t> _strobeSupportState;
    boost::shared_array<boost::shared_array<unsigned char>> _acquiBuffers;
    uint32_t _nNbImgBuffers = 0;
};
