#pragma once
// Stack capture shared by DeviceTrace's entry points. Each entry point passes its own return
// address and how many frames it stands for (counting CurrentStack(int) as the first), so the
// skip counts mean the same whether or not the compiler kept those frames.
#include <string>

namespace Vorn::Zephra::Net::Devices::Camera::IR {

std::string CurrentStackFrom(const void* entryReturnAddress, int entryFrames, int skipFrames);

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
