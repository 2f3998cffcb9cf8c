// Loading a 27 MB package (unscrambling, MD5, RSA check, "config.xml" check)
// against `md5sum` of the same bytes, measured in the same run. The last
// line is `ratio R`: our time over md5sum's (the best run of each).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/CTRL_Array.h"
#include "controller/CTRL_Generic.h"
#include "controller/CTRL_ScriptEngine.h"
#include "halvorin_key.h"
#include "package/CTRL_PackageLoad.h"
#include "tests/package/null_engine.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const size_t kPackageBytes = 27u << 20;

fs::path g_dir;
fs::path g_package;
std::vector<uint8_t> g_bytes;
double g_bestOurs = 1e30, g_bestMd5sum = 1e30;

int run(const std::vector<std::string>& argv, bool quiet) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 26 files of incompressible bytes plus a config, packed by the tool.
bool makePackage() {
  g_dir = fs::temp_directory_path() / ("halvorin_bench_" + std::to_string(getpid()));
  fs::create_directories(g_dir / "content" / "media");
  uint32_t seed = 12345;
  std::vector<uint8_t> chunk(1u << 20);
  for (int i = 0; i < 26; i++) {
    for (uint8_t& b : chunk) {
      seed = seed * 1664525u + 1013904223u;
      b = uint8_t(seed >> 24);
    }
    FILE* f = fopen((g_dir / "content" / "media" / ("part" + std::to_string(i) + ".bin")).c_str(), "wb");
    if (!f) return false;
    fwrite(chunk.data(), 1, chunk.size(), f);
    fclose(f);
  }
  FILE* f = fopen((g_dir / "content" / "config.xml").c_str(), "w");
  if (!f) return false;
  fputs("<kolma>\n  <version major=\"1\" minor=\"6\" patch=\"4\"/>\n</kolma>\n", f);
  fclose(f);
  // Pad to the full size with one more file.
  std::vector<uint8_t> pad(kPackageBytes - 26 * chunk.size() - 4096, 'p');
  f = fopen((g_dir / "content" / "pad.txt").c_str(), "wb");
  if (!f) return false;
  fwrite(pad.data(), 1, pad.size(), f);
  fclose(f);
  g_package = g_dir / "bench.pkg";
  std::string tool = std::string(HALVORIN_BINARY_DIR) + "/tools/halvorin-pack/halvorin-pack";
  if (run({tool, "build", (g_dir / "content").string(), HALVORIN_KEY_FILE, "-o", g_package.string(), "--store"},
          false) != 0)
    return false;
  f = fopen(g_package.c_str(), "rb");
  if (!f) return false;
  g_bytes.resize(fs::file_size(g_package));
  bool ok = fread(g_bytes.data(), 1, g_bytes.size(), f) == g_bytes.size();
  fclose(f);
  return ok;
}

void BM_md5sum(benchmark::State& state) {
  run({"md5sum", g_package.string()}, true);  // warm the page cache
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (run({"md5sum", g_package.string()}, true) != 0) {
      state.SkipWithError("md5sum failed");
      return;
    }
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    g_bestMd5sum = std::min(g_bestMd5sum, s);
    state.SetIterationTime(s);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_bytes.size()));
}

void BM_loadPackage(benchmark::State& state) {
  for (auto _ : state) {
    CTRL_Generic controller(new NullEngine);  // the controller deletes its engine
    CTRL_Package* pkg = new CTRL_Package();
    CTRL_iResizeByteBuffer(pkg, uint32_t(g_bytes.size()));
    memcpy(pkg->data, g_bytes.data(), g_bytes.size());
    auto t0 = Clock::now();
    bool ok = CTRL_iLoadPackage(&controller, pkg);
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!ok || controller.halted) {
      state.SkipWithError("the package was refused");
      return;
    }
    g_bestOurs = std::min(g_bestOurs, s);
    state.SetIterationTime(s);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_bytes.size()));
}

BENCHMARK(BM_md5sum)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_loadPackage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!makePackage()) {
    fprintf(stderr, "bench_package_load: could not make the package\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(g_dir, ec);
  printf("package %zu bytes: load %.2f ms, md5sum %.2f ms (best runs)\n", g_bytes.size(), g_bestOurs * 1e3,
         g_bestMd5sum * 1e3);
  printf("ratio %.3f\n", g_bestOurs / g_bestMd5sum);
  return 0;
}
