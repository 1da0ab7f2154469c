#include "host/config/switch_settings_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace System::Configuration {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

TEST(ConfigurationFile, ReadsSettingsIgnoringCommentsBlanksAndEmptyLines) {
    const auto parsed = ParseConfigurationFile(
        "\xEF\xBB\xBF# diagnostics\r\n"
        "Vorn.CaptureDevice = Verbose   # the levelled one\r\n"
        "\n"
        "\tCD_Vorn.CaptureDevice=on\n"
        "Empty.Value =\n"
        "Vorn.Zephra.Diagnostics.Log.StackTraceOn = 1");
    EXPECT_THAT(parsed.settings,
                ElementsAre(Pair("CD_Vorn.CaptureDevice", "on"), Pair("Empty.Value", ""),
                            Pair("Vorn.CaptureDevice", "Verbose"),
                            Pair("Vorn.Zephra.Diagnostics.Log.StackTraceOn", "1")));
    EXPECT_TRUE(parsed.problems.empty());
}

TEST(ConfigurationFile, LastSettingOfANameWins) {
    const auto parsed = ParseConfigurationFile("a = 1\na = 2\n");
    EXPECT_THAT(parsed.settings, ElementsAre(Pair("a", "2")));
}

TEST(ConfigurationFile, NamesAreCaseSensitive) {
    const auto parsed = ParseConfigurationFile("Switch = 1\nswitch = 2\n");
    EXPECT_EQ(parsed.settings.size(), 2u);
}

TEST(ConfigurationFile, MalformedLinesAreReportedWithTheirNumberAndSkipped) {
    const auto parsed = ParseConfigurationFile("good = 1\njust text\n = 3\nalso = 2\n");
    EXPECT_THAT(parsed.settings, ElementsAre(Pair("also", "2"), Pair("good", "1")));
    ASSERT_EQ(parsed.problems.size(), 2u);
    EXPECT_THAT(parsed.problems[0], HasSubstr("line 2"));
    EXPECT_THAT(parsed.problems[0], HasSubstr("just text"));
    EXPECT_THAT(parsed.problems[1], HasSubstr("line 3"));
}

TEST(SwitchList, ReadsSemicolonSeparatedSettings) {
    const auto parsed = ParseSwitchList(" a = 1 ;;b=Verbose;  ; c= off ;");
    EXPECT_THAT(parsed.settings,
                ElementsAre(Pair("a", "1"), Pair("b", "Verbose"), Pair("c", "off")));
    EXPECT_TRUE(parsed.problems.empty());
}

TEST(SwitchList, MalformedEntriesAreReportedAndSkipped) {
    const auto parsed = ParseSwitchList("a=1;b;=2;c=3");
    EXPECT_THAT(parsed.settings, ElementsAre(Pair("a", "1"), Pair("c", "3")));
    ASSERT_EQ(parsed.problems.size(), 2u);
    EXPECT_THAT(parsed.problems[0], HasSubstr("entry 2"));
    EXPECT_THAT(parsed.problems[1], HasSubstr("entry 3"));
}

TEST(SwitchList, ValueMayContainEqualsSign) {
    const auto parsed = ParseSwitchList("a=b=c");
    EXPECT_THAT(parsed.settings, ElementsAre(Pair("a", "b=c")));
}

}  // namespace
}  // namespace System::Configuration
