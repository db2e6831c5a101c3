// A simulated IIDC camera: its register space and what the registers act on
// (properties, Format_7 geometry, trigger, strobes, frame information, user
// memory, smart features, clock synchronisation), and the images it streams.
//
// Threads: every public member may be called from any thread. One mutex
// guards the camera's state; it is never held while the camera calls a
// FrameSink, waits for a bus transaction or for a delivery to end. A paced
// stream has no thread of its own: a receiver that pulls its images takes
// them when it asks (pullImages); the images of any other receiver are
// delivered by the process's one stream thread (StreamScheduler), from
// startStream, or from the registers (ISO_EN and one/multi-shot), until
// stopStream, detach or the destructor. A stream the registers started
// sends its images to the bus channel in ISO_CHANNEL_SPEED (Bus::listen).
//
// Register reads and writes take the bus's transaction time: the camera
// acts, or samples CYCLE_TIME, between the request and the response halves.
// Reads of unimplemented addresses inside the camera's control register
// areas answer 0 (writes are ignored); addresses outside them fail with
// Status::addressError; a camera without smart features reads all ones in
// the advanced feature area.
#pragma once

#include <orvex/sim/Bus.h>
#include <orvex/sim/CameraConfig.h>
#include <orvex/sim/Frame.h>
#include <orvex/sim/RegisterFile.h>
#include <orvex/sim/StreamFaults.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace orvex::sim {

enum class Status {
    ok,
    notConnected,      // the camera is not on a bus
    addressError,      // no register at that address
    invalidArgument,   // a value outside its domain (e.g. unknown feature)
    notPresent,        // the camera lacks the property
    outOfRange,        // a property value outside the camera's current range
    invalidMode,       // video format, mode or pixel format not offered
    invalidGeometry,   // Format_7 size, position or packet size refused
    bandwidthExceeded, // not enough isochronous bandwidth left on the bus
    alreadyStreaming,
    notStreaming,
    poweredOff,
};
const char* toString(Status status);

// How a streaming camera produces images when its trigger is off: at its
// frame rate on the bus clock, or unpaced, one image whenever the
// receiver asks (pullFrame), for benchmarks of the layers above.
enum class Pacing { frameRate, unpaced };

// One feature as the SDK presents it.
struct PropertyValue {
    bool present = false;
    bool absoluteCapable = false, onePushCapable = false, readOutCapable = false;
    bool onOffCapable = false, autoCapable = false, manualCapable = false;
    uint32_t rawMin = 0, rawMax = 0; // current range (the shutter's depends on frame rate and trigger)
    bool onePush = false, on = false, autoMode = false, absoluteMode = false;
    uint32_t raw = 0, rawHigh = 0;
    double absValue = 0.0, absMin = 0.0, absMax = 0.0;
    const char* units = "";
    const char* unitAbbreviation = "";
};

// Format_7 packet limits of a geometry at the camera's current iso speed.
struct PacketLimits {
    uint32_t unitBytes = 0; // minimum and step
    uint32_t maxBytes = 0;
    uint64_t imageBytes = 0;
};

class StreamScheduler;

class Camera {
public:
    explicit Camera(const CameraConfig& config);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    const CameraConfig& config() const { return _config; }
    // Where the camera keeps smart feature n's control register: what its
    // inquiry answers (the ExtendedVersionInfo block's control quadlet for
    // feature 7). Tests use it to override a control register.
    static uint32_t smartFeatureControlAddress(unsigned feature);
    uint32_t serialNumber() const { return _config.serialNumber; }

    // --- bus attachment (the world calls these) ------------------------------
    // Plugs the camera into a bus: a fresh connection, registers at their
    // power-up values (user memory survives).
    void attach(std::shared_ptr<Bus> bus);
    // Unplugs it: the stream stops and its receiver hears onCameraRemoved.
    void detach();
    bool isConnected() const;
    // Increases with every attach; a receiver bound to an older connection
    // knows the camera has left in between.
    uint64_t connection() const;
    // Whether the camera is on a bus by that connection still: both at once.
    bool connectedAs(uint64_t connection) const;
    std::shared_ptr<Bus> bus() const;

    // --- register transactions --------------------------------------------------
    Status readRegister(uint32_t address, uint32_t& value);
    Status writeRegister(uint32_t address, uint32_t value);
    // `count` consecutive quadlets in one transaction.
    Status readBlock(uint32_t address, uint32_t* values, std::size_t count);
    Status writeBlock(uint32_t address, const uint32_t* values, std::size_t count);

