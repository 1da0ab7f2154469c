#include "tools/zrfgrab/arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "host/system/exceptions.h"

namespace zrfgrab {

long long ParseInteger(const std::string& text, const std::string& option, long long min,
                       long long max) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < min || v > max)
        throw UsageError(option + " takes a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not '" + text + "'");
    return v;
}

double ParsePositive(const std::string& text, const std::string& option, double max) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v) || v <= 0 || v > max) {
        char range[64];
        std::snprintf(range, sizeof range, "a number above 0 up to %g", max);
        throw UsageError(option + " takes " + range + ", not '" + text + "'");
    }
    return v;
}

std::string Counted(std::uint64_t n, const std::string& noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

int ReportingErrors(const std::string& command, const std::function<int()>& body) {
    const std::string prefix = "zrfgrab" + (command.empty() ? "" : " " + command);
    try {
        return body();
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\n", prefix.c_str(), e.what());
        return 2;
    } catch (const System::Exception& e) {
        std::fprintf(stderr, "%s: %s\n", prefix.c_str(), e.Message().c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", prefix.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", prefix.c_str(), e.what());
    }
    return 1;
}

}  // namespace zrfgrab
