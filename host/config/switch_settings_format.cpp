#include "host/config/switch_settings_format.h"

namespace System::Configuration {
namespace {

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// Adds one "name = value" entry; `where` says where it came from in a problem report.
void AddEntry(std::string_view entry, const std::string& where, ParsedSwitchSettings& out) {
    entry = Trim(entry);
    if (entry.empty()) return;
    const auto equals = entry.find('=');
    const auto name =
        equals == std::string_view::npos ? std::string_view{} : Trim(entry.substr(0, equals));
    if (name.empty()) {
        out.problems.push_back(where + ": expected 'name = value', found '" + std::string(entry) +
                               "'");
        return;
    }
    out.settings.insert_or_assign(std::string(name), std::string(Trim(entry.substr(equals + 1))));
}

}  // namespace

ParsedSwitchSettings ParseConfigurationFile(std::string_view text) {
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
    ParsedSwitchSettings out;
    int lineNumber = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        line = line.substr(0, line.find('#'));
        AddEntry(line, "line " + std::to_string(lineNumber), out);
    }
    return out;
}

ParsedSwitchSettings ParseSwitchList(std::string_view text) {
    ParsedSwitchSettings out;
    int entryNumber = 0;
    while (!text.empty()) {
        const auto end = text.find(';');
        const auto entry = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++entryNumber;
        AddEntry(entry, "entry " + std::to_string(entryNumber), out);
    }
    return out;
}

}  // namespace System::Configuration
