// A watched camera's live preview as one long answer: a part per new image
// (multipart/x-mixed-replace), instead of a request per image. The parts
// are the encodings the preview slot holds, shared with every other stream
// and request on the camera; a client that reads slowly gets the newest
// image once it took the last one, never a queue of old ones.
#pragma once

#include "view/Http.h"
#include "view/Previews.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orvex::cli {

// What separates the parts, and the answer's content type that names it.
inline constexpr const char* kLiveStreamBoundary = "orvex-frame";
std::string liveStreamContentType();

class LiveStream : public HttpPartSource {
public:
    // The encoding of a preview the main thread copied but left unencoded,
    // shared; throws when it cannot encode.
    using Encode = std::function<std::shared_ptr<const std::string>(const ViewFrame&)>;
    // An encoding the main thread made, with its image's index, as it goes out.
    using Sent = std::function<void(uint32_t index, const std::shared_ptr<const std::string>& bytes)>;

    // `clearsAtStart`: the slot's clears when the camera was seen acquiring;
    // the stream ends at the next one. `contentType`: each part's.
    LiveStream(PreviewSlot& slot, uint64_t clearsAtStart, std::string contentType, Encode encode,
               Sent sent = nullptr);
    ~LiveStream() override { unlisten(); }
    LiveStream(const LiveStream&) = delete;
    LiveStream& operator=(const LiveStream&) = delete;

    void start(std::function<void()> wake) override;
    Turn next(Part& part) override;
    void stop() noexcept override;

private:
    void unlisten() noexcept;

    PreviewSlot& _slot;
    const uint64_t _clearsAtStart;
    const std::string _contentType;
    Encode _encode;
    Sent _sent;
    std::optional<uint64_t> _listener;
    std::optional<uint32_t> _lastIndex;
};

} // namespace orvex::cli