    // --- properties (IIDC feature index: Registers.h kFeature...) ----------------
    Status property(uint32_t feature, PropertyValue& value);
    // Raw value and flags; leaves absolute mode.
    Status setPropertyRaw(uint32_t feature, bool onePush, bool on, bool autoMode, uint32_t raw,
                          uint32_t rawHigh);
    // Absolute value rounded to the nearest raw step; enters absolute mode.
    Status setPropertyAbsolute(uint32_t feature, bool onePush, bool on, bool autoMode, double value);

    // --- Format_7 mode 0 ------------------------------------------------------
    bool format7Available() const;
    PacketLimits packetLimits(uint32_t width, uint32_t height, uint32_t bytesPerPixel) const;
    // Selects Format_7 mode 0 with this geometry (colour code from
    // bytesPerPixel), as a host does through the mode's registers.
    Status configureFormat7(const FrameGeometry& geometry);

    // --- streaming --------------------------------------------------------------
    // Starts the isochronous stream with the current video format's geometry
    // and delivers its images to `sink`; takes over a stream the registers
    // started (its channel hears no more).
    // `bandwidthHeld`: the receiver claimed the stream's bandwidth itself
    // (a driver that allocated isochronous resources), so the camera
    // neither reserves nor releases any.
    Status startStream(std::shared_ptr<FrameSink> sink, Pacing pacing, bool bandwidthHeld = false);
    void stopStream();
    bool isStreaming() const;
    FrameGeometry streamGeometry() const;
    // Unpaced and trigger off: the image the camera produces right now.
    std::optional<Frame> pullFrame();
    // Bytes of smart-feature chunks each image carries now, read in one look
    // so that a driver sizing its buffers never races a host walking the
    // smart-feature inquiry registers.
    std::size_t chunkBytes() const;
    // Paced, for a receiver that pulls its images (FrameSink::pullsImages):
    // appends every image due since the last call, oldest first, and answers
    // the host instant the next one is due (kNeverNs: none until the plan
    // changes, which onStreamRescheduled announces). `superseded`: images
    // due meanwhile that were not kept (a very late receiver), to be counted
    // as dropped.
    int64_t pullImages(std::vector<Frame>& images, uint64_t& superseded);
    // The same, due by `nowNs`: the receiver's own reading of the host clock.
    int64_t pullImages(std::vector<Frame>& images, uint64_t& superseded, int64_t nowNs);

    // --- stimuli and true values for tests ----------------------------------------
    // A pulse on the external trigger input (GPIO pin 0) whose active edge,
    // in the camera's polarity, comes at `hostNs`; the exposure takes the
    // shutter time whatever the trigger mode. True when the camera took the
    // trigger (trigger on, source 0, ready).
    bool externalTrigger(int64_t hostNs);
    // The level of the external trigger input changes at `hostNs` (until
    // first driven it idles inactive). The active edge (rising when TRIGGER_MODE's
    // polarity bit is set, falling otherwise) fires the camera: in mode 0
    // for one shutter time, in mode 1 until the opposite edge. True when an
    // active edge was taken (trigger on, source 0, ready). TRIGGER_MODE bit
    // 20 reads the level.
    bool setTriggerInput(bool high, int64_t hostNs);
    // An unacknowledged write (a broadcast) that the camera acts on at
    // `hostNs`, as every other node of the bus does.
    void receiveBroadcast(uint32_t address, uint32_t value, int64_t hostNs);
    uint32_t frameCounter() const;
    // The counter the next image carries (tests of a counter wrap).
    void setFrameCounter(uint32_t next);
    // The time stamp every following image carries instead of the camera's
    // cycle time, until reset with nullopt (tests of the date decoding).
    void forceTimeStamp(std::optional<uint32_t> cycleTime);
    // The value CYCLE_TIME reads instead of the bus clock, until reset with
    // nullopt (tests that need exact clock readings).
    void holdCycleTime(std::optional<uint32_t> cycleTime);
    uint64_t droppedTriggers() const;
    // Image-level faults (see StreamFaults).
    void loseNextImages(unsigned count);
    void stallStream(int64_t ns);
    void damageNextFrameInfo(FrameInfoDamage damage, unsigned count = 1);
    // Images made but lost by loseNextImages.
    uint64_t lostImages() const;
    double exposureSeconds() const;
    double framePeriodSeconds() const;
    // The time stamp an image exposed at `hostNs` would carry.
    uint32_t stampCycleTimeAt(int64_t hostNs) const;

private:
    friend class StreamScheduler;

