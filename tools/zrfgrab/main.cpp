// zrfgrab: the command-line host that loads the capture plug-in and drives it.
#include <csignal>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <objbase.h>
#endif

#include "tools/zrfgrab/arguments.h"
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
    {"list", &RunListCommand,
     "list [--plugin PATH] [--cameras]\n"
     "    the identifiers and formats the plug-in serves, or the simulated cameras"},
    {"grab", &RunGrabCommand,
     "grab [--camera NAME | --replay REC | --identity FILE] [--identifier ID]\n"
     "     [--format IR|YUY2|JPEG_PLAIN] [--frames N | --seconds S] [--rate-index I]\n"
     "     [--windowing 0|2|4] [--record FILE|DIR] [--pre-record N] [--png FILE]\n"
     "     [--palette iron|grey|hot|rainbow] [--fast] [--seed N] [--quiet] [--json]\n"
     "     [--plugin PATH]\n"
     "    streams from a camera through the plug-in (300 frames unless told otherwise);\n"
     "    Ctrl-C ends it early with the summary"},
    {"replay", &RunReplayCommand,
     "replay REC [grab options]\n"
     "    a simulated USB camera plays a recording through the plug-in, again from the start\n"
     "    when more frames are asked for than it holds"},
    {"command", &RunCommandCommand,
     "command ID [NAME[:TYPE]=VALUE ...] [--camera NAME] [--format F]\n"
     "    runs one numbered camera command and prints the reply"},
    {"info", &RunInfoCommand,
     "info FILE\n"
     "    what a recording or a ZRF image holds; 1 when a recording is not whole"},
    {"export", &RunExportCommand,
     "export REC [--frames N|A-B|A-] (--png DIR [--palette NAME] | --zrf DIR | --sample DIR)\n"
     "    frames of a recording as pictures, as ZRF images, or as the raw samples a USB camera\n"
     "    sends for them (to try decode on)"},
    {"decode", &RunDecodeCommand,
     "decode --subtype CODE --source usb|1394 --size WxH [--fields N] [--field K]\n"
     "       [--rate FPS] [--camera-time] SAMPLE OUT\n"
     "    one raw camera sample into the image the application gets; 1 for a bad frame or a\n"
     "    calibrating camera"},
    {"checksum", &RunChecksumCommand,
     "checksum CRC32|CRC00|CRC01|CRC02 FILE\n"
     "    a file's checksum as eight hex digits"},
};

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: zrfgrab [COMMAND [ARGS...]]\n\n"
                 "Without a command, the main job: 300 frames from the simulated camera usb-ir,\n"
                 "recorded to zrfgrab-out/recording.zrec (about 617 KB a frame), with a picture of\n"
                 "the last frame in zrfgrab-out/last-frame.png.\n\ncommands:\n");
    for (const Subcommand& c : kSubcommands) std::fprintf(out, "  %s\n", c.usage);
    std::fprintf(out,
                 "\n'zrfgrab COMMAND --help' shows one command. ZRF_PLUGIN or --plugin names another\n"
                 "plug-in. Exit status: 0 done, 1 failed, 2 bad arguments, 130 a grab ended by Ctrl-C.\n");
}

bool AsksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // Past a file-size limit a write fails (and is reported) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef _WIN32
    // The application's runtime has COM ready on its threads before it calls a plug-in; the
    // plug-in's capture graph needs it.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
    return zrfgrab::ReportingErrors("", [&] {
        if (argc < 2) return RunMainJob();
        const std::string name = argv[1];
        if (name == "-h" || name == "--help" || name == "help") {
            PrintUsage(stdout);
            return 0;
        }
        for (const Subcommand& c : kSubcommands) {
            if (name != c.name) continue;
            if (AsksForHelp(argc - 1, argv + 1)) {
                std::printf("usage: zrfgrab %s\n", c.usage);
                return 0;
            }
            return c.run(argc - 1, argv + 1);
        }
        throw zrfgrab::UsageError("unknown command '" + name + "' (try zrfgrab --help)");
    });
}
