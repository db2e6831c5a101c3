// Register and user-memory reads and writes as bytes, a quadlet per bus
// transaction, most significant byte first.
#include "RawAccess.h"

#include "Arguments.h"

#include <string>

namespace orvex::python {
namespace {

namespace py = pybind11;

constexpr unsigned long kQuadlet = 4;
// Each quadlet is one bus transaction: a block this size already takes a
// real camera a noticeable time, and a larger length is a mistake.
constexpr long long kMaxRegisterBytes = 4096;

// The contiguous bytes of a bytes-like argument, released with the scope.
class ByteArgument {
public:
    ByteArgument(const py::handle& value, const char* what)
    {
        if (PyUnicode_Check(value.ptr()) || PyObject_GetBuffer(value.ptr(), &_view, PyBUF_SIMPLE) != 0) {
            PyErr_Clear();
            throw py::type_error(std::string(what) + " must be bytes, bytearray or memoryview, not " +
                                 std::string(py::str(value.get_type().attr("__name__"))));
        }
    }
    ~ByteArgument() { PyBuffer_Release(&_view); }
    ByteArgument(const ByteArgument&) = delete;
    ByteArgument& operator=(const ByteArgument&) = delete;

    const unsigned char* data() const { return static_cast<const unsigned char*>(_view.buf); }
    size_t size() const { return static_cast<size_t>(_view.len); }

private:
    Py_buffer _view{};
};

unsigned long registerOffset(const py::handle& value)
{
    const unsigned long offset = toU32(value, "register offset");
    if (offset % kQuadlet != 0) {
        throw py::value_error("register offset must be a multiple of 4, not " + std::to_string(offset));
    }
    return offset;
}

// Registers are quadlets: a block is a whole number of them, within the
// 32-bit register space.
void checkRegisterBlock(unsigned long offset, long long length)
{
    if (length <= 0 || length > kMaxRegisterBytes || length % kQuadlet != 0) {
        throw py::value_error("register length must be a multiple of 4 between 4 and " +
                              std::to_string(kMaxRegisterBytes) + ", not " + std::to_string(length));
    }
    if (static_cast<long long>(offset) + length - 1 > kU32Max) {
        throw py::value_error("register block of " + std::to_string(length) + " bytes at offset " +
                              std::to_string(offset) + " runs past the register space");
    }
}

// Quadlets travel most significant byte first, as on the bus.
py::bytes readRegisters(Camera& camera, const py::object& offsetArgument, const py::object& lengthArgument)
{
    const unsigned long offset = registerOffset(offsetArgument);
    const long long length = toInteger(lengthArgument, "register length");
    checkRegisterBlock(offset, length);
    IEEE1394Camera& cam = camera.camera();
    std::string data(static_cast<size_t>(length), '\0');
    for (size_t at = 0; at < data.size(); at += kQuadlet) {
        unsigned long value = 0;
        cam.readRegister(offset + at, value);
        for (size_t byte = 0; byte < kQuadlet; ++byte) {
            data[at + byte] = static_cast<char>((value >> (24 - 8 * byte)) & 0xFF);
        }
    }
    return py::bytes(data);
}

void writeRegisters(Camera& camera, const py::object& offsetArgument, const py::object& dataArgument)
{
    const unsigned long offset = registerOffset(offsetArgument);
    const ByteArgument data(dataArgument, "register data");
    checkRegisterBlock(offset, static_cast<long long>(data.size()));
    IEEE1394Camera& cam = camera.camera();
    for (size_t at = 0; at < data.size(); at += kQuadlet) {
        const uint32_t value = static_cast<uint32_t>(data.data()[at]) << 24 |
                               static_cast<uint32_t>(data.data()[at + 1]) << 16 |
                               static_cast<uint32_t>(data.data()[at + 2]) << 8 | data.data()[at + 3];
        cam.writeRegister(offset + at, value);
    }
}

// Only a size no memory could hold is refused before allocating: the
// library refuses a range past the end with its own text.
void checkUserMemoryRange(unsigned long offset, size_t size, IEEE1394Camera& cam)
{
    const unsigned long space = cam.getAvailableUserMemorySpace();
    if (size > space || offset > kU32Max - size) {
        throw BindingError("user memory holds " + std::to_string(space) + " bytes: " + std::to_string(size) +
                           " bytes at offset " + std::to_string(offset) + " do not fit");
    }
}

py::bytes readUserMemory(Camera& camera, const py::object& offsetArgument, const py::object& sizeArgument)
{
    const unsigned long offset = toU32(offsetArgument, "offset");
    const unsigned long size = toU32(sizeArgument, "size");
    IEEE1394Camera& cam = camera.camera();
    checkUserMemoryRange(offset, size, cam);
    std::string data(size, '\0');
    cam.readUserMemory(static_cast<unsigned>(offset), reinterpret_cast<unsigned char*>(data.data()),
                       static_cast<unsigned>(size));
    return py::bytes(data);
}

void writeUserMemory(Camera& camera, const py::object& offsetArgument, const py::object& dataArgument)
{
    const ByteArgument data(dataArgument, "user memory data");
    const unsigned long offset = toU32(offsetArgument, "offset");
    IEEE1394Camera& cam = camera.camera();
    checkUserMemoryRange(offset, data.size(), cam);
    cam.writeUserMemory(static_cast<unsigned>(offset), data.data(), static_cast<unsigned>(data.size()));
}

} // namespace

void bindRawAccess(py::class_<Camera, std::shared_ptr<Camera>>& cls)
{
    cls.def("read_register", &readRegisters, py::arg("offset"), py::arg("length") = 4,
            "Reads `length` bytes (whole quadlets) of the camera's register space from `offset`, each "
            "quadlet most significant byte first.")
        .def("write_register", &writeRegisters, py::arg("offset"), py::arg("data"),
             "Writes bytes (whole quadlets, most significant byte first) into the camera's register space "
             "from `offset`, one quadlet after the other.")
        .def(
            "read_quadlet",
            [](Camera& c, const py::object& offset) {
                unsigned long value = 0;
                c.camera().readRegister(registerOffset(offset), value);
                return value;
            },
            py::arg("offset"), "Reads one register quadlet as an int.")
        .def(
            "write_quadlet",
            [](Camera& c, const py::object& offset, const py::object& value) {
                const unsigned long at = registerOffset(offset);
                c.camera().writeRegister(at, toU32(value, "quadlet value"));
            },
            py::arg("offset"), py::arg("value"), "Writes one register quadlet given as an int.")
        .def_property_readonly("user_memory_size",
                               [](Camera& c) { return c.camera().getAvailableUserMemorySpace(); })
        .def("read_user_memory", &readUserMemory, py::arg("offset"), py::arg("size"),
             "Reads user memory as bytes.")
        .def("write_user_memory", &writeUserMemory, py::arg("offset"), py::arg("data"),
             "Writes bytes into user memory.");
}

} // namespace orvex::python
