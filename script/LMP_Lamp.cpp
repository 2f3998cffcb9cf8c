// The light, camera and listener classes: newLamp, newCamera and newMike.
// Each has the 41 Object methods before its own.
#include <lua.hpp>

#include <cmath>

#include "model/MDL_Objects.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_ObjectClass.h"

class LMP_Lamp : public LMP_Object {
 public:
  LMP_Lamp() = default;
  explicit LMP_Lamp(lua_State* L);
  const char* className() const override { return scriptName; }
  static constexpr const char* scriptName = "newLamp";
  static const LMP_MethodEntry<LMP_Lamp> methods[];
};

class LMP_Camera : public LMP_Object {
 public:
  LMP_Camera() = default;
  explicit LMP_Camera(lua_State* L);
  const char* className() const override { return scriptName; }
  static constexpr const char* scriptName = "newCamera";
  static const LMP_MethodEntry<LMP_Camera> methods[];
};

class LMP_Mike : public LMP_Object {
 public:
  LMP_Mike() = default;
  explicit LMP_Mike(lua_State* L);
  const char* className() const override { return scriptName; }
  static constexpr const char* scriptName = "newMike";
  static const LMP_MethodEntry<LMP_Mike> methods[];
};

namespace {

constexpr double DEG_TO_RAD = 0.017453292519943295;
constexpr double RAD_TO_DEG = 57.29577951308232;

MDL_Object* makeLamp() { return new MDL_Lamp(); }
MDL_Object* makeCamera() { return new MDL_Camera(); }
MDL_Object* makeMike() { return new MDL_Mike(); }

template <class Rec>
Rec* rec(LMP_Object* self) {
  return static_cast<Rec*>(self->object());
}

// Keeps v in [0, hi]; a value that is not >= 0 (NaN included) gives 0.
double clampFromZero(double v, double hi) {
  if (!(v >= 0)) return 0;
  return v > hi ? hi : v;
}

// ---- lamp: the spot settings act only on spot lamps

int lampGetSpotExponent(LMP_Lamp* self, lua_State* L) {
  MDL_Lamp* l = rec<MDL_Lamp>(self);
  if (!l || l->lampType != LAMP_SPOT) return 0;
  lua_pushnumber(L, l->spotExponent);
  return 1;
}

int lampSetSpotExponent(LMP_Lamp* self, lua_State* L) {
  int32_t e = 0;
  if (!LMP_iCheckArgs(L, "I", &e)) return 0;
  MDL_Lamp* l = rec<MDL_Lamp>(self);
  if (!l || l->lampType != LAMP_SPOT) return 0;
  l->spotExponent = e < 0 ? 0 : (e > 128 ? 128 : e);
  return 0;
}

int lampGetSpotSize(LMP_Lamp* self, lua_State* L) {
  MDL_Lamp* l = rec<MDL_Lamp>(self);
  if (!l || l->lampType != LAMP_SPOT) return 0;
  lua_pushnumber(L, l->spotSize);
  return 1;
}

int lampSetSpotSize(LMP_Lamp* self, lua_State* L) {
  double size = 0;
  if (!LMP_iCheckArgs(L, "N", &size)) return 0;
  MDL_Lamp* l = rec<MDL_Lamp>(self);
  if (!l || l->lampType != LAMP_SPOT) return 0;
  l->spotSize = clampFromZero(size, 90);
  return 0;
}

int lampSetEnergy(LMP_Lamp* self, lua_State* L) {
  double energy = 0;
  if (!LMP_iCheckArgs(L, "N", &energy)) return 0;
  if (MDL_Lamp* l = rec<MDL_Lamp>(self)) l->energy = clampFromZero(energy, 100);
  return 0;
}

// ---- camera: the field of view in degrees

int cameraGetFOV(LMP_Camera* self, lua_State* L) {
  MDL_Camera* c = rec<MDL_Camera>(self);
  if (!c) return 0;
  lua_pushnumber(L, c->angle * RAD_TO_DEG);
  return 1;
}

int cameraSetFOV(LMP_Camera* self, lua_State* L) {
  double degrees = 0;
  if (!LMP_iCheckArgs(L, "N", &degrees)) return 0;
  if (MDL_Camera* c = rec<MDL_Camera>(self)) c->setAngle(degrees * DEG_TO_RAD);
  return 0;
}

}  // namespace

