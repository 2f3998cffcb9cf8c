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

#include "base/LMP_ProxyLink.h"

struct lua_State;
class CTRL_ScriptEngine;
class LMP_Engine;
class LMP_Object;
class LMP_Proxy;
class MDL_Object;

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

// Pushes an object's proxy (nil for null), creating and linking it on first
// use. 1 when a value was pushed; 0 after an object type without a class
// (reported, nothing pushed).
int LMP_iPushProxy(lua_State* L, MDL_Object* object);

// The object proxy of an argument (negative indices count from the top), or
// null; never raises. Accepts the classes newObject, newMesh, newRigidBody,
// newText, newSound, newCamera, newLamp, newImage, newMike, newPolyline and
// newBone. The answer may have lost its record (model null).
LMP_Object* LMP_iToProxy(lua_State* L, int index);
