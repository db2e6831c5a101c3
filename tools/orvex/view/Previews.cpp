// The newest preview of a watched camera, handed from the main thread to
// the HTTP threads.
#include "view/Previews.h"

#include <exception>
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
    Preview next{std::move(frame), nullptr};
    if (next.frame == nullptr) {
        // After a stop, a start or a removal the page asks anew before the
        // main thread spends an encoding on it.
        _liveSent.store(false);
    } else if (_encoder && next.frame->bytesPerPixel == 1 && _liveSent.exchange(false)) {
        const ViewFrame& preview = *next.frame;
        // On failure left to the request, which answers with the error.
        next.live = encodeLive(GreyImage{preview.pixels.data(), preview.width, preview.height, 1});
    }
    store(std::move(next));
}

bool PreviewSlot::publishEncoded(const GreyImage& image, uint32_t index)
{
    if (!_encoder || !_liveSent.exchange(false))
        return false;
    Preview next;
    next.live = encodeLive(image);
    if (next.live == nullptr) {
        // Copied by the caller and left to the request, which answers with
        // the error: the encoding that was due is spent.
        return false;
    }
    auto frame = std::make_shared<ViewFrame>();
    frame->width = image.width;
    frame->height = image.height;
    frame->index = index;
    next.frame = std::move(frame);
    store(std::move(next));
    return true;
}

std::shared_ptr<const std::string> PreviewSlot::encodeLive(const GreyImage& image) const
{
    try {
        return std::make_shared<const std::string>(_encoder(image));
    } catch (const std::exception&) {
        return nullptr;
    }
}

void PreviewSlot::store(Preview next)
{
    // Declared before the lock, so the replaced image is freed after it is
    // released, not while the HTTP threads wait for the slot.
    Preview replaced;
    const std::lock_guard<std::mutex> lock(_mutex);
    replaced = std::exchange(_preview, std::move(next));
}

void PreviewSlot::clear()
{
    publish(nullptr);
}

Preview PreviewSlot::latest() const
{
    const std::lock_guard<std::mutex> lock(_mutex);
    return _preview;
}

} // namespace orvex::cli
