// Feeds scripts to RunScript on the simulated camera's control channel (logged in). Half the
// inputs are raw text; the other half are lines put together from the script's verbs, the
// tree's node names and typical values, so statements get past the parser into the tree.
// A script either runs or throws one of the framework's exceptions.
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzzing/fuzz_support.h"
#include "host/control/rtree_commander.h"
#include "sim/control/resource_tree.h"

namespace {

using namespace Vorn::Zephra::Net::Communication;

const char* const kVerbs[] = {"set", "expect", "nuc", "SET", "", "#"};
const char* const kValues[] = {"0",          "1",     "-1",        "2",   "3",
                               "true",       "false", "1e308",     "nan", "-0",
                               "2147483648", "abc",   " 4 # note", "1.5", ""};
const char* const kSpace[] = {" ", "\t", "  ", "\r", ""};

RTreeCommander& Channel() {
    static RTreeCommander* channel = [] {
        auto& rig = fuzz::DeviceRig::Instance();
        auto* c = new RTreeCommander();
        if (!c->Connect(ConnectionMode::Network, rig.Camera().HostName(), false)) std::abort();
        c->Authenticate("root", "7qazn");
        return c;
    }();
    return *channel;
}

std::string Compose(fuzz::ByteReader& in) {
    static const auto nodes = fuzz::DeviceRig::Instance().Camera().Tree()->NodeNames();
    std::string script;
    while (!in.Empty()) {
        const auto pick = in.Take<std::uint8_t>();
        script += in.Pick(kSpace);
        script += in.Pick(kVerbs);
        script += in.Pick(kSpace);
        script += pick < 200 ? nodes[pick % nodes.size()] : in.Text(12);
        script += in.Pick(kSpace);
        script += (pick & 1) != 0 ? std::string(in.Pick(kValues)) : in.Text(6);
        script += '\n';
    }
    return script;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RTreeCommander& channel = Channel();
    fuzz::ByteReader in(data, size);
    const std::string script = (in.Take<std::uint8_t>() & 1) != 0 ? in.Rest() : Compose(in);
    std::istringstream stream(script);
    fuzz::Tolerate([&] { channel.RunScript(stream); });
    // The channel is still usable afterwards.
    (void)channel.GetName();
    return 0;
}
