// Skinning of animated meshes: the pose follows the bones by linear
// blending, in the mesh's own axes, with box and face normals; the frame
// update skins only meshes whose bones moved; malformed bindings are
// dropped; copies start from the rest shape; the world's purge and clone
// keep bone references sound.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "anim_fixture.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Object.h"
#include "physics/MDL_Scene.h"

namespace {

// An armature (plain root) with a two-bone arm along x and a box-shaped
// strip skinned to it; the mesh is turned and moved so that mesh axes and
// world axes differ. Vertices with x < 0 follow the upper bone, x > 0 the
// lower one, and the middle column both, half each.
SG_Scene armScene()
{
    SG_Scene s;
    SG_Mesh strip = SG_iMakeGrid("Strip", 4, 1, 4.0);
    s.meshes.push_back(strip);
    SG_VertexGroup upper{"Upper", {}, {}}, lower{"Lower", {}, {}};
    for (int v = 0; v < int(strip.positions.size() / 3); v++) {
        double x = strip.positions[3 * v];
        if (x <= 0) upper.vertices.push_back(v), upper.weights.push_back(x < 0 ? 1.0 : 3.0);
        if (x >= 0) lower.vertices.push_back(v), lower.weights.push_back(x > 0 ? 1.0 : 3.0);
    }
    s.groups = {upper, lower};
    s.objects.push_back({"None", "Armature", rotZ(0.3, 1, 2, 0.5), "", "", "", "", "", {}});
    s.objects.push_back(boneObject("UpperBone", rotZ(0.2, -2, 0, 0), "Armature"));
    s.objects.push_back(boneObject("LowerBone", rotZ(-0.2, 2, 0, 0), "UpperBone"));
    s.objects.push_back({"AnimatedMesh", "Skin", rotZ(0.5, 0.25, -0.5, 0.1), "Armature", "Strip", "", "", "",
                         {{"Upper", "UpperBone"}, {"Lower", "LowerBone"}}});
    return s;
}

struct Arm {
    SetPtr set;
    MDL_Scene world;
    MDL_Object* root = nullptr;
    MDL_AnimatedMesh* skin = nullptr;
    MDL_Bone* upper = nullptr;
    MDL_Bone* lower = nullptr;

