// What a FlyCapCamera keeps, grouped by concern: identity, acquisition,
// geometry and packets, exposure, trigger and strobe, frame information.
// Every lock, context and handle is held by an owner that releases it with
// the state.
//
// Threads: each group says what guards it. In short, the host thread reads
// and writes everything without a lock, except that the acquisition thread
// shares the two raw-to-real maps (each under the critical section declared
// beside it) and `_bAcquiring` (interlocked exchange only), and reads what
// the host wrote before starting it.
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
        : _identity{portIdx, serialNumber, busId, modelName, vendorName}
    {
    }

    // The packet limits the SDK reports for the current geometry: the
    // smallest packet (also the packet step) and the largest.
    struct PacketInfo {
        uint32_t minBytes = 0;
        uint32_t maxBytes = 0;
    };

    // Which camera this is. Set at construction and by init(); host thread,
    // read-only for the acquisition thread.
    struct Identity {
        unsigned short _nPortIdx;
        uint32_t _nSerialNumber;
        int _nBusId;
        std::string _modelName;
        std::string _vendorName;
        uint32_t _nUserMemSpace = 0;
    };

    // The acquisition thread and what it fills. Lock: none. The host thread
    // writes these before it starts the thread and after it has waited for
    // its end; in between the thread owns the counter and the buffers, and
    // `_bAcquiring` is read and written by interlocked exchange only.
    struct Acquisition {
        volatile LONG _bAcquiring = 0;
        orvex::win32::OwnedHandle _hAcquiThread;
        orvex::win32::OwnedHandle _hAcquiThreadStarted;
        uint32_t _nImgCounter = 0;
        boost::shared_array<boost::shared_array<unsigned char>> _acquiBuffers;
        uint32_t _nNbImgBuffers = 0;
        bool _bWow64 = false;
    };

    // Region, pixel format, packets and frame rate. Lock: none; written by
    // the host thread. The acquisition thread copies `_fcPixFormat` before
    // startAcquisition returns; only the packet size is refused while
    // acquiring.
    struct Geometry {
        FlyCapturePixelFormat _fcPixFormat = FLYCAPTURE_MONO8;
        uint32_t _xImgOffset = 0, _yImgOffset = 0;
        uint32_t _xImgSz = 0, _yImgSz = 0;
        uint32_t _nPacketSz = 0;
        uint32_t _xMaxImgSz = 0, _yMaxImgSz = 0;
        uint32_t _xUnitImgSz = 0, _yUnitImgSz = 0;
        uint32_t _xUnitImgOffset = 0, _yUnitImgOffset = 0;
        uint32_t _nPixFormats = 0;
        PacketInfo _fcPacketInfo;
        uint32_t _nFormat7ModeCsr = 0;
        double _fFrameRateMin = 0.0, _fFrameRateMax = 0.0;
        bool _bFrameRateEnabled = false;
        double _fFrameRate = 0.0;
        bool _bFrameRateRegisterImplemented = false;
    };

    // Shutter, gain, brightness. Lock: none for the host thread's caches;
    // each raw-to-real map, which the acquisition thread reads per image,
    // under the critical section declared just before it.
    struct Exposure {
        bool _bShutterPresent = false, _bGainPresent = false, _bBrightnessPresent = false;
        uint32_t _nShutter = 0, _nShutterMin = 0, _nShutterMax = 0;
        std::optional<int32_t> _gain;
        int32_t _nGainMin = 0, _nGainMax = 0, _nDefaultGain = 0;
        double _fBrightnessMin = 0.0, _fBrightnessMax = 0.0, _fBrightness = 0.0;
        bool _bAutoExposureEnabled = false;
        orvex::CriticalSection _csMapShutter;
        std::map<int32_t, uint32_t> _mapShutterRawToReal;
        orvex::CriticalSection _csMapGain;
        std::map<int32_t, int32_t> _mapGainRawToReal;
    };

    // Trigger and strobe outputs. Lock: none; host thread only.
    struct TriggerStrobe {
        bool _bTriggerPresent = false, _bTriggerReadable = false, _bTriggerOnOffSupported = false,
             _bTriggerPolarityChangeable = false;
        bool _bTriggerOn = false;
        uint32_t _nTriggerPolarity = 0;
        uint32_t _nTriggerSource = 0;
        bool _bTriggerModeSupported[2] = {false, false};
        CameraTriggerMode _triggerMode = camtm_exposureTimed;
        uint32_t _nStrobeCsrBase = 0;
        std::vector<uint32_t> _strobeOutputPortIds;
        std::map<uint32_t, std::optional<uint32_t>> _strobeDurationCache, _strobeDelayCache;
        std::map<uint32_t, uint32_t> _strobeSupportState;
    };

    // The information the camera embeds in each frame. Lock: none; written
    // by the host thread while not acquiring, read by the acquisition thread
    // per image.
    struct FrameInfo {
        bool _bTimeStampSupported = false, _bFrameCounterSupported = false, _bDCAMInfoSupported = false,
             _bGPIOStatusSupported = false;
        bool _bTimeStampEnabled = false, _bFrameCounterEnabled = false, _bDCAMInfoEnabled = false,
             _bGPIOStatusEnabled = false;
    };

    // Declared first, so that it is closed last.
    orvex::flycap::SdkContext _fcContext;
    bool _bInitialized = false;
    Identity _identity;
    Acquisition _acquisition;
    Geometry _geometry;
    Exposure _exposure;
    TriggerStrobe _triggerStrobe;
    FrameInfo _frameInfo;
};
