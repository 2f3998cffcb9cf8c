#include "physics/MDL_Scene.h"

#include "model/MDL_Text.h"

#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/CTRL_Keys.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_SceneStages.h"
#include "base/LMP_ProxyLink.h"

// Every list entry is an object of the world; the lists of bodies and bones
// hold derived records whose MDL_Object part comes first.
template <class T>
static MDL_Object* asObject(T* entry) {
  return reinterpret_cast<MDL_Object*>(entry);
}

template <class T>
static void removeDeleted(CTRL_Array<T*>& list) {
  int kept = 0;
  for (int i = 0; i < list.count; ++i)
    if (!asObject(list.data[i])->deleted) list.data[kept++] = list.data[i];
  if (kept != list.count) list.resize(kept);
}

void MDL_iRemoveDeletedEntries(CTRL_Array<MDL_Object*>& list) { removeDeleted(list); }

int MDL_iCompareDepth(MDL_Object* a, MDL_Object* b) {
  double za = a->getGlobalFrame().position.z;
  double zb = b->getGlobalFrame().position.z;
  return za < zb ? -1 : (za > zb ? 1 : 0);
}

static char* copyText(const char* text) {
  if (!text) return nullptr;
  size_t n = std::strlen(text) + 1;
  char* out = static_cast<char*>(std::malloc(n));
  if (out) std::memcpy(out, text, n);
  return out;
}

MDL_Scene::MDL_Scene(const char* sceneName) : name(copyText(sceneName)) {
  gravity = v3{0.0, 0.0, static_cast<double>(-9.81f)};
  integrationStep = static_cast<double>(0.002f);
  friction = static_cast<double>(0.8f);
  elasticity = static_cast<double>(0.6f);
  bounds[0] = -DBL_MAX;
  bounds[1] = DBL_MAX;
  bounds[2] = -DBL_MAX;
  bounds[3] = DBL_MAX;
  bounds[4] = 0.0;
  bounds[5] = DBL_MAX;
  activeVolumes.owns = 0;
}

MDL_Scene::~MDL_Scene() {
  for (int i = 0; i < animations.count; ++i) MDL_iDestroyAnimation(animations.data[i]);
  animations.resize(0);
  for (int i = 0; i < objects.count; ++i) delete objects.data[i];
  objects.resize(0);
  for (int i = 0; i < springs.count; ++i) MDL_iDestroySpring(springs.data[i]);
  springs.resize(0);
  for (int i = 0; i < joints.count; ++i) MDL_iDestroyJoint(joints.data[i]);
  joints.resize(0);
  for (int i = 0; i < sweepEntries.count; ++i) delete sweepEntries.data[i];
  sweepEntries.resize(0);
  std::free(name);
  name = nullptr;
  overlays.resize(0);
  sounds.resize(0);
  meshes.resize(0);
  rigidBodies.resize(0);
  collisionVolumes.resize(0);
  lamps.resize(0);
  bones.resize(0);
  activeVolumes.owns = 1;
  activeVolumes.resize(0);
  LMP_iReleaseProxy(&proxy);
}

void MDL_Scene::addObject(MDL_Object* object) {
  if (!object) return;
  objects.append(object);
  switch (object->type) {
    case OBJECT_LAMP: lamps.append(object); break;
    case OBJECT_MESH:
    case OBJECT_ANIMATED_MESH: meshes.append(object); break;
    case OBJECT_RIGID_BODY: rigidBodies.append(reinterpret_cast<MDL_RigidBody*>(object)); break;
    case OBJECT_SOUND: sounds.append(object); break;
    case OBJECT_BONE: bones.append(static_cast<MDL_Bone*>(object)); break;
    case OBJECT_TEXT:
    case OBJECT_RTF_TEXT:
    case OBJECT_IMAGE:
    case OBJECT_POLYLINE: overlays.append(object); break;
    case OBJECT_COLLISION_VOLUME: {
      MDL_CollisionVolume* volume = static_cast<MDL_CollisionVolume*>(object);
      collisionVolumes.append(volume);
      sweepEntries.append(new MDL_SweepEntry{1, 0.0, volume});
      sweepEntries.append(new MDL_SweepEntry{0, 0.0, volume});
      break;
    }
    default: break;
  }
  object->scene = this;
  // Keep the local frame as the placement: the global frame is rebuilt from it.
  object->validateLocalFrame();
  object->invalidateDescendants();
  object->globalValid = 0;
  MDL_iTouch(object);
}

MDL_Spring* MDL_Scene::addSpring() {
  MDL_Spring* spring = MDL_iNewSpring();
  if (spring) springs.append(spring);
  return spring;
}

MDL_Joint* MDL_Scene::addJoint() {
  MDL_Joint* joint = MDL_iNewJoint();
  if (joint) joints.append(joint);
  return joint;
}

