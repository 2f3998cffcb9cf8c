// The script API as content drives it, with state: the input is a program of
// byte opcodes that a driver (a Lua chunk below) runs through the real engine
// and a window controller on the fake platform, with the renderer on the
// null GL driver and the mixer on the fake sound buffer. The driver keeps a
// pool of live values (objects of every class, scenes, scene files,
// viewports, resources, springs, joints, animations), creates, reparents,
// calls, drops and deletes them, and registers callbacks whose bodies are
// themselves opcode runs; between runs the harness steps frames (update,
// physics, animation, skinning, mixer, videos, drawing), moves and presses
// the pointer (picking, clicks, drags, the wheel), sends keys and resizes
// the window, so the callbacks run from inside the frame.
//
// Script errors and error stops are expected and ignored (the controller
// never halts, so the callbacks go on running); only memory errors,
// undefined behaviour, leaks and hangs count. Every input gets a fresh
// engine and controller, and its run is bounded (operations, frames,
// callback depth).
//
// Layout: byte 0 chooses the set-up (bit 0: the client-array render path
// instead of buffer objects; bit 1: no renderer; bit 2: no sound output);
// the rest is the program (see the driver's opcode table).
//
// FUZZ_SCRIPT_API_SKIP=3,17,... leaves the listed opcodes out (each becomes
// a one-byte no-op), to get past a known fault while it is being mended; the
// default runs them all. FUZZ_SCRIPT_API_TRACE=1 prints every operation
// (opcode@offset and its script error, callbacks indented), the frames and
// the error stops.
//
// A long run (the other targets' way: scripts/fuzz 1800 script_api), or on
// two cores going on past crashes, from build-fuzz/tests/fuzz (one line):
//   ./fuzz_script_api -fork=2 -ignore_crashes=1 -ignore_timeouts=1
//       -max_len=4096 -timeout=20 -max_total_time=1800 -artifact_prefix=OUT/
//       WORK_CORPUS ../../../tests/fuzz/corpus/script_api
#include <GL/glew.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <lua.hpp>

#include "bench/null_gl.h"
#include "controller/CTRL_Generic.h"
#include "fuzz_package_files.h"
#include "model/MDL_Object.h"
#include "physics/MDL_Scene.h"
#include "platform/PLAT_Fake.h"
#include "script/LMP_Engine.h"
#include "shell/CTRL_Win32.h"

// The renderer sets up its extensions through glewInit; here there is no
// driver to ask, so the null driver answers instead.
extern "C" GLenum GLEWAPIENTRY glewInit(void)
{
    null_gl::detach();
    return GLEW_OK;
}

