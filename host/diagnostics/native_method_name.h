#pragma once
// Turns native (C++) function names into the runtime's method descriptions.
#include <optional>
#include <string>
#include <string_view>

#include "host/diagnostics/stack_trace.h"

namespace System::Diagnostics {

// The readable form of an Itanium-mangled name ("_Z..."); other names come back unchanged.
std::string DemangleSymbol(std::string_view symbol);

// Splits a readable C++ function name such as "ns::Type::Method(int, char const*) const" into
// declaring type (namespace "ns", name "Type"), method name and parameter types. A name with
// one component has no declaring type. Return types of templates, ABI tags and clone
// suffixes are dropped; "::" between namespace parts becomes ".". Nothing for an empty name.
std::optional<MethodInfo> MethodFromNativeName(std::string_view readableName);

// Reduces a decorated native name to its bare function name ("_ZN2ns4Type6MethodEi" ->
// "Method"); nothing when the name cannot be undecorated here. "?" names (the platform
// compiler's scheme) are read by the platform's UnDecorateSymbolName on Windows, and by nothing
// elsewhere.
std::optional<std::string> UndecorateFunctionName(std::string_view decoratedName);

}  // namespace System::Diagnostics
