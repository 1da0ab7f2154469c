#pragma once
// The time stamp at the head of a trace message: the local date in the current locale's
// short form, a blank, and the local time as HH:MM:SS.fffffff.
#include <chrono>
#include <string>

namespace Vorn::Zephra::Net::Devices::Camera::IR {

std::string FormatTraceTimeStamp(std::chrono::system_clock::time_point when);

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
