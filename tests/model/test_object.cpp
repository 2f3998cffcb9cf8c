#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cfloat>
#include <cmath>
#include <memory>
#include <vector>

#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"

namespace {

// Reference transform: y = B x + p, kept apart from the objects' own frames.
struct Affine {
  m33 b;
  v3 p;
};

Affine compose(const Affine& a, const Affine& c) {
  Affine r;
  m33::multiply(r.b, a.b, c.b);
  r.p = m33::apply(a.b, c.p) + a.p;
  return r;
}

Affine invert(const Affine& a) {
  Affine r;
  m33::inverse(r.b, a.b);
  r.p = -m33::apply(r.b, a.p);
  return r;
}

Affine make(double rx, double ry, double rz, v3 scale, v3 p) {
  Affine a;
  m33::fromEulerAngles(a.b, rx, ry, rz);
  for (int i = 0; i < 3; ++i) a.b.c[i] = a.b.c[i] * (&scale.x)[i];
  a.p = p;
  return a;
}

void expectNear(const v3& a, const v3& b, const char* what) {
  EXPECT_NEAR(a.x, b.x, 1e-9) << what;
  EXPECT_NEAR(a.y, b.y, 1e-9) << what;
  EXPECT_NEAR(a.z, b.z, 1e-9) << what;
}

void expectFrame(const MDL_Frame& f, const Affine& a, const char* what) {
  expectNear(f.position, a.p, what);
  for (int i = 0; i < 3; ++i) expectNear(f.basis.c[i], a.b.c[i], what);
}

void write(MDL_Frame& f, const Affine& a) {
  f.position = a.p;
  f.basis = a.b;
  f.inverseDirty = 1;
}

}  // namespace

TEST(ObjectRecord, NewObjectDefaults) {
  MDL_Object o;
  EXPECT_EQ(o.type, OBJECT_NONE);
  EXPECT_EQ(o.name, nullptr);
  EXPECT_EQ(o.state, STATE_VISIBLE);
  EXPECT_EQ(o.maxMouseMove, 1.7976931348623157e308);
  EXPECT_EQ(o.moved, 1);
  EXPECT_EQ(o.deleted, 0);
  Affine id{m33::identity(), {0, 0, 0}};
  expectFrame(o.getGlobalFrame(), id, "global");
  expectFrame(o.getLocalFrame(), id, "local");
  EXPECT_EQ(o.globalFrame.inverseDirty, 1);
  EXPECT_EQ(o.proxy, nullptr);
}

TEST(ObjectRecord, TypeNamesAreCaseInsensitive) {
  EXPECT_EQ(MDL_iObjectTypeFromName("collisionvolume"), OBJECT_COLLISION_VOLUME);
  EXPECT_EQ(MDL_iObjectTypeFromName("RTFTEXT"), OBJECT_RTF_TEXT);
  EXPECT_EQ(MDL_iObjectTypeFromName("None"), OBJECT_NONE);
  EXPECT_EQ(MDL_iObjectTypeFromName("Lampe"), -1);
  EXPECT_EQ(MDL_iObjectTypeFromName(nullptr), -1);
}

