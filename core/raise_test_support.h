// core/raise_test_support.h - test helper: expect a call to raise an
// eException with the given code and message.
#pragma once

#include <gtest/gtest.h>

#include "core/exception.h"

namespace bw {

template <typename F>
void expectRaise(F f, const char* code, const char* message) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected " << code << ": " << message;
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), code);
    EXPECT_EQ(e.message(), message);
  }
}

}  // namespace bw
