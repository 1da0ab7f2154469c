#pragma once
// `zrfgrab decode`: turns one raw camera sample file into the image the application would
// receive, through the same image stream the plug-in uses.
//
//   decode --subtype CODE --source usb|1394 --size WxH [--fields N] [--field K] [--rate FPS]
//          [--camera-time] SAMPLE OUT
//
// argv[0] is the command's own name. Exit codes: 0 the image was written; 1 the stream
// rejected the sample (BadFrame, Calibrating) or OUT could not be written; 2 bad arguments or
// an unreadable SAMPLE. Every failure prints one line on stderr.
int RunDecodeCommand(int argc, char** argv);
