// The message of the OrvexError an action throws, for tests that check a
// refusal's exact text.
#pragma once

#include <orvex/OrvexError.h>

#include <string>

namespace orvex::test {

// "<no OrvexError>" when the action returns normally.
template <class Action> std::string errorOf(Action&& action)
{
    try {
        action();
    } catch (const OrvexError& error) {
        return error.what();
    }
    return "<no OrvexError>";
}

} // namespace orvex::test