// A chain root -> mid -> leaf (plus a sibling of mid) is edited through both
// edit operations, in an order that leaves frames stale in between; after
// each edit every frame must match a direct computation in which the edited
// object takes its new placement and every descendant keeps its local one.
TEST(ObjectFrames, EditsMatchDirectComputation) {
  MDL_Object root, mid, leaf, side;
  root.addChild(&mid);
  mid.addChild(&leaf);
  root.addChild(&side);
  MDL_Object* nodes[4] = {&root, &mid, &leaf, &side};
  int parentOf[4] = {-1, 0, 1, 0};
  Affine local[4];
  for (auto& l : local) l = Affine{m33::identity(), {0, 0, 0}};

  auto globalOf = [&](int i) {
    Affine g = local[i];
    for (int p = parentOf[i]; p >= 0; p = parentOf[p]) g = compose(local[p], g);
    return g;
  };

  struct Edit {
    int node;
    bool global;
    Affine to;
    bool check;  // read every frame afterwards; unchecked steps leave frames stale
  };
  const Edit edits[] = {
      {0, false, make(0.3, 0, 0, {1, 1, 1}, {1, 2, 3}), true},
      {1, false, make(0, 0.5, 0.2, {2, 1, 0.5}, {0, 1, 0}), true},
      {2, true, make(0.1, 0.2, 0.3, {1, 1, 1}, {5, -1, 2}), false},  // leaf's local now stale
      {0, true, make(0, 0, 1.2, {1, 3, 1}, {-4, 0, 1}), true},       // leaf keeps its new place relative to mid
      {1, true, make(0.7, 0, 0, {1, 1, 1}, {0, 0, 9}), false},
      {0, false, make(0, 0.4, 0, {1, 1, 2}, {2, 2, 2}), true},       // mid's local was stale
      {3, false, make(0, 0, 0, {0.5, 0.5, 0.5}, {1, 1, 1}), false},
      {2, true, make(0, 0, 0.3, {1, 1, 1}, {0, 3, 0}), false},
      {1, false, make(0.2, 0.2, 0.2, {1, 2, 1}, {1, 0, 0}), false},  // leaf's local stale under a moving parent
      {0, true, make(1, 1, 1, {1, 1, 1}, {0, 0, 0}), true},
  };
  int step = 0;
  for (const Edit& e : edits) {
    ++step;
    if (e.global) {
      write(nodes[e.node]->editGlobalFrame(), e.to);
      Affine parentGlobal = parentOf[e.node] >= 0 ? globalOf(parentOf[e.node]) : Affine{m33::identity(), {0, 0, 0}};
      local[e.node] = compose(invert(parentGlobal), e.to);
    } else {
      write(nodes[e.node]->editLocalFrame(), e.to);
      local[e.node] = e.to;
    }
    if (!e.check) continue;
    // Read in an order that validates leaves before their parents.
    for (int i : {2, 3, 1, 0}) {
      std::string what = "step " + std::to_string(step) + " node " + std::to_string(i);
      expectFrame(nodes[i]->getGlobalFrame(), globalOf(i), (what + " global").c_str());
      expectFrame(nodes[i]->getLocalFrame(), local[i], (what + " local").c_str());
    }
  }
  root.firstChild = nullptr;  // the objects live on the stack; no tree teardown
}

TEST(ObjectFrames, EditMarksDescendantsMoved) {
  MDL_Object root, child;
  root.addChild(&child);
  root.moved = child.moved = 0;
  root.editLocalFrame().position = v3{1, 0, 0};
  EXPECT_EQ(root.moved, 1);
  EXPECT_EQ(child.moved, 1);
  EXPECT_EQ(child.getGlobalFrame().position.x, 1.0);
}

TEST(ObjectFrames, AddChildKeepsWorldPlacement) {
  MDL_Object parent, child;
  Affine q = make(0.4, 0.1, -0.3, {2, 2, 2}, {1, 2, 3});
  write(parent.editGlobalFrame(), q);
  v3 p{5, -2, 7};
  child.editGlobalFrame().position = p;
  parent.addChild(&child);
  EXPECT_EQ(child.parent, &parent);
  expectNear(child.getGlobalFrame().position, p, "world position kept");
  expectNear(child.getLocalFrame().position, m33::apply(invert(q).b, p) + invert(q).p, "local position");
  // Appended as the last child.
  MDL_Object second;
  parent.addChild(&second);
  EXPECT_EQ(parent.firstChild, &child);
  EXPECT_EQ(child.nextSibling, &second);
}

TEST(ObjectTree, UnlinkIsIdempotent) {
  MDL_Object root, a, b, c;
  root.addChild(&a);
  root.addChild(&b);
  root.addChild(&c);
  b.unlinkFromParent();
  EXPECT_EQ(a.nextSibling, &c);
  // A second unlink, or one through stale links, must leave the chain alone.
  b.parent = &root;
  b.nextSibling = &c;
  b.unlinkFromParent();
  EXPECT_EQ(root.firstChild, &a);
  EXPECT_EQ(a.nextSibling, &c);
  EXPECT_EQ(c.nextSibling, nullptr);
  a.unlinkFromParent();
  EXPECT_EQ(root.firstChild, &c);
  c.unlinkFromParent();
  EXPECT_EQ(root.firstChild, nullptr);
  c.unlinkFromParent();
  EXPECT_EQ(c.parent, nullptr);
}

