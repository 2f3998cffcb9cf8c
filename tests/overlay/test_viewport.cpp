#include <gtest/gtest.h>

#include <cmath>

#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "script/LMP_Proxy.h"

namespace {

const double kPi = 3.14159265358979323846;

void expectNear(const v3& a, const v3& b, double eps = 1e-9)
{
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

// A camera placed in the world by hand (no parent: local = global).
struct Fixture {
    MDL_Camera camera;
    MDL_Viewport vp{0, 0, 1, 0.75};
    Fixture()
    {
        camera.clipStart = 0.5;
        camera.clipEnd = 50;
        vp.camera = &camera;
    }
    void place(const v3& position, double zAngle)
    {
        MDL_Frame& f = camera.editGlobalFrame();
        m33::fromEulerAngles(f.basis, 0.3, 0, zAngle);
        f.position = position;
        f.inverseDirty = 1;
    }
};

}  // namespace

TEST(ViewportProjection, CentreLooksDownTheViewAxis)
{
    Fixture fx;
    v3 out = {9, 9, 9};
    fx.vp.toScene({0.5, 0.375, 0}, out);
    expectNear(out, {0, 0, -0.5});
    fx.vp.toScene({0.5, 0.375, 1}, out);
    expectNear(out, {0, 0, -50});
    // The left edge at mid height lies on the horizontal field of view.
    fx.vp.toScene({0, 0.375, 0}, out);
    expectNear(out, {-0.5 * std::tan(fx.camera.angle / 2), 0, -0.5});
    // The top edge is up (+y), the right edge +x.
    fx.vp.toScene({1, 0, 0}, out);
    EXPECT_GT(out.x, 0);
    EXPECT_GT(out.y, 0);
}

TEST(ViewportProjection, FromSceneInvertsToScene)
{
    Fixture fx;
    fx.place({1, -2, 3}, 1.1);
    const v3 points[] = {{0.5, 0.375, 0}, {0, 0, 1}, {1, 0.75, 0.5}, {0.25, 0.6, 0.01}, {0.9, 0.1, 0.99}};
    for (const v3& p : points) {
        v3 scene, back;
        fx.vp.toScene(p, scene);
        fx.vp.fromScene(scene, back);
        expectNear(back, p);
    }
}

TEST(ViewportProjection, PickRayReachesTheFarPlane)
{
    Fixture fx;
    fx.place({1, 2, 3}, -0.4);
    v3 origin, direction, nearP, farP;
    fx.vp.getPickRay(0.3, 0.2, origin, direction);
    fx.vp.toScene({0.3, 0.2, 0}, nearP);
    fx.vp.toScene({0.3, 0.2, 1}, farP);
    expectNear(origin, nearP);
    expectNear(origin + direction, farP);
}

TEST(ViewportProjection, PointInCameraPlaneStaysFinite)
{
    Fixture fx;
    v3 out;
    fx.vp.fromScene({3, 1, 0}, out);
    EXPECT_TRUE(std::isfinite(out.x) && std::isfinite(out.y));
    EXPECT_LT(out.z, 0);
}

TEST(ViewportProjection, NoCameraLeavesOutputsAlone)
{
    MDL_Viewport vp(0, 0, 1, 0.75);
    v3 a = {7, 7, 7}, b = {8, 8, 8};
    vp.toScene({0.5, 0.5, 0}, a);
    vp.fromScene({1, 1, 1}, a);
    vp.getPickRay(0.5, 0.5, a, b);
    vp.navigationMode = NAVIGATION_MIXED;
    vp.updateNavigation();
    expectNear(a, {7, 7, 7});
    expectNear(b, {8, 8, 8});
}

TEST(ViewportNavigation, OrbitPlacesTheCamera)
{
    struct Case {
        double elevation, azimuth;
        v3 position;  // with centre (1, 2, 3) and radius 4
        v3 view;      // direction the camera looks along
    } cases[] = {
        {kPi / 2, 0, {1, 2, 7}, {0, 0, -1}},
        {0, 0, {-3, 2, 3}, {1, 0, 0}},
        {0, kPi / 2, {1, -2, 3}, {0, 1, 0}},
    };
    for (int32_t mode : {NAVIGATION_MIXED, NAVIGATION_GLASSBALL}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " elevation " << c.elevation << " azimuth " << c.azimuth);
            Fixture fx;
            fx.vp.navigationMode = mode;
            fx.vp.navPosition = {1, 2, 3};
            fx.vp.navRadius = 4;
            fx.vp.navElevation = c.elevation;
            fx.vp.navAzimuth = c.azimuth;
            fx.vp.updateNavigation();
            const MDL_Frame& g = fx.camera.getGlobalFrame();
            expectNear(g.position, c.position);
            expectNear(-g.basis.c[2], c.view);
            // The view centre looks at the orbit centre.
            v3 centre;
            fx.vp.fromScene({1, 2, 3}, centre);
            EXPECT_NEAR(centre.x, 0.5, 1e-9);
            EXPECT_NEAR(centre.y, 0.375, 1e-9);
        }
    }
}

