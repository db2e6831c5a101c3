// A camera's live preview as a stream of parts, one per new image.
#include "view/LiveStream.h"

#include <exception>
#include <utility>

namespace orvex::cli {

std::string liveStreamContentType()
{
    return std::string("multipart/x-mixed-replace; boundary=") + kLiveStreamBoundary;
}

LiveStream::LiveStream(PreviewSlot& slot, uint64_t clearsAtStart, std::string contentType, Encode encode,
                       Sent sent)
    : _slot(slot), _clearsAtStart(clearsAtStart), _contentType(std::move(contentType)),
      _encode(std::move(encode)), _sent(std::move(sent))
{
}

void LiveStream::start(std::function<void()> wake)
{
    if (!_listener)
        _listener = _slot.listen(std::move(wake));
}

HttpPartSource::Turn LiveStream::next(Part& part)
{
    // Emptied since the camera was seen acquiring: stopped, restarted or
    // gone. The client asks anew, and learns which.
    if (_slot.clears() != _clearsAtStart)
        return Turn::end;
    const Preview preview = _slot.latest();
    if (preview.frame == nullptr || (_lastIndex && *_lastIndex == preview.frame->index))
        return Turn::wait;
    const uint32_t index = preview.frame->index;
    std::shared_ptr<const std::string> bytes = preview.live;
    if (bytes == nullptr) {
        if (preview.frame->pixels.empty())
            return Turn::wait; // cannot happen: an image kept without pixels is encoded
        try {
            bytes = _encode(*preview.frame);
        } catch (const std::exception&) {
            return Turn::end; // the client asks anew, through a route that tells why
        }
    } else if (_sent) {
        _sent(index, bytes);
    }
    // The main thread encodes the next image as it comes.
    _slot.liveSent();
    // Each part ends with the next boundary at once: a browser shows a part
    // of such an answer only when the boundary after it has come.
    part.head = _lastIndex ? std::string() : std::string("--") + kLiveStreamBoundary + "\r\n";
    part.head += "Content-Type: " + _contentType + "\r\nContent-Length: " + std::to_string(bytes->size()) +
                 "\r\nX-Orvex-Index: " + std::to_string(index) + "\r\n\r\n";
    part.body = std::move(bytes);
    part.tail = std::string("\r\n--") + kLiveStreamBoundary + "\r\n";
    _lastIndex = index;
    return Turn::part;
}

void LiveStream::stop() noexcept
{
    unlisten();
}

void LiveStream::unlisten() noexcept
{
    if (_listener)
        _slot.unlisten(*_listener);
    _listener.reset();
}

} // namespace orvex::cli
