// What an action refused with: the text (and source unit) of the OrvexError
// it threw, for tests that check a refusal exactly.
#pragma once

#include <orvex/OrvexError.h>

#include <ostream>
#include <string>

namespace orvex::test {

struct Refusal {
    std::string message; // empty: the action returned normally
    std::string unit;

    friend bool operator==(const Refusal& a, const Refusal& b)
    {
        return a.message == b.message && a.unit == b.unit;
    }
    friend std::ostream& operator<<(std::ostream& out, const Refusal& r)
    {
        if (r.message.empty())
            return out << "<no OrvexError>";
        return out << '"' << r.message << "\" from " << r.unit;
    }
};

template <class Action> Refusal refusalOf(Action&& action)
{
    try {
        action();
    } catch (const OrvexError& error) {
        return {error.what(), error.unit()};
    }
    return {};
}

// The message alone; "" when the action returns normally, so that a
// comparison with the expected refusal fails on an action that does not refuse.
template <class Action> std::string errorOf(Action&& action)
{
    return refusalOf(action).message;
}

} // namespace orvex::test
