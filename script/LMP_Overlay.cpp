// The overlay script classes newText, newImage and newPolyline: flat objects
// of a scene drawn in 2-D over the viewport. All three also carry the Object
// methods.
#include <lua.hpp>

#include <cfloat>
#include <cstring>

#include "controller/CTRL_Generic.h"
#include "media/VIEW_Font.h"
#include "script/LMP_FontClass.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Text.h"
#include "physics/MDL_Scene.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_MeshClass.h"
#include "script/LMP_Proxy.h"
#include "script/LMP_TextureClass.h"
#include "script/LMP_Values.h"

namespace {

enum { REF_SELF = 1, REF_LOCAL = 2, REF_GLOBAL = 3 };

// Where a new overlay goes: the scene of the first argument (a scene, or an
// object whose scene it joins). False after a report.
bool placeArgument(lua_State* L, MDL_Scene** scene, MDL_Object** parent)
{
  *scene = nullptr;
  *parent = nullptr;
  if (LMP_Object* o = LMP_iToProxy(L, 1)) {
    MDL_Object* obj = o->object();
    // A parent marked deleted is freed at the end of the frame.
    if (!obj || obj->deleted || !obj->scene) {
      LMP_iReportError(L, "Unable to retreive Scene");
      return false;
    }
    *scene = obj->scene;
    *parent = obj;
    return true;
  }
  LMP_Proxy* s = LMP_iCheckProxy(L, 1, "newScene");
  *scene = static_cast<MDL_Scene*>(s->model);
  if (!*scene) {
    LMP_iReportError(L, "Unable to retreive Scene");
    return false;
  }
  return true;
}

// Adds a new object to its scene and, with a parent, as the parent's last
// child; takeFrame first gives it the parent's global frame.
void addToScene(MDL_Object* object, MDL_Scene* scene, MDL_Object* parent, bool takeFrame)
{
  if (parent && takeFrame) {
    const MDL_Frame g = parent->getGlobalFrame();
    MDL_Frame& f = object->editGlobalFrame();
    f = g;
    f.inverseDirty = 1;
  }
  scene->addObject(object);
  if (parent)
    parent->addChild(object);
}

void pushColor(lua_State* L, const double* c)
{
  double* d = LMP_iPushColor(L);
  std::memcpy(d, c, sizeof(double) * 4);
}

// The optional REF_ argument of getCenter and the point it gives.
int pushCenter(lua_State* L, MDL_Object* object, const v3& local)
{
  int32_t ref = REF_GLOBAL;
  if (lua_gettop(L) > 0 && !LMP_iCheckArgs(L, "|I", &ref))
    return 0;
  v3 out = local;
  switch (ref) {
  case REF_SELF:
    break;
  case REF_LOCAL:
    MDL_Frame::localToGlobalPoint(object->getLocalFrame(), local, out);
    break;
  case REF_GLOBAL:
    MDL_Frame::localToGlobalPoint(object->getGlobalFrame(), local, out);
    break;
  default:
    LMP_iReportError(L, "Invalid reference ID");
    return 0;
  }
  LMP_iPushV3(L, out);
  return 1;
}

// setTexture of images and polylines: the last argument must be a texture.
template <class Item>
int setTextureOf(lua_State* L, Item* item)
{
  VIEW_Texture* texture = lua_gettop(L) > 0 ? LMP_iToTexture(L, lua_gettop(L)) : nullptr;
  if (!texture) {
    LMP_iReportError(L, "Texture argument expected");
    return 0;
  }
  if (!item)
    return 0;
  if (!item->material)
    item->setOwnMaterial();
  MDL_Material* m = item->material;
  if (m->layers.count == 0)
    m->appendLayer(MDL_TextureLayer::makeDefault(nullptr));
  if (m->layers.count > 0)
    m->setLayerTexture(m->layers.count - 1, texture);
  return 0;
}

template <class Item>
int getMaterialOf(lua_State* L, Item* item)
{
  if (!item || !item->material)
    return 0;
  return LMP_iPushMaterial(L, item->material);
}

}  // namespace

// ---- newText

class LMP_Text : public LMP_Object {
 public:
  LMP_Text() = default;
  explicit LMP_Text(lua_State* L);

  MDL_Text* text() const { return static_cast<MDL_Text*>(object()); }

  static constexpr const char* scriptName = "newText";
  static const LMP_MethodEntry<LMP_Text> methods[];

  int getText(lua_State* L);
  int setText(lua_State* L);
  int getFont(lua_State* L);
  int setFont(lua_State* L);
  int getBoundingBox(lua_State* L);
  int getCenter(lua_State* L);
};

LMP_BIND_CLASS(Text, LMP_Text);

