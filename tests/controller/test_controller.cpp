#include "controller/CTRL_Generic.h"
#include "controller/CTRL_ScriptEngine.h"
#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_Generic.h"
#include "sound/VIEW_Sound.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

namespace {

struct EngineLog {
    CTRL_Generic* attached = nullptr;
    int starts = 0;
    std::vector<double> updates;
    bool destroyed = false;
};

class FakeEngine : public CTRL_ScriptEngine {
public:
    explicit FakeEngine(EngineLog* log) : log(log) {}
    ~FakeEngine() override { log->destroyed = true; }
    bool handleEvent(const CTRL_Event*) override { return false; }
    void update(double dt) override { log->updates.push_back(dt); }
    void aspectRatioChanged(double) override {}
    bool start() override
    {
        log->starts++;
        return true;
    }
    void registerModule(const CTRL_ScriptModule*, void*) override {}
    void setGlobal(const char*, const CTRL_Variant*) override {}
    bool getGlobal(const char*, CTRL_Variant*) override { return false; }
    bool callFunction(const char*, const CTRL_Array<CTRL_Variant*>*, CTRL_Variant*) override { return false; }
    void collectGarbage() override {}
    void attachController(CTRL_Generic* c) override { log->attached = c; }
    EngineLog* log;
};

struct SoundLog {
    int stops = 0;
    bool destroyed = false;
};

class FakeSound : public VIEW_Sound {
public:
    explicit FakeSound(SoundLog* log) : log(log) {}
    ~FakeSound() override { log->destroyed = true; }
    void stop() override { log->stops++; }
    SoundLog* log;
};

struct Step {
    MDL_Scene* scene;
    double h;
};

// A controller whose scene work and drag are recorded.
class TestController : public CTRL_Generic {
public:
    explicit TestController(CTRL_ScriptEngine* e) : CTRL_Generic(e) {}
    std::vector<Step> steps;
    std::vector<Step> closes;
    std::vector<v3> drags;
    std::vector<int> cursors;
    bool failOnStep = false;

protected:
    void stepScene(MDL_Scene* s, double h) override
    {
        steps.push_back({s, h});
        if (failOnStep)
            stopOnError("script error %d", 1);
        CTRL_Generic::stepScene(s, h);
    }
    void closeScene(MDL_Scene* s, double dt) override
    {
        closes.push_back({s, dt});
        CTRL_Generic::closeScene(s, dt);
    }
    void moveGrabbedObject(MDL_Object*, const v3& v, double) override { drags.push_back(v); }
    void setCursor(int32_t shape) override { cursors.push_back(shape); }
    void warpCursor(void*, const v2& p) override { warps.push_back(p); }

public:
    std::vector<v2> warps;
};

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock.perSecond = 1000000;
        clock.now = 5000000;
        CTRL_iSetClock(&clock);
        ctrl = new TestController(new FakeEngine(&engine));
    }
    void TearDown() override
    {
        delete ctrl;
        CTRL_iSetClock(nullptr);
    }

    MDL_Scene* addScene(double step, bool active = true)
    {
        MDL_Scene* s = new MDL_Scene("test");
        s->integrationStep = step;
        s->active = active ? 1 : 0;
        ctrl->scenes.append(s);
        return s;
    }

    // One timed update after `seconds` on the clock.
    void tickAfter(double seconds)
    {
        ctrl->tick = 1;
        clock.advanceSeconds(seconds);
        ctrl->update();
    }

    CTRL_ManualClock clock;
    EngineLog engine;
    TestController* ctrl = nullptr;
};

} // namespace

