#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/config/switch_configuration.h"
#include "host/diagnostics/boolean_switch.h"
#include "host/diagnostics/trace_switch.h"
#include "host/logging/logger.h"

namespace System::Diagnostics {
namespace {

using System::Configuration::ScopedSwitchOverride;
using ::testing::HasSubstr;
using Vorn::Zephra::Diagnostics::Log::LogCapture;

constexpr const char* kName = "Test.Switch";

TEST(TraceSwitch, UnconfiguredIsOff) {
    const TraceSwitch traceSwitch("Never.Configured", "d");
    EXPECT_EQ(traceSwitch.Level(), TraceLevel::Off);
    EXPECT_FALSE(traceSwitch.TraceError());
    EXPECT_EQ(traceSwitch.Value(), "");
}

TEST(TraceSwitch, AcceptsLevelNamesInAnyCaseAndNumbers) {
    const TraceSwitch traceSwitch(kName, "d");
    const std::pair<const char*, TraceLevel> cases[] = {
        {"off", TraceLevel::Off},         {"ERROR", TraceLevel::Error},
        {"Warning", TraceLevel::Warning}, {" info ", TraceLevel::Info},
        {"vErBoSe", TraceLevel::Verbose}, {"0", TraceLevel::Off},
        {"1", TraceLevel::Error},         {"3", TraceLevel::Info},
        {"4", TraceLevel::Verbose},       {"17", TraceLevel::Verbose},
        {"-2", TraceLevel::Off}};
    for (const auto& [text, level] : cases) {
        ScopedSwitchOverride setting(kName, text);
        EXPECT_EQ(traceSwitch.Level(), level) << text;
    }
}

TEST(TraceSwitch, EachLevelEnablesItselfAndTheLevelsBelow) {
    const TraceSwitch traceSwitch(kName, "d");
    {
        ScopedSwitchOverride setting(kName, "Info");
        EXPECT_TRUE(traceSwitch.TraceError());
        EXPECT_TRUE(traceSwitch.TraceWarning());
        EXPECT_TRUE(traceSwitch.TraceInfo());
        EXPECT_FALSE(traceSwitch.TraceVerbose());
    }
    {
        ScopedSwitchOverride setting(kName, "Verbose");
        EXPECT_TRUE(traceSwitch.TraceVerbose());
    }
    {
        ScopedSwitchOverride setting(kName, "Error");
        EXPECT_TRUE(traceSwitch.TraceError());
        EXPECT_FALSE(traceSwitch.TraceWarning());
    }
}

TEST(TraceSwitch, FollowsConfigurationChangesAfterFirstRead) {
    const TraceSwitch traceSwitch(kName, "d");
    EXPECT_EQ(traceSwitch.Level(), TraceLevel::Off);
    ScopedSwitchOverride setting(kName, "Verbose");
    EXPECT_EQ(traceSwitch.Level(), TraceLevel::Verbose);
    {
        ScopedSwitchOverride lower(kName, "Warning");
        EXPECT_EQ(traceSwitch.Level(), TraceLevel::Warning);
    }
    EXPECT_EQ(traceSwitch.Level(), TraceLevel::Verbose);
}

TEST(TraceSwitch, InvalidSettingIsOffAndReported) {
    const TraceSwitch traceSwitch(kName, "d");
    LogCapture capture;
    ScopedSwitchOverride setting(kName, "loud");
    EXPECT_EQ(traceSwitch.Level(), TraceLevel::Off);
    EXPECT_EQ(traceSwitch.Value(), "loud");
    const auto records = capture.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_THAT(records[0].text, HasSubstr("Test.Switch"));
    EXPECT_THAT(records[0].text, HasSubstr("loud"));
}

TEST(BooleanSwitch, AcceptsWordsInAnyCaseAndNumbers) {
    const BooleanSwitch booleanSwitch(kName, "d");
    const std::pair<const char*, bool> cases[] = {{"1", true},      {"0", false},    {"true", true},
                                                  {"FALSE", false}, {"On", true},    {"off", false},
                                                  {" on ", true},   {"2", true},     {"-1", true},
                                                  {"", false},      {"maybe", false}};
    for (const auto& [text, enabled] : cases) {
        ScopedSwitchOverride setting(kName, text);
        EXPECT_EQ(booleanSwitch.Enabled(), enabled) << '"' << text << '"';
    }
}

TEST(BooleanSwitch, UnconfiguredIsOff) {
    const BooleanSwitch booleanSwitch("Never.Configured.Either", "d");
    EXPECT_FALSE(booleanSwitch.Enabled());
}

}  // namespace
}  // namespace System::Diagnostics
