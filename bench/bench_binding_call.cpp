// A script calling a bound global with one number argument (isKeyPressed)
// a million times, against the same loop calling a bare lua_CFunction that
// reads its argument with luaL_checknumber. Prints "ratio R": bound over bare,
// in CPU time (the machine is shared, so wall time is noisy).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "script/LMP_Engine.h"

namespace {

int bare(lua_State* L) {
  lua_pushboolean(L, luaL_checknumber(L, 1) > 1e300);
  return 1;
}

struct Rig {
  Rig() : engine(new LMP_Engine()), controller(engine) {
    L = engine->luaState();
    lua_register(L, "bare", bare);
    luaL_loadstring(L, "local f = isKeyPressed for i = 1, 1000000 do f(65) end");
    bound = luaL_ref(L, LUA_REGISTRYINDEX);
    luaL_loadstring(L, "local f = bare for i = 1, 1000000 do f(65) end");
    baseline = luaL_ref(L, LUA_REGISTRYINDEX);
  }
  void run(int ref) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    if (lua_pcall(L, 0, 0, 0) != LUA_OK) {
      std::printf("%s\n", lua_tostring(L, -1));
      lua_pop(L, 1);
    }
  }
  LMP_Engine* engine;
  CTRL_Generic controller;  // deletes the engine
  lua_State* L;
  int bound, baseline;
};

Rig& rig() {
  static Rig* r = new Rig();
  return *r;
}

void BM_BareCall(benchmark::State& state) {
  for (auto _ : state) rig().run(rig().baseline);
}

void BM_BoundCall(benchmark::State& state) {
  for (auto _ : state) rig().run(rig().bound);
}

BENCHMARK(BM_BareCall)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_BoundCall)->Unit(benchmark::kMillisecond)->MinTime(0.5);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.iterations > 0 && !r.error_occurred) seconds[r.benchmark_name()] = r.GetAdjustedCPUTime();
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double bareTime = 0, boundTime = 0;
  for (auto& kv : reporter.seconds) {
    if (kv.first.rfind("BM_BareCall", 0) == 0) bareTime = kv.second;
    if (kv.first.rfind("BM_BoundCall", 0) == 0) boundTime = kv.second;
  }
  if (bareTime <= 0 || boundTime <= 0) {
    std::printf("ratio nan\n");
    return 1;
  }
  std::printf("ratio %.3f\n", boundTime / bareTime);
  return 0;
}
