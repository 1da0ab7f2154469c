#include "host/control/rtree_commander.h"

#include <sstream>

#include <gtest/gtest.h>

#include "host/system/exceptions.h"
#include "sim/control/resource_tree.h"

using namespace Vorn::Zephra::Net::Communication;

namespace {

class RTreeCommanderTest : public ::testing::Test {
protected:
    void Install(const zrf::sim::TreeSettings& settings = {}) {
        tree = std::make_shared<zrf::sim::ResourceTree>(settings);
        zrf::sim::TreeRegistry::Register(kHost, tree);
    }
    void SetUp() override { Install(); }
    void TearDown() override { zrf::sim::TreeRegistry::Unregister(kHost); }

    void Login() {
        ASSERT_TRUE(commander.Connect(ConnectionMode::Network, kHost, false));
        commander.Authenticate("root", "7qazn");
    }

    static constexpr const char* kHost = "\\\\?\\usb#vid_1234&pid_0001#sim-test";
    std::shared_ptr<zrf::sim::ResourceTree> tree;
    RTreeCommander commander;
};

TEST_F(RTreeCommanderTest, ConnectFindsCamerasByHostNameIgnoringCase) {
    EXPECT_FALSE(commander.Connect(ConnectionMode::Network, "no-such-camera", false));
    EXPECT_FALSE(commander.IsConnected());
    EXPECT_TRUE(commander.Connect(ConnectionMode::Network, "\\\\?\\USB#VID_1234&PID_0001#SIM-TEST", true));
    EXPECT_TRUE(commander.IsConnected());
}

TEST_F(RTreeCommanderTest, TheCameraChecksTheLoginAndNothingWorksBeforeIt) {
    ASSERT_TRUE(commander.Connect(ConnectionMode::Network, kHost, false));
    EXPECT_THROW(commander.GetName(), System::InvalidOperationException);
    EXPECT_THROW(commander.Authenticate("root", "wrong"), System::InvalidOperationException);
    EXPECT_THROW(commander.Authenticate("admin", "7qazn"), System::InvalidOperationException);
    EXPECT_THROW(commander.Nuc(), System::InvalidOperationException);
    commander.Authenticate("root", "7qazn");
    EXPECT_EQ(commander.GetName(), "Simulated camera");
    commander.Dispose();
    EXPECT_FALSE(commander.IsConnected());
    EXPECT_THROW(commander.GetName(), System::InvalidOperationException);
}

TEST_F(RTreeCommanderTest, SettingsLiveInTheTreeAndReadBack) {
    Login();
    commander.SetShutter(true);
    EXPECT_TRUE(commander.GetShutter());
    commander.SetTemperatureRange(1);
    EXPECT_EQ(commander.GetTemperatureRange(), 1);
    EXPECT_THROW(commander.SetTemperatureRange(2), System::ArgumentException);
    commander.SetFocusPosition(999999);  // the lens stops at its limit
    EXPECT_EQ(commander.GetFocusPosition(), commander.GetFocusMax());
    commander.Focus(FOCUSMODE::NEAR);
    EXPECT_EQ(commander.GetFocusPosition(), commander.GetFocusMax() - 100);
    commander.AutoFocus();
    EXPECT_EQ(std::get<std::int32_t>(commander.GetValue(zrf::sim::nodes::kFocusMode)), 3);
    auto ranges = commander.GetTemperatureRanges();
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_DOUBLE_EQ(ranges[1].max, 500.0);
}

TEST_F(RTreeCommanderTest, TulaRangesReplaceTheListAndLensChangesAreSeen) {
    Login();
    commander.SetTemperatureRange(1);
    commander.UseTULAtempRanges();
    EXPECT_DOUBLE_EQ(commander.GetTemperatureRanges()[1].max, 650.0);
    EXPECT_TRUE(commander.IsTheSameLens());
    tree->Set(zrf::sim::nodes::kLensId, std::int32_t{7});
    EXPECT_FALSE(commander.IsTheSameLens());
}

TEST_F(RTreeCommanderTest, CorrectionAndWindowingActOnTheVideoSide) {
    zrf::sim::TreeSettings settings;
    settings.windowing = true;
    settings.samplesPerCorrection = 3;
    Install(settings);
    Login();
    EXPECT_FALSE(tree->TakeSampleCalibrating());
    commander.Nuc();
    int calibrating = 0;
    for (int i = 0; i < 10; ++i) calibrating += tree->TakeSampleCalibrating();
    EXPECT_EQ(calibrating, 3);

    EXPECT_EQ(tree->FieldsPerSample(), 1);
    commander.SetWindowingFields(4);
    commander.SetWindowing(true);
    EXPECT_EQ(tree->FieldsPerSample(), 4);
    EXPECT_THROW(commander.SetWindowingFields(3), System::ArgumentException);
}

TEST_F(RTreeCommanderTest, NodeAccessMapsTreeErrorsToTheChannelsExceptions) {
    Login();
    EXPECT_THROW(commander.GetValue("Camera.NoSuchNode"), System::NotSupportedException);
    EXPECT_THROW(commander.SetValue("Camera.NoSuchNode", std::int32_t{1}), System::NotSupportedException);
    EXPECT_THROW(commander.SetValue(zrf::sim::nodes::kName, std::string("x"), true), System::NotSupportedException);
    EXPECT_THROW(commander.SetValue(zrf::sim::nodes::kShutterClosed, std::int32_t{1}), System::ArgumentException);
    EXPECT_THROW(commander.SetValue(zrf::sim::nodes::kRangeIndex, std::string("1"), false), System::ArgumentException);
    commander.SetValue(zrf::sim::nodes::kRangeIndex, std::string("1"), true);
    EXPECT_EQ(ToText(commander.GetValue(zrf::sim::nodes::kRangeIndex)), "1");
}

TEST_F(RTreeCommanderTest, ScriptsSetCheckAndStopAtTheFirstBadLine) {
    Login();
    std::istringstream good("# set up\nset Camera.Shutter.Closed true\n\nexpect Camera.Shutter.Closed true\nnuc\n");
    commander.RunScript(good);
    EXPECT_TRUE(commander.GetShutter());
    EXPECT_EQ(std::get<std::int32_t>(commander.GetValue(zrf::sim::nodes::kNucCount)), 1);

    std::istringstream bad("set Camera.Shutter.Closed false\nfrobnicate\nset Camera.TemperatureRange.Index 1\n");
    try {
        commander.RunScript(bad);
        FAIL() << "a bad line must fail the script";
    } catch (const System::FormatException& e) {
        EXPECT_NE(e.Message().find("line 2"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(commander.GetShutter());
    EXPECT_EQ(commander.GetTemperatureRange(), 0);

    std::istringstream mismatch("expect Camera.Shutter.Closed true\n");
    EXPECT_THROW(commander.RunScript(mismatch), System::InvalidOperationException);
}

TEST_F(RTreeCommanderTest, ACameraThatGoesAwayOrFailsReportsIt) {
    zrf::sim::TreeSettings settings;
    settings.focusQueriesFail = true;
    Install(settings);
    Login();
    EXPECT_THROW(commander.GetFocusMax(), System::IOException);
    tree->SetOnline(false);
    EXPECT_FALSE(commander.IsConnected());
    EXPECT_THROW(commander.GetShutter(), System::IOException);
    RTreeCommander other;
    EXPECT_FALSE(other.Connect(ConnectionMode::Network, kHost, false));
}

}  // namespace
