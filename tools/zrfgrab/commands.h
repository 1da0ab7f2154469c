#pragma once
// The subcommands of zrfgrab. Each returns the process exit status and reports its own
// errors as one line on stderr. argv[0] is the subcommand's name.

int RunListCommand(int argc, char** argv);
int RunChecksumCommand(int argc, char** argv);
int RunGrabCommand(int argc, char** argv);
int RunMainJob();
int RunExportCommand(int argc, char** argv);
bool IsRecordingFile(const char* path);
int RunRecordingInfo(const char* path);
int RunCommandCommand(int argc, char** argv);
int RunReplayCommand(int argc, char** argv);