MDL_Object* MDL_Scene::cloneObject(MDL_Object* source, MDL_Remap* remap, bool ownRoot) {
  if (!source) return nullptr;
  if (remap)
    if (MDL_Object* made = remap->find(source)) return made;
  MDL_Object* copy = nullptr;
  switch (source->type) {
    case OBJECT_NONE: copy = new MDL_Object(*source); break;
    case OBJECT_LAMP: copy = new MDL_Lamp(*static_cast<MDL_Lamp*>(source)); break;
    case OBJECT_CAMERA: copy = new MDL_Camera(*static_cast<MDL_Camera*>(source)); break;
    case OBJECT_SOUND: copy = new MDL_Sound(*static_cast<MDL_Sound*>(source)); break;
    case OBJECT_COLLISION_VOLUME:
      copy = new MDL_CollisionVolume(*static_cast<MDL_CollisionVolume*>(source));
      break;
    case OBJECT_LOCATOR: copy = new MDL_Locator(*static_cast<MDL_Locator*>(source)); break;
    case OBJECT_MESH: copy = new MDL_Mesh(*static_cast<MDL_Mesh*>(source)); break;
    case OBJECT_BONE: copy = new MDL_Bone(*static_cast<MDL_Bone*>(source)); break;
    case OBJECT_ANIMATED_MESH: copy = new MDL_AnimatedMesh(*static_cast<MDL_AnimatedMesh*>(source)); break;
    case OBJECT_RIGID_BODY: copy = MDL_iCloneRigidBody(source); break;
    // Listeners and polylines are copied only as the root of a copy of
    // their own class, never as the descendants of another object's copy.
    case OBJECT_MIKE:
      if (ownRoot) copy = new MDL_Mike(*static_cast<MDL_Mike*>(source));
      break;
    case OBJECT_POLYLINE:
      if (ownRoot) copy = MDL_iCloneOverlay(source);
      break;
    default: break;  // texts and images have no copy
  }
  if (copy && remap) remap->add(source, copy);
  return copy;
}

// Adds a fresh copy to the world and points a copied animated mesh at the
// copies of its bones: those the remap table pairs, or new ones recorded
// there that join the world when the walk reaches them. Without a table a
// bone of another world (freed with that world) is dropped.
static void adoptCopy(MDL_Scene& world, MDL_Object* copy, MDL_Remap* remap) {
  world.addObject(copy);
  if (copy->type != OBJECT_ANIMATED_MESH) return;
  auto* mesh = static_cast<MDL_AnimatedMesh*>(copy);
  for (int32_t i = 0; i < mesh->boneCount && mesh->boneList; ++i) {
    MDL_Bone*& bone = mesh->boneList[i];
    if (!bone) continue;
    if (remap) bone = static_cast<MDL_Bone*>(MDL_Scene::cloneObject(bone, remap));
    else if (static_cast<MDL_Object*>(bone)->scene != &world) bone = nullptr;
  }
}

MDL_Object* MDL_Scene::cloneTree(MDL_Object* source, MDL_Remap* remap, int32_t rootType) {
  MDL_Object* copy = cloneObject(source, remap, source && source->type == rootType);
  if (!copy) return nullptr;
  if (copy->scene == this) return copy;  // already added through another path
  adoptCopy(*this, copy, remap);
  // The source subtree is walked in pre-order with an explicit stack; each
  // entry is the copy that takes the children of the object being walked
  // and its last child copy so far. Children without a copy (overlays) are
  // left out with their subtrees.
  struct Taker {
    MDL_Object* copy;
    MDL_Object* last;
  };
  std::vector<Taker> takers{{copy, nullptr}};
  MDL_iWalkBelow(
      source,
      [&](MDL_Object* child) {
        MDL_Object* c = cloneObject(child, remap);
        if (!c || c->scene == this) return MDL_Walk::over;
        adoptCopy(*this, c, remap);
        Taker& taker = takers.back();
        if (taker.last) taker.last->nextSibling = c;
        else taker.copy->firstChild = c;
        taker.last = c;
        c->parent = taker.copy;
        c->globalValid = 0;
        // What lies below the root's children follows its parent as moved.
        if (takers.size() > 1) c->moved = 1;
        takers.push_back({c, nullptr});
        return MDL_Walk::into;
      },
      [&](MDL_Object*, MDL_Object*) { takers.pop_back(); });
  return copy;
}

