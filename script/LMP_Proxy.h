// Script proxies: the meeting point of a record and the scripts.
//
// A script never holds a record (scene object, scene, viewport, resource)
// directly. It holds a proxy slot userdata (LMP_Binding.h) that names an
// LMP_Proxy, and the proxy names the record. Both sides count: every slot
// userdata that names the proxy holds one count, and the record's link
// (MDL_Proxy, below) holds one while it names the proxy. Whoever drops the
// count to 0 deletes the proxy. A proxy never deletes its record; when the
// record goes away first, releasing its link clears the proxy's model
// pointer, so script values of deleted records stay safe to hold: they still
// pass the class check, and every method tests `model` before use.
#pragma once

#include <cstdarg>
#include <cstdint>

struct lua_State;
class CTRL_ScriptEngine;
class LMP_Engine;
class LMP_Object;
class LMP_Proxy;
class MDL_Object;

// The link of a record to its proxy. One such field is the first field of
// every record a script can hold (the first after the virtual table in
// MDL_Object). Null, or the record's proxy holding one count of it. Set it
// only through LMP_iAssignProxy and clear it with LMP_iReleaseProxy when the
// record is destroyed.
using MDL_Proxy = LMP_Proxy*;

enum { LMP_CALLBACK_COUNT = 11 };  // callback ids 1 (CB_UPDATE) to 11 (CB_MAX)

// Script callbacks of the engine, of every object and scene proxy and of the
// viewport proxy: registry references indexed by callback id - 1, 0 = none.
struct LMP_CallbackTable {
  uint32_t ref[LMP_CALLBACK_COUNT] = {};

  // The reference of a callback id; 0 for none and for ids outside 1..11.
  uint32_t get(int id) const {
    return (id >= 1 && id <= LMP_CALLBACK_COUNT) ? ref[id - 1] : 0;
  }
};

// Stores a registry reference (0 = none, as made by the checker's letter F)
// for a callback id and releases the reference it replaces. An id outside
// 1..11 changes nothing (the new reference is released so it does not leak);
// answers whether the id was valid.
bool LMP_iSetCallback(lua_State* L, LMP_CallbackTable* table, int id, uint32_t ref);

class LMP_Proxy {
 public:
  LMP_Proxy() = default;
  LMP_Proxy(const LMP_Proxy&) = delete;
  LMP_Proxy& operator=(const LMP_Proxy&) = delete;

  // Unlinks the record if it still names this proxy; never deletes it.
  virtual ~LMP_Proxy();

  // Runs the script handler of a callback id with the caller's extra values
  // (see LMP_iFireCallback for what each id passes). The base has no
  // handlers and answers false.
  virtual bool dispatchCallback(LMP_Engine* engine, int id, va_list extra);
  // This proxy as an object proxy, or null for the other classes.
  virtual LMP_Object* asObject() { return nullptr; }

  // The record: an MDL_Object* for object proxies (see LMP_Object::object),
  // else the record's own type. Null when the proxy stands for nothing.
  void* model = nullptr;
  uint32_t refCount = 0;
  // The link that names this proxy, noted by LMP_iAssignProxy so that the
  // destructor can clear it; meaningful only while `model` is set.
  MDL_Proxy* link = nullptr;
};

// Method list entry of a script class T (LMP_Binding.h). Lists are static
// arrays ended by an entry whose name is null. An entry calls either a member
// function or, for the table-driven accessors of LMP_Binding.h, a plain
// function.
template <class T>
struct LMP_MethodEntry {
  const char* name;
  int (T::*method)(lua_State* L);
  int (*plain)(T* self, lua_State* L) = nullptr;
};

// The script class "newObject" and base of every object class. Its 41
// methods form the base list of the object classes; they, its script
// constructor, its callback dispatch and className are defined with the
// object class (LMP_Object.cpp).
class LMP_Object : public LMP_Proxy {
 public:
  LMP_Object() = default;           // a proxy for an existing record (LMP_iPushProxy)
  explicit LMP_Object(lua_State* L);  // the script constructor newObject

  // Object callbacks (CB_MOUSE_DOWN, CB_MOUSE_UP, CB_MOUSE_CLICK, CB_MOVED).
  bool dispatchCallback(LMP_Engine* engine, int id, va_list extra) override;
  // Script name used in constructor messages ("Too much arguments for %s").
  virtual const char* className() const;

  MDL_Object* object() const { return static_cast<MDL_Object*>(model); }
  LMP_Object* asObject() override { return this; }

  LMP_CallbackTable callbacks;
  uint32_t userData = 0;  // registry reference of setUserData's value, 0 = none

  // Binding statics (LMP_Binding.h).
  static constexpr const char* scriptName = "newObject";
  static const LMP_MethodEntry<LMP_Object> methods[];  // the 41 Object methods

  // Script methods (defined in LMP_Object.cpp) are declared below.
};

// link := proxy (which the link does not name yet), with counts: a proxy the
// link named before loses its count and its model pointer (deleted at 0);
// the new proxy (may be null) gains one count. The proxy's model pointer is
// set by its constructor, not here.
void LMP_iAssignProxy(MDL_Proxy* link, LMP_Proxy* proxy);

// Called when a record is destroyed: the proxy loses its model pointer and
// the link's count (deleted at 0); the link becomes null. Null link: nothing.
void LMP_iReleaseProxy(MDL_Proxy* link);

// Fires a script callback of a record through its link. Refused (false, no
// script runs) when the link names no proxy, the proxy lost its record, the
// record is an object marked deleted, there is no engine, the engine has no
// controller, or the controller is halted. Otherwise the proxy's answer.
//
// Extra values by callback id (the dispatchers read them in this order):
//   CB_MOUSE_DOWN/UP/CLICK (objects): MDL_Object* hit object, const v3* point
//   CB_MOVED (objects): none
//   CB_MECHA, CB_POST_INTEGRATION (scenes): double time step
//   CB_PRE_COLLISION, CB_POST_COLLISION (scenes): const v3* point,
//       const v3* normal, double depth or impulse, MDL_Object* body A,
//       MDL_Object* volume A, MDL_Object* body B, MDL_Object* volume B
//       (null for a missing one)
//   CB_EVENT (viewports): const CTRL_Event* event
bool LMP_iFireCallback(MDL_Proxy* link, CTRL_ScriptEngine* engine, int id, ...);

// Pushes an object's proxy (nil for null), creating and linking it on first
// use. 1 when a value was pushed; 0 after an object type without a class
// (reported, nothing pushed).
int LMP_iPushProxy(lua_State* L, MDL_Object* object);

// The object proxy of an argument (negative indices count from the top), or
// null; never raises. Accepts the classes newObject, newMesh, newRigidBody,
// newText, newSound, newCamera, newLamp, newImage, newMike, newPolyline and
// newBone. The answer may have lost its record (model null).
LMP_Object* LMP_iToProxy(lua_State* L, int index);
