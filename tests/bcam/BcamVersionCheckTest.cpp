// The driver version check on Open: 1.8 required, 1.7 and an unreadable
// version refused with their codes, a match remembered for the process.
#include "bcam/BcamClientFixture.h"

#include "bcam/client/DriverVersionCheck.h"

namespace orvex::bcam::test {
namespace {

using Bcam::BcamException;
using orvex::sim::bcam::DriverFileVersion;

BcamException openFailure(const std::string& path)
{
    Bcam::CBcamExtension device;
    try {
        device.Open(path);
    } catch (const BcamException& e) {
        EXPECT_FALSE(device.IsOpen());
        return e;
    }
    ADD_FAILURE() << "Open succeeded";
    return BcamException(0, "");
}

// Runs before any check can have matched: the tests of this executable run
// in order.
TEST_F(BcamClientTest, anOlderOrUnreadableDriverVersionRefusesToOpen)
{
    orvex::sim::bcam::installDriverFiles(DriverFileVersion::v1_7);
    const BcamException older = openFailure(pathOf(kA102fSerial));
    EXPECT_EQ(message::kVersionMismatch, older.Error());
    EXPECT_EQ("CDriverVersionCheck::Match", older.Context());
    EXPECT_EQ((std::vector<std::string>{"1.7", "1.8"}), older.Arguments());
    EXPECT_EQ("The BCAM driver has version 1.7; version 1.8 is required.\r\n", older.Description());

    orvex::sim::bcam::installDriverFiles(DriverFileVersion::missing);
    const BcamException unreadable = openFailure(pathOf(kA102fSerial));
    EXPECT_EQ(message::kUnexpected, unreadable.Error());
    EXPECT_EQ("CDriverVersionCheck::Match", unreadable.Context());
    EXPECT_EQ("Catastrophic failure\r\n", unreadable.Description());

    orvex::sim::bcam::installDriverFiles(DriverFileVersion::v1_8);
    win32::driver::deleteRegistryKey(HKEY_LOCAL_MACHINE, kServiceKey);
    EXPECT_EQ(message::kUnexpected, openFailure(pathOf(kA102fSerial)).Error()) << "no service key";
    win32::driver::setRegistryDword(HKEY_LOCAL_MACHINE, kServiceKey, "Start", 3);
    EXPECT_EQ(message::kUnexpected, openFailure(pathOf(kA102fSerial)).Error()) << "no image path";
    win32::driver::setRegistryDword(HKEY_LOCAL_MACHINE, kServiceKey, kImagePathValue, 5);
    EXPECT_EQ(message::kUnexpected, openFailure(pathOf(kA102fSerial)).Error()) << "an image path not a text";
}

TEST_F(BcamClientTest, theImagePathIsExpandedAndAMatchIsRemembered)
{
    // An absolute path through an environment variable.
    win32::driver::setRegistryString(HKEY_LOCAL_MACHINE, kServiceKey, kImagePathValue,
                                     "%SystemRoot%\\System32\\DRIVERS\\bcam.sys", REG_EXPAND_SZ);
    Bcam::CBcamExtension device;
    device.Open(pathOf(kA102fSerial));
    EXPECT_TRUE(device.IsOpen());

    // Remembered: an older driver found later no longer stops Open.
    orvex::sim::bcam::installDriverFiles(DriverFileVersion::v1_7);
    device.Open(pathOf(kA312fSerial));
    EXPECT_EQ("A312f", device.Info.ModelName());
    EXPECT_NO_THROW(Bcam::CDriverVersionCheck::Match());
}

} // namespace
} // namespace orvex::bcam::test
