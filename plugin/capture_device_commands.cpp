// Numbered commands: one document in, the same document out with return values or an error.
#include <cstdio>
#include <sstream>
#include <vector>

#include "capture/mtx_graph.h"
#include "host/commands/device_command.h"
#include "host/system/exceptions.h"
#include "host/system/regular_file.h"
#include "host/control/rtree_commander.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

namespace k = constants;

namespace {

// Fixed-point with two decimals, as the host's invariant culture writes "{0:F}".
std::string Fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

[[noreturn]] void NoControlChannel() {
    throw System::InvalidOperationException("The camera has no control channel");
}

[[noreturn]] void ScriptFileError(const std::string& file, const std::string& why) {
    throw System::IOException("Could not read the script file '" + file + "': " + why + ".");
}

}  // namespace

XElement CaptureDevice::Device_ExecuteCommand(XElement element) {
    if (element.IsNull()) throw System::ArgumentException();
    DeviceCommand command(element);
    // Like every other failure of a command, a refusal from a handler is the document's error.
    try {
        auto lock = LockDevice("Device_ExecuteCommand");
        if (!Device_IsConnected()) throw System::InvalidOperationException(k::kNotConnected);
        ExecuteCommand(command);
        return command.XmlData();
    } catch (const std::exception& e) {
        command.SetError(e.what());
        return element;
    }
}

void CaptureDevice::ExecuteCommand(DeviceCommand& command) {
    switch (command.Identifier()) {
        case 1:
            IRControl_Nuc();
            command.SetReturnParameterValue("Result", true);
            return;
        case 2: {
            bool enabled = false;
            if (command.GetParameterValue("Enabled", enabled))
                IRControl_SetShutter(enabled);
            else
                enabled = IRControl_GetShutter();
            command.SetReturnParameterValue("Enabled", enabled);
            return;
        }
        case 3:
            command.SetReturnParameterValue("IsSupported", isSupported.load());
            return;
        case 20:
            if (!commander) NoControlChannel();
            for (const auto& range : commander->GetTemperatureRanges())
                command.SetReturnParameterValue("Range", Fixed(range.min) + ";" + Fixed(range.max));
            return;
        case 21: {
            std::int32_t index = 0;
            if (command.GetParameterValue("Index", index))
                IRControl_SetTemperatureRange(index);
            else
                index = IRControl_GetTemperatureRange();
            command.SetReturnParameterValue("Index", index);
            return;
        }
        case 30: {
            std::uint32_t mode = 0;
            command.GetParameterValue("FocusMode", mode);
            Control_Focus(static_cast<FocusMode>(mode));
            command.SetReturnParameterValue("Result", true);
            return;
        }
        case 31: {
            std::int32_t value = -1;
            command.GetParameterValue("Value", value);
            if (value >= 0)
                Control_SetFocusPosition(value);
            else
                value = Control_GetFocusPosition();
            command.SetReturnParameterValue("Current", value);
            command.SetReturnParameterValue("Min", static_cast<std::int32_t>(Control_GetFocusMin()));
            command.SetReturnParameterValue("Max", static_cast<std::int32_t>(Control_GetFocusMax()));
            return;
        }
        case 32:
            focusAvailable = false;
            if (commander) focusAvailable = commander->IsFocusSupported();
            command.SetReturnParameterValue("Result", focusAvailable.load());
            return;
        case 40:
            for (int i = GraphRateCount() - 1; i >= 0; --i)
                command.SetReturnParameterValue("FrameRates", Fixed(GraphRate(i)));
            if (hasWindowing) {
                command.SetReturnParameterValue("FrameRates", Fixed(k::kWindowingRate2));
                command.SetReturnParameterValue("FrameRates", Fixed(k::kWindowingRate4));
            }
            return;
        case 41: {
            std::int32_t index = 0;
            if (command.GetParameterValue("Index", index))
                Control_SetFrameRate(index);
            else
                index = Control_GetFrameRate();
            command.SetReturnParameterValue("Index", index);
            return;
        }
        case 50: {
            const ImageSize size = captureGraph->GetImageSize();
            command.SetReturnParameterValue("Formats", std::to_string(size.width) + ";" +
                                                           std::to_string(size.height));
            return;
        }
        case 51: {
            std::int32_t index = 0;
            if (command.GetParameterValue("Index", index))
                Grab_SelectImageFormat(index);
            else
                index = Grab_GetSelectedImageFormat();
            command.SetReturnParameterValue("Index", index);
            return;
        }
        case 82:
            return;
        case 90: {
            std::string file;
            if (!command.GetParameterValue("Filename", file)) return;
            if (!commander) NoControlChannel();
            RunScriptFile(file);
            return;
        }
        case 100: {
            FillCameraInformation();
            std::lock_guard state(stateMutex);
            command.SetReturnParameterValue("CameraInfo", cameraInformation.XMLData().ToString());
            return;
        }
        case 120: {
            std::string node;
            if (!command.GetParameterValue("Cmd", node)) return;
            if (!commander) NoControlChannel();
            std::string reply;
            try {
                reply = Communication::ToText(commander->GetValue(node));
            } catch (const System::NotSupportedException& e) {
                reply = e.Message();
            }
            command.SetReturnParameterValue("Reply", reply);
            return;
        }
        case 121:
            WriteNode(command);
            return;
        default:
            throw System::InvalidOperationException(k::kNotImplemented + command.CommandName());
    }
}

void CaptureDevice::RunScriptFile(const std::string& file) {
    // Read whole first, with a bound: a pipe, a device or an endless file is refused rather
    // than read for ever. What ran before a bad line stays run, but the command failed.
    std::vector<std::uint8_t> text;
    try {
        text = System::IO::ReadRegularFile(file, k::kMaxScriptBytes);
    } catch (const System::IO::FileReadException& e) {
        ScriptFileError(file, e.Reason());
    }
    std::istringstream script(std::string(text.begin(), text.end()));
    commander->RunScript(script);
}

void CaptureDevice::WriteNode(DeviceCommand& command) {
    std::string node;
    command.GetParameterValue("Cmd", node);
    if (!commander) NoControlChannel();
    std::int32_t integer = 0;
    double number = 0;
    bool flag = false;
    std::string text;
    try {
        if (command.GetParameterValue("ResInteger", integer))
            commander->SetValue(node, integer);
        else if (command.GetParameterValue("ResDouble", number))
            commander->SetValue(node, number);
        else if (command.GetParameterValue("ResBoolean", flag))
            commander->SetValue(node, flag);
        else if (command.GetParameterValue("ResStringA", text))
            commander->SetValue(node, text, true);
        else
            throw System::InvalidOperationException();
    } catch (const System::NotSupportedException& e) {
        command.SetReturnParameterValue("Cmd", node);
        command.SetReturnParameterValue("Result", false);
        command.SetReturnParameterValue("Error", e.Message());
        return;
    }
    command.SetReturnParameterValue("Cmd", node);
    command.SetReturnParameterValue("Result", true);
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
