#include "host/config/switch_configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "host/logging/logger.h"

namespace System::Configuration {
namespace {

using ::testing::HasSubstr;
using Vorn::Zephra::Diagnostics::Log::LogCapture;
using Vorn::Zephra::Diagnostics::Log::LogKind;

// Points the configuration at a file of the test's own and restores the environment after.
class SwitchConfigurationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("zrf_switches_" + std::to_string(::getpid()) + ".conf");
    }
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

    std::filesystem::path path_;
};

TEST_F(SwitchConfigurationTest, EnvironmentWinsOverFileAndOverrideWinsOverBoth) {
    WriteFile("only.file = file\nfile.and.env = file\nall.three = file\n");
    ::setenv(SwitchConfiguration::kListVariable, "file.and.env=env;all.three=env", 1);
    SwitchConfiguration::Reload();

    EXPECT_EQ(SwitchConfiguration::Get("only.file"), "file");
    EXPECT_EQ(SwitchConfiguration::Get("file.and.env"), "env");
    EXPECT_EQ(SwitchConfiguration::Get("all.three"), "env");
    {
        ScopedSwitchOverride override("all.three", "override");
        EXPECT_EQ(SwitchConfiguration::Get("all.three"), "override");
    }
    EXPECT_EQ(SwitchConfiguration::Get("all.three"), "env");
}

TEST_F(SwitchConfigurationTest, SourcesAreReadAgainOnReloadButOverridesStay) {
    WriteFile("a = 1\n");
    SwitchConfiguration::Reload();
    ScopedSwitchOverride override("b", "kept");
    WriteFile("a = 2\n");
    EXPECT_EQ(SwitchConfiguration::Get("a"), "1");
    SwitchConfiguration::Reload();
    EXPECT_EQ(SwitchConfiguration::Get("a"), "2");
    EXPECT_EQ(SwitchConfiguration::Get("b"), "kept");
}

TEST_F(SwitchConfigurationTest, NestedOverridesRestoreInOrder) {
    {
        ScopedSwitchOverride outer("x", "outer");
        {
            ScopedSwitchOverride inner("x", "inner");
            EXPECT_EQ(SwitchConfiguration::Get("x"), "inner");
        }
        EXPECT_EQ(SwitchConfiguration::Get("x"), "outer");
    }
    EXPECT_FALSE(SwitchConfiguration::Get("x"));
    EXPECT_FALSE(SwitchConfiguration::Override("x"));
}

TEST_F(SwitchConfigurationTest, EveryChangeMovesTheGeneration) {
    const auto start = SwitchConfiguration::Generation();
    SwitchConfiguration::SetOverride("g", "1");
    const auto afterSet = SwitchConfiguration::Generation();
    SwitchConfiguration::RemoveOverride("g");
    const auto afterRemove = SwitchConfiguration::Generation();
    SwitchConfiguration::Reload();
    EXPECT_NE(afterSet, start);
    EXPECT_NE(afterRemove, afterSet);
    EXPECT_NE(SwitchConfiguration::Generation(), afterRemove);
    EXPECT_EQ(SwitchConfiguration::Find("g").generation, SwitchConfiguration::Generation());
}

TEST_F(SwitchConfigurationTest, MalformedSettingsAndUnreadableFileAreLoggedNotFatal) {
    ::setenv(SwitchConfiguration::kFileVariable, "/nonexistent/zrf.conf", 1);
    ::setenv(SwitchConfiguration::kListVariable, "good=1;broken", 1);
    LogCapture capture;
    SwitchConfiguration::Reload();

    EXPECT_EQ(SwitchConfiguration::Get("good"), "1");
    const auto records = capture.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kind, LogKind::TraceError);
    EXPECT_THAT(records[0].text, HasSubstr("/nonexistent/zrf.conf"));
    EXPECT_THAT(records[1].text, HasSubstr("ZRF_SWITCHES entry 2"));
}

TEST_F(SwitchConfigurationTest, FileProblemsNameTheFileAndLine) {
    WriteFile("fine = 1\noops\n");
    LogCapture capture;
    SwitchConfiguration::Reload();
    const auto records = capture.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_THAT(records[0].text, HasSubstr(path_.string() + "' line 2"));
}

}  // namespace
}  // namespace System::Configuration
