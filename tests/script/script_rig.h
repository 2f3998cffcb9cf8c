// A real script engine with a test controller and a package built in
// memory: scripts run as they do in the player, and the test sees every
// error stop and the debug log.
#pragma once

#include <zlib.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <lua.hpp>

#include "base/CTRL_Array.h"
#include "controller/CTRL_Generic.h"
#include "package/CTRL_File.h"
#include "script/LMP_Engine.h"

// Records every error stop (with its text) and halts as the base does.
class TestController : public CTRL_Generic {
 public:
  explicit TestController(LMP_Engine* e) : CTRL_Generic(e) {}
  void stopOnError(const char* format, ...) override {
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format ? format : "", args);
    va_end(args);
    errors.push_back(text);
    if (haltOnError) halted = 1;
  }
  std::vector<std::string> errors;
  bool haltOnError = true;  // off: every later report is seen too
};

using PackageFiles = std::vector<std::pair<std::string, std::string>>;

// A package of stored records (already unscrambled, as the file layer reads it).
inline CTRL_Package* makePackage(const PackageFiles& files) {
  std::string bytes;
  auto u16 = [&](uint32_t v) {
    bytes += char(v & 0xFF);
    bytes += char((v >> 8) & 0xFF);
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  for (const auto& [name, data] : files) {
    u32(0x04034b50);
    u16(10);
    u16(0);
    u16(0);  // stored
    u16(0);
    u16(0);
    u32(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size()))));
    u32(uint32_t(data.size()));
    u32(uint32_t(data.size()));
    u16(uint32_t(name.size()));
    u16(0);
    bytes += name;
    bytes += data;
  }
  bytes.append(128, '\0');  // signature block
  auto* p = new CTRL_Package();
  CTRL_iResizeByteBuffer(p, uint32_t(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), p->data);
  return p;
}

class ScriptRig {
 public:
  struct NoPackage {};
  ScriptRig() : ScriptRig(PackageFiles{}, true) {}
  ScriptRig(std::initializer_list<std::pair<std::string, std::string>> files) : ScriptRig(PackageFiles(files), true) {}
  explicit ScriptRig(NoPackage) : ScriptRig(PackageFiles{}, false) {}
  ScriptRig(const PackageFiles& files, bool withPackage) {
    engine = new LMP_Engine();
    controller = new TestController(engine);
    if (withPackage) controller->package = makePackage(files);
    L = engine->luaState();
  }
  ~ScriptRig() { delete controller; }  // the controller deletes the engine
  ScriptRig(const ScriptRig&) = delete;
  ScriptRig& operator=(const ScriptRig&) = delete;

  // Runs a chunk through the engine's protected call.
  bool run(const std::string& code, const char* chunk = "=test") {
    if (luaL_loadbuffer(L, code.data(), code.size(), chunk) != LUA_OK) {
      controller->errors.push_back(lua_tostring(L, -1));
      lua_pop(L, 1);
      return false;
    }
    return engine->protectedCall(0, 0);
  }
  // luaL_tolstring of a global (metamethods included), "nil" when unset.
  std::string global(const char* name) {
    lua_getglobal(L, name);
    std::string s = luaL_tolstring(L, -1, nullptr);
    lua_pop(L, 2);
    return s;
  }
  std::string firstError() const { return controller->errors.empty() ? "" : controller->errors.front(); }

  CTRL_DebugCapture log;
  LMP_Engine* engine;
  TestController* controller;
  lua_State* L;
};
