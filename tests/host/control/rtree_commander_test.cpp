// The control channel where no device test looks: host names in any case and a camera whose
// identity cannot be read.
#include "host/control/rtree_commander.h"

#include <gtest/gtest.h>

#include "host/system/exceptions.h"
#include "sim/control/resource_tree.h"

using namespace Vorn::Zephra::Net::Communication;

TEST(RTreeCommander, AnUnreadableIdentityIsTheCamerasFailure) {
    constexpr const char* kHost = "\\\\?\\usb#vid_1234&pid_0001#sim-test";
    zrf::sim::TreeSettings settings;
    settings.informationFails = true;
    zrf::sim::TreeRegistry::Register(kHost, std::make_shared<zrf::sim::ResourceTree>(settings));
    RTreeCommander commander;
    ASSERT_TRUE(
        commander.Connect(ConnectionMode::Network, "\\\\?\\USB#VID_1234&PID_0001#SIM-TEST", false));
    commander.Authenticate("root", "7qazn");
    EXPECT_THROW(commander.GetName(), System::IOException);
    EXPECT_THROW(commander.GetValue(zrf::sim::nodes::kSerialNumber), System::IOException);
    EXPECT_FALSE(commander.GetShutter());
    zrf::sim::TreeRegistry::Unregister(kHost);
}
