// The io library on a package file. Input: a count n (1 byte, taken modulo
// 33), n operation bytes, then the file's bytes, stored as "data.bin". Each
// operation byte picks a file method by its low four bits and an argument
// by its high four; a script applies them in order, each in its own
// protected call.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "fuzz_package_files.h"
#include "script/LMP_Engine.h"

namespace {

const char kDriver[] =
    "local ops, name = ...\n"
    "local f = io.open(name, ops:byte(1) and ops:byte(1) % 2 == 1 and 'rb' or 'r')\n"
    "if not f then return end\n"
    "local steps = {\n"
    "  [0] = function(a) f:read('*a') end,\n"
    "  function(a) f:read(a * 37) end,\n"
    "  function(a) f:read(0) end,\n"
    "  function(a) f:read('*l') end,\n"
    "  function(a) f:read('*n') end,\n"
    "  function(a) f:read('*L', a) end,\n"
    "  function(a) f:seek('set', a * 5) end,\n"
    "  function(a) f:seek('cur', a - 8) end,\n"
    "  function(a) f:seek('end', -a) end,\n"
    "  function(a) for l in f:lines() do end end,\n"
    "  function(a) io.input(name) io.read('*a') io.input(io.stdin) end,\n"
    "  function(a) f:write('x', a) end,\n"
    "  function(a) f:setvbuf(a % 2 == 0 and 'full' or 'no', a) f:flush() end,\n"
    "  function(a) for l in io.lines(name) do end end,\n"
    "  function(a) f:close() f = io.open(a % 2 == 0 and name or './' .. name) or f end,\n"
    "  function(a) f:read(a * 1000, '*a', 2) end,\n"
    "}\n"
    "for i = 1, #ops do\n"
    "  local op = ops:byte(i)\n"
    "  pcall(steps[op % 16], math.floor(op / 16))\n"
    "end\n"
    "pcall(f.close, f)\n";

LMP_Engine* engine;
CTRL_Generic* controller;
int driverRef = LUA_NOREF;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    CTRL_iSetDebugSink([](void*, const char*) {}, nullptr);
    engine = new LMP_Engine();
    controller = new CTRL_Generic(engine);  // kept for the whole run
    lua_State* L = engine->luaState();
    // A driver that does not compile would make every run a silent no-op.
    if (!L || luaL_loadbuffer(L, kDriver, sizeof kDriver - 1, "=io driver") != LUA_OK) {
        std::fprintf(stderr, "fuzz_io: %s\n", L ? lua_tostring(L, -1) : "no script state");
        std::abort();
    }
    driverRef = luaL_ref(L, LUA_REGISTRYINDEX);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static unsigned runs;
    lua_State* L = engine->luaState();
    if (size == 0 || size > (1u << 20)) return 0;
    size_t n = data[0] % 33;
    if (n > size - 1) n = size - 1;
    const char* bytes = reinterpret_cast<const char*>(data);
    CTRL_iFreePackage(controller->package);
    controller->package = FUZZ_iMakePackage({{"data.bin", std::string(bytes + 1 + n, size - 1 - n)}});
    lua_rawgeti(L, LUA_REGISTRYINDEX, driverRef);
    lua_pushlstring(L, bytes + 1, n);
    lua_pushliteral(L, "data.bin");
    lua_pcall(L, 2, 0, 0);
    lua_settop(L, 0);
    if (++runs % 256 == 0) lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}
