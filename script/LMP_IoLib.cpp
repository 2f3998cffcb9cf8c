// The io library on the file layer, print, the panic handler and the debug
// prompt. The player has no console: a script file handle is a CTRL_File, so
// scripts can read package entries and "//" disk files, and the standard
// outputs go to the debug log. The standard input offers no data.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <lua.hpp>

#include "package/CTRL_File.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_Library.h"

namespace {

const char* const kInput = "_IO_input";
const char* const kOutput = "_IO_output";
const size_t kPrefixLength = 4;  // "_IO_"

CTRL_File* const kStdin = CTRL_iStdHandle(1);

// The block of a script file object (metatable "FILE*"): the file and the
// function that closes it; a null close function marks a closed file.
struct Stream {
  CTRL_File* file;
  lua_CFunction close;
};

bool isStd(const CTRL_File* f) { return f == kStdin || CTRL_iIsStdHandle(f); }
bool isDisk(const CTRL_File* f) { return f && !isStd(f) && f->isDisk; }
bool isPackage(const CTRL_File* f) { return f && !isStd(f) && !f->isDisk; }

CTRL_File* openFile(lua_State* L, const char* name, const char* mode) {
  errno = 0;
  CTRL_File* f = CTRL_iFileOpen(LMP_iGetController(L), name, mode);
  if (!f && errno == 0) errno = ENOENT;  // a package miss sets no error number
  return f;
}

Stream* toStream(lua_State* L) { return static_cast<Stream*>(luaL_checkudata(L, 1, LUA_FILEHANDLE)); }

CTRL_File* toFile(lua_State* L) {
  Stream* p = toStream(L);
  if (!p->close) luaL_error(L, "attempt to use a closed file");
  return p->file;
}

Stream* newPreFile(lua_State* L) {
  auto* p = static_cast<Stream*>(lua_newuserdata(L, sizeof(Stream)));
  p->file = nullptr;
  p->close = nullptr;
  luaL_setmetatable(L, LUA_FILEHANDLE);
  return p;
}

int closeFile(lua_State* L) {
  Stream* p = toStream(L);
  int result = CTRL_iFileClose(p->file);
  p->file = nullptr;
  return luaL_fileresult(L, result == 0, nullptr);
}

Stream* newFile(lua_State* L) {
  Stream* p = newPreFile(L);
  p->close = &closeFile;
  return p;
}

void openCheckFile(lua_State* L, const char* name, const char* mode) {
  Stream* p = newFile(L);
  p->file = openFile(L, name, mode);
  if (!p->file) luaL_error(L, "cannot open file " LUA_QS " (%s)", name, strerror(errno));
}

int auxClose(lua_State* L) {
  Stream* p = toStream(L);
  lua_CFunction close = p->close;
  p->close = nullptr;
  return close(L);
}

int noClose(lua_State* L) {
  Stream* p = toStream(L);
  p->close = &noClose;  // standard files stay open
  lua_pushnil(L);
  lua_pushliteral(L, "cannot close standard file");
  return 2;
}

CTRL_File* getIoFile(lua_State* L, const char* key) {
  lua_getfield(L, LUA_REGISTRYINDEX, key);
  auto* p = static_cast<Stream*>(luaL_testudata(L, -1, LUA_FILEHANDLE));
  if (!p || !p->close) luaL_error(L, "standard %s file is closed", key + kPrefixLength);
  return p->file;
}

// ----- Reading ---------------------------------------------------------------

size_t readBytes(CTRL_File* f, void* dst, size_t n) { return isStd(f) ? 0 : CTRL_iFileRead(dst, 1, n, f); }

int peekByte(CTRL_File* f) {
  if (isDisk(f)) {
    int c = getc(f->diskFile);
    if (c != EOF) ungetc(c, f->diskFile);
    return c;
  }
  if (!isPackage(f)) return EOF;
  int c = CTRL_iFileGetc(f);
  if (c != EOF) CTRL_iFileSeek(f, -1, SEEK_CUR);
  return c;
}

int testEof(lua_State* L, CTRL_File* f) {
  lua_pushliteral(L, "");
  return peekByte(f) != EOF;
}

// Lines and numbers are read from disk files only; elsewhere nothing is read.
int readLine(lua_State* L, CTRL_File* f, int chop) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  if (!isDisk(f)) {
    luaL_pushresult(&b);
    return 0;
  }
  for (;;) {
    char* p = luaL_prepbuffer(&b);
    if (!fgets(p, LUAL_BUFFERSIZE, f->diskFile)) {
      luaL_pushresult(&b);
      return lua_rawlen(L, -1) > 0;
    }
    size_t l = strlen(p);
    if (l == 0 || p[l - 1] != '\n') {
      luaL_addsize(&b, l);
    } else {
      luaL_addsize(&b, l - size_t(chop));
      luaL_pushresult(&b);
      return 1;
    }
  }
}

