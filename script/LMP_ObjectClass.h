// Shared parts of the object classes (newObject, newLamp, newCamera, newMike
// and the other classes built on LMP_Object) and of the scene class: the
// constructor steps, user data and callbacks.
#pragma once

#include <cstdint>

#include "script/LMP_Binding.h"

class MDL_Object;
class MDL_Scene;

// The script scene class: the proxy of one physics world.
class LMP_Scene : public LMP_Proxy {
 public:
  explicit LMP_Scene(lua_State* L);
  bool dispatchCallback(LMP_Engine* engine, int id, va_list extra) override;
  MDL_Scene* scene() const { return static_cast<MDL_Scene*>(model); }

  LMP_CallbackTable callbacks;
  uint32_t userData = 0;

  static constexpr const char* scriptName = "newScene";
  static const LMP_MethodEntry<LMP_Scene> methods[];
};

// The object constructor's steps for a class whose script name is
// className: reads (scene or parent object, [source of class sourceName]),
// builds the record with make() or clones the source into the scene, places
// it under the parent and links self to it. Without a scene nothing is built.
// ownType is the listener or polyline type that a class copying its own
// kind may copy at the root (-1: none, such types are never copied).
void LMP_iConstructObject(LMP_Object* self, lua_State* L, const char* className,
                          MDL_Object* (*make)(), int32_t ownType = -1);
// Its first steps, for constructors with arguments of their own: the scene a
// new object goes into from argument 1 (a scene, or a parent object whose
// scene it is, then *parent), reporting more than two arguments with
// className; null, after any report, when nothing is to be built.
MDL_Scene* LMP_iObjectTarget(lua_State* L, const char* className, MDL_Object** parent);
// Its last steps for a new record: adds o to the scene, under parent (at the
// parent's place) when there is one, and links self to it.
void LMP_iPlaceNewObject(LMP_Object* self, MDL_Object* o, MDL_Scene* scene, MDL_Object* parent);

// setUserData / getUserData on a registry reference (0 = never set).
int LMP_iSetUserData(lua_State* L, uint32_t* ref);
int LMP_iGetUserData(lua_State* L, uint32_t ref);
// setCallback with the format "IF".
int LMP_iSetCallbackMethod(lua_State* L, LMP_CallbackTable* table);
