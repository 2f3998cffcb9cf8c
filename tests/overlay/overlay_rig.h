// The script rig of the engine's own tests (a real engine, a controller
// that records every error stop), with the helpers the overlay tests share.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/script/script_rig.h"

// Runs code that checks itself with assert; fails the test on any stop.
inline void expectRuns(ScriptRig& rig, const std::string& code)
{
    bool ok = rig.run(code);
    EXPECT_TRUE(ok) << rig.firstError();
    EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
}

struct ErrorCase {
    const char* code;
    const char* message;
};

inline void expectReports(const ErrorCase& c, const std::string& setup = "")
{
    SCOPED_TRACE(c.code);
    ScriptRig rig;
    rig.run(setup + c.code);
    ASSERT_FALSE(rig.controller->errors.empty());
    EXPECT_NE(rig.firstError().find(c.message), std::string::npos) << rig.firstError();
}
