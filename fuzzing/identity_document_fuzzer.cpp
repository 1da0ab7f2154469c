// Feeds identity documents to Device_Connect of a new device. The text may name the simulated
// camera through two tokens ("@H" its host name, "@I" its identifier), so inputs reach past
// the early rejections into the connection itself. Connect either succeeds or throws one of
// the framework's exceptions; any other exception, a crash or a leak is a failure.
#include <cstdint>
#include <string>

#include "fuzzing/fuzz_support.h"

namespace {

using System::Xml::Linq::XElement;

void ConnectOnce(fuzz::DeviceRig::CaptureDevice& device, const XElement& identity) {
    fuzz::Tolerate([&] {
        device.Device_Connect(identity);
        // A connected device answers its queries.
        if (!device.Device_IsConnected()) __builtin_trap();
        (void)device.Device_XMLData().ToString();
    });
}

void ReplaceAll(std::string& text, const std::string& token, const std::string& with) {
    for (auto at = text.find(token); at != std::string::npos;
         at = text.find(token, at + with.size()))
        text.replace(at, token.size(), with);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& rig = fuzz::DeviceRig::Instance();
    fuzz::ByteReader in(data, size);
    const auto mode = in.Take<std::uint8_t>();
    std::string text = in.Rest();
    ReplaceAll(text, "@H", rig.Identity().hostname);
    ReplaceAll(text, "@I", rig.Identity().identifier);
    const auto identity = fuzz::Parse(text);
    if (!identity) return 0;
    fuzz::DeviceRig::CaptureDevice device(rig.Identity().identifier);
    ConnectOnce(device, *identity);
    // Connecting again over a live connection releases the old one first.
    if ((mode & 1) != 0) ConnectOnce(device, (mode & 2) != 0 ? rig.IdentityElement() : *identity);
    if ((mode & 4) != 0) fuzz::Tolerate([&] { device.Device_Disconnect(); });
    device.Dispose();
    return 0;
}