TEST(ObjectTree, RecursiveSettersSkipTheObjectItself) {
  struct Case {
    void (MDL_Object::*op)(uint32_t);
    uint32_t bits;
    uint32_t expected;  // from a start state of 5 (ACTIVE | VISIBLE)
  };
  const Case cases[] = {
      {&MDL_Object::setState, STATE_MOVABLE, STATE_MOVABLE},
      {&MDL_Object::enableState, STATE_BACKGROUND, 21},
      {&MDL_Object::disableState, STATE_VISIBLE, STATE_ACTIVE},
      {&MDL_Object::toggleState, STATE_ACTIVE | STATE_MOVABLE, 6},
  };
  for (const Case& c : cases) {
    MDL_Object root, child, grandchild, sibling;
    root.addChild(&child);
    child.addChild(&grandchild);
    root.addChild(&sibling);
    for (MDL_Object* o : {&root, &child, &grandchild, &sibling}) o->state = 5;
    (root.*c.op)(c.bits);
    EXPECT_EQ(root.state, 5u);
    EXPECT_EQ(child.state, c.expected);
    EXPECT_EQ(grandchild.state, c.expected);
    EXPECT_EQ(sibling.state, c.expected);
  }
  MDL_Object root, child;
  root.addChild(&child);
  root.setMaxMouseMove(0.25);
  EXPECT_EQ(root.maxMouseMove, DBL_MAX);
  EXPECT_EQ(child.maxMouseMove, 0.25);
}

TEST(ObjectTree, GetDescendantOrder) {
  // root
  //   a          b "Target"
  //   x "deep"     y "deep"
  //   t "target"
  MDL_Object root, a, b, x, y, t;
  root.addChild(&a);
  root.addChild(&b);
  a.addChild(&x);
  b.addChild(&y);
  x.addChild(&t);
  b.setName("Target");
  t.setName("target");
  x.setName("deep");
  y.setName("DEEP");
  root.setName("root");
  EXPECT_EQ(root.getDescendant("TARGET"), &b);  // a direct child wins over a deeper one
  // Depth first: a's subtree is searched before b's, at any depth.
  b.setName(nullptr);
  EXPECT_EQ(root.getDescendant("target"), &t);
  EXPECT_EQ(root.getDescendant("deep"), &x);
  EXPECT_EQ(b.getDescendant("deep"), &y);
  EXPECT_EQ(root.getDescendant("root"), nullptr);  // never the object itself
  EXPECT_EQ(root.getDescendant("nothing"), nullptr);
  EXPECT_EQ(root.getDescendant(nullptr), nullptr);
}

TEST(ObjectCopy, CopyHasNoLinksAndFreshFrames) {
  MDL_Object parent, source, child;
  parent.addChild(&source);
  source.addChild(&child);
  write(parent.editGlobalFrame(), make(0, 0, 0.5, {1, 1, 1}, {3, 0, 0}));
  // Leave the source with a stale local frame: only its global one is valid.
  write(source.editGlobalFrame(), make(0.2, 0, 0, {1, 1, 1}, {1, 1, 1}));
  ASSERT_EQ(source.localValid, 0);
  source.setName("Source");
  source.state = STATE_ALL;
  source.deleted = 1;
  source.maxMouseMove = 2.0;
  MDL_Object copy(source);
  EXPECT_EQ(copy.parent, nullptr);
  EXPECT_EQ(copy.firstChild, nullptr);
  EXPECT_EQ(copy.nextSibling, nullptr);
  EXPECT_EQ(copy.scene, nullptr);
  EXPECT_EQ(copy.proxy, nullptr);
  EXPECT_EQ(copy.deleted, 0);
  EXPECT_EQ(copy.state, STATE_ALL);
  EXPECT_EQ(copy.maxMouseMove, 2.0);
  ASSERT_NE(copy.name, nullptr);
  EXPECT_NE(copy.name, source.name);
  EXPECT_STREQ(copy.name, "Source");
  // Both frames arrive valid and hold the source's current placement.
  EXPECT_EQ(copy.localValid, 1);
  EXPECT_EQ(copy.globalValid, 1);
  expectNear(copy.localFrame.position, source.getLocalFrame().position, "local");
  copy.globalValid = 0;  // what cloning does next: the copy stands on its local frame
  expectNear(copy.getGlobalFrame().position, source.getLocalFrame().position, "placement");
  parent.firstChild = nullptr;
  source.firstChild = nullptr;
}

