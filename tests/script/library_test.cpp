// require and loadfile on the package, the io library on package entries
// and "//" disk files, print, the debug prompt, and the global functions.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "script_rig.h"

namespace {

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// A scratch directory for "//" files (relative to the current directory).
class DiskFiles {
 public:
  DiskFiles() {
    char pattern[] = "script_io_XXXXXX";
    const char* dir = mkdtemp(pattern);
    name = dir ? dir : "";
  }
  ~DiskFiles() {
    for (const std::string& f : made) std::remove((name + "/" + f).c_str());
    rmdir(name.c_str());
  }
  std::string path(const std::string& file) {
    made.push_back(file);
    return "//" + name + "/" + file;
  }
  void write(const std::string& file, const std::string& text) {
    made.push_back(file);
    std::ofstream(name + "/" + file, std::ios::binary) << text;
  }
  std::string read(const std::string& file) {
    std::ifstream in(name + "/" + file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string name;
  std::vector<std::string> made;
};

TEST(Loader, RequireFindsPackageModules) {
  unsetenv("LUA_PATH_5_2");  // the search path comes from the environment when set
  unsetenv("LUA_PATH");
  ScriptRig rig({{"init.lua", "function startup() end"},
                 {"scene/intro.lua", "return {name = 'intro', dots = ...}"},
                 {"plain.lua", "loaded_plain = (loaded_plain or 0) + 1 return true"}});
  ASSERT_TRUE(rig.engine->start());
  ASSERT_TRUE(rig.run("local m = require('scene.intro') a = m.name b = m.dots"
                      " require('plain') require('plain') c = loaded_plain"
                      " d = package.searchpath('scene.intro', package.path)"
                      " e = package.path f = package.cpath g = package.config"));
  EXPECT_EQ(rig.global("a"), "intro");
  EXPECT_EQ(rig.global("b"), "scene.intro");
  EXPECT_EQ(rig.global("c"), "1");
  EXPECT_EQ(rig.global("d"), "./scene/intro.lua");
  EXPECT_EQ(rig.global("e"), "./?.lua");
  EXPECT_EQ(rig.global("f"), "");
  EXPECT_EQ(rig.global("g"), "/\n;\n?\n!\n-\n");
}

TEST(Loader, PathFromTheEnvironment) {
  setenv("LUA_PATH", "lib/?.lua;;", 1);
  unsetenv("LUA_PATH_5_2");
  ScriptRig rig;
  unsetenv("LUA_PATH");
  ASSERT_TRUE(rig.run("p = package.path"));
  EXPECT_EQ(rig.global("p"), "lib/?.lua;./?.lua;");
}

TEST(Loader, MissingModuleListsTheCandidates) {
  ScriptRig rig({{"init.lua", "function startup() end"}});
  ASSERT_TRUE(rig.engine->start());
  EXPECT_FALSE(rig.run("require('scene.missing')"));
  ASSERT_EQ(rig.controller->errors.size(), 1u);
  EXPECT_TRUE(contains(rig.firstError(), "module 'scene.missing' not found:")) << rig.firstError();
  EXPECT_TRUE(contains(rig.firstError(), "\n\tno file './scene/missing.lua'")) << rig.firstError();
}

TEST(Loader, LoadfileDofileAndErrors) {
  DiskFiles disk;
  disk.write("d.lua", "#!shebang\nreturn 40 + ...");
  std::string dpath = disk.path("d.lua");
  ScriptRig rig({{"init.lua", "function startup() end"},
                 {"m.lua", "return 'from package'"},
                 {"bad.lua", "return ="},
                 {"bin.lua", "\x1bLua"}});
  ASSERT_TRUE(rig.engine->start());
  ASSERT_TRUE(rig.run("a = loadfile('m.lua')() b = dofile('m.lua')"
                      " c = loadfile('" + dpath + "')(2)"
                      " local f, e = loadfile('nope.lua') d = e"
                      " local f2, e2 = loadfile('bad.lua') x = e2"
                      " local f3, e3 = loadfile('bin.lua') y = e3"
                      " local f4 = loadfile() z = type(f4) .. ' ' .. tostring(f4 and f4())"
                      " local env = {} loadfile('m.lua', 't', env) w = 'ok'"));
  EXPECT_EQ(rig.global("a"), "from package");
  EXPECT_EQ(rig.global("b"), "from package");
  EXPECT_EQ(rig.global("c"), "42");
  EXPECT_EQ(rig.global("d"), "cannot open nope.lua: No such file or directory");
  EXPECT_TRUE(contains(rig.global("x"), "bad.lua:1:")) << rig.global("x");
  EXPECT_EQ(rig.global("y"), "cannot reopen bin.lua: Operation not permitted");
  EXPECT_EQ(rig.global("z"), "function nil");  // the standard input holds nothing
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
}

// Bytecode on disk, whoever wrote it, is refused by everything that loads a
// chunk by name; a text chunk from the package still loads and a binary one
// there still cannot be reopened.
TEST(Loader, BinaryChunksOnDiskAreRefused) {
  unsetenv("LUA_PATH_5_2");
  unsetenv("LUA_PATH");
  DiskFiles disk;
  std::string bin = disk.path("bin.lua");
  disk.path("text.lua");
  ScriptRig rig({{"init.lua", "function startup() end"}, {"m.lua", "return 'from package'"}, {"pbin.lua", "\x1bLua"}});
  ASSERT_TRUE(rig.engine->start());
  ASSERT_TRUE(rig.run("local f = io.open('" + bin + "', 'wb')"
                      " f:write(string.dump(function() ran = true return 7 end)) f:close()"
                      " local g = io.open('//" + disk.name + "/text.lua', 'w') g:write('#!x\\n' .. string.dump(function() end)) g:close()"
                      " local f1, e1 = loadfile('" + bin + "') a = tostring(f1) .. ' ' .. e1"
                      " local f2, e2 = loadfile('" + bin + "', 'b') b = e2"
                      " local f3, e3 = loadfile('" + bin + "', 'bt', {}) c = e3"
                      " local ok4, e4 = pcall(dofile, '" + bin + "') d = tostring(ok4) .. ' ' .. e4"
                      " package.path = '//" + disk.name + "/?.lua'"
                      " local ok5, e5 = pcall(require, 'bin') e = e5"
                      " local f6, e6 = loadfile('//" + disk.name + "/text.lua') k = e6"
                      " h = loadfile('m.lua')()"
                      " local f7, e7 = loadfile('pbin.lua') i = e7"));
  EXPECT_EQ(rig.global("a"), "nil attempt to load a binary chunk (mode is 't')");
  EXPECT_EQ(rig.global("b"), "attempt to load a binary chunk (mode is '')");
  EXPECT_EQ(rig.global("c"), "attempt to load a binary chunk (mode is 't')");
  EXPECT_EQ(rig.global("d"), "false attempt to load a binary chunk (mode is 't')");
  EXPECT_EQ(rig.global("e"), "error loading module 'bin' from file '" + bin +
                                 "':\n\tattempt to load a binary chunk (mode is 't')");
  EXPECT_EQ(rig.global("k"), "attempt to load a binary chunk (mode is 't')");  // after a "#" line
  EXPECT_EQ(rig.global("h"), "from package");
  EXPECT_EQ(rig.global("i"), "cannot reopen pbin.lua: Operation not permitted");
  EXPECT_EQ(rig.global("ran"), "nil");
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
}

struct IoCase {
  const char* code;
  const char* expected;
};

TEST(IoLibrary, PackageEntries) {
  const IoCase cases[] = {
      {"local f = io.open('data.txt') r = f:read('*a') f:close()", "line one\nline two\n"},
      {"local f = io.open('data.txt') r = tostring(f:read('*l')) f:close()", "nil"},
      {"local f = io.open('data.txt') r = tostring(f:read('*n')) f:close()", "nil"},
      {"local f = io.open('data.txt') r = f:read(4) .. '|' .. f:read(4) f:close()", "line| one"},
      {"local f = io.open('data.txt') r = f:seek('end') .. ' ' .. f:seek('set', 5) .. ' ' .. f:read(3)"
       " .. ' ' .. f:seek('cur', -100) .. ' ' .. f:seek('set', 1000) f:close()",
       "18 5 one 0 18"},
      {"local f = io.open('data.txt') f:read('*a') r = tostring(f:read(0)) .. ' ' .. tostring(f:read(1))"
       " f:close()",
       "nil nil"},
      {"local f = io.open('data.txt') r = '[' .. f:read(0) .. ']' f:close()", "[]"},
      {"local f = io.open('data.txt') local n = 0 for l in f:lines() do n = n + 1 end r = n f:close()", "0"},
      {"local f = io.open('data.txt', 'r') local ok, e = f:write('x') r = tostring(ok) .. ' ' .. e f:close()",
       "nil Bad file descriptor"},
      {"local f = io.open('data.txt') r = tostring(f:setvbuf('full')) .. tostring(f:flush()) f:close()",
       "truetrue"},
      {"local f, e, n = io.open('missing.txt') r = tostring(f) .. '|' .. e .. '|' .. n",
       "nil|missing.txt: No such file or directory|2"},
      {"local f, e = io.popen('ls') r = tostring(f) .. ' ' .. type(e)", "nil string"},
      {"local f = io.open('data.txt') r = io.type(f) f:close() r = r .. ' ' .. io.type(f) .. ' ' .. tostring(f)",
       "file closed file file (closed)"},
      {"local ok, e = io.stdout:close() r = tostring(ok) .. ' ' .. e", "nil cannot close standard file"},
      {"r = tostring(io.read()) .. ' ' .. tostring(io.stdin:read('*a'))", "nil "},
      {"local f = io.open('./data.txt') r = f:read(4) f:close()", "line"},
  };
  for (const IoCase& c : cases) {
    SCOPED_TRACE(c.code);
    ScriptRig rig({{"init.lua", "function startup() end"}, {"data.txt", "line one\nline two\n"}});
    ASSERT_TRUE(rig.engine->start());
    ASSERT_TRUE(rig.run(c.code)) << rig.firstError();
    EXPECT_EQ(rig.global("r"), c.expected);
  }
}

TEST(IoLibrary, ModeAndClosedFileErrors) {
  const IoCase cases[] = {
      {"io.open('data.txt', 'rw')", "invalid mode 'rw' (should match '[rwa]%+?b?')"},
      {"local f = io.open('data.txt') f:close() f:read()", "attempt to use a closed file"},
      {"local f = io.open('data.txt') f:read('x')", "invalid option"},
      {"local f = io.open('data.txt') f:read('*x')", "invalid format"},
      {"local f = io.open('data.txt') f:seek('set', 0.5)", "not an integer in proper range"},
      {"local f = io.open('data.txt') f:setvbuf('big')", "invalid option 'big'"},
      {"io.output():close() io.output():close()", "attempt to use a closed file"},
      {"for l in io.lines('missing.txt') do end", "cannot open file 'missing.txt' (No such file or directory)"},
  };
  for (const IoCase& c : cases) {
    SCOPED_TRACE(c.code);
    ScriptRig rig({{"init.lua", "function startup() end"}, {"data.txt", "x"}});
    ASSERT_TRUE(rig.engine->start());
    rig.run(c.code);
    if (std::string(c.code).rfind("io.output", 0) == 0) {
      // The standard output cannot be closed, so this runs without error.
      EXPECT_TRUE(rig.controller->errors.empty());
      continue;
    }
    ASSERT_EQ(rig.controller->errors.size(), 1u);
    EXPECT_TRUE(contains(rig.firstError(), c.expected)) << rig.firstError();
  }
}

TEST(IoLibrary, DiskFiles) {
  DiskFiles disk;
  std::string out = disk.path("out.txt");
  disk.write("in.txt", "12.5 rest\nsecond\nthird");
  std::string in = "//" + disk.name + "/in.txt";
  ScriptRig rig({{"init.lua", "function startup() end"}});
  ASSERT_TRUE(rig.engine->start());
  ASSERT_TRUE(rig.run("local f = io.open('" + out + "', 'w') f:write('a', 1, '\\n') f:close()"
                      " local g = io.open('" + in + "') n = g:read('*n') l = g:read('*l') L = g:read('*L')"
                      " rest = g:read('*a') g:close()"
                      " local lines = {} for x in io.lines('" + in + "') do lines[#lines + 1] = x end"
                      " count = #lines dof = io.open('" + in + "'):seek('end')"))
      << rig.firstError();
  EXPECT_EQ(disk.read("out.txt"), "a1\n");
  EXPECT_EQ(rig.global("n"), "12.5");
  EXPECT_EQ(rig.global("l"), " rest");
  EXPECT_EQ(rig.global("L"), "second\n");
  EXPECT_EQ(rig.global("rest"), "third");
  EXPECT_EQ(rig.global("count"), "3");
  EXPECT_EQ(rig.global("dof"), "22");
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
}

TEST(Output, PrintWriteAndDebugPrompt) {
  ScriptRig rig;
  ASSERT_TRUE(rig.run("print('a', 1) io.write('x', 2.5) io.stderr:write('e') debug.debug()"));
  EXPECT_EQ(rig.log.text(), "a\n\t\n1\n\n\nx\n2.5\ne\nlua_debug> \n");
  rig.log.clear();
  ASSERT_TRUE(rig.run("io.write(string.rep('w', 3000))"));
  EXPECT_EQ(rig.log.text(), std::string(1023, 'w') + "\n");
  rig.log.clear();
  EXPECT_FALSE(rig.run("tostring = function() return {} end print(1)"));
  EXPECT_TRUE(contains(rig.firstError(), "'tostring' must return a string to 'print'")) << rig.firstError();
}

TEST(Globals, ConstantsAndSpellings) {
  ScriptRig rig;
  const IoCase cases[] = {
      {"KEY_LBUTTON", "1"},        {"KEY_EXECUTELM", "43"},      {"KEY_HANJA == KEY_KANJI", "true"},
      {"KEY_OEM_FJ_JISHO", "146"}, {"KEY_OEM_CLEAR", "254"},     {"KEY_A", "65"},
      {"KEY_9", "57"},             {"SHADOW_2D == SHADOW_ZPASS", "true"}, {"SHADOW_3D", "1"},
      {"CB_MAX == CB_ASPECT_RATIO_CHANGED", "true"}, {"ENV_LINUX", "3"}, {"STATE_ALL", "31"},
      {"JOINT_POINT_ON_PLANE", "4"}, {"OBJECT_LOCATOR", "14"}, {"OBJECT_IMAGE", "10"},
      {"INFINITE_PLUS == 1.7976931348623157e308", "true"}, {"INFINITE_MINUS == -INFINITE_PLUS", "true"},
      {"type(getHooveredObject)", "function"}, {"type(resetRenderingOpti)", "function"},
      {"type(newScene) .. type(newLocator)", "tabletable"},
      {"getPlatform()", "3"}, {"getAcceleration()", "v3(0,0,-1)"}, {"getHiDPI()", "false"},
      {"select('#', getPickedObject())", "0"}, {"select('#', trace(1, 2))", "0"},
  };
  for (const IoCase& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_TRUE(rig.run(std::string("r = ") + c.code)) << rig.firstError();
    EXPECT_EQ(rig.global("r"), c.expected);
  }
  // 257 table constants + 2 + 14 OBJECT_ constants, all numbers.
  ASSERT_TRUE(rig.run("n = 0 for k, v in pairs(_G) do if type(v) == 'number' and k:match('^[A-Z][A-Z0-9_]*$')"
                      " then n = n + 1 end end"));
  EXPECT_EQ(rig.global("n"), "273");
}

TEST(Globals, AllClassesAreRegistered) {
  ScriptRig rig;
  ASSERT_TRUE(rig.run(
      "local names = {'newScene', 'newViewport', 'newObject', 'newMesh', 'newAnimatedMesh', 'newRigidBody',"
      " 'newSound', 'newText', 'newLamp', 'newCamera', 'newMike', 'newImage', 'newPolyline', 'newTexture',"
      " 'newSample', 'newBone', 'newStream', 'newFont', 'newModelsSet', 'newMaterial', 'newSpring', 'newJoint',"
      " 'newCollisionVolume', 'newAnimationData', 'newAnimation', 'newLocator'}"
      " n = 0 for _, name in ipairs(names) do local t = _G[name]"
      "   if type(t) == 'table' and type(t.new) == 'function' and type(getmetatable(t).__call) == 'function'"
      "     and debug.getregistry()[name] then n = n + 1 end end"));
  EXPECT_EQ(rig.global("n"), "26");
}

TEST(Globals, KeysAspectAndController) {
  ScriptRig rig;
  CTRL_Generic* c = rig.controller;
  c->currentKeys[KEY_A] = 1;
  c->width = 800;
  c->height = 600;
  ASSERT_TRUE(rig.run("a = isKeyPressed(KEY_A) b = isKeyPressed(321) c = isKeyJustPressed('65')"
                      " d = isKeyJustReleased(KEY_A) e = getViewAspectRatio() f = getResolution()"
                      " setAspectRatio(0.5) g = getAspectRatio() setAspectRatio(0) setAspectRatio(0/0)"
                      " setAspectRatio(1/0) h = getAspectRatio()"
                      " setBackgroundColor(color(0.1, 0.2, 0.3, 0.4)) setPickPosition(v3(1, 2, 3))"));
  EXPECT_EQ(rig.global("a"), "true");
  EXPECT_EQ(rig.global("b"), "true");  // read at the low 8 bits
  EXPECT_EQ(rig.global("c"), "true");
  EXPECT_EQ(rig.global("d"), "false");
  EXPECT_EQ(rig.global("e"), "0.75");
  EXPECT_EQ(rig.global("f"), "v2(800,600)");
  EXPECT_EQ(rig.global("g"), "0.5");
  EXPECT_EQ(rig.global("h"), "0.5");
  EXPECT_EQ(c->windowColour[3], 0.4);
  EXPECT_EQ(c->grabOffset.z, 3);
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
  ASSERT_TRUE(rig.run("isKeyPressed()"));
  EXPECT_EQ(rig.firstError(), "test:1: Not enough arguments, <I> argument(s) expected");
}

// Records what scripts ask of the platform.
class DeviceController : public TestController {
 public:
  using TestController::TestController;
  int32_t sendToDevice(int32_t device, const uint8_t* bytes, int32_t length) override {
    sent.assign(reinterpret_cast<const char*>(bytes), size_t(length));
    lastDevice = device;
    return length;
  }
  int32_t registerDevice(int32_t vendor, int32_t product, int32_t index) override {
    return vendor + product + index;
  }
  void openURL(const char* text) override { url = text; }
  void getLanguage(char* out) override { std::strcpy(out, "FR"); }
  std::string sent, url;
  int32_t lastDevice = -1;
};

TEST(Globals, PlatformServices) {
  auto* engine = new LMP_Engine();
  DeviceController c(engine);
  ASSERT_EQ(luaL_dostring(engine->luaState(), "n = sendToDevice(4, 'a\\0b') d = registerDevice(1, 2, 3)"
                                              " openURL('http://x') l = getLanguage()"),
            LUA_OK);
  EXPECT_EQ(c.sent, std::string("a\0b", 3));
  EXPECT_EQ(c.lastDevice, 4);
  EXPECT_EQ(c.url, "http://x");
  lua_State* L = engine->luaState();
  lua_getglobal(L, "n");
  EXPECT_EQ(lua_tonumber(L, -1), 3);
  lua_getglobal(L, "d");
  EXPECT_EQ(lua_tonumber(L, -1), 6);
  lua_getglobal(L, "l");
  EXPECT_STREQ(lua_tostring(L, -1), "FR");
  lua_settop(L, 0);
}

}  // namespace
