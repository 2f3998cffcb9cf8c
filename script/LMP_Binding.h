// The class binding: how a proxy class becomes a script class.
//
// Script shape of a class with script name "newMesh":
//   - the global "newMesh" is its methods table M; calling M, or M:new(...),
//     constructs an instance;
//   - an instance is a proxy slot userdata whose hidden metatable (registry
//     entry "newMesh") has __index = M, __metatable = M, __tostring, __gc;
//   - methods are native closures whose upvalues are their method entry and
//     the class metatable, so a call costs a metatable comparison (no
//     registry look-up by name) and an indirect call;
//   - one userdata per live proxy: a weak-valued cache in the metatable, keyed
//     by the proxy's address, hands the same userdata back on every push.
//
// A class T supplies:
//   static constexpr const char* scriptName = "newMesh";   "new" + class name
//   static const LMP_MethodEntry<T> methods[];             own list, {nullptr} ends it
// (classes derived from LMP_Object get LMP_Object::methods as their base
// list, registered before their own)
//   T(lua_State* L);  the script constructor: reads its arguments (from index
//                     1: the methods table is already removed), builds and
//                     links its record; may raise a Lua error, but only
//                     before it links (a raising constructor's storage is
//                     freed without its destructor)
//   T();              object classes: a proxy for an existing record
// and names itself once in its .cpp, at the start of a line:
//   LMP_BIND_CLASS(Mesh, LMP_Mesh);
// The engine registers the classes in its fixed order through these
// declarations (see LMP_ClassHooks below); it needs no change when a class
// file arrives.
//
// Plain getters and setters of a record field need no member function: list
// them with LMP_iGetter / LMP_iSetter, e.g.
//   LMP_iGetter<LMP_Lamp, &MDL_Lamp::intensity>("getIntensity"),
//   LMP_iSetter<LMP_Lamp, &MDL_Lamp::intensity>("setIntensity"),
// The getter returns nothing when the proxy lost its record; the setter
// checks its one argument with the field's letter (N for floating point, I
// for integers, B for bool, W/V/C/M for 2/3/4/9 doubles) and changes nothing
// on a failed check or without a record.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include <lua.hpp>

#include "script/LMP_CheckArgs.h"
#include "script/LMP_Proxy.h"

// The block of a proxy slot userdata. Besides the proxy it carries its class
// name and metatable identity and a mark, so the shared __gc and __tostring
// (reachable through the debug library with any value) can tell a slot from
// any other userdata, and a slot whose metatable was swapped fails the check.
struct LMP_ProxySlot {
  LMP_Proxy* proxy;
  const char* scriptName;
  const void* classKey;  // lua_topointer of the class metatable
  uint64_t mark;
  uint64_t reserved;  // keeps the size apart from every other userdata of the state
};

struct LMP_ClassHooks;

// Shared parts of the binding (LMP_Binding.cpp).
// The slot of a userdata at the index, or null when it is not a proxy slot.
LMP_ProxySlot* LMP_iToSlot(lua_State* L, int index);
// The method receiver: the proxy of argument 1 when its metatable is the one
// at classIndex (a method closure's upvalue) and the one its slot was made
// with; else a Lua argument error with scriptName as the extra message, as
// LMP_iCheckProxy(L, 1, scriptName) gives. Never null.
LMP_Proxy* LMP_iCheckSelf(lua_State* L, int classIndex, const char* scriptName);
// check: the proxy of an argument of class scriptName, or a Lua argument
// error with scriptName as the extra message. Never null.
LMP_Proxy* LMP_iCheckProxy(lua_State* L, int index, const char* scriptName);
// test: the slot of an argument of class scriptName, or null. The slot's
// proxy may be null (already finalised).
LMP_Proxy** LMP_iTestProxy(lua_State* L, int index, const char* scriptName);
// push: the proxy's userdata of class scriptName (nil for null); exactly one
// value pushed. Answers its absolute index, 0 when nil was pushed.
int LMP_iPushProxyAs(lua_State* L, LMP_Proxy* proxy, const char* scriptName);
// Pushes the weak userdata cache of the class metatable at index.
void LMP_iGetUserdataCache(lua_State* L, int index);
int LMP_iBindingGc(lua_State* L);
int LMP_iBindingToString(lua_State* L);
// Registration steps: LMP_iBeginClass pushes the methods table with "new"
// and "__call" bound to create; LMP_iAddMethod stores one closure into it,
// with the entry and the class metatable (registry entry scriptName) as its
// upvalues; LMP_iEndClass pops it.
void LMP_iBeginClass(lua_State* L, const char* scriptName, lua_CFunction create,
                     const void* createUpvalue = nullptr);
void LMP_iAddMethod(lua_State* L, const char* scriptName, const char* name, lua_CFunction thunk,
                    const void* entry);
