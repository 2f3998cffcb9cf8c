// The script class newViewport: rectangles of the drawing area with a camera,
// a listener, navigation settings and an input-event callback of their own.
#include <lua.hpp>

#include <cfloat>
#include <cstdarg>

#include "controller/CTRL_Generic.h"
#include "base/CTRL_Keys.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_Engine.h"
#include "script/LMP_Proxy.h"
#include "script/LMP_Values.h"

static const double kDegToRad = 0.017453292519943295;
static const double kRadToDeg = 57.29577951308232;

class LMP_Viewport : public LMP_Proxy {
 public:
  explicit LMP_Viewport(lua_State* L);

  bool dispatchCallback(LMP_Engine* engine, int id, va_list extra) override;

  MDL_Viewport* viewport() const { return static_cast<MDL_Viewport*>(model); }

  LMP_CallbackTable viewCallbacks;

  static constexpr const char* scriptName = "newViewport";
  static const LMP_MethodEntry<LMP_Viewport> methods[];

  int remove(lua_State* L);
  int getCamera(lua_State* L);
  int setCamera(lua_State* L);
  int getMike(lua_State* L);
  int setMike(lua_State* L);
  int setBackgroundColor(lua_State* L);
  int getActive(lua_State* L);
  int setActive(lua_State* L);
  int getShadowRendering(lua_State* L);
  int setShadowRendering(lua_State* L);
  int setNavigationMode(lua_State* L);
  int getNavigationMode(lua_State* L);
  int setNavigationPosition(lua_State* L);
  int getNavigationPosition(lua_State* L);
  int setNavigationBasis(lua_State* L);
  int setNavigationRadius(lua_State* L);
  int setNavigationElevation(lua_State* L);
  int setNavigationAzimuth(lua_State* L);
  int getNavigationRadius(lua_State* L);
  int getNavigationElevation(lua_State* L);
  int getNavigationAzimuth(lua_State* L);
  int setPosition(lua_State* L);
  int getPosition(lua_State* L);
  int setSize(lua_State* L);
  int getSize(lua_State* L);
  int getWidth(lua_State* L);
  int getHeight(lua_State* L);
  int getCenter(lua_State* L);
  int toScene(lua_State* L);
  int fromScene(lua_State* L);
  int getPickRay(lua_State* L);
  int setCallback(lua_State* L);
};

LMP_BIND_CLASS(Viewport, LMP_Viewport);

LMP_Viewport::LMP_Viewport(lua_State* L)
{
  CTRL_Generic* controller = LMP_iGetController(L);
  if (!controller)
    return;
  double x = 0, y = 0, w = 0, h = 0;
  if (!LMP_iCheckArgs(L, "NNNN", &x, &y, &w, &h))
    return;
  MDL_Viewport* vp = new MDL_Viewport(x, y, w, h);
  if (!controller->viewports.append(vp)) {
    delete vp;
    return;
  }
  controller->currentViewport = vp;
  model = vp;
  LMP_iAssignProxy(&vp->proxy, this);
}

const LMP_MethodEntry<LMP_Viewport> LMP_Viewport::methods[] = {
    {"delete", &LMP_Viewport::remove},
    {"getCamera", &LMP_Viewport::getCamera},
    {"setCamera", &LMP_Viewport::setCamera},
    {"getMike", &LMP_Viewport::getMike},
    {"setMike", &LMP_Viewport::setMike},
    {"setBackgroundColor", &LMP_Viewport::setBackgroundColor},
    {"getActive", &LMP_Viewport::getActive},
    {"setActive", &LMP_Viewport::setActive},
    {"getShadowRendering", &LMP_Viewport::getShadowRendering},
    {"setShadowRendering", &LMP_Viewport::setShadowRendering},
    {"setNavigationMode", &LMP_Viewport::setNavigationMode},
    {"getNavigationMode", &LMP_Viewport::getNavigationMode},
    {"setNavigationPosition", &LMP_Viewport::setNavigationPosition},
    {"getNavigationPosition", &LMP_Viewport::getNavigationPosition},
    {"setNavigationBasis", &LMP_Viewport::setNavigationBasis},
    {"setNavigationRadius", &LMP_Viewport::setNavigationRadius},
    {"setNavigationElevation", &LMP_Viewport::setNavigationElevation},
    {"setNavigationAzimuth", &LMP_Viewport::setNavigationAzimuth},
    {"getNavigationRadius", &LMP_Viewport::getNavigationRadius},
    {"getNavigationElevation", &LMP_Viewport::getNavigationElevation},
    {"getNavigationAzimuth", &LMP_Viewport::getNavigationAzimuth},
    {"setPosition", &LMP_Viewport::setPosition},
    {"getPosition", &LMP_Viewport::getPosition},
    {"setSize", &LMP_Viewport::setSize},
    {"getSize", &LMP_Viewport::getSize},
    {"getWidth", &LMP_Viewport::getWidth},
    {"getHeight", &LMP_Viewport::getHeight},
    {"getCenter", &LMP_Viewport::getCenter},
    {"toScene", &LMP_Viewport::toScene},
    {"fromScene", &LMP_Viewport::fromScene},
    {"getPickRay", &LMP_Viewport::getPickRay},
    {"setCallback", &LMP_Viewport::setCallback},
    {nullptr, nullptr},
};