TEST_F(ControllerTest, ConstructionState)
{
    EXPECT_EQ(engine.attached, ctrl);
    EXPECT_EQ(ctrl->mode, 1);
    EXPECT_EQ(ctrl->aspect, 0.75);
    EXPECT_EQ(ctrl->stage, 0);
    EXPECT_EQ(ctrl->halted, 0);
    EXPECT_EQ(ctrl->lastStamp, 5000000.0);
    EXPECT_EQ(ctrl->startStamp, 5000000.0);
    EXPECT_NE(ctrl->defaultFont, nullptr);
    EXPECT_EQ(ctrl->currentKeys, ctrl->keyTableA);
    EXPECT_EQ(ctrl->previousKeys, ctrl->keyTableB);
    EXPECT_STREQ(ctrl->language, "");
    EXPECT_EQ(ctrl->scenes.owns, 1);
    char lang[8] = "xx";
    ctrl->getLanguage(lang);
    EXPECT_STREQ(lang, "");
    EXPECT_EQ(ctrl->registerDevice(1, 2, 0), 0);
}

TEST_F(ControllerTest, LiveCounterAndTeardownOwnership)
{
    int before = CTRL_Generic::liveControllers;
    EngineLog log2;
    SoundLog sound;
    {
        CTRL_Generic* c = new CTRL_Generic(new FakeEngine(&log2));
        EXPECT_EQ(CTRL_Generic::liveControllers, before + 1);
        c->scenes.append(new MDL_Scene("a"));
        c->viewports.append(new MDL_Viewport(0, 0, 1, 0.75));
        c->package = new CTRL_Package;
        CTRL_iResizeByteBuffer(c->package, 4096);
        c->sound = new FakeSound(&sound);
        c->stopOnError("x");   // also frees the sound output
        delete c;
    }
    EXPECT_EQ(CTRL_Generic::liveControllers, before);
    EXPECT_TRUE(log2.destroyed);
    EXPECT_TRUE(sound.destroyed);
}

TEST_F(ControllerTest, TimeStepTable)
{
    MDL_Scene* s = addScene((double)0.002f);
    struct Case {
        double gap;
        uint8_t tick;
        double dt;
        size_t substeps;
    } cases[] = {
        {0.5, 0, 0, 0},                       // first tick after a timer start, resize or menu
        {2.0, 1, (double)0.1f, 50},           // long gaps count as 0.1 in single precision
        {0.1, 1, 0.1, 50},
        {0.0165, 1, 0.0165, 9},
        {0.002, 1, 0.002, 1},
    };
    for (const Case& k : cases) {
        ctrl->steps.clear();
        ctrl->closes.clear();
        engine.updates.clear();
        ctrl->tick = k.tick;
        clock.advanceSeconds(k.gap);
        ctrl->update();
        EXPECT_NEAR(ctrl->dt, k.dt, 1e-12) << k.gap;
        EXPECT_EQ(ctrl->lastStamp, (double)clock.now);
        ASSERT_EQ(ctrl->steps.size(), k.substeps) << k.gap;
        for (const Step& st : ctrl->steps) {
            EXPECT_EQ(st.scene, s);
            EXPECT_DOUBLE_EQ(st.h, ctrl->dt / k.substeps);
        }
        // CB_UPDATE runs only with time; the closing work runs always.
        EXPECT_EQ(engine.updates.size(), k.dt > 0 ? 1u : 0u);
        if (k.dt > 0) {
            EXPECT_EQ(engine.updates[0], ctrl->dt);
        }
        ASSERT_EQ(ctrl->closes.size(), 1u);
        EXPECT_EQ(ctrl->closes[0].h, ctrl->dt);
    }
}

TEST_F(ControllerTest, ClampIsSinglePrecision)
{
    addScene(0.002);
    tickAfter(2.0);
    EXPECT_EQ(ctrl->dt, 0.10000000149011612);
}

