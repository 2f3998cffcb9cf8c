// Chunk loading and module search on the file layer: scripts live in the
// content package, so loadfile, dofile and require read through CTRL_File.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include "package/CTRL_File.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_Library.h"

namespace {

const char* const kDefaultPath = "./?.lua";
const char* const kPackageConfig = "/\n;\n?\n!\n-\n";

// Reader state: the file, and a few bytes read ahead while skipping the
// byte-order mark and the "#" line.
struct LoadSource {
  CTRL_File* file;  // null: the standard input, which offers no data
  int pending;
  char ahead[4];
  char block[512];
};

int readChar(LoadSource* s) { return s->file ? CTRL_iFileGetc(s->file) : EOF; }

// Skips a UTF-8 byte-order mark; a partial mark stays as data.
int skipMark(LoadSource* s) {
  static const unsigned char mark[] = {0xEF, 0xBB, 0xBF};
  s->pending = 0;
  for (unsigned char m : mark) {
    int c = readChar(s);
    if (c == EOF || c != m) return c;
    s->ahead[s->pending++] = char(c);
  }
  s->pending = 0;
  return readChar(s);
}

// Skips a first line beginning with "#"; answers whether it did (its
// newline is then handed to the parser to keep the line numbers).
bool skipComment(LoadSource* s, int* first) {
  int c = *first = skipMark(s);
  if (c != '#') return false;
  do c = readChar(s);
  while (c != EOF && c != '\n');
  *first = readChar(s);
  return true;
}

const char* readBlock(lua_State*, void* data, size_t* size) {
  auto* s = static_cast<LoadSource*>(data);
  if (s->pending > 0) {
    *size = size_t(s->pending);
    s->pending = 0;
    return s->ahead;
  }
  if (!s->file) return nullptr;
  *size = CTRL_iFileRead(s->block, 1, sizeof s->block, s->file);
  return *size > 0 ? s->block : nullptr;
}

int fileError(lua_State* L, const char* what, int nameIndex) {
  const char* reason = strerror(errno);
  const char* name = lua_tostring(L, nameIndex) + 1;
  lua_pushfstring(L, "cannot %s %s: %s", what, name, reason);
  lua_remove(L, nameIndex);
  return LUA_ERRFILE;
}

// Opens through the file layer; a miss that left no error number reports
// "No such file or directory" rather than "Success".
CTRL_File* openFile(lua_State* L, const char* name, const char* mode) {
  errno = 0;
  CTRL_File* f = CTRL_iFileOpen(LMP_iGetController(L), name, mode);
  if (!f && errno == 0) errno = ENOENT;
  return f;
}

bool readable(lua_State* L, const char* name) {
  CTRL_File* f = openFile(L, name, "r");
  if (!f) return false;
  CTRL_iFileClose(f);
  return true;
}

// package.searchpath without its argument checks; pushes the found name or
// the list of tried candidates.
const char* searchPath(lua_State* L, const char* name, const char* path, const char* sep, const char* dirsep) {
  luaL_Buffer msg;
  luaL_buffinit(L, &msg);
  if (*sep != '\0') name = luaL_gsub(L, name, sep, dirsep);
  for (;;) {
    while (*path == ';') ++path;
    if (*path == '\0') break;
    const char* end = strchr(path, ';');
    if (!end) end = path + strlen(path);
    lua_pushlstring(L, path, size_t(end - path));
    path = end;
    const char* candidate = luaL_gsub(L, lua_tostring(L, -1), "?", name);
    lua_remove(L, -2);
    if (readable(L, candidate)) return candidate;
    lua_pushfstring(L, "\n\tno file " LUA_QS, candidate);
    lua_remove(L, -2);
    luaL_addvalue(&msg);
  }
  luaL_pushresult(&msg);
  return nullptr;
}

int packageSearchPath(lua_State* L) {
  const char* found = searchPath(L, luaL_checkstring(L, 1), luaL_checkstring(L, 2), luaL_optstring(L, 3, "."),
                                 luaL_optstring(L, 4, "/"));
  if (found) return 1;
  lua_pushnil(L);
  lua_insert(L, -2);
  return 2;
}

// The Lua searcher of require: upvalue 1 is the package table.
int searcherLua(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  lua_getfield(L, lua_upvalueindex(1), "path");
  const char* path = lua_tostring(L, -1);
  if (!path) luaL_error(L, LUA_QL("package.%s") " must be a string", "path");
  const char* filename = searchPath(L, name, path, ".", "/");
  if (!filename) return 1;  // the list of candidates
  if (LMP_iLoadFileX(L, filename, nullptr) != LUA_OK)
    return luaL_error(L, "error loading module " LUA_QS " from file " LUA_QS ":\n\t%s", lua_tostring(L, 1),
                      filename, lua_tostring(L, -1));
  lua_pushstring(L, filename);
  return 2;
}

int loadAux(lua_State* L, int status, int env) {
  if (status == LUA_OK) {
    if (env != 0) {
      lua_pushvalue(L, env);
      if (!lua_setupvalue(L, -2, 1)) lua_pop(L, 1);
    }
    return 1;
  }
  lua_pushnil(L);
  lua_insert(L, -2);
  return 2;
}

int baseLoadFile(lua_State* L) {
  const char* name = luaL_optstring(L, 1, nullptr);
  const char* mode = luaL_optstring(L, 2, nullptr);
  int env = !lua_isnone(L, 3) ? 3 : 0;
  return loadAux(L, LMP_iLoadFileX(L, name, mode), env);
}

int doFileContinue(lua_State* L) { return lua_gettop(L) - 1; }

int baseDoFile(lua_State* L) {
  const char* name = luaL_optstring(L, 1, nullptr);
  lua_settop(L, 1);
  if (LMP_iLoadFileX(L, name, nullptr) != LUA_OK) return lua_error(L);
  lua_callk(L, 0, LUA_MULTRET, 0, doFileContinue);
  return doFileContinue(L);
}

// Binary chunks are refused wherever they come from but the package: the
// virtual machine does not verify precompiled code, and a damaged chunk can
// hang or crash it. The refusal reads as stock Lua's for a mode without "b":
// the mode shown is the one asked for, less its "b".
int refuseBinary(lua_State* L, const char* mode) {
  luaL_Buffer text;
  luaL_buffinit(L, &text);
  for (const char* c = mode ? mode : "bt"; *c; ++c)
    if (*c != 'b') luaL_addchar(&text, *c);
  luaL_pushresult(&text);
  lua_pushfstring(L, "attempt to load a binary chunk (mode is " LUA_QS ")", lua_tostring(L, -1));
  lua_remove(L, -2);
  return LUA_ERRSYNTAX;
}

bool isBinary(const char* s, size_t n) { return n > 0 && s[0] == LUA_SIGNATURE[0]; }

// Stock load's stack slot for the last piece of a reader function.
const int kReservedSlot = 5;

struct PieceReader {
  const char* mode;
  bool first;
};

// Stock load's reader over a script function, which also refuses a chunk
// whose first piece begins as a binary one (the parser decides on that byte).
const char* functionReader(lua_State* L, void* data, size_t* size) {
  auto* r = static_cast<PieceReader*>(data);
  luaL_checkstack(L, 2, "too many nested functions");
  lua_pushvalue(L, 1);
  lua_call(L, 0, 1);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    *size = 0;
    return nullptr;
  }
  if (!lua_isstring(L, -1)) luaL_error(L, "reader function must return a string");
  lua_replace(L, kReservedSlot);
  const char* piece = lua_tolstring(L, kReservedSlot, size);
  if (r->first && *size > 0) {
    r->first = false;
    if (isBinary(piece, *size)) {
      refuseBinary(L, r->mode);
      lua_error(L);
    }
  }
  return piece;
}

