// zrfgrab: the command-line host that loads the capture plug-in and drives it.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/decode_command.h"
#include "tools/zrfgrab/info_command.h"

namespace {

struct Subcommand {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* usage;
};

const Subcommand kSubcommands[] = {
    {"list", &RunListCommand, "list [--plugin PATH] [--cameras]  identifiers and formats the plug-in serves,\n"
                              "         or the simulated cameras"},
    {"checksum", &RunChecksumCommand, "checksum NAME FILE           a file's checksum: CRC32, CRC00, CRC01 or CRC02"},
    {"grab", &RunGrabCommand,
     "grab [--camera NAME|--replay REC|--identity FILE] [--format IR|YUY2|JPEG_PLAIN]\n"
     "         [--frames N|--seconds S] [--rate-index I] [--windowing 0|2|4] [--record FILE]\n"
     "         [--png FILE] [--palette iron|grey|hot|rainbow] [--pre-record N] [--fast]\n"
     "         [--seed N] [--quiet] [--json]   stream from a camera through the plug-in"},
    {"replay", &RunReplayCommand, "replay RECORDING [grab options]   stream a recording through the plug-in"},
    {"command", &RunCommandCommand,
     "command ID [NAME[:TYPE]=VALUE ...] [--camera NAME]   run one numbered camera command"},
    {"decode", &RunDecodeCommand,
     "decode --subtype CODE --source usb|1394 --size WxH [--fields N] [--field K] [--rate FPS]\n"
     "         [--camera-time] SAMPLE OUT   one camera sample into the image the application gets"},
    {"info", &RunInfoCommand, "info FILE                    what a recording or a ZRF image holds"},
    {"export", &RunExportCommand,
     "export RECORDING [--frames A[-B]] (--png DIR | --zrf DIR)   frames as pictures or images"},
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: zrfgrab COMMAND [ARGS...]\n\ncommands:\n");
    for (const Subcommand& c : kSubcommands) std::fprintf(out, "  %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return RunMainJob();
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    for (const Subcommand& c : kSubcommands)
        if (name == c.name) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "zrfgrab: unknown command '%s' (try zrfgrab --help)\n", name.c_str());
    return 2;
}
