#pragma once
// Text as XML 1.0 allows it in a document: well-formed UTF-8 of the characters it allows (tab,
// line feed, carriage return, and from U+0020 on, less the surrogates, U+FFFE and U+FFFF).
// Anything else (a control character, a byte that is not UTF-8) cannot be written even as a
// character reference; each such byte or character is written as U+FFFD instead.
#include <string>
#include <string_view>

namespace System::Xml {

bool IsXmlText(std::string_view text);
std::string ToXmlText(std::string_view text);

}  // namespace System::Xml
