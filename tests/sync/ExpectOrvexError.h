// Checks that an operation of the synchronisation code refuses with the
// exact message, raised from the MultiSync unit.
#pragma once

#include <orvex/OrvexError.h>

#include <gtest/gtest.h>

#include <string>

namespace orvex::test {

template <typename Operation> void expectSyncError(Operation&& operation, const std::string& message)
{
    try {
        operation();
        ADD_FAILURE() << "no OrvexError, expected \"" << message << "\"";
    } catch (const OrvexError& error) {
        EXPECT_EQ(std::string(error.what()), message);
        EXPECT_EQ(error.unit(), "MultiSync");
    }
}

} // namespace orvex::test