    struct Trigger {
        int64_t hostNs; // exposure start
        bool external;
        int64_t exposureNs; // < 0: the shutter time
    };
    // One strobe pulse on an output pin, [beginNs, endNs).
    struct StrobePulse {
        int64_t beginNs;
        int64_t endNs;
    };
    struct Sync {
        bool active = false;
        uint32_t quadlets[2] = {0, 0};
        uint32_t offsetTicks = 0;
        int32_t drift = 0;
        int64_t referenceTicks = 0;
    };
    // Free run on the bus clock: the next image's point on the camera's grid
    // of the frame period, in the own ticks of the bus clock (CycleClock::
    // ownTicksAt); its exposure starts at the first cycle boundary from
    // there. Reset (= {}) to start afresh at the next cycle boundary.
    struct FreeRunPlan {
        bool planned = false;
        int64_t gridTicks = 0;
    };
    // The free run's next move: an image starting at `hostNs` now, or a
    // look again at `hostNs`.
    struct FreeRunStep {
        bool imageDue = false;
        int64_t hostNs = 0;
        // The bus clock at `hostNs`, when read with it.
        std::optional<int64_t> busTicks;
    };
    // A catch-up's reading of the own ticks at the instant up to which
    // images have been sent: the same for every image it makes.
    struct SentReading {
        bool valid = false;
        int64_t hostNs = 0;
        int64_t ownTicks = 0;
    };
    // What a register write leaves to do once the lock is released.
    struct After {
        bool deliverTriggers = false;
        bool startIso = false; // ISO_EN or a shot asks for transmission
    };

    // Transactions: lock held for the *Locked variants.
    Status readLocked(uint32_t address, uint32_t& value, int64_t now) const;
    Status writeLocked(uint32_t address, uint32_t value, int64_t now, After& after);
    Status transact(const std::function<Status(int64_t now, After& after)>& act);
    void finish(const After& after);

    // Registers.
    void resetRegistersLocked();
    RegisterFile::Map defaultRegisters() const;
    bool readOverride(uint32_t address, uint32_t& value) const;
    uint32_t reg(uint32_t address) const;
    bool readInquiryLocked(uint32_t address, uint32_t& value, int64_t now) const;

    // Features (CameraFeatures.cpp).
    const PropertyCaps* caps(uint32_t feature) const;
    uint32_t featureInquiryLocked(uint32_t feature) const;
    uint32_t rawMaxLocked(uint32_t feature) const;
    double absOfLocked(uint32_t feature, uint32_t raw) const;
    int64_t rawOfLocked(uint32_t feature, double abs) const;
    Status propertyLocked(uint32_t feature, PropertyValue& value) const;
    void writeFeatureLocked(uint32_t feature, uint32_t value);
    void writeTriggerModeLocked(uint32_t value);
    void enforceRangesLocked();
    uint32_t triggerInquiryLocked() const;
    bool triggerOnLocked() const;
    bool workOutTriggerOnLocked() const;

    // Trigger input and software triggers (CameraTrigger.cpp).
    uint32_t triggerSourceLocked() const;
    // The input's level under a TRIGGER_MODE value (its polarity).
    bool triggerInputLevelLocked(uint32_t triggerMode) const;
    bool triggerEdgeLocked(bool high, int64_t hostNs);
    void writeSoftwareTriggerLocked(uint32_t address, uint32_t value, int64_t now, After& after);
    uint32_t readSoftwareTriggerLocked(uint32_t address, int64_t now) const;
    int64_t triggerDeliveryDelayNsLocked(const Trigger& trigger) const;

    // Strobe outputs (CameraStrobe.cpp).
    bool strobePresentLocked(uint32_t pin) const;
    // GPIO levels at an image's exposure start (FrameInfo.h bits); records
    // the image's strobe pulses.
    uint8_t gpioLevelsLocked(int64_t exposureStartNs, int64_t exposureNs, bool externalTrigger);
    void applyAutoExposureLocked();