namespace {

// The program driver. step() runs operations until one asks for frames or
// input, and answers that request (kind, a, b, c); nil at the end.
const char kDriver[] = R"lua(
local input, skipList, trace, crowded = ...
local pos, stop = 2, #input
local budget = 600          -- operations per input, callbacks included
local depth = 0             -- callback nesting
local NS = 16
local H = {}                -- the pool: slot -> value
local A = {}                -- the arguments of the running callback
local skip = {}
for n in string.gmatch(skipList, "%d+") do skip[tonumber(n)] = true end

local function b()
  if pos > stop then return 0 end
  local x = string.byte(input, pos)
  pos = pos + 1
  return x
end
local function pick(t) return t[b() % #t + 1] end

local classes = {"newScene", "newViewport", "newObject", "newMesh", "newAnimatedMesh", "newRigidBody",
  "newSound", "newText", "newLamp", "newCamera", "newMike", "newImage", "newPolyline", "newTexture",
  "newSample", "newBone", "newStream", "newFont", "newModelsSet", "newMaterial", "newSpring", "newJoint",
  "newCollisionVolume", "newAnimationData", "newAnimation", "newLocator"}
local objectClasses = {"newObject", "newMesh", "newAnimatedMesh", "newRigidBody", "newSound", "newText",
  "newLamp", "newCamera", "newMike", "newImage", "newPolyline", "newCollisionVolume", "newLocator"}
local classOf, methods = {}, {}
for _, c in ipairs(classes) do
  local M = _G[c]
  local list = {}
  if type(M) == "table" then
    classOf[M] = c
    for k, f in pairs(M) do
      if type(k) == "string" and type(f) == "function" and k ~= "new" then list[#list + 1] = k end
    end
  end
  table.sort(list)
  methods[c] = list
end
local function classOfValue(v)
  if type(v) ~= "userdata" then return nil end
  return classOf[getmetatable(v)]
end
-- The methods of a value: its class's, or for other userdata (files) those
-- of its metatable's __index table.
local otherMethods = {}
local function methodsOf(v)
  local c = classOfValue(v)
  if c then return methods[c] end
  if type(v) ~= "userdata" then return nil end
  local mt = getmetatable(v)
  if type(mt) ~= "table" or type(mt.__index) ~= "table" then return nil end
  if not otherMethods[mt] then
    local list = {}
    for k, f in pairs(mt.__index) do if type(k) == "string" and type(f) == "function" then list[#list + 1] = k end end
    table.sort(list)
    otherMethods[mt] = list
  end
  return otherMethods[mt]
end

local files = {"scene.xml", "character.xml", "tone.ogg", "clip.ogv", "sound.ogv", "image.png", "missing.xml",
  "", "scene.xml", "init.lua", "textured.xml"}
local names = {"Floor", "Crate", "Small crate", "Pillar", "Lamp", "Sun", "Camera", "Bone", "Skin", "Volume",
  "Spin", "Character", "Shoulder", "Elbow", "Wrist", "CharacterCamera", "nothing", "", "Arm", "Door", "Wave",
  "DoorSwing", "Post"}
local numbers = {0, 1, -1, 2, 3, 0.5, -0.5, 10, 100, 1e-9, 1e9, -1e9, 1e300, -1e300, math.huge, -math.huge,
  0 / 0, 2 ^ 31, 2 ^ 31 - 1, -2 ^ 31, 2 ^ 32, 2 ^ 53, 0.1, 45, 90, 180, 360, 0.001, 7, 4, 5, 6, 2 ^ 63, -2 ^ 63,
  2 ^ 64, 1e19, 42}
local consts = {}
for k, v in pairs(_G) do
  if type(k) == "string" and type(v) == "number" and k:match("^[A-Z][A-Z0-9_]+$") then consts[#consts + 1] = k end
end
table.sort(consts)
local cbIds = {CB_UPDATE, CB_EVENT, CB_MOUSE_DOWN, CB_MOUSE_UP, CB_MOUSE_CLICK, CB_MOVED, CB_MECHA,
  CB_POST_INTEGRATION, CB_PRE_COLLISION, CB_POST_COLLISION, CB_ASPECT_RATIO_CHANGED, 0, 12}
local globals = {"isKeyPressed", "isKeyJustPressed", "isKeyJustReleased", "setAspectRatio", "getAspectRatio",
  "getViewAspectRatio", "getResolution", "getHiDPI", "setBackgroundColor", "getAcceleration", "getLanguage",
  "getPlatform", "getHooveredObject", "getPickedObject", "setPickPosition", "getViewportMouse",
  "getSceneMouse", "resetTextureCache", "resetGlyphTextureCache", "setDefaultTextureFilter",
  "resetRenderingOpti", "trace", "tracePoint", "registerDevice", "sendToDevice", "getTime", "print",
  "load", "dofile", "require", "io.open", "io.lines", "io.input", "io.read", "io.close", "io.type"}
local function globalFunction(name)
  local lib, f = name:match("^(%w+)%.(%w+)$")
  if lib then return type(_G[lib]) == "table" and _G[lib][f] or nil end
  return _G[name]
end
local dts = {1 / 60, 0, 0.1, 0.5, 1 / 30, 2}

local function num() return pick(numbers) end
local function smallNum() return (b() - 128) / 16 end

local run  -- forward
local function callback(ret)
  local len = b() % 48
  local s = pos
  pos = pos + len
  local e = math.min(pos - 1, stop)
  return function(...)
    if depth >= 3 or budget <= 0 then return ret end
    local sp, se, sa = pos, stop, A
    pos, stop, A = s, e, {...}
    depth = depth + 1
    run(false)
    depth = depth - 1
    pos, stop, A = sp, se, sa
    return ret
  end
end
local rets = {true, false, nil, 1}

local function val()
  local k = b() % 24
  if k == 0 then return nil
  elseif k <= 5 then return H[b() % NS + 1]
  elseif k <= 7 then return num()
  elseif k == 8 then return smallNum()
  elseif k == 9 then return pick(files)
  elseif k == 10 then return pick(names)
  elseif k == 11 then return v3(smallNum(), smallNum(), smallNum())
  elseif k == 12 then return v3(num(), num(), num())
  elseif k == 13 then return v2(smallNum(), smallNum())
  elseif k == 14 then return m33(smallNum(), smallNum(), smallNum(), smallNum(), smallNum(), smallNum(),
    smallNum(), smallNum(), smallNum())
  elseif k == 15 then return color(b() / 255, b() / 255, b() / 255, b() / 255)
  elseif k == 16 then return b() % 2 == 0
  elseif k == 17 then return callback(pick(rets))
  elseif k == 18 then return _G[pick(consts)]
  elseif k == 19 then return A[b() % 4 + 1]
  elseif k == 20 then return b() % 8
  elseif k == 21 then return {smallNum(), smallNum()}
  elseif k == 22 then return string.rep("x", b())
  else return H[b() % NS + 1] end
end
local function args(n)
  local t = {}
  for i = 1, n do t[i] = val() end
  return t, n
end
local function store(v)
  local slot = b() % NS + 1
  if v ~= nil then H[slot] = v end
end
local function slotValue() return H[b() % NS + 1] end
local function call(f, ...) return pcall(f, ...) end
local function callMethod(v, name, t, n)
  local f = v[name]
  if type(f) ~= "function" then return end
  local results = {pcall(f, v, table.unpack(t, 1, n))}
  for i = 2, #results do
    if type(results[i]) == "userdata" then store(results[i]) return end
  end
end

local ops = {}
-- 0: a scene
ops[0] = function() store(select(2, call(newScene))) end
-- 1: a scene file
ops[1] = function() store(select(2, call(newModelsSet, pick(files)))) end
-- 2: an object of an object class: scene or parent first, maybe a source
ops[2] = function()
  local c = pick(objectClasses)
  local first = slotValue()
  local r
  if b() % 3 == 0 then r = select(2, call(_G[c], first, val())) else r = select(2, call(_G[c], first)) end
  store(r)
end
-- 3, 4: a method of a pooled value, with arguments from the pool
local function method()
  local v = slotValue()
  local list = methodsOf(v)
  local which, n = b(), b() % 5
  if not list or #list == 0 then args(n) return end
  local t = args(n)
  callMethod(v, list[which % #list + 1], t, n)
end
ops[3] = method
ops[4] = method
-- 5: reparent (nil parent makes a root)
ops[5] = function()
  local v, p = slotValue(), nil
  if b() % 4 ~= 0 then p = slotValue() end
  if classOfValue(v) then pcall(function() v:setParent(p) end) end
end
-- 6: delete
ops[6] = function()
  local v = slotValue()
  if classOfValue(v) then pcall(function() v:delete() end) end
end
-- 7: an object, scene or viewport callback
ops[7] = function()
  local v = slotValue()
  local id = pick(cbIds)
  local f = callback(pick(rets))
  if classOfValue(v) then pcall(function() v:setCallback(id, f) end) end
end
-- 8: a global callback
ops[8] = function()
  local id = pick(cbIds)
  local f = nil
  if b() % 8 ~= 0 then f = callback(pick(rets)) end
  pcall(setCallback, id, f)
end
-- 9: a viewport with a camera and a listener from the pool
ops[9] = function()
  local ok, vp = pcall(newViewport, b() % 4 / 4, b() % 4 / 4, (b() % 4 + 1) / 4, (b() % 4 + 1) / 4)
  if not ok or vp == nil then return end
  local cam, mike = slotValue(), slotValue()
  pcall(function() vp:setCamera(cam) end)
  pcall(function() vp:setMike(mike) end)
  store(vp)
end
-- 10: assign a camera or a listener to a viewport
ops[10] = function()
  local vp, o = slotValue(), slotValue()
  local mike = b() % 2 == 1
  if classOfValue(vp) == "newViewport" then
    pcall(function() if mike then vp:setMike(o) else vp:setCamera(o) end end)
  end
end
-- 11: fetch from a scene file, a scene or a tree by name
ops[11] = function()
  local v, name, how = slotValue(), pick(names), b() % 4
  local c = classOfValue(v)
  if not c then return end
  local r
  if how == 0 then r = select(2, pcall(function() return v:get(name) end))
  elseif how == 1 then r = select(2, pcall(function() return v:getObject(name) end))
  elseif how == 2 then r = select(2, pcall(function() return v:getDescendant(name) end))
  else r = select(2, pcall(function() return v:getChild() end)) end
  store(r)
end
-- 12: a spring or a joint between pooled bodies
ops[12] = function()
  local a, bb = slotValue(), slotValue()
  local pa, pb = v3(smallNum(), smallNum(), smallNum()), v3(smallNum(), smallNum(), smallNum())
  if b() % 2 == 0 then
    store(select(2, pcall(newSpring, a, pa, bb, pb)))
  else
    store(select(2, pcall(newJoint, b() % 6, a, pa, v3(0, 0, 1), bb, pb, v3(1, 0, 0))))
  end
end
-- 13: an animation of a pooled object from a scene file's data
ops[13] = function()
  local target, set = slotValue(), slotValue()
  local data = nil
  if classOfValue(set) == "newModelsSet" then
    data = select(2, pcall(function() return set:getAnimationData(pick(names)) end))
  else
    data = set
  end
  store(select(2, pcall(newAnimation, target, data)))
end
-- 14: media and resources from the package
ops[14] = function()
  local c = pick({"newSample", "newStream", "newTexture", "newFont", "newModelsSet", "newMaterial"})
  local file, filter = pick(files), b() % 3
  if c == "newStream" or c == "newTexture" then
    store(select(2, pcall(_G[c], file, filter)))
  else
    store(select(2, pcall(_G[c], file)))
  end
end
-- 15: the collector
ops[15] = function()
  if b() % 2 == 0 then collectgarbage("collect") else collectgarbage("step", b()) end
end
-- 16: drop a pool slot, or copy one into another
ops[16] = function()
  local s, t = b() % NS + 1, b() % NS + 1
  if b() % 2 == 0 then H[s] = nil else H[t] = H[s] end
end
-- 17: a global function
ops[17] = function()
  local f = globalFunction(pick(globals))
  local t, n = args(b() % 4)
  if type(f) == "function" then
    local results = {pcall(f, table.unpack(t, 1, n))}
    for i = 2, #results do if type(results[i]) == "userdata" then store(results[i]) break end end
  end
end
-- 18: any constructor with any arguments
ops[18] = function()
  local c = pick(classes)
  local t, n = args(b() % 5)
  if type(_G[c]) == "table" then store(select(2, pcall(_G[c], table.unpack(t, 1, n)))) end
end
-- 19: clear or delete a scene (its objects go), or delete a scene file
ops[19] = function()
  local v = slotValue()
  local c = classOfValue(v)
  if c == "newScene" then
    if b() % 2 == 0 then pcall(function() v:clear() end) else pcall(function() v:delete() end) end
  elseif c then
    pcall(function() v:delete() end)
  end
end
-- 20: a small world: a scene with a camera, a lamp, a listener, a viewport
-- a scene file, a mesh (or the character's tree) and two bodies, with its
-- objects in the pool
ops[20] = function()
  local base = b() % NS
  local function put(i, v) H[(base + i) % NS + 1] = v end
  local ok, err = pcall(function()
    local s = newScene()
    local cam = newCamera(s)
    cam:setPosition(v3(0, -10, 3))
    cam:rotate(v3(1, 0, 0), 75)
    local vp = newViewport(0, 0, 1, 0.75)
    vp:setCamera(cam)
    local mike = newMike(cam)
    vp:setMike(mike)
    local lamp = newLamp(s)
    lamp:setPosition(v3(2, -3, 6))
    put(0, s) put(1, cam) put(2, vp) put(3, lamp)
    local file = b() % 4 == 3 and "character.xml" or "scene.xml"
    local which = b() % 2
    local set = newModelsSet(file)
    put(4, set)
    put(7, mike)
    local mesh
    if file == "character.xml" then mesh = newObject(s, set:get("Character"))
    elseif which == 0 then mesh = newMesh(s, set:get("Crate"))
    else mesh = newAnimatedMesh(s, set:get("Skin")) end
    put(5, mesh)
    -- a body with a sphere volume above a fixed one, so that they touch
    local body = newRigidBody(s, set:get(file == "character.xml" and "Post" or "Crate"))
    body:setPosition(v3(0, 0, 3))
    newCollisionVolume(body)
    put(6, body)
    local floor = newRigidBody(s)
    newCollisionVolume(floor)
    floor:setMass(0)
    put(8, floor)
  end)
end
-- 21..23: frames, pointer and keys (answered by the harness at the top
-- level; inside a callback they are read and ignored)
ops[21] = function(top) local n, dt = b() % 4 + 1, pick(dts) if top then return 1, n, dt, 0 end end
ops[22] = function(top)
  local action, x, y = b() % 8, b() * 4, b() * 3
  if top then return 2, action, x, y end
end
ops[23] = function(top)
  local code, down = b(), b() % 2
  if top then return 3, code, down, 0 end
end
-- 24: resize the window
ops[24] = function(top)
  local w, h = b() * 4 + 1, b() * 3 + 1
  if top then return 4, w, h, 0 end
end
-- 25: an animated mesh's bone pulled by inverse kinematics, or reset
ops[25] = function()
  local v = slotValue()
  local p, t = v3(smallNum(), smallNum(), smallNum()), v3(smallNum(), smallNum(), smallNum())
  local how = b() % 3
  if classOfValue(v) == "newBone" then
    pcall(function() if how == 0 then v:reset() else v:movePoint(p, t) end end)
  elseif classOfValue(v) then
    pcall(function()
      local bone = v:getDescendant(pick(names))
      store(bone)
      if classOfValue(bone) == "newBone" then bone:movePoint(p, t) end
    end)
  end
end
local NOPS = 26

run = function(top)
  while pos <= stop and budget > 0 do
    budget = budget - 1
    local op = b() % NOPS
    local f = ops[op]
    if not skip[op] then
      local at = pos - 1
      local ok, kind, x, y, z = pcall(f, top)
      if trace then trace(string.format("%s%d@%d %s", string.rep("  ", depth), op, at, ok and "" or tostring(kind))) end
      if crowded() then budget = 0 end
      if ok and kind and top then return kind, x, y, z end
    end
  end
end

function step() return run(true) end
)lua";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

PLAT_Fake* fake;
CTRL_ManualClock* clock_;
CTRL_Package* package;  // made once, lent to every controller
std::string driverChunk;  // the driver, compiled once
std::string skipList;
bool tracing = false;

// The window controller of the player with error stops that never halt:
// the program goes on, callbacks keep firing.
class FuzzController : public CTRL_Win32 {
public:
    using CTRL_Win32::CTRL_Win32;
    void stopOnError(const char* format, ...) override
    {
        errors++;
        if (!tracing) return;
        va_list args;
        va_start(args, format);
        std::fprintf(stderr, "  error stop: ");
        std::vfprintf(stderr, format ? format : "", args);
        std::fprintf(stderr, "\n");
        va_end(args);
    }
    int errors = 0;
};

constexpr int kMaxFrames = 48;
constexpr int kMaxInputs = 64;
// Touching volumes cost the contact pass one pair, and its handlers, for
// every two of them: past this many the program ends and its scenes are
// emptied before the last frame, so that every input runs in a short time.
constexpr int kMaxVolumes = 64;

bool crowded(CTRL_Generic* c)
{
    int n = 0;
    for (MDL_Scene* s : c->scenes) n += s->collisionVolumes.count;
    return n > kMaxVolumes;
}

}  // namespace

// The sanitizer's filling of every new block is most of the time of a run
// here (the script heap is many small blocks); it finds nothing the
// sanitizers report, so it is left out.
extern "C" const char* __asan_default_options() { return "max_malloc_fill_size=0"; }

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    CTRL_iSetDebugSink([](void*, const char*) {}, nullptr);
    const std::string bin = HALVORIN_BINARY_DIR, src = HALVORIN_SOURCE_DIR;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"scene.xml", readFile(bin + "/fixtures/scenefile/small_rig.xml")},
        {"textured.xml", readFile(bin + "/fixtures/scenefile/scene.xml")},
        {"character.xml", readFile(src + "/content/demo/character.xml")},
        {"tone.ogg", readFile(bin + "/fixtures/sound/tone_mono_44100.ogg")},
        {"clip.ogv", readFile(bin + "/tests/fuzz/seeds/theora/flat_8x8_420.ogv")},
        {"sound.ogv", readFile(bin + "/tests/fuzz/seeds/theora/sound_16x16_420.ogv")},
        {"image.png", readFile(bin + "/fixtures/scenefile/t2d8.png")},
        {"init.lua", "x = 1\n"},
    };
    for (const auto& [name, bytes] : files)
        if (bytes.empty() && name != "init.lua") {
            std::fprintf(stderr, "fuzz_script_api: fixture %s missing (build the fixtures first)\n", name.c_str());
            std::abort();
        }
    package = FUZZ_iMakePackage(files);
    // Compiling the driver costs more than many a program's run: it is
    // compiled once and loaded precompiled into every new state.
    lua_State* L = luaL_newstate();
    if (!L || luaL_loadbuffer(L, kDriver, sizeof kDriver - 1, "=driver") != LUA_OK) {
        std::fprintf(stderr, "fuzz_script_api: %s\n", L ? lua_tostring(L, -1) : "no state");
        std::abort();
    }
    lua_dump(L, [](lua_State*, const void* p, size_t n, void* out) {
        static_cast<std::string*>(out)->append(static_cast<const char*>(p), n);
        return 0;
    }, &driverChunk);
    lua_close(L);
    if (const char* s = std::getenv("FUZZ_SCRIPT_API_SKIP")) skipList = s;
    tracing = std::getenv("FUZZ_SCRIPT_API_TRACE") != nullptr;
    clock_ = new CTRL_ManualClock();
    CTRL_iSetClock(clock_);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 4096) return 0;
    const uint8_t setup = data[0];
    null_gl::detachedExtensions = (setup & 1) ? "GL_ARB_multitexture" : "GL_ARB_vertex_buffer_object GL_ARB_multitexture";
    // A fresh platform per input: everything it records is freed with it.
    fake = new PLAT_Fake();
    PLAT_iSet(fake);
    fake->registerClass(CTRL_WINDOW_CLASS, CTRL_iWndProc, nullptr);
    fake->glAvailable = (setup & 2) == 0;
    fake->soundAvailable = (setup & 4) == 0;
    clock_->now = 0;

    PLAT_Window* window = fake->createWindow(CTRL_WINDOW_CLASS, "", PLAT_WS_OVERLAPPEDWINDOW, 0, 0, 0,
                                             640 + fake->frameWidth, 480 + fake->frameHeight);
    auto* engine = new LMP_Engine();
    engine->setHeapLimit(size_t(64) << 20);
    auto* c = new FuzzController(engine, window);
    c->package = package;
    c->started = 1;
    c->stage = STAGE_RUNNING;
    c->setViewportSize(640, 480);
    c->aspect = 0.75;
    fake->post(window, PLAT_WM_ACTIVATE, PLAT_WA_ACTIVE);
    fake->pump();

    lua_State* L = engine->luaState();
    if (luaL_loadbufferx(L, driverChunk.data(), driverChunk.size(), "=driver", "b") != LUA_OK) {
        std::fprintf(stderr, "fuzz_script_api: %s\n", lua_tostring(L, -1));
        std::abort();
    }
    lua_pushlstring(L, reinterpret_cast<const char*>(data), size);
    lua_pushstring(L, skipList.c_str());
    if (tracing)
        lua_pushcfunction(L, [](lua_State* S) {
            std::fprintf(stderr, "%s\n", luaL_checkstring(S, 1));
            return 0;
        });
    else
        lua_pushnil(L);
    lua_pushlightuserdata(L, c);
    lua_pushcclosure(L, [](lua_State* S) {
        lua_pushboolean(S, crowded(static_cast<CTRL_Generic*>(lua_touserdata(S, lua_upvalueindex(1)))));
        return 1;
    }, 1);
    if (!engine->protectedCall(4, 0)) {
        std::fprintf(stderr, "fuzz_script_api: the driver did not start\n");
        std::abort();
    }

    int frames = 0, inputs = 0;
    for (;;) {
        lua_getglobal(L, "step");
        if (!engine->protectedCall(0, 4)) break;
        const int kind = int(lua_tointeger(L, -4));
        const double a = lua_tonumber(L, -3), b = lua_tonumber(L, -2), d = lua_tonumber(L, -1);
        lua_pop(L, 4);
        if (kind == 0) break;
        if (kind == 1) {
            // Frames of dt seconds each.
            for (int i = 0; i < int(a) && frames < kMaxFrames && !crowded(c); i++, frames++) {
                clock_->advanceSeconds(b);
                fake->post(window, PLAT_WM_TIMER);
                fake->pump();
            }
        } else if (inputs++ < kMaxInputs) {
            const auto x = int32_t(b), y = int32_t(d);
            if (kind == 2) {
                // The pointer: left press, release, a move (drag while held),
                // right press and release, the wheel, a lost pointer.
                const int action = int(a);
                if (action == 0) fake->pointerButton(window, 1, true, x, y);
                else if (action == 1) fake->pointerButton(window, 1, false, x, y);
                else if (action == 2 || action == 7) fake->pointerMove(window, x, y);
                else if (action == 3) fake->pointerButton(window, 3, true, x, y);
                else if (action == 4) fake->pointerButton(window, 3, false, x, y);
                else if (action == 5) fake->pointerButton(window, 4 + (x & 1), true, x, y);
                else fake->loseFocus(window);
            } else if (kind == 3) {
                fake->post(window, b != 0 ? PLAT_WM_KEYDOWN : PLAT_WM_KEYUP, uintptr_t(a));
            } else if (kind == 4) {
                fake->setWindowPos(window, 0, 0, int32_t(a) + fake->frameWidth, int32_t(b) + fake->frameHeight, 0);
                fake->post(window, PLAT_WM_SIZE);
            }
            fake->pump();
        }
    }
    if (tracing) std::fprintf(stderr, "frames %d, inputs %d, error stops %d\n", frames, inputs, c->errors);
    lua_settop(L, 0);
    if (crowded(c))
        for (MDL_Scene* s : c->scenes)
            for (int i = 0; i < s->objects.count; ++i)
                if (!s->objects.data[i]->deleted) c->detachObject(s->objects.data[i]);
    // A last frame draws and purges what the program left behind.
    clock_->advanceSeconds(1.0 / 60);
    fake->post(window, PLAT_WM_TIMER);
    fake->pump();
    c->package = nullptr;         // the package is kept for the next input
    fake->destroyWindow(window);  // deletes the controller and its engine
    fake->pump();
    PLAT_iSet(nullptr);
    delete fake;
    return 0;
}