static void pushV3(lua_State* L, const v3& v) { LMP_iPushV3(L, v); }

int LMP_Viewport::remove(lua_State* L)
{
  LMP_iCheckArgs(L, "");  // reports any argument, and deletes all the same
  CTRL_Generic* controller = LMP_iGetController(L);
  MDL_Viewport* vp = viewport();
  if (!vp || !controller)
    return 0;
  int32_t i = controller->viewports.indexOf(vp);
  if (i >= 0) {
    // The pointer code would re-choose only on the next move: never leave
    // the current viewport naming a freed record.
    if (controller->currentViewport == vp)
      controller->currentViewport = nullptr;
    LMP_iReleaseProxy(&vp->proxy);
    delete vp;
    controller->viewports.removeAt(i);
  }
  model = nullptr;
  return 0;
}

int LMP_Viewport::getCamera(lua_State* L)
{
  MDL_Viewport* vp = viewport();
  if (!vp || !vp->camera)
    return 0;
  return LMP_iPushProxy(L, vp->camera);
}

// nil, or an object of the named class (anything else raises the argument
// error); the record, null for nil or a deleted object. An object marked
// deleted counts as deleted: the frame's purge frees it, and the viewport
// would go on naming it.
static MDL_Object* objectArgument(lua_State* L, const char* scriptName)
{
  if (lua_isnoneornil(L, 1))
    return nullptr;
  LMP_Proxy* p = LMP_iCheckProxy(L, 1, scriptName);
  MDL_Object* o = static_cast<MDL_Object*>(p->model);
  return o && !o->deleted ? o : nullptr;
}

int LMP_Viewport::setCamera(lua_State* L)
{
  MDL_Object* camera = objectArgument(L, "newCamera");
  if (MDL_Viewport* vp = viewport())
    vp->camera = static_cast<MDL_Camera*>(camera);
  return 0;
}

int LMP_Viewport::getMike(lua_State* L)
{
  MDL_Viewport* vp = viewport();
  if (!vp || !vp->listener)
    return 0;
  return LMP_iPushProxy(L, vp->listener);
}

int LMP_Viewport::setMike(lua_State* L)
{
  MDL_Object* mike = objectArgument(L, "newMike");
  if (MDL_Viewport* vp = viewport())
    vp->listener = static_cast<MDL_Mike*>(mike);
  return 0;
}

int LMP_Viewport::setBackgroundColor(lua_State* L)
{
  double* c = nullptr;
  if (!LMP_iCheckArgs(L, "C", &c) || !viewport())
    return 0;
  for (int i = 0; i < 4; i++)
    viewport()->background[i] = c[i];
  return 0;
}

int LMP_Viewport::getActive(lua_State* L)
{
  if (!viewport())
    return 0;
  lua_pushboolean(L, viewport()->active != 0);
  return 1;
}

int LMP_Viewport::setActive(lua_State* L)
{
  uint8_t b = 0;
  if (!LMP_iCheckArgs(L, "B", &b) || !viewport())
    return 0;
  viewport()->active = b;
  return 0;
}

int LMP_Viewport::getShadowRendering(lua_State* L)
{
  if (!viewport())
    return 0;
  lua_pushnumber(L, viewport()->shadowRendering);
  return 1;
}

int LMP_Viewport::setShadowRendering(lua_State* L)
{
  int32_t mode = 0;
  if (!LMP_iCheckArgs(L, "I", &mode) || !viewport())
    return 0;
  if ((uint32_t)mode > 1u) {
    LMP_iReportError(L, "Unsupported shadow type specified.");
    return 0;
  }
  viewport()->shadowRendering = mode;
  return 0;
}

int LMP_Viewport::setNavigationMode(lua_State* L)
{
  int32_t mode = 0;
  if (!LMP_iCheckArgs(L, "I", &mode) || !viewport())
    return 0;
  if ((uint32_t)mode > 3u) {
    LMP_iReportError(L, "Unsupported navigation type specified.");
    return 0;
  }
  viewport()->navigationMode = mode;
  return 0;
}

