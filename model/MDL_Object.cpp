#include "model/MDL_Object.h"

#include <tinyxml.h>

#include <cstdlib>
#include <cstring>

#include "model/MDL_ObjectLoad.h"
#include "base/LMP_ProxyLink.h"
#include "base/MDL_XmlValues.h"

MDL_TouchedVolumes* MDL_iTouched = nullptr;

const char* const MDL_objectTypeNames[MDL_OBJECT_TYPE_COUNT] = {
    "None",  "Lamp",  "Camera", "Mesh",     "RigidBody",       "Sound",  "Bone", "AnimatedMesh",
    "Text",  "RtfText", "Image", "Mike", "Polyline", "CollisionVolume", "Locator",
};

static int lowerAscii(int c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

bool MDL_iSameName(const char* a, const char* b) {
  if (!a || !b) return false;
  for (;; ++a, ++b) {
    int ca = lowerAscii(static_cast<unsigned char>(*a));
    int cb = lowerAscii(static_cast<unsigned char>(*b));
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

int32_t MDL_iObjectTypeFromName(const char* name) {
  for (int i = 0; i < MDL_OBJECT_TYPE_COUNT; ++i)
    if (MDL_iSameName(name, MDL_objectTypeNames[i])) return i;
  return -1;
}

static char* copyText(const char* text) {
  if (!text) return nullptr;
  size_t n = std::strlen(text) + 1;
  char* out = static_cast<char*>(std::malloc(n));
  if (out) std::memcpy(out, text, n);
  return out;
}

MDL_Object::MDL_Object() {
  MDL_iResetFrame(globalFrame);
  MDL_iResetFrame(localFrame);
}

MDL_Object::MDL_Object(const MDL_Object& source) {
  // Bring both of the source's frames up to date first: the copy has no
  // parent to rebuild a stale frame against, and cloning then marks its
  // global frame stale, which would leave it with no valid frame at all.
  // Validation only fills the source's caches, it does not move it.
  MDL_Object& src = const_cast<MDL_Object&>(source);
  src.validateGlobalFrame();
  src.validateLocalFrame();
  type = source.type;
  name = copyText(source.name);
  moved = source.moved;
  maxMouseMove = source.maxMouseMove;
  state = source.state;
  globalFrame = source.globalFrame;
  globalValid = source.globalValid;
  localFrame = source.localFrame;
  localValid = source.localValid;
}

MDL_Object::~MDL_Object() {
  std::free(name);
  name = nullptr;
  LMP_iReleaseProxy(&proxy);
}

bool MDL_Object::hitTest(double, double) { return false; }
bool MDL_Object::isValid() { return true; }

// Global frame from the local one and the parent's global frame, which the
// caller has made valid.
static void composeGlobalFrame(MDL_Object* o) {
  o->globalFrame = o->localFrame;
  if (o->parent) MDL_Frame::localToGlobalFrame(o->parent->globalFrame, o->globalFrame);
  o->globalValid = 1;
}

void MDL_Object::rebuildGlobalFrame() {
  if (!parent || parent->globalValid) {
    composeGlobalFrame(this);
    return;
  }
  // Rebuild downwards from below the nearest ancestor whose frame is valid.
  MDL_ObjectStack stale;
  for (MDL_Object* o = this; o && !o->globalValid; o = o->parent) stale.push(o);
  while (!stale.empty()) composeGlobalFrame(stale.pop());
}

void MDL_Object::validateLocalFrame() {
  if (localValid) return;
  localFrame = globalFrame;
  if (parent) {
    parent->validateGlobalFrame();
    MDL_Frame::globalToLocalFrame(parent->globalFrame, localFrame);
  }
  localValid = 1;
}

void MDL_Object::invalidateDescendants() {
  // Each descendant is expressed against its parent's frame from before the
  // edit on the way down, and let go of its global frame only once its own
  // descendants have been expressed against it. Children without children
  // of their own (a body's volumes) need no walk.
  bool leaves = true;
  for (MDL_Object* c = firstChild; c && leaves; c = c->nextSibling) leaves = !c->firstChild;
  if (leaves) {
    for (MDL_Object* c = firstChild; c; c = c->nextSibling) {
      c->validateLocalFrame();
      c->globalValid = 0;
      c->moved = 1;
      MDL_iTouch(c);
    }
    return;
  }
  MDL_iWalkBelow(
      this,
      [](MDL_Object* c) {
        c->validateLocalFrame();
        return MDL_Walk::into;
      },
      [](MDL_Object* c, MDL_Object*) {
        c->globalValid = 0;
        c->moved = 1;
        MDL_iTouch(c);
      });
}

MDL_Frame& MDL_Object::editLocalFrame() {
  moved = 1;
  MDL_iTouch(this);
  validateLocalFrame();
  invalidateDescendants();
  globalValid = 0;
  return localFrame;
}

MDL_Frame& MDL_Object::editGlobalFrame() {
  moved = 1;
  MDL_iTouch(this);
  validateGlobalFrame();
  invalidateDescendants();
  localValid = 0;
  return globalFrame;
}

void MDL_Object::addChild(MDL_Object* child) {
  if (!child) return;
  if (!firstChild) {
    firstChild = child;
  } else {
    MDL_Object* last = firstChild;
    while (last->nextSibling) last = last->nextSibling;
    last->nextSibling = child;
  }
  child->moved = 1;
  MDL_iTouch(child);
  child->validateGlobalFrame();
  child->invalidateDescendants();
  child->localValid = 0;
  child->parent = this;
}

void MDL_Object::unlinkFromParent() {
  if (parent) {
    // Walk the parent's chain rather than trusting the links: an object
    // unlinked once must not splice a chain it is no longer part of.
    MDL_Object** link = &parent->firstChild;
    while (*link && *link != this) link = &(*link)->nextSibling;
    if (*link == this) *link = nextSibling;
  }
  nextSibling = nullptr;
  parent = nullptr;
  MDL_iTouch(this);
}

bool MDL_Object::hasAncestor(const MDL_Object* ancestor) const {
  if (!ancestor) return false;
  for (const MDL_Object* p = parent; p; p = p->parent)
    if (p == ancestor) return true;
  return false;
}

// Applies change to every descendant, pre-order.
template <class Change>
static void changeDescendants(MDL_Object* root, Change&& change) {
  MDL_iWalkBelow(root, [&](MDL_Object* c) {
    change(c);
    return MDL_Walk::into;
  });
}

void MDL_Object::setState(uint32_t bits) {
  changeDescendants(this, [bits](MDL_Object* c) { c->state = bits; });
}

void MDL_Object::enableState(uint32_t bits) {
  changeDescendants(this, [bits](MDL_Object* c) { c->state |= bits; });
}

void MDL_Object::disableState(uint32_t bits) {
  changeDescendants(this, [bits](MDL_Object* c) { c->state &= ~bits; });
}

void MDL_Object::toggleState(uint32_t bits) {
  changeDescendants(this, [bits](MDL_Object* c) { c->state ^= bits; });
}

void MDL_Object::setMaxMouseMove(double distance) {
  changeDescendants(this, [distance](MDL_Object* c) { c->maxMouseMove = distance; });
}

// First direct child of o with the name, or null.
static MDL_Object* childNamed(MDL_Object* o, const char* wanted) {
  for (MDL_Object* c = o->firstChild; c; c = c->nextSibling)
    if (MDL_iSameName(c->name, wanted)) return c;
  return nullptr;
}

MDL_Object* MDL_Object::getDescendant(const char* wanted) {
  if (!wanted) return nullptr;
  // The direct children of an object are looked at before anything below
  // them: each object of the subtree, in pre-order, has its children looked
  // at in turn.
  MDL_Object* found = childNamed(this, wanted);
  if (found) return found;
  MDL_iWalkBelow(this, [&](MDL_Object* c) {
    found = childNamed(c, wanted);
    return found ? MDL_Walk::stop : MDL_Walk::into;
  });
  return found;
}

MDL_RigidBody* MDL_Object::getRigidBody() {
  for (MDL_Object* p = parent; p; p = p->parent)
    if (p->type == OBJECT_RIGID_BODY) return reinterpret_cast<MDL_RigidBody*>(p);
  return nullptr;
}

void MDL_Object::setName(const char* text) {
  char* copy = copyText(text);
  std::free(name);
  name = copy;
}

bool MDL_Object::load(const TiXmlElement* element) {
  if (!element) return true;
  setName(element->Attribute("name"));
  const TiXmlElement* matrix = element->FirstChildElement("matrix");
  if (!matrix) return true;
  // Missing numbers read as those of the identity transform, so a short
  // matrix still gives a usable frame.
  double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  MDL_iParseNumbers(MDL_iElementText(matrix), m, 16);
  validateLocalFrame();
  moved = 1;
  MDL_iTouch(this);
  invalidateDescendants();
  globalValid = 0;
  MDL_iSetFrameFromColumns(localFrame, m);
  return true;
}
