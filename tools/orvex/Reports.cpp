// The tool's camera list and camera report: what `list` and `info` print.
#include "Reports.h"

#include <orvex/BCAMCamera.h>
#include <orvex/OrvexError.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

namespace orvex::cli {
namespace {

constexpr const char* kUnknown = "?";

// The text of one value, or "?" when asking the camera fails; the reason is
// reported once, named after the value.
std::string valueOrUnknown(const std::function<std::string()>& read, const std::string& what,
                           std::ostream& errors)
{
    try {
        return read();
    } catch (const std::exception& error) {
        errors << "orvex: " << what << ": " << error.what() << "\n";
        return kUnknown;
    }
}

void printTable(const std::vector<std::vector<std::string>>& rows, std::ostream& out)
{
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        out << line << "\n";
    }
}

// The camera interface's default refuses the question itself ("auto-exposure
// feature not supported"): a camera without the feature answers by refusing.
bool hasAutoExposure(IEEE1394Camera& camera)
{
    try {
        return camera.isAutoExposureFeatureSupported();
    } catch (const OrvexError&) {
        return false;
    }
}

std::string guidText(IEEE1394Camera& camera)
{
    return "0x" + camera.getUniqueId().to_string();
}

// The extended version text: from the smart feature when the camera has it,
// else from the camera's version register (which needs an initialised camera).
std::string firmwareText(IEEE1394Camera& camera)
{
    std::string version;
    if (camera.getExtendedVersionInfo(version) || camera.getCameraExtendedVersionInfo(version)) {
        return version;
    }
    return kUnknown;
}

std::string sizeText(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string pixelFormatText(IEEECameraPixelFormat format)
{
    switch (format) {
    case pf_yMono:
        return "8-bit mono";
    case pf_yMono16:
        return "16-bit mono";
    default:
        return "format " + std::to_string(static_cast<int>(format));
    }
}

std::string fixed(double value, int decimals)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

class Section {
public:
    Section(const std::string& title, std::ostream& out, std::ostream& errors) : _out(out), _errors(errors)
    {
        _out << title << "\n";
    }
    void line(const std::string& label, const std::function<std::string()>& read)
    {
        _out << "  " << std::left << std::setw(18) << (label + ":") << valueOrUnknown(read, label, _errors)
             << "\n";
    }

private:
    std::ostream& _out;
    std::ostream& _errors;
};

// One line per strobe output port: its state and, when on, its timing.
void printStrobes(IEEE1394Camera& camera, std::ostream& out, std::ostream& errors)
{
    Section strobes("strobe outputs", out, errors);
    const unsigned long count = camera.getNbStrobeOutputPorts();
    if (count == 0) {
        strobes.line("ports", [] { return std::string("none"); });
        return;
    }
    for (unsigned long index = 0; index < count; ++index) {
        const unsigned long port = camera.getStrobeOutputPortId(index);
        strobes.line("port " + std::to_string(port), [&] {
            if (!camera.isStrobeOutputEnabled(port)) {
                return std::string("off");
            }
            return std::string("on, ") +
                   (camera.getStrobeOutputPolarity(port) ? "active high" : "active low") + ", delay " +
                   std::to_string(camera.getStrobeOutputDelay(port)) + " us, duration " +
                   std::to_string(camera.getStrobeOutputDuration(port)) + " us";
        });
    }
}

} // namespace

void printCameraList(const Session& session, std::ostream& out, std::ostream& errors)
{
    struct Row {
        IEEE1394Camera* camera;
        const std::string* failure; // null: initialised
    };
    std::vector<Row> listed;
    for (IEEE1394Camera* camera : session.cameras()) {
        listed.push_back({camera, nullptr});
    }
    for (const Session::Unavailable& u : session.unavailable()) {
        listed.push_back({u.camera, &u.reason});
    }
    std::stable_sort(listed.begin(), listed.end(), [](const Row& a, const Row& b) {
        return a.camera->getPortIdx() < b.camera->getPortIdx();
    });
    const std::size_t count = listed.size();
    out << count << (count == 1 ? " camera" : " cameras") << " on " << session.where();
    if (!session.unavailable().empty()) {
        out << ", " << session.unavailable().size() << " of them not initialised";
    }
    out << "\n";
    if (count == 0) {
        return;
    }
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"port", "GUID", "model", "vendor", "bus", "firmware", "user memory"});
    for (const Row& row : listed) {
        IEEE1394Camera& camera = *row.camera;
        const std::string port = std::to_string(camera.getPortIdx());
        const std::string name = "camera " + port;
        std::vector<std::string> cells = {
            port,
            guidText(camera),
            valueOrUnknown([&] { return camera.getModelName(); }, name + " model", errors),
            valueOrUnknown([&] { return camera.getVendorName(); }, name + " vendor", errors),
            valueOrUnknown([&] { return camera.getOwningBusId(); }, name + " bus", errors),
        };
        if (row.failure != nullptr) {
            cells.push_back("cannot be initialised: " + *row.failure);
        } else {
            cells.push_back(valueOrUnknown([&] { return firmwareText(camera); }, name + " firmware", errors));
            cells.push_back(valueOrUnknown(
                [&] { return std::to_string(camera.getAvailableUserMemorySpace()) + " bytes"; },
                name + " user memory", errors));
        }
        rows.push_back(std::move(cells));
    }
    printTable(rows, out);
}

