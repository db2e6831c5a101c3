// Lets a back end that lends its own memory to a sample keep that memory's
// owner alive for as long as the sample lives. Internal to the library.
#pragma once

#include <orvex/ImageSample.h>

#include <memory>
#include <utility>

namespace orvex::images {

class SampleKeepAlive {
public:
    static void attach(ImageSample& sample, std::shared_ptr<void> owner)
    {
        sample._pixelsOwner = std::move(owner);
    }
};

} // namespace orvex::images
