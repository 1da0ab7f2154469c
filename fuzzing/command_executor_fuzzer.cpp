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
#include "sim/control/resource_tree.h"

namespace {

using System::Xml::Linq::XElement;
using Vorn::Zephra::Net::Devices::DeviceCommand;

const std::int32_t kIds[] = {1,  2,  3,  20, 21, 30,  31,  32,  40,
                             41, 50, 51, 82, 90, 100, 120, 121, -1};
const char* const kNames[] = {"Enabled", "Index",      "FocusMode", "Value",      "Filename",
                              "Cmd",     "ResInteger", "ResDouble", "ResBoolean", "ResStringA",
                              ""};
const char* const kTypes[] = {"Boolean", "Int32", "UInt32", "Double", "String", ""};
const char* const kValues[] = {"0",     "1",    "-1",    "2",          "3",
                               "4",     "true", "false", "2147483648", "-2147483649",
                               "1e308", "nan",  " 7 ",   "0x10",       ""};

fuzz::ScratchFile& Script() {
    static fuzz::ScratchFile file("command_executor_fuzzer.script");
    return file;
}

// A typical value, one of the camera's node names, a number or random text.
std::string Value(fuzz::ByteReader& in) {
    static const auto nodes = fuzz::DeviceRig::Instance().Camera().Tree()->NodeNames();
    const auto kind = in.Take<std::uint8_t>() % 4;
    if (kind == 0) return in.Pick(kValues);
    if (kind == 1) return nodes[in.Take<std::uint8_t>() % nodes.size()];
    return kind == 2 ? std::to_string(in.Take<std::int32_t>()) : in.Text(24);
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
            child.SetAttribute("Value", Script().path);
        PinScriptFiles(child);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& device = fuzz::DeviceRig::Instance().Connected();
    fuzz::ByteReader in(data, size);
    std::optional<XElement> command;
    if ((in.Take<std::uint8_t>() & 1) != 0) {
        command = Structured(in);
    } else {
        if (!(command = fuzz::Parse(in.Rest()))) return 0;
        Script().Write("set Camera.Shutter.Closed true\nnuc\n");
        PinScriptFiles(*command);
    }
    fuzz::Tolerate([&] {
        const XElement reply = device.Device_ExecuteCommand(*command);
        // The reply is the command itself, edited.
        if (!reply.SameAs(*command)) __builtin_trap();
        (void)reply.ToString();
    });
    return 0;
}
