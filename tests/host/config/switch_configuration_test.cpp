// The switch settings a user writes (the configuration file and the switch list) and how the two
// kinds of diagnostic switch read a setting.
#include "host/config/switch_configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/config/switch_settings_format.h"
#include "host/diagnostics/boolean_switch.h"
#include "host/diagnostics/trace_switch.h"
#include "host/logging/logger.h"

namespace System::Configuration {
namespace {

using System::Diagnostics::BooleanSwitch;
using System::Diagnostics::TraceLevel;
using System::Diagnostics::TraceSwitch;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

TEST(SwitchSettingsFormat, FileLinesAndListEntries) {
    const auto file = ParseConfigurationFile(
        "\xEF\xBB\xBF# diagnostics\r\n"
        "Vorn.CaptureDevice = Verbose   # the levelled one\r\n"
        "\n"
        "\tCD_Vorn.CaptureDevice=on\n"
        "just text\n"
        " = 3\n"
        "Empty.Value =\n"
        "empty.value = 1\n"
        "Empty.Value = last");
    EXPECT_THAT(file.settings,
                ElementsAre(Pair("CD_Vorn.CaptureDevice", "on"), Pair("Empty.Value", "last"),
                            Pair("Vorn.CaptureDevice", "Verbose"), Pair("empty.value", "1")));
    ASSERT_EQ(file.problems.size(), 2u);
    EXPECT_THAT(file.problems[0], HasSubstr("line 5"));
    EXPECT_THAT(file.problems[0], HasSubstr("just text"));
    EXPECT_THAT(file.problems[1], HasSubstr("line 6"));

    const auto list = ParseSwitchList(" a = 1 ;;b=Verbose;  ; c= x=y ;d;=2");
    EXPECT_THAT(list.settings, ElementsAre(Pair("a", "1"), Pair("b", "Verbose"), Pair("c", "x=y")));
    ASSERT_EQ(list.problems.size(), 2u);
    EXPECT_THAT(list.problems[0], HasSubstr("entry 6"));
    EXPECT_THAT(list.problems[1], HasSubstr("entry 7"));
}

TEST(Switches, LevelsAndFlagsByNameOrNumberAnInvalidOneOffAndReported) {
    const char* name = "Test.Switch";
    EXPECT_EQ(TraceSwitch("Never.Configured", "d").Level(), TraceLevel::Off);
    const TraceSwitch traceSwitch(name, "d");
    const std::pair<const char*, TraceLevel> levels[] = {
        {"off", TraceLevel::Off},         {"ERROR", TraceLevel::Error},
        {"Warning", TraceLevel::Warning}, {" info ", TraceLevel::Info},
        {"vErBoSe", TraceLevel::Verbose}, {"0", TraceLevel::Off},
        {"3", TraceLevel::Info},          {"17", TraceLevel::Verbose},
        {"-2", TraceLevel::Off}};
    for (const auto& [text, level] : levels) {
        ScopedSwitchOverride setting(name, text);
        EXPECT_EQ(traceSwitch.Level(), level) << text;
        EXPECT_EQ(traceSwitch.TraceInfo(), level >= TraceLevel::Info) << text;
    }
    const BooleanSwitch booleanSwitch(name, "d");
    const std::pair<const char*, bool> flags[] = {
        {"1", true},    {"0", false},   {"true", true}, {"FALSE", false}, {"On", true},
        {"off", false}, {" on ", true}, {"-1", true},   {"", false},      {"maybe", false}};
    for (const auto& [text, enabled] : flags) {
        ScopedSwitchOverride setting(name, text);
        EXPECT_EQ(booleanSwitch.Enabled(), enabled) << '"' << text << '"';
    }
    Vorn::Zephra::Diagnostics::Log::LogCapture capture;
    ScopedSwitchOverride invalid(name, "loud");
    EXPECT_EQ(traceSwitch.Level(), TraceLevel::Off);
    const auto records = capture.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_THAT(records[0].text, HasSubstr("Test.Switch': invalid setting 'loud'"));
}

}  // namespace
}  // namespace System::Configuration
