// The host loads the plug-in a user names; what is not one is refused.
#include "host/loader/plugin_loader.h"

#include <gtest/gtest.h>

#include "host/system/exceptions.h"

using namespace Vorn::Zephra::Net::Devices;

TEST(PluginLoader, RefusesWhatIsNotAPluginAndItsDevicesOutliveIt) {
    EXPECT_THROW(PluginLoader::Load("/nonexistent/plugin.so"), System::FileNotFoundException);
    EXPECT_THROW(PluginLoader::Load(ZRF_SYSTEM_PATH), System::InvalidOperationException);
    std::shared_ptr<IDevice> device;
    {
        LoadedPlugin loaded = PluginLoader::Load(ZRF_PLUGIN_PATH);
        device = loaded.CreateDevice("KOVA,Line_K,ZRF_FW,1.0.0,RTREE,1.0.0");
        ASSERT_NE(device, nullptr);
    }
    // The device keeps the library loaded after the plug-in object is gone.
    EXPECT_EQ(device->Device_Identifier(), "KOVA,Line_K,ZRF_FW,1.0.0,RTREE,1.0.0");
}
