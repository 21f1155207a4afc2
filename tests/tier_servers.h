// Tests that need the test tier's servers (nginx, the proxies, the scripted
// servers) or its tools. Inside a `scripts/test` run, which sets
// CV_TEST_TIER, a missing server or tool is a failure: a tier must not pass
// by skipping what it was meant to test. Run by hand outside the tier, such a
// test skips and says how to run it.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

namespace cvtest {
inline bool InTestTier() {
    const char* v = std::getenv("CV_TEST_TIER");
    return v && v[0] == '1';
}
}  // namespace cvtest

// In a test body: `CV_REQUIRE_TIER(ok, "what is needed")`.
#define CV_REQUIRE_TIER(ok, what)                                                        \
    do {                                                                                 \
        if (!(ok)) {                                                                     \
            if (cvtest::InTestTier()) {                                                  \
                FAIL() << "missing while the test tier runs: " << (what);                \
            } else {                                                                     \
                GTEST_SKIP() << "needs " << (what)                                       \
                             << "; run it inside its tier, e.g. "                        \
                                "CTEST_ARGS=\"-R <program>\" scripts/test <tier>";       \
            }                                                                            \
        }                                                                                \
    } while (0)
