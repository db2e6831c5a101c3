// `orvex grab`: acquires on one or several cameras, shows progress on a
// terminal, writes every K-th image as a PNG file, and ends with a summary
// per camera.
#include "commands/Grab.h"

#include "BusBudget.h"
#include "Event.h"
#include "PngWriter.h"
#include "Session.h"
#include "SimulatedWorld.h"
#include "Terminal.h"

#include <orvex/ImageSample.h>
#include <orvex/OrvexError.h>

#include <boost/program_options.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>

namespace po = boost::program_options;

namespace orvex::cli::commands::grab {

const char* const kSummary = "  grab CAMERAS   acquire until --count images or --seconds (or Ctrl-C) and\n"
                             "                 summarise; CAMERAS is CAMERA, CAMERA,CAMERA... or all\n";

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

// Cameras that cannot start together on their bus; the lines are printed.
struct BusBudgetExceeded {
    int status;
};

void onInterrupt(int)
{
    g_interrupted = 1;
}

// Ctrl-C ends the grab, not the tool, for as long as the grab runs.
class InterruptGuard {
public:
    InterruptGuard() : _previous(std::signal(SIGINT, &onInterrupt)) { g_interrupted = 0; }
    ~InterruptGuard() { std::signal(SIGINT, _previous); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    void (*_previous)(int);
};

// A cycle-time date repeats every 128 s.
constexpr double kHwDateWrapMs = 128000.0;

// One image to write, copied out of the buffer while it was locked.
struct Frame {
    unsigned long idx = 0;
    double swDate = 0.0;
    std::optional<double> hwDate;
    uint32_t width = 0, height = 0, bytesPerPixel = 1;
    std::vector<uint8_t> pixels;
};

class CameraGrab {
public:
    CameraGrab(IEEE1394Camera& camera, std::string name)
        : _camera(&camera), _guid(camera.getUniqueId()), _name(std::move(name)), _port(camera.getPortIdx())
    {
    }

    // Init and settings; the packet size may still change before start().
    IEEE1394Camera& prepare(const GrabRequest& request)
    {
        _request = &request;
        _camera->init();
        applySettings(*_camera, request.settings);
        switchOnImageStamps(*_camera);
        return *_camera;
    }

    void start()
    {
        _camera->setNewImageEvent(_event.get());
        _camera->startAcquisition();
        _started = std::chrono::steady_clock::now();
    }

    void stop() noexcept
    {
        if (_camera == nullptr)
            return;
        try {
            if (_camera->isAcquisitionStarted())
                _camera->stopAcquisition();
            _camera->setNewImageEvent(nullptr);
        } catch (const std::exception&) {
            // The summary says what was received; a stop failing changes nothing there.
        }
        _stopped = std::chrono::steady_clock::now();
    }

    // The server deletes a camera that left: forget it then.
    void checkStillThere(IEEE1394VideoServer& server)
    {
        if (_camera == nullptr)
            return;
        std::set<CamGUID> guids;
        server.getCamsList(guids);
        if (guids.count(_guid) == 0) {
            _camera = nullptr;
            _removed = true;
            _stopped = std::chrono::steady_clock::now();
        }
    }

    // Takes every image not seen yet, oldest first; writes the chosen ones.
    // Throws std::runtime_error when a file cannot be written.
    void collect()
    {
        if (_camera == nullptr || done())
            return;
        std::vector<Frame> toWrite;
        _camera->lockImagesBuffer();
        try {
            for (unsigned long pos = _camera->getImagesBufferSize(); pos-- > 0 && !done();) {
                const boost::shared_ptr<ImageSample> sample = _camera->getImagesBufferContent(pos);
                if (take(*sample))
                    toWrite.push_back(copyOf(*sample));
            }
        } catch (...) {
            _camera->unlockImagesBuffer();
            throw;
        }
        _camera->unlockImagesBuffer();
        for (const Frame& frame : toWrite)
            write(frame);
    }

    bool done() const { return _camera == nullptr || (_request->count && _received >= *_request->count); }
    uint64_t received() const { return _received; }
    uint64_t gaps() const { return _gaps; }

