// Ownership of one FlyCapture SDK context: created by create(), destroyed
// when the owner and everything it shared the context with are gone (the
// SDK frees the image buffers with the context, and samples may still show
// them). The SDK removes the context's bus callbacks with it. Movable, not
// copyable. A context is used from any thread the SDK allows; the owner
// itself keeps no other state.
#pragma once

#include "PGRFlyCapture.h"
#include "flycap/FlyCapCall.h"

#include <memory>

namespace orvex::flycap {

class SdkContext {
public:
    SdkContext() = default;
    // flycaptureCreateContext as a single call; the error reports `site`.
    static SdkContext create(const CallSite& site);
    // The last sharer's release calls flycaptureDestroyContext; a failure is
    // logged, never thrown.
    ~SdkContext() = default;

    SdkContext(SdkContext&& other) noexcept;
    SdkContext& operator=(SdkContext&& other) noexcept;
    SdkContext(const SdkContext&) = delete;
    SdkContext& operator=(const SdkContext&) = delete;

    FlyCaptureContext get() const { return _context; }
    // A share in the context's life, for what points into its buffers.
    std::shared_ptr<void> share() const { return _shared; }

private:
    explicit SdkContext(FlyCaptureContext context);

    FlyCaptureContext _context = nullptr;
    std::shared_ptr<void> _shared; // destroys _context with the last share
};

} // namespace orvex::flycap
