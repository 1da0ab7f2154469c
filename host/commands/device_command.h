#pragma once
// The framework's command document: a numbered command with named, typed input parameters,
// to which the device adds named return values or an error text. Layout:
//   <Command Id="41" Name="FrameRate">
//     <Parameter Name="Index" Type="Int32" Value="2"/>
//     <Return Name="Index" Type="Int32" Value="2"/>      (one per value set, in order)
//     <Error>text</Error>                               (after a failure)
//   </Command>
// The wrapper edits the element it wraps: the reply is that same element.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/xml/x_element.h"

namespace Vorn::Zephra::Net::Devices {

using System::Xml::Linq::XElement;

class DeviceCommand {
  public:
    explicit DeviceCommand(XElement command);  // throws ArgumentNullException for null

    // Throws FormatException when the Id is not a 32-bit integer; an absent Id reads 0.
    std::int32_t Identifier() const;
    std::string CommandName() const;

    // False, leaving value untouched, when the parameter is absent. A parameter whose text
    // does not read as the requested type throws FormatException.
    bool GetParameterValue(const std::string& name, bool& value) const;
    bool GetParameterValue(const std::string& name, std::int32_t& value) const;
    bool GetParameterValue(const std::string& name, std::uint32_t& value) const;
    bool GetParameterValue(const std::string& name, double& value) const;
    bool GetParameterValue(const std::string& name, std::string& value) const;

    bool SetReturnParameterValue(const std::string& name, bool value);
    bool SetReturnParameterValue(const std::string& name, std::int32_t value);
    bool SetReturnParameterValue(const std::string& name, const std::string& value);
    bool SetReturnParameterValue(const std::string& name, const char* value) {
        return SetReturnParameterValue(name, std::string(value));
    }

    void SetError(const std::string& text);
    XElement XmlData() const { return element_; }

    // Building commands (the host side).
    static DeviceCommand Create(std::int32_t id, const std::string& name);
    void AddParameter(const std::string& name, const std::string& type, const std::string& value);

    // Reading replies.
    std::string Error() const;  // empty when none
    std::vector<std::string> ReturnValues(const std::string& name) const;

  private:
    std::optional<std::string> ParameterText(const std::string& name) const;
    void AddReturn(const std::string& name, const char* type, const std::string& value);

    XElement element_;
};

}  // namespace Vorn::Zephra::Net::Devices
