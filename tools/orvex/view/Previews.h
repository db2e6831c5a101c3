// A camera's newest preview, copied by the main thread as each image comes
// while a page watches the camera, and taken by the HTTP threads without a
// round trip to the main thread: a displayed frame then costs one copy and
// one encoding, not two thread hand-offs more per request.
//
// The live encoding is made by the main thread as the image comes, while
// the thread is awake anyway: made by the event loop when a request came,
// the same encoding cost half as much again. It is made only once the last
// one went out, so a camera faster than the page costs no encoding the page
// never shows. An image that is its own preview is then encoded where it
// lies, and not copied: the live route needs only its encoding.
#pragma once

#include "view/Image.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvex::cli {

// What a slot holds: the preview (its pixels, unless it was encoded from
// the camera's image without a copy) and, when the main thread made it,
// its live encoding (null: encoded on demand from the pixels).
struct Preview {
    std::shared_ptr<const ViewFrame> frame;
    std::shared_ptr<const std::string> live;
};

class PreviewSlot {
public:
    // How long after the last request the main thread keeps copying.
    static constexpr std::chrono::milliseconds kWatchTime{2000};
    // The live route's encoder; throws when it cannot encode.
    using LiveEncoder = std::function<std::string(const GreyImage&)>;

    // Before the HTTP threads start: how the main thread encodes the live
    // preview as it comes. Without one, every encoding is made on demand.
    void setLiveEncoder(LiveEncoder encoder) { _encoder = std::move(encoder); }

    // Any thread: a page wants the camera's images for a while. The slot
    // holds the newest image or nothing, watched or not: an image that comes
    // while nobody watches empties it.
    void watch();
    // Main thread: whether to copy each new image: a page asked lately, or
    // a stream listens.
    bool watched() const;

    // Any thread: `wake` is rung (on the main thread) after each change of
    // what the slot holds, and the slot stays watched, until `unlisten`
    // with the number returned. Rung without the slot's locks, so that it
    // may unlisten; a ring under way may still reach it after `unlisten`.
    uint64_t listen(std::function<void()> wake);
    void unlisten(uint64_t listener);
    // Any thread: how many times the slot was emptied (a stop, a start, a
    // removal, or nobody watching): a change tells a stream its camera
    // stopped since it began.
    uint64_t clears() const { return _clears.load(); }

    // Main thread: the newest image, or nothing (stopped, gone, no longer
    // watched). Encoded for the live route when the last live answer from
    // the slot went out since the previous one.
    void publish(std::shared_ptr<const ViewFrame> frame);
    // Main thread: the newest image, which is its own preview, when a live
    // encoding of it is due: published encoded, its pixels not kept. False
    // when none is due or the encoder failed: then copy it and publish it.
    bool publishEncoded(const GreyImage& image, uint32_t index);
    void clear();

    // Any thread: what was published last; a null frame when nothing is.
    Preview latest() const;
    // Any thread: a live answer from the slot went out; the next image is
    // worth encoding as it comes.
    void liveSent() { _liveSent.store(true); }

private:
    static int64_t nowTicks();
    // The live encoding, or null when the encoder failed.
    std::shared_ptr<const std::string> encodeLive(const GreyImage& image) const;
    void store(Preview next);

    void wakeListeners();

    std::atomic<int64_t> _watchedUntil{0};
    std::atomic<uint64_t> _clears{0};
    std::mutex _listenersMutex;
    std::map<uint64_t, std::shared_ptr<const std::function<void()>>> _listeners;
    // Main thread: the wakes being rung, kept to spare an allocation per image.
    std::vector<std::shared_ptr<const std::function<void()>>> _ringing;
    uint64_t _nextListener = 0;
    std::atomic<std::size_t> _listening{0};
    std::atomic<bool> _liveSent{false};
    LiveEncoder _encoder;
    mutable std::mutex _mutex;
    Preview _preview;
};

} // namespace orvex::cli
