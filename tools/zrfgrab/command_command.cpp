// zrfgrab command ID [NAME[:TYPE]=VALUE ...] [--camera NAME] [--format F]: runs one numbered
// command on a connected camera and prints the reply document.
#include <cstdio>
#include <string>

#include "host/commands/device_command.h"
#include "host/loader/plugin_loader.h"
#include "host/logging/logger.h"
#include "host/simulation/simulated_cameras.h"
#include "host/system/exceptions.h"
#include "host/xml/xml_text.h"
#include "tools/zrfgrab/commands.h"

namespace {

using namespace Vorn::Zephra::Net::Devices;

// Without a type, a value that reads as a whole number is Int32, as a number Double, as
// true/false Boolean, and String otherwise.
std::string TypeOf(const std::string& value) {
    using namespace Vorn::Zephra::Entities::XmlUtils;
    if (ParseXmlInteger(value)) return "Int32";
    if (value == "true" || value == "false") return "Boolean";
    if (ParseXmlDouble(value)) return "Double";
    return "String";
}

}  // namespace

int RunCommandCommand(int argc, char** argv) {
    std::string camera = "usb-ir", format;
    int id = 0;
    bool haveId = false;
    std::vector<std::string> parameters;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--camera" && i + 1 < argc) camera = argv[++i];
        else if (a == "--format" && i + 1 < argc) format = argv[++i];
        else if (!haveId) {
            try {
                id = std::stoi(a);
                haveId = true;
            } catch (...) {
                std::fprintf(stderr, "zrfgrab command: '%s' is not a command number\n", a.c_str());
                return 2;
            }
        } else if (a.find('=') != std::string::npos) parameters.push_back(a);
        else {
            std::fprintf(stderr, "zrfgrab command: '%s' is not NAME=VALUE\n", a.c_str());
            return 2;
        }
    }
    if (!haveId) {
        std::fprintf(stderr, "usage: zrfgrab command ID [NAME[:TYPE]=VALUE ...] [--camera NAME]\n");
        return 2;
    }
    Vorn::Zephra::Diagnostics::Log::LogCapture quiet;
    try {
        LoadedPlugin loaded = PluginLoader::Load(PluginLoader::DefaultPluginPath());
        auto cam = Vorn::Zephra::Simulation::SimulatedCameraHandle::Start(camera, {});
        std::string formatEntry;
        for (const auto& entry : loaded.Plugin().Formats())
            if (!format.empty() && entry.ends_with(";" + format)) formatEntry = entry;
        auto identity = cam->Identity(formatEntry);
        auto device = loaded.CreateDevice(identity.Identifier());
        if (!device) throw System::ArgumentException("the plug-in serves no identifier " + identity.Identifier());
        device->Device_Connect(identity.XMLData());

        DeviceCommand command = DeviceCommand::Create(id, "Command" + std::to_string(id));
        for (const std::string& p : parameters) {
            const auto eq = p.find('=');
            std::string name = p.substr(0, eq), value = p.substr(eq + 1), type;
            if (const auto colon = name.find(':'); colon != std::string::npos) {
                type = name.substr(colon + 1);
                name = name.substr(0, colon);
            }
            command.AddParameter(name, type.empty() ? TypeOf(value) : type, value);
        }
        DeviceCommand reply(device->Device_ExecuteCommand(command.XmlData()));
        std::printf("%s\n", reply.XmlData().ToString().c_str());
        device->Device_Disconnect();
        device->Dispose();
        if (!reply.Error().empty()) {
            std::fprintf(stderr, "zrfgrab command: %s\n", reply.Error().c_str());
            return 1;
        }
        return 0;
    } catch (const System::Exception& e) {
        std::fprintf(stderr, "zrfgrab command: %s\n", e.Message().c_str());
        return 1;
    }
}

int RunReplayCommand(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: zrfgrab replay RECORDING [grab options]\n");
        return 2;
    }
    // replay REC ... is grab --replay REC ...
    std::vector<char*> args{argv[0]};
    char option[] = "--replay";
    args.push_back(option);
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    return RunGrabCommand(static_cast<int>(args.size()) - 1, args.data());
}