// load (and its old name loadstring, the same function): stock Lua's in
// every argument and result, but text only.
int baseLoad(lua_State* L) {
  size_t n;
  const char* s = lua_tolstring(L, 1, &n);
  const char* mode = luaL_optstring(L, 3, "bt");
  int env = !lua_isnone(L, 4) ? 4 : 0;
  int status;
  if (s) {
    const char* chunkname = luaL_optstring(L, 2, s);
    status = isBinary(s, n) ? refuseBinary(L, mode) : luaL_loadbufferx(L, s, n, chunkname, mode);
  } else {
    const char* chunkname = luaL_optstring(L, 2, "=(load)");
    luaL_checktype(L, 1, LUA_TFUNCTION);
    lua_settop(L, kReservedSlot);
    PieceReader reader{mode, true};
    status = lua_load(L, functionReader, &reader, chunkname, mode);
  }
  return loadAux(L, status, env);
}

// package.path: the default, or LUA_PATH_5_2 / LUA_PATH with ";;" standing
// for the default.
void setPath(lua_State* L) {
  const char* env = getenv("LUA_PATH_5_2");
  if (!env) env = getenv("LUA_PATH");
  if (!env) {
    lua_pushstring(L, kDefaultPath);
  } else {
    const char* withMark = luaL_gsub(L, env, ";;", ";\1;");
    luaL_gsub(L, withMark, "\1", kDefaultPath);
    lua_remove(L, -2);
  }
  lua_setfield(L, -2, "path");
}

}  // namespace

