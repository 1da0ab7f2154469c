// zrfgrab command ID [NAME[:TYPE]=VALUE ...] [--camera NAME] [--format F]: runs one numbered
// command on a connected camera and prints the reply document.
#include <climits>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/commands/device_command.h"
#include "host/loader/plugin_loader.h"
#include "sim/handle/simulated_camera_handle.h"
#include "host/system/exceptions.h"
#include "host/xml/xml_text.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/framework_use.h"
#include "tools/zrfgrab/grab_options.h"
#include "tools/zrfgrab/grab_progress.h"

namespace {

using namespace Vorn::Zephra::Net::Devices;
using zrfgrab::UsageError;

// Without a type, a value that reads as a whole number is Int32, as a number Double, as
// true/false Boolean, and String otherwise.
std::string TypeOf(const std::string& value) {
    using namespace Vorn::Zephra::Entities::XmlUtils;
    if (ParseXmlInteger(value)) return "Int32";
    if (value == "true" || value == "false") return "Boolean";
    if (ParseXmlDouble(value)) return "Double";
    return "String";
}

// NAME[:TYPE]=VALUE as it will be sent: a name, a type the command document knows, and a value
// of that type; anything else is refused before the camera is touched.
std::string CheckedParameter(const std::string& p) {
    using namespace Vorn::Zephra::Entities::XmlUtils;
    const auto eq = p.find('=');
    std::string name = p.substr(0, eq), value = p.substr(eq + 1), type;
    if (const auto colon = name.find(':'); colon != std::string::npos) {
        type = name.substr(colon + 1);
        name = name.substr(0, colon);
    }
    if (name.empty()) throw UsageError("'" + p + "' names no parameter");
    if (type.empty()) return p;
    const bool fits = type == "String" || (type == "Boolean" && ParseXmlBool(value)) ||
                      (type == "Double" && ParseXmlDouble(value)) ||
                      ((type == "Int32" || type == "UInt32") && ParseXmlInteger(value));
    if (type != "String" && type != "Boolean" && type != "Double" && type != "Int32" && type != "UInt32")
        throw UsageError("unknown type '" + type + "' (Int32, UInt32, Double, Boolean, String)");
    if (!fits) throw UsageError("'" + value + "' is not a value of type " + type);
    return p;
}

}  // namespace

int RunCommandCommand(int argc, char** argv) {
    return zrfgrab::ReportingErrors("command", [&] {
        std::string camera = "usb-ir", format;
        int id = 0;
        bool haveId = false, haveCamera = false, haveFormat = false;
        std::vector<std::string> parameters;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc) throw UsageError(a + " needs a value");
                return argv[++i];
            };
            if ((a == "--camera" && haveCamera) || (a == "--format" && haveFormat))
                throw UsageError(a + " is given twice");
            if (a == "--camera") camera = value(), haveCamera = true;
            else if (a == "--format") format = value(), haveFormat = true;
            else if (!a.empty() && a[0] == '-' && haveId) throw UsageError("unknown option '" + a + "'");
            else if (!haveId) id = static_cast<int>(zrfgrab::ParseInteger(a, "the command number", INT32_MIN, INT32_MAX)), haveId = true;
            else if (a.find('=') != std::string::npos) parameters.push_back(CheckedParameter(a));
            else throw UsageError("'" + a + "' is not NAME=VALUE");
        }
        if (!haveId) throw UsageError("expected a command number (zrfgrab command ID [NAME[:TYPE]=VALUE ...])");
        zrfgrab::CheckCameraName(camera);

        const zrfgrab::FrameworkRecords records;
        try {
            LoadedPlugin loaded = PluginLoader::Load(PluginLoader::DefaultPluginPath());
            auto cam = Vorn::Zephra::Simulation::SimulatedCameraHandle::Start(camera, {});
            std::string formatEntry;
            for (const auto& entry : loaded.Plugin().Formats())
                if (!format.empty() && entry.ends_with(";" + format)) formatEntry = entry;
            if (!format.empty() && formatEntry.empty()) throw UsageError("the plug-in offers no format " + format);
            auto identity = cam->Identity(formatEntry);
            auto device = loaded.CreateDevice(identity.Identifier());
            if (!device) throw UsageError("the plug-in serves no identifier '" + identity.Identifier() + "'");
            zrfgrab::DisposeOnExit disposeOnExit{*device};
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
            zrfgrab::Say(stdout, reply.XmlData().ToString() + "\n");  // checked on exit
            device->Device_Disconnect();
            // The camera's refusal is the command's failure.
            if (!reply.Error().empty()) throw std::runtime_error(reply.Error());
            return 0;
        } catch (const System::Exception& e) {
            throw std::runtime_error(records.Explain(e.Message()));
        }
    });
}
