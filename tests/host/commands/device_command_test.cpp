#include "host/commands/device_command.h"

#include <gtest/gtest.h>

#include "host/system/exceptions.h"

using namespace Vorn::Zephra::Net::Devices;

TEST(DeviceCommand, ReadsTypedParametersAndLeavesAbsentOnesUntouched) {
    DeviceCommand command = DeviceCommand::Create(121, "WriteNode");
    command.AddParameter("Cmd", "String", "Camera.Shutter.Closed");
    command.AddParameter("ResInteger", "Int32", "-5");
    command.AddParameter("ResDouble", "Double", "2.5");
    command.AddParameter("ResBoolean", "Boolean", "True");
    command.AddParameter("FocusMode", "UInt32", "3");
    DeviceCommand read(XElement::Parse(command.XmlData().ToString()));
    EXPECT_EQ(read.Identifier(), 121);
    EXPECT_EQ(read.CommandName(), "WriteNode");
    std::string text;
    std::int32_t i = 0;
    std::uint32_t u = 0;
    double d = 0;
    bool b = false;
    EXPECT_TRUE(read.GetParameterValue("Cmd", text));
    EXPECT_TRUE(read.GetParameterValue("ResInteger", i));
    EXPECT_TRUE(read.GetParameterValue("ResDouble", d));
    EXPECT_TRUE(read.GetParameterValue("ResBoolean", b));
    EXPECT_TRUE(read.GetParameterValue("FocusMode", u));
    EXPECT_EQ(text, "Camera.Shutter.Closed");
    EXPECT_EQ(i, -5);
    EXPECT_DOUBLE_EQ(d, 2.5);
    EXPECT_TRUE(b);
    EXPECT_EQ(u, 3u);
    std::int32_t untouched = 42;
    EXPECT_FALSE(read.GetParameterValue("Index", untouched));
    EXPECT_EQ(untouched, 42);
}

TEST(DeviceCommand, MalformedValuesAreFormatErrors) {
    DeviceCommand command = DeviceCommand::Create(41, "FrameRate");
    command.AddParameter("Index", "Int32", "two");
    command.AddParameter("Big", "Int32", "4294967296");
    command.AddParameter("Neg", "UInt32", "-1");
    std::int32_t i = 0;
    std::uint32_t u = 0;
    EXPECT_THROW(command.GetParameterValue("Index", i), System::FormatException);
    EXPECT_THROW(command.GetParameterValue("Big", i), System::FormatException);
    EXPECT_THROW(command.GetParameterValue("Neg", u), System::FormatException);
    XElement bad("Command");
    bad.SetAttribute("Id", "x41");
    EXPECT_THROW(DeviceCommand(bad).Identifier(), System::FormatException);
    EXPECT_EQ(DeviceCommand(XElement("Command")).Identifier(), 0);
    EXPECT_THROW(DeviceCommand{XElement()}, System::ArgumentNullException);
}

TEST(DeviceCommand, ReturnValuesAccumulateInOrderOnTheWrappedElement) {
    XElement element("Command");
    DeviceCommand command(element);
    command.SetReturnParameterValue("FrameRates", "30.00");
    command.SetReturnParameterValue("FrameRates", "9.00");
    command.SetReturnParameterValue("Result", true);
    command.SetReturnParameterValue("Index", std::int32_t{-1});
    EXPECT_TRUE(command.XmlData().SameAs(element));
    DeviceCommand reply(element);
    EXPECT_EQ(reply.ReturnValues("FrameRates"), (std::vector<std::string>{"30.00", "9.00"}));
    EXPECT_EQ(reply.ReturnValues("Result"), (std::vector<std::string>{"true"}));
    EXPECT_EQ(reply.ReturnValues("Index"), (std::vector<std::string>{"-1"}));
    EXPECT_EQ(reply.Error(), "");
    command.SetError("Not connected");
    command.SetError("Not connected again");
    EXPECT_EQ(element.Elements("Error").size(), 1u);
    EXPECT_EQ(reply.Error(), "Not connected again");
}
