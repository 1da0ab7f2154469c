#pragma once
// What every subcommand needs to read its arguments: the error that means "bad arguments"
// (exit status 2), numbers checked against their range, and one way of reporting failures.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace zrfgrab {

// Bad arguments: the command did no work and exits with 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A whole number from min to max, or a UsageError naming the option.
long long ParseInteger(const std::string& text, const std::string& option, long long min,
                       long long max);
// A finite number above zero up to max, or a UsageError naming the option.
double ParsePositive(const std::string& text, const std::string& option, double max);

// "1 frame", "2 frames".
std::string Counted(std::uint64_t n, const std::string& noun);

// Runs a subcommand: a UsageError exits with 2, any other failure with 1, each reported as
// one line "zrfgrab COMMAND: message" on stderr.
int ReportingErrors(const std::string& command, const std::function<int()>& body);

}  // namespace zrfgrab