    explicit Arm(const SG_Scene& scene = armScene())
    {
        set = loadScene(scene);
        root = world.clone(MDL_ModelsSet::getObject(set.get(), "Armature"));
        skin = static_cast<MDL_AnimatedMesh*>(root->getDescendant("Skin"));
        upper = static_cast<MDL_Bone*>(root->getDescendant("UpperBone"));
        lower = static_cast<MDL_Bone*>(root->getDescendant("LowerBone"));
    }
    int32_t count() const { return skin->meshData->vertexCount; }
    v3 rest(int32_t i) const { return vec(skin->meshData->positions + 3 * i); }
    v3 restNormal(int32_t i) const { return vec(skin->meshData->normals + 3 * i); }
};

// A rest vertex carried rigidly by a bone from its bind frame to its
// current frame: in through the mesh's frame at binding, out through the
// mesh's frame now.
v3 carried(const MDL_Frame& meshBind, MDL_Object* mesh, const MDL_Frame& bind, MDL_Object* bone, const v3& restLocal)
{
    v3 g, inBone, moved, out;
    MDL_Frame::localToGlobalPoint(meshBind, restLocal, g);
    MDL_Frame::globalToLocalPoint(bind, g, inBone);
    MDL_Frame::localToGlobalPoint(bone->getGlobalFrame(), inBone, moved);
    MDL_Frame::globalToLocalPoint(mesh->getGlobalFrame(), moved, out);
    return out;
}

TEST(Skinning, BindPoseGivesTheRestShapeBoxAndFaces)
{
    Arm arm;
    ASSERT_TRUE(arm.skin && arm.upper && arm.lower);
    ASSERT_EQ(arm.skin->boneList[0], arm.upper);  // the copy follows the copied bones
    ASSERT_EQ(arm.skin->boneList[1], arm.lower);
    // Scramble the arrays first: skinning must rebuild them, not keep them.
    for (int32_t i = 0; i < arm.count(); i++) arm.skin->skinnedPositions[i] = {9, 9, 9};
    arm.skin->update(true);
    v3 lo{DBL_MAX, DBL_MAX, DBL_MAX}, hi{-DBL_MAX, -DBL_MAX, -DBL_MAX};
    for (int32_t i = 0; i < arm.count(); i++) {
        v3 p = vec(arm.skin->getVertex(i));
        EXPECT_LT(dist(p, arm.rest(i)), 1e-12) << i;
        EXPECT_LT(dist(vec(arm.skin->getNormal(i)), arm.restNormal(i)), 1e-12) << i;
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(arm.skin->getBoundingBoxMin()[k], (&lo.x)[k]) << k;
        EXPECT_EQ(arm.skin->getBoundingBoxMax()[k], (&hi.x)[k]) << k;
    }
    const MDL_MeshData* d = arm.skin->meshData;
    for (uint32_t t = 0; t < d->triangleCount; t++) {
        v3 p0 = arm.rest(d->indices[3 * t]), p1 = arm.rest(d->indices[3 * t + 1]), p2 = arm.rest(d->indices[3 * t + 2]);
        v3 n;
        v3::cross(n, p1 - p0, p2 - p0);
        EXPECT_LT(dist(arm.skin->getFaces()[t].normal, n), 1e-12) << t;
    }
    EXPECT_TRUE(arm.skin->moved);
}

// One bone with weight 1 carries its vertices like a rigid mesh on that
// bone; a mesh that moved since is posed against its new place.
TEST(Skinning, FullWeightFollowsTheBoneRigidly)
{
    Arm arm;
    const MDL_Frame meshBind = arm.skin->getGlobalFrame();
    const MDL_Frame upperBind = arm.upper->getGlobalFrame();
    const MDL_Frame lowerBind = arm.lower->getGlobalFrame();
    MDL_Frame& f = arm.upper->editLocalFrame();
    m33::rotate(f.basis, {0.3, -0.4, 1}, 0.7);
    f.position += {0.5, 0.25, -1};
    f.inverseDirty = 1;
    MDL_Frame& g = arm.lower->editLocalFrame();
    m33::rotate(g.basis, {1, 0, 0}, -0.4);
    g.inverseDirty = 1;
    // The mesh itself moves too: skinning must pose it against its new place.
    arm.skin->editLocalFrame().position += {0, 3, 0};
    arm.skin->update(true);
    int checked = 0;
    for (int32_t i = 0; i < arm.count(); i++) {
        const double x = arm.rest(i).x;
        if (x == 0) continue;
        v3 expected = x < 0 ? carried(meshBind, arm.skin, upperBind, arm.upper, arm.rest(i))
                            : carried(meshBind, arm.skin, lowerBind, arm.lower, arm.rest(i));
        EXPECT_LT(dist(vec(arm.skin->getVertex(i)), expected), 1e-9) << i;
        checked++;
    }
    EXPECT_EQ(checked, 8);
}

TEST(Skinning, OppositeTurnsWithEqualWeightsBlendLinearly)
{
    SG_Scene s;
    s.meshes.push_back(SG_iMakeBox("Box", 1, 2, 0.5));
    SG_VertexGroup ga{"GA", {}, {}}, gb{"GB", {}, {}};
    for (int v = 0; v < 24; v++) {
        ga.vertices.push_back(v), ga.weights.push_back(1.0);
        gb.vertices.push_back(v), gb.weights.push_back(1.0);
    }
    s.groups = {ga, gb};
    s.objects.push_back({"None", "Armature", {}, "", "", "", "", "", {}});
    s.objects.push_back(boneObject("A", rotZ(0, 0, 0, 0), "Armature"));
    s.objects.push_back(boneObject("B", rotZ(0, 0, 0, 0), "Armature"));
    s.objects.push_back({"AnimatedMesh", "Skin", {}, "Armature", "Box", "", "", "", {{"GA", "A"}, {"GB", "B"}}});
    Arm arm(s);
    auto* a = static_cast<MDL_Bone*>(arm.root->getDescendant("A"));
    auto* b = static_cast<MDL_Bone*>(arm.root->getDescendant("B"));
    for (double angle : {0.3, 1.2, 3.0}) {
        m33::fromEulerAngles(a->editLocalFrame().basis, 0, 0, angle);
        a->editLocalFrame().inverseDirty = 1;
        m33::fromEulerAngles(b->editLocalFrame().basis, 0, 0, -angle);
        b->editLocalFrame().inverseDirty = 1;
        arm.skin->update(true);
        const double c = std::cos(angle);
        // The box of the blended box: x and y shrink by the cosine.
        const v3 half{1 * std::fabs(c), 2 * std::fabs(c), 0.5};
        for (int k = 0; k < 3; k++) {
            EXPECT_NEAR(arm.skin->getBoundingBoxMin()[k], -(&half.x)[k], 1e-12) << angle << " " << k;
            EXPECT_NEAR(arm.skin->getBoundingBoxMax()[k], (&half.x)[k], 1e-12) << angle << " " << k;
        }
        for (int32_t i = 0; i < arm.count(); i++) {
            v3 p = arm.rest(i), n = arm.restNormal(i);
            EXPECT_LT(dist(vec(arm.skin->getVertex(i)), {p.x * c, p.y * c, p.z}), 1e-12) << angle << " " << i;
            EXPECT_LT(dist(vec(arm.skin->getNormal(i)), {n.x * c, n.y * c, n.z}), 1e-12) << angle << " " << i;
        }
    }
}

// The frame update skins only when a bone moved and the mesh is not
// locked; the script's forced update always does.
TEST(Skinning, FrameUpdateSkipsStillAndLockedMeshes)
{
    Arm arm;
    const v3 marker{7, 7, 7};
    struct Case {
        bool boneMoved, locked, force, skinned;
    } cases[] = {
        {false, false, false, false},
        {true, false, false, true},
        {true, true, false, false},
        {false, true, true, true},
    };
    for (const Case& c : cases) {
        arm.upper->moved = arm.lower->moved = 0;
        if (c.boneMoved) arm.lower->editLocalFrame();
        arm.skin->locked = c.locked;
        arm.skin->skinnedPositions[0] = marker;
        arm.skin->update(c.force);
        EXPECT_EQ(dist(arm.skin->skinnedPositions[0], marker) > 0, c.skinned)
            << c.boneMoved << c.locked << c.force;
    }
}

// Bindings read from a file that name vertices outside the mesh (the
// 16-bit "none" index among them) or no bone, and a mesh data with fewer
// normals than vertices: what is valid is skinned, the rest is dropped.
TEST(Skinning, MalformedBindingsAreDropped)
{
    SG_Scene s;
    SG_Mesh grid = SG_iMakeGrid("Grid", 2, 2, 2.0);  // 9 vertices
    grid.normals.resize(3 * 5);                     // normals for 5 of them
    s.meshes.push_back(grid);
    SG_VertexGroup g16{"Short", {0, 1, 0xFFFF, 2, 3, 4, 5, 6, 7, 8}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 2};
    SG_VertexGroup far{"Far", {4, 100000, -5}, {1, 1, 1}};
    s.groups = {g16, far};
    s.objects.push_back({"None", "Armature", {}, "", "", "", "", "", {}});
    s.objects.push_back(boneObject("Bone", rotZ(0, 0, 0, 1), "Armature"));
    s.objects.push_back({"AnimatedMesh", "Skin", {}, "Armature", "Grid", "", "", "",
                         {{"Short", "Bone"}, {"Far", "Nobody"}, {"Missing", "Bone"}}});
    Arm arm(s);
    ASSERT_EQ(arm.skin->boneCount, 3);
    EXPECT_EQ(arm.skin->boneList[1], nullptr);
    EXPECT_EQ(arm.skin->vertexGroups[2], nullptr);
    MDL_Bone* bone = static_cast<MDL_Bone*>(arm.root->getDescendant("Bone"));
    bone->editLocalFrame().position += {0, 0, 2};
    arm.skin->update(true);
    for (int32_t i = 0; i < arm.count(); i++)
        EXPECT_LT(dist(vec(arm.skin->getVertex(i)), arm.rest(i) + v3{0, 0, 2}), 1e-12) << i;
    EXPECT_EQ(arm.skin->getNormal(5), nullptr);
    EXPECT_LT(dist(vec(arm.skin->getNormal(4)), {0, 0, 1}), 1e-12);
}

// Meshes without geometry (made empty, or naming a mesh that is not in the
// file) and their copies: nothing to skin, nothing dereferenced.
TEST(Skinning, MeshWithoutGeometryUpdatesAndCopiesSafely)
{
    MDL_AnimatedMesh empty;
    empty.update(true);
    empty.setBindings(2);
    empty.update(true);
    MDL_AnimatedMesh copy(empty);
    copy.update(true);
    EXPECT_EQ(copy.getVertex(0), nullptr);
    EXPECT_EQ(copy.boneCount, 2);

    SG_Scene s = armScene();
    s.objects.back().mesh = "NoSuchMesh";
    Arm arm(s);
    arm.upper->editLocalFrame();
    arm.skin->update(false);
    arm.skin->update(true);
    MDL_Object* again = arm.world.clone(arm.skin);
    ASSERT_NE(again, nullptr);
    static_cast<MDL_AnimatedMesh*>(again)->update(true);
}

// A copy starts from the rest shape whatever the source's pose; a copy of a
// mesh that was never skinned can be picked at once.
TEST(Skinning, CopiesStartFromTheRestShape)
{
    // A file whose mesh states no box.
    SG_Scene s = armScene();
    for (int k = 0; k < 3; k++) s.meshes[0].min[k] = s.meshes[0].max[k] = 0;
    Arm arm(s);
    auto* file = static_cast<MDL_AnimatedMesh*>(MDL_ModelsSet::getObject(arm.set.get(), "Skin"));
    MDL_AnimatedMesh fresh(*file);
    double t = 1.0;
    uint32_t tri = 0;
    EXPECT_TRUE(fresh.intersectRay({1.5, 1.5, 5}, {1.5, 1.5, -5}, &t, &tri));

    arm.lower->editLocalFrame().position += {0, 0, 3};
    arm.skin->update(true);
    MDL_AnimatedMesh copy(*arm.skin);
    for (int32_t i = 0; i < arm.count(); i++) EXPECT_EQ(dist(vec(copy.getVertex(i)), arm.rest(i)), 0.0) << i;
    for (int k = 0; k < 3; k++) {
        EXPECT_LE(copy.getBoundingBoxMin()[k], arm.skin->getBoundingBoxMin()[k]);
        EXPECT_GE(copy.getBoundingBoxMax()[k], arm.skin->getBoundingBoxMax()[k]);
    }
}

// Cloning a mesh alone copies its bones once, adds them to the world and
// keeps the skeleton's shape; the purge nulls bones freed while the mesh
// lives, and skinning then skips them.
TEST(Skinning, CloneAndPurgeKeepBoneReferencesSound)
{
    Arm arm;
    MDL_Object* fileSkin = MDL_ModelsSet::getObject(arm.set.get(), "Skin");
    const int bonesBefore = arm.world.bones.count;
    auto* alone = static_cast<MDL_AnimatedMesh*>(arm.world.clone(fileSkin));
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(arm.world.bones.count, bonesBefore + 2);
    MDL_Bone* u = alone->boneList[0];
    MDL_Bone* l = alone->boneList[1];
    ASSERT_TRUE(u && l);
    EXPECT_EQ(u->scene, &arm.world);
    EXPECT_EQ(l->parent, u);  // the chain stays a chain
    auto* fileUpper = MDL_ModelsSet::getObject(arm.set.get(), "UpperBone");
    // The bones stand relative to the copy as they stood relative to the
    // file's mesh.
    v3 inCopy, inFile;
    MDL_Frame::globalToLocalPoint(alone->getGlobalFrame(), u->getGlobalFrame().position, inCopy);
    MDL_Frame::globalToLocalPoint(fileSkin->getGlobalFrame(), fileUpper->getGlobalFrame().position, inFile);
    EXPECT_LT(dist(inCopy, inFile), 1e-12);
    alone->update(true);
    for (int32_t i = 0; i < arm.count(); i++)
        EXPECT_LT(dist(vec(alone->getVertex(i)), arm.rest(i)), 1e-12) << i;

    // Taken out of the tree and marked, as the controller's detach does.
    arm.lower->unlinkFromParent();
    arm.lower->deleted = 1;
    arm.world.purgeDeleted();
    EXPECT_EQ(arm.skin->boneList[1], nullptr);
    EXPECT_EQ(arm.skin->boneList[0], arm.upper);
    arm.upper->editLocalFrame();
    arm.skin->update(false);  // must not touch the freed bone
}

}  // namespace