    // What was received goes to `out`; what was measured (drops, rate,
    // dates), which differs from run to run, to `measured`.
    void summarise(std::ostream& out, std::ostream& measured) const
    {
        const double seconds = std::chrono::duration<double>(_stopped - _started).count();
        const std::optional<uint64_t> sdkDropped = simulated::sdkDroppedImages(_guid);
        out << "camera " << _name << " (GUID " << _guid.to_string() << "): " << _received
            << " images received" << (_removed ? ", then removed" : "") << "\n";
        measured << "camera " << _name << ":\n";
        if (sdkDropped) {
            measured << "  dropped by the SDK:              " << *sdkDropped << "\n"
                     << "  dropped by the images buffer:    "
                     << (_gaps > *sdkDropped ? _gaps - *sdkDropped : 0) << "\n";
        } else {
            measured << "  missing indexes (SDK or buffer): " << _gaps << "\n";
        }
        measured << std::fixed << std::setprecision(2) << "  frames per second:               "
                 << (seconds > 0 ? static_cast<double>(_received) / seconds : 0.0) << "\n";
        if (_hwMinusSw) {
            measured << std::setprecision(3)
                     << "  hardware - software date spread: " << (_hwMinusSw->second - _hwMinusSw->first)
                     << " ms\n";
        }
        measured.unsetf(std::ios::floatfield);
    }

private:
    bool take(const ImageSample& sample)
    {
        const auto idx = static_cast<uint32_t>(sample.getIdx());
        if (_received > 0) {
            const uint32_t ahead = idx - _lastIdx; // modulo 2^32: the counter wraps
            if (ahead == 0 || ahead >= 0x80000000u)
                return false;
            _gaps += ahead - 1;
        }
        _lastIdx = idx;
        ++_received;
        noteDates(sample);
        return !_request->outDir.empty() && (_received - 1) % _request->every == 0;
    }

    void noteDates(const ImageSample& sample)
    {
        double hw = 0.0;
        if (!sample.getHWDate(hw))
            return;
        // Unwrapped, so that the spread measures jitter, not the 128 s wrap.
        if (_lastHw && hw + _hwWraps * kHwDateWrapMs < *_lastHw - kHwDateWrapMs / 2)
            ++_hwWraps;
        const double unwrapped = hw + _hwWraps * kHwDateWrapMs;
        _lastHw = unwrapped;
        const double difference = unwrapped - sample.getSWDate();
        if (!_hwMinusSw)
            _hwMinusSw = std::make_pair(difference, difference);
        _hwMinusSw->first = std::min(_hwMinusSw->first, difference);
        _hwMinusSw->second = std::max(_hwMinusSw->second, difference);
    }

    static Frame copyOf(const ImageSample& sample)
    {
        Frame frame;
        frame.idx = sample.getIdx();
        frame.swDate = sample.getSWDate();
        double hw = 0.0;
        if (sample.getHWDate(hw))
            frame.hwDate = hw;
        const IImage* image = sample.getImage();
        frame.width = static_cast<uint32_t>(image->size().width);
        frame.height = static_cast<uint32_t>(image->size().height);
        frame.bytesPerPixel = static_cast<uint32_t>(image->bytesPerPixel());
        const auto* data = static_cast<const uint8_t*>(image->data());
        frame.pixels.assign(data, data + size_t{frame.width} * frame.height * frame.bytesPerPixel);
        return frame;
    }

    void write(const Frame& frame)
    {
        std::ostringstream path;
        path << _request->outDir << "/cam" << _port << "-" << std::setw(10) << std::setfill('0') << frame.idx
             << ".png";
        PngText text = {{"Camera", _guid.to_string()},
                        {"Index", std::to_string(frame.idx)},
                        {"Software date (ms)", std::to_string(frame.swDate)}};
        if (frame.hwDate)
            text.emplace_back("Hardware date (ms)", std::to_string(*frame.hwDate));
        writeGreyPng(path.str(), {frame.pixels.data(), frame.width, frame.height, frame.bytesPerPixel}, text);
    }

