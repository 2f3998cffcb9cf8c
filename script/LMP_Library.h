// The player's own parts of the Lua libraries and the flat script API,
// installed by the engine while it sets up a state.
#pragma once

struct lua_State;

// The io library on the file layer (opened in the io slot of the standard
// libraries).
int LMP_iOpenIo(lua_State* L);
// print, the debug prompt: to the debug log.
void LMP_iInstallOutput(lua_State* L);
// loadfile, dofile, package.searchpath and the Lua searcher on the file
// layer; the package settings.
void LMP_iInstallLoader(lua_State* L);
// The panic handler: logs the error; Lua then ends the program.
int LMP_iPanic(lua_State* L);

// Loads a chunk through the file layer: a package entry, or a "//" disk
// file; no name reads the standard input, which has no data. Leaves the
// chunk or the error message; answers the Lua load status.
int LMP_iLoadFileX(lua_State* L, const char* filename, const char* mode);

// The constants, INFINITE_PLUS/INFINITE_MINUS, the global functions and the
// OBJECT_ constants, in that order.
void LMP_iOpenGlobals(lua_State* L);

class CTRL_Generic;
struct v3;
// The pointer mapped into the current viewport's scene; false (out left
// alone) without a current viewport.
bool LMP_iSceneMouse(CTRL_Generic* controller, v3& out);
