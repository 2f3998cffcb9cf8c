// The platform-neutral controller: one per player window. It owns the script
// engine, the views, the content package and every resource list of the
// running content, keeps the input state and runs one frame per tick.
#pragma once

#include <cstdint>

#include "base/CTRL_Array.h"
#include "base/CTRL_Keys.h"
#include "math/MDL_Frame.h"

class CTRL_ScriptEngine;
class VIEW_Generic;
class VIEW_Sound;
class VIEW_Font;
class VIEW_Texture;
class VIEW_Sample;
class VIEW_Stream;
class MDL_Object;
class MDL_Scene;
class MDL_Viewport;
class MDL_ModelsSet;
class MDL_Image;

// An input event, handed to the current viewport's event callback and then
// to the engine.
//   key down / up: code = virtual-key code
//   device:        code = device handle, bytes / length = the report
//   zoom:          point = pointer position divided by the window width,
//                  amount = wheel amount
struct CTRL_Event {
    int32_t type;
    union {
        int32_t code;
        const v2* point;
    };
    union {
        double amount;
        const uint8_t* bytes;
    };
    int32_t length;
};

// The performance counter as the controller reads it. By default a
// monotonic clock; the shell points it at the platform's counter and tests
// set it by hand.
class CTRL_Clock {
public:
    virtual ~CTRL_Clock() {}
    virtual int64_t counter() = 0;
    virtual int64_t frequency() = 0;   // counts per second, > 0
};

// A clock that moves only when told to.
class CTRL_ManualClock : public CTRL_Clock {
public:
    int64_t now = 0;
    int64_t perSecond = 1000000;
    int64_t counter() override { return now; }
    int64_t frequency() override { return perSecond; }
    void advanceSeconds(double s) { now += (int64_t)(s * (double)perSecond); }
};

// Null puts the default clock back. The clock is not owned.
void CTRL_iSetClock(CTRL_Clock* clock);
CTRL_Clock* CTRL_iGetClock();

// Load stages; the error stop shows the message of the stage reached.
enum CTRL_Stage {
    STAGE_PACKAGE = 0,
    STAGE_CONFIG = 1,
    STAGE_LOADING = 2,
    STAGE_RUNNING = 3,
};

// Cursor shapes for setCursor.
enum CTRL_Cursor {
    CURSOR_ARROW = 0,
    CURSOR_SIZE_ALL = 1,
    CURSOR_HAND_PRESSED = 2,
    CURSOR_HAND = 3,
};

class CTRL_Generic {
public:
    explicit CTRL_Generic(CTRL_ScriptEngine* engine);
    CTRL_Generic(const CTRL_Generic&) = delete;
    CTRL_Generic& operator=(const CTRL_Generic&) = delete;

    // The platform services; the base versions do nothing.
    virtual ~CTRL_Generic();
    virtual int32_t registerDevice(int32_t vendorId, int32_t productId, int32_t index);
    virtual int32_t sendToDevice(int32_t device, const uint8_t* bytes, int32_t length);
    virtual void setCursor(int32_t shape);
    virtual void warpCursor(void* paintContext, const v2& point);
    virtual void openURL(const char* text);
    // Writes the language code into out (at least 8 bytes); the base writes "".
    virtual void getLanguage(char* out);
    // Halts the player once and keeps the fixed message of the stage reached;
    // the text passed is not shown.
    virtual void stopOnError(const char* format, ...);

    // One frame: script start, update, cursor follow, sound, videos, key
    // tables, render.
    void frame(void* paintContext, VIEW_Generic* view);
    void update();
    // The scene of the current viewport's camera, or null.
    MDL_Scene* currentScene();
    // Takes an object (and its subtree) out of the scene tree and out of the
    // input state; its scene frees it at the end of the frame.
    void detachObject(MDL_Object* object);
    // The part of detachObject for one object whose subtree is already gone.
    void detachOne(MDL_Object* object);

    // Key tables, by virtual-key code 0 to 255 (out of range reads as up).
    bool isKeyPressed(int32_t key) const;
    bool isKeyJustPressed(int32_t key) const;
    bool isKeyJustReleased(int32_t key) const;

