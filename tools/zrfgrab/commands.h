#pragma once
// The subcommands of zrfgrab. Each returns the process exit status (0 done, 1 failed, 2 bad
// arguments) and reports its own errors as one line on stderr. argv[0] is the subcommand's name.
#include <string>

#include "host/recorder/recording_file.h"

int RunListCommand(int argc, char** argv);
int RunChecksumCommand(int argc, char** argv);
int RunGrabCommand(int argc, char** argv);
int RunReplayCommand(int argc, char** argv);
int RunMainJob();
int RunExportCommand(int argc, char** argv);
int RunCommandCommand(int argc, char** argv);

bool IsRecordingFile(const std::string& path);
// Throws zrfgrab::UsageError when path cannot be read as a recording.
Vorn::Zephra::Net::Devices::Recorder::RecordingReader OpenRecording(const std::string& path);
// Prints what a recording holds; 0 when it is whole, 1 for bad checksums or a bad ending, 2
// (with one line on stderr) when it cannot be read as a recording.
int RunRecordingInfo(const std::string& path);