    // Video formats and timing (CameraFormats.cpp).
    bool fixedModeLocked(uint32_t format, uint32_t mode, uint32_t& width, uint32_t& height) const;
    uint32_t rateInquiryLocked(uint32_t format, uint32_t mode) const;
    uint32_t modeInquiryLocked(uint32_t format) const;
    uint32_t formatInquiryLocked() const;
    bool readFormat7Locked(uint32_t offset, uint32_t& value) const;
    void writeFormat7Locked(uint32_t offset, uint32_t value);
    void writeCurrentIndexLocked(uint32_t address, uint32_t value);
    FrameGeometry currentGeometryLocked() const;
    FrameGeometry format7GeometryLocked() const;
    FrameGeometry workOutFormat7GeometryLocked() const;
    double sensorFrameRateLocked(uint32_t height) const;
    double maxFrameRateLocked() const;
    double maxExposureLocked() const;
    double exposureLocked() const;
    double workOutExposureLocked() const;
    double periodLocked() const;
    double workOutPeriodLocked() const;
    int64_t deliveryDelayNsLocked() const;
    uint32_t maxPacketBytesLocked() const;
    uint32_t isoSpeedMbpsLocked() const;
    PacketLimits packetLimitsLocked(uint32_t width, uint32_t height, uint32_t bytesPerPixel) const;
    PacketLimits packetLimitsAtLocked(uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                                      uint32_t isoSpeedMbps) const;

    // Absolute-value registers (CameraAbsolute.cpp).
    uint32_t effectiveFeatureInquiryLocked(uint32_t feature) const;
    bool readAbsoluteLocked(uint32_t address, uint32_t& value) const;
    bool writeAbsoluteLocked(uint32_t address, uint32_t value);

    // One-push adjustments (CameraOnePush.cpp).
    void writeOnePushLocked(uint32_t feature, uint32_t value, int64_t now);
    void trackOnePushLocked(int64_t now);
    bool onePushAskedLocked() const;   // a feature control register has its one-push bit set
    bool onePushRunningLocked() const; // a one-push has not ended yet
    void finishOnePushLocked(uint32_t feature);
    double autoTargetLocked(uint32_t feature) const;

    // Format_7 VALUE_SETTING handshake and forced inquiries (CameraFormat7Setting.cpp).
    static CameraConfig withForcedInquiries(CameraConfig config);
    void writeFormat7SettingLocked(uint32_t offset, uint32_t value);
    void applyFormat7SettingLocked();
    void applyForcedPacketLimits(PacketLimits& limits) const;

    // Isochronous transmission started by the registers (CameraIso.cpp).
    bool transmittingLocked() const;
    uint32_t isoChannelLocked() const;
    void writeIsoEnableLocked(uint32_t value, After& after);
    void writeIsoChannelSpeedLocked(uint32_t value);
    void writeShotLocked(uint32_t value, After& after);
    void frameSentLocked();
    void pauseIsoLocked();
    void startIsoTransmission();

    // Streaming (CameraStream.cpp).
    Status startStreamLocked(std::unique_lock<std::mutex>& lock, std::shared_ptr<FrameSink> sink,
                             Pacing pacing, bool bandwidthHeld = false);
    // The stream thread's turn (StreamScheduler): delivers what is due to
    // a pushed receiver and answers when to ask again.
    int64_t serviceStream();
    // The next image due by `now` (`pulled`: every image of the grid, each
    // delivered at its due instant), or false and when the next one is due.
    bool nextImageLocked(int64_t now, bool pulled, Frame& frame, int64_t& nextNs);
    // A pulled stream: makes the images due by `now` into _pending.
    void catchUpLocked(int64_t now);
    void skipUnkeptImagesLocked(int64_t now);
    // The stream's plan changed: its receiver or the scheduler is told
    // once the lock is released (wakeReceiver).
    void rescheduleLocked();
    void wakeReceiver();
    FreeRunStep freeRunStepLocked(int64_t now, int64_t delay);
    FreeRunStep freeRunCatchUpStepLocked(int64_t now, int64_t delay);
    void serveStallLocked(const CycleClock& clock, int64_t now, int64_t stallNs);
    int64_t periodTicksLocked() const;
    // `busTicks` (the bus clock at the exposure's start) and `deliveredNs`
    // when the caller knows them; otherwise read now.
    Frame makeFrameLocked(int64_t exposureStartNs, bool triggered, bool externalTrigger,
                          int64_t exposureNs = -1, std::optional<int64_t> busTicks = std::nullopt,
                          std::optional<int64_t> deliveredNs = std::nullopt);
    bool acceptTriggerLocked(int64_t hostNs, bool external, int64_t exposureNs = -1);
    bool producingLocked() const;
    void deliverTriggersUnpaced();
    void stopStreamLocked(std::unique_lock<std::mutex>& lock, bool removed);
    uint32_t stampLocked(int64_t hostNs) const;
    // The camera's time stamp when its bus clock reads `busTicks`.
    uint32_t stampAtTicksLocked(int64_t busTicks) const;
    void writeSyncLocked(unsigned quadlet, uint32_t value, int64_t now);

