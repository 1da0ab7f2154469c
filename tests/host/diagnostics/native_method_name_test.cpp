#include "host/diagnostics/native_method_name.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace System::Diagnostics {
namespace {

std::vector<std::string> ParameterTypes(const MethodInfo& method) {
    std::vector<std::string> types;
    for (const auto& parameter : method.Parameters) {
        EXPECT_EQ(parameter.Name, "");
        types.push_back(parameter.ParameterType);
    }
    return types;
}

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(DemangleSymbol, DemanglesItaniumNamesAndLeavesOthers) {
    EXPECT_EQ(DemangleSymbol("_ZN4Vorn6Zephra11DeviceTrace12CurrentStackEi"),
              "Vorn::Zephra::DeviceTrace::CurrentStack(int)");
    EXPECT_EQ(DemangleSymbol("main"), "main");
    EXPECT_EQ(DemangleSymbol("_Znot a name"), "_Znot a name");
}

TEST(MethodFromNativeName, MemberFunctionSplitsIntoNamespaceTypeMethodAndParameters) {
    const auto method = MethodFromNativeName(
        "Vorn::Zephra::Net::DeviceTrace::CurrentStack[abi:cxx11](int, char const*) const");
    ASSERT_TRUE(method);
    ASSERT_TRUE(method->DeclaringType);
    EXPECT_EQ(method->DeclaringType->Namespace, "Vorn.Zephra.Net");
    EXPECT_EQ(method->DeclaringType->Name, "DeviceTrace");
    EXPECT_EQ(method->Name, "CurrentStack");
    EXPECT_THAT(ParameterTypes(*method), ElementsAre("int", "char const*"));
}

TEST(MethodFromNativeName, SingleComponentHasNoDeclaringType) {
    const auto method = MethodFromNativeName("main");
    ASSERT_TRUE(method);
    EXPECT_FALSE(method->DeclaringType);
    EXPECT_EQ(method->Name, "main");
    EXPECT_THAT(method->Parameters, IsEmpty());
}

TEST(MethodFromNativeName, TypeWithoutNamespace) {
    const auto method = MethodFromNativeName("Suite_Case_Test::TestBody()");
    ASSERT_TRUE(method && method->DeclaringType);
    EXPECT_EQ(method->DeclaringType->Namespace, "");
    EXPECT_EQ(method->DeclaringType->Name, "Suite_Case_Test");
    EXPECT_EQ(method->Name, "TestBody");
    EXPECT_THAT(method->Parameters, IsEmpty());
}

TEST(MethodFromNativeName, TemplateReturnTypeIsDroppedAndNestedCommasKept) {
    const auto method = MethodFromNativeName(
        "std::pair<int, int> ns::Make<std::pair<int, int> >(std::map<int, int> const&, "
        "void (*)(int, int)) [clone .constprop.0]");
    ASSERT_TRUE(method && method->DeclaringType);
    EXPECT_EQ(method->DeclaringType->Name, "ns");
    EXPECT_EQ(method->Name, "Make<std::pair<int, int> >");
    EXPECT_THAT(ParameterTypes(*method),
                ElementsAre("std::map<int, int> const&", "void (*)(int, int)"));
}

TEST(MethodFromNativeName, NamespaceSeparatorsInsideTemplateArgumentsStay) {
    const auto method =
        MethodFromNativeName("std::vector<a::B, std::allocator<a::B> >::push_back(a::B&&)");
    ASSERT_TRUE(method && method->DeclaringType);
    EXPECT_EQ(method->DeclaringType->Namespace, "std");
    EXPECT_EQ(method->DeclaringType->Name, "vector<a::B, std::allocator<a::B> >");
    EXPECT_EQ(method->Name, "push_back");
    EXPECT_THAT(ParameterTypes(*method), ElementsAre("a::B&&"));
}

TEST(MethodFromNativeName, StdStringIsSpelledShort) {
    const auto method = MethodFromNativeName(
        "(anonymous namespace)::Helper(std::__cxx11::basic_string<char, std::char_traits<char>, "
        "std::allocator<char> > const&)");
    ASSERT_TRUE(method && method->DeclaringType);
    EXPECT_EQ(method->DeclaringType->Name, "(anonymous namespace)");
    EXPECT_EQ(method->Name, "Helper");
    EXPECT_THAT(ParameterTypes(*method), ElementsAre("std::string const&"));
}

TEST(MethodFromNativeName, OperatorsKeepTheirBrackets) {
    const auto call = MethodFromNativeName("Foo::operator()(int) const");
    ASSERT_TRUE(call);
    EXPECT_EQ(call->Name, "operator()");
    EXPECT_THAT(ParameterTypes(*call), ElementsAre("int"));

    const auto noArguments = MethodFromNativeName("Foo::operator()()");
    ASSERT_TRUE(noArguments);
    EXPECT_EQ(noArguments->Name, "operator()");
    EXPECT_THAT(noArguments->Parameters, IsEmpty());

    const auto less = MethodFromNativeName("a::Foo::operator<(a::Foo const&) const");
    ASSERT_TRUE(less && less->DeclaringType);
    EXPECT_EQ(less->DeclaringType->Name, "Foo");
    EXPECT_EQ(less->Name, "operator<");

    const auto shift = MethodFromNativeName("operator<<(std::ostream&, a::Foo const&)");
    ASSERT_TRUE(shift);
    EXPECT_FALSE(shift->DeclaringType);
    EXPECT_EQ(shift->Name, "operator<<");
    EXPECT_THAT(ParameterTypes(*shift), ElementsAre("std::ostream&", "a::Foo const&"));

    const auto conversion = MethodFromNativeName("a::Foo::operator unsigned long() const");
    ASSERT_TRUE(conversion);
    EXPECT_EQ(conversion->Name, "operator unsigned long");
}

TEST(MethodFromNativeName, LambdaBodyNamesItsEnclosingFunction) {
    const auto method =
        MethodFromNativeName("ns::Run(int)::{lambda(char)#1}::operator()(char) const");
    ASSERT_TRUE(method && method->DeclaringType);
    EXPECT_EQ(method->DeclaringType->Namespace, "ns.Run(int)");
    EXPECT_EQ(method->DeclaringType->Name, "{lambda(char)#1}");
    EXPECT_EQ(method->Name, "operator()");
    EXPECT_THAT(ParameterTypes(*method), ElementsAre("char"));
}

TEST(MethodFromNativeName, EmptyNameIsNoMethod) {
    EXPECT_FALSE(MethodFromNativeName(""));
    EXPECT_FALSE(MethodFromNativeName("ns::"));
}

TEST(UndecorateFunctionName, ReducesMangledNamesToTheBareFunctionName) {
    EXPECT_EQ(UndecorateFunctionName("_ZN4Vorn6Zephra11DeviceTrace12CurrentStackEi"),
              "CurrentStack");
    EXPECT_EQ(UndecorateFunctionName("_ZN2ns3MaxIiEET_S1_S1_"), "Max<int>");
    EXPECT_EQ(UndecorateFunctionName("_Z6HelperPKc"), "Helper");
}

TEST(UndecorateFunctionName, FailsForNamesItCannotRead) {
    EXPECT_FALSE(UndecorateFunctionName("?Helper@@YAXPBD@Z"));
    EXPECT_FALSE(UndecorateFunctionName("_Z!!"));
    EXPECT_FALSE(UndecorateFunctionName("Helper"));
}

}  // namespace
}  // namespace System::Diagnostics