int readNumber(lua_State* L, CTRL_File* f) {
  lua_Number d;
  if (isDisk(f) && fscanf(f->diskFile, LUA_NUMBER_SCAN, &d) == 1) {
    lua_pushnumber(L, d);
    return 1;
  }
  lua_pushnil(L);
  return 0;
}

void readAll(lua_State* L, CTRL_File* f) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  for (;;) {
    char* p = luaL_prepbuffer(&b);
    size_t n = readBytes(f, p, LUAL_BUFFERSIZE);
    luaL_addsize(&b, n);
    if (n < LUAL_BUFFERSIZE) break;
  }
  luaL_pushresult(&b);
}

// Reads in blocks, so a large count on a short file costs only what it reads.
int readChars(lua_State* L, CTRL_File* f, size_t n) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  size_t total = 0;
  while (n > 0) {
    size_t want = n < LUAL_BUFFERSIZE ? n : LUAL_BUFFERSIZE;
    char* p = luaL_prepbuffsize(&b, want);
    size_t got = readBytes(f, p, want);
    luaL_addsize(&b, got);
    total += got;
    n -= got;
    if (got < want) break;
  }
  luaL_pushresult(&b);
  return total > 0;
}

bool hasError(CTRL_File* f) { return isDisk(f) && ferror(f->diskFile); }

int gRead(lua_State* L, CTRL_File* f, int first) {
  int nargs = lua_gettop(L) - 1;
  int success;
  int n;
  if (isDisk(f)) clearerr(f->diskFile);
  if (nargs == 0) {
    success = readLine(L, f, 1);
    n = first + 1;
  } else {
    luaL_checkstack(L, nargs + LUA_MINSTACK, "too many arguments");
    success = 1;
    for (n = first; nargs-- && success; n++) {
      if (lua_type(L, n) == LUA_TNUMBER) {
        lua_Number count = lua_tonumber(L, n);
        size_t l = count >= 1 && count < double(SIZE_MAX / 2) ? size_t(count) : 0;
        success = l == 0 ? testEof(L, f) : readChars(L, f, l);
      } else {
        const char* p = lua_tostring(L, n);
        luaL_argcheck(L, p && p[0] == '*', n, "invalid option");
        switch (p[1]) {
          case 'n': success = readNumber(L, f); break;
          case 'l': success = readLine(L, f, 1); break;
          case 'L': success = readLine(L, f, 0); break;
          case 'a':
            readAll(L, f);
            success = 1;
            break;
          default: return luaL_argerror(L, n, "invalid format");
        }
      }
    }
  }
  if (hasError(f)) return luaL_fileresult(L, 0, nullptr);
  if (!success) {
    lua_pop(L, 1);
    lua_pushnil(L);
  }
  return n - first;
}

int ioRead(lua_State* L) { return gRead(L, getIoFile(L, kInput), 1); }
int fRead(lua_State* L) { return gRead(L, toFile(L), 2); }

int ioReadline(lua_State* L) {
  auto* p = static_cast<Stream*>(lua_touserdata(L, lua_upvalueindex(1)));
  int n = int(lua_tointeger(L, lua_upvalueindex(2)));
  if (!p->close) return luaL_error(L, "file is already closed");
  lua_settop(L, 1);
  for (int i = 1; i <= n; i++) lua_pushvalue(L, lua_upvalueindex(3 + i));
  n = gRead(L, p->file, 2);
  if (!lua_isnil(L, -n)) return n;
  if (n > 1) return luaL_error(L, "%s", lua_tostring(L, -n + 1));
  if (lua_toboolean(L, lua_upvalueindex(3))) {
    lua_settop(L, 0);
    lua_pushvalue(L, lua_upvalueindex(1));
    auxClose(L);
  }
  return 0;
}

void auxLines(lua_State* L, int toClose) {
  int n = lua_gettop(L) - 1;
  luaL_argcheck(L, n <= LUA_MINSTACK - 3, LUA_MINSTACK - 3, "too many arguments");
  lua_pushvalue(L, 1);
  lua_pushinteger(L, n);
  lua_pushboolean(L, toClose);
  for (int i = 1; i <= n; i++) lua_pushvalue(L, i + 1);
  lua_pushcclosure(L, ioReadline, 3 + n);
}

int fLines(lua_State* L) {
  toFile(L);
  auxLines(L, 0);
  return 1;
}

int ioLines(lua_State* L) {
  int toClose;
  if (lua_isnone(L, 1)) lua_pushnil(L);
  if (lua_isnil(L, 1)) {
    lua_getfield(L, LUA_REGISTRYINDEX, kInput);
    lua_replace(L, 1);
    toFile(L);
    toClose = 0;
  } else {
    const char* name = luaL_checkstring(L, 1);
    openCheckFile(L, name, "r");
    lua_replace(L, 1);
    toClose = 1;
  }
  auxLines(L, toClose);
  return 1;
}