TEST_F(ControllerTest, InactiveScenesAreClosedButNotStepped)
{
    MDL_Scene* on = addScene(0.01);
    MDL_Scene* off = addScene(0.01, false);
    tickAfter(0.05);
    ASSERT_EQ(ctrl->steps.size(), 5u);
    for (const Step& st : ctrl->steps)
        EXPECT_EQ(st.scene, on);
    ASSERT_EQ(ctrl->closes.size(), 2u);
    EXPECT_EQ(ctrl->closes[0].scene, on);
    EXPECT_EQ(ctrl->closes[1].scene, off);
}

TEST_F(ControllerTest, UnusableStepsStillTerminate)
{
    struct Case {
        double step;
        size_t substeps;
    } cases[] = {
        {0, 1}, {-0.5, 1}, {NAN, 1}, {1e-300, 1000}, {1e-9, 1000},
    };
    EXPECT_EQ(CTRL_iSubStepCount(0.1, 0.002), 50);
    EXPECT_EQ(CTRL_iSubStepCount(0, 0.002), 0);
    EXPECT_EQ(CTRL_iSubStepCount(0.05, 1.0), 1);
    for (const Case& k : cases) {
        ctrl->scenes.deleteAll();
        ctrl->steps.clear();
        addScene(k.step);
        tickAfter(0.05);
        EXPECT_EQ(ctrl->steps.size(), k.substeps) << k.step;
        for (const Step& st : ctrl->steps)
            ASSERT_TRUE(std::isfinite(st.h) && st.h > 0);
    }
}

TEST_F(ControllerTest, BackwardClockGivesNoTime)
{
    addScene(0.002);
    ctrl->tick = 1;
    clock.now -= 100000;
    ctrl->update();
    EXPECT_EQ(ctrl->dt, 0);
    EXPECT_TRUE(ctrl->steps.empty());
    EXPECT_TRUE(engine.updates.empty());
}

TEST_F(ControllerTest, HaltStopsUpdateAndKeepsFirstMessage)
{
    addScene(0.002);
    SoundLog sound;
    ctrl->sound = new FakeSound(&sound);
    ctrl->stage = 2;
    ctrl->stopOnError("%s:%d: bad thing", "init.lua", 3);
    EXPECT_EQ(ctrl->halted, 1);
    EXPECT_STREQ(ctrl->message, "Error loading the file.\nPlease check with your content provider.");
    EXPECT_EQ(sound.stops, 1);
    EXPECT_TRUE(sound.destroyed);
    EXPECT_EQ(ctrl->sound, nullptr);

    ctrl->stage = 3;
    ctrl->stopOnError("again");
    EXPECT_STREQ(ctrl->message, "Error loading the file.\nPlease check with your content provider.");

    tickAfter(0.05);
    EXPECT_TRUE(ctrl->steps.empty());
    EXPECT_TRUE(ctrl->closes.empty());
    EXPECT_TRUE(engine.updates.empty());
}

TEST(StageMessages, Table)
{
    EXPECT_STREQ(CTRL_iStageMessage(0),
                 "Error opening the file, the file is corrupted.\nPlease check with your content provider.");
    EXPECT_STREQ(CTRL_iStageMessage(1), "You are trying to open a file not compatible with your player.");
    EXPECT_STREQ(CTRL_iStageMessage(2), "Error loading the file.\nPlease check with your content provider.");
    EXPECT_STREQ(CTRL_iStageMessage(3), "Error running the file.\nPlease check with your content provider.");
    EXPECT_STREQ(CTRL_iStageMessage(-4), CTRL_iStageMessage(3));
}

TEST_F(ControllerTest, ErrorDuringStepsSkipsUpdateCallback)
{
    addScene(0.01);
    ctrl->failOnStep = true;
    tickAfter(0.05);
    EXPECT_EQ(ctrl->halted, 1);
    EXPECT_TRUE(engine.updates.empty());
    // The closing work of the frame still ran once it had started.
    EXPECT_EQ(ctrl->closes.size(), 1u);
}

