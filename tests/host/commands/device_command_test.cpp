// Command parameters the application sends are input: a malformed value is a format error.
#include "host/commands/device_command.h"

#include <gtest/gtest.h>

#include "host/system/exceptions.h"

using namespace Vorn::Zephra::Net::Devices;

TEST(DeviceCommand, MalformedValuesAreFormatErrors) {
    DeviceCommand command = DeviceCommand::Create(41, "FrameRate");
    command.AddParameter("Index", "Int32", "two");
    command.AddParameter("Big", "Int32", "4294967296");
    command.AddParameter("Neg", "UInt32", "-1");
    command.AddParameter("Half", "Double", "0.5x");
    std::int32_t i = 0;
    std::uint32_t u = 0;
    double d = 0;
    EXPECT_THROW(command.GetParameterValue("Index", i), System::FormatException);
    EXPECT_THROW(command.GetParameterValue("Big", i), System::FormatException);
    EXPECT_THROW(command.GetParameterValue("Neg", u), System::FormatException);
    EXPECT_THROW(command.GetParameterValue("Half", d), System::FormatException);
    XElement bad("Command");
    bad.SetAttribute("Id", "x41");
    EXPECT_THROW(DeviceCommand(bad).Identifier(), System::FormatException);
    EXPECT_THROW(DeviceCommand{XElement()}, System::ArgumentNullException);
}