LMP_Text::LMP_Text(lua_State* L)
{
  CTRL_Generic* controller = LMP_iGetController(L);
  if (!controller)
    return;
  if (lua_gettop(L) >= 2) {
    LMP_iReportError(L, "Too many arguments creating a newText");
    return;
  }
  MDL_Scene* scene;
  MDL_Object* parent;
  if (!placeArgument(L, &scene, &parent))
    return;
  MDL_Text* t = new MDL_Text();
  t->font = controller->defaultFont;
  addToScene(t, scene, parent, true);
  model = static_cast<MDL_Object*>(t);
  LMP_iAssignProxy(&t->proxy, this);
}

const LMP_MethodEntry<LMP_Text> LMP_Text::methods[] = {
    {"getText", &LMP_Text::getText},
    {"setText", &LMP_Text::setText},
    {"getFont", &LMP_Text::getFont},
    {"setFont", &LMP_Text::setFont},
    LMP_iGetter<LMP_Text, &MDL_Text::size>("getSize"),
    LMP_iSetter<LMP_Text, &MDL_Text::size, &MDL_Text::invalidateLayout>("setSize"),
    LMP_iGetter<LMP_Text, &MDL_Text::tabSize>("getTabSize"),
    LMP_iSetter<LMP_Text, &MDL_Text::tabSize, &MDL_Text::invalidateLayout>("setTabSize"),
    LMP_iGetter<LMP_Text, &MDL_Text::color>("getColor"),
    LMP_iSetter<LMP_Text, &MDL_Text::color>("setColor"),
    LMP_iGetter<LMP_Text, &MDL_Text::backgroundColor>("getBackgroundColor"),
    LMP_iSetter<LMP_Text, &MDL_Text::backgroundColor>("setBackgroundColor"),
    {"getBoundingBox", &LMP_Text::getBoundingBox},
    {"getCenter", &LMP_Text::getCenter},
    {nullptr, nullptr},
};

int LMP_Text::getText(lua_State* L)
{
  if (!text())
    return 0;
  lua_pushstring(L, text()->text ? text()->text : "");
  return 1;
}

int LMP_Text::setText(lua_State* L)
{
  const char* s = nullptr;
  if (!LMP_iCheckArgs(L, "S", &s) || !text())
    return 0;
  text()->setText(s);
  return 0;
}

int LMP_Text::getFont(lua_State* L)
{
  if (!text() || !text()->font)
    return 0;
  return LMP_iPushFont(L, text()->font);
}

int LMP_Text::setFont(lua_State* L)
{
  LMP_Proxy* p = LMP_iCheckProxy(L, lua_gettop(L) > 0 ? lua_gettop(L) : 1, "newFont");
  if (!text())
    return 0;
  text()->font = static_cast<VIEW_Font*>(p->model);
  text()->invalidateLayout();
  return 0;
}

int LMP_Text::getBoundingBox(lua_State* L)
{
  MDL_Text* t = text();
  if (!t)
    return 0;
  t->layout();
  lua_createtable(L, 4, 0);
  for (int i = 0; i < 4; i++) {
    lua_pushnumber(L, t->bounds[i]);
    lua_rawseti(L, -2, i + 1);
  }
  return 1;
}

int LMP_Text::getCenter(lua_State* L)
{
  MDL_Text* t = text();
  if (!t)
    return 0;
  t->layout();
  const v3 c = {(t->bounds[0] + t->bounds[2]) * 0.5, (t->bounds[1] + t->bounds[3]) * 0.5, 0};
  return pushCenter(L, t, c);
}

// ---- newImage

class LMP_Image : public LMP_Object {
 public:
  LMP_Image() = default;
  explicit LMP_Image(lua_State* L);

  const char* className() const override { return "newImage"; }
  MDL_Image* image() const { return static_cast<MDL_Image*>(object()); }

  static constexpr const char* scriptName = "newImage";
  static const LMP_MethodEntry<LMP_Image> methods[];

  int setTexture(lua_State* L) { return setTextureOf(L, image()); }
  int getTexture(lua_State* L);
  int getColor(lua_State* L);
  int setColor(lua_State* L);
  int setOwnMaterial(lua_State* L);
  int getCenter(lua_State* L);
  int getAspectRatio(lua_State* L);
  int getMaterial(lua_State* L) { return getMaterialOf(L, image()); }
};

LMP_BIND_CLASS(Image, LMP_Image);

LMP_Image::LMP_Image(lua_State* L)
{
  if (lua_gettop(L) > 2)
    LMP_iReportError(L, "Too much arguments for %s", className());
  MDL_Scene* scene;
  MDL_Object* parent;
  if (!placeArgument(L, &scene, &parent))
    return;
  VIEW_Texture* texture = nullptr;
  if (lua_gettop(L) >= 2)
    texture = LMP_iToTexture(L, 2);
  MDL_Image* img = new MDL_Image();
  if (texture) {
    img->setOwnMaterial();
    img->material->appendLayer(MDL_TextureLayer::makeDefault(texture));
  }
  addToScene(img, scene, parent, texture == nullptr);
  model = static_cast<MDL_Object*>(img);
  LMP_iAssignProxy(&img->proxy, this);
}

