// The newest preview of a watched camera, handed from the main thread to
// the HTTP threads.
#include "view/Previews.h"

#include <utility>

namespace orvex::cli {

int64_t PreviewSlot::nowTicks()
{
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

bool PreviewSlot::watched() const
{
    return nowTicks() < _watchedUntil.load();
}

bool PreviewSlot::watch()
{
    const int64_t now = nowTicks();
    const int64_t until =
        now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(kWatchTime).count();
    if (now < _watchedUntil.exchange(until))
        return true;
    clear();
    return false;
}

void PreviewSlot::publish(std::shared_ptr<const ViewFrame> frame)
{
    std::shared_ptr<const ViewFrame> replaced;
    const std::lock_guard<std::mutex> lock(_mutex);
    replaced = std::exchange(_frame, std::move(frame));
}

void PreviewSlot::clear()
{
    publish(nullptr);
}

std::shared_ptr<const ViewFrame> PreviewSlot::latest() const
{
    const std::lock_guard<std::mutex> lock(_mutex);
    return _frame;
}

} // namespace orvex::cli
