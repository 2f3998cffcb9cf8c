#include <gtest/gtest.h>

#include <cfloat>
#include <vector>

#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Text.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"

namespace {

template <class T>
bool contains(const CTRL_Array<T*>& list, const void* p) {
  for (int i = 0; i < list.count; ++i)
    if (static_cast<const void*>(list.data[i]) == p) return true;
  return false;
}

MDL_Object* made(int32_t type) {
  switch (type) {
    case OBJECT_LAMP: return new MDL_Lamp;
    case OBJECT_CAMERA: return new MDL_Camera;
    case OBJECT_SOUND: return new MDL_Sound;
    case OBJECT_MIKE: return new MDL_Mike;
    case OBJECT_COLLISION_VOLUME: return new MDL_CollisionVolume(VOLUME_SPHERE);
    case OBJECT_LOCATOR: return new MDL_Locator;
    case OBJECT_MESH: return new MDL_Mesh;
    case OBJECT_ANIMATED_MESH: return new MDL_AnimatedMesh;
    case OBJECT_BONE: return new MDL_Bone;
    case OBJECT_TEXT: return new MDL_Text;
    case OBJECT_IMAGE: return new MDL_Image;
    case OBJECT_POLYLINE: return new MDL_Polyline;
    case OBJECT_RIGID_BODY: return new MDL_RigidBody;
    default: {
      // The never-built RtfText stands here as a plain record with its type
      // code: routing reads nothing else.
      MDL_Object* o = new MDL_Object;
      o->type = type;
      return o;
    }
  }
}

}  // namespace

TEST(Scene, Defaults) {
  MDL_Scene s("World");
  EXPECT_STREQ(s.name, "World");
  EXPECT_EQ(s.gravity.z, -9.8100004196167);
  EXPECT_EQ(s.gravity.x, 0.0);
  EXPECT_EQ(s.integrationStep, 0.0020000000949949026);
  EXPECT_EQ(s.friction, static_cast<double>(0.8f));
  EXPECT_EQ(s.elasticity, static_cast<double>(0.6f));
  EXPECT_EQ(s.active, 1);
  const double bounds[6] = {-DBL_MAX, DBL_MAX, -DBL_MAX, DBL_MAX, 0.0, DBL_MAX};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(s.bounds[i], bounds[i]);
  EXPECT_EQ(s.activeVolumes.owns, 0);
  EXPECT_EQ(s.objects.owns, 1);
  MDL_Scene unnamed(nullptr);
  EXPECT_EQ(unnamed.name, nullptr);
}