const LMP_MethodEntry<LMP_Image> LMP_Image::methods[] = {
    {"setTexture", &LMP_Image::setTexture},
    {"getTexture", &LMP_Image::getTexture},
    {"getColor", &LMP_Image::getColor},
    {"setColor", &LMP_Image::setColor},
    {"setOwnMaterial", &LMP_Image::setOwnMaterial},
    {"getCenter", &LMP_Image::getCenter},
    {"getAspectRatio", &LMP_Image::getAspectRatio},
    {"getMaterial", &LMP_Image::getMaterial},
    {nullptr, nullptr},
};

int LMP_Image::getTexture(lua_State* L)
{
  MDL_Image* img = image();
  if (!img || !img->material || img->material->layers.count == 0)
    return 0;
  VIEW_Texture* t = img->material->layers[0].texture;
  if (!t)
    return 0;
  return LMP_iPushTexture(L, t);
}

int LMP_Image::getColor(lua_State* L)
{
  if (!image() || !image()->material)
    return 0;
  pushColor(L, image()->material->diffuse);
  return 1;
}

int LMP_Image::setColor(lua_State* L)
{
  double* c = nullptr;
  if (!LMP_iCheckArgs(L, "C", &c) || !image())
    return 0;
  if (!image()->material)
    image()->setOwnMaterial();
  std::memcpy(image()->material->diffuse, c, sizeof(double) * 4);
  return 0;
}

int LMP_Image::setOwnMaterial(lua_State* L)
{
  LMP_iCheckArgs(L, "");  // reports any argument
  if (lua_gettop(L) > 0)
    return 0;
  if (image())
    image()->setOwnMaterial();
  return 0;
}

int LMP_Image::getCenter(lua_State* L)
{
  if (!image())
    return 0;
  return pushCenter(L, image(), {0.5, 0.5 * image()->getAspectRatio(), 0});
}

int LMP_Image::getAspectRatio(lua_State* L)
{
  if (!image())
    return 0;
  lua_pushnumber(L, image()->getAspectRatio());
  return 1;
}

// ---- newPolyline

class LMP_Polyline : public LMP_Object {
 public:
  LMP_Polyline() = default;
  explicit LMP_Polyline(lua_State* L);

  const char* className() const override { return "newPolyline"; }
  MDL_Polyline* line() const { return static_cast<MDL_Polyline*>(object()); }

  static constexpr const char* scriptName = "newPolyline";
  static const LMP_MethodEntry<LMP_Polyline> methods[];

  int addPoints(lua_State* L);
  int setPoints(lua_State* L);
  int getPoint(lua_State* L);
  int getPointsCount(lua_State* L);
  int clear(lua_State* L);
  int getColor(lua_State* L);
  int setColor(lua_State* L);
  int getFillColor(lua_State* L);
  int setFillColor(lua_State* L);
  int distanceToPoint(lua_State* L);
  int setTexture(lua_State* L) { return setTextureOf(L, line()); }
  int getMaterial(lua_State* L) { return getMaterialOf(L, line()); }
};

LMP_BIND_CLASS(Polyline, LMP_Polyline);

LMP_Polyline::LMP_Polyline(lua_State* L)
{
  if (lua_gettop(L) > 2)
    LMP_iReportError(L, "Too much arguments for %s", className());
  MDL_Scene* scene;
  MDL_Object* parent;
  if (!placeArgument(L, &scene, &parent))
    return;
  MDL_Polyline* p = nullptr;
  if (lua_gettop(L) >= 2) {
    LMP_Proxy* src = LMP_iCheckProxy(L, 2, "newPolyline");
    MDL_Object* source = static_cast<MDL_Object*>(src->model);
    if (!source)
      return;
    // A copy of its own class: the polyline at the root is copied, and the
    // bones its copied animated meshes use are copied into this world too.
    MDL_Object* copy = scene->clone(source, OBJECT_POLYLINE);
    if (!copy || copy->type != OBJECT_POLYLINE)
      return;
    p = static_cast<MDL_Polyline*>(copy);
    if (parent)
      parent->addChild(p);
  } else {
    p = new MDL_Polyline();
    addToScene(p, scene, parent, true);
  }
  model = static_cast<MDL_Object*>(p);
  LMP_iAssignProxy(&p->proxy, this);
}