int LMP_iLoadFileX(lua_State* L, const char* filename, const char* mode) {
  LoadSource s;
  s.pending = 0;
  int nameIndex = lua_gettop(L) + 1;
  if (!filename) {
    lua_pushliteral(L, "=stdin");
    s.file = nullptr;
  } else {
    lua_pushfstring(L, "@%s", filename);
    s.file = openFile(L, filename, "r");
    if (!s.file) return fileError(L, "open", nameIndex);
  }
  int c;
  if (skipComment(&s, &c)) s.ahead[s.pending++] = '\n';
  if (c == LUA_SIGNATURE[0] && filename) {
    // A precompiled chunk. A package entry cannot be reopened in binary
    // mode; a disk file may hold anything a script or someone else left
    // there, so it loads as text only.
    bool disk = s.file->isDisk;
    CTRL_iFileClose(s.file);
    if (!disk) {
      errno = EPERM;
      return fileError(L, "reopen", nameIndex);
    }
    refuseBinary(L, mode);
    lua_remove(L, nameIndex);
    return LUA_ERRSYNTAX;
  }
  if (c != EOF) s.ahead[s.pending++] = char(c);
  int status = lua_load(L, readBlock, &s, lua_tostring(L, -1), mode);
  bool readFailed = s.file && s.file->isDisk && ferror(s.file->diskFile);
  if (s.file) CTRL_iFileClose(s.file);
  if (readFailed) {
    lua_settop(L, nameIndex);
    return fileError(L, "read", nameIndex);
  }
  lua_remove(L, nameIndex);
  return status;
}

void LMP_iInstallLoader(lua_State* L) {
  lua_pushcfunction(L, baseLoadFile);
  lua_setglobal(L, "loadfile");
  lua_pushcfunction(L, baseDoFile);
  lua_setglobal(L, "dofile");
  lua_getglobal(L, "loadstring");
  bool oldName = !lua_isnil(L, -1);
  lua_pop(L, 1);
  lua_pushcfunction(L, baseLoad);
  if (oldName) {
    lua_pushvalue(L, -1);
    lua_setglobal(L, "loadstring");
  }
  lua_setglobal(L, "load");

  lua_getglobal(L, LUA_LOADLIBNAME);
  setPath(L);
  lua_pushliteral(L, "");
  lua_setfield(L, -2, "cpath");
  lua_pushstring(L, kPackageConfig);
  lua_setfield(L, -2, "config");
  lua_pushcfunction(L, packageSearchPath);
  lua_setfield(L, -2, "searchpath");
  lua_getfield(L, -1, "searchers");
  lua_pushvalue(L, -2);
  lua_pushcclosure(L, searcherLua, 1);
  lua_rawseti(L, -2, 2);
  lua_pop(L, 2);
}
