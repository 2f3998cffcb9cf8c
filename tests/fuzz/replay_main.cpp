// Runs a fuzz target once on every file of the given corpus directories (or
// on the given files), so the corpus is replayed without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
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

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  size_t count = 0;
  for (int i = 1; i < argc; i++) {
    std::error_code ec;
    fs::path arg(argv[i]);
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
  }
  printf("replayed %zu inputs\n", count);
  return 0;
}
