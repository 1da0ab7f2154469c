#include "tools/zrfgrab/framework_use.h"

#include <cstdlib>
#include <cstring>

namespace zrfgrab {

FrameworkRecords::FrameworkRecords() {
    const char* log = std::getenv("ZRF_LOG");
    if (log == nullptr || std::strcmp(log, "trace") != 0) capture_.emplace();
}

std::string FrameworkRecords::Explain(const std::string& message) const {
    std::string out = message;
    if (capture_)
        for (const auto& r : capture_->UserErrors()) out += " (" + r.key + ": " + r.text + ")";
    return out;
}

}  // namespace zrfgrab