void LMP_iEndClass(lua_State* L);
// A class with nothing but its name: methods table, metatable and a
// constructor that makes a proxy standing for nothing. Given the hooks of
// "newObject" (an object class), its instances are object proxies and it
// gets the Object methods. scriptName must outlive the state.
void LMP_iRegisterPlaceholder(lua_State* L, const char* scriptName, const LMP_ClassHooks* objectHooks);
// Removes the methods table from a constructor call (nothing when the call
// has no arguments at all).
void LMP_iDropClassArgument(lua_State* L);

template <class T>
class LMP_Binding {
 public:
  static void registerClass(lua_State* L) {
    LMP_iBeginClass(L, T::scriptName, &create);
    // Object classes get the 41 Object methods first; an own method of the
    // same name then replaces the base one.
    if constexpr (std::is_base_of_v<LMP_Object, T> && !std::is_same_v<LMP_Object, T>) {
      for (const LMP_MethodEntry<LMP_Object>* e = LMP_Object::methods; e->name; ++e)
        LMP_iAddMethod(L, T::scriptName, e->name, &baseThunk, e);
    }
    for (const LMP_MethodEntry<T>* e = T::methods; e->name; ++e)
      LMP_iAddMethod(L, T::scriptName, e->name, &thunk, e);
    LMP_iEndClass(L);
  }

  static int create(lua_State* L) {
    LMP_iDropClassArgument(L);
    // A Lua error raised by the constructor frees the storage on its way out.
    T* proxy = new T(L);
    if (!push(L, proxy) && proxy->refCount == 0) delete proxy;
    return 1;
  }

  static int push(lua_State* L, T* proxy) { return LMP_iPushProxyAs(L, proxy, T::scriptName); }
  // Pushes the proxy of a resource record (not null), making and linking it
  // on first use.
  template <class R>
  static int pushRecord(lua_State* L, R* record) {
    if (!record->proxy) {
      T* p = new T();
      p->model = record;
      LMP_iAssignProxy(&record->proxy, p);
    }
    return push(L, static_cast<T*>(record->proxy));
  }
  static T* check(lua_State* L, int index) {
    return static_cast<T*>(LMP_iCheckProxy(L, index, T::scriptName));
  }
  static LMP_Proxy** test(lua_State* L, int index) { return LMP_iTestProxy(L, index, T::scriptName); }

  static int thunk(lua_State* L) {
    T* self = static_cast<T*>(LMP_iCheckSelf(L, lua_upvalueindex(2), T::scriptName));
    lua_remove(L, 1);
    auto* e = static_cast<const LMP_MethodEntry<T>*>(lua_touserdata(L, lua_upvalueindex(1)));
    return e->method ? (self->*(e->method))(L) : e->plain(self, L);
  }

 private:
  static int baseThunk(lua_State* L)
    requires std::is_base_of_v<LMP_Object, T>
  {
    LMP_Object* self = static_cast<T*>(LMP_iCheckSelf(L, lua_upvalueindex(2), T::scriptName));
    lua_remove(L, 1);
    auto* e = static_cast<const LMP_MethodEntry<LMP_Object>*>(lua_touserdata(L, lua_upvalueindex(1)));
    return e->method ? (self->*(e->method))(L) : e->plain(self, L);
  }
};

// What the engine needs of a class, published by LMP_BIND_CLASS.
struct LMP_ClassHooks {
  const char* scriptName;
  void (*registerClass)(lua_State* L);
  int (*push)(lua_State* L, LMP_Proxy* proxy);
  LMP_Proxy** (*test)(lua_State* L, int index);
  // Object classes: a new object proxy standing for nothing yet; else null.
  LMP_Proxy* (*newObjectProxy)();
  // The class "newObject" only: its method list (base list of placeholders)
  // and how to call one of them on an object proxy.
  const LMP_MethodEntry<LMP_Object>* objectMethods;
  int (*callObjectMethod)(LMP_Proxy* self, const LMP_MethodEntry<LMP_Object>* entry, lua_State* L);
};

template <class T>
constexpr LMP_ClassHooks LMP_iMakeClassHooks() {
  LMP_ClassHooks h{};
  h.scriptName = T::scriptName;
  h.registerClass = &LMP_Binding<T>::registerClass;
  h.push = [](lua_State* L, LMP_Proxy* p) { return LMP_Binding<T>::push(L, static_cast<T*>(p)); };
  h.test = &LMP_Binding<T>::test;
  if constexpr (std::is_base_of_v<LMP_Object, T>) h.newObjectProxy = []() -> LMP_Proxy* { return new T(); };
  if constexpr (std::is_same_v<LMP_Object, T>) {
    h.objectMethods = T::methods;
    h.callObjectMethod = [](LMP_Proxy* p, const LMP_MethodEntry<LMP_Object>* e, lua_State* L) {
      LMP_Object* self = p->asObject();
      return e->method ? (self->*(e->method))(L) : e->plain(self, L);
    };
  }
  return h;
}

