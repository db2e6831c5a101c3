// The check that the installed BCAM driver is the version this client
// speaks to (1.8): its file is found through the service's "ImagePath" in
// the registry and its fixed version information is read.
//
// Threads: any thread. The remembered match is one interlocked flag; two
// threads checking at once may both read the file, which is harmless.
#pragma once

namespace Bcam {

class CDriverVersionCheck {
public:
    // Returns at once once a check has passed in this process. Otherwise
    // reads the driver's version: BcamException 0x4FF00019 with the found
    // and the required version ("%d.%d") when it differs, 0x8000FFFF when
    // it cannot be read (no service key, no file, no version resource).
    static void Match();
};

} // namespace Bcam
