#include "host/loader/plugin_loader.h"

#include <gtest/gtest.h>

#include "host/system/exceptions.h"

using namespace Vorn::Zephra::Net::Devices;

TEST(PluginLoader, LoadsThePluginAndCreatesDevicesThatOutliveIt) {
    std::shared_ptr<IDevice> device;
    {
        LoadedPlugin loaded = PluginLoader::Load(ZRF_PLUGIN_PATH);
        EXPECT_EQ(loaded.Plugin().Identifiers().size(), 4u);
        device = loaded.CreateDevice("KOVA,Line_K,ZRF_FW,1.0.0,RTREE,1.0.0");
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(loaded.CreateDevice("KOVA"), nullptr);
    }
    // The device keeps the library loaded after the plug-in object is gone.
    EXPECT_EQ(device->Device_Identifier(), "KOVA,Line_K,ZRF_FW,1.0.0,RTREE,1.0.0");
    EXPECT_FALSE(device->Device_IsConnected());
}

TEST(PluginLoader, RefusesMissingFilesAndLibrariesWithoutEntryPoint) {
    EXPECT_THROW(PluginLoader::Load("/nonexistent/plugin.so"), System::FileNotFoundException);
    EXPECT_THROW(PluginLoader::Load(ZRF_SYSTEM_PATH), System::InvalidOperationException);
}

TEST(PluginLoader, DefaultPathFindsTheBuiltPlugin) {
    unsetenv("ZRF_PLUGIN");
    EXPECT_NO_THROW(PluginLoader::Load(PluginLoader::DefaultPluginPath()));
}