TEST_F(ControllerTest, FrameStartsScriptsOnceWithPackage)
{
    ctrl->frame(nullptr, nullptr);
    EXPECT_EQ(engine.starts, 0) << "no package, no scripts";
    ctrl->package = new CTRL_Package;
    ctrl->frame(nullptr, nullptr);
    ctrl->frame(nullptr, nullptr);
    EXPECT_EQ(engine.starts, 1);
    EXPECT_EQ(ctrl->started, 1);
}

TEST_F(ControllerTest, KeyTablesTurnOverEachFrame)
{
    uint8_t* cur = ctrl->currentKeys;
    // Pressed before a frame: just pressed until the frame ends.
    ctrl->currentKeys[KEY_A] = 1;
    EXPECT_TRUE(ctrl->isKeyPressed(KEY_A));
    EXPECT_TRUE(ctrl->isKeyJustPressed(KEY_A));
    ctrl->frame(nullptr, nullptr);
    EXPECT_NE(ctrl->currentKeys, cur) << "tables swap";
    EXPECT_TRUE(ctrl->isKeyPressed(KEY_A));
    EXPECT_FALSE(ctrl->isKeyJustPressed(KEY_A));
    // Released: just released for one frame.
    ctrl->currentKeys[KEY_A] = 0;
    EXPECT_TRUE(ctrl->isKeyJustReleased(KEY_A));
    ctrl->frame(nullptr, nullptr);
    EXPECT_FALSE(ctrl->isKeyJustReleased(KEY_A));

    // Pressed and released between two frames: seen by neither query.
    ctrl->currentKeys[KEY_B] = 1;
    ctrl->currentKeys[KEY_B] = 0;
    ctrl->frame(nullptr, nullptr);
    EXPECT_EQ(ctrl->currentKeys[KEY_B], 0);
    EXPECT_EQ(ctrl->previousKeys[KEY_B], 0);
    EXPECT_FALSE(ctrl->isKeyJustPressed(KEY_B));
    EXPECT_FALSE(ctrl->isKeyJustReleased(KEY_B));

    // Out of range reads as up.
    EXPECT_FALSE(ctrl->isKeyPressed(-1));
    EXPECT_FALSE(ctrl->isKeyPressed(256));

    // Halted: the tables stop turning.
    ctrl->currentKeys[KEY_C] = 1;
    ctrl->stopOnError("x");
    uint8_t* before = ctrl->currentKeys;
    ctrl->frame(nullptr, nullptr);
    EXPECT_EQ(ctrl->currentKeys, before);
    EXPECT_TRUE(ctrl->isKeyJustPressed(KEY_C));
}

TEST_F(ControllerTest, DragWithoutViewportHasNoVelocity)
{
    MDL_Scene* s = addScene(0.01);
    MDL_Object* o = new MDL_Object;
    o->state |= STATE_MOVABLE;
    s->addObject(o);
    ctrl->grabbed = o;
    tickAfter(0.02);
    ASSERT_EQ(ctrl->drags.size(), 2u);
    for (const v3& v : ctrl->drags) {
        EXPECT_EQ(v.x, 0);
        EXPECT_EQ(v.y, 0);
        EXPECT_EQ(v.z, 0);
    }
}

TEST_F(ControllerTest, DetachCameraAndListenerLeaveViewports)
{
    MDL_Scene* s = addScene(0.01);
    MDL_Camera* cam = new MDL_Camera;
    MDL_Mike* mike = new MDL_Mike;
    s->addObject(cam);
    s->addObject(mike);
    MDL_Viewport* vp = new MDL_Viewport(0, 0, 1, 0.75);
    vp->camera = cam;
    vp->listener = mike;
    ctrl->viewports.append(vp);
    ctrl->currentViewport = vp;
    EXPECT_EQ(ctrl->currentScene(), s);

    ctrl->detachObject(cam);
    EXPECT_EQ(vp->camera, nullptr);
    EXPECT_EQ(vp->listener, mike);
    EXPECT_EQ(cam->deleted, 1);
    EXPECT_EQ(ctrl->currentScene(), nullptr);
    ctrl->detachObject(mike);
    EXPECT_EQ(vp->listener, nullptr);
    ctrl->detachObject(nullptr);
}