    // Pointer side.
    void setViewportSize(double w, double h);
    void drawingArea(double& drawW, double& drawH, v2& corner) const;
    void windowToViewport(const MDL_Viewport* viewport, const v2& p, v2& out) const;
    void viewportToWindow(const v2& q, v2& out) const;
    void viewportAt(double x, double y);
    void setMousePosition(double x, double y);
    void grabPoint(v3& out);
    void getPickRay(const v2& p, v3& origin, v3& direction);
    void pick();
    // Left-button press and release, right-button press and release.
    void onMouseDown(double x, double y);
    void onMouseUp(double x, double y);
    void onRightButton(double x, double y, bool down);
    void onMouseMove(double x, double y, bool shift, bool control);
    void onMouseWheel(double x, double y, double delta, bool shift);
    // The window lost the pointer in the middle of a press (focus or capture
    // taken away, a release that never arrived): the named buttons, when
    // held, are let go where the pointer was last seen, and no click is
    // reported.
    void onPointerLost(bool left = true, bool right = true);
    void navigate(bool shift, bool control);
    // True when window points can be mapped into the viewport: it has a
    // positive size and the drawing area is not empty.
    bool canMap(const MDL_Viewport* viewport) const;
    // True when, besides, viewport points can be mapped to its scene: a
    // camera with a view angle strictly between 0 and 180 degrees.
    bool canProject(const MDL_Viewport* viewport) const;
    // Moves the dragged object (or what carries it) by one physics sub-step.
    virtual void moveGrabbedObject(MDL_Object* object, const v3& velocity, double h);

    // Render driver, error display, sound pump, video advance.
    void render(void* paintContext, VIEW_Generic* view);
    void pumpSound();
    void advanceVideos();

    // Number of controllers alive; the message loop runs while it is above 0.
    static int32_t liveControllers;

    char language[8];
    int32_t mode;
    VIEW_Generic* renderer;
    VIEW_Sound* sound;
    CTRL_ScriptEngine* engine;
    MDL_Object* grabbed;
    MDL_Object* hovered;
    // The object the left button went down on: the release and the click go
    // to it, not to whatever lies under the pointer by then. Cleared when it
    // leaves the scene and by a right press.
    MDL_Object* pressed = nullptr;
    v3 grabOffset;
    VIEW_Font* defaultFont;
    CTRL_Package* package;
    int32_t stage;
    char* packageName;
    uint8_t tick;
    uint8_t started;
    uint8_t rightDown;
    uint8_t leftDown;
    uint8_t halted;
    double dt;
    CTRL_Array<MDL_Scene*> scenes;
    CTRL_Array<MDL_Viewport*> viewports;
    CTRL_Array<VIEW_Stream*> videos;
    CTRL_Array<VIEW_Sample*> samples;
    CTRL_Array<MDL_ModelsSet*> modelsSets;
    CTRL_Array<VIEW_Font*> fonts;
    CTRL_Array<VIEW_Texture*> textures;
    MDL_Viewport* currentViewport;
    double width, height;
    char* message;
    double aspect;
    int32_t version[3];
    v2 mouse;
    v3 mouseInViewport;
    v2 previousMouse;
    uint8_t clickCancelled;
    v2 pressPoint;
    double lastSize[2];
    double windowColour[4];
    double lastStamp;
    double startStamp;
    uint8_t keyTableA[256];
    uint8_t keyTableB[256];
    uint8_t* currentKeys;
    uint8_t* previousKeys;
    int32_t dotCount;
    MDL_Image* splashImage;
    VIEW_Texture* splashTexture;
    // 1 / counter frequency, read by every render pass (the loading dots).
    double inverseFrequency;
    // What scripts learn of the display and the device: a high-density
    // display flag, the device's acceleration vector (0, 0, -1 until a
    // platform reports one) and the platform code (3, ENV_LINUX).
    uint8_t hiDPI = 0;
    v3 acceleration = {0, 0, -1};
    int32_t platform = 3;

protected:
    // Drag call points of the kinds of objects whose own motion is not a
    // plain move: a bone pulled by its grab point (inverse kinematics up its
    // chain), a rigid body pushed towards the pointer through its speed.
    // dragRigidBody answers true when it moved something; dragBone answers
    // true when the bone's parent is to be moved on with the velocity left
    // in onward (what the chain could not cover).
    bool dragBone(MDL_Object* bone, const v3& velocity, double h, v3& onward);
    bool dragRigidBody(MDL_Object* body, const v3& velocity);
    // The bone of an animated mesh that a ray hit on one of its triangles
    // (u, v: the hit's barycentric weights of the second and third corner)
    // answers for the hit; null leaves the mesh itself as the hit.
    MDL_Object* pickBone(MDL_Object* mesh, uint32_t triangle, double u, double v);

    // One timed physics sub-step of a scene. Test controllers watch it.
    virtual void stepScene(MDL_Scene* scene, double h);
    // The closing work of a scene at the end of every update: skinning, bone
    // flags, animations (when dt is not 0), the zero-length step, the purge.
    virtual void closeScene(MDL_Scene* scene, double dt);
};

// The fixed error message of a load stage.
const char* CTRL_iStageMessage(int32_t stage);

// Number of equal physics sub-steps that cover dt with steps no longer than
// `step`: 0 for no time, 1 when the step is not a positive number, and never
// more than a fixed limit, so that a tiny step cannot stall the frame.
int32_t CTRL_iSubStepCount(double dt, double step);
