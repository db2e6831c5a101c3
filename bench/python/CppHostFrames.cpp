// The C++ host path the Python module is measured against: one FlyCapture
// camera of the simulated world, new images through an event, each image
// read from the buffer and one pixel touched, as a Python script reading
// frame arrays does. Prints one line: frames, seconds, fps, CPU us/frame.
#include "ProcessFigures.h"

#include <orvex/orvex.h>

#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

struct Options {
    int camera = 0;
    int width = 640;
    int height = 480;
    unsigned long frames = 200;
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        char* end = nullptr;
        const unsigned long value = std::strtoul(argv[i + 1], &end, 10);
        if (*end != '\0' || value > 100000) {
            return false;
        }
        if (name == "--camera") {
            options.camera = static_cast<int>(value);
        } else if (value == 0) {
            return false;
        } else if (name == "--width") {
            options.width = static_cast<int>(value);
        } else if (name == "--height") {
            options.height = static_cast<int>(value);
        } else if (name == "--frames") {
            options.frames = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

// The waiting thread's own share, to tell the host's cost from the stack's.
double hostThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Reads every image newer than `last` and touches its first pixel.
unsigned long readNewImages(IEEE1394Camera& camera, uint32_t& last, bool& any, unsigned& checksum)
{
    unsigned long taken = 0;
    camera.lockImagesBuffer();
    for (unsigned long position = camera.getImagesBufferSize(); position-- > 0;) {
        boost::shared_ptr<ImageSample> sample = camera.getImagesBufferContent(position);
        const auto index = static_cast<uint32_t>(sample->getIdx());
        if (any && static_cast<int32_t>(index - last) <= 0) {
            continue;
        }
        any = true;
        last = index;
        checksum += *static_cast<const unsigned char*>(sample->getImage()->data());
        ++taken;
    }
    camera.unlockImagesBuffer();
    return taken;
}

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer logging;
    // Quiet, as the Python module leaves it: neither path builds log lines.
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    root.addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
    root.setLogLevel(log4cplus::OFF_LOG_LEVEL);
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: python_cpp_host_bench [--camera POSITION] [--width W] [--height H] [--frames N]\n");
        return 2;
    }
    try {
        IEEE1394VideoServer& server = createFlyCapVideoServer(true);
        server.reset(true);
        IEEE1394Camera& camera = server.getCamera(options.camera);
        camera.setRoi(0, 0, options.width, options.height);
        HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        camera.setNewImageEvent(event);
        camera.startAcquisition();
        const double cpu0 = orvex::bench::processCpuSeconds();
        const double host0 = hostThreadCpuSeconds();
        const double wall0 = orvex::bench::wallSeconds();
        unsigned long frames = 0;
        uint32_t last = 0;
        bool any = false;
        unsigned checksum = 0;
        while (frames < options.frames) {
            // A host that hears hot-plug dispatches while it waits, as the
            // Python module does.
            const DWORD woke = MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_ALLINPUT);
            if (woke == WAIT_OBJECT_0) {
                frames += readNewImages(camera, last, any, checksum);
                continue;
            }
            if (woke != WAIT_OBJECT_0 + 1) {
                std::fprintf(stderr, "python_cpp_host_bench: no image within 5 s\n");
                return 1;
            }
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&msg);
            }
        }
        const double wall = orvex::bench::wallSeconds() - wall0;
        const double cpu = orvex::bench::processCpuSeconds() - cpu0;
        const double host = hostThreadCpuSeconds() - host0;
        camera.stopAcquisition();
        camera.setNewImageEvent(nullptr);
        CloseHandle(event);
        destroyVideoServer();
        std::printf("frames %lu seconds %.3f fps %.2f cpu_us_per_frame %.1f host_thread_us_per_frame %.1f "
                    "checksum %u\n",
                    frames, wall, static_cast<double>(frames) / wall, cpu * 1e6 / static_cast<double>(frames),
                    host * 1e6 / static_cast<double>(frames), checksum);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "python_cpp_host_bench: %s\n", error.what());
        return 1;
    }
}
