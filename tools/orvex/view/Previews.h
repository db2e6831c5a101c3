// A camera's newest preview, copied by the main thread as each image comes
// while a page watches the camera, and taken by the HTTP threads without a
// round trip to the main thread: a displayed frame then costs one copy and
// one encoding, not two thread hand-offs more per request.
#pragma once

#include "view/Image.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace orvex::cli {

class PreviewSlot {
public:
    // How long after the last request the main thread keeps copying.
    static constexpr std::chrono::milliseconds kWatchTime{2000};

    // Any thread: a page wants the camera's images for a while. The slot
    // holds the newest image or nothing, watched or not: an image that comes
    // while nobody watches empties it.
    void watch();
    // Main thread: whether to copy each new image.
    bool watched() const;

    // Main thread: the newest image, or nothing (stopped, gone, no longer
    // watched).
    void publish(std::shared_ptr<const ViewFrame> frame);
    void clear();

    // Any thread: what was published last; null when nothing is.
    std::shared_ptr<const ViewFrame> latest() const;

private:
    static int64_t nowTicks();

    std::atomic<int64_t> _watchedUntil{0};
    mutable std::mutex _mutex;
    std::shared_ptr<const ViewFrame> _frame;
};

} // namespace orvex::cli