namespace {
std::unique_ptr<TiXmlDocument> parse(const char* xml) {
  auto doc = std::make_unique<TiXmlDocument>();
  doc->Parse(xml);
  return doc;
}
}  // namespace

TEST(ObjectLoad, NameAndMatrix) {
  auto doc = parse(
      "<object name='Box'><matrix>0 1 0 9, -1 0 0 9\n0 0 2 9 10 20 30 1</matrix><matrix>1</matrix></object>");
  MDL_Object o;
  EXPECT_TRUE(o.load(doc->RootElement()));
  EXPECT_STREQ(o.name, "Box");
  const MDL_Frame& g = o.getGlobalFrame();
  expectNear(g.basis.c[0], {0, 1, 0}, "x axis");
  expectNear(g.basis.c[1], {-1, 0, 0}, "y axis");
  expectNear(g.basis.c[2], {0, 0, 2}, "z axis");
  expectNear(g.position, {10, 20, 30}, "position");

  // No name attribute: null name; no matrix: frames untouched.
  auto bare = parse("<object><Matrix>1 2 3</Matrix></object>");
  MDL_Object b;
  b.setName("old");
  EXPECT_TRUE(b.load(bare->RootElement()));
  EXPECT_EQ(b.name, nullptr);
  expectNear(b.getGlobalFrame().position, {0, 0, 0}, "no matrix");

  // A short or garbled matrix: the numbers present are used, the rest are the identity's.
  auto shortM = parse("<object><matrix>2 0 0 junk 0 2</matrix></object>");
  MDL_Object s;
  s.load(shortM->RootElement());
  expectNear(s.getLocalFrame().basis.c[0], {2, 0, 0}, "short x");
  expectNear(s.getLocalFrame().basis.c[1], {0, 2, 0}, "short y");
  expectNear(s.getLocalFrame().basis.c[2], {0, 0, 1}, "short z");
}

TEST(ObjectLoad, LoadedChildFollowsParentMatrix) {
  auto doc = parse("<object><matrix>1 0 0 0 0 1 0 0 0 0 1 0 5 0 0 1</matrix></object>");
  MDL_Object parent, child;
  parent.addChild(&child);
  child.editLocalFrame().position = v3{1, 0, 0};
  parent.load(doc->RootElement());
  expectNear(child.getGlobalFrame().position, {6, 0, 0}, "child follows");
  expectNear(child.getLocalFrame().position, {1, 0, 0}, "child local kept");
}