const LMP_MethodEntry<LMP_Polyline> LMP_Polyline::methods[] = {
    {"addPoints", &LMP_Polyline::addPoints},
    {"setPoints", &LMP_Polyline::setPoints},
    {"getPoint", &LMP_Polyline::getPoint},
    {"getPointsCount", &LMP_Polyline::getPointsCount},
    {"clear", &LMP_Polyline::clear},
    {"getColor", &LMP_Polyline::getColor},
    {"setColor", &LMP_Polyline::setColor},
    {"getFillColor", &LMP_Polyline::getFillColor},
    {"setFillColor", &LMP_Polyline::setFillColor},
    LMP_iGetter<LMP_Polyline, &MDL_Polyline::thickness>("getThickness"),
    LMP_iSetter<LMP_Polyline, &MDL_Polyline::thickness, &MDL_Polyline::invalidateOutline>("setThickness"),
    LMP_iGetter<LMP_Polyline, &MDL_Polyline::closed>("getClosed"),
    LMP_iSetter<LMP_Polyline, &MDL_Polyline::closed, &MDL_Polyline::invalidateOutline>("setClosed"),
    {"distanceToPoint", &LMP_Polyline::distanceToPoint},
    {"setTexture", &LMP_Polyline::setTexture},
    {"getMaterial", &LMP_Polyline::getMaterial},
    {nullptr, nullptr},
};

int LMP_Polyline::addPoints(lua_State* L)
{
  if (lua_gettop(L) != 1 || !lua_istable(L, 1)) {
    LMP_iReportError(L, "Wrong argument, Table of 2D vector argument expected");
    return 0;
  }
  MDL_Polyline* p = line();
  if (!p)
    return 0;
  const int n = (int)lua_rawlen(L, 1);
  for (int i = 1; i <= n; i++) {
    lua_rawgeti(L, 1, i);
    const double* v = LMP_iToV2(L, -1);
    if (!v)
      LMP_iReportError(L, "Wrong element in table, 2D vector element expected");
    else
      p->addPoint({v[0], v[1]});
    lua_pop(L, 1);
  }
  return 0;
}

int LMP_Polyline::setPoints(lua_State* L)
{
  if (line())
    line()->clearPoints();
  return addPoints(L);
}

int LMP_Polyline::getPoint(lua_State* L)
{
  int32_t i = 0;
  if (!LMP_iCheckArgs(L, "I", &i) || !line())
    return 0;
  // Indices outside 1..count give nothing.
  if (i < 1 || i > line()->points.count)
    return 0;
  LMP_iPushV2(L, line()->points[i - 1]);
  return 1;
}

int LMP_Polyline::getPointsCount(lua_State* L)
{
  if (!line())
    return 0;
  lua_pushnumber(L, line()->points.count);
  return 1;
}

int LMP_Polyline::clear(lua_State*)
{
  if (line())
    line()->clearPoints();
  return 0;
}

int LMP_Polyline::getColor(lua_State* L)
{
  if (!line() || !line()->material)
    return 0;
  pushColor(L, line()->material->diffuse);
  return 1;
}

// With no argument or nil the optional colour is absent: test for that
// before the checker, which would refuse a nil where a colour may stand.
static bool colourArgument(lua_State* L, double** c, bool* ok)
{
  *c = nullptr;
  *ok = true;
  if (lua_gettop(L) == 0 || lua_isnil(L, 1))
    return false;
  *ok = LMP_iCheckArgs(L, "|C", c) != 0 && *c;
  return *ok;
}

int LMP_Polyline::setColor(lua_State* L)
{
  double* c;
  bool ok;
  bool given = colourArgument(L, &c, &ok);
  MDL_Polyline* p = line();
  if (!ok || !p)
    return 0;
  if (!given) {
    p->outlineOn = 0;
    return 0;
  }
  if (!p->material)
    p->setOwnMaterial();
  std::memcpy(p->material->diffuse, c, sizeof(double) * 4);
  p->outlineOn = 1;
  return 0;
}

int LMP_Polyline::getFillColor(lua_State* L)
{
  if (!line() || !line()->fillOn)
    return 0;
  pushColor(L, line()->fillColor);
  return 1;
}

int LMP_Polyline::setFillColor(lua_State* L)
{
  double* c;
  bool ok;
  bool given = colourArgument(L, &c, &ok);
  MDL_Polyline* p = line();
  if (!ok || !p)
    return 0;
  if (!given) {
    p->fillOn = 0;
    return 0;
  }
  std::memcpy(p->fillColor, c, sizeof(double) * 4);
  p->fillOn = 1;
  return 0;
}

int LMP_Polyline::distanceToPoint(lua_State* L)
{
  double* v = nullptr;
  if (!LMP_iCheckArgs(L, "W", &v) || !line())
    return 0;
  lua_pushnumber(L, line()->distanceToPoint({v[0], v[1]}));
  return 1;
}