int LMP_Viewport::getNavigationMode(lua_State* L)
{
  if (!viewport())
    return 0;
  lua_pushnumber(L, viewport()->navigationMode);
  return 1;
}

int LMP_Viewport::setNavigationPosition(lua_State* L)
{
  double* p = nullptr;
  MDL_Viewport* vp = viewport();
  if (!LMP_iCheckArgs(L, "V", &p) || !vp)
    return 0;
  const v3 pos = {p[0], p[1], p[2]};
  if (vp->isOrbitMode()) {
    vp->navPosition = pos;
    vp->updateNavigation();
  } else if (vp->camera) {
    vp->camera->editGlobalFrame().position = pos;
  }
  return 0;
}

int LMP_Viewport::getNavigationPosition(lua_State* L)
{
  MDL_Viewport* vp = viewport();
  if (!vp)
    return 0;
  v3 pos = {0, 0, 0};
  if (vp->isOrbitMode())
    pos = vp->navPosition;
  else if (vp->camera)
    pos = vp->camera->getGlobalFrame().position;
  pushV3(L, pos);
  return 1;
}

int LMP_Viewport::setNavigationBasis(lua_State* L)
{
  double* m = nullptr;
  MDL_Viewport* vp = viewport();
  if (!LMP_iCheckArgs(L, "M", &m) || !vp)
    return 0;
  if (vp->isOrbitMode() || !vp->camera)
    return 0;
  MDL_Frame& f = vp->camera->editGlobalFrame();
  for (int c = 0; c < 3; c++)
    f.basis.c[c] = {m[3 * c], m[3 * c + 1], m[3 * c + 2]};
  f.inverseDirty = 1;
  return 0;
}

// value [, min, max]: with all three the range is set, otherwise it goes
// back to the default range.
static int setOrbitValue(LMP_Viewport* self, lua_State* L, double* value, double* lo, double* hi, double factor,
                         double defaultLo)
{
  double v = 0, a = 0, b = 0;
  int n = LMP_iCheckArgs(L, "N|NN", &v, &a, &b);
  MDL_Viewport* vp = self->viewport();
  if (!n || !vp || !vp->isOrbitMode())
    return 0;
  *value = v * factor;
  if (n == 3) {
    *lo = a * factor;
    *hi = b * factor;
  } else {
    *lo = defaultLo;
    *hi = DBL_MAX;
  }
  vp->updateNavigation();
  return 0;
}

int LMP_Viewport::setNavigationRadius(lua_State* L)
{
  MDL_Viewport* vp = viewport();
  if (!vp)
    return 0;
  return setOrbitValue(this, L, &vp->navRadius, &vp->radiusMin, &vp->radiusMax, 1.0, 0.0);
}

int LMP_Viewport::setNavigationElevation(lua_State* L)
{
  MDL_Viewport* vp = viewport();
  if (!vp)
    return 0;
  return setOrbitValue(this, L, &vp->navElevation, &vp->elevationMin, &vp->elevationMax, kDegToRad, -DBL_MAX);
}

int LMP_Viewport::setNavigationAzimuth(lua_State* L)
{
  MDL_Viewport* vp = viewport();
  if (!vp)
    return 0;
  return setOrbitValue(this, L, &vp->navAzimuth, &vp->azimuthMin, &vp->azimuthMax, kDegToRad, -DBL_MAX);
}

static int getOrbitValue(LMP_Viewport* self, lua_State* L, const double* value, double factor)
{
  MDL_Viewport* vp = self->viewport();
  if (!vp)
    return 0;
  vp->updateNavigation();
  if (!vp->isOrbitMode()) {
    lua_pushnil(L);
    return 1;
  }
  lua_pushnumber(L, *value * factor);
  return 1;
}

int LMP_Viewport::getNavigationRadius(lua_State* L)
{
  return viewport() ? getOrbitValue(this, L, &viewport()->navRadius, 1.0) : 0;
}

int LMP_Viewport::getNavigationElevation(lua_State* L)
{
  return viewport() ? getOrbitValue(this, L, &viewport()->navElevation, kRadToDeg) : 0;
}

int LMP_Viewport::getNavigationAzimuth(lua_State* L)
{
  return viewport() ? getOrbitValue(this, L, &viewport()->navAzimuth, kRadToDeg) : 0;
}

