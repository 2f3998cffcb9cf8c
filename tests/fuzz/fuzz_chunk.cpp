// Chunk loading on a package file: the input stored as "m.lua" and read by
// the chunk loader (byte-order mark, "#" line, the refusal of binary chunks
// from the package, block reads), then the same bytes handed to the global
// load, which takes text chunks only. Chunks are compiled, never run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "fuzz_package_files.h"
#include "script/LMP_Engine.h"
#include "script/LMP_Library.h"

namespace {

LMP_Engine* engine;
CTRL_Generic* controller;

struct Input {
    const uint8_t* data;
    size_t size;
};

int loadBody(lua_State* L)
{
    auto* in = static_cast<Input*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    LMP_iLoadFileX(L, "m.lua", nullptr);
    lua_settop(L, 0);
    lua_getglobal(L, "load");
    lua_pushlstring(L, reinterpret_cast<const char*>(in->data), in->size);
    lua_pushliteral(L, "=fuzz");
    lua_pushliteral(L, "bt");
    lua_call(L, 3, 2);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    CTRL_iSetDebugSink([](void*, const char*) {}, nullptr);
    engine = new LMP_Engine();
    controller = new CTRL_Generic(engine);  // kept for the whole run
    if (!engine->luaState()) {
        std::fprintf(stderr, "fuzz_chunk: no script state\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static unsigned runs;
    if (size > (1u << 20)) return 0;
    lua_State* L = engine->luaState();
    CTRL_iFreePackage(controller->package);
    controller->package = FUZZ_iMakePackage({{"m.lua", std::string(reinterpret_cast<const char*>(data), size)}});
    Input in{data, size};
    lua_pushcfunction(L, loadBody);
    lua_pushlightuserdata(L, &in);
    lua_pcall(L, 1, 0, 0);
    lua_settop(L, 0);
    if (++runs % 256 == 0) lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}