    IEEE1394Camera* _camera;
    CamGUID _guid;
    std::string _name;
    unsigned short _port;
    const GrabRequest* _request = nullptr;
    Event _event;
    uint64_t _received = 0;
    uint64_t _gaps = 0;
    uint32_t _lastIdx = 0;
    std::optional<double> _lastHw;
    int _hwWraps = 0;
    std::optional<std::pair<double, double>> _hwMinusSw;
    bool _removed = false;
    std::chrono::steady_clock::time_point _started, _stopped;
};

std::vector<std::string> cameraNames(Session& session, const GrabRequest& request)
{
    if (request.cameras.size() == 1 && request.cameras.front() == "all") {
        std::vector<std::string> names;
        names.reserve(static_cast<size_t>(std::max(0, session.server().getNbCameras())));
        for (int port = 0; port < session.server().getNbCameras(); ++port)
            names.push_back(std::to_string(port));
        return names;
    }
    return request.cameras;
}

void showProgress(const std::vector<std::unique_ptr<CameraGrab>>& grabs, double seconds, std::ostream& out)
{
    uint64_t received = 0, missing = 0;
    for (const auto& g : grabs) {
        received += g->received();
        missing += g->gaps();
    }
    out << "\rimages " << received << "  rate " << std::fixed << std::setprecision(1)
        << (seconds > 0 ? static_cast<double>(received) / seconds : 0.0) << "/s  dropped " << missing << "   "
        << std::flush;
    out.unsetf(std::ios::floatfield);
}

int acquire(Session& session, const GrabRequest& request, std::ostream& out, std::ostream& err)
{
    std::vector<std::unique_ptr<CameraGrab>> grabs;
    for (const std::string& name : cameraNames(session, request)) {
        IEEE1394Camera* camera = session.findCamera(name);
        if (camera == nullptr) {
            err << "orvex: no camera " << name << " (try 'orvex list')\n";
            return 1;
        }
        grabs.push_back(std::make_unique<CameraGrab>(*camera, name));
    }
    if (grabs.empty()) {
        err << "orvex: no camera to grab from\n";
        return 1;
    }

    const InterruptGuard interrupt;
    const bool terminal = isTerminal(stderr);
    std::clock_t cpuStart = 0;
    bool started = false;
    int status = 0;
    try {
        std::vector<IEEE1394Camera*> cameras;
        cameras.reserve(grabs.size());
        for (auto& g : grabs)
            cameras.push_back(&g->prepare(request));
        // Several cameras of one bus would otherwise ask more than it carries.
        const BusBudgetPlan plan =
            fitPacketsToBuses(session.server(), cameras, request.settings.packetBytes.has_value());
        for (const std::string& note : plan.notes)
            err << "orvex: " << note << "\n";
        for (const std::string& problem : plan.problems)
            err << "orvex: " << problem << "\n";
        if (!plan.problems.empty())
            throw BusBudgetExceeded{request.settings.packetBytes ? 2 : 1};
        started = true;
        for (auto& g : grabs)
            g->start();
        // Counted from the first image on: init and start are not the grab.
        cpuStart = std::clock();
        const auto start = std::chrono::steady_clock::now();
        auto lastProgress = start;
        while (!g_interrupted) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            session.pumpMessages();
            bool allDone = true;
            for (auto& g : grabs) {
                g->checkStillThere(session.server());
                g->collect();
                allDone = allDone && g->done();
            }
            const auto now = std::chrono::steady_clock::now();
            const double elapsed = std::chrono::duration<double>(now - start).count();
            if (allDone || (request.seconds && elapsed >= *request.seconds))
                break;
            if (terminal && now - lastProgress > std::chrono::milliseconds(500)) {
                showProgress(grabs, elapsed, err);
                lastProgress = now;
            }
        }
    } catch (const BusBudgetExceeded& exceeded) {
        status = exceeded.status;
    } catch (const Error& error) {
        err << "orvex: " << error.what() << "\n";
        status = 1;
    } catch (const SettingLimitError& error) {
        err << "orvex: " << error.what() << "\n";
        status = 2;
    } catch (const SettingError& error) {
        err << "orvex: " << error.what() << "\n";
        status = 1;
    } catch (const std::runtime_error& error) {
        // A file that could not be written: the grab stops there.
        err << "orvex: " << error.what() << "\n";
        status = 1;
    }
    for (auto& g : grabs)
        g->stop();
    // A run refused before any camera started received nothing to report:
    // the error alone says what happened.
    if (!started)
        return status;
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    if (terminal)
        err << "\n";
    uint64_t received = 0;
    for (const auto& g : grabs) {
        g->summarise(out, err);
        received += g->received();
    }
    err << std::fixed << std::setprecision(3)
        << "CPU per image (whole process): " << (received > 0 ? cpuMs / static_cast<double>(received) : 0.0)
        << " ms\n";
    return status;
}

std::vector<std::string> splitAtCommas(const std::string& text)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        if (part.empty()) {
            throw UsageError("empty camera name in '" + text + "'");
        }
        parts.push_back(part);
    }
    return parts;
}

