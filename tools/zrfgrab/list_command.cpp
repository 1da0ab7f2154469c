// zrfgrab list [--plugin PATH]: what the plug-in serves, as the application would ask it.
// zrfgrab list --cameras: the simulated cameras and their identities.
// zrfgrab list --identity NAME: one camera's identity document, for grab --identity.
#include <cstdio>
#include <string>

#include "host/loader/plugin_loader.h"
#include "sim/handle/simulated_camera_handle.h"
#include "host/system/exceptions.h"
#include "tools/zrfgrab/commands.h"

using Vorn::Zephra::Net::Devices::PluginLoader;

int RunListCommand(int argc, char** argv) {
    std::string path = PluginLoader::DefaultPluginPath();
    bool cameras = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cameras") {
            cameras = true;
        } else if (arg == "--identity") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zrfgrab list: --identity needs a camera name\n");
                return 2;
            }
            const std::string name = argv[++i];
            try {
                const auto camera = Vorn::Zephra::Simulation::SimulatedCameraHandle::Start(name, {});
                std::printf("%s\n", camera->Identity().XMLData().ToString().c_str());
                return 0;  // the output is checked on exit
            } catch (const System::ArgumentException& e) {
                std::fprintf(stderr, "zrfgrab list: %s\n", e.Message().c_str());
                return 2;
            }
        } else if (arg == "--plugin") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zrfgrab list: --plugin needs a value\n");
                return 2;
            }
            path = argv[++i];
        } else {
            std::fprintf(stderr, "zrfgrab list: unknown argument '%s'\n", arg.c_str());
            return 2;
        }
    }
    if (cameras) {
        // The simulated cameras and the identity each passes at connect.
        for (const auto& c : Vorn::Zephra::Simulation::ListSimulatedCameras())
            std::printf("%-11s %s\n            identifier %s\n            host name  %s%s%s\n",
                        c.name.c_str(), c.description.c_str(), c.identifier.c_str(),
                        c.hostname.c_str(), c.modelName.empty() ? "" : "\n            model      ",
                        c.modelName.c_str());
        return 0;
    }
    try {
        auto loaded = PluginLoader::Load(path);
        for (const std::string& id : loaded.Plugin().Identifiers()) std::printf("%s\n", id.c_str());
        for (const std::string& format : loaded.Plugin().Formats())
            std::printf("%s\n", format.c_str());
        loaded.Plugin().Dispose();
        return 0;
    } catch (const System::Exception& e) {
        std::fprintf(stderr, "zrfgrab list: %s\n", e.Message().c_str());
        return 1;
    }
}
