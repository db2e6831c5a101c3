// The _orvex extension: listing, cameras, frames, synchronisation and the
// simulated world's controls. The orvex package wraps it (python/orvex).
#include "Arguments.h"
#include "Camera.h"
#include "Errors.h"
#include "FrameArray.h"
#include "FrameIterator.h"
#include "RawAccess.h"
#include "Session.h"
#include "Sync.h"

#include <pybind11/stl.h>

#include <log4cplus/appender.h>
#include <log4cplus/consoleappender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>

#include <cmath>
#include <limits>

namespace py = pybind11;
using namespace orvex::python;

namespace {

Stack stackOf(const std::string& backend)
{
    if (backend == "flycap") {
        return Stack::flycap;
    }
    if (backend == "bcam") {
        return Stack::bcam;
    }
    throw py::value_error("unknown back end '" + backend + "' (expected flycap, bcam or all)");
}

CamGUID guidOf(const std::string& text)
{
    CamGUID guid;
    try {
        guid.from_string(text);
    } catch (const std::invalid_argument&) {
        throw py::value_error("'" + text + "' is not a camera GUID");
    }
    return guid;
}

std::shared_ptr<Camera> openCamera(const py::object& what)
{
    if (py::isinstance<CameraEntry>(what)) {
        const auto& entry = what.cast<const CameraEntry&>();
        return std::make_shared<Camera>(entry.stack, guidOf(entry.guid));
    }
    if (py::isinstance<py::str>(what)) {
        const Stack stack = Session::instance().currentStack().value_or(Stack::flycap);
        return std::make_shared<Camera>(stack, guidOf(what.cast<std::string>()));
    }
    throw py::type_error("open() takes an entry of orvex.cameras() or a GUID string");
}

// A camera's trigger and strobes: views over the camera, checked at each use.
struct Trigger {
    std::shared_ptr<Camera> camera;
};
struct Strobe {
    std::shared_ptr<Camera> camera;
    unsigned long portId;
};
struct Strobes {
    std::shared_ptr<Camera> camera;
};

long timeoutMsOf(const py::object& timeout)
{
    if (timeout.is_none()) {
        return -1;
    }
    const double seconds = toFinite(timeout, "timeout");
    if (seconds <= 0.0 || seconds > 1e6) {
        throw py::value_error("timeout must be a positive number of seconds (at most 1000000) or None");
    }
    return static_cast<long>(std::ceil(seconds * 1000.0));
}

void bindIdentity(py::class_<Camera, std::shared_ptr<Camera>>& cls)
{
    cls.def_property_readonly("guid", &Camera::guidText, "The camera's GUID, 16 hexadecimal digits.")
        .def_property_readonly("backend", [](Camera& c) { return stackName(c.stack()); })
        .def_property_readonly("model", [](Camera& c) { return c.camera().getModelName(); })
        .def_property_readonly("vendor", [](Camera& c) { return c.camera().getVendorName(); })
        .def_property_readonly("bus", [](Camera& c) { return c.camera().getOwningBusId(); })
        .def_property_readonly("port", [](Camera& c) { return c.camera().getPortIdx(); })
        .def_property_readonly("firmware_version", [](Camera& c) { return c.camera().getFirmwareVersion(); })
        .def_property_readonly("closed", &Camera::isClosed);
}

void bindSettings(py::class_<Camera, std::shared_ptr<Camera>>& cls)
{
    cls.def_property(
           "shutter", [](Camera& c) { return c.camera().getShutter(); },
           [](Camera& c, const py::object& v) { c.camera().setShutter(toU32(v, "shutter")); },
           "Shutter, in the camera's register units.")
        .def_property_readonly("shutter_range",
                               [](Camera& c) {
                                   IEEE1394Camera& cam = c.camera();
                                   return py::make_tuple(cam.getShutterMin(), cam.getShutterMax());
                               })
        .def_property(
            "gain", [](Camera& c) { return c.camera().getGain(gainsel_main); },
            [](Camera& c, const py::object& v) {
                c.camera().setGain(static_cast<long>(inRange(v, "gain", kI32Min, kI32Max)), gainsel_main);
            },
            "Main gain, in the camera's register units.")
        .def_property_readonly("gain_range",
                               [](Camera& c) {
                                   IEEE1394Camera& cam = c.camera();
                                   return py::make_tuple(cam.getGainMin(gainsel_main),
                                                         cam.getGainMax(gainsel_main));
                               })
        .def_property(
            "roi",
            [](Camera& c) {
                IEEE1394Camera& cam = c.camera();
                int x = 0, y = 0, w = 0, h = 0;
                cam.getPos(x, y);
                cam.getSize(w, h);
                return py::make_tuple(x, y, w, h);
            },
            [](Camera& c, const py::object& roi) {
                if (!py::isinstance<py::tuple>(roi) && !py::isinstance<py::list>(roi)) {
                    throw py::type_error("roi must be a tuple (x, y, width, height)");
                }
                const py::sequence items = roi;
                if (items.size() != 4) {
                    throw py::value_error("roi must have four items (x, y, width, height)");
                }
                const char* names[4] = {"roi x", "roi y", "roi width", "roi height"};
                int v[4];
                for (size_t i = 0; i < 4; ++i) {
                    v[i] = static_cast<int>(inRange(items[i], names[i], 0, kI32Max));
                }
                c.camera().setRoi(v[0], v[1], v[2], v[3]);
            },
            "Region of interest (x, y, width, height) in pixels.")
        .def_property_readonly("max_size",
                               [](Camera& c) {
                                   int w = 0, h = 0;
                                   c.camera().getMaxSize(w, h);
                                   return py::make_tuple(w, h);
                               })
        .def_property(
            "pixel_format", [](Camera& c) { return c.camera().getPixelFormat(); },
            [](Camera& c, IEEECameraPixelFormat f) { c.camera().setPixelFormat(f); })
        .def_property(
            "frame_rate", [](Camera& c) { return c.camera().getFrameRate(); },
            [](Camera& c, const py::object& v) { c.camera().setFrameRate(toFinite(v, "frame_rate")); })
        .def_property(
            "packet_size", [](Camera& c) { return c.camera().getNbBytesPerPacket(); },
            [](Camera& c, const py::object& v) {
                c.camera().setNbBytesPerPacket(static_cast<int>(inRange(v, "packet_size", 0, kI32Max)));
            },
            "Bytes per isochronous packet.")
        .def_property_readonly("packet_size_range",
                               [](Camera& c) {
                                   IEEE1394Camera& cam = c.camera();
                                   return py::make_tuple(cam.getMinNbBytesPerPacket(),
                                                         cam.getMaxNbBytesPerPacket());
                               })
        .def_property_readonly("temperature", [](Camera& c) { return c.camera().getTemperature(); })
        .def_property(
            "images_buffer_max_size", [](Camera& c) { return c.camera().getImagesBufferMaxSize(); },
            [](Camera& c, const py::object& v) {
                c.camera().setImagesBufferMaxSize(toU32(v, "images_buffer_max_size"));
            })
        .def_property_readonly("trigger", [](std::shared_ptr<Camera> c) { return Trigger{std::move(c)}; })
        .def_property_readonly("strobe", [](std::shared_ptr<Camera> c) { return Strobes{std::move(c)}; })
        .def(
            "enable_smart_feature",
            [](Camera& c, SmartFeatureEnum feature, bool enable) {
                return c.camera().enableSmartFeature(feature, enable);
            },
            py::arg("feature"), py::arg("enable") = true,
            "Switches a smart feature (not while acquiring); True when the camera took it.")
        .def(
            "is_smart_feature_enabled",
            [](Camera& c, SmartFeatureEnum feature) { return c.camera().isSmartFeatureEnabled(feature); },
            py::arg("feature"));
}

void bindAcquisition(py::class_<Camera, std::shared_ptr<Camera>>& cls)
{
    cls.def("start", &Camera::start, "Starts acquisition.")
        .def("stop", &Camera::stop,
             "Stops acquisition; from another thread, ends the running frames() iteration instead.")
        .def_property_readonly("is_acquiring", &Camera::isAcquiring)
        .def(
            "frames",
            [](std::shared_ptr<Camera> c, const py::object& count, const py::object& timeout) {
                std::optional<long long> n;
                if (!count.is_none()) {
                    n = inRange(count, "count", 0, std::numeric_limits<long long>::max());
                }
                return newFrameIterator(std::move(c), n, timeoutMsOf(timeout));
            },
            py::arg("count") = py::none(), py::arg("timeout") = 5.0,
            "Yields the frames acquired from now on as read-only arrays over the camera's own pixels.")
        .def("close", &Camera::close, "Stops acquisition and lets the camera go.")
        .def("__enter__", [](std::shared_ptr<Camera> c) { return c; })
        .def("__exit__", [](Camera& c, const py::args&) {
            c.close();
            return false;
        });
}

void bindTriggerAndStrobes(py::module_& m)
{
    py::class_<Trigger>(m, "Trigger", "A camera's trigger input.")
        .def_property(
            "on", [](Trigger& t) { return t.camera->camera().isTriggerTurnedOn(); },
            [](Trigger& t, bool on) { t.camera->camera().turnOnTrigger(on); })
        .def_property(
            "mode", [](Trigger& t) { return t.camera->camera().getTriggerMode(); },
            [](Trigger& t, CameraTriggerMode mode) { t.camera->camera().setTriggerMode(mode); })
        .def_property(
            "polarity", [](Trigger& t) { return t.camera->camera().getPolarity(); },
            [](Trigger& t, bool rising) { t.camera->camera().setPolarity(rising); })
        .def("is_mode_supported",
             [](Trigger& t, CameraTriggerMode mode) {
                 return t.camera->camera().isTriggerModeSupported(mode);
             })
        .def("software_trigger", [](Trigger& t) { t.camera->camera().softwareTrigger(); });

    py::class_<Strobe>(m, "Strobe", "One strobe output port.")
        .def_readonly("port_id", &Strobe::portId)
        .def_property(
            "enabled", [](Strobe& s) { return s.camera->camera().isStrobeOutputEnabled(s.portId); },
            [](Strobe& s, bool on) { s.camera->camera().enableStrobeOutput(s.portId, on); })
        .def_property(
            "polarity", [](Strobe& s) { return s.camera->camera().getStrobeOutputPolarity(s.portId); },
            [](Strobe& s, bool p) { s.camera->camera().setStrobeOutputPolarity(s.portId, p); })
        .def_property(
            "delay", [](Strobe& s) { return s.camera->camera().getStrobeOutputDelay(s.portId); },
            [](Strobe& s, const py::object& v) {
                s.camera->camera().setStrobeOutputDelay(s.portId, toU32(v, "strobe delay"));
            })
        .def_property(
            "duration", [](Strobe& s) { return s.camera->camera().getStrobeOutputDuration(s.portId); },
            [](Strobe& s, const py::object& v) {
                s.camera->camera().setStrobeOutputDuration(s.portId, toU32(v, "strobe duration"));
            });

    py::class_<Strobes>(m, "Strobes", "A camera's strobe output ports, by position.")
        .def("__len__", [](Strobes& s) { return s.camera->camera().getNbStrobeOutputPorts(); })
        .def("__getitem__", [](Strobes& s, const py::object& position) {
            IEEE1394Camera& cam = s.camera->camera();
            const unsigned long count = cam.getNbStrobeOutputPorts();
            const long long at = toInteger(position, "strobe position");
            if (at < 0 || static_cast<unsigned long long>(at) >= count) {
                throw py::index_error("strobe position " + std::to_string(at) +
                                      " out of range (the camera has " + std::to_string(count) + ")");
            }
            return Strobe{s.camera, cam.getStrobeOutputPortId(static_cast<unsigned long>(at))};
        });
}

void bindEnums(py::module_& m)
{
    py::enum_<CameraTriggerMode>(m, "TriggerMode")
        .value("exposure_timed", camtm_exposureTimed)
        .value("trigger_width", camtm_triggerWidth);
    py::enum_<ImageValidity>(m, "Validity")
        .value("valid", imgv_valid)
        .value("invalid", imgv_invalid)
        .value("not_checked", imgv_notChecked);
    py::enum_<IEEECameraPixelFormat>(m, "PixelFormat")
        .value("y_mono", pf_yMono)
        .value("yuv411", pf_yuv411)
        .value("yuv422", pf_yuv422)
        .value("yuv444", pf_yuv444)
        .value("rgb24", pf_rgb24)
        .value("rgb16_555", pf_rgb16_555)
        .value("rgb16_565", pf_rgb16_565)
        .value("rgb32", pf_rgb32)
        .value("y_mono16", pf_yMono16);
    py::enum_<SmartFeatureEnum>(m, "SmartFeature")
        .value("extended_data_stream", sf_extendedDataStream)
        .value("frame_counter", sf_frameCounter)
        .value("cycle_time_stamp", sf_cycleTimeStamp)
        .value("grey_level_values", sf_greyLevelValues)
        .value("dcam", sf_dcam)
        .value("shutter_time_base", sf_shutterTimeBase)
        .value("crc_checksum", sf_crcChecksum)
        .value("extended_version_info", sf_extendedVersionInfo)
        .value("lookup_table", sf_lookupTable)
        .value("gpio_status", sf_gpioStatus);
}

// The module is a host: log4cplus is quiet until the script asks for lines.
void setUpLogging(py::module_& m)
{
    log4cplus::initialize();
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    if (root.getAllAppenders().empty()) {
        root.addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
        root.setLogLevel(log4cplus::OFF_LOG_LEVEL);
    }
    m.def(
        "set_log_level",
        [](const std::string& name) {
            const log4cplus::LogLevel level = log4cplus::getLogLevelManager().fromString(name);
            if (level == log4cplus::NOT_SET_LOG_LEVEL) {
                throw py::value_error("unknown log level '" + name +
                                      "' (TRACE, DEBUG, INFO, WARN, ERROR, FATAL, OFF)");
            }
            static bool consoleAdded = false;
            log4cplus::Logger logger = log4cplus::Logger::getRoot();
            if (!consoleAdded) {
                logger.addAppender(log4cplus::SharedAppenderPtr(new log4cplus::ConsoleAppender(true)));
                consoleAdded = true;
            }
            logger.setLogLevel(level);
        },
        py::arg("level"), "Writes the library's log lines at this level and above to standard error.");
}

void bindListing(py::module_& m)
{
    py::class_<CameraEntry>(m, "CameraInfo", "One camera as the listing shows it.")
        .def_readonly("guid", &CameraEntry::guid)
        .def_readonly("model", &CameraEntry::model)
        .def_readonly("vendor", &CameraEntry::vendor)
        .def_readonly("bus", &CameraEntry::bus)
        .def_readonly("port", &CameraEntry::port)
        .def_property_readonly("backend", [](const CameraEntry& e) { return stackName(e.stack); })
        .def("__repr__", [](const CameraEntry& e) {
            return "<orvex.CameraInfo " + e.guid + " " + e.model + " (" + stackName(e.stack) + ", port " +
                   std::to_string(e.port) + ")>";
        });
    py::class_<DeviceEvent>(m, "DeviceEvent", "A camera's arrival or removal.")
        .def_readonly("kind", &DeviceEvent::kind)
        .def_readonly("name", &DeviceEvent::name)
        .def_property_readonly("backend", [](const DeviceEvent& e) { return stackName(e.stack); })
        .def("__repr__",
             [](const DeviceEvent& e) { return "<orvex.DeviceEvent " + e.kind + " " + e.name + ">"; });

    m.def(
        "cameras",
        [](const py::object& backend) {
            if (!py::isinstance<py::str>(backend)) {
                throw py::type_error("backend must be 'flycap', 'bcam' or 'all'");
            }
            const std::string name = backend.cast<std::string>();
            Session& session = Session::instance();
            if (name != "all") {
                return session.list(stackOf(name));
            }
            std::vector<CameraEntry> all = session.list(Stack::flycap);
            for (CameraEntry& entry : session.list(Stack::bcam)) {
                all.push_back(entry);
            }
            return all;
        },
        py::arg("backend") = "flycap", "Lists the cameras of a stack ('flycap', 'bcam' or 'all') afresh.");
    m.def("open", &openCamera, py::arg("camera"),
          "Opens and initialises a camera (an entry of cameras() or a GUID); use it with 'with'.");
    m.def(
        "pump", [](const py::object& seconds) { Session::instance().pump(toFinite(seconds, "seconds")); },
        py::arg("seconds") = 0.0,
        "Dispatches the library's messages (device changes, sync timers) for a while.");
    m.def("_take_events", [] { return Session::instance().takeEvents(); });
    m.def(
        "on_device_change",
        [](py::object callback) { Session::instance().setDeviceCallback(std::move(callback)); },
        py::arg("callback"), "Calls callback(event) on each arrival or removal (None: queue them instead).");
    m.def("_shutdown", [] { Session::instance().shutdown(); });
    m.def("_set_frame_type", &setFrameType);
    m.def("_frame_metadata", &frameMetadata);
}

} // namespace

PYBIND11_MODULE(_orvex, m)
{
    m.doc() = "Orvex IEEE 1394 cameras from Python";
    registerErrors(m);
    setUpLogging(m);
    bindEnums(m);
    bindListing(m);
    bindTriggerAndStrobes(m);
    py::class_<Camera, std::shared_ptr<Camera>> camera(m, "Camera", "An open camera.");
    bindIdentity(camera);
    bindSettings(camera);
    bindRawAccess(camera);
    bindAcquisition(camera);
    registerFrameIteratorType(m);
    registerFrameOwnerType();
    bindSync(m);
    bindSimulator(m);
}
