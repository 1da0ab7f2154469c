#pragma once
// zrfgrab serve: the live view of one or more cameras in a browser.

// Returns the exit status: 128 + the signal that ended it (130 for Ctrl-C), 1 for a failure,
// 2 for bad arguments.
int RunServeCommand(int argc, char** argv);
