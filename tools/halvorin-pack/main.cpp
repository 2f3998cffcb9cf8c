// halvorin-pack: the content author's tool. Makes signing keys, builds
// signed, scrambled packages from a directory, and puts a package into a
// built player.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <algorithm>
#include <vector>

#include <lua.hpp>

#include "package/CTRL_Embedded.h"
#include "package/CTRL_PackageLoad.h"
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

void warn(const std::string& message) { fprintf(stderr, "halvorin-pack: warning: %s\n", message.c_str()); }

const PackEntry* findEntry(const std::vector<PackEntry>& entries, const char* name) {
  for (const PackEntry& e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

// The player's own version check, on the text it would read.
void checkConfig(const PackEntry& config) {
  std::string text(config.data.begin(), config.data.end());
  int32_t version[3] = {0, 0, 0};
  int line;
  const char* reason = "";
  std::string where = "config.xml";
  switch (CTRL_iCheckConfigText(text.c_str(), version, &line)) {
    case CTRL_CONFIG_OK:
      return;
    case CTRL_CONFIG_UNREADABLE:
      reason = "is not well-formed XML";
      break;
    case CTRL_CONFIG_NO_VERSION:
      reason = "has no <version> element under <kolma>";
      break;
    case CTRL_CONFIG_TOO_NEW: {
      char says[160];
      snprintf(says, sizeof says, "asks for version %d.%d.%d; this player plays up to %d.%d.%d", version[0],
               version[1], version[2], CTRL_CONFIG_NEWEST[0], CTRL_CONFIG_NEWEST[1], CTRL_CONFIG_NEWEST[2]);
      warn(where + ":" + std::to_string(line) + ": " + says + ", so it will not play this package");
      return;
    }
  }
  if (line > 0) where += ":" + std::to_string(line);
  warn(where + ": " + reason + ", so the player will not play this package");
}

// Compiles init.lua as the player does: a byte-order mark and a first line
// beginning with "#" are skipped (the line's end kept for the numbering), and
// only a text chunk is taken from the package.
void checkInitScript(const PackEntry& init) {
  std::string text(init.data.begin(), init.data.end());
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  if (!text.empty() && text[0] == '#') text.erase(0, std::min(text.find('\n'), text.size()));
  lua_State* L = luaL_newstate();
  if (!L) return;
  if (luaL_loadbufferx(L, text.data(), text.size(), "@init.lua", "t") != LUA_OK) {
    const char* message = lua_tostring(L, -1);
    warn(std::string(message ? message : "init.lua: does not compile") + " (init.lua does not compile)");
  }
  lua_close(L);
}

// A player executable carries a mark that no other file has. The tool keeps
// the mark's bytes inverted, so that it does not pass for a player itself.
struct InvertedMark {
  char bytes[sizeof CTRL_PLAYER_MARK - 1] = {};
  constexpr InvertedMark() {
    for (size_t i = 0; i < sizeof bytes; i++) bytes[i] = char(~CTRL_PLAYER_MARK[i]);
  }
};
constexpr InvertedMark kInvertedMark;

bool looksLikePlayer(const PackBytes& file) {
  std::string mark;
  for (char c : kInvertedMark.bytes) mark += char(~c);
  std::string_view bytes(reinterpret_cast<const char*>(file.data()), file.size());
  return bytes.rfind("\x7f" "ELF", 0) == 0 && bytes.find(mark) != std::string_view::npos;
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
    if (!findEntry(entries, needed))
      fprintf(stderr, "halvorin-pack: warning: %s holds no %s; the player will not play this package\n",
              pos[0].c_str(), needed);
  }
  if (const PackEntry* config = findEntry(entries, "config.xml")) checkConfig(*config);
  if (const PackEntry* init = findEntry(entries, "init.lua")) checkInitScript(*init);
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
  if (!looksLikePlayer(player)) return fail(pos[0] + ": not a player executable (build/halvorin or a copy of it)");
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
