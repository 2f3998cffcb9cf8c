// Writes seed inputs for the package fuzz target: packages of the shapes the
// reader meets, both as unscrambled record runs and as signed, scrambled
// packages (the target reads every input both ways).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "halvorin_key.h"
#include "pack.h"

namespace fs = std::filesystem;

namespace {

PackBytes bytesOf(const std::string& s) { return PackBytes(s.begin(), s.end()); }

const std::string kConfig = "<kolma>\n  <version major=\"1\" minor=\"6\" patch=\"4\"/>\n</kolma>\n";

bool write(const fs::path& path, const PackBytes& data) {
  std::string error;
  if (PACK_writeFile(path.string(), data, false, &error)) return true;
  fprintf(stderr, "make_fuzz_seeds: %s\n", error.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  fs::path dir = fs::path(argv[1]) / "package";
  std::error_code ec;
  fs::create_directories(dir, ec);

  struct Seed {
    const char* name;
    std::vector<PackEntry> entries;
    bool store;
  };
  std::vector<Seed> seeds = {
      {"stored", {{"config.xml", bytesOf(kConfig)}, {"init.lua", bytesOf("print('hi')\n")}}, true},
      {"deflated", {{"config.xml", bytesOf(kConfig + std::string(200, ' '))}, {"data/a.txt", bytesOf(std::string(300, 'a'))}}, false},
      {"nerl", {{"config.xml", bytesOf("<nerl><version major=\"0\" minor=\"9\" patch=\"9\"/></nerl>\n")}}, true},
      {"newer", {{"config.xml", bytesOf("<kolma><version major=\"1\" minor=\"6\" patch=\"5\"/></kolma>\n")}}, true},
      {"no_newline", {{"config.xml", bytesOf("<kolma><version/></kolma>")}}, true},
      {"empty_config", {{"config.xml", PackBytes()}}, true},
      {"broken_xml", {{"config.xml", bytesOf("<kolma><version major=\"1\"></kolma>\n")}}, true},
  };
  PackKey key;
  std::string error;
  if (!PACK_readKey(HALVORIN_KEY_FILE, &key, &error)) {
    fprintf(stderr, "make_fuzz_seeds: %s\n", error.c_str());
    return 1;
  }
  for (const Seed& s : seeds) {
    PackBytes records, package;
    if (!PACK_makeRecords(s.entries, s.store, &records, &error) || !PACK_sealPackage(records, key, &package, &error)) {
      fprintf(stderr, "make_fuzz_seeds: %s\n", error.c_str());
      return 1;
    }
    PackBytes plain = records;
    plain.insert(plain.end(), package.end() - 128, package.end());
    if (!write(dir / (std::string(s.name) + ".records"), plain) || !write(dir / (std::string(s.name) + ".pkg"), package))
      return 1;
  }
  // A record with an unknown compression method.
  PackBytes odd;
  PACK_appendRecord(&odd, "config.xml", 12, bytesOf(kConfig), uint32_t(kConfig.size()));
  odd.insert(odd.end(), 128, 0);
  return write(dir / "bad_method.records", odd) ? 0 : 1;
}
