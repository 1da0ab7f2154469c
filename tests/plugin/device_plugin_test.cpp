#include "plugin/device_plugin.h"

#include <gtest/gtest.h>

#include "host/loader/plugin_loader.h"

using namespace Vorn::Zephra::Net::Devices;
using Camera::IR::DevicePlugin;

namespace {

const std::vector<std::string> kIdentifiers = {
    "TULA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0", "KOVA,Line_K,ZRF_FW,1.0.0,RTREE,1.0.0",
    "R512,Line_R,ZRF_FW,1.0.0,RTREE,1.0.0", "NORDA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0"};
const std::vector<std::string> kFormats = {
    "2BCCDA76-3A41-48ec-99D4-C3289324D535;IR;ZRF",
    "42295130-86FB-4960-8B76-CD6952B2420F;Visual;YUY2",
    "628CCF1E-9C46-44e8-8ED1-10AA1ABB5A44;Visual;JPEG_PLAIN"};

TEST(DevicePlugin, ListsComeFromTheLibrarysResourcesInOrder) {
    // Loaded as the application loads it, through the exported entry point.
    LoadedPlugin loaded = PluginLoader::Load(ZRF_PLUGIN_PATH);
    EXPECT_EQ(loaded.Plugin().Identifiers(), kIdentifiers);
    EXPECT_EQ(loaded.Plugin().Formats(), kFormats);
    // The properties hand out the stored lists themselves.
    EXPECT_EQ(&loaded.Plugin().Identifiers(), &loaded.Plugin().Identifiers());
}

TEST(DevicePlugin, CreateMatchesWholeEntriesExactly) {
    DevicePlugin plugin;
    for (const std::string& id : kIdentifiers) {
        auto device = plugin.Create(id);
        ASSERT_NE(device, nullptr) << id;
        EXPECT_EQ(device->Device_Identifier(), id);
    }
    for (const char* bad : {"tula,line_k,zrf_usb,1.0.0,rtree,1.0.0",
                            " TULA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0",
                            "TULA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0 ", "TULA", "", "ZRF_USB"})
        EXPECT_EQ(plugin.Create(bad), nullptr) << '"' << bad << '"';
}

TEST(DevicePlugin, SplitKeepsEveryPieceIncludingEmptyOnes) {
    EXPECT_EQ(DevicePlugin::SplitList("a|b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(DevicePlugin::SplitList("|a||"), (std::vector<std::string>{"", "a", "", ""}));
    EXPECT_EQ(DevicePlugin::SplitList(""), (std::vector<std::string>{""}));
    EXPECT_EQ(DevicePlugin::SplitList("a,b;c"), (std::vector<std::string>{"a,b;c"}));
}

}  // namespace
