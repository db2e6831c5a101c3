// Descriptions of the client's failures: the message library first, then
// the system's table, and the two fallback texts.
#include "bcam/BcamClientFixture.h"

namespace orvex::bcam::test {
namespace {

using Bcam::BcamException;

TEST_F(BcamClientTest, descriptionsComeFromTheMessageLibraryThenTheSystem)
{
    EXPECT_EQ("The camera refused the value.\r\n", BcamException(error::kValueRefused, "x").Description());
    EXPECT_EQ("The BCAM driver has version 1.7; version 1.8 is required.\r\n",
              BcamException(message::kVersionMismatch, "x", {"1.7", "1.8"}).Description());
    EXPECT_EQ("The semaphore timeout period has expired.\r\n",
              BcamException(ERROR_SEM_TIMEOUT, "x").Description());
    EXPECT_EQ("Catastrophic failure\r\n", BcamException(message::kUnexpected, "x").Description());
    EXPECT_STREQ("The BCAM device is not open.\r\n", BcamException(message::kNotOpen, "x").what());
}

TEST_F(BcamClientTest, descriptionsFallBackWhenNoTableHasTheCodeOrTheInsertsAreMissing)
{
    EXPECT_EQ("<no message found>", BcamException(0xE00000FF, "x").Description());
    EXPECT_EQ("<unable to format message>", BcamException(message::kVersionMismatch, "x").Description());

    // Without the message library only the system's texts are left.
    win32::driver::removeMessageTable(kMessageLibrary);
    EXPECT_EQ("<no message found>", BcamException(error::kValueRefused, "x").Description());
    EXPECT_EQ("The I/O operation has been aborted because of either a thread exit or an application "
              "request.\r\n",
              BcamException(ERROR_OPERATION_ABORTED, "x").Description());
}

} // namespace
} // namespace orvex::bcam::test
