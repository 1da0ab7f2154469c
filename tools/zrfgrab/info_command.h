#pragma once
// `zrfgrab info FILE`: prints a ZRF image's main header, index entries, geometry, time stamp and
// pixel statistics (minimum, maximum, mean). argv[0] is the command's own name.
// Exit codes: 0 printed; 2 bad arguments, an unreadable file, or not a ZRF image.
int RunInfoCommand(int argc, char** argv);
