// The simulated world's controls, for scripts tested without a camera.
#include "Errors.h"
#include "Sync.h"

#include <pybind11/stl.h>

#if defined(ORVEX_PYTHON_OVER_SIMULATOR)
#include <orvex/sim/World.h>
#endif

#include <cmath>
#include <cstdint>
#include <string>

namespace orvex::python {

namespace py = pybind11;

#if defined(ORVEX_PYTHON_OVER_SIMULATOR)
namespace {

uint32_t serialOf(long long serial)
{
    if (serial <= 0 || serial > 0xFFFFFFFFLL) {
        throw py::value_error("serial number must be between 1 and 4294967295");
    }
    return static_cast<uint32_t>(serial);
}

int busOf(long long bus)
{
    if (bus < 0 || bus > 0x7FFFFFFFLL) {
        throw py::value_error("bus number must be between 0 and 2147483647");
    }
    return static_cast<int>(bus);
}

} // namespace

void bindSimulator(py::module_& m)
{
    using orvex::sim::World;
    py::module_ sim = m.def_submodule("sim", "The simulated world's controls.");
    sim.def(
        "load_world",
        [](const std::string& path) {
            try {
                World::instance().loadFile(path);
            } catch (const std::runtime_error& error) {
                throw BindingError(error.what());
            }
        },
        py::arg("path"), "Replaces the world by the one a JSON world file describes (empty on a refusal).");
    sim.def(
        "load_default", [] { World::instance().loadDefault(); }, "Restores the built-in world.");
    sim.def(
        "unplug", [](long long serial) { World::instance().unplugCamera(serialOf(serial)); },
        py::arg("serial"), "Unplugs the camera with this serial number.");
    sim.def(
        "plug",
        [](long long serial, long long bus) { World::instance().plugCamera(serialOf(serial), busOf(bus)); },
        py::arg("serial"), py::arg("bus"), "Plugs an unplugged camera into a bus.");
    sim.def(
        "set_drift",
        [](long long bus, double ppm) {
            if (!std::isfinite(ppm) || std::fabs(ppm) > 1e6) {
                throw py::value_error("drift must be a finite number of ppm");
            }
            auto found = World::instance().bus(busOf(bus));
            if (!found) {
                throw py::value_error("no bus " + std::to_string(bus));
            }
            found->clock().setDriftPpm(ppm);
        },
        py::arg("bus"), py::arg("ppm"), "Sets a bus clock's drift in ppm.");
    sim.def(
        "connected",
        [] {
            std::vector<uint32_t> serials;
            for (const auto& camera : World::instance().connectedCameras()) {
                serials.push_back(camera->serialNumber());
            }
            return serials;
        },
        "Serial numbers of the connected cameras, in enumeration order.");
}
#else
void bindSimulator(py::module_& m)
{
    m.def_submodule("sim", "Not available: the library runs over the real stacks.");
}
#endif

} // namespace orvex::python
