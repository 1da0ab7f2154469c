#pragma once
// Invariant-culture conversions between numbers and attribute text.
#include <optional>
#include <string>

namespace Vorn::Zephra::Entities::XmlUtils {

std::string ToXmlText(double value);  // shortest text that reads back to the same value
std::string ToXmlText(long long value);
std::string ToXmlText(bool value);

std::optional<long long> ParseXmlInteger(const std::string& text);
std::optional<double> ParseXmlDouble(const std::string& text);
std::optional<bool> ParseXmlBool(const std::string& text);  // "true"/"false"/"1"/"0", any case

}  // namespace Vorn::Zephra::Entities::XmlUtils
