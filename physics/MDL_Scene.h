// One physics world and the registry of the objects that live in it. The
// world sorts its objects into per-type lists read by the renderer, the mixer
// and the physics, owns springs, joints and playing animations, runs one step
// at a time and frees the objects marked deleted once per frame.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "base/CTRL_Array.h"
#include "math/MDL_Frame.h"

// A record's link to its script proxy (the same alias as base/LMP_ProxyLink.h).
class LMP_Proxy;
using MDL_Proxy = LMP_Proxy*;

class MDL_Object;
class MDL_RigidBody;
class MDL_CollisionVolume;
class MDL_Bone;
class MDL_Spring;
class MDL_Joint;
class MDL_Animation;
class CTRL_ScriptEngine;

// One end of a collision volume's extent along x.
struct MDL_SweepEntry {
  uint8_t isStart;  // 1 lower end, 0 upper end
  double value;     // x of that end, recomputed every step
  MDL_CollisionVolume* volume;
};

// The source-to-copy pairs of one cloning: the flat list of pairs (source,
// copy, source, copy, ...) in the order the copies were made, and an index
// over it so that each lookup takes constant time.
struct MDL_Remap {
  CTRL_Array<MDL_Object*> pairs;
  std::unordered_map<const MDL_Object*, MDL_Object*> index;

  MDL_Object* find(const MDL_Object* source) const {
    auto it = index.find(source);
    return it == index.end() ? nullptr : it->second;
  }
  void add(MDL_Object* source, MDL_Object* copy) {
    if (!index.emplace(source, copy).second) return;
    pairs.append(source);
    pairs.append(copy);
  }
};

class MDL_Scene {
 public:
  explicit MDL_Scene(const char* name = nullptr);
  ~MDL_Scene();
  MDL_Scene(const MDL_Scene&) = delete;
  MDL_Scene& operator=(const MDL_Scene&) = delete;

  // Adds the object to objects and to the list of its type; the world owns it.
  void addObject(MDL_Object* object);
  MDL_Spring* addSpring();
  MDL_Joint* addJoint();

  // Copy of one object by type, without links; null for the types that have
  // no copy (texts, images, and listeners and polylines unless ownRoot is
  // set: those two are copied only as the root of their own class's copy).
  // A remap table shares copies between calls.
  static MDL_Object* cloneObject(MDL_Object* source, MDL_Remap* remap, bool ownRoot = false);
  // Copy of a subtree, added to this world; the copy's root is not attached
  // under any parent. rootType names the one type (a listener or a
  // polyline) that the root may have besides those that always copy: the
  // constructors of those classes copy their own source; -1 for none.
  // Descendants of those types are left out with their subtrees. Without a
  // remap table, bone references that lie outside this world are dropped.
  MDL_Object* cloneTree(MDL_Object* source, MDL_Remap* remap, int32_t rootType = -1);
  // cloneTree with a fresh remap table; copies of bones that the copied
  // animated meshes use from outside the subtree join this world too.
  MDL_Object* clone(MDL_Object* source, int32_t rootType = -1);

  // One physics step; fires the world's callbacks through its proxy.
  void step(double dt, CTRL_ScriptEngine* engine);
  // Frees every object marked deleted.
  void purgeDeleted();

  // One pass of the contact sweep over every pair of collision volumes.
  void resolveContacts(CTRL_ScriptEngine* engine);
  // Narrow phase: true on contact, with the point on a's surface, the unit
  // normal from a towards b and the depth (> 0).
  static bool collide(MDL_CollisionVolume* a, MDL_CollisionVolume* b, v3& point, v3& normal, double& depth);
  // The same for a pair already known to pass collide's first tests (their
  // bounding spheres meet and, without a cylinder, their axis-aligned boxes
  // overlap), as the contact pass finds them: they are not made again.
  static bool collideMeeting(MDL_CollisionVolume* a, MDL_CollisionVolume* b, v3& point, v3& normal,
                             double& depth);

  MDL_Proxy proxy = nullptr;  // the scene's script proxy; every callback fires through it
  CTRL_Array<MDL_Object*> objects;
  CTRL_Array<MDL_Object*> overlays;
  CTRL_Array<MDL_Object*> sounds;
  CTRL_Array<MDL_Object*> meshes;
  CTRL_Array<MDL_RigidBody*> rigidBodies;
  CTRL_Array<MDL_CollisionVolume*> collisionVolumes;
  CTRL_Array<MDL_Object*> lamps;
  CTRL_Array<MDL_Bone*> bones;
  CTRL_Array<MDL_Spring*> springs;
  CTRL_Array<MDL_Joint*> joints;
  CTRL_Array<MDL_Animation*> animations;
  char* name = nullptr;
  v3 gravity;
  double integrationStep;
  double friction;
  double elasticity;
  uint8_t active = 1;
  double bounds[6];  // min x, max x, min y, max y, min z, max z
  CTRL_Array<MDL_SweepEntry*> sweepEntries;
  CTRL_Array<MDL_CollisionVolume*> activeVolumes;
};

// Removes, keeping the order of the rest, every entry whose object is marked
// deleted; frees nothing.
void MDL_iRemoveDeletedEntries(CTRL_Array<MDL_Object*>& list);
// Ascending global z, for sorting overlays.
int MDL_iCompareDepth(MDL_Object* a, MDL_Object* b);
