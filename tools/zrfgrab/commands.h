#pragma once
// The subcommands of zrfgrab. Each returns the process exit status and reports its own
// errors as one line on stderr. argv[0] is the subcommand's name.

int RunListCommand(int argc, char** argv);
int RunChecksumCommand(int argc, char** argv);
int RunGrabCommand(int argc, char** argv);
int RunMainJob();
