// Feeds identity documents to Device_Connect of a new device. The text may name the simulated
// camera through two tokens ("@H" its host name, "@I" its identifier), so inputs reach past
// the early rejections into the connection itself. Connect either succeeds or throws one of
// the framework's exceptions; any other exception, a crash or a leak is a failure.
#include <cstdint>
#include <string>

#include "fuzzing/fuzz_support.h"
#include "host/system/exceptions.h"

namespace {

using System::Xml::Linq::XElement;

void ConnectOnce(fuzz::DeviceRig::CaptureDevice& device, const XElement& identity) {
    try {
        device.Device_Connect(identity);
    } catch (const System::Exception&) {
        return;
    }
    // A connected device answers its queries.
    if (!device.Device_IsConnected()) __builtin_trap();
    (void)device.Device_XMLData().ToString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& rig = fuzz::DeviceRig::Instance();
    fuzz::ByteReader in(data, size);
    const auto mode = in.Take<std::uint8_t>();
    std::string text = in.Rest();
    fuzz::ReplaceAll(text, "@H", rig.Identity().hostname);
    fuzz::ReplaceAll(text, "@I", rig.Identity().identifier);

    XElement identity;
    try {
        identity = XElement::Parse(text);
    } catch (const System::Exception&) {
        return 0;
    }
    auto device = rig.Fresh();
    ConnectOnce(*device, identity);
    // Connecting again over a live connection releases the old one first.
    if ((mode & 1) != 0) ConnectOnce(*device, (mode & 2) != 0 ? rig.IdentityElement() : identity);
    if ((mode & 4) != 0) {
        try {
            device->Device_Disconnect();
        } catch (const System::Exception&) {
        }
    }
    device->Dispose();
    return 0;
}
