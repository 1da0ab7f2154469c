#pragma once
// The options of zrfgrab serve, read and checked before any camera starts.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/zrfgrab/camera_imperfections.h"
#include "tools/zrfgrab/serve/device_camera.h"

namespace zrfgrab::serve {

struct ServeOptions {
    std::vector<CameraSource> cameras;  // in the order given; usb-ir when none is
    std::string address = "127.0.0.1";
    unsigned short port = 8080;
    std::string recordDir = "zrfgrab-recordings";
    std::string token;  // asked of every request; empty on loopback unless given
    bool tokenGenerated = false;
    std::string plugin;
    std::uint32_t seed = 1;
    bool quiet = false;
    CameraImperfections imperfections;  // of the camera presets (replays play as recorded)
};

// Reads argv[1..]; throws UsageError for a bad option, an unknown camera, a camera named
// twice, a bad address or token. Off loopback without a token, one is made.
ServeOptions ParseServeOptions(int argc, char** argv);

// "ADDR:PORT" or "[ADDR]:PORT" with an IP address and a port from 0 (any free one) to 65535.
bool ParseListen(const std::string& text, std::string& address, unsigned short& port, std::string& why);
bool IsLoopbackAddress(const std::string& address);
// 32 hexadecimal digits from the system's random source.
std::string NewToken();

}  // namespace zrfgrab::serve
