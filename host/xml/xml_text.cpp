#include "host/xml/xml_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace Vorn::Zephra::Entities::XmlUtils {
namespace {

std::string Trim(const std::string& text) {
    auto begin = std::find_if_not(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); });
    auto end = std::find_if_not(text.rbegin(), text.rend(), [](unsigned char c) { return std::isspace(c); }).base();
    return begin < end ? std::string(begin, end) : std::string();
}

}  // namespace

std::string ToXmlText(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, end);
}

std::string ToXmlText(long long value) { return std::to_string(value); }

std::string ToXmlText(bool value) { return value ? "true" : "false"; }

std::optional<long long> ParseXmlInteger(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty()) return std::nullopt;
    const char* first = t.data();
    if (*first == '+') ++first;
    long long value = 0;
    auto [end, ec] = std::from_chars(first, t.data() + t.size(), value);
    if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return value;
}

std::optional<double> ParseXmlDouble(const std::string& text) {
    const std::string t = Trim(text);
    if (t == "NaN") return std::nan("");
    if (t == "INF") return HUGE_VAL;
    if (t == "-INF") return -HUGE_VAL;
    if (t.empty()) return std::nullopt;
    const char* first = t.data();
    if (*first == '+') ++first;
    double value = 0;
    auto [end, ec] = std::from_chars(first, t.data() + t.size(), value);
    if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return value;
}

std::optional<bool> ParseXmlBool(const std::string& text) {
    std::string t = Trim(text);
    std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return std::tolower(c); });
    if (t == "true" || t == "1") return true;
    if (t == "false" || t == "0") return false;
    return std::nullopt;
}

}  // namespace Vorn::Zephra::Entities::XmlUtils
