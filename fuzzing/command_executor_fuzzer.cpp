// Feeds command documents to a connected device (a simulated USB camera, not streaming).
// Half the inputs are text parsed as XML; the other half build a command from a known or random
// id and random parameters, so the commands' own paths are reached. Whatever arrives, the
// device answers with the same document (a reply or an error) or a framework exception; any
// other exception or a crash is a failure. A script file named by a command is always this
// target's own scratch file, filled from the input.
#include <cstdint>
#include <iterator>
#include <string>

#include "fuzzing/fuzz_support.h"
#include "host/commands/device_command.h"
#include "host/system/exceptions.h"

namespace {

using System::Xml::Linq::XElement;
using Vorn::Zephra::Net::Devices::DeviceCommand;

const std::int32_t kIds[] = {1,  2,  3,  20, 21, 30,  31,  32,  40,
                             41, 50, 51, 82, 90, 100, 120, 121, -1};
const char* const kNames[] = {"Enabled", "Index",      "FocusMode", "Value",      "Filename",
                              "Cmd",     "ResInteger", "ResDouble", "ResBoolean", "ResStringA",
                              ""};
const char* const kTypes[] = {"Boolean", "Int32", "UInt32", "Double", "String", ""};
const char* const kNodes[] = {"Camera.Name",
                              "Camera.Shutter.Closed",
                              "Camera.TemperatureRange.Index",
                              "Camera.Focus.Position",
                              "Camera.Focus.Min",
                              "Camera.Windowing.Active",
                              "Camera.Windowing.Fields",
                              "Camera.Nuc.CalibratingSamples",
                              "Camera.Lens.Id",
                              "Camera.TemperatureRange.TULA",
                              "Camera.Focus.LastMode",
                              "Camera.Nuc.Count"};
const char* const kValues[] = {"0",     "1",    "-1",    "2",          "3",
                               "4",     "true", "false", "2147483648", "-2147483649",
                               "1e308", "nan",  " 7 ",   "0x10",       ""};

fuzz::ScratchFile& Script() {
    static fuzz::ScratchFile file("command_executor_fuzzer.script");
    return file;
}

std::string Value(fuzz::ByteReader& in) {
    switch (in.Take<std::uint8_t>() % 4) {
        case 0:
            return in.Pick(kValues);
        case 1:
            return in.Pick(kNodes);
        case 2:
            return std::to_string(in.Take<std::int32_t>());
        default:
            return in.Text(24);
    }
}

XElement Structured(fuzz::ByteReader& in) {
    const std::uint8_t pick = in.Take<std::uint8_t>();
    const std::int32_t id = pick < 224 ? kIds[pick % std::size(kIds)] : in.Take<std::int32_t>();
    DeviceCommand command = DeviceCommand::Create(id, in.Text(8));
    for (int n = in.Take<std::uint8_t>() % 5; n > 0 && !in.Empty(); --n) {
        const std::string name = in.Pick(kNames);
        const std::string type = in.Pick(kTypes);
        command.AddParameter(name.empty() ? in.Text(8) : name, type, Value(in));
    }
    // What is left is the script a command 90 runs.
    Script().Write(in.Rest());
    return command.XmlData();
}

// Any script file a document names is replaced by the scratch file: the device must not be
// sent to read devices or arbitrary files of this machine.
void PinScriptFiles(const XElement& element) {
    for (XElement& child : element.Elements()) {
        if (child.Attribute("Name") == std::optional<std::string>("Filename"))
            child.SetAttribute("Value", Script().Path());
        PinScriptFiles(child);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& device = fuzz::DeviceRig::Instance().Connected();
    fuzz::ByteReader in(data, size);
    XElement command;
    if ((in.Take<std::uint8_t>() & 1) != 0) {
        command = Structured(in);
    } else {
        try {
            command = XElement::Parse(in.Rest());
        } catch (const System::Exception&) {
            return 0;
        }
        Script().Write("set Camera.Shutter.Closed true\nnuc\n");
        PinScriptFiles(command);
    }
    try {
        const XElement reply = device.Device_ExecuteCommand(command);
        // The reply is the command itself, edited.
        if (!reply.SameAs(command)) __builtin_trap();
        (void)reply.ToString();
    } catch (const System::Exception&) {
    }
    return 0;
}
