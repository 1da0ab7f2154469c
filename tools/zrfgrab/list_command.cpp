// zrfgrab list [--plugin PATH]: what the plug-in serves, as the application would ask it.
#include <cstdio>
#include <string>

#include "host/loader/plugin_loader.h"
#include "host/system/exceptions.h"
#include "tools/zrfgrab/commands.h"

using Vorn::Zephra::Net::Devices::PluginLoader;

int RunListCommand(int argc, char** argv) {
    std::string path = PluginLoader::DefaultPluginPath();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin" && i + 1 < argc) {
            path = argv[++i];
        } else {
            std::fprintf(stderr, "zrfgrab list: unknown argument '%s'\n", arg.c_str());
            return 2;
        }
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
