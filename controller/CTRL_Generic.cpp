#include "controller/CTRL_Generic.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "controller/CTRL_ModelHooks.h"
#include "controller/CTRL_ScriptEngine.h"
#include "media/VIEW_Font.h"
#include "media/VIEW_Sample.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Bone.h"
#include "model/MDL_ModelsSet.h"
#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_Generic.h"
#include "sound/VIEW_Sound.h"

int32_t CTRL_Generic::liveControllers = 0;

namespace {

// Constants the player keeps in single precision.
const double kMaxTimeStep = (double)0.1f;      // 0.10000000149011612
const double kDragFriction = (double)0.7f;     // 0.699999988079071

// Upper limit of physics sub-steps of one scene in one frame, so that a
// tiny integration step cannot stall the frame.
const int32_t kMaxSubSteps = 1000;

bool isOverlay(const MDL_Object* o)
{
    return o->type == OBJECT_TEXT || o->type == OBJECT_RTF_TEXT || o->type == OBJECT_IMAGE ||
           o->type == OBJECT_POLYLINE;
}

char* copyText(const char* s)
{
    size_t n = std::strlen(s) + 1;
    char* p = static_cast<char*>(std::malloc(n));
    if (p)
        std::memcpy(p, s, n);
    return p;
}

} // namespace

const char* CTRL_iStageMessage(int32_t stage)
{
    switch (stage) {
    case STAGE_PACKAGE:
        return "Error opening the file, the file is corrupted.\nPlease check with your content provider.";
    case STAGE_CONFIG:
        return "You are trying to open a file not compatible with your player.";
    case STAGE_LOADING:
        return "Error loading the file.\nPlease check with your content provider.";
    default:
        return "Error running the file.\nPlease check with your content provider.";
    }
}

int32_t CTRL_iSubStepCount(double dt, double step)
{
    if (!(dt > 0))
        return 0;
    if (!(step > 0))
        return 1;
    double n = std::ceil(dt / step);
    if (!(n < (double)kMaxSubSteps))
        return kMaxSubSteps;
    return n < 1 ? 1 : (int32_t)n;
}

CTRL_Generic::CTRL_Generic(CTRL_ScriptEngine* scriptEngine)
{
    renderer = nullptr;
    sound = nullptr;
    grabbed = nullptr;
    hovered = nullptr;
    grabOffset = {0, 0, 0};

    CTRL_Clock* clock = CTRL_iGetClock();
    lastStamp = (double)clock->counter();
    startStamp = (double)clock->counter();
    inverseFrequency = 1.0 / (double)clock->frequency();

    engine = scriptEngine;
    if (engine)
        engine->attachController(this);

    mode = 1;
    halted = 0;
    message = nullptr;
    stage = STAGE_PACKAGE;
    tick = 0;
    started = 0;
    package = nullptr;
    currentViewport = nullptr;
    packageName = nullptr;
    dt = 0;
    aspect = 0.75;

    defaultFont = new VIEW_Font("default", VIEW_iDefaultFontData(), VIEW_iDefaultFontSize(), 0);

    mouse = {0, 0};
    previousMouse = {0, 0};
    mouseInViewport = {0, 0, 0};
    rightDown = 0;
    leftDown = 0;
    clickCancelled = 0;
    pressPoint = {0, 0};
    width = height = 0;
    lastSize[0] = lastSize[1] = 0;
    version[0] = version[1] = version[2] = 0;
    for (double& c : windowColour)
        c = 0;
    dotCount = 0;
    splashImage = nullptr;
    splashTexture = nullptr;

    std::memset(keyTableA, 0, sizeof keyTableA);
    std::memset(keyTableB, 0, sizeof keyTableB);
    currentKeys = keyTableA;
    previousKeys = keyTableB;

    liveControllers++;
    std::memset(language, 0, sizeof language);
}

CTRL_Generic::~CTRL_Generic()
{
    // Viewports release their script proxies as they go.
    viewports.deleteAll();
    currentViewport = nullptr;
    scenes.deleteAll();
    // The scenes are gone, so nothing uses the sets' data any more: each is
    // destroyed and freed at once.
    for (MDL_ModelsSet* set : modelsSets)
        MDL_ModelsSet::release(set);
    modelsSets.resize(0);
    samples.deleteAll();
    CTRL_iFreeImageList(&textures);
    for (VIEW_Stream* stream : videos)
        VIEW_iDestroyStream(stream);
    videos.resize(0);
    fonts.deleteAll();

    std::free(packageName);
    packageName = nullptr;
    std::free(message);
    message = nullptr;

    if (package) {
        CTRL_iResizeByteBuffer(package, 0);
        delete package;
        package = nullptr;
    }
    delete defaultFont;
    defaultFont = nullptr;
    delete engine;
    engine = nullptr;
    delete splashImage;
    splashImage = nullptr;
    delete splashTexture;
    splashTexture = nullptr;

    liveControllers--;
}

