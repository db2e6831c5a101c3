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

void PreviewSlot::watch()
{
    const auto until = std::chrono::steady_clock::now() + kWatchTime;
    _watchedUntil.store(until.time_since_epoch().count());
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