MDL_Object* MDL_Scene::clone(MDL_Object* source, int32_t rootType) {
  MDL_Remap remap;
  MDL_Object* copy = cloneTree(source, &remap, rootType);
  // Copies made for references that lie outside the subtree (bones of a
  // cloned animated mesh) still need an owner: they join the world where
  // they stand relative to the copy as their sources stood relative to the
  // source, under the copy of their source's parent when there is one (so a
  // skeleton stays a chain), else as roots.
  CTRL_Array<MDL_Object*>& pairs = remap.pairs;
  for (int i = 1; i < pairs.count; i += 2) {
    MDL_Object* extra = pairs.data[i];
    if (!copy || extra->scene == this || extra->parent) continue;
    MDL_Frame place = pairs.data[i - 1]->getGlobalFrame();
    MDL_Frame::globalToLocalFrame(source->getGlobalFrame(), place);
    MDL_Frame::localToGlobalFrame(copy->getGlobalFrame(), place);
    extra->globalFrame = place;
    extra->globalValid = 1;
    extra->localValid = 0;
  }
  for (int i = 1; i < pairs.count; i += 2) {
    MDL_Object* extra = pairs.data[i];
    if (extra->scene == this) continue;
    MDL_Object* parentSource = pairs.data[i - 1]->parent;
    MDL_Object* parentCopy = parentSource ? remap.find(parentSource) : nullptr;
    if (parentCopy && !extra->parent && parentCopy != extra && !parentCopy->hasAncestor(extra))
      parentCopy->addChild(extra);
    addObject(extra);
  }
  return copy;
}

void MDL_Scene::step(double dt, CTRL_ScriptEngine* engine) {
  // Handlers may add to the lists while a stage runs: walk by index over the
  // count taken before the stage and re-read the storage on every access.
  int n = springs.count;
  for (int i = 0; i < n && i < springs.count; ++i) MDL_iStepSpring(springs.data[i], dt);
  if (dt > 0) {
    // No handler runs while bodies integrate. Two bodies in a row that
    // cannot touch each other's state are stepped together.
    n = rigidBodies.count;
    for (int i = 0; i < n && i < rigidBodies.count; ++i) {
      if (i + 1 < n && MDL_iIntegrateBodies(rigidBodies.data[i], rigidBodies.data[i + 1], dt, *this)) ++i;
      else MDL_iIntegrateBody(rigidBodies.data[i], dt, *this);
    }
  }
  LMP_iFireCallback(&proxy, engine, CB_POST_INTEGRATION, dt);
  n = joints.count;
  for (int i = 0; i < n && i < joints.count; ++i) MDL_iSolveJoint(joints.data[i]);
  MDL_iResolveContacts(*this, engine);
  n = rigidBodies.count;
  for (int i = 0; i < n && i < rigidBodies.count; ++i)
    for (int axis = 0; axis < 3; ++axis)
      if (bounds[2 * axis] != -DBL_MAX || bounds[2 * axis + 1] != DBL_MAX)
        MDL_iClampBodyToBounds(*this, rigidBodies.data[i], axis, engine);
  LMP_iFireCallback(&proxy, engine, CB_MECHA, dt);
}

void MDL_Scene::purgeDeleted() {
  int kept = 0;
  for (int i = 0; i < animations.count; ++i) {
    if (MDL_iAnimationTargetDeleted(animations.data[i])) MDL_iDestroyAnimation(animations.data[i]);
    else animations.data[kept++] = animations.data[i];
  }
  if (kept != animations.count) animations.resize(kept);
  // Animated meshes that outlive a purged bone stop following it.
  bool boneDeleted = false;
  for (int i = 0; i < bones.count && !boneDeleted; ++i) boneDeleted = asObject(bones.data[i])->deleted;
  if (boneDeleted)
    for (int i = 0; i < meshes.count; ++i)
      if (meshes.data[i]->type == OBJECT_ANIMATED_MESH) {
        auto* mesh = static_cast<MDL_AnimatedMesh*>(meshes.data[i]);
        for (int32_t b = 0; b < mesh->boneCount && mesh->boneList; ++b)
          if (mesh->boneList[b] && asObject(mesh->boneList[b])->deleted) mesh->boneList[b] = nullptr;
      }
  removeDeleted(sounds);
  removeDeleted(meshes);
  removeDeleted(rigidBodies);
  removeDeleted(collisionVolumes);
  removeDeleted(lamps);
  removeDeleted(overlays);
  removeDeleted(bones);
  kept = 0;
  for (int i = 0; i < sweepEntries.count; ++i) {
    MDL_SweepEntry* e = sweepEntries.data[i];
    if (e->volume->deleted) delete e;
    else sweepEntries.data[kept++] = e;
  }
  if (kept != sweepEntries.count) sweepEntries.resize(kept);
  // The broad phase's work list must not keep volumes that are freed below
  // (nor the places a running pass marked as left).
  kept = 0;
  for (int i = 0; i < activeVolumes.count; ++i)
    if (activeVolumes.data[i] && !activeVolumes.data[i]->deleted) activeVolumes.data[kept++] = activeVolumes.data[i];
  activeVolumes.count = kept;
  MDL_iDropDeletedBodies(*this);
  kept = 0;
  for (int i = 0; i < objects.count; ++i) {
    MDL_Object* o = objects.data[i];
    if (o->deleted) delete o;
    else objects.data[kept++] = o;
  }
  if (kept != objects.count) objects.resize(kept);
}
