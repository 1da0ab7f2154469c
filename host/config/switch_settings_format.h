#pragma once
// The two textual forms in which the host application's configuration sets named
// diagnostic switches.
//
// Configuration file (named by the environment variable ZRF_CONFIG), one setting a line:
//
//     # stack traces on every trace message
//     Vorn.Zephra.Diagnostics.Log.StackTraceOn = 1
//     Vorn.CaptureDevice = Verbose     # Off, Error, Warning, Info, Verbose or 0-4
//
//   - "#" starts a comment that runs to the end of the line;
//   - blanks and tabs around names and values are ignored, as are empty lines and a
//     trailing carriage return;
//   - names are case-sensitive and may not be empty; values may be empty;
//   - a line without "=" is malformed: it is reported and skipped;
//   - a name set twice keeps its last value.
//
// Switch list (the environment variable ZRF_SWITCHES): the same settings separated by ";",
// e.g. "Vorn.CaptureDevice=Verbose;CD_Vorn.CaptureDevice=on". Empty entries are skipped; the
// same rules for blanks, names and malformed entries apply. There are no comments.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace System::Configuration {

using SwitchSettings = std::map<std::string, std::string, std::less<>>;

struct ParsedSwitchSettings {
    SwitchSettings settings;
    std::vector<std::string> problems;  // one text per malformed line or entry
};

ParsedSwitchSettings ParseConfigurationFile(std::string_view text);
ParsedSwitchSettings ParseSwitchList(std::string_view text);

}  // namespace System::Configuration
