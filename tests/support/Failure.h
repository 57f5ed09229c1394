#pragma once
// The failure a call raises, for tests that look at its code and text.
#include <gtest/gtest.h>

#include <stdexcept>

template <class TFailure, class TCall> TFailure FailureOf(TCall&& Call) {
    try {
        Call();
    } catch (const TFailure& Caught) {
        return Caught;
    }
    throw std::logic_error("the call did not fail");
}
