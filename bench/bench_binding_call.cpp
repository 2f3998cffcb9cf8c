// Script calls through our binding against minimal hand-written C doing the
// same work, a million calls per run, in CPU time (the machine is shared, so
// wall time is noisy); the sides alternate run by run:
//   call: the bound global isKeyPressed(65) vs a lua_CFunction reading its
//         number with luaL_checknumber and the same controller's key table
//         through a pointer it keeps;
//   get:  lamp:getPosition() vs a method of a bare userdata holding the same
//         record, pushing its global position as a v3;
//   set:  lamp:setPosition(v) vs the bare method storing a v3 argument
//         through the same record call.
// One figure per pair; the last line `ratio R` is the largest of the three.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <lua.hpp>

#include "bench/bench_ratio.h"
#include "controller/CTRL_Generic.h"
#include "model/MDL_Objects.h"
#include "script/LMP_Engine.h"
#include "script/LMP_Proxy.h"

namespace {

CTRL_Generic* g_controller = nullptr;

int bare(lua_State* L)
{
    const int key = (int)luaL_checknumber(L, 1);
    lua_pushboolean(L, g_controller->currentKeys[key & 0xFF] == 1);
    return 1;
}

// The baseline's object: a userdata holding the record, with a metatable
// whose __index is its methods table (the shape any minimal binding has).
const char* const kPlain = "bench.plain";

MDL_Object* plainSelf(lua_State* L)
{
    return *static_cast<MDL_Object**>(luaL_checkudata(L, 1, kPlain));
}

int plainGetPosition(lua_State* L)
{
    MDL_Object* o = plainSelf(L);
    const v3& p = o->getGlobalFrame().position;
    auto* d = static_cast<double*>(lua_newuserdata(L, sizeof(double) * 3));
    d[0] = p.x, d[1] = p.y, d[2] = p.z;
    luaL_setmetatable(L, "v3");
    return 1;
}

int plainSetPosition(lua_State* L)
{
    MDL_Object* o = plainSelf(L);
    auto* d = static_cast<double*>(luaL_checkudata(L, 2, "v3"));
    o->editGlobalFrame().position = {d[0], d[1], d[2]};
    return 0;
}

struct Rig {
    Rig() : engine(new LMP_Engine()), controller(engine)
    {
        L = engine->luaState();
        g_controller = &controller;
        lua_register(L, "bare", bare);
        if (luaL_dostring(L, "scene = newScene() lamp = newLamp(scene) pos = v3(1, 2, 3)") != LUA_OK) {
            std::printf("%s\n", lua_tostring(L, -1));
            lua_pop(L, 1);
        }
        // The bare userdata shares the lamp's record.
        lua_getglobal(L, "lamp");
        auto* slot = static_cast<LMP_Proxy**>(lua_touserdata(L, -1));
        lamp = static_cast<MDL_Object*>((*slot)->model);
        lua_pop(L, 1);
        *static_cast<MDL_Object**>(lua_newuserdata(L, sizeof(MDL_Object*))) = lamp;
        luaL_newmetatable(L, kPlain);
        lua_newtable(L);
        lua_pushcfunction(L, plainGetPosition);
        lua_setfield(L, -2, "getPosition");
        lua_pushcfunction(L, plainSetPosition);
        lua_setfield(L, -2, "setPosition");
        lua_setfield(L, -2, "__index");
        lua_setmetatable(L, -2);
        lua_setglobal(L, "plain");

        boundCall = load("local f = isKeyPressed for i = 1, 1000000 do f(65) end");
        bareCall = load("local f = bare for i = 1, 1000000 do f(65) end");
        boundGet = load("local o = lamp for i = 1, 1000000 do o:getPosition() end");
        bareGet = load("local o = plain for i = 1, 1000000 do o:getPosition() end");
        boundSet = load("local o, v = lamp, pos for i = 1, 1000000 do o:setPosition(v) end");
        bareSet = load("local o, v = plain, pos for i = 1, 1000000 do o:setPosition(v) end");
    }
    int load(const char* code)
    {
        luaL_loadstring(L, code);
        return luaL_ref(L, LUA_REGISTRYINDEX);
    }
    bool run(int ref)
    {
        lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
        if (lua_pcall(L, 0, 0, 0) != LUA_OK) {
            std::printf("%s\n", lua_tostring(L, -1));
            lua_pop(L, 1);
            return false;
        }
        return true;
    }
    // Both sides of get and set must have touched the same record.
    bool lampAt(double x, double y, double z)
    {
        const v3& p = lamp->getGlobalFrame().position;
        return p.x == x && p.y == y && p.z == z;
    }
    LMP_Engine* engine;
    CTRL_Generic controller;  // deletes the engine
    lua_State* L;
    MDL_Object* lamp = nullptr;
    int boundCall, bareCall, boundGet, bareGet, boundSet, bareSet;
};

Rig& rig()
{
    static Rig* r = new Rig();
    return *r;
}

void runScript(benchmark::State& state, int Rig::*ref, bool setsPosition)
{
    Rig& g = rig();
    for (auto _ : state) {
        if (setsPosition)
            g.lamp->editGlobalFrame().position = {0, 0, 0};
        if (!g.run(g.*ref) || (setsPosition && !g.lampAt(1, 2, 3))) {
            state.SkipWithError("the script failed");
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bench_ratio::Reporter reporter(bench_ratio::Clock::Cpu);
    bench_ratio::initialize(&argc, argv, reporter);
    auto config = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->MinTime(0.2); };
    bench_ratio::alternate(
        9,
        {{"BM_BareCall", [](benchmark::State& s) { runScript(s, &Rig::bareCall, false); }},
         {"BM_BoundCall", [](benchmark::State& s) { runScript(s, &Rig::boundCall, false); }},
         {"BM_BareGetPosition", [](benchmark::State& s) { runScript(s, &Rig::bareGet, false); }},
         {"BM_BoundGetPosition", [](benchmark::State& s) { runScript(s, &Rig::boundGet, false); }},
         {"BM_BareSetPosition", [](benchmark::State& s) { runScript(s, &Rig::bareSet, true); }},
         {"BM_BoundSetPosition", [](benchmark::State& s) { runScript(s, &Rig::boundSet, true); }}},
        config);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double call = reporter.ratio("BM_BoundCall", "BM_BareCall");
    double get = reporter.ratio("BM_BoundGetPosition", "BM_BareGetPosition");
    double set = reporter.ratio("BM_BoundSetPosition", "BM_BareSetPosition");
    std::printf("call %.3f, getPosition %.3f, setPosition %.3f (bound over bare, fastest runs)\n", call, get, set);
    // The largest of the figures that ran (a filter may leave some out).
    double worst = NAN;
    for (double r : {call, get, set})
        if (std::isfinite(r) && !(r <= worst))
            worst = r;
    return bench_ratio::finish(worst);
}
