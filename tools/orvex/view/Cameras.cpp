// The cameras as the viewer shows them: readings, newest image, actions.
#include "view/Cameras.h"

#include "BusBudget.h"
#include "CommonOptions.h"
#include "Settings.h"
#include "view/Json.h"

#include <orvex/ImageSample.h>
#include <orvex/OrvexError.h>

#include <boost/program_options.hpp>

#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

namespace po = boost::program_options;

namespace orvex::cli {
namespace {

// A value longer than this is no setting of any camera.
constexpr std::size_t kLongestValue = 64;

// Reads one camera value for the state; null when the camera cannot give it.
template <class Read> std::string valueOrNull(Read read)
{
    try {
        return read();
    } catch (const std::exception&) {
        return "null";
    }
}

std::string inUnit(double libraryValue, const OptionUnit& unit)
{
    return jsonNumber(libraryValue / unit.libraryPerUnit);
}

bool isPrintable(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// What a setting made of several setter calls (region and packet, trigger
// mode, polarity and switch, frame rate and its control) changes, read
// before it is applied, so that a refusal halfway puts the camera back.
class SettingRollback {
public:
    SettingRollback(IEEE1394Camera& camera, const std::string& name) : _camera(camera)
    {
        try {
            if (name == "roi") {
                camera.getPos(_region.x, _region.y);
                camera.getSize(_region.width, _region.height);
                _region.packet = camera.getNbBytesPerPacket();
                _has = Kind::region;
            } else if (name == "trigger") {
                _trigger = Trigger{camera.isTriggerTurnedOn(), camera.getTriggerMode(), camera.getPolarity()};
                _has = Kind::trigger;
            } else if (name == "frame-rate" && camera.isFrameRateFeatureAvailable()) {
                _frameRate = FrameRate{camera.getFrameRate(), camera.isFrameRateFeatureEnabled()};
                _has = Kind::frameRate;
            }
        } catch (const std::exception&) {
            // Unreadable: nothing to put back; a single call cannot be half applied.
        }
    }

    // Best effort: the camera's refusal is what the user is told.
    void restore() noexcept
    {
        try {
            switch (_has) {
            case Kind::region:
                _camera.setRoi(_region.x, _region.y, _region.width, _region.height);
                _camera.setNbBytesPerPacket(_region.packet);
                break;
            case Kind::trigger:
                _camera.turnOnTrigger(false);
                _camera.setTriggerMode(_trigger.mode);
                _camera.setPolarity(_trigger.risingEdge);
                _camera.turnOnTrigger(_trigger.on);
                break;
            case Kind::frameRate:
                _camera.setFrameRate(_frameRate.rate);
                _camera.enableFrameRateFeature(_frameRate.enabled);
                break;
            case Kind::nothing:
                break;
            }
        } catch (const std::exception&) {
        }
    }

private:
    struct Region {
        int x = 0, y = 0, width = 0, height = 0, packet = 0;
    };
    struct Trigger {
        bool on = false;
        CameraTriggerMode mode = camtm_exposureTimed;
        bool risingEdge = true;
    };
    struct FrameRate {
        double rate = 0.0;
        bool enabled = false;
    };

    enum class Kind { nothing, region, trigger, frameRate };

    IEEE1394Camera& _camera;
    Kind _has = Kind::nothing;
    Region _region;
    Trigger _trigger;
    FrameRate _frameRate;
};

} // namespace

const std::vector<std::string>& viewSettingNames()
{
    static const std::vector<std::string> names = {
        "shutter", "gain", "frame-rate", "roi", "packet", "trigger", "strobe", "brightness", "auto-exposure"};
    return names;
}

CameraView::CameraView(IEEE1394Camera& camera, IEEE1394VideoServer& server, std::string id, std::string stack)
    : _camera(&camera), _server(server), _guid(camera.getUniqueId()), _name(std::move(id)),
      _stack(std::move(stack)), _port(camera.getPortIdx()), _units(exposureUnitsOf(camera))
{
    _model = valueOrNull([&] { return camera.getModelName(); });
    camera.setNewImageEvent(_newImage.get());
}

CameraView::~CameraView()
{
    if (_camera != nullptr)
        _camera->setNewImageEvent(nullptr);
}

void CameraView::checkStillThere()
{
    if (_camera == nullptr)
        return;
    std::set<CamGUID> guids;
    _server.getCamsList(guids);
    if (guids.count(_guid) == 0) {
        _camera = nullptr;
        _preview.clear();
    }
}

void CameraView::poll()
{
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - _rateSince).count();
    if (elapsed >= 1.0) {
        _fps = static_cast<double>(_rateCount) / elapsed;
        _rateCount = 0;
        _rateSince = now;
    }
    if (_camera == nullptr || !_camera->isAcquisitionStarted()) {
        _preview.clear();
        return;
    }
    const uint64_t receivedBefore = _received;
    boost::shared_ptr<ImageSample> newest;
    _camera->lockImagesBuffer();
    try {
        // Oldest first, so that the gaps between indexes count the drops.
        for (unsigned long pos = _camera->getImagesBufferSize(); pos-- > 0;) {
            const boost::shared_ptr<ImageSample> sample = _camera->getImagesBufferContent(pos);
            const auto idx = static_cast<uint32_t>(sample->getIdx());
            if (_received > 0) {
                const uint32_t ahead = idx - _lastIdx; // modulo 2^32: the counter wraps
                if (ahead == 0 || ahead >= 0x80000000u)
                    continue;
                _drops += ahead - 1;
            }
            _lastIdx = idx;
            ++_received;
            ++_rateCount;
            _swDate = sample->getSWDate();
            double hw = 0.0;
            _hwDate = sample->getHWDate(hw) ? std::optional<double>(hw) : std::nullopt;
        }
        if (_received != receivedBefore)
            newest = _camera->getImagesBufferContent(0);
    } catch (...) {
        _camera->unlockImagesBuffer();
        throw;
    }
    _camera->unlockImagesBuffer();
    // A sample is never written once published and its share keeps the
    // pixels alive: encoded or copied after the unlock, so the acquisition
    // thread never waits on an encoding for the buffer's lock.
    if (newest)
        publishNewest(*newest);
}

void CameraView::publishNewest(const ImageSample& sample)
{
    if (!_preview.watched()) {
        _preview.clear();
        return;
    }
    const IImage* image = sample.getImage();
    if (image == nullptr)
        return;
    const GreyImage pixels{
        static_cast<const uint8_t*>(image->data()), static_cast<uint32_t>(image->size().width),
        static_cast<uint32_t>(image->size().height), static_cast<uint32_t>(image->bytesPerPixel())};
    const auto index = static_cast<uint32_t>(sample.getIdx());
    if (previewIsWholeImage(pixels.width, pixels.height, pixels.bytesPerPixel) &&
        _preview.publishEncoded(pixels, index))
        return;
    auto frame = std::make_shared<ViewFrame>(
        copyForView(pixels.pixels, pixels.width, pixels.height, pixels.bytesPerPixel, false));
    frame->index = index;
    _preview.publish(std::move(frame));
}

bool CameraView::acquiring() const
{
    return _camera != nullptr && _camera->isAcquisitionStarted();
}

std::optional<ViewFrame> CameraView::newestFrame(bool full, std::optional<uint32_t> known)
{
    if (_camera == nullptr || !_camera->isAcquisitionStarted())
        return std::nullopt;
    std::optional<ViewFrame> frame;
    // Copied while the buffer is locked: a dropped image's pixel buffer may
    // go back to the SDK for reuse even while a reference to the sample lives.
    _camera->lockImagesBuffer();
    try {
        if (_camera->getImagesBufferSize() > 0) {
            const boost::shared_ptr<ImageSample> sample = _camera->getImagesBufferContent(0);
            const IImage* image = sample->getImage();
            const auto idx = static_cast<uint32_t>(sample->getIdx());
            if (known == idx) {
                frame = ViewFrame{};
                frame->index = idx;
            } else if (image != nullptr) {
                frame = copyForView(static_cast<const uint8_t*>(image->data()),
                                    static_cast<uint32_t>(image->size().width),
                                    static_cast<uint32_t>(image->size().height),
                                    static_cast<uint32_t>(image->bytesPerPixel()), full);
                frame->index = idx;
            }
        }
    } catch (...) {
        _camera->unlockImagesBuffer();
        throw;
    }
    _camera->unlockImagesBuffer();
    return frame;
}

std::string CameraView::stateJson()
{
    std::ostringstream out;
    out << "{\"id\":" << jsonString(_name) << ",\"stack\":" << jsonString(_stack) << ",\"port\":" << _port
        << ",\"guid\":" << jsonString("0x" + _guid.to_string()) << ",\"model\":" << jsonString(_model)
        << ",\"present\":" << (_camera != nullptr ? "true" : "false");
    if (_camera == nullptr)
        return out.str() + "}";
    IEEE1394Camera& camera = *_camera;
    out << ",\"acquiring\":" << (camera.isAcquisitionStarted() ? "true" : "false")
        << ",\"received\":" << _received << ",\"drops\":" << _drops << ",\"fps\":" << jsonNumber(_fps)
        << ",\"index\":" << (_received > 0 ? std::to_string(_lastIdx) : "null")
        << ",\"swDate\":" << (_swDate ? jsonNumber(*_swDate) : "null")
        << ",\"hwDate\":" << (_hwDate ? jsonNumber(*_hwDate) : "null");
    // In the units the settings take on this camera, so that the page sends
    // back what it shows.
    const OptionUnit& shutter = _units.shutter;
    out << ",\"shutter\":"
        << valueOrNull([&] { return inUnit(static_cast<double>(camera.getShutter()), shutter); })
        << ",\"shutterRange\":" << valueOrNull([&] {
               return "[" + inUnit(static_cast<double>(camera.getShutterMin()), shutter) + "," +
                      inUnit(static_cast<double>(camera.getShutterMax()), shutter) + "]";
           })
        << ",\"shutterUnit\":" << jsonString(shutter.name);
    const OptionUnit& gain = _units.gain;
    out << ",\"gain\":"
        << valueOrNull([&] { return inUnit(static_cast<double>(camera.getGain(gainsel_main)), gain); })
        << ",\"gainRange\":" << valueOrNull([&] {
               return "[" + inUnit(static_cast<double>(camera.getGainMin(gainsel_main)), gain) + "," +
                      inUnit(static_cast<double>(camera.getGainMax(gainsel_main)), gain) + "]";
           })
        << ",\"gainUnit\":" << jsonString(gain.name);
    out << ",\"frameRate\":" << valueOrNull([&] {
        return camera.isFrameRateFeatureAvailable() ? jsonNumber(camera.getFrameRate()) : std::string("null");
    });
    out << ",\"roi\":" << valueOrNull([&] {
        int x = 0, y = 0, width = 0, height = 0;
        camera.getPos(x, y);
        camera.getSize(width, height);
        return "[" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(width) + "," +
               std::to_string(height) + "]";
    });
    out << ",\"packet\":" << valueOrNull([&] { return std::to_string(camera.getNbBytesPerPacket()); });
    out << ",\"trigger\":" << valueOrNull([&] {
        return camera.isTriggerTurnedOn() ? jsonString(to_string(camera.getTriggerMode()))
                                          : std::string("\"off\"");
    });
    out << ",\"softwareTrigger\":"
        << valueOrNull([&] { return std::string(camera.isSoftwareTriggerSupported() ? "true" : "false"); });
    out << "}";
    return out.str();
}

template <class Action> ActionResult CameraView::act(Action action)
{
    if (_camera == nullptr)
        return {ActionResult::Outcome::noCamera, "camera " + _name + " was removed"};
    try {
        action(*_camera);
    } catch (const std::exception& error) {
        return {ActionResult::Outcome::refused, error.what()};
    }
    return {};
}

ActionResult CameraView::applySetting(const std::string& name, const std::string& value)
{
    const auto& names = viewSettingNames();
    if (std::find(names.begin(), names.end(), name) == names.end())
        return {ActionResult::Outcome::badRequest, "unknown setting '" + name + "'"};
    if (value.empty() || value.size() > kLongestValue || !isPrintable(value))
        return {ActionResult::Outcome::badRequest, "--" + name + ": expected a value of at most " +
                                                       std::to_string(kLongestValue) +
                                                       " printable characters"};
    // The command line's own reading of the option, so that a value means
    // here what it means to `orvex info` and `orvex grab`.
    CameraSettings settings;
    try {
        po::options_description options;
        addSettingsOptions(options);
        const std::vector<std::string> args = {"--" + name, value};
        po::variables_map values;
        po::store(po::command_line_parser(args).options(options).run(), values);
        settings = readSettings(values);
    } catch (const UsageError& error) {
        return {ActionResult::Outcome::badRequest, error.what()};
    } catch (const po::error& error) {
        return {ActionResult::Outcome::badRequest, error.what()};
    }
    return act([&](IEEE1394Camera& camera) {
        SettingRollback rollback(camera, name);
        try {
            applySettings(camera, settings);
        } catch (const SettingError&) {
            rollback.restore();
            throw;
        }
    });
}

ActionResult CameraView::start()
{
    return act([&](IEEE1394Camera& camera) {
        if (camera.isAcquisitionStarted())
            return;
        switchOnImageStamps(camera);
        // The cameras already acquiring on its bus leave it what is left.
        if (const BusBudgetPlan plan = fitPacketsToBuses(_server, {&camera}, false); !plan.problems.empty())
            throw std::runtime_error(plan.problems.front());
        try {
            camera.startAcquisition();
        } catch (const std::exception&) {
            // A start that failed halfway may have left the camera marked as
            // acquiring, with its buffers queued: a stop returns them.
            if (camera.isAcquisitionStarted())
                camera.stopAcquisition();
            throw;
        }
        _preview.clear();
        _received = 0;
        _drops = 0;
        _swDate.reset();
        _hwDate.reset();
    });
}

ActionResult CameraView::stop() noexcept
{
    // Before the answer goes out: a page must not be shown an image after it.
    _preview.clear();
    return act([](IEEE1394Camera& camera) {
        if (camera.isAcquisitionStarted())
            camera.stopAcquisition();
    });
}

ActionResult CameraView::softwareTrigger()
{
    return act([](IEEE1394Camera& camera) { camera.softwareTrigger(); });
}

ViewCameras::ViewCameras(const std::vector<ViewStack>& stacks)
{
    for (const ViewStack& stack : stacks) {
        for (IEEE1394Camera* camera : stack.cameras) {
            _views.push_back(std::make_unique<CameraView>(
                *camera, *stack.server, stack.idPrefix + std::to_string(camera->getPortIdx()), stack.name));
        }
    }
}

ViewCameras::~ViewCameras()
{
    for (auto& view : _views)
        view->stop();
}

std::vector<HANDLE> ViewCameras::newImageEvents() const
{
    std::vector<HANDLE> events;
    for (const auto& view : _views) {
        if (const HANDLE event = view->newImageEvent())
            events.push_back(event);
    }
    return events;
}

void ViewCameras::forgetRemoved()
{
    for (auto& view : _views)
        view->checkStillThere();
}

void ViewCameras::poll()
{
    for (auto& view : _views) {
        view->checkStillThere();
        view->poll();
    }
}

CameraView* ViewCameras::find(const std::string& id)
{
    for (auto& view : _views) {
        if (view->id() == id)
            return view.get();
    }
    return nullptr;
}

PreviewSlot* ViewCameras::previewOf(const std::string& id)
{
    for (auto& view : _views) {
        if (view->id() == id)
            return &view->preview();
    }
    return nullptr;
}

void ViewCameras::setLiveEncoder(const PreviewSlot::LiveEncoder& encoder)
{
    for (const auto& view : _views)
        view->preview().setLiveEncoder(encoder);
}

std::string ViewCameras::stateJson()
{
    std::string out = "[";
    for (std::size_t i = 0; i < _views.size(); ++i)
        out += (i > 0 ? "," : "") + _views[i]->stateJson();
    return out + "]";
}

uint64_t ViewCameras::received() const
{
    uint64_t total = 0;
    for (const auto& view : _views)
        total += view->received();
    return total;
}

} // namespace orvex::cli