void printCameraInfo(IEEE1394Camera& camera, std::ostream& out, std::ostream& errors)
{
    Section identity("camera at port " + std::to_string(camera.getPortIdx()), out, errors);
    identity.line("GUID", [&] { return guidText(camera); });
    identity.line("model", [&] { return camera.getModelName(); });
    identity.line("vendor", [&] { return camera.getVendorName(); });
    identity.line("bus", [&] { return camera.getOwningBusId(); });
    identity.line("firmware", [&] { return firmwareText(camera); });
    identity.line("user memory",
                  [&] { return std::to_string(camera.getAvailableUserMemorySpace()) + " bytes"; });

    Section geometry("geometry", out, errors);
    geometry.line("maximum size", [&] {
        int width = 0, height = 0;
        camera.getMaxSize(width, height);
        return sizeText(width, height);
    });
    geometry.line("size unit", [&] {
        int width = 0, height = 0;
        camera.getUnitSize(width, height);
        return sizeText(width, height);
    });
    geometry.line("position unit", [&] {
        int x = 0, y = 0;
        camera.getUnitPos(x, y);
        return sizeText(x, y);
    });
    geometry.line("image area", [&] {
        int width = 0, height = 0, x = 0, y = 0;
        camera.getSize(width, height);
        camera.getPos(x, y);
        return sizeText(width, height) + " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    });
    geometry.line("pixel format", [&] {
        std::string text = pixelFormatText(camera.getPixelFormat());
        if (camera.isPixelFormatSupported(pf_yMono16)) {
            text += " (16-bit mono offered)";
        }
        return text;
    });
    geometry.line("bytes per frame", [&] {
        unsigned long nbBytes = 0, second = 0;
        camera.getNbBytesPerFrame(nbBytes, second);
        return std::to_string(nbBytes);
    });

    Section packets("packets", out, errors);
    packets.line("bytes per packet", [&] { return std::to_string(camera.getNbBytesPerPacket()); });
    packets.line("minimum", [&] { return std::to_string(camera.getMinNbBytesPerPacket()); });
    packets.line("unit", [&] { return std::to_string(camera.getUnitNbBytesPerPacket()); });
    packets.line("maximum", [&] { return std::to_string(camera.getMaxNbBytesPerPacket()); });

    Section trigger("trigger", out, errors);
    trigger.line("modes", [&] {
        std::string text;
        for (const CameraTriggerMode mode : {camtm_exposureTimed, camtm_triggerWidth}) {
            if (camera.isTriggerModeSupported(mode)) {
                text += (text.empty() ? "" : ", ") + to_string(mode);
            }
        }
        return text.empty() ? std::string("none") : text;
    });
    trigger.line("mode", [&] { return to_string(camera.getTriggerMode()); });
    trigger.line("polarity",
                 [&] { return std::string(camera.getPolarity() ? "rising edge" : "falling edge"); });
    trigger.line("state", [&] { return std::string(camera.isTriggerTurnedOn() ? "on" : "off"); });

    Section exposure("exposure", out, errors);
    // The BCAM stack gives shutter and gain in the camera's raw units.
    if (dynamic_cast<BCAMCamera*>(&camera) != nullptr) {
        exposure.line("shutter", [&] {
            return std::to_string(camera.getShutter()) + " raw (" + std::to_string(camera.getShutterMin()) +
                   " to " + std::to_string(camera.getShutterMax()) + "), offset " +
                   fixed(camera.getShutterOffset() * 1e6, 1) + " us";
        });
        exposure.line("gain", [&] {
            return std::to_string(camera.getGain(gainsel_main)) + " raw (" +
                   std::to_string(camera.getGainMin(gainsel_main)) + " to " +
                   std::to_string(camera.getGainMax(gainsel_main)) + ")";
        });
    } else {
        exposure.line("shutter", [&] {
            return std::to_string(camera.getShutter()) + " us (" + std::to_string(camera.getShutterMin()) +
                   " to " + std::to_string(camera.getShutterMax()) + " us)";
        });
        exposure.line("gain", [&] {
            if (camera.isGainValueIgnored(gainsel_main)) {
                return std::string("automatic");
            }
            return fixed(static_cast<double>(camera.getGain(gainsel_main)) / 10.0, 1) + " dB (" +
                   fixed(static_cast<double>(camera.getGainMin(gainsel_main)) / 10.0, 1) + " to " +
                   fixed(static_cast<double>(camera.getGainMax(gainsel_main)) / 10.0, 1) + " dB)";
        });
    }
    if (camera.isBrightnessFeatureSupported()) {
        exposure.line("brightness", [&] {
            return fixed(camera.getBrightness(), 2) + " (" + fixed(camera.getBrightnessMin(), 2) + " to " +
                   fixed(camera.getBrightnessMax(), 2) + ")";
        });
    }
    if (camera.isFrameRateFeatureAvailable()) {
        exposure.line("frame rate", [&] {
            const std::string range =
                fixed(camera.getFrameRateMin(), 2) + " to " + fixed(camera.getFrameRateMax(), 2) + " fps";
            return camera.isFrameRateFeatureEnabled()
                       ? fixed(camera.getFrameRate(), 2) + " fps (" + range + ")"
                       : "off (" + range + ")";
        });
    }

    if (hasAutoExposure(camera)) {
        exposure.line("auto exposure",
                      [&] { return std::string(camera.isAutoExposureFeatureEnabled() ? "on" : "off"); });
    }

    printStrobes(camera, out, errors);

    Section sensor("sensor", out, errors);
    sensor.line("temperature", [&] {
        return camera.isTemperatureAvailable() ? fixed(camera.getTemperature(), 1) + " C"
                                               : std::string("not available");
    });
}

} // namespace orvex::cli