namespace {

template <typename T>
T* filled(size_t n)
{
    return static_cast<T*>(std::calloc(n, sizeof(T)));
}

// Skinning in the plain order, one binding after the other and one entry
// after the other, with fused or plain multiply-adds: the result every
// faster pass must give bit for bit.
void referenceSkin(MDL_AnimatedMesh& m, bool fused, std::vector<v3>& pos, std::vector<v3>& nrm,
                   std::vector<v3>& faceNormals)
{
    auto madd = [fused](double a, double b, double c) { return fused ? std::fma(a, b, c) : a * b + c; };
    const MDL_MeshData& d = *m.meshData;
    const uint32_t nv = uint32_t(d.vertexCount), nn = uint32_t(std::min(d.normalCount, d.vertexCount));
    pos.assign(nv, v3{0, 0, 0});
    nrm.assign(nn, v3{0, 0, 0});
    const MDL_Frame& mf = m.getGlobalFrame();
    MDL_Frame::validateInverse(mf);
    for (int32_t b = 0; b < m.boneCount; b++) {
        const MDL_VertexGroup& g = *m.vertexGroups[b];
        const MDL_Frame& bf = m.boneList[b]->getGlobalFrame();
        const v3 o = m33::apply(mf.inverse, bf.position - mf.position);
        m33 R;
        m33::multiply(R, mf.inverse, bf.basis);
        for (int32_t e = 0; e < g.count; e++) {
            const uint32_t v = uint32_t(g.vertices[e]);
            if (v >= nv) continue;
            const double w = g.weights[e];
            const v3 p = g.restPositions[e], q = g.restNormals[e];
            for (int k = 0; k < 3; k++) {
                const double rx = (&R.c[0].x)[k], ry = (&R.c[1].x)[k], rz = (&R.c[2].x)[k];
                double& out = (&pos[v].x)[k];
                out = madd(madd(rz, p.z, madd(ry, p.y, madd(rx, p.x, (&o.x)[k]))), w, out);
                if (v < nn) {
                    double& nout = (&nrm[v].x)[k];
                    nout = madd(madd(rz, q.z, madd(ry, q.y, rx * q.x)), w, nout);
                }
            }
        }
    }
    faceNormals.assign(d.triangleCount, v3{0, 0, 0});
    for (uint32_t t = 0; t < d.triangleCount; t++) {
        const uint32_t* ix = d.indices + 3 * size_t(t);
        if (ix[0] >= nv || ix[1] >= nv || ix[2] >= nv) {
            faceNormals[t] = m.faces[t].normal;
            continue;
        }
        const v3 a = pos[ix[1]] - pos[ix[0]], c = pos[ix[2]] - pos[ix[0]];
        faceNormals[t] = {madd(a.y, c.z, -(a.z * c.y)), madd(a.z, c.x, -(a.x * c.z)), madd(a.x, c.y, -(a.y * c.x))};
    }
}

}  // namespace

