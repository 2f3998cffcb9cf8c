// halvorin-pack: the content author's tool. Makes signing keys, builds
// signed, scrambled packages from a directory, and puts a package into a
// built player.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pack.h"

namespace {

const char kUsage[] =
    "usage: halvorin-pack COMMAND ...\n"
    "\n"
    "  keygen KEYFILE\n"
    "      Make a new RSA key pair (1024-bit modulus, exponent 65537) and write it\n"
    "      to KEYFILE. The file holds the private half: keep it to yourself.\n"
    "\n"
    "  build DIR KEYFILE -o PACKAGE [--store]\n"
    "      Pack every file under DIR, named by its path relative to DIR, sign the\n"
    "      package with KEYFILE and write it scrambled to PACKAGE. Files are\n"
    "      deflated unless --store is given or deflating does not make them smaller.\n"
    "\n"
    "  embed PLAYER PACKAGE -o OUTPUT\n"
    "      Write a copy of the player executable PLAYER that carries PACKAGE as its\n"
    "      content (replacing the one it carried).\n"
    "\n"
    "A player accepts only packages signed with the key it was built for\n"
    "(the CMake option HALVORIN_KEY).\n";

int fail(const std::string& message) {
  fprintf(stderr, "halvorin-pack: %s\n", message.c_str());
  return 1;
}

int usageError(const std::string& message) {
  fprintf(stderr, "halvorin-pack: %s (see halvorin-pack --help)\n", message.c_str());
  return 2;
}

// Splits the arguments into positionals, "-o VALUE" and the given flags.
bool parse(const std::vector<std::string>& args, std::vector<std::string>* pos, std::string* output,
           bool* store, bool allowStore, std::string* error) {
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    if (a == "-o") {
      if (i + 1 >= args.size()) return (*error = "-o needs a file name"), false;
      *output = args[++i];
    } else if (allowStore && a == "--store") {
      *store = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return (*error = "unknown option " + a), false;
    } else {
      pos->push_back(a);
    }
  }
  return true;
}

int keygen(const std::vector<std::string>& args) {
  if (args.size() != 1) return usageError("keygen takes one KEYFILE");
  PackKey key;
  std::string error;
  if (!PACK_generateKey(&key, &error) || !PACK_writeKey(args[0], key, &error)) return fail(error);
  chmod(args[0].c_str(), 0600);  // it holds the private half
  return 0;
}

int build(const std::vector<std::string>& args) {
  std::vector<std::string> pos;
  std::string output, error;
  bool store = false;
  if (!parse(args, &pos, &output, &store, true, &error)) return usageError(error);
  if (pos.size() != 2 || output.empty()) return usageError("build takes DIR KEYFILE -o PACKAGE");
  PackKey key;
  std::vector<PackEntry> entries;
  PackBytes records, package;
  if (!PACK_collectDirectory(pos[0], &entries, &error)) return fail(error);
  if (!PACK_readKey(pos[1], &key, &error)) return fail(error);
  if (!PACK_makeRecords(entries, store, &records, &error)) return fail(error);
  if (!PACK_sealPackage(records, key, &package, &error)) return fail(error);
  if (!PACK_writeFile(output, package, false, &error)) return fail(error);
  // A player refuses a package without its version file and stops at once
  // without its entry script: say so while the author can still fix it.
  for (const char* needed : {"config.xml", "init.lua"}) {
    bool found = false;
    for (const PackEntry& e : entries) found = found || e.name == needed;
    if (!found)
      fprintf(stderr, "halvorin-pack: warning: %s holds no %s; the player will not play this package\n",
              pos[0].c_str(), needed);
  }
  return 0;
}

int embed(const std::vector<std::string>& args) {
  std::vector<std::string> pos;
  std::string output, error;
  bool store = false;
  if (!parse(args, &pos, &output, &store, false, &error)) return usageError(error);
  if (pos.size() != 2 || output.empty()) return usageError("embed takes PLAYER PACKAGE -o OUTPUT");
  PackBytes player, package, out;
  if (!PACK_readFile(pos[0], &player, &error)) return fail(error);
  if (!PACK_readFile(pos[1], &package, &error)) return fail(error);
  if (package.size() < 128) return fail(pos[1] + ": not a package (shorter than its signature)");
  if (!PACK_embed(player, package, &out, &error)) return fail(error);
  if (!PACK_writeFile(output, out, true, &error)) return fail(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string cmd = args[0];
  args.erase(args.begin());
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    fputs(kUsage, stdout);
    return 0;
  }
  if (cmd == "keygen") return keygen(args);
  if (cmd == "build") return build(args);
  if (cmd == "embed") return embed(args);
  return usageError("unknown command '" + cmd + "'");
}
