// The script engine: one Lua 5.2 state per controller, filled with the whole
// script API, started on the first frame and fed the per-tick update, the
// aspect changes and the input events.
//
// Every call into script code goes through protectedCall, which turns a
// script error into the controller's error stop. Lua errors raised in native
// code unwind as C++ exceptions (the C++ build of Lua), so destructors run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "controller/CTRL_ScriptEngine.h"
#include "script/LMP_Proxy.h"

struct lua_State;

// Kept with the Lua state (as its allocator's user data), shared by every
// coroutine of it: the chunk loader, the module search, the io library and
// the error reporter reach the controller through it. The controller is null
// until attachController.
// It also keeps the state's heap account: every block the allocator hands
// out counts, and growing past the limit fails like exhausted memory (a
// memory error in the running script, never the machine's memory).
struct LMP_GlobalStateExtra {
  CTRL_Generic* controller = nullptr;
  LMP_Engine* engine = nullptr;
  size_t heapUsed = 0;
  size_t heapLimit = 0;  // 0 until the engine sets it: no limit
  bool interrupted = false;  // the program asked the running script to stop
};

// Asked every LMP_INTERRUPT_COUNT instructions while a script runs: true
// when the program wants to quit (the user asked it to while the script
// kept the window's thread). The running script then fails with an error,
// and so does every instruction after it, so that no pcall in the script
// can hold on. Null: scripts are never interrupted. Set by the shell.
extern bool (*LMP_gInterruptCheck)();
constexpr int LMP_INTERRUPT_COUNT = 1000000;

// The script heap limit of a new engine: 1 GiB, or half the machine's
// memory when that is less.
size_t LMP_iDefaultHeapLimit();

class LMP_Engine : public CTRL_ScriptEngine {
 public:
  LMP_Engine();
  ~LMP_Engine() override;
  LMP_Engine(const LMP_Engine&) = delete;
  LMP_Engine& operator=(const LMP_Engine&) = delete;

  bool handleEvent(const CTRL_Event* event) override;
  void update(double dt) override;
  void aspectRatioChanged(double ratio) override;
  bool start() override;
  void registerModule(const CTRL_ScriptModule* module, void* context) override;
  void setGlobal(const char* name, const CTRL_Variant* value) override;
  bool getGlobal(const char* name, CTRL_Variant* out) override;
  bool callFunction(const char* name, const CTRL_Array<CTRL_Variant*>* args, CTRL_Variant* result) override;
  void collectGarbage() override;
  void attachController(CTRL_Generic* controller) override;

  // Calls the function below nargs arguments on the stack. Success leaves
  // nresults values in their place. Refused without a controller or when it
  // is halted; a failed call reports its error text to stopOnError. Either
  // way false, with the function and its arguments removed (the stack is as
  // it was before the function was pushed).
  bool protectedCall(int nargs, int nresults);

  // Bytes the state may hold at most (see LMP_GlobalStateExtra), and the
  // bytes it holds now.
  void setHeapLimit(size_t bytes) { extra.heapLimit = bytes; }
  size_t heapUsed() const { return extra.heapUsed; }

  lua_State* luaState() const { return state; }
  CTRL_Generic* getController() const { return controller; }

  LMP_CallbackTable callbacks;

 private:
  // Calls the registered function of a callback id with one number.
  void callNumberCallback(int id, double value);

  lua_State* state = nullptr;
  CTRL_Generic* controller = nullptr;
  LMP_GlobalStateExtra extra;
};

// Variant exchange with the stack.
void LMP_iPushVariant(lua_State* L, const CTRL_Variant* value);
// Pops the top value into out (a table, function, userdata or thread leaves
// out as it was); always true.
bool LMP_iPopVariant(lua_State* L, CTRL_Variant* out);

// The controller's stopOnError with a text that may be null.
void LMP_iStopOnError(CTRL_Generic* controller, const char* text);

// The allocator of the engine's states; its user data is the state's
// LMP_GlobalStateExtra. Null for any other state.
void* LMP_iAlloc(void* extra, void* block, size_t oldSize, size_t newSize);
LMP_GlobalStateExtra* LMP_iGetExtra(lua_State* L);
