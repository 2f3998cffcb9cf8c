// A real script engine with a test controller that records every error
// stop: scripts run as in the player and the test reads what they did.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "package/CTRL_File.h"
#include "script/LMP_Engine.h"

class OverlayController : public CTRL_Generic {
 public:
    explicit OverlayController(LMP_Engine* e) : CTRL_Generic(e) {}
    void stopOnError(const char* format, ...) override
    {
        char text[4096];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format ? format : "", args);
        va_end(args);
        errors.push_back(text);
        halted = 1;
    }
    std::vector<std::string> errors;
};

class ScriptRig {
 public:
    ScriptRig()
    {
        engine = new LMP_Engine();
        controller = new OverlayController(engine);
        L = engine->luaState();
    }
    ~ScriptRig() { delete controller; }  // the controller deletes the engine
    ScriptRig(const ScriptRig&) = delete;
    ScriptRig& operator=(const ScriptRig&) = delete;

    // Runs a chunk through the engine's protected call.
    bool run(const std::string& code)
    {
        if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != LUA_OK) {
            controller->errors.push_back(lua_tostring(L, -1));
            lua_pop(L, 1);
            return false;
        }
        return engine->protectedCall(0, 0);
    }
    std::string global(const char* name)
    {
        lua_getglobal(L, name);
        std::string s = luaL_tolstring(L, -1, nullptr);
        lua_pop(L, 2);
        return s;
    }
    std::string firstError() const { return controller->errors.empty() ? "" : controller->errors.front(); }

    CTRL_DebugCapture log;
    LMP_Engine* engine;
    OverlayController* controller;
    lua_State* L;
};

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
