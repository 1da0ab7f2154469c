#pragma once
// Checks that an action throws exactly the exception type E (not a subclass) and returns the
// caught exception for further checks on its message or parameter name.
#include <functional>
#include <optional>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

#include "host/system/exceptions.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

template <class E>
std::optional<E> CatchExactly(const std::function<void()>& action) {
    try {
        action();
    } catch (const E& e) {
        EXPECT_EQ(typeid(e), typeid(E)) << "caught " << e.TypeName();
        return e;
    } catch (const System::Exception& e) {
        ADD_FAILURE() << "expected " << typeid(E).name() << ", caught " << e.TypeName() << ": "
                      << e.Message();
        return std::nullopt;
    }
    ADD_FAILURE() << "expected " << typeid(E).name() << ", nothing was thrown";
    return std::nullopt;
}

// Exactly E with exactly that message.
template <class E>
void ExpectThrowsMessage(const std::function<void()>& action, const std::string& message) {
    if (auto e = CatchExactly<E>(action)) {
        EXPECT_EQ(e->Message(), message);
    }
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