TEST_F(ControllerTest, DetachSubtreeAndInputState)
{
    MDL_Scene* s = addScene(0.01);
    MDL_Object* root = new MDL_Object;
    MDL_Object* a = new MDL_Object;
    MDL_Object* b = new MDL_Object;
    MDL_Object* c = new MDL_Object;
    MDL_Object* grand = new MDL_Object;
    for (MDL_Object* o : {root, a, b, c, grand})
        s->addObject(o);
    root->addChild(a);
    root->addChild(b);
    root->addChild(c);
    b->addChild(grand);

    // The grabbed object is a grandchild: detaching its ancestor frees the drag.
    ctrl->grabbed = grand;
    ctrl->hovered = grand;
    ctrl->leftDown = 1;
    ctrl->detachObject(b);
    EXPECT_EQ(root->firstChild, a);
    EXPECT_EQ(a->nextSibling, c);
    EXPECT_EQ(b->firstChild, nullptr);
    EXPECT_EQ(b->deleted, 1);
    EXPECT_EQ(grand->deleted, 1);
    EXPECT_EQ(a->deleted, 0);
    EXPECT_EQ(ctrl->grabbed, nullptr);
    EXPECT_EQ(ctrl->hovered, nullptr);
    EXPECT_EQ(ctrl->leftDown, 0);
    ASSERT_EQ(ctrl->cursors.size(), 1u);
    EXPECT_EQ(ctrl->cursors[0], 3);

    // The first child leaves through its parent's first-child link.
    ctrl->detachObject(a);
    EXPECT_EQ(root->firstChild, c);

    // The scene frees them at the end of the frame.
    ctrl->update();
    EXPECT_EQ(s->objects.count, 2);
}

TEST_F(ControllerTest, OverlayDragVelocityAndCap)
{
    struct Case {
        double maxMove;
        v3 want;
    } cases[] = {
        {DBL_MAX, {5, 2.5, 0}},   // (pointer - grab point) / dt
        // |v| x step may not exceed the largest move: direction kept.
        {0.01, {5 / std::sqrt(31.25), 2.5 / std::sqrt(31.25), 0}},
    };
    for (const Case& k : cases) {
        ctrl->scenes.deleteAll();
        ctrl->viewports.deleteAll();
        ctrl->drags.clear();
        MDL_Scene* s = addScene(0.01);
        MDL_Image* img = new MDL_Image;
        s->addObject(img);
        img->editLocalFrame().position = {0.25, 0.25, 0};
        img->maxMouseMove = k.maxMove;
        MDL_Viewport* vp = new MDL_Viewport(0, 0, 1, 0.75);
        ctrl->viewports.append(vp);
        ctrl->currentViewport = vp;
        ctrl->setViewportSize(1024, 768);
        ctrl->mouse = {512, 384};   // viewport point (0.5, 0.375)
        ctrl->grabbed = img;
        ctrl->grabOffset = {0, 0, 0};
        tickAfter(0.05);
        ASSERT_EQ(ctrl->drags.size(), 5u);
        for (const v3& v : ctrl->drags) {
            EXPECT_NEAR(v.x, k.want.x, 1e-9);
            EXPECT_NEAR(v.y, k.want.y, 1e-9);
            EXPECT_EQ(v.z, 0);
        }
        ctrl->grabbed = nullptr;
        ctrl->currentViewport = nullptr;
    }
}