TEST(Scene, AddObjectRoutesByType) {
  struct Case {
    int32_t type;
    const char* list;  // null: only objects
  };
  const Case cases[] = {
      {OBJECT_NONE, nullptr},       {OBJECT_LAMP, "lamps"},       {OBJECT_CAMERA, nullptr},
      {OBJECT_MESH, "meshes"},      {OBJECT_RIGID_BODY, "bodies"}, {OBJECT_SOUND, "sounds"},
      {OBJECT_BONE, "bones"},       {OBJECT_ANIMATED_MESH, "meshes"}, {OBJECT_TEXT, "overlays"},
      {OBJECT_RTF_TEXT, "overlays"}, {OBJECT_IMAGE, "overlays"},  {OBJECT_MIKE, nullptr},
      {OBJECT_POLYLINE, "overlays"}, {OBJECT_COLLISION_VOLUME, "volumes"}, {OBJECT_LOCATOR, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(MDL_objectTypeNames[c.type]);
    MDL_Scene s(nullptr);
    MDL_Object* o = made(c.type);
    s.addObject(o);
    EXPECT_EQ(o->scene, &s);
    ASSERT_EQ(s.objects.count, 1);
    std::string list = c.list ? c.list : "";
    EXPECT_EQ(s.lamps.count, list == "lamps");
    EXPECT_EQ(s.meshes.count, list == "meshes");
    EXPECT_EQ(s.rigidBodies.count, list == "bodies");
    EXPECT_EQ(s.sounds.count, list == "sounds");
    EXPECT_EQ(s.bones.count, list == "bones");
    EXPECT_EQ(s.overlays.count, list == "overlays");
    EXPECT_EQ(s.collisionVolumes.count, list == "volumes");
    if (list == "volumes") {
      ASSERT_EQ(s.sweepEntries.count, 2);
      EXPECT_EQ(s.sweepEntries.data[0]->isStart, 1);
      EXPECT_EQ(s.sweepEntries.data[1]->isStart, 0);
      EXPECT_EQ(s.sweepEntries.data[0]->volume, static_cast<MDL_CollisionVolume*>(o));
    } else {
      EXPECT_EQ(s.sweepEntries.count, 0);
    }
  }
}

// A placed tree with a lamp, a camera, a listener, a volume and an overlay
// below it is cloned into another world.
TEST(Scene, CloneCopiesTheSubtreeAndSkipsOverlays) {
  MDL_Scene from(nullptr), to(nullptr);
  MDL_Object* root = made(OBJECT_NONE);
  MDL_Lamp* lamp = new MDL_Lamp;
  MDL_Camera* cam = new MDL_Camera;
  MDL_Mike* mike = new MDL_Mike;
  MDL_Object* text = made(OBJECT_TEXT);
  MDL_Object* underText = made(OBJECT_NONE);
  MDL_CollisionVolume* vol = new MDL_CollisionVolume(VOLUME_CYLINDER);
  for (MDL_Object* o : {root, static_cast<MDL_Object*>(lamp), static_cast<MDL_Object*>(cam),
                        static_cast<MDL_Object*>(mike), text, underText, static_cast<MDL_Object*>(vol)})
    from.addObject(o);
  root->setName("root");
  root->editGlobalFrame().position = v3{1, 2, 3};
  root->addChild(lamp);
  root->addChild(text);
  text->addChild(underText);
  root->addChild(cam);
  cam->addChild(mike);
  root->addChild(vol);
  lamp->editLocalFrame().position = v3{0, 0, 5};
  lamp->lampType = LAMP_SPOT;
  lamp->spotSize = 12;
  lamp->energy = 3;
  cam->setAngle(1.0);
  cam->clipEnd = 7;
  mike->gain = 0.25;
  mike->on = 0;
  vol->layer = 4;
  vol->mask = 6;
  vol->boundingRadius = 2;
  // The lamp's local frame goes stale: a copy must still see its place.
  lamp->editGlobalFrame().position = v3{1, 2, 10};

  MDL_Object* copy = to.clone(root);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, root);
  EXPECT_STREQ(copy->name, "root");
  EXPECT_EQ(copy->parent, nullptr);
  EXPECT_EQ(copy->nextSibling, nullptr);
  // lamp, camera, volume: the text and its subtree are skipped, and so is the
  // listener below the camera (listeners copy only as their own class's root).
  std::vector<MDL_Object*> kids;
  for (MDL_Object* c = copy->firstChild; c; c = c->nextSibling) kids.push_back(c);
  ASSERT_EQ(kids.size(), 3u);
  EXPECT_EQ(kids[0]->type, OBJECT_LAMP);
  EXPECT_EQ(kids[1]->type, OBJECT_CAMERA);
  EXPECT_EQ(kids[2]->type, OBJECT_COLLISION_VOLUME);
  for (MDL_Object* k : kids) EXPECT_EQ(k->parent, copy);
  auto* lc = static_cast<MDL_Lamp*>(kids[0]);
  EXPECT_EQ(lc->lampType, LAMP_SPOT);
  EXPECT_EQ(lc->spotSize, 12);
  EXPECT_EQ(lc->energy, 3);
  EXPECT_NEAR(lc->getGlobalFrame().position.z, 10, 1e-12);
  EXPECT_NEAR(lc->getLocalFrame().position.z, 7, 1e-12);
  auto* cc = static_cast<MDL_Camera*>(kids[1]);
  EXPECT_EQ(cc->angle, 1.0);
  EXPECT_EQ(cc->projectionFactor, cam->projectionFactor);
  EXPECT_EQ(cc->clipEnd, 7);
  EXPECT_EQ(cc->firstChild, nullptr);
  auto* vc = static_cast<MDL_CollisionVolume*>(kids[2]);
  EXPECT_EQ(vc->shape, VOLUME_CYLINDER);
  EXPECT_EQ(vc->layer, 4);
  EXPECT_EQ(vc->mask, 6);
  EXPECT_EQ(vc->boundingRadius, 2);
  // Four copies, all owned by the target world and routed there.
  EXPECT_EQ(to.objects.count, 4);
  EXPECT_EQ(to.lamps.count, 1);
  EXPECT_EQ(to.collisionVolumes.count, 1);
  EXPECT_EQ(to.sweepEntries.count, 2);
  EXPECT_EQ(to.overlays.count, 0);
  for (int i = 0; i < to.objects.count; ++i) EXPECT_EQ(to.objects.data[i]->scene, &to);
  // The source world is untouched.
  EXPECT_EQ(from.objects.count, 7);
  EXPECT_EQ(root->firstChild, lamp);
}

