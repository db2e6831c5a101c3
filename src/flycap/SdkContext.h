// Ownership of one FlyCapture SDK context: created by create(), destroyed
// with the owner. The SDK removes the context's bus callbacks with it.
// Movable, not copyable. A context is used from any thread the SDK allows;
// the owner itself keeps no other state.
#pragma once

#include "PGRFlyCapture.h"
#include "flycap/FlyCapCall.h"

namespace orvex::flycap {

class SdkContext {
public:
    SdkContext() = default;
    // flycaptureCreateContext as a single call; the error reports `site`.
    static SdkContext create(const CallSite& site);
    // flycaptureDestroyContext; a failure is logged, never thrown.
    ~SdkContext();

    SdkContext(SdkContext&& other) noexcept;
    SdkContext& operator=(SdkContext&& other) noexcept;
    SdkContext(const SdkContext&) = delete;
    SdkContext& operator=(const SdkContext&) = delete;

    FlyCaptureContext get() const { return _context; }

private:
    explicit SdkContext(FlyCaptureContext context) : _context(context) {}
    void destroy() noexcept;

    FlyCaptureContext _context = nullptr;
};

} // namespace orvex::flycap
