// Scene objects: the tree of everything that can stand in a scene, with a
// lazily kept pair of frames (global: relative to the world, local: relative
// to the parent). Readers validate the frame they read; writers go through
// editLocalFrame / editGlobalFrame so that descendants keep their local
// frames and follow.
#pragma once

#include <cfloat>
#include <cstdint>
#include <vector>

#include "base/CTRL_Array.h"
#include "math/MDL_Frame.h"

// A record's link to its script proxy (the same alias as script/LMP_Proxy.h).
class LMP_Proxy;
using MDL_Proxy = LMP_Proxy*;

class TiXmlElement;
class MDL_Scene;
class MDL_RigidBody;

// Object type codes; scene files name them by MDL_objectTypeNames, scripts by
// the OBJECT_ constants of the same values.
enum MDL_ObjectType : int32_t {
  OBJECT_NONE = 0,
  OBJECT_LAMP = 1,
  OBJECT_CAMERA = 2,
  OBJECT_MESH = 3,
  OBJECT_RIGID_BODY = 4,
  OBJECT_SOUND = 5,
  OBJECT_BONE = 6,
  OBJECT_ANIMATED_MESH = 7,
  OBJECT_TEXT = 8,
  OBJECT_RTF_TEXT = 9,  // named in the table, never built
  OBJECT_IMAGE = 10,
  OBJECT_MIKE = 11,
  OBJECT_POLYLINE = 12,
  OBJECT_COLLISION_VOLUME = 13,
  OBJECT_LOCATOR = 14,
};
constexpr int MDL_OBJECT_TYPE_COUNT = 15;

// Type names indexed by code.
extern const char* const MDL_objectTypeNames[MDL_OBJECT_TYPE_COUNT];
// Code of a type name compared without regard to ASCII case; -1 when unknown.
int32_t MDL_iObjectTypeFromName(const char* name);

// State bits.
constexpr uint32_t STATE_ACTIVE = 1;           // receives mouse callbacks
constexpr uint32_t STATE_MOVABLE = 2;          // may be dragged
constexpr uint32_t STATE_VISIBLE = 4;          // drawn
constexpr uint32_t STATE_CONSTRAIN_MOUSE = 8;  // pointer held on the grab point
constexpr uint32_t STATE_BACKGROUND = 16;      // ignored by picking
constexpr uint32_t STATE_ALL = 31;

// ASCII case-insensitive equality of two NUL-terminated strings (null never matches).
bool MDL_iSameName(const char* a, const char* b);

class MDL_Object {
 public:
  MDL_Object();
  // Copy of one object without its links: no proxy, parent, children,
  // sibling or scene, not deleted.
  MDL_Object(const MDL_Object& source);
  MDL_Object& operator=(const MDL_Object&) = delete;
  // Frees the name and releases the proxy link.
  virtual ~MDL_Object();

  // True when the 2-D point (object's local x-y plane) lies on the object.
  virtual bool hitTest(double x, double y);
  // Reads "name" and "matrix" from a scene-file element.
  virtual bool load(const TiXmlElement* element);
  // Always true.
  virtual bool isValid();

  void validateGlobalFrame() {
    if (!globalValid) rebuildGlobalFrame();
  }
  void validateLocalFrame();
  // Frame for writing; after writing the basis, set its inverse-dirty flag.
  MDL_Frame& editLocalFrame();
  MDL_Frame& editGlobalFrame();
  // Up-to-date frames for reading.
  const MDL_Frame& getGlobalFrame() { validateGlobalFrame(); return globalFrame; }
  const MDL_Frame& getLocalFrame() { validateLocalFrame(); return localFrame; }

  // Composes the global frame from the nearest valid ancestor's down.
  void rebuildGlobalFrame();

  // Every descendant keeps its local frame and will follow this object.
  void invalidateDescendants();
  // Appends child as the last child; the child keeps its place in the world.
  // The caller unlinks the child from any previous parent first.
  void addChild(MDL_Object* child);
  // Takes this object out of its parent's child chain and clears its parent
  // and sibling links. Safe to call on an object that is not linked.
  void unlinkFromParent();
  // True when ancestor is this object's parent or a further ancestor.
  bool hasAncestor(const MDL_Object* ancestor) const;