TEST(Scene, CloneObjectSharesCopiesThroughTheRemapTable) {
  MDL_Lamp lamp;
  MDL_Sound sound;
  sound.channel = 3;
  sound.volume = 0.5;
  MDL_Remap remap;
  MDL_Object* a = MDL_Scene::cloneObject(&lamp, &remap);
  MDL_Object* b = MDL_Scene::cloneObject(&lamp, &remap);
  EXPECT_EQ(a, b);
  auto* sc = static_cast<MDL_Sound*>(MDL_Scene::cloneObject(&sound, &remap));
  EXPECT_EQ(sc->channel, 0);
  EXPECT_EQ(sc->volume, 0.5);
  ASSERT_EQ(remap.pairs.count, 4);
  EXPECT_EQ(remap.pairs.data[0], &lamp);
  EXPECT_EQ(remap.pairs.data[1], a);
  MDL_Polyline line;
  line.addPoint({1, 2});
  MDL_Mike mike;
  mike.gain = 0.25;
  for (int32_t t : {OBJECT_TEXT, OBJECT_RTF_TEXT, OBJECT_IMAGE}) {
    MDL_Object o;
    o.type = t;
    EXPECT_EQ(MDL_Scene::cloneObject(&o, &remap), nullptr);
    EXPECT_EQ(MDL_Scene::cloneObject(&o, &remap, true), nullptr);
  }
  // Listeners and polylines are copied only as the root of their own class.
  EXPECT_EQ(MDL_Scene::cloneObject(&line, &remap), nullptr);
  EXPECT_EQ(MDL_Scene::cloneObject(&mike, &remap), nullptr);
  EXPECT_EQ(remap.pairs.count, 4);
  MDL_Object* lc = MDL_Scene::cloneObject(&line, &remap, true);
  ASSERT_NE(lc, nullptr);
  EXPECT_EQ(lc->type, OBJECT_POLYLINE);
  EXPECT_EQ(static_cast<MDL_Polyline*>(lc)->points.count, 1);
  auto* mc = static_cast<MDL_Mike*>(MDL_Scene::cloneObject(&mike, &remap, true));
  ASSERT_NE(mc, nullptr);
  EXPECT_EQ(mc->gain, 0.25);
  delete mc;
  delete lc;
  delete a;
  delete sc;
}

