// Runs a fuzz target once on every file of the given corpus directories (or
// on the given files), so the corpus is replayed without libFuzzer.
// "--corpus DIR" names the committed corpus: it must exist and hold at least
// one input, or the replay fails. Other directories may be missing (seeds
// made at build time).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

static void runOne(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the file's size, so a sanitizer sees any overread.
  std::vector<uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
}

// Replays a directory or a file; answers how many inputs ran.
static size_t replay(const fs::path& arg) {
  std::error_code ec;
  size_t count = 0;
  if (fs::is_directory(arg, ec)) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(arg, ec))
      if (e.is_regular_file(ec)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
      runOne(f);
      count++;
    }
  } else if (fs::is_regular_file(arg, ec)) {
    runOne(arg);
    count++;
  }
  return count;
}

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  size_t count = 0;
  int status = 0;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--corpus") == 0 && i + 1 < argc) {
      size_t n = replay(argv[++i]);
      if (n == 0) {
        fprintf(stderr, "no committed corpus in %s\n", argv[i]);
        status = 1;
      }
      count += n;
    } else {
      count += replay(argv[i]);
    }
  }
  printf("replayed %zu inputs\n", count);
  return status;
}
