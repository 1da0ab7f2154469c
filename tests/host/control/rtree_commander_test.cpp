// The control channel where no device test looks: host names in any case, the script's
// "expect" lines, and a camera whose identity cannot be read.
#include "host/control/rtree_commander.h"

#include <gtest/gtest.h>

#include <sstream>

#include "host/system/exceptions.h"
#include "sim/control/resource_tree.h"

using namespace Vorn::Zephra::Net::Communication;

namespace {

constexpr const char* kHost = "\\\\?\\usb#vid_1234&pid_0001#sim-test";

class RTreeCommanderTest : public ::testing::Test {
  protected:
    void Login(const zrf::sim::TreeSettings& settings = {}) {
        zrf::sim::TreeRegistry::Register(kHost, std::make_shared<zrf::sim::ResourceTree>(settings));
        ASSERT_TRUE(commander.Connect(ConnectionMode::Network,
                                      "\\\\?\\USB#VID_1234&PID_0001#SIM-TEST", false));
        commander.Authenticate("root", "7qazn");
    }
    void TearDown() override { zrf::sim::TreeRegistry::Unregister(kHost); }

    RTreeCommander commander;
};

TEST_F(RTreeCommanderTest, ScriptExpectationsCheckTheTree) {
    Login();
    std::istringstream good(
        "# set up\nset Camera.Shutter.Closed true\n\nexpect Camera.Shutter.Closed true\n");
    commander.RunScript(good);
    EXPECT_TRUE(commander.GetShutter());
    std::istringstream mismatch("expect Camera.Shutter.Closed false\nnuc\n");
    EXPECT_THROW(commander.RunScript(mismatch), System::InvalidOperationException);
    EXPECT_EQ(std::get<std::int32_t>(commander.GetValue(zrf::sim::nodes::kNucCount)), 0);
}

TEST_F(RTreeCommanderTest, AnUnreadableIdentityIsTheCamerasFailure) {
    zrf::sim::TreeSettings settings;
    settings.informationFails = true;
    Login(settings);
    EXPECT_THROW(commander.GetName(), System::IOException);
    EXPECT_THROW(commander.GetValue(zrf::sim::nodes::kSerialNumber), System::IOException);
    EXPECT_FALSE(commander.GetShutter());
}

}  // namespace