// ----- Writing ---------------------------------------------------------------

bool writeText(CTRL_File* f, const char* s, size_t l) {
  if (CTRL_iIsStdHandle(f)) {
    CTRL_iFileWrite(s, 1, l, f);  // one debug-log piece, cut at 1,023 bytes
    return true;
  }
  if (!isDisk(f)) {
    errno = EBADF;
    return false;
  }
  return fwrite(s, 1, l, f->diskFile) == l;
}

int gWrite(lua_State* L, CTRL_File* f, int arg) {
  int nargs = lua_gettop(L) - arg;
  bool status = true;
  for (; nargs--; arg++) {
    if (lua_type(L, arg) == LUA_TNUMBER) {
      char number[64];
      int len = snprintf(number, sizeof number, LUA_NUMBER_FMT, lua_tonumber(L, arg));
      status = status && writeText(f, number, size_t(len));
    } else {
      size_t l;
      const char* s = luaL_checklstring(L, arg, &l);
      status = status && writeText(f, s, l);
    }
  }
  if (status) return 1;  // the file is on top
  return luaL_fileresult(L, 0, nullptr);
}

int ioWrite(lua_State* L) { return gWrite(L, getIoFile(L, kOutput), 1); }

int fWrite(lua_State* L) {
  CTRL_File* f = toFile(L);
  lua_pushvalue(L, 1);
  return gWrite(L, f, 2);
}

// ----- Other operations ------------------------------------------------------

int fSeek(lua_State* L) {
  static const int modes[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  static const char* const names[] = {"set", "cur", "end", nullptr};
  CTRL_File* f = toFile(L);
  int op = luaL_checkoption(L, 2, "cur", names);
  lua_Number p3 = luaL_optnumber(L, 3, 0);
  bool inRange = p3 >= double(LONG_MIN) && p3 < -double(LONG_MIN);
  long offset = inRange ? long(p3) : 0;
  luaL_argcheck(L, inRange && lua_Number(offset) == p3, 3, "not an integer in proper range");
  if (isDisk(f)) {
    if (fseek(f->diskFile, offset, modes[op])) return luaL_fileresult(L, 0, nullptr);
    lua_pushnumber(L, lua_Number(ftell(f->diskFile)));
    return 1;
  }
  if (!isPackage(f)) {
    errno = ESPIPE;
    return luaL_fileresult(L, 0, nullptr);
  }
  CTRL_iFileSeek(f, offset, modes[op]);  // clamped to the entry
  lua_pushnumber(L, lua_Number(f->position));
  return 1;
}

int fSetvbuf(lua_State* L) {
  static const char* const names[] = {"no", "full", "line", nullptr};
  toFile(L);
  luaL_checkoption(L, 2, nullptr, names);
  luaL_optinteger(L, 3, LUAL_BUFFERSIZE);
  lua_pushboolean(L, 1);  // buffering is the file layer's business
  return 1;
}

int flushFile(lua_State* L, CTRL_File* f) {
  if (isDisk(f)) return luaL_fileresult(L, fflush(f->diskFile) == 0, nullptr);
  lua_pushboolean(L, 1);
  return 1;
}

int ioFlush(lua_State* L) { return flushFile(L, getIoFile(L, kOutput)); }
int fFlush(lua_State* L) { return flushFile(L, toFile(L)); }

int ioClose(lua_State* L) {
  if (lua_isnone(L, 1)) lua_getfield(L, LUA_REGISTRYINDEX, kOutput);
  toFile(L);
  return auxClose(L);
}

int fGc(lua_State* L) {
  Stream* p = toStream(L);
  if (p->close && p->file) auxClose(L);
  return 0;
}

int fToString(lua_State* L) {
  Stream* p = toStream(L);
  if (!p->close)
    lua_pushliteral(L, "file (closed)");
  else
    lua_pushfstring(L, "file (%p)", static_cast<void*>(p->file));
  return 1;
}

int ioOpen(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  const char* mode = luaL_optstring(L, 2, "r");
  Stream* p = newFile(L);
  int i = 0;
  if (!(mode[i] != '\0' && strchr("rwa", mode[i++]) != nullptr && (mode[i] != '+' || ++i) &&
        (mode[i] != 'b' || ++i) && mode[i] == '\0'))
    return luaL_error(L, "invalid mode " LUA_QS " (should match " LUA_QL("[rwa]%%+?b?") ")", mode);
  p->file = openFile(L, name, mode);
  return p->file ? 1 : luaL_fileresult(L, 0, name);
}

// No process is ever started.
int ioPopen(lua_State* L) {
  const char* command = luaL_checkstring(L, 1);
  luaL_optstring(L, 2, "r");
  errno = ENOSYS;
  return luaL_fileresult(L, 0, command);
}

int ioTmpfile(lua_State* L) {
  Stream* p = newFile(L);
  FILE* stream = tmpfile();
  if (!stream) return luaL_fileresult(L, 0, nullptr);
  auto* f = new CTRL_File();
  f->diskFile = stream;
  f->isDisk = 1;
  f->controller = LMP_iGetController(L);
  p->file = f;
  return 1;
}

int ioType(lua_State* L) {
  luaL_checkany(L, 1);
  auto* p = static_cast<Stream*>(luaL_testudata(L, 1, LUA_FILEHANDLE));
  if (!p)
    lua_pushnil(L);
  else if (!p->close)
    lua_pushliteral(L, "closed file");
  else
    lua_pushliteral(L, "file");
  return 1;
}

int gIoFile(lua_State* L, const char* key, const char* mode) {
  if (!lua_isnoneornil(L, 1)) {
    const char* name = lua_tostring(L, 1);
    if (name) {
      openCheckFile(L, name, mode);
    } else {
      toFile(L);
      lua_pushvalue(L, 1);
    }
    lua_setfield(L, LUA_REGISTRYINDEX, key);
  }
  lua_getfield(L, LUA_REGISTRYINDEX, key);
  return 1;
}

int ioInput(lua_State* L) { return gIoFile(L, kInput, "r"); }
int ioOutput(lua_State* L) { return gIoFile(L, kOutput, "w"); }

const luaL_Reg kIoFunctions[] = {
    {"close", ioClose}, {"flush", ioFlush}, {"input", ioInput},   {"lines", ioLines},
    {"open", ioOpen},   {"output", ioOutput}, {"popen", ioPopen}, {"read", ioRead},
    {"tmpfile", ioTmpfile}, {"type", ioType}, {"write", ioWrite}, {nullptr, nullptr},
};

const luaL_Reg kFileMethods[] = {
    {"close", ioClose},     {"flush", fFlush}, {"lines", fLines},  {"read", fRead},
    {"seek", fSeek},        {"setvbuf", fSetvbuf}, {"write", fWrite}, {"__gc", fGc},
    {"__tostring", fToString}, {nullptr, nullptr},
};

void createStdFile(lua_State* L, CTRL_File* f, const char* key, const char* name) {
  Stream* p = newPreFile(L);
  p->file = f;
  p->close = &noClose;
  if (key) {
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_REGISTRYINDEX, key);
  }
  lua_setfield(L, -2, name);
}

