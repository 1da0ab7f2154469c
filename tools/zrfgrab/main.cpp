// zrfgrab: the command-line host that loads the capture plug-in and drives it.
#include <csignal>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <objbase.h>
#endif

#include "host/config/switch_configuration.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/decode_command.h"
#include "tools/zrfgrab/grab_progress.h"
#include "tools/zrfgrab/info_command.h"
#ifdef ZRF_HAVE_SERVE
#include "tools/zrfgrab/serve/serve_command.h"
#endif

namespace {

struct Subcommand {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* usage;
};

const Subcommand kSubcommands[] = {
    {"list", &RunListCommand,
     "list [--plugin PATH] [--cameras] [--identity NAME]\n"
     "    the identifiers and formats the plug-in serves, the simulated cameras, or one\n"
     "    camera's identity document (for grab --identity)"},
    {"grab", &RunGrabCommand,
     "grab [--camera NAME... | --replay REC | --identity FILE] [--identifier ID]\n"
     "     [--format IR|YUY2|JPEG_PLAIN] [--frames N | --seconds S] [--rate-index I]\n"
     "     [--windowing 0|2|4] [--record FILE|DIR] [--pre-record N] [--png FILE]\n"
     "     [--palette iron|grey|hot|rainbow] [--fast] [--seed N] [--quiet] [--json]\n"
     "     [--drift PPM] [--jitter MS] [--stall MS/SECONDS] [--glitch N] [--plugin PATH]\n"
     "    streams from a camera through the plug-in (300 frames unless told otherwise);\n"
     "    each --camera more is one camera more, a device and recording of its own\n"
     "    (FILE.zrec gives FILE-1.zrec, FILE-2.zrec, ...); Ctrl-C ends it early with the summary.\n"
     "    The simulated cameras keep perfect time unless told: --drift their clock off by PPM\n"
     "    (+50 fast, -20 slow), --jitter samples up to MS late (at most 0.9 of a frame\n"
     "    period), --stall the bus for MS every\n"
     "    SECONDS (the frames then are dropped), --glitch one sample in N cut short or damaged;\n"
     "    usb-ir-field has such imperfections of its own"},
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
     "export REC [--frames N|A-B|A-] (--png DIR [--palette NAME] | --zrf DIR | --sample DIR |\n"
     "              --tiff FILE.tif|DIR | --png16 DIR | --csv DIR | --video FILE.mkv)\n"
     "    frames of a recording as pictures, as ZRF images, or as the raw samples a USB camera\n"
     "    sends for them (to try decode on); or their counts for other software: a 16-bit TIFF\n"
     "    stack or a TIFF per frame, a 16-bit PNG per frame, a CSV per frame with frames.csv, a\n"
     "    lossless video (FFV1 in Matroska) with the frames' own times. Stacks and videos are\n"
     "    split where the frame size changes"
#if !defined(ZRF_HAVE_TIFF) || !defined(ZRF_HAVE_VIDEO)
     "\n    This build lacks"
#ifndef ZRF_HAVE_TIFF
     " --tiff (no libtiff)"
#endif
#if !defined(ZRF_HAVE_TIFF) && !defined(ZRF_HAVE_VIDEO)
     " and"
#endif
#ifndef ZRF_HAVE_VIDEO
     " --video (no FFmpeg)"
#endif
#endif
    },
    {"decode", &RunDecodeCommand,
     "decode --subtype CODE --source usb|1394 --size WxH [--fields N] [--field K]\n"
     "       [--rate FPS] [--camera-time] SAMPLE OUT\n"
     "    one raw camera sample into the image the application gets; 1 for a bad frame or a\n"
     "    calibrating camera"},
#ifdef ZRF_HAVE_SERVE
    {"serve", &RunServeCommand,
     "serve [--camera NAME]... [--replay REC]... [--listen ADDR:PORT] [--record-dir DIR]\n"
     "      [--token TOKEN] [--seed N] [--quiet] [--drift PPM] [--jitter MS]\n"
     "      [--stall MS/SECONDS] [--glitch N] [--plugin PATH]\n"
     "    a live view of the cameras in a browser, with a spot readout, recordings and snapshots\n"
     "    (usb-ir, 127.0.0.1:8080 and zrfgrab-recordings/ unless told otherwise); off loopback every\n"
     "    request needs a token (given, in ZRF_SERVE_TOKEN, or made and printed). Ctrl-C ends it"},
#endif
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
                 "plug-in. Exit status: 0 done, 1 failed, 2 bad arguments (nothing was done), 128 + the\n"
                 "signal for work ended by a signal (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP, 141 a closed\n"
                 "pipe); the recording is closed at its last whole frame either way.\n");
#ifndef ZRF_HAVE_SERVE
    std::fprintf(out, "This build has no serve: the live view in a browser runs on Linux.\n");
#endif
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
    zrfgrab::IgnoreBrokenPipes();
#ifdef _WIN32
    // The application's runtime has COM ready on its threads before it calls a plug-in; the
    // plug-in's capture graph needs it.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
    // The switches are read on first use, which may never come: read now, a malformed
    // configuration is said at the start of every command.
    (void)System::Configuration::SwitchConfiguration::Get("Vorn.CaptureDevice");
    std::string prefix = "zrfgrab";
    for (const Subcommand& c : kSubcommands)
        if (argc > 1 && argv[1] == std::string(c.name)) prefix += " " + std::string(c.name);
    // What every command printed is checked here, once: help and reports alike.
    const int status = zrfgrab::ReportingErrors("", [&] {
        if (argc < 2) return RunMainJob();
        const std::string name = argv[1];
        if (name == "-h" || name == "--help" || name == "help") {
            // "help grab" is "grab --help".
            if (name == "help" && argc > 2)
                for (const Subcommand& c : kSubcommands)
                    if (argv[2] == std::string(c.name)) {
                        std::printf("usage: zrfgrab %s\n", c.usage);
                        return 0;
                    }
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
#ifndef ZRF_HAVE_SERVE
        if (name == "serve") throw zrfgrab::UsageError("this build has no serve: the live view in a browser runs on Linux");
#endif
        throw zrfgrab::UsageError("unknown command '" + name + "' (try zrfgrab --help)");
    });
    return zrfgrab::StatusAfterOutput(prefix, status);
}
