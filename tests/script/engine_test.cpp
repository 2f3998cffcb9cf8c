// The engine: the start sequence and its stages, the per-tick callbacks, the
// event result rule, protected calls and the variant interface.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "script_rig.h"

namespace {

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

TEST(EngineStart, Stages) {
  struct Case {
    const char* name;
    PackageFiles files;
    bool started;
    const char* error;  // part of the one error stop, or null for none
  } cases[] = {
      {"no init.lua", {}, false, "cannot open init.lua: No such file or directory"},
      {"no startup", {{"init.lua", "x = 1"}}, false, "attempt to call a nil value"},
      {"syntax error", {{"init.lua", "x = = 1"}}, false, "init.lua:1:"},
      {"run-time error", {{"init.lua", "\n\nerror('stop here')"}}, false, "init.lua:3: stop here"},
      {"error in startup", {{"init.lua", "function startup() error('late') end"}}, false, "late"},
      {"number as error", {{"init.lua", "function startup() error(42, 0) end"}}, false, "42"},
      {"mark and #! line", {{"init.lua", "\xEF\xBB\xBF#!/usr/bin/lua\n\nerror('line three')"}}, false,
       "init.lua:3: line three"},
      {"erroring global lookup",
       {{"init.lua", "setmetatable(_G, {__index = function(_, k) error('no ' .. k) end})"}}, false,
       "no startup"},
      {"good", {{"init.lua", "function startup() done = true end"}}, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptRig rig(c.files, true);
    EXPECT_EQ(rig.engine->start(), c.started);
    EXPECT_EQ(lua_gettop(rig.L), 0);
    if (c.error) {
      ASSERT_EQ(rig.controller->errors.size(), 1u);
      EXPECT_TRUE(contains(rig.firstError(), c.error)) << rig.firstError();
      EXPECT_EQ(rig.controller->stage, STAGE_LOADING);
    } else {
      EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
      EXPECT_EQ(rig.controller->stage, STAGE_RUNNING);
      EXPECT_EQ(rig.global("done"), "true");
      EXPECT_TRUE(contains(rig.log.text(), " loaded in ")) << rig.log.text();
    }
  }
}

TEST(EngineStart, NothingWithoutPackage) {
  ScriptRig rig(ScriptRig::NoPackage{});
  int stage = rig.controller->stage;
  EXPECT_FALSE(rig.engine->start());
  EXPECT_EQ(rig.controller->stage, stage);
  EXPECT_TRUE(rig.controller->errors.empty());
}

TEST(EngineCallbacks, UpdateAndAspectCallbacks) {
  ScriptRig rig({{"init.lua",
                  "calls, last, ratio = 0, nil, nil\n"
                  "function startup()\n"
                  "  setCallback(CB_UPDATE, function(dt) calls = calls + 1 last = dt end)\n"
                  "  setCallback(CB_ASPECT_RATIO_CHANGED, function(r) ratio = r end)\n"
                  "  setCallback(12, function() error('never') end)\n"
                  "  setCallback(0, function() error('never') end)\n"
                  "end"}});
  ASSERT_TRUE(rig.engine->start()) << rig.firstError();
  rig.engine->update(0.25);
  rig.engine->update(0.5);
  rig.engine->aspectRatioChanged(0.5625);
  EXPECT_EQ(rig.global("calls"), "2");
  EXPECT_EQ(rig.global("last"), "0.5");
  EXPECT_EQ(rig.global("ratio"), "0.5625");
  ASSERT_TRUE(rig.run("setCallback(CB_UPDATE, nil)"));
  rig.engine->update(0.1);
  EXPECT_EQ(rig.global("calls"), "2");
  EXPECT_EQ(lua_gettop(rig.L), 0);
  EXPECT_TRUE(rig.controller->errors.empty());
}

TEST(EngineCallbacks, ErrorInUpdateHaltsAndLaterCallsAreRefused) {
  ScriptRig rig({{"init.lua",
                  "n = 0 function startup() setCallback(CB_UPDATE, function() n = n + 1 error('tick') end) end"}});
  ASSERT_TRUE(rig.engine->start());
  rig.engine->update(0.1);
  rig.engine->update(0.1);
  ASSERT_EQ(rig.controller->errors.size(), 1u);
  EXPECT_TRUE(contains(rig.firstError(), "tick"));
  EXPECT_EQ(rig.global("n"), "1");
  EXPECT_EQ(lua_gettop(rig.L), 0);
}

TEST(EngineCallbacks, ReplacedCallbackReferenceIsReleased) {
  ScriptRig rig({{"init.lua", "function startup() end"}});
  ASSERT_TRUE(rig.engine->start());
  ASSERT_TRUE(rig.run("setCallback(CB_UPDATE, function() end)"));
  uint32_t first = rig.engine->callbacks.get(CB_UPDATE);
  ASSERT_GT(first, 0u);
  ASSERT_TRUE(rig.run("setCallback(CB_UPDATE, function() end)"));
  lua_rawgeti(rig.L, LUA_REGISTRYINDEX, int(first));
  EXPECT_FALSE(lua_isfunction(rig.L, -1));  // the old slot was freed
  lua_pop(rig.L, 1);
}

// Events: the callback receives (type, a, b) and must answer one boolean.
TEST(EngineEvents, ResultRule) {
  struct Case {
    const char* body;
    bool consumed;
    bool error;
  } cases[] = {
      {"return true", true, false},
      {"return false", false, false},
      {"return true, 5", true, false},
      {"", false, true},
      {"return 1", false, true},
      {"return nil, true", false, true},
      {"error('in event')", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    ScriptRig rig({{"init.lua", std::string("function startup() setCallback(CB_EVENT, function(t, a, b) ") +
                                    c.body + " end) end"}});
    ASSERT_TRUE(rig.engine->start());
    CTRL_Event e{};
    e.type = EVENT_KEY_DOWN;
    e.code = KEY_A;
    EXPECT_EQ(rig.engine->handleEvent(&e), c.consumed);
    EXPECT_EQ(rig.controller->errors.size(), c.error ? 1u : 0u);
    if (c.error && std::strlen(c.body) > 0 && c.body[0] == 'r') {
      EXPECT_EQ(rig.firstError(), "Event function must return 1 boolean value.");
    }
    EXPECT_EQ(lua_gettop(rig.L), 0);
  }
}

TEST(EngineEvents, Arguments) {
  ScriptRig rig({{"init.lua",
                  "seen = {}\n"
                  "function startup() setCallback(CB_EVENT, function(t, a, b)\n"
                  "  seen[#seen + 1] = t .. ' ' .. tostring(a) .. ' ' .. (type(b) == 'string' and\n"
                  "    ('#' .. #b .. ':' .. b:byte(2)) or tostring(b))\n"
                  "  return false end) end"}});
  ASSERT_TRUE(rig.engine->start());
  v2 point{0.25, 0.5};
  const uint8_t report[3] = {7, 0, 9};
  CTRL_Event events[4] = {};
  events[0].type = EVENT_KEY_UP;
  events[0].code = 65;
  events[1].type = EVENT_ZOOM;
  events[1].point = &point;
  events[1].amount = -2;
  events[2].type = EVENT_DEVICE;
  events[2].code = 3;
  events[2].bytes = report;
  events[2].length = 3;
  events[3].type = EVENT_CLOSE;
  for (const CTRL_Event& e : events) EXPECT_FALSE(rig.engine->handleEvent(&e));
  ASSERT_TRUE(rig.run("result = table.concat(seen, '|')"));
  EXPECT_EQ(rig.global("result"), "2 65 0|6 -2 v2(0.25,0.5)|7 3 #3:0|8 0 0");
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
}

TEST(EngineEvents, NoCallbackOrHaltedIsNotConsumed) {
  ScriptRig rig({{"init.lua", "function startup() end"}});
  ASSERT_TRUE(rig.engine->start());
  CTRL_Event e{};
  e.type = EVENT_CLOSE;
  EXPECT_FALSE(rig.engine->handleEvent(&e));
  ASSERT_TRUE(rig.run("setCallback(CB_EVENT, function() return true end)"));
  EXPECT_TRUE(rig.engine->handleEvent(&e));
  rig.controller->halted = 1;
  EXPECT_FALSE(rig.engine->handleEvent(&e));
  EXPECT_EQ(lua_gettop(rig.L), 0);
}

TEST(EngineProtectedCall, RestoresTheStack) {
  ScriptRig rig({{"init.lua", "function startup() end"}});
  ASSERT_TRUE(rig.engine->start());
  lua_pushliteral(rig.L, "below");
  luaL_loadstring(rig.L, "error('x')");
  lua_pushnumber(rig.L, 1);
  EXPECT_FALSE(rig.engine->protectedCall(1, 0));
  EXPECT_EQ(lua_gettop(rig.L), 1);
  // Refused once halted: nothing runs and the stack is restored.
  luaL_loadstring(rig.L, "ran = true");
  lua_pushnumber(rig.L, 1);
  lua_pushnumber(rig.L, 2);
  EXPECT_FALSE(rig.engine->protectedCall(2, 0));
  EXPECT_EQ(lua_gettop(rig.L), 1);
  EXPECT_EQ(rig.global("ran"), "nil");
}

void nativeSum(void* context, CTRL_Array<CTRL_Variant*>* args, CTRL_Variant* result) {
  *static_cast<int*>(context) += 1;
  double sum = 0;
  for (int32_t i = 0; i < args->count; ++i)
    if ((*args)[i]->type == VARIANT_DOUBLE) sum += (*args)[i]->number;
  result->type = VARIANT_DOUBLE;
  result->number = sum;
}

void nativeFirstString(void*, CTRL_Array<CTRL_Variant*>* args, CTRL_Variant* result) {
  if (args->count > 0 && (*args)[0]->type == VARIANT_STRING) {
    result->type = VARIANT_STRING;
    result->string = strdup((*args)[0]->string);
  }
}

void nativeBadType(void*, CTRL_Array<CTRL_Variant*>*, CTRL_Variant* result) { result->type = 9; }

TEST(EngineVariants, ModulesGlobalsAndCalls) {
  ScriptRig rig({{"init.lua", "function startup() end function add(a, b) return a + b end t = {}"}});
  ASSERT_TRUE(rig.engine->start());
  int calls = 0;
  const CTRL_ScriptFunction functions[] = {
      {"sum", nativeSum}, {"first", nativeFirstString}, {"bad", nativeBadType}, {nullptr, nullptr}};
  const CTRL_ScriptModule module{"native", functions};
  rig.engine->registerModule(&module, &calls);
  ASSERT_TRUE(rig.run("a = native.sum(1, '2', 'x', {}, 4) b = native.first('hello') c = native.first(5)"
                      " d = select('#', native.bad())"));
  EXPECT_EQ(rig.global("a"), "7");
  EXPECT_EQ(rig.global("b"), "hello");
  EXPECT_EQ(rig.global("c"), "nil");
  EXPECT_EQ(rig.global("d"), "1");  // one value, nil, even for a result of unknown type
  EXPECT_EQ(calls, 1);

  CTRL_Variant v{};
  v.type = VARIANT_INTEGER;
  v.integer = -3;
  rig.engine->setGlobal("g", &v);
  EXPECT_EQ(rig.global("g"), "-3");

  CTRL_Variant out{};
  out.type = VARIANT_BOOLEAN;
  EXPECT_TRUE(rig.engine->getGlobal("unset", &out));
  EXPECT_EQ(out.type, uint32_t(VARIANT_NIL));
  out.type = VARIANT_INTEGER;
  out.integer = 17;
  EXPECT_TRUE(rig.engine->getGlobal("t", &out));  // a table leaves out alone
  EXPECT_EQ(out.type, uint32_t(VARIANT_INTEGER));
  EXPECT_EQ(out.integer, 17);
  EXPECT_TRUE(rig.engine->getGlobal("b", &out));
  ASSERT_EQ(out.type, uint32_t(VARIANT_STRING));
  EXPECT_STREQ(out.string, "hello");
  free(out.string);

  CTRL_Variant x{}, y{};
  x.type = VARIANT_DOUBLE;
  x.number = 1.5;
  y.type = VARIANT_STRING;
  y.string = const_cast<char*>("2");
  CTRL_Array<CTRL_Variant*> args;
  args.append(&x);
  args.append(&y);
  CTRL_Variant result{};
  EXPECT_TRUE(rig.engine->callFunction("add", &args, &result));
  EXPECT_EQ(result.type, uint32_t(VARIANT_DOUBLE));
  EXPECT_EQ(result.number, 3.5);
  EXPECT_EQ(lua_gettop(rig.L), 0);
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();

  rig.controller->halted = 1;
  EXPECT_FALSE(rig.engine->callFunction("add", &args, &result));
  EXPECT_EQ(lua_gettop(rig.L), 0);
}

TEST(EngineVariants, CollectGarbageRunsOnlyWhenStopped) {
  ScriptRig rig({{"init.lua", "function startup() end"}});
  ASSERT_TRUE(rig.engine->start());
  // A finalizer that counts, on an object that is already garbage.
  ASSERT_TRUE(rig.run("collected = 0 setmetatable({}, {__gc = function() collected = collected + 1 end})"));
  ASSERT_TRUE(rig.run("collectgarbage('stop')"));
  rig.engine->collectGarbage();
  EXPECT_EQ(rig.global("collected"), "1");
  ASSERT_TRUE(rig.run("collectgarbage('restart') setmetatable({}, {__gc = function() collected = 10 end})"));
  rig.engine->collectGarbage();
  EXPECT_EQ(rig.global("collected"), "1");
}

TEST(EngineVariants, FailingFinalizerDuringCollectionHaltsInsteadOfAborting) {
  ScriptRig rig({{"init.lua", "function startup() end"}});
  ASSERT_TRUE(rig.engine->start());
  ASSERT_TRUE(rig.run("collectgarbage('stop') setmetatable({}, {__gc = function() error('in gc') end})"));
  rig.engine->collectGarbage();
  ASSERT_EQ(rig.controller->errors.size(), 1u);
  EXPECT_TRUE(contains(rig.firstError(), "in gc")) << rig.firstError();
}

TEST(EnginePanic, UnprotectedErrorLogsAndEnds) {
  EXPECT_DEATH(
      {
        LMP_Engine engine;
        lua_State* L = engine.luaState();
        lua_pushliteral(L, "boom");
        lua_error(L);
      },
      "PANIC: unprotected error in call to Lua API \\(boom\\)");
}

}  // namespace

namespace {

// A chunk of string.dump with bytes flipped past its header: the virtual
// machine would run whatever the damaged code says.
const char* const kCorruptedChunk =
    "local dumped = string.dump(function(a) local t = {} for i = 1, 10 do t[i] = a .. i end return t end)\n"
    "local bytes = {dumped:byte(1, -1)}\n"
    "for i = 40, #bytes, 7 do bytes[i] = (bytes[i] + 0x5A) % 256 end\n"
    "corrupted = string.char(table.unpack(bytes))\n"
    "intact = dumped\n";

}  // namespace

TEST(EngineLoad, BinaryChunksAreRefusedWhateverTheMode) {
  ScriptRig rig;
  ASSERT_TRUE(rig.run(kCorruptedChunk));
  struct Case {
    const char* call;
    const char* result;
  } cases[] = {
      {"load(corrupted)", "nil attempt to load a binary chunk (mode is 't')"},
      {"load(corrupted, 'c', 'b')", "nil attempt to load a binary chunk (mode is '')"},
      {"load(corrupted, 'c', 'bt')", "nil attempt to load a binary chunk (mode is 't')"},
      {"load(intact, nil, 'bt', {})", "nil attempt to load a binary chunk (mode is 't')"},
      {"loadstring(intact)", "nil attempt to load a binary chunk (mode is 't')"},
      {"load(function() local c = corrupted corrupted = nil return c end, 'c', 'bt')",
       "nil attempt to load a binary chunk (mode is 't')"},
  };
  for (const Case& c : cases) {
    rig.controller->errors.clear();
    ASSERT_TRUE(rig.run(std::string("local f, e = ") + c.call + " r = tostring(f) .. (e and ' ' .. e or '')"))
        << c.call << ": " << rig.firstError();
    EXPECT_EQ(rig.global("r"), c.result) << c.call;
  }
}

// Text chunks load as with stock Lua 5.2's load: strings, reader functions,
// chunk names, modes, environments, and nil with a message on failure.
TEST(EngineLoad, TextChunksLoadAsStockLuaLoads) {
  ScriptRig rig;
  struct Case {
    const char* code;  // sets r
    const char* result;
  } cases[] = {
      {"r = load('return 2 + 2')()", "4"},
      {"r = tostring(loadstring == load)", "true"},
      {"r = loadstring('return 3', '=c')()", "3"},
      {"local f, e = load(42) r = tostring(f) .. ' ' .. e", "nil [string \"42\"]:1: unexpected symbol near '42'"},
      {"local f, e = load('x =', '=name') r = e", "name:1: unexpected symbol near <eof>"},
      {"local f, e = load('error(\"e\")') r = select(2, pcall(f))", "[string \"error(\"e\")\"]:1: e"},
      {"local f, e = load('return 1', 'c', 'b') r = tostring(f) .. ' ' .. e",
       "nil attempt to load a text chunk (mode is 'b')"},
      {"r = load('return x', '=c', 't', {x = 'env'})()", "env"},
      {"x = 'global' r = load('return x', '=c', 't')()", "global"},
      {"local f = load('return x', '=c', 't', nil) r = select(2, pcall(f)):match('index')", "index"},
      {"local parts, i = {'return 1', '', ' + 2'}, 0"
       " r = load(function() i = i + 1 return parts[i] end)()",
       "1"},  // an empty piece ends the chunk
      {"local parts, i = {'return ', '1 + ', '2'}, 0 r = load(function() i = i + 1 return parts[i] end)()", "3"},
      {"local f = load(function() return nil end) r = select('#', f())", "0"},
      {"local once = 'error(\"e\")' local f = load(function() local c = once once = nil return c end)"
       " r = select(2, pcall(f))",
       "(load):1: e"},
      {"local f, e = load(function() return {} end) r = tostring(f) .. ' ' .. e",
       "nil test:1: reader function must return a string"},
      {"local f, e = load(function() error('in reader', 0) end) r = tostring(f) .. ' ' .. e", "nil in reader"},
      {"local ok, e = pcall(function() return load({}) end) r = e",
       "test:1: bad argument #1 to 'load' (function expected, got table)"},
      {"local ok, e = pcall(function() return load('x', {}) end) r = e",
       "test:1: bad argument #2 to 'load' (string expected, got table)"},
  };
  for (const Case& c : cases) {
    rig.controller->errors.clear();
    ASSERT_TRUE(rig.run(std::string("r = nil ") + c.code)) << c.code << ": " << rig.firstError();
    EXPECT_EQ(rig.global("r"), c.result) << c.code;
  }
}

// A script that allocates without end hits the heap limit: a memory error
// that halts with the fixed message of the stage it ran in.
TEST(EngineHeap, LimitEndsTheRunningStage) {
  const char* hog = "local t = {} local i = 0 while true do i = i + 1 t[i] = string.rep('x', 65536) .. i end";
  struct Case {
    const char* what;
    std::string init;
    int stage;
  } cases[] = {
      {"while loading", std::string(hog), STAGE_LOADING},
      {"in the update callback",
       std::string("function startup() setCallback(CB_UPDATE, function() ") + hog + " end) end", STAGE_RUNNING},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto* engine = new LMP_Engine();
    CTRL_Generic controller(engine);  // the real error stop, which picks the message
    controller.package = makePackage({{"init.lua", c.init}});
    engine->setHeapLimit(32u << 20);
    CTRL_DebugCapture log;
    bool started = engine->start();
    EXPECT_EQ(started, c.stage == STAGE_RUNNING);
    if (started) engine->update(0.1);
    EXPECT_TRUE(controller.halted);
    EXPECT_EQ(controller.stage, c.stage);
    ASSERT_NE(controller.message, nullptr);
    EXPECT_STREQ(controller.message, CTRL_iStageMessage(c.stage));
    EXPECT_LE(engine->heapUsed(), size_t(32u << 20));
  }
}

