// Loading a 27 MB package (unscrambling, MD5, RSA check, "config.xml" check)
// against OpenSSL's MD5 of the same bytes already in memory, the sides
// alternating in the same run. Also shows our MD5 alone against OpenSSL's.
// The last line is `ratio R`: load time over OpenSSL's MD5 (fastest runs).
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

#include <openssl/evp.h>

#include "base/CTRL_Array.h"
#include "bench/bench_ratio.h"
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

// Whole-buffer MD5 through OpenSSL, on the same bytes already in memory.
void BM_OpenSslMd5(benchmark::State& state) {
  for (auto _ : state) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    auto t0 = Clock::now();
    int ok = EVP_Digest(g_bytes.data(), g_bytes.size(), digest, &n, EVP_md5(), nullptr);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    if (!ok) {
      state.SkipWithError("EVP_Digest failed");
      return;
    }
    benchmark::DoNotOptimize(digest[0]);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_bytes.size()));
}

// Our MD5 alone over the same bytes (no unscrambling): shows the rounds.
void BM_OurMd5(benchmark::State& state) {
  for (auto _ : state) {
    CTRL_MD5Context ctx;
    auto t0 = Clock::now();
    CTRL_iMD5Init(&ctx);
    CTRL_iMD5Update(&ctx, g_bytes.data(), g_bytes.size());
    CTRL_iMD5Final(&ctx);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    benchmark::DoNotOptimize(ctx.digest[0]);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_bytes.size()));
}

// The load works in place, so each iteration gets a fresh copy (not timed).
void BM_LoadPackage(benchmark::State& state) {
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
    state.SetIterationTime(s);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  bench_ratio::Reporter reporter;
  bench_ratio::initialize(&argc, argv, reporter);
  if (!makePackage()) {
    fprintf(stderr, "bench_package_load: could not make the package\n");
    return 1;
  }
  auto config = [](benchmark::internal::Benchmark* b) {
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
  };
  bench_ratio::alternate(6,
                         {{"BM_OpenSslMd5", BM_OpenSslMd5},
                          {"BM_OurMd5", BM_OurMd5},
                          {"BM_LoadPackage", BM_LoadPackage}},
                         config);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(g_dir, ec);
  printf("package %zu bytes: load %.2f ms, our MD5 %.2f ms, OpenSSL MD5 %.2f ms (fastest runs)\n", g_bytes.size(),
         reporter.best("BM_LoadPackage") * 1e3, reporter.best("BM_OurMd5") * 1e3,
         reporter.best("BM_OpenSslMd5") * 1e3);
  printf("MD5 alone: %.3f\n", reporter.ratio("BM_OurMd5", "BM_OpenSslMd5"));
  return bench_ratio::finish(reporter.ratio("BM_LoadPackage", "BM_OpenSslMd5"));
}