int32_t CTRL_Generic::registerDevice(int32_t, int32_t, int32_t)
{
    return 0;
}

int32_t CTRL_Generic::sendToDevice(int32_t, const uint8_t*, int32_t)
{
    return 0;
}

void CTRL_Generic::setCursor(int32_t) {}

void CTRL_Generic::warpCursor(void*, const v2&) {}

void CTRL_Generic::openURL(const char*) {}

void CTRL_Generic::getLanguage(char* out)
{
    if (out)
        out[0] = 0;
}

void CTRL_Generic::stopOnError(const char*, ...)
{
    if (halted)
        return;
    halted = 1;
    if (sound) {
        sound->stop();
        delete sound;
        sound = nullptr;
    }
    std::free(message);
    message = copyText(CTRL_iStageMessage(stage));
}

bool CTRL_Generic::isKeyPressed(int32_t key) const
{
    return key >= 0 && key < 256 && currentKeys[key] == 1;
}

bool CTRL_Generic::isKeyJustPressed(int32_t key) const
{
    return key >= 0 && key < 256 && currentKeys[key] == 1 && previousKeys[key] == 0;
}

bool CTRL_Generic::isKeyJustReleased(int32_t key) const
{
    return key >= 0 && key < 256 && currentKeys[key] == 0 && previousKeys[key] == 1;
}

MDL_Scene* CTRL_Generic::currentScene()
{
    if (!currentViewport || !currentViewport->camera)
        return nullptr;
    return currentViewport->camera->scene;
}

void CTRL_Generic::frame(void* paintContext, VIEW_Generic* view)
{
    if (!started && package && !halted && engine) {
        engine->start();
        started = 1;
    }

    update();

    // Cursor follow for a grabbed object.
    if (grabbed && canProject(currentViewport)) {
        bool constrain = (grabbed->state & STATE_CONSTRAIN_MOUSE) != 0;
        v3 g;
        grabPoint(g);
        if (isOverlay(grabbed)) {
            if (constrain) {
                mouseInViewport = g;
                viewportToWindow({g.x, g.y}, mouse);
            }
        } else {
            v3 q;
            currentViewport->fromScene(g, q);
            if (constrain) {
                mouseInViewport = q;
                viewportToWindow({q.x, q.y}, mouse);
            } else {
                mouseInViewport.z = q.z;
            }
        }
        if (constrain)
            warpCursor(paintContext, mouse);
    }

    pumpSound();
    advanceVideos();

    // Key tables turn over: both hold the same state after the frame, and
    // key messages change only the current one until the next frame.
    if (!halted) {
        uint8_t* t = currentKeys;
        currentKeys = previousKeys;
        previousKeys = t;
        std::memcpy(currentKeys, previousKeys, 256);
    }

    if (width > 0 && height > 0)
        render(paintContext, view);
}

