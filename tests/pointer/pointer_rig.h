// A player window on the fake platform with the real script engine: the
// test builds a scene by script, then drives the pointer through the
// window's messages and reads what the script callbacks wrote.
//
// The camera stands at (0, 0, 10) looking down -z with a field of view of
// 90 degrees (clip 1 to 100), through a viewport covering the 1024 x 768
// client area. A window pixel (px, py) then sees the ground point
//   x = (2 px / 1024 - 1) d,  y = (0.75 - 2 py / 1024) d
// at the distance d below the camera; the middle pixel (512, 384) looks
// straight down.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "platform/PLAT_Fake.h"
#include "script/LMP_Engine.h"
#include "shell/CTRL_Win32.h"
#include "tests/script/script_rig.h"

inline std::string readSourceFile(const char* path) {
    std::ifstream in(std::string(HALVORIN_SOURCE_DIR) + "/" + path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The scene every pointer test starts from. Pillars are boxes of half
// extents (0.4, 0.4, 2); log() collects one line per callback.
inline const char* kPointerScene = R"(
    set = newModelsSet("scene.xml")
    scene = newScene("pointer")
    cam = newCamera(scene)
    cam:setFOV(90)
    cam:setPosition(v3(0, 0, 10))
    vp = newViewport(0, 0, 1, 0.75)
    vp:setCamera(cam)
    lines = {}
    function log(text) lines[#lines + 1] = text end
    local function r(v) return math.floor(v * 1000 + 0.5) / 1000 + 0 end
    local function fmt(p) return string.format("%.3f %.3f %.3f", r(p:x()), r(p:y()), r(p:z())) end
    function watch(o, name)
      o:setName(name)
      for _, cb in ipairs({{CB_MOUSE_DOWN, "down"}, {CB_MOUSE_UP, "up"}, {CB_MOUSE_CLICK, "click"}}) do
        o:setCallback(cb[1], function(owner, hit, point)
          log(cb[2] .. " " .. owner:getName() .. " " .. hit:getName() .. " " .. fmt(point))
        end)
      end
    end
    function pillar(name, x, y, z)
      local p = newMesh(scene, set:get("Pillar"))
      p:setName(name)
      p:setPosition(v3(x, y, z))
      p:enableState(STATE_ACTIVE)
      return p
    end
)";

class PointerRig {
 public:
    PointerRig(const PointerRig&) = delete;
    PointerRig& operator=(const PointerRig&) = delete;

    PLAT_Fake fake;
    CTRL_ManualClock clock;
    PLAT_Window* window = nullptr;
    CTRL_Win32* c = nullptr;
    LMP_Engine* engine = nullptr;

    PointerRig() {
        PLAT_iSet(&fake);
        CTRL_iSetClock(&clock);
        fake.glAvailable = false;
        fake.soundAvailable = false;
        fake.registerClass(CTRL_WINDOW_CLASS, CTRL_iWndProc, nullptr);
        window = fake.createWindow(CTRL_WINDOW_CLASS, "", PLAT_WS_OVERLAPPEDWINDOW, 0, 0, 0,
                                   1024 + fake.frameWidth, 768 + fake.frameHeight);
        engine = new LMP_Engine();
        c = new CTRL_Win32(engine, window);
        c->package = makePackage({{"scene.xml", readSourceFile("content/demo/scene.xml")},
                                  {"character.xml", readSourceFile("content/demo/character.xml")}});
        c->started = 1;
        c->stage = STAGE_RUNNING;
        c->setViewportSize(1024, 768);
        c->aspect = 0.75;
        run(kPointerScene);
    }
    ~PointerRig() {
        fake.destroyWindow(window);  // deletes the controller
        CTRL_iSetClock(nullptr);
        PLAT_iSet(nullptr);
    }

    bool run(const std::string& code) {
        lua_State* L = engine->luaState();
        if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != LUA_OK) {
            ADD_FAILURE() << lua_tostring(L, -1);
            lua_pop(L, 1);
            return false;
        }
        bool ok = engine->protectedCall(0, 0) && !c->halted;
        EXPECT_TRUE(ok) << "script failed or halted the player";
        return ok;
    }
    // A Lua expression's value as text.
    std::string eval(const std::string& expr) {
        run("result = tostring(" + expr + ")");
        lua_State* L = engine->luaState();
        lua_getglobal(L, "result");
        std::string s = lua_tostring(L, -1) ? lua_tostring(L, -1) : "";
        lua_pop(L, 1);
        return s;
    }
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        lua_State* L = engine->luaState();
        lua_getglobal(L, "lines");
        for (int i = 1;; i++) {
            lua_rawgeti(L, -1, i);
            if (lua_isnil(L, -1)) {
                lua_pop(L, 1);
                break;
            }
            out.push_back(lua_tostring(L, -1));
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
        run("lines = {}");
        return out;
    }

    // Pointer input as the X server gives it, handled at once.
    void press(int x, int y, int button = 1) { fake.pointerButton(window, button, true, x, y), fake.pump(); }
    void release(int x, int y, int button = 1) { fake.pointerButton(window, button, false, x, y), fake.pump(); }
    void move(int x, int y) { fake.pointerMove(window, x, y), fake.pump(); }
    void wheel(int button) { fake.pointerButton(window, button, true, int(c->mouse.x), int(c->mouse.y)), fake.pump(); }
    // One timer frame after `seconds` of time.
    void frame(double seconds) {
        clock.advanceSeconds(seconds);
        fake.post(window, PLAT_WM_TIMER);
        fake.pump();
    }
    v3 position(const char* lua) {
        run(std::string("local p = ") + lua + ":getPosition() px, py, pz = p:x(), p:y(), p:z()");
        return {std::stod(eval("px")), std::stod(eval("py")), std::stod(eval("pz"))};
    }
};
