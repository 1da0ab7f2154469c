#include "host/commands/device_command.h"

#include <limits>

#include "host/system/exceptions.h"
#include "host/xml/xml_text.h"

namespace Vorn::Zephra::Net::Devices {

using namespace Vorn::Zephra::Entities::XmlUtils;

namespace {

[[noreturn]] void BadValue(const std::string& name, const std::string& text, const char* type) {
    throw System::FormatException("Parameter '" + name + "' is not " + type + ": '" + text + "'");
}

}  // namespace

DeviceCommand::DeviceCommand(XElement command) : element_(std::move(command)) {
    if (element_.IsNull()) throw System::ArgumentNullException("command");
}

DeviceCommand DeviceCommand::Create(std::int32_t id, const std::string& name) {
    XElement e("Command");
    e.SetAttribute("Id", std::to_string(id));
    e.SetAttribute("Name", name);
    return DeviceCommand(e);
}

std::int32_t DeviceCommand::Identifier() const {
    const auto text = element_.Attribute("Id");
    if (!text) return 0;
    const auto value = ParseXmlInteger(*text);
    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max())
        throw System::FormatException("Command Id is not a 32-bit integer: '" + *text + "'");
    return static_cast<std::int32_t>(*value);
}

std::string DeviceCommand::CommandName() const { return element_.Attribute("Name").value_or(""); }

std::optional<std::string> DeviceCommand::ParameterText(const std::string& name) const {
    for (const XElement& p : element_.Elements("Parameter"))
        if (p.Attribute("Name") == name) return p.Attribute("Value").value_or(p.Value());
    return std::nullopt;
}

bool DeviceCommand::GetParameterValue(const std::string& name, bool& value) const {
    auto text = ParameterText(name);
    if (!text) return false;
    auto v = ParseXmlBool(*text);
    if (!v) BadValue(name, *text, "a boolean");
    value = *v;
    return true;
}

bool DeviceCommand::GetParameterValue(const std::string& name, std::int32_t& value) const {
    auto text = ParameterText(name);
    if (!text) return false;
    auto v = ParseXmlInteger(*text);
    if (!v || *v < std::numeric_limits<std::int32_t>::min() ||
        *v > std::numeric_limits<std::int32_t>::max())
        BadValue(name, *text, "a 32-bit integer");
    value = static_cast<std::int32_t>(*v);
    return true;
}

bool DeviceCommand::GetParameterValue(const std::string& name, std::uint32_t& value) const {
    auto text = ParameterText(name);
    if (!text) return false;
    auto v = ParseXmlInteger(*text);
    if (!v || *v < 0 || *v > std::numeric_limits<std::uint32_t>::max())
        BadValue(name, *text, "an unsigned 32-bit integer");
    value = static_cast<std::uint32_t>(*v);
    return true;
}

bool DeviceCommand::GetParameterValue(const std::string& name, double& value) const {
    auto text = ParameterText(name);
    if (!text) return false;
    auto v = ParseXmlDouble(*text);
    if (!v) BadValue(name, *text, "a number");
    value = *v;
    return true;
}

bool DeviceCommand::GetParameterValue(const std::string& name, std::string& value) const {
    auto text = ParameterText(name);
    if (!text) return false;
    value = *text;
    return true;
}

void DeviceCommand::AddReturn(const std::string& name, const char* type, const std::string& value) {
    XElement r = element_.AddElement("Return");
    r.SetAttribute("Name", name);
    r.SetAttribute("Type", type);
    r.SetAttribute("Value", value);
}

bool DeviceCommand::SetReturnParameterValue(const std::string& name, bool value) {
    AddReturn(name, "Boolean", ToXmlText(value));
    return true;
}

bool DeviceCommand::SetReturnParameterValue(const std::string& name, std::int32_t value) {
    AddReturn(name, "Int32", ToXmlText(static_cast<long long>(value)));
    return true;
}

bool DeviceCommand::SetReturnParameterValue(const std::string& name, const std::string& value) {
    AddReturn(name, "String", value);
    return true;
}

void DeviceCommand::SetError(const std::string& text) {
    XElement error = element_.Element("Error");
    if (error.IsNull()) error = element_.AddElement("Error");
    error.SetValue(text);
}

void DeviceCommand::AddParameter(const std::string& name, const std::string& type,
                                 const std::string& value) {
    XElement p = element_.AddElement("Parameter");
    p.SetAttribute("Name", name);
    p.SetAttribute("Type", type);
    p.SetAttribute("Value", value);
}

std::string DeviceCommand::Error() const {
    XElement error = element_.Element("Error");
    return error.IsNull() ? std::string() : error.Value();
}

std::vector<std::string> DeviceCommand::ReturnValues(const std::string& name) const {
    std::vector<std::string> out;
    for (const XElement& r : element_.Elements("Return"))
        if (r.Attribute("Name") == name) out.push_back(r.Attribute("Value").value_or(""));
    return out;
}

}  // namespace Vorn::Zephra::Net::Devices