int LMP_Viewport::setPosition(lua_State* L)
{
  double* p = nullptr;
  if (!LMP_iCheckArgs(L, "W", &p) || !viewport())
    return 0;
  viewport()->originX = p[0];
  viewport()->originY = p[1];
  return 0;
}

int LMP_Viewport::getPosition(lua_State* L)
{
  if (!viewport())
    return 0;
  LMP_iPushV2(L, v2{viewport()->originX, viewport()->originY});
  return 1;
}

int LMP_Viewport::setSize(lua_State* L)
{
  double* p = nullptr;
  if (!LMP_iCheckArgs(L, "W", &p) || !viewport())
    return 0;
  viewport()->width = p[0];
  viewport()->height = p[1];
  return 0;
}

int LMP_Viewport::getSize(lua_State* L)
{
  if (!viewport())
    return 0;
  LMP_iPushV2(L, v2{viewport()->width, viewport()->height});
  return 1;
}

int LMP_Viewport::getWidth(lua_State* L)
{
  if (!viewport())
    return 0;
  lua_pushnumber(L, viewport()->width);
  return 1;
}

int LMP_Viewport::getHeight(lua_State* L)
{
  if (!viewport())
    return 0;
  lua_pushnumber(L, viewport()->height);
  return 1;
}

int LMP_Viewport::getCenter(lua_State* L)
{
  if (!viewport())
    return 0;
  pushV3(L, {viewport()->width * 0.5, viewport()->height * 0.5, 0});
  return 1;
}

// The projections hand out zeros when there is no camera.
int LMP_Viewport::toScene(lua_State* L)
{
  double* p = nullptr;
  if (!LMP_iCheckArgs(L, "V", &p) || !viewport())
    return 0;
  v3 out = {0, 0, 0};
  viewport()->toScene({p[0], p[1], p[2]}, out);
  pushV3(L, out);
  return 1;
}

int LMP_Viewport::fromScene(lua_State* L)
{
  double* p = nullptr;
  if (!LMP_iCheckArgs(L, "V", &p) || !viewport())
    return 0;
  v3 out = {0, 0, 0};
  viewport()->fromScene({p[0], p[1], p[2]}, out);
  pushV3(L, out);
  return 1;
}

int LMP_Viewport::getPickRay(lua_State* L)
{
  double* p = nullptr;
  if (!LMP_iCheckArgs(L, "V", &p) || !viewport())
    return 0;
  v3 origin = {0, 0, 0}, direction = {0, 0, 0};
  viewport()->getPickRay(p[0], p[1], origin, direction);
  pushV3(L, direction);
  pushV3(L, origin);
  return 2;
}

int LMP_Viewport::setCallback(lua_State* L)
{
  int32_t id = 0;
  uint32_t ref = 0;
  if (!LMP_iCheckArgs(L, "IF", &id, &ref))
    return 0;
  LMP_iSetCallback(L, &viewCallbacks, id, ref);
  return 0;
}

bool LMP_Viewport::dispatchCallback(LMP_Engine* engine, int id, va_list extra)
{
  lua_State* L = engine ? engine->luaState() : nullptr;
  if (!L || id != CB_EVENT)
    return false;
  uint32_t ref = viewCallbacks.get(CB_EVENT);
  if (ref == 0)
    return false;
  const CTRL_Event* event = va_arg(extra, const CTRL_Event*);
  if (!event)
    return false;
  lua_rawgeti(L, LUA_REGISTRYINDEX, (int)ref);
  LMP_Binding<LMP_Viewport>::push(L, this);
  lua_pushnumber(L, event->type);
  switch (event->type) {
  case EVENT_KEY_DOWN:
  case EVENT_KEY_UP:
    lua_pushnumber(L, event->code);
    lua_pushnumber(L, 0);
    break;
  case EVENT_ZOOM: {
    lua_pushnumber(L, event->amount);
    v2 q = {0, 0};
    CTRL_Generic* controller = engine->getController();
    if (viewport() && controller && event->point) {
      // The event carries the pointer divided by the window width.
      const v2 window = {event->point->x * controller->width, event->point->y * controller->width};
      controller->windowToViewport(viewport(), window, q);
    }
    LMP_iPushV2(L, q);
    break;
  }
  default:
    lua_pushnumber(L, 0);
    lua_pushnumber(L, 0);
    break;
  }
  if (!engine->protectedCall(4, 1)) {
    lua_pop(L, 1);  // the error value
    return false;
  }
  if (!lua_isboolean(L, -1)) {
    lua_pop(L, 1);
    LMP_iReportError(L, "Event function must return 1 boolean value.");
    return false;
  }
  bool consumed = lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  return consumed;
}
