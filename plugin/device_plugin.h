#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/devices/device_interfaces.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

// The plug-in's entry object: which identifiers and formats it serves, and the device factory.
class DevicePlugin final : public IDevicePlugin {
  public:
    // Reads both lists from the resource set carried by this library; a missing set or
    // resource escapes as MissingManifestResourceException.
    DevicePlugin();

    const std::vector<std::string>& Identifiers() const override { return identifiers_; }
    const std::vector<std::string>& Formats() const override { return formats_; }
    void Initialize() override {}
    std::unique_ptr<IDevice> Create(const std::string& identifier) override;
    void Dispose() override {}  // owns nothing but the two lists

    // Splits on "|" only, keeping every piece, empty ones included.
    static std::vector<std::string> SplitList(const std::string& text);

  private:
    std::vector<std::string> identifiers_;
    std::vector<std::string> formats_;
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
