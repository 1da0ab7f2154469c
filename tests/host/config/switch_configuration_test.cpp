// The switch settings a user writes (the configuration file and the switch list) and which
// source wins.
#include "host/config/switch_configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/config/switch_settings_format.h"
#include "host/logging/logger.h"

namespace System::Configuration {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;
using Vorn::Zephra::Diagnostics::Log::LogCapture;

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

// Points the configuration at a file of the test's own and restores the environment after.
class SwitchConfigurationTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ::unsetenv(SwitchConfiguration::kFileVariable);
        ::unsetenv(SwitchConfiguration::kListVariable);
        SwitchConfiguration::Reload();
        std::filesystem::remove(path_);
    }
    void WriteFile(const std::string& text) {
        std::ofstream(path_) << text;
        ::setenv(SwitchConfiguration::kFileVariable, path_.c_str(), 1);
    }

    std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                  ("zrf_switches_" + std::to_string(::getpid()) + ".conf");
};

TEST_F(SwitchConfigurationTest, OverridesWinOverTheListWhichWinsOverTheFile) {
    WriteFile("only.file = file\nfile.and.env = file\nall.three = file\n");
    ::setenv(SwitchConfiguration::kListVariable, "file.and.env=env;all.three=env", 1);
    SwitchConfiguration::Reload();
    EXPECT_EQ(SwitchConfiguration::Get("only.file"), "file");
    EXPECT_EQ(SwitchConfiguration::Get("file.and.env"), "env");
    {
        ScopedSwitchOverride outer("all.three", "outer");
        {
            ScopedSwitchOverride inner("all.three", "inner");
            EXPECT_EQ(SwitchConfiguration::Get("all.three"), "inner");
        }
        EXPECT_EQ(SwitchConfiguration::Get("all.three"), "outer");
        // A reload reads the sources again and keeps the overrides.
        WriteFile("only.file = again\n");
        SwitchConfiguration::Reload();
        EXPECT_EQ(SwitchConfiguration::Get("only.file"), "again");
        EXPECT_EQ(SwitchConfiguration::Get("all.three"), "outer");
    }
    EXPECT_EQ(SwitchConfiguration::Get("all.three"), "env");
    EXPECT_FALSE(SwitchConfiguration::Override("all.three"));
}

TEST_F(SwitchConfigurationTest, ProblemsAreLoggedWithTheirPlaceNotFatal) {
    ::setenv(SwitchConfiguration::kFileVariable, "/nonexistent/zrf.conf", 1);
    ::setenv(SwitchConfiguration::kListVariable, "good=1;broken", 1);
    {
        LogCapture capture;
        SwitchConfiguration::Reload();
        EXPECT_EQ(SwitchConfiguration::Get("good"), "1");
        const auto records = capture.Records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_THAT(records[0].text, HasSubstr("/nonexistent/zrf.conf"));
        EXPECT_THAT(records[1].text, HasSubstr("ZRF_SWITCHES entry 2"));
    }
    ::unsetenv(SwitchConfiguration::kListVariable);
    WriteFile("fine = 1\noops\n");
    LogCapture capture;
    SwitchConfiguration::Reload();
    const auto records = capture.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_THAT(records[0].text, HasSubstr(path_.string() + "' line 2"));
}

}  // namespace
}  // namespace System::Configuration
