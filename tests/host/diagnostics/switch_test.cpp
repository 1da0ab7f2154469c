// The settings a user writes for the two kinds of diagnostic switch.
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

TEST(TraceSwitch, LevelsByNameOrNumberEnableThemselvesAndTheLevelsBelow) {
    EXPECT_EQ(TraceSwitch("Never.Configured", "d").Level(), TraceLevel::Off);
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
        EXPECT_EQ(traceSwitch.TraceError(), level >= TraceLevel::Error) << text;
        EXPECT_EQ(traceSwitch.TraceWarning(), level >= TraceLevel::Warning) << text;
        EXPECT_EQ(traceSwitch.TraceInfo(), level >= TraceLevel::Info) << text;
        EXPECT_EQ(traceSwitch.TraceVerbose(), level >= TraceLevel::Verbose) << text;
    }
}

TEST(TraceSwitch, AnInvalidSettingIsOffAndReported) {
    const TraceSwitch traceSwitch(kName, "d");
    LogCapture capture;
    ScopedSwitchOverride invalid(kName, "loud");
    EXPECT_EQ(traceSwitch.Level(), TraceLevel::Off);
    EXPECT_EQ(traceSwitch.Value(), "loud");
    const auto records = capture.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_THAT(records[0].text, HasSubstr("Test.Switch"));
    EXPECT_THAT(records[0].text, HasSubstr("loud"));
}

TEST(BooleanSwitch, AcceptsWordsInAnyCaseAndNumbers) {
    EXPECT_FALSE(BooleanSwitch("Never.Configured.Either", "d").Enabled());
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

}  // namespace
}  // namespace System::Diagnostics