// Many bones with uneven weights, a vertex listed twice in one group,
// indices outside the mesh, fewer normals than vertices, a triangle naming
// a missing vertex and one naming the last vertex, values near the ends of
// the double range, a group of every length from 0 up, and groups listing
// runs of consecutive vertices (which end at the last normal, run past it,
// and run past the last vertex): skinned positions, normals and face
// normals equal the plain per-binding order bit for bit, on the wide path
// and on the plain one.
TEST(Skinning, ResultsEqualThePlainOrderBitForBit)
{
    const int32_t nv = 97, bones = 11, nn = nv - 6;
    MDL_MeshData d;
    d.vertexCount = nv;
    d.normalCount = nn;
    d.positions = filled<double>(3 * size_t(nv));
    d.normals = filled<double>(3 * size_t(nv));
    for (int32_t i = 0; i < 3 * nv; i++) d.positions[i] = std::sin(0.37 * i) * 5, d.normals[i] = std::cos(0.11 * i);
    d.triangleCount = uint32_t(nv - 2);
    d.indices = filled<uint32_t>(3 * size_t(d.triangleCount));
    d.faces = filled<MDL_Face>(d.triangleCount);
    for (uint32_t t = 0; t < d.triangleCount; t++) {
        d.indices[3 * t] = t, d.indices[3 * t + 1] = t + 1, d.indices[3 * t + 2] = (t * 7 + 2) % uint32_t(nv);
        new (&d.faces[t]) MDL_Face();
    }
    d.indices[3 * 5 + 1] = uint32_t(nv) + 3;
    d.indices[3 * 9 + 2] = uint32_t(nv) - 1;
    std::vector<std::unique_ptr<MDL_VertexGroup>> groups;
    std::vector<std::unique_ptr<MDL_Bone>> boneObjects;
    MDL_AnimatedMesh m;
    m.meshData = &d;
    m.editGlobalFrame().position = {0.5, -1, 2};
    m33::fromEulerAngles(m.editGlobalFrame().basis, 0.3, -0.2, 0.9);
    m.editGlobalFrame().inverseDirty = 1;
    ASSERT_TRUE(m.setBindings(bones));
    const double odd[] = {1e-300, -1e-300, 0.0, -0.0, 1e300, 3.0, -7.5};
    for (int32_t b = 0; b < bones; b++) {
        auto g = std::make_unique<MDL_VertexGroup>();
        g->count = b * 9 + (b == 0 ? 0 : 1);
        g->vertices = filled<int32_t>(size_t(g->count) + 1);
        g->weights = filled<double>(size_t(g->count) + 1);
        g->restPositions = filled<v3>(size_t(g->count) + 1);
        g->restNormals = filled<v3>(size_t(g->count) + 1);
        // Every third group lists consecutive vertices from its start.
        const bool run = b % 3 == 1;
        const int32_t start = b == 1 ? nn - 8 : b == 4 ? nn - 9 : b == 7 ? 35 : 0;
        for (int32_t e = 0; e < g->count; e++) {
            g->vertices[e] = run ? start + e : (e * 13 + b * 5) % (nv + 4);
            if (e == 3 && b != 1) g->vertices[e] -= nv + 10;
            g->weights[e] = 0.05 + 0.9 * std::fabs(std::sin(1.7 * e + b));
            const double s = (e % 17 == 0) ? odd[(e + b) % 7] : 1.0;
            g->restPositions[e] = v3{std::sin(e + 0.5 * b), std::cos(2.0 * e), 0.3 * e - b} * s;
            g->restNormals[e] = v3{std::cos(e * 0.7), std::sin(b * 0.3), s};
        }
        if (g->count > 4 && b != 1) g->vertices[4] = g->vertices[2];  // listed twice
        auto bone = std::make_unique<MDL_Bone>();
        MDL_Frame& f = bone->editLocalFrame();
        f.position = {0.1 * b, -0.3 * b, 1.0 / (b + 1)};
        m33::fromEulerAngles(f.basis, 0.2 * b, 0.1 - 0.05 * b, 0.7 * b);
        f.inverseDirty = 1;
        m.vertexGroups[b] = g.get();
        m.boneList[b] = bone.get();
        groups.push_back(std::move(g));
        boneObjects.push_back(std::move(bone));
    }
    m.resetSkin();
    for (bool wide : {true, false}) {
        const bool fused = MDL_iSetWideSkinning(wide);
        m.update(true);
        std::vector<v3> pos, nrm, fn;
        referenceSkin(m, fused, pos, nrm, fn);
        EXPECT_EQ(std::memcmp(pos.data(), m.skinnedPositions, sizeof(v3) * pos.size()), 0) << fused;
        EXPECT_EQ(std::memcmp(nrm.data(), m.skinnedNormals, sizeof(v3) * nrm.size()), 0) << fused;
        for (uint32_t t = 0; t < d.triangleCount; t++)
            EXPECT_EQ(std::memcmp(&fn[t], &m.faces[t].normal, sizeof(v3)), 0) << t << " " << fused;
    }
    MDL_iSetWideSkinning(true);
    m.meshData = nullptr;
}
