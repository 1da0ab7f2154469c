#include "host/diagnostics/native_method_name.h"

#include <cxxabi.h>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <dbghelp.h>
#endif

#include <cctype>
#include <cstdlib>
#include <memory>
#include <vector>

namespace System::Diagnostics {
namespace {

constexpr std::string_view kOperator = "operator";

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// ABI tags ("[abi:cxx11]") and the long spelling of std::string only add noise to a stack.
std::string Tidy(std::string_view text) {
    std::string out(text);
    for (auto at = out.find("[abi:"); at != std::string::npos; at = out.find("[abi:", at)) {
        const auto end = out.find(']', at);
        if (end == std::string::npos) break;
        out.erase(at, end - at + 1);
    }
    ReplaceAll(out,
               "std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >",
               "std::string");
    return out;
}

bool IsIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

// "operator" at `at` as a whole word, e.g. not the end of "my_operator".
bool OperatorAt(std::string_view text, std::size_t at) {
    if (text.substr(at, kOperator.size()) != kOperator) return false;
    if (at > 0 && IsIdentifierChar(text[at - 1])) return false;
    const auto after = at + kOperator.size();
    return after >= text.size() || !IsIdentifierChar(text[after]);
}

// Length of the operator's symbol after "operator" ("<<=", "()", "[]", "->*" ...), so that
// its brackets are not taken for template or parameter brackets. A blank after "operator"
// (new, delete, conversions) makes the rest of the name the operator's.
std::size_t OperatorSymbolLength(std::string_view rest) {
    if (rest.empty()) return 0;
    if (rest.front() == ' ') return rest.size();
    if (rest.starts_with("()") || rest.starts_with("[]")) return 2;
    constexpr std::string_view kSymbolChars = "+-*/%^&|~!=<>,";
    std::size_t length = 0;
    while (length < rest.size() && length < 3 &&
           kSymbolChars.find(rest[length]) != std::string_view::npos) {
        ++length;
    }
    return length;
}

struct QualifiedName {
    std::vector<std::string> components;
};

// Splits "ret ns::Type<a::b>::Method" at top-level "::" and drops whatever stands before the
// last top-level blank (a template's return type).
QualifiedName SplitQualifiedName(std::string_view head) {
    QualifiedName out;
    std::string current;
    int depth = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        const char c = head[i];
        if (depth == 0 && OperatorAt(head, i)) {
            const auto symbol = OperatorSymbolLength(head.substr(i + kOperator.size()));
            current.append(head.substr(i, kOperator.size() + symbol));
            i += kOperator.size() + symbol - 1;
            continue;
        }
        if (c == '(' || c == '<' || c == '[' || c == '{') ++depth;
        if ((c == ')' || c == '>' || c == ']' || c == '}') && depth > 0) --depth;
        if (depth == 0 && c == ':' && i + 1 < head.size() && head[i + 1] == ':') {
            out.components.push_back(std::move(current));
            current.clear();
            ++i;
            continue;
        }
        if (depth == 0 && c == ' ') {
            out.components.clear();
            current.clear();
            continue;
        }
        current.push_back(c);
    }
    out.components.push_back(std::move(current));
    return out;
}

std::vector<ParameterInfo> SplitParameters(std::string_view list) {
    std::vector<ParameterInfo> out;
    int depth = 0;
    std::size_t start = 0;
    const auto add = [&](std::size_t end) {
        const auto type = Trim(list.substr(start, end - start));
        if (!type.empty()) out.push_back({Tidy(type), {}});
    };
    for (std::size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (c == '(' || c == '<' || c == '[' || c == '{') ++depth;
        if ((c == ')' || c == '>' || c == ']' || c == '}') && depth > 0) --depth;
        if (depth == 0 && c == ',') {
            add(i);
            start = i + 1;
        }
    }
    add(list.size());
    if (out.size() == 1 && out.front().ParameterType == "void") out.clear();
    return out;
}

std::string_view StripSuffixes(std::string_view name) {
    for (bool stripped = true; stripped;) {
        stripped = false;
        name = Trim(name);
        if (name.ends_with(']')) {
            if (const auto clone = name.rfind(" [clone "); clone != std::string_view::npos) {
                name = name.substr(0, clone);
                stripped = true;
            }
        }
        for (std::string_view q : {" const", " volatile", " &&", " &", " noexcept"}) {
            if (name.ends_with(q)) {
                name.remove_suffix(q.size());
                stripped = true;
            }
        }
    }
    return name;
}

// Position of the "(" that opens the parameter list closing at the end of `name`.
std::size_t ParameterListStart(std::string_view name) {
    int depth = 0;
    for (std::size_t i = name.size(); i-- > 0;) {
        if (name[i] == ')') ++depth;
        if (name[i] == '(' && --depth == 0) return i;
    }
    return std::string_view::npos;
}

std::string Join(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) out += '.';
        out += Tidy(parts[i]);
    }
    return out;
}

}  // namespace

std::string DemangleSymbol(std::string_view symbol) {
    if (!symbol.starts_with("_Z")) return std::string(symbol);
    const std::string mangled(symbol);
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? std::string(readable.get()) : mangled;
}

std::optional<MethodInfo> MethodFromNativeName(std::string_view readableName) {
    auto name = StripSuffixes(readableName);
    std::vector<ParameterInfo> parameters;
    if (name.ends_with(')')) {
        const auto open = ParameterListStart(name);
        // "operator()" alone has no parameter list of its own.
        if (open != std::string_view::npos && open > 0 &&
            !name.substr(0, open + 2).ends_with("operator()")) {
            parameters = SplitParameters(name.substr(open + 1, name.size() - open - 2));
            name = name.substr(0, open);
        }
    }
    auto qualified = SplitQualifiedName(Trim(name));
    auto& parts = qualified.components;
    if (parts.empty() || parts.back().empty()) return std::nullopt;

    MethodInfo method;
    method.Name = Tidy(parts.back());
    method.Parameters = std::move(parameters);
    if (parts.size() >= 2) {
        method.DeclaringType =
            TypeInfo{Join(parts, parts.size() - 2), Tidy(parts[parts.size() - 2])};
    }
    return method;
}

std::optional<std::string> UndecorateFunctionName(std::string_view decoratedName) {
#ifdef _WIN32
    // The platform's routine, in name-only mode with a 512-character buffer.
    if (decoratedName.starts_with('?')) {
        const std::string name(decoratedName);
        char bare[512];
        if (UnDecorateSymbolName(name.c_str(), bare, sizeof bare, UNDNAME_NAME_ONLY) == 0) return std::nullopt;
        return std::string(bare);
    }
#endif
    if (!decoratedName.starts_with("_Z")) return std::nullopt;
    const auto readable = DemangleSymbol(decoratedName);
    if (readable.starts_with("_Z")) return std::nullopt;
    auto method = MethodFromNativeName(readable);
    if (!method) return std::nullopt;
    return method->Name;
}

}  // namespace System::Diagnostics
