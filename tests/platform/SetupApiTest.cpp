// SetupAPI enumeration of device interfaces: the set, the members, the
// detail sizes and the cbSize rules.
#include <cstddef>
#include <vector>

#include "TestDriver.h"
#include "Win32TestSupport.h"

using namespace orvex::win32::test;

namespace {

// The paths of the present interfaces of a class, as the BCAM client lists
// them: size query, then the detail.
std::vector<std::string> enumeratePaths(const GUID& classGuid)
{
    std::vector<std::string> paths;
    HDEVINFO set = SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_NE(INVALID_HANDLE_VALUE, set);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &classGuid, i, &data); ++i) {
        DWORD size = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        std::vector<char> storage(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr));
        paths.emplace_back(detail->DevicePath);
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    return paths;
}

} // namespace

TEST(SetupApi, ListsThePresentInterfacesOfAClassInRegistrationOrder)
{
    EXPECT_TRUE(enumeratePaths(kTestInterfaceClass).empty());
    ScopedInterface first("1394#0030530000000001", std::make_shared<TestDevice>());
    ScopedInterface other("1394#00305300000000FF", std::make_shared<TestDevice>(), kOtherInterfaceClass);
    ScopedInterface second("1394#0030530000000002", std::make_shared<TestDevice>());

    EXPECT_EQ("\\\\?\\1394#0030530000000001#{6f1d3a52-0c4b-4e1b-9a37-5b2e8c7d9f01}", first.path())
        << "the class GUID in lower case, as Windows writes interface paths";
    EXPECT_EQ((std::vector<std::string>{first.path(), second.path()}), enumeratePaths(kTestInterfaceClass));
    EXPECT_EQ(std::vector<std::string>{other.path()}, enumeratePaths(kOtherInterfaceClass));

    orvex::win32::driver::removeInterface(first.path());
    EXPECT_EQ(std::vector<std::string>{second.path()}, enumeratePaths(kTestInterfaceClass))
        << "a removed device is not present";
}

TEST(SetupApi, ASetIsASnapshot)
{
    auto late = std::make_unique<ScopedInterface>("1394#0030530000000003", std::make_shared<TestDevice>());
    HDEVINFO set =
        SetupDiGetClassDevsA(&kTestInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ScopedInterface after("1394#0030530000000004", std::make_shared<TestDevice>());
    late.reset();
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kTestInterfaceClass, 0, &data));
    EXPECT_TRUE(IsEqualGUID(kTestInterfaceClass, data.InterfaceClassGuid));
    EXPECT_EQ(static_cast<DWORD>(SPINT_ACTIVE), data.Flags & SPINT_ACTIVE);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kTestInterfaceClass, 1, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST(SetupApi, DetailSizesAndCbSizeRules)
{
    ScopedInterface device("1394#0030530000000005", std::make_shared<TestDevice>());
    HDEVINFO set =
        SetupDiGetClassDevsA(&kTestInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data - 1;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kTestInterfaceClass, 0, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), GetLastError());
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kTestInterfaceClass, 0, &data));

    const DWORD expected = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                              device.path().size() + 1);
    DWORD size = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(expected, size);

    std::vector<char> storage(size + 16, 'x');
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    size = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, expected - 1, &size, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(expected, size) << "a buffer one byte short reports the size too";

    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, expected, &size, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), GetLastError()) << "a size without a buffer";
    detail->cbSize = static_cast<DWORD>(expected); // the common mistake: the whole size
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, expected, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), GetLastError());

    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, expected, nullptr, nullptr));
    EXPECT_EQ(device.path(), detail->DevicePath);
    EXPECT_EQ('x', storage[expected]) << "nothing written past the path";
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST(SetupApi, RefusesWhatItDoesNotSupportAndStaleSets)
{
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              SetupDiGetClassDevsA(&kTestInterfaceClass, nullptr, nullptr, DIGCF_PRESENT));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    HDEVINFO set =
        SetupDiGetClassDevsA(&kTestInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kTestInterfaceClass, 0, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(Guid, TextIsTheRegistryForm)
{
    const GUID bcam = {0xD535C794, 0xA527, 0x4B72, {0x92, 0x3A, 0x63, 0x02, 0x9F, 0xA5, 0xD8, 0x3B}};
    EXPECT_EQ("{D535C794-A527-4B72-923A-63029FA5D83B}", orvex::win32::driver::guidText(bcam));
    EXPECT_TRUE(IsEqualGUID(bcam, bcam));
    EXPECT_FALSE(IsEqualGUID(bcam, kTestInterfaceClass));
}