namespace {

// A scene seen by a camera at (0, 0, 10) looking down -z, through a
// viewport that covers a 1024 x 768 window.
struct CameraRig {
    MDL_Scene* scene;
    MDL_Camera* camera;
    MDL_Viewport* viewport;
    MDL_Object* object;   // movable, at the origin
};

CameraRig makeRig(TestController* ctrl, MDL_Scene* s)
{
    CameraRig r;
    r.scene = s;
    r.camera = new MDL_Camera;
    r.camera->setAngle(1.0);
    s->addObject(r.camera);
    r.camera->editLocalFrame().position = {0, 0, 10};
    r.object = new MDL_Object;
    r.object->state |= STATE_MOVABLE;
    s->addObject(r.object);
    r.viewport = new MDL_Viewport(0, 0, 1, 0.75);
    r.viewport->camera = r.camera;
    ctrl->viewports.append(r.viewport);
    ctrl->currentViewport = r.viewport;
    ctrl->setViewportSize(1024, 768);
    ctrl->grabbed = r.object;
    ctrl->grabOffset = {0, 0, 0};
    return r;
}

} // namespace

TEST_F(ControllerTest, SceneDragTargetStaysInsideBounds)
{
    MDL_Camera probe;
    probe.setAngle(1.0);
    const double t = probe.projectionFactor;
    struct Case {
        v2 mouse;
        double depth;
        v3 target;   // where the dragged point is sent
    } cases[] = {
        // Inside the bounds: the point under the pointer at the pick depth.
        {{512, 384}, 0.05, {0, 0, 4.05}},
        // The far plane lies below the floor z = 0: the target slides back
        // along the pick ray onto the floor.
        {{512, 384}, 1.0, {0, 0, 0}},
        // Off-centre, the slide along the ray changes x as well.
        {{768, 384}, 1.0, {5 / t, 0, 0}},
    };
    for (const Case& k : cases) {
        ctrl->scenes.deleteAll();
        ctrl->viewports.deleteAll();
        ctrl->drags.clear();
        CameraRig rig = makeRig(ctrl, addScene(0.01));
        ctrl->mouse = k.mouse;
        v2 q;
        ctrl->windowToViewport(rig.viewport, k.mouse, q);
        ctrl->mouseInViewport = {q.x, q.y, k.depth};
        tickAfter(0.05);
        ASSERT_EQ(ctrl->drags.size(), 5u);
        v3 v = ctrl->drags[0];
        EXPECT_NEAR(v.x * ctrl->dt, k.target.x, 1e-9) << k.mouse.x << " " << k.depth;
        EXPECT_NEAR(v.y * ctrl->dt, k.target.y, 1e-9);
        EXPECT_NEAR(v.z * ctrl->dt, k.target.z, 1e-9);
    }
    ctrl->grabbed = nullptr;
}

TEST_F(ControllerTest, CursorFollowsGrabbedObject)
{
    CameraRig rig = makeRig(ctrl, addScene(0.01));
    // Without the constraint only the pick depth follows the grab point.
    ctrl->mouse = {100, 100};
    ctrl->mouseInViewport = {0.1, 0.1, 0.5};
    ctrl->frame(nullptr, nullptr);
    EXPECT_TRUE(ctrl->warps.empty());
    EXPECT_EQ(ctrl->mouse.x, 100);
    EXPECT_EQ(ctrl->mouseInViewport.x, 0.1);
    EXPECT_NEAR(ctrl->mouseInViewport.z, 9.0 / 99.0, 1e-12);

    // With it, the pointer is put back onto the grab point.
    rig.object->state |= STATE_CONSTRAIN_MOUSE;
    ctrl->frame(nullptr, nullptr);
    ASSERT_EQ(ctrl->warps.size(), 1u);
    EXPECT_NEAR(ctrl->warps[0].x, 512, 1e-9);
    EXPECT_NEAR(ctrl->warps[0].y, 384, 1e-9);
    EXPECT_NEAR(ctrl->mouseInViewport.x, 0.5, 1e-12);
    EXPECT_NEAR(ctrl->mouseInViewport.y, 0.375, 1e-12);
    ctrl->grabbed = nullptr;
}