  // Recursive setters: every descendant, pre-order, not this object.
  void setState(uint32_t bits);
  void enableState(uint32_t bits);
  void disableState(uint32_t bits);
  void toggleState(uint32_t bits);
  void setMaxMouseMove(double distance);

  // Direct children first, then each child's subtree in turn; null when none.
  MDL_Object* getDescendant(const char* name);
  // Nearest ancestor of type RigidBody, or null (the object itself is not considered).
  MDL_RigidBody* getRigidBody();
  // Replaces the name with a copy (null clears it).
  void setName(const char* text);

  MDL_Proxy proxy = nullptr;  // the script proxy, holding one count of it
  int32_t type = OBJECT_NONE;
  char* name = nullptr;
  MDL_Object* firstChild = nullptr;
  MDL_Object* nextSibling = nullptr;
  uint8_t moved = 1;
  uint8_t deleted = 0;
  double maxMouseMove = DBL_MAX;
  MDL_Object* parent = nullptr;
  MDL_Scene* scene = nullptr;
  uint32_t state = STATE_VISIBLE;
  MDL_Frame globalFrame;
  uint8_t globalValid = 1;
  MDL_Frame localFrame;
  uint8_t localValid = 1;
};

// While a contact pass runs it keeps here the collision volumes whose place,
// parent, collision layer or mask, or deleted mark changed, so that after a
// pair it takes only those anew (null when no pass runs). A volume may be
// listed more than once; lost is set when the list could not grow.
struct MDL_TouchedVolumes {
  CTRL_Array<MDL_Object*> list;
  bool lost = false;
};
extern MDL_TouchedVolumes* MDL_iTouched;
inline void MDL_iTouch(MDL_Object* o) {
  if (MDL_iTouched && o->type == OBJECT_COLLISION_VOLUME && !MDL_iTouched->list.push(o)) MDL_iTouched->lost = true;
}

// A stack of objects for walking trees without recursion: the first few
// entries live in place, deeper walks grow onto the heap.
class MDL_ObjectStack {
 public:
  bool empty() const { return count == 0; }
  void push(MDL_Object* o) {
    if (count < kInline) inlined[count] = o;
    else more.push_back(o);
    ++count;
  }
  MDL_Object* pop() {
    --count;
    if (count < kInline) return inlined[count];
    MDL_Object* o = more.back();
    more.pop_back();
    return o;
  }
  MDL_Object* top() const { return count <= kInline ? inlined[count - 1] : more.back(); }

 private:
  static constexpr int kInline = 32;
  MDL_Object* inlined[kInline];
  int count = 0;
  std::vector<MDL_Object*> more;
};

// What a tree walk does after entering an object.
enum class MDL_Walk { into, over, stop };

// Walks the subtree below root (root itself excluded) in pre-order and
// sibling order, with an explicit stack so that any depth works. enter(o)
// says whether to walk into o's subtree, over it (o is then not left), or
// stop the whole walk; leave(o, above) runs once o's subtree is done, above
// being the object whose child chain o was reached through. Each object's
// next sibling is read before it is left, so leave may unlink it.
template <class Enter, class Leave>
void MDL_iWalkBelow(MDL_Object* root, Enter&& enter, Leave&& leave) {
  MDL_ObjectStack path;
  MDL_Object* above = root;
  MDL_Object* o = root->firstChild;
  for (;;) {
    if (o) {
      MDL_Walk step = enter(o);
      if (step == MDL_Walk::stop) return;
      if (step == MDL_Walk::over) {
        o = o->nextSibling;
      } else if (o->firstChild) {
        path.push(above);
        above = o;
        o = o->firstChild;
      } else {
        MDL_Object* next = o->nextSibling;
        leave(o, above);
        o = next;
      }
      continue;
    }
    if (above == root) return;
    MDL_Object* done = above;
    above = path.pop();
    o = done->nextSibling;
    leave(done, above);
  }
}

// The walk above with nothing to do on leaving.
template <class Enter>
void MDL_iWalkBelow(MDL_Object* root, Enter&& enter) {
  MDL_iWalkBelow(root, enter, [](MDL_Object*, MDL_Object*) {});
}