// A count as the user types it: digits only. The option parser's own
// reading would wrap "-1" to the largest unsigned value.
unsigned long wholeNumber(const po::variables_map& values, const char* option, unsigned long fallback)
{
    if (!values.count(option)) {
        return fallback;
    }
    const std::string& text = values[option].as<std::string>();
    const bool digits =
        !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoull(text) > 0xFFFFFFFFull) {
        throw UsageError(std::string("--") + option + " '" + text +
                         "': expected a whole number from 0 to 4294967295");
    }
    return static_cast<unsigned long>(std::stoull(text));
}

} // namespace

void addOptions(po::options_description& options)
{
    po::options_description grabbing("Options of grab");
    grabbing.add_options()                                                                     //
        ("count", po::value<std::string>()->value_name("N"), "stop after N images per camera") //
        ("out", po::value<std::string>(), "write images as PNG files into this folder")        //
        ("every", po::value<std::string>()->value_name("K"), "write every K-th image only")    //
        ("variant", po::value<std::string>()->default_value("normal"),
         "acquisition thread: normal (the SDK's buffers) or wow64 (copies; simulator only)");
    options.add(grabbing);
}

Options parse(const CommandLineValues& line)
{
    if (!line.camera) {
        throw UsageError("grab needs cameras: port indexes or GUIDs separated by commas, or all");
    }
    const po::variables_map& values = line.values;
    Options options{line.common, {}, "normal"};
    GrabRequest& grab = options.request;
    grab.cameras = splitAtCommas(*line.camera);
    if (values.count("count")) {
        grab.count = wholeNumber(values, "count", 0);
    }
    if (values.count("seconds")) {
        grab.seconds = values["seconds"].as<double>();
        if (!(*grab.seconds > 0.0 && std::isfinite(*grab.seconds))) {
            throw UsageError("--seconds must be positive");
        }
    }
    if (grab.count && grab.seconds) {
        throw UsageError("--count and --seconds exclude each other");
    }
    if (values.count("out")) {
        grab.outDir = values["out"].as<std::string>();
    }
    grab.every = wholeNumber(values, "every", 1);
    if (grab.every == 0) {
        throw UsageError("--every must be at least 1");
    }
    options.variant = values["variant"].as<std::string>();
    if (options.variant != "normal" && options.variant != "wow64") {
        throw UsageError("--variant is normal or wow64");
    }
    grab.settings = line.settings;
    return options;
}

int run(const Options& options)
{
    if (const int refused = checkStack(options.common, StackUse{}))
        return refused;
    if (!simulated::chooseVariant(options.variant)) {
        std::cerr << "orvex: the variant follows the process here; --variant " << options.variant
                  << " cannot be chosen\n";
        return kExitUsage;
    }
    const std::string& outDir = options.request.outDir;
    if (!outDir.empty()) {
        if (!canWritePng()) {
            std::cerr << "orvex: this build cannot write PNG files (built without libpng)\n";
            return kExitFailure;
        }
        std::error_code error;
        std::filesystem::create_directories(outDir, error);
        if (error) {
            std::cerr << "orvex: cannot create " << outDir << ": " << error.message() << "\n";
            return kExitFailure;
        }
    }
    Session session(backendOf(options.common), false);
    return acquire(session, options.request, std::cout, std::cerr);
}

} // namespace orvex::cli::commands::grab