TEST(PlainTypes, Defaults) {
  MDL_Lamp lamp;
  EXPECT_EQ(lamp.type, OBJECT_LAMP);
  EXPECT_EQ(lamp.lampType, LAMP_POINT);
  EXPECT_EQ(lamp.color[3], 1.0);
  EXPECT_EQ(lamp.shadowDepth, 30.0);
  EXPECT_EQ(lamp.spotExponent, 42.0);
  EXPECT_EQ(lamp.on, 1);
  MDL_Camera cam;
  EXPECT_EQ(cam.type, OBJECT_CAMERA);
  EXPECT_DOUBLE_EQ(cam.angle, 0.8576547837773691);
  EXPECT_NEAR(cam.projectionFactor, 2.187214449820794, 1e-12);
  EXPECT_EQ(cam.clipStart, 1.0);
  EXPECT_EQ(cam.clipEnd, 100.0);
  MDL_Sound sound;
  EXPECT_EQ(sound.type, OBJECT_SOUND);
  EXPECT_EQ(sound.autoDelete, 1);
  MDL_Mike mike;
  EXPECT_EQ(mike.type, OBJECT_MIKE);
  EXPECT_EQ(mike.gain, 1.0);
  EXPECT_EQ(mike.on, 1);
  MDL_CollisionVolume vol(VOLUME_BOX);
  EXPECT_EQ(vol.type, OBJECT_COLLISION_VOLUME);
  EXPECT_EQ(vol.shape, VOLUME_BOX);
  EXPECT_EQ(vol.layer, 1);
  EXPECT_EQ(vol.mask, -1);
  MDL_Locator loc;
  EXPECT_EQ(loc.type, OBJECT_LOCATOR);
}

TEST(PlainTypes, LampLoadByType) {
  const char* allFields =
      "<color>0.1 0.2 0.3</color><energy>2</energy><no_diffuse>1</no_diffuse><no_specular>7</no_specular>"
      "<distance>5</distance><quad1>0.5</quad1><quad2>0.25</quad2><shadows>1</shadows><spot_size>30</spot_size>";
  struct Case {
    const char* type;  // null: no "type" element
    bool result;
    int32_t lampType;
    double distance, quad1, spotSize;
    uint8_t shadows;
  };
  const Case cases[] = {
      {nullptr, false, LAMP_POINT, 20, 0, 45, 0},
      {"Lamp", true, LAMP_POINT, 5, 0.5, 45, 1},
      {"sUN", true, LAMP_SUN, 20, 0, 45, 1},
      {"SPOT", true, LAMP_SPOT, 5, 0.5, 30, 1},
      {"Hemi", true, LAMP_HEMI, 20, 0, 45, 0},
      {"Laser", true, LAMP_NONE, 20, 0, 45, 0},
  };
  for (const Case& c : cases) {
    std::string xml = "<object name='L'><matrix>1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1</matrix>";
    if (c.type) xml += std::string("<type>") + c.type + "</type>";
    xml += allFields;
    xml += "</object>";
    auto doc = parse(xml.c_str());
    MDL_Lamp lamp;
    SCOPED_TRACE(c.type ? c.type : "(none)");
    EXPECT_EQ(lamp.load(doc->RootElement()), c.result);
    EXPECT_STREQ(lamp.name, "L");
    expectNear(lamp.getGlobalFrame().position, {1, 2, 3}, "matrix read");
    EXPECT_EQ(lamp.lampType, c.lampType);
    EXPECT_EQ(lamp.distance, c.distance);
    EXPECT_EQ(lamp.quad1, c.quad1);
    EXPECT_EQ(lamp.spotSize, c.spotSize);
    EXPECT_EQ(lamp.shadows, c.shadows);
    EXPECT_EQ(lamp.energy, c.result ? 2.0 : 1.0);
    EXPECT_EQ(lamp.noDiffuse, c.result ? 1 : 0);
    EXPECT_EQ(lamp.noSpecular, c.result ? 1 : 0);
    EXPECT_EQ(lamp.color[0], c.result ? 0.1 : 0.0);
    EXPECT_EQ(lamp.color[3], 1.0);
  }
}

TEST(PlainTypes, CameraLoad) {
  auto doc = parse("<object><angle>90</angle><clip_start>0.5</clip_start><clip_end>250</clip_end></object>");
  MDL_Camera cam;
  EXPECT_TRUE(cam.load(doc->RootElement()));
  EXPECT_NEAR(cam.projectionFactor, 1.0, 1e-12);
  EXPECT_EQ(cam.clipStart, 0.5);
  EXPECT_EQ(cam.clipEnd, 250.0);
  auto none = parse("<object><angle>wide</angle></object>");
  MDL_Camera c2;
  c2.load(none->RootElement());
  EXPECT_EQ(c2.angle, 0.0);  // a token that is no number reads 0
  EXPECT_TRUE(std::isinf(c2.projectionFactor));
}