// ----- print and the debug prompt ----------------------------------------------

int basePrint(lua_State* L) {
  int n = lua_gettop(L);
  lua_getglobal(L, "tostring");
  for (int i = 1; i <= n; i++) {
    lua_pushvalue(L, -1);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    const char* s = lua_tostring(L, -1);
    if (!s) return luaL_error(L, LUA_QL("tostring") " must return a string to " LUA_QL("print"));
    if (i > 1) CTRL_iDebugLogText("\t");
    CTRL_iDebugLogText(s);
    lua_pop(L, 1);
  }
  CTRL_iDebugLogText("\n");
  return 0;
}

// The standard input offers no data, so the prompt is shown and no command
// is ever read.
int debugPrompt(lua_State*) {
  CTRL_iDebugLogText("lua_debug> ");
  return 0;
}

}  // namespace

int LMP_iOpenIo(lua_State* L) {
  luaL_newlib(L, kIoFunctions);
  luaL_newmetatable(L, LUA_FILEHANDLE);
  lua_pushvalue(L, -1);
  lua_setfield(L, -2, "__index");
  luaL_setfuncs(L, kFileMethods, 0);
  lua_pop(L, 1);
  createStdFile(L, kStdin, kInput, "stdin");
  createStdFile(L, CTRL_FILE_STDOUT, kOutput, "stdout");
  createStdFile(L, CTRL_FILE_STDERR, nullptr, "stderr");
  return 1;
}

void LMP_iInstallOutput(lua_State* L) {
  lua_pushcfunction(L, basePrint);
  lua_setglobal(L, "print");
  lua_getglobal(L, LUA_DBLIBNAME);
  lua_pushcfunction(L, debugPrompt);
  lua_setfield(L, -2, "debug");
  lua_pop(L, 1);
}

int LMP_iPanic(lua_State* L) {
  const char* text = nullptr;
  int t = lua_type(L, -1);
  if (t == LUA_TSTRING || t == LUA_TNUMBER) text = lua_tostring(L, -1);
  CTRL_iDebugLog("PANIC: unprotected error in call to Lua API (%s)\n", text ? text : "");
  return 0;  // Lua then aborts, as stock Lua does
}