TEST(ViewportNavigation, CameraKeepsItsScale)
{
    Fixture fx;
    MDL_Frame& f = fx.camera.editLocalFrame();
    for (v3& axis : f.basis.c)
        axis *= 2.5;
    f.inverseDirty = 1;
    fx.vp.navigationMode = NAVIGATION_MIXED;
    fx.vp.navRadius = 3;
    fx.vp.updateNavigation();
    const MDL_Frame& g = fx.camera.getLocalFrame();
    for (const v3& axis : g.basis.c)
        EXPECT_NEAR(v3::length(axis), 2.5, 1e-12);
    // The position follows the unscaled axis: the radius is a distance.
    EXPECT_NEAR(v3::length(g.position), 3, 1e-12);
}

TEST(ViewportNavigation, ClampsIntoRanges)
{
    Fixture fx;
    fx.vp.navigationMode = NAVIGATION_GLASSBALL;
    fx.vp.radiusMin = 2;
    fx.vp.radiusMax = 10;
    fx.vp.elevationMin = -0.5;
    fx.vp.elevationMax = 0.5;
    fx.vp.azimuthMin = 1;
    fx.vp.azimuthMax = 2;
    fx.vp.navRadius = 0.5;
    fx.vp.navElevation = 1.0;
    fx.vp.navAzimuth = -3;
    fx.vp.updateNavigation();
    EXPECT_EQ(fx.vp.navRadius, 2);
    EXPECT_EQ(fx.vp.navElevation, 0.5);
    EXPECT_EQ(fx.vp.navAzimuth, 1);
    fx.vp.navRadius = 50;
    fx.vp.updateNavigation();
    EXPECT_EQ(fx.vp.navRadius, 10);
}

TEST(ViewportNavigation, FreeModesChangeNothing)
{
    for (int32_t mode : {NAVIGATION_FREE, NAVIGATION_FIXED}) {
        Fixture fx;
        fx.place({1, 2, 3}, 0.7);
        fx.vp.navigationMode = mode;
        fx.vp.navRadius = -5;
        fx.vp.radiusMin = 1;
        fx.camera.moved = 0;
        fx.vp.updateNavigation();
        EXPECT_EQ(fx.vp.navRadius, -5);
        EXPECT_EQ(fx.camera.moved, 0);
        expectNear(fx.camera.getGlobalFrame().position, {1, 2, 3});
    }
}

// A proxy outlives its record: freeing the record clears what the proxy
// stands for.
TEST(ViewportRecord, DestructionReleasesTheProxy)
{
    MDL_Viewport* vp = new MDL_Viewport(0, 0, 1, 1);
    LMP_Proxy* p = new LMP_Proxy();
    p->model = vp;
    LMP_iAssignProxy(&vp->proxy, p);
    p->refCount++;  // as a script value would hold it
    delete vp;
    EXPECT_EQ(p->model, nullptr);
    EXPECT_EQ(p->refCount, 1u);
    delete p;
}