    // Smart features (CameraSmartFeatures.cpp).
    uint32_t readAdvancedLocked(uint32_t address) const;
    void writeAdvancedLocked(uint32_t address, uint32_t value);
    bool smartFeatureEnabledLocked(unsigned feature) const;
    // The chunks an image made now carries (bit n: chunk n) and its CRC.
    void chunkSettingsLocked(uint32_t& chunks, bool& crc) const;

    const CameraConfig _config;
    const std::vector<uint32_t> _configRom; // from 0xF0000400
    mutable std::mutex _m;

    std::shared_ptr<Bus> _bus;
    uint64_t _connection = 0;
    // _connection while attached, else 0: a receiver checks it before each
    // image without the camera's lock.
    std::atomic<uint64_t> _attachedAs{0};
    RegisterFile _regs; // writable registers by address
    // Read by every image, worked out again only after a register (or the
    // time base) changed.
    mutable RegisterMemo<bool> _triggerOnMemo;
    mutable RegisterMemo<FrameGeometry> _format7GeometryMemo;
    mutable RegisterMemo<double> _exposureMemo;
    mutable RegisterMemo<double> _periodMemo;
    std::vector<uint8_t> _userMemory;
    uint32_t _frameCounter = 0;
    std::optional<uint32_t> _forcedTimeStamp;
    std::optional<uint32_t> _heldCycleTime;
    Sync _sync;
    std::array<int64_t, 16> _onePushDoneNs{}; // per feature: when its one-push ends; 0: none running
    mutable RegisterMemo<bool> _onePushAskedMemo;
    std::map<uint32_t, uint32_t> _format7Pending; // Format_7 writes refused, kept for Setting_1

    // Smart features.
    double _timeBase = 0.0; // seconds per raw shutter step
    uint32_t _accessControl[2] = {0xFFFFFFFF, 0xFFFFFFFF};
    uint32_t _inquiryId[4] = {0, 0, 0, 0};
    uint32_t _smartEnabled = 0; // bit n: feature n switched on

    // Stream.
    bool _streaming = false;
    Pacing _pacing = Pacing::frameRate;
    FrameGeometry _streamGeometry;
    uint32_t _reservedBandwidth = 0;
    std::shared_ptr<FrameSink> _sink;
    bool _pulled = false;        // the receiver pulls its images (else the scheduler pushes them)
    bool _rescheduled = false;   // see rescheduleLocked
    bool _idleAtCatchUp = false; // the last catch-up found the camera not producing
    std::deque<Frame> _pending;  // pulled stream: made, not yet taken
    uint64_t _superseded = 0;
    int64_t _lastCatchUpNs = 0;
    int64_t _nextDueNs = 0;
    SentReading _sentReading; // valid within one catch-up
    std::deque<Trigger> _triggers;
    FreeRunPlan _freeRun;
    int64_t _busyUntilNs = 0;
    uint64_t _droppedTriggers = 0;
    StreamFaults _streamFaults;

    // Trigger input level (physical: survives INITIALIZE; until driven, the
    // input idles at the level the polarity calls inactive) and an open
    // mode 1 pulse.
    std::optional<bool> _triggerInputHigh;
    bool _pulseOpen = false;
    int64_t _pulseStartNs = 0;
    // Recent strobe pulses per GPIO pin, oldest first.
    std::deque<StrobePulse> _strobePulses[4];
    bool _isoOwned = false;  // the stream was started by ISO_EN or a shot, not by a receiver
    uint32_t _shotsLeft = 0; // images a one-shot or multi-shot still has to send
};

} // namespace orvex::sim
