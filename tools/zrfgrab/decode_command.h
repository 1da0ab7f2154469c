#pragma once
// `zrfgrab decode`: turns one raw camera sample file into the image the application would
// receive, through the same image stream the plug-in uses.
//
//   decode --subtype CODE --source usb|1394 --size WxH [--fields N] [--field K] [--rate FPS]
//          [--camera-time] SAMPLE OUT
//
// argv[0] is the command's own name. Exit codes: 0 the image was written; 1 the stream
// rejected the sample (a bad frame, a calibrating camera) or OUT could not be written; 2 bad
// arguments, an unreadable SAMPLE or one above 256 MiB, or an OUT that is not a regular file.
// Every failure prints one line on stderr; OUT is replaced whole or not at all.
int RunDecodeCommand(int argc, char** argv);