LMP_Lamp::LMP_Lamp(lua_State* L) { LMP_iConstructObject(this, L, scriptName, &makeLamp); }
LMP_Camera::LMP_Camera(lua_State* L) { LMP_iConstructObject(this, L, scriptName, &makeCamera); }
LMP_Mike::LMP_Mike(lua_State* L) { LMP_iConstructObject(this, L, scriptName, &makeMike, OBJECT_MIKE); }

const LMP_MethodEntry<LMP_Lamp> LMP_Lamp::methods[] = {
    LMP_iGetter<LMP_Lamp, &MDL_Lamp::shadows>("getShadow"),
    LMP_iSetter<LMP_Lamp, &MDL_Lamp::shadows>("setShadow"),
    LMP_iGetter<LMP_Lamp, &MDL_Lamp::on>("getOn"),
    LMP_iSetter<LMP_Lamp, &MDL_Lamp::on>("setOn"),
    LMP_iGetter<LMP_Lamp, &MDL_Lamp::shadowType>("getShadowType"),
    LMP_iSetter<LMP_Lamp, &MDL_Lamp::shadowType>("setShadowType"),
    LMP_iGetter<LMP_Lamp, &MDL_Lamp::shadowDepth>("getShadowDepth"),
    LMP_iSetter<LMP_Lamp, &MDL_Lamp::shadowDepth>("setShadowDepth"),
    LMP_iGetter<LMP_Lamp, &MDL_Lamp::color>("getColor"),
    LMP_iSetter<LMP_Lamp, &MDL_Lamp::color>("setColor"),
    LMP_iGetter<LMP_Lamp, &MDL_Lamp::ambientColor>("getAmbientColor"),
    LMP_iSetter<LMP_Lamp, &MDL_Lamp::ambientColor>("setAmbientColor"),
    LMP_iGetter<LMP_Lamp, &MDL_Lamp::shadowCoeff>("getShadowCoeff"),
    LMP_iSetter<LMP_Lamp, &MDL_Lamp::shadowCoeff>("setShadowCoeff"),
    {"getSpotExponent", nullptr, &lampGetSpotExponent},
    {"setSpotExponent", nullptr, &lampSetSpotExponent},
    {"getSpotSize", nullptr, &lampGetSpotSize},
    {"setSpotSize", nullptr, &lampSetSpotSize},
    LMP_iGetter<LMP_Lamp, &MDL_Lamp::energy>("getEnergy"),
    {"setEnergy", nullptr, &lampSetEnergy},
    {nullptr, nullptr, nullptr},
};

const LMP_MethodEntry<LMP_Camera> LMP_Camera::methods[] = {
    {"getFOV", nullptr, &cameraGetFOV},
    LMP_iGetter<LMP_Camera, &MDL_Camera::clipEnd>("getFarZ"),
    LMP_iGetter<LMP_Camera, &MDL_Camera::clipStart>("getNearZ"),
    {"setFOV", nullptr, &cameraSetFOV},
    LMP_iSetter<LMP_Camera, &MDL_Camera::clipEnd>("setFarZ"),
    LMP_iSetter<LMP_Camera, &MDL_Camera::clipStart>("setNearZ"),
    {nullptr, nullptr, nullptr},
};

const LMP_MethodEntry<LMP_Mike> LMP_Mike::methods[] = {
    LMP_iGetter<LMP_Mike, &MDL_Mike::on>("getOn"),
    LMP_iGetter<LMP_Mike, &MDL_Mike::gain>("getGain"),
    LMP_iSetter<LMP_Mike, &MDL_Mike::on>("setOn"),
    LMP_iSetter<LMP_Mike, &MDL_Mike::gain>("setGain"),
    {nullptr, nullptr, nullptr},
};

LMP_BIND_CLASS(Lamp, LMP_Lamp);
LMP_BIND_CLASS(Camera, LMP_Camera);
LMP_BIND_CLASS(Mike, LMP_Mike);