void CTRL_Generic::update()
{
    if (halted)
        return;

    CTRL_Clock* clock = CTRL_iGetClock();
    double now = (double)clock->counter();
    if (tick) {
        dt = (now - lastStamp) / (double)clock->frequency();
        if (dt > kMaxTimeStep)
            dt = kMaxTimeStep;
        // A counter that went backwards (or a broken clock) gives no time.
        if (!(dt > 0))
            dt = 0;
    } else {
        dt = 0;
    }
    lastStamp = now;

    if (dt > 0) {
        v3 velocity = {0, 0, 0};
        MDL_Object* dragged = grabbed;
        bool body = dragged && dragged->type == OBJECT_RIGID_BODY;
        double savedFriction = 0;
        if (body) {
            savedFriction = MDL_iGetBodyFriction(dragged);
            MDL_iSetBodyFriction(dragged, kDragFriction);
        }
        if (dragged && (isOverlay(dragged) ? canMap(currentViewport) : canProject(currentViewport))) {
            v3 gp;
            grabPoint(gp);
            v3 displacement;
            if (isOverlay(dragged)) {
                v2 q;
                windowToViewport(currentViewport, mouse, q);
                displacement = {q.x - gp.x, q.y - gp.y, 0};
            } else {
                v3 T = {0, 0, 0};
                currentViewport->toScene(mouseInViewport, T);
                v3 origin = {0, 0, 0}, D = {0, 0, 0};
                getPickRay(mouse, origin, D);
                if (MDL_Scene* s = dragged->scene) {
                    // Slide the target along the pick ray back inside the
                    // bounds, then clamp what is left over.
                    const double* b = s->bounds;
                    for (int axis = 0; axis < 3; axis++) {
                        double lo = b[2 * axis], hi = b[2 * axis + 1];
                        double c = (&T.x)[axis], d = (&D.x)[axis];
                        if (d == 0)
                            continue;
                        if (c < lo)
                            T += D * ((lo - c) / d);
                        else if (c > hi)
                            T += D * ((hi - c) / d);
                    }
                    for (int axis = 0; axis < 3; axis++) {
                        double& c = (&T.x)[axis];
                        if (c < b[2 * axis])
                            c = b[2 * axis];
                        if (c > b[2 * axis + 1])
                            c = b[2 * axis + 1];
                    }
                }
                displacement = T - gp;
            }
            velocity = displacement / dt;
            if (MDL_Scene* s = dragged->scene) {
                double speed = v3::length(velocity);
                double step = s->integrationStep;
                if (speed > 0 && step > 0 && speed * step > dragged->maxMouseMove)
                    velocity = velocity / speed * (dragged->maxMouseMove / step);
            }
        }

        for (int32_t i = 0; i < scenes.count; i++) {
            MDL_Scene* s = scenes[i];
            if (!s->active)
                continue;
            int32_t n = CTRL_iSubStepCount(dt, s->integrationStep);
            double sub = dt / n;
            for (int32_t k = 0; k < n; k++) {
                if (grabbed && grabbed->scene == s)
                    moveGrabbedObject(grabbed, velocity, sub);
                stepScene(s, sub);
            }
        }

        // Still alive: deleted objects are freed only by the closing purge.
        if (body)
            MDL_iSetBodyFriction(dragged, savedFriction);

        if (!halted && engine)
            engine->update(dt);
    }

    for (int32_t i = 0; i < scenes.count; i++)
        closeScene(scenes[i], dt);
}

void CTRL_Generic::stepScene(MDL_Scene* scene, double h)
{
    scene->step(h, engine);
}

void CTRL_Generic::closeScene(MDL_Scene* scene, double frameDt)
{
    for (int32_t i = 0; i < scene->meshes.count; i++)
        if (scene->meshes[i]->type == OBJECT_ANIMATED_MESH)
            MDL_iUpdateAnimatedMesh(scene->meshes[i]);
    // A mesh is skinned again only in a frame in which one of its bones moved.
    for (MDL_Bone* bone : scene->bones)
        bone->moved = 0;
    if (frameDt != 0)
        for (int32_t i = 0; i < scene->animations.count; i++)
            MDL_iUpdateAnimation(scene->animations[i], frameDt);
    scene->step(0, engine);
    scene->purgeDeleted();
}

void CTRL_Generic::detachObject(MDL_Object* object)
{
    if (!object)
        return;
    // Descendants first, deepest first, walked without recursion.
    MDL_iWalkBelow(
        object, [](MDL_Object*) { return MDL_Walk::into; },
        [this](MDL_Object* child, MDL_Object* above) {
            MDL_Object* next = child->nextSibling;
            detachOne(child);
            // A child whose parent link does not name us must still leave.
            if (above->firstChild == child)
                above->firstChild = next;
        });
    detachOne(object);
}

void CTRL_Generic::detachOne(MDL_Object* object)
{
    object->unlinkFromParent();
    object->deleted = 1;
    MDL_iTouch(object);

    if (object->type == OBJECT_CAMERA || object->type == OBJECT_MIKE) {
        for (MDL_Viewport* vp : viewports) {
            if (vp->camera && static_cast<MDL_Object*>(vp->camera) == object)
                vp->camera = nullptr;
            else if (vp->listener && static_cast<MDL_Object*>(vp->listener) == object)
                vp->listener = nullptr;
        }
        return;
    }
    if (object == grabbed) {
        grabbed = nullptr;
        leftDown = 0;
        setCursor(CURSOR_HAND);
    }
    // The release and the click of a press on it report nothing.
    if (object == pressed)
        pressed = nullptr;
    if (object == hovered)
        pick();
}