TEST(Scene, PurgeFreesOnlyDeletedObjects) {
  MDL_Scene s(nullptr);
  MDL_Object* keep = made(OBJECT_NONE);
  MDL_Object* lamp = made(OBJECT_LAMP);
  MDL_Object* vol = made(OBJECT_COLLISION_VOLUME);
  MDL_Object* vol2 = made(OBJECT_COLLISION_VOLUME);
  MDL_Object* text = made(OBJECT_TEXT);
  for (MDL_Object* o : {keep, lamp, vol, vol2, text}) s.addObject(o);
  lamp->deleted = vol->deleted = text->deleted = 1;
  s.step(0, nullptr);  // marked objects stay listed until the purge
  EXPECT_EQ(s.objects.count, 5);
  EXPECT_TRUE(contains(s.lamps, lamp));
  s.purgeDeleted();
  ASSERT_EQ(s.objects.count, 2);
  EXPECT_EQ(s.objects.data[0], keep);
  EXPECT_EQ(s.objects.data[1], vol2);
  EXPECT_EQ(s.lamps.count, 0);
  EXPECT_EQ(s.overlays.count, 0);
  ASSERT_EQ(s.collisionVolumes.count, 1);
  ASSERT_EQ(s.sweepEntries.count, 2);
  EXPECT_EQ(s.sweepEntries.data[0]->volume, static_cast<MDL_CollisionVolume*>(vol2));
  EXPECT_EQ(s.sweepEntries.data[1]->volume, static_cast<MDL_CollisionVolume*>(vol2));
}

TEST(Scene, CompareDepthOrdersByGlobalZ) {
  MDL_Object a, b, parent;
  parent.editGlobalFrame().position = v3{0, 0, 4};
  parent.addChild(&b);
  b.editLocalFrame().position = v3{0, 0, -1};  // global z 3
  a.editGlobalFrame().position = v3{0, 0, 3};
  EXPECT_EQ(MDL_iCompareDepth(&a, &b), 0);
  a.editGlobalFrame().position = v3{0, 0, 2};
  EXPECT_EQ(MDL_iCompareDepth(&a, &b), -1);
  EXPECT_EQ(MDL_iCompareDepth(&b, &a), 1);
  parent.firstChild = nullptr;
}

// root -> mesh (bones b1, b2, outside), root -> b1 -> b2; "outside" is a
// bone of the mesh that lies outside the cloned subtree.
TEST(Scene, CloneSharesBoneCopiesWithTheAnimatedMesh) {
  MDL_Scene from(nullptr), to(nullptr);
  MDL_Object* root = made(OBJECT_NONE);
  auto* mesh = new MDL_AnimatedMesh;
  auto* b1 = new MDL_Bone;
  auto* b2 = new MDL_Bone;
  auto* outside = new MDL_Bone;
  for (MDL_Object* o : {root, static_cast<MDL_Object*>(mesh), static_cast<MDL_Object*>(b1),
                        static_cast<MDL_Object*>(b2), static_cast<MDL_Object*>(outside)})
    from.addObject(o);
  root->addChild(mesh);
  root->addChild(b1);
  b1->addChild(b2);
  ASSERT_TRUE(mesh->setBindings(3));
  mesh->boneList[0] = b1;
  mesh->boneList[1] = b2;
  mesh->boneList[2] = outside;
  b2->setName("tip");

  MDL_Object* copy = to.clone(root);
  ASSERT_NE(copy, nullptr);
  auto* meshCopy = static_cast<MDL_AnimatedMesh*>(copy->firstChild);
  ASSERT_EQ(meshCopy->type, OBJECT_ANIMATED_MESH);
  MDL_Object* b1Copy = meshCopy->nextSibling;
  ASSERT_NE(b1Copy, nullptr);
  EXPECT_EQ(meshCopy->boneList[0], b1Copy) << "tree and bone list share one copy";
  EXPECT_EQ(meshCopy->boneList[1], b1Copy->firstChild);
  EXPECT_EQ(copy->getDescendant("tip"), b1Copy->firstChild);
  EXPECT_NE(meshCopy->boneList[2], outside);
  // Every copy, the outside bone's too, is owned by the world exactly once.
  EXPECT_EQ(to.objects.count, 5);
  EXPECT_EQ(to.bones.count, 3);
  EXPECT_EQ(to.meshes.count, 1);
  for (int i = 0; i < to.objects.count; ++i)
    for (int j = i + 1; j < to.objects.count; ++j) EXPECT_NE(to.objects.data[i], to.objects.data[j]);
  EXPECT_EQ(meshCopy->boneList[2]->scene, &to);
  EXPECT_EQ(meshCopy->boneList[2]->parent, nullptr);
}