#include "media/VIEW_Sample.h"

TEST(PlainTypes, SoundSampleFetch) {
  float left[12], right[12];
  for (int i = 0; i < 12; ++i) {
    left[i] = float(i + 1);
    right[i] = float(100 * (i + 1));
  }
  VIEW_Sample sample;
  sample.channels.append(VIEW_SampleChannel{left, 12, 12, 0});
  sample.channels.append(VIEW_SampleChannel{right, 12, 12, 0});
  struct Case {
    int32_t position, channel;
    uint8_t looping, streamFed, paused;
    int32_t i;
    float expected;
  };
  const Case cases[] = {
      {10, 0, 0, 0, 0, 0, 11},    {10, 0, 0, 0, 0, 1, 12},     {10, 0, 0, 0, 0, 2, 0},
      {10, 0, 1, 0, 0, 2, 1},     {10, 1, 1, 0, 0, 3, 200},    {10, -1, 0, 0, 0, 1, 1212},
      {10, -1, 1, 0, 0, 17, 404}, {10, 0, 0, 1, 0, 2, 3},      // stream-fed: from the front
      {10, 0, 1, 1, 0, 12, 0},    // stream-fed samples never wrap
      {10, 0, 0, 0, 1, 0, 0},     // paused
      {10, 2, 0, 0, 0, 0, 0},     // no such channel
      {-3, 0, 0, 0, 0, 0, 0},     // before the start
  };
  for (const Case& c : cases) {
    MDL_Sound s;
    s.sample = &sample;
    s.position = c.position;
    s.channel = c.channel;
    s.looping = c.looping;
    sample.streamFed = c.streamFed;
    sample.paused = c.paused;
    EXPECT_EQ(MDL_Sound::getSample(&s, c.i), c.expected)
        << "position " << c.position << " channel " << c.channel << " i " << c.i;
  }
  MDL_Sound none;
  EXPECT_EQ(MDL_Sound::getSample(&none, 0), 0.0f);
  VIEW_Sample empty;
  none.sample = &empty;
  EXPECT_EQ(MDL_Sound::getSample(&none, 0), 0.0f);
  sample.channels.resize(0);
}

#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"

TEST(PlainTypes, ImageAspectRatioAndHitTest) {
  VIEW_Texture wide;
  wide.width = 200;
  wide.height = 100;
  VIEW_Texture unknown;  // 0 x 0: no header read
  MDL_Material shared;
  shared.appendLayer(MDL_TextureLayer::makeDefault(nullptr));  // untextured layers are passed over
  shared.appendLayer(MDL_TextureLayer::makeDefault(&wide));
  {
    MDL_Image image;
    EXPECT_EQ(image.type, OBJECT_IMAGE);
    EXPECT_EQ(image.getAspectRatio(), 1.0) << "no material";
    image.material = &shared;
    EXPECT_EQ(image.getAspectRatio(), 0.5);
    EXPECT_TRUE(image.hitTest(1.0, 0.5));
    EXPECT_TRUE(image.hitTest(0.0, 0.0));
    EXPECT_FALSE(image.hitTest(1.0, 0.51));
    EXPECT_FALSE(image.hitTest(-0.01, 0.2));
    // Copy on write: the image's own material leaves the shared one alone.
    image.setOwnMaterial();
    ASSERT_NE(image.material, &shared);
    EXPECT_EQ(image.ownMaterial, 1);
    image.material->diffuse[0] = 0.25;
    EXPECT_EQ(shared.diffuse[0], 1.0);
    EXPECT_EQ(image.getAspectRatio(), 0.5);
    image.material->setLayerTexture(1, &unknown);
    EXPECT_EQ(image.getAspectRatio(), 1.0) << "width 0";
  }  // the own material is destroyed with the image
  MDL_Image bare;
  bare.setOwnMaterial();
  ASSERT_NE(bare.material, nullptr);
  EXPECT_EQ(bare.material->layers.count, 0);
  EXPECT_EQ(bare.getAspectRatio(), 1.0);
}
