#include "tools/zrfgrab/serve/serve_options.h"

#include <cctype>
#include <cstdlib>
#include <random>
#include <set>

#include <boost/asio/ip/address.hpp>

#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/grab_options.h"

namespace zrfgrab::serve {
namespace {

constexpr std::size_t kMinToken = 16;
constexpr std::size_t kMaxToken = 128;

void CheckToken(const std::string& token) {
    if (token.size() < kMinToken || token.size() > kMaxToken)
        throw UsageError("a token takes " + std::to_string(kMinToken) + " to " + std::to_string(kMaxToken) + " characters");
    for (char c : token)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.' && c != '~')
            throw UsageError("a token takes letters, digits and - _ . ~ only (it travels in addresses)");
}

}  // namespace

bool ParseListen(const std::string& text, std::string& address, unsigned short& port, std::string& why) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size()) {
        why = "--listen takes ADDRESS:PORT, such as 127.0.0.1:8080";
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    boost::system::error_code ec;
    const auto parsed = boost::asio::ip::make_address(host, ec);
    if (ec || host.empty()) {
        why = "--listen: '" + host + "' is not an IP address (such as 127.0.0.1, 0.0.0.0 or [::1])";
        return false;
    }
    const std::string digits = text.substr(colon + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(digits) > 65535) {
        why = "--listen: the port is a number from 0 to 65535, not '" + digits + "'";
        return false;
    }
    address = parsed.to_string();
    port = static_cast<unsigned short>(std::stoul(digits));
    return true;
}

bool IsLoopbackAddress(const std::string& address) {
    boost::system::error_code ec;
    const auto parsed = boost::asio::ip::make_address(address, ec);
    return !ec && parsed.is_loopback();
}

std::string NewToken() {
    std::random_device random;  // the system's random source
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        std::uint32_t word = random();
        for (int k = 0; k < 8; ++k, word >>= 4) token += kHex[word & 15];
    }
    return token;
}

ServeOptions ParseServeOptions(int argc, char** argv) {
    ServeOptions o;
    std::set<std::string> given, replays;
    std::vector<std::string> presets;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(a + " needs a value");
            return argv[++i];
        };
        // Only --camera and --replay may come again; any other twice is a mistake to point out.
        if (a != "--camera" && a != "--replay" && a.starts_with("--") && !given.insert(a).second)
            throw UsageError(a + " is given twice");
        if (a == "--camera") {
            // A preset named again is its next camera of that kind, as in grab.
            const std::string v = value();
            CheckCameraName(v);
            presets.push_back(v);
            o.cameras.push_back({v, {}, CameraInstance(presets, presets.size() - 1)});
        } else if (a == "--replay") {
            const std::string v = value();
            if (!replays.insert(v).second) throw UsageError("--replay " + v + " is named twice");
            // Each replay is a camera of its own: the ones before it are counted as presets are.
            o.cameras.push_back({{}, v, static_cast<int>(replays.size()) - 1});
        } else if (a == "--listen") {
            std::string why;
            if (!ParseListen(value(), o.address, o.port, why)) throw UsageError(why);
        } else if (a == "--record-dir") {
            o.recordDir = value();
            if (o.recordDir.empty()) throw UsageError("--record-dir needs a folder");
        } else if (a == "--token") {
            o.token = value();
            CheckToken(o.token);
        } else if (a == "--plugin") {
            o.plugin = value();
        } else if (a == "--seed") {
            o.seed = static_cast<std::uint32_t>(ParseInteger(value(), a, 0, UINT32_MAX));
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (CameraImperfections::Takes(a)) {
            o.imperfections.Read(a, value());
        } else {
            throw UsageError("unknown option '" + a + "'");
        }
    }
    if (o.cameras.empty()) o.cameras.push_back({"usb-ir", {}});
    // A token in the environment stays out of the process list.
    if (const char* fromEnvironment = std::getenv("ZRF_SERVE_TOKEN"); o.token.empty() && fromEnvironment && *fromEnvironment) {
        o.token = fromEnvironment;
        CheckToken(o.token);
    }
    if (o.token.empty() && !IsLoopbackAddress(o.address)) {
        o.token = NewToken();
        o.tokenGenerated = true;
    }
    return o;
}

}  // namespace zrfgrab::serve
