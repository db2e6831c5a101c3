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
    return _listening.load() != 0 || nowTicks() < _watchedUntil.load();
}

uint64_t PreviewSlot::listen(std::function<void()> wake)
{
    const std::lock_guard<std::mutex> lock(_listenersMutex);
    const uint64_t listener = _nextListener++;
    _listeners.emplace(listener, std::make_shared<const std::function<void()>>(std::move(wake)));
    _listening.store(_listeners.size());
    return listener;
}

void PreviewSlot::unlisten(uint64_t listener)
{
    const std::lock_guard<std::mutex> lock(_listenersMutex);
    _listeners.erase(listener);
    _listening.store(_listeners.size());
}

void PreviewSlot::wakeListeners()
{
    if (_listening.load() == 0)
        return; // the usual case, without a lock
    {
        const std::lock_guard<std::mutex> lock(_listenersMutex);
        for (const auto& [listener, wake] : _listeners)
            _ringing.push_back(wake);
    }
    for (const auto& wake : _ringing)
        (*wake)();
    _ringing.clear();
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
        _clears.fetch_add(1);
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
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        replaced = std::exchange(_preview, std::move(next));
    }
    wakeListeners();
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
