// The cameras as the viewer shows them: what each reports (index, dates,
// frames per second, drops, settings), its newest image, and the user's
// actions on it (settings, start, stop, software trigger). Main thread only:
// the HTTP threads reach it through the HostQueue, except for the preview
// slots, which are theirs to read.
#pragma once

#include "Event.h"
#include "Session.h"
#include "Settings.h"
#include "view/Image.h"
#include "view/Previews.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvex::cli {

// What an action on a camera came to: done, refused by the viewer (a bad
// request: an unknown setting, a value that is not of its form), or refused
// by the library (its message).
struct ActionResult {
    enum class Outcome { done, badRequest, refused, noCamera };
    Outcome outcome = Outcome::done;
    std::string message;
};

class CameraView {
public:
    // `id` names the camera in the page's paths; `stack` is its back end's
    // name ("flycap" or "bcam").
    CameraView(IEEE1394Camera& camera, IEEE1394VideoServer& server, std::string id, std::string stack);
    // Takes the camera's event back (the caller has stopped it).
    ~CameraView();
    CameraView(const CameraView&) = delete;
    CameraView& operator=(const CameraView&) = delete;

    // Reads what arrived since the last look: index, dates, rate, drops.
    // The images buffer is locked only while its entries are read.
    void poll();
    // The server deletes a camera that left: forget it then, before anything
    // touches it again.
    void checkStillThere();

    // The newest image, copied; only its index when that is `known` (the
    // browser has it already).
    std::optional<ViewFrame> newestFrame(bool full, std::optional<uint32_t> known);
    std::string stateJson();

    ActionResult applySetting(const std::string& name, const std::string& value);
    ActionResult start();
    ActionResult stop() noexcept;
    ActionResult softwareTrigger();

    const std::string& id() const { return _name; }
    // Whether the camera is present and acquiring.
    bool acquiring() const;
    // Any thread: the newest preview while a page watches.
    PreviewSlot& preview() { return _preview; }
    uint64_t received() const { return _received; }
    // Set by the camera's acquisition thread for each new image; null once
    // the camera has left.
    HANDLE newImageEvent() const { return _camera != nullptr ? _newImage.get() : nullptr; }

private:
    template <class Action> ActionResult act(Action action);
    // Main thread, the images buffer unlocked: the newest image into the
    // preview slot when a page watches, nothing otherwise.
    void publishNewest(const ImageSample& sample);

    // The camera notifies through an event rather than its own window: one
    // posted message per image would fill the main thread's queue whenever
    // that thread is held up (a stalled sync update), and the server's
    // removal messages would then be lost.
    Event _newImage;
    PreviewSlot _preview;
    IEEE1394Camera* _camera;
    IEEE1394VideoServer& _server;
    CamGUID _guid;
    std::string _name;
    std::string _stack;
    std::string _model;
    unsigned short _port;
    ExposureUnits _units;
    uint64_t _received = 0;
    uint64_t _drops = 0;
    uint32_t _lastIdx = 0;
    std::optional<double> _swDate, _hwDate;
    // Frames per second over the last second or so.
    std::chrono::steady_clock::time_point _rateSince = std::chrono::steady_clock::now();
    uint64_t _rateCount = 0;
    double _fps = 0.0;
};

// The setting names the viewer accepts, as the command line spells them.
const std::vector<std::string>& viewSettingNames();

// One camera stack the viewer shows.
struct ViewStack {
    IEEE1394VideoServer* server;
    std::vector<IEEE1394Camera*> cameras; // those that initialised
    std::string name;                     // "flycap" or "bcam"
    // Put before the port index in the camera's id: empty for the process-wide
    // server's cameras, so that one stack's ids are its ports.
    std::string idPrefix;
};

class ViewCameras {
public:
    explicit ViewCameras(const std::vector<ViewStack>& stacks);
    // Stops every acquisition the viewer started.
    ~ViewCameras();
    ViewCameras(const ViewCameras&) = delete;
    ViewCameras& operator=(const ViewCameras&) = delete;

    void poll();
    // Forgets every camera its server no longer lists. Called from the
    // server's removal notice, which comes right after the server deleted the
    // camera and before the main thread runs any queued request.
    void forgetRemoved();
    // What the main thread waits on besides its messages: each present
    // camera's new-image event.
    std::vector<HANDLE> newImageEvents() const;
    CameraView* find(const std::string& id);
    // Any thread: the preview slot of the camera `id`, null for none. The
    // views are made once and outlive the HTTP server.
    PreviewSlot* previewOf(const std::string& id);
    // Before the HTTP threads start: every camera's live preview encoder.
    void setLiveEncoder(const PreviewSlot::LiveEncoder& encoder);
    std::string stateJson();
    uint64_t received() const;

private:
    std::vector<std::unique_ptr<CameraView>> _views;
};

} // namespace orvex::cli
