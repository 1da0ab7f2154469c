#pragma once
// How zrfgrab uses the framework's objects as the application does: a device is disposed
// before it is let go, and the framework's log records are held back (they would break into
// the progress line) and told with the error, unless ZRF_LOG=trace asks for them as they come.
#include <optional>
#include <string>

#include "host/devices/device_interfaces.h"
#include "host/logging/logger.h"

namespace zrfgrab {

struct DisposeOnExit {
    Vorn::Zephra::Net::Devices::IDevice& device;
    ~DisposeOnExit() {
        try {
            device.Dispose();
        } catch (...) {
        }
    }
};

class FrameworkRecords {
  public:
    FrameworkRecords();
    // The message with the user errors logged meanwhile, on one line.
    std::string Explain(const std::string& message) const;

  private:
    std::optional<Vorn::Zephra::Diagnostics::Log::LogCapture> capture_;
};

}  // namespace zrfgrab