// Declares a script class to the engine. Tag is the class name without its
// prefix, one of: Scene Viewport Object Mesh AnimatedMesh RigidBody Sound
// Text Lamp Camera Mike Image Polyline Texture Sample Bone Stream Font
// ModelsSet Material Spring Joint CollisionVolume AnimationData Animation
// Locator. Write it at the start of a line in the class's .cpp: the build
// collects these lines (script/core.cmake) into the table the engine reads.
#define LMP_BIND_CLASS(Tag, Type) \
  extern "C" const LMP_ClassHooks LMP_hooks##Tag = LMP_iMakeClassHooks<Type>()

// The declared classes (generated), and the lookup by tag; null when the
// class has not been declared (the engine then registers a placeholder
// with the script name, the Object methods for object classes, and a
// constructor that makes a proxy standing for nothing).
const LMP_ClassHooks* LMP_iFindClassHooks(const char* tag);

// ----- Table-driven accessors ------------------------------------------------

// The record of a proxy as Rec (object proxies keep an MDL_Object*).
template <class Rec>
Rec* LMP_iRecord(const LMP_Proxy* proxy) {
  if constexpr (std::is_base_of_v<MDL_Object, Rec> && !std::is_same_v<MDL_Object, Rec>)
    return static_cast<Rec*>(static_cast<MDL_Object*>(proxy->model));
  else
    return static_cast<Rec*>(proxy->model);
}

template <class M>
struct LMP_MemberTraits;
template <class Rec, class F>
struct LMP_MemberTraits<F Rec::*> {
  using Record = Rec;
  using Field = F;
};

// Doubles in a field of a value type (v2, v3, color, m33 and look-alikes).
template <class F>
constexpr int LMP_iDoubleCount() {
  if constexpr (std::is_class_v<F> || std::is_array_v<F>)
    return (std::is_trivially_copyable_v<F> && sizeof(F) % sizeof(double) == 0)
               ? int(sizeof(F) / sizeof(double))
               : 0;
  else
    return 0;
}

// Pushes a new value of the script value type with n doubles (LMP_Values.cpp).
double* LMP_iPushValueOfSize(lua_State* L, int n);

template <class T, auto F>
int LMP_iGetField(T* self, lua_State* L) {
  using Tr = LMP_MemberTraits<decltype(F)>;
  using Field = typename Tr::Field;
  auto* rec = LMP_iRecord<typename Tr::Record>(self);
  if (!rec) return 0;
  const Field& v = rec->*F;
  // Byte flags read back as booleans, as the setter writes them.
  if constexpr (std::is_same_v<Field, bool> || std::is_same_v<Field, uint8_t>) {
    lua_pushboolean(L, v);
  } else if constexpr (std::is_arithmetic_v<Field> || std::is_enum_v<Field>) {
    lua_pushnumber(L, lua_Number(v));
  } else {
    constexpr int n = LMP_iDoubleCount<Field>();
    static_assert(n == 2 || n == 3 || n == 4 || n == 9, "field is not a script value type");
    std::memcpy(LMP_iPushValueOfSize(L, n), &v, sizeof(double) * n);
  }
  return 1;
}

// After, when given, is a member function of the record called once the field
// has changed (a layout or outline that depends on it is marked stale).
template <class T, auto F, auto After = nullptr>
int LMP_iSetField(T* self, lua_State* L) {
  using Tr = LMP_MemberTraits<decltype(F)>;
  using Field = typename Tr::Field;
  auto* rec = LMP_iRecord<typename Tr::Record>(self);
  if constexpr (std::is_same_v<Field, bool> || std::is_same_v<Field, uint8_t>) {
    uint8_t b = 0;
    if (!LMP_iCheckArgs(L, "B", &b) || !rec) return 0;
    rec->*F = Field(b);
  } else if constexpr (std::is_floating_point_v<Field>) {
    double d = 0;
    if (!LMP_iCheckArgs(L, "N", &d) || !rec) return 0;
    rec->*F = Field(d);
  } else if constexpr (std::is_integral_v<Field> || std::is_enum_v<Field>) {
    int32_t i = 0;
    if (!LMP_iCheckArgs(L, "I", &i) || !rec) return 0;
    rec->*F = Field(i);
  } else {
    constexpr int n = LMP_iDoubleCount<Field>();
    static_assert(n == 2 || n == 3 || n == 4 || n == 9, "field is not a script value type");
    const char* format = n == 2 ? "W" : n == 3 ? "V" : n == 4 ? "C" : "M";
    double* d = nullptr;
    if (!LMP_iCheckArgs(L, format, &d) || !rec) return 0;
    std::memcpy(&(rec->*F), d, sizeof(double) * n);
  }
  if constexpr (!std::is_same_v<decltype(After), std::nullptr_t>) (rec->*After)();
  return 0;
}

template <class T, auto F>
constexpr LMP_MethodEntry<T> LMP_iGetter(const char* name) {
  return {name, nullptr, &LMP_iGetField<T, F>};
}
template <class T, auto F, auto After = nullptr>
constexpr LMP_MethodEntry<T> LMP_iSetter(const char* name) {
  return {name, nullptr, &LMP_iSetField<T, F, After>};
}
