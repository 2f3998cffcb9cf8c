// Pointer events of the controller: the left and right buttons with the
// object callbacks of a press, release and click, moves (click tolerance,
// hover, drag depth, navigation), and the wheel, which is offered to the
// scripts as a zoom event and then zooms the camera or the dragged object.
#include <cfloat>
#include <cmath>

#include "controller/CTRL_Generic.h"
#include "base/CTRL_Keys.h"
#include "controller/CTRL_ScriptEngine.h"
#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "base/LMP_ProxyLink.h"

namespace {

// Squared distance in pixels the pointer may stray from the press point
// and still make a click.
const double kClickTolerance = 10;
// Wheel and drag factors the player keeps in single precision.
const double kWheelTurn = static_cast<double>(0.0008f);
const double kWheelMove = static_cast<double>(0.002f);
const double kWheelDepth = static_cast<double>(2e-5f);
const double kShiftDepth = static_cast<double>(0.1f);
// Largest double below 2^512: a pick depth pushed past it stays put.
const double kDepthLimit = 1.3407807929942596e154;

// Fires id on the hit object and up through its parents until one has a
// handler; only that handler runs.
void fireUpwards(CTRL_Generic *c, MDL_Object *hit, int id, const v3 *point) {
    for (MDL_Object *o = hit; o; o = o->parent)
        if (LMP_iFireCallback(&o->proxy, c->engine, id, hit, point)) return;
}

// Hand over an object that takes mouse callbacks, arrow elsewhere.
int32_t hoverCursor(const MDL_Object *o) {
    return o && (o->state & (STATE_ACTIVE | STATE_BACKGROUND)) == STATE_ACTIVE ? CURSOR_HAND : CURSOR_ARROW;
}

}  // namespace

void CTRL_Generic::onMouseDown(double x, double y) {
    viewportAt(x, y);
    setMousePosition(x, y);
    leftDown = 1;
    clickCancelled = 0;
    pressPoint = v2{x, y};
    pick();
    if (hovered && (hovered->state & STATE_BACKGROUND)) hovered = nullptr;
    grabbed = hovered;
    pressed = hovered;
    setCursor(grabbed ? CURSOR_HAND_PRESSED : CURSOR_SIZE_ALL);
    if (hovered && (hovered->state & STATE_ACTIVE)) {
        // The grab offset is copied: the handler may move the pointer state.
        v3 point = grabOffset;
        fireUpwards(this, hovered, CB_MOUSE_DOWN, &point);
    }
}

void CTRL_Generic::onMouseUp(double x, double y) {
    // A release without a press in this window (the press went to another
    // window, or was let go already) reports nothing.
    if (leftDown && pressed) {
        MDL_Object *target = pressed;
        v3 hit{0, 0, 0};
        if (canProject(currentViewport)) currentViewport->toScene(mouseInViewport, hit);
        v3 local;
        MDL_Frame::globalToLocalPoint(target->getGlobalFrame(), hit, local);
        fireUpwards(this, target, CB_MOUSE_UP, &local);
        // The up handler may have taken the object out of the scene.
        if (!clickCancelled && pressed == target) fireUpwards(this, target, CB_MOUSE_CLICK, &local);
    }
    pressed = nullptr;
    hovered = nullptr;
    grabbed = nullptr;
    setMousePosition(x, y);
    pick();
    leftDown = 0;
    setCursor(hoverCursor(hovered));
}

void CTRL_Generic::onRightButton(double x, double y, bool down) {
    setMousePosition(x, y);
    if (down) {
        rightDown = 1;
        if (!grabbed) viewportAt(x, y);
        // A right press cancels the pending left click: a right drag always
        // navigates and the left release then reports nothing.
        hovered = nullptr;
        pressed = nullptr;
        setCursor(CURSOR_SIZE_ALL);
    } else {
        rightDown = 0;
        setCursor(grabbed ? CURSOR_HAND : CURSOR_ARROW);
    }
}

void CTRL_Generic::onPointerLost(bool left, bool right) {
    if (left && leftDown) {
        clickCancelled = 1;
        onMouseUp(mouse.x, mouse.y);
    }
    if (right && rightDown) onRightButton(mouse.x, mouse.y, false);
}

void CTRL_Generic::onMouseMove(double x, double y, bool shift, bool control) {
    if (!clickCancelled) {
        double dx = x - pressPoint.x, dy = y - pressPoint.y;
        if (dy * dy + dx * dx > kClickTolerance) clickCancelled = 1;
    }
    if (!leftDown && !rightDown) {
        // The viewport under the pointer first, so that the pointer is
        // mapped through the viewport it is in.
        viewportAt(x, y);
        setMousePosition(x, y);
        pick();
        setCursor(hoverCursor(hovered));
        grabbed = nullptr;
        return;
    }
    setMousePosition(x, y);
    if (leftDown && !rightDown && grabbed && !(grabbed->state & STATE_BACKGROUND)) {
        if (shift) {
            // Moving the pointer down pushes the object away, up pulls it nearer.
            double z = mouseInViewport.z;
            double d = (mouse.y - previousMouse.y) * z * z * kShiftDepth;
            if (std::abs(z - d) < kDepthLimit) mouseInViewport.z = z - d;
        }
        return;
    }
    if (hovered && !(hovered->state & STATE_BACKGROUND)) return;
    if (currentViewport && currentViewport->camera) navigate(shift, control);
}

void CTRL_Generic::onMouseWheel(double x, double y, double delta, bool shift) {
    clickCancelled = 1;
    if (!halted && width > 0) {
        v2 p{x / width, y / width};
        CTRL_Event event{};
        event.type = EVENT_ZOOM;
        event.point = &p;
        event.amount = delta;
        bool consumed = currentViewport && LMP_iFireCallback(&currentViewport->proxy, engine, CB_EVENT, &event);
        if (!consumed && !halted && engine) engine->handleEvent(&event);
    }
    // The answer of the scripts does not stop the zoom. The event handlers
    // may have deleted the viewport or its camera: look them up again.
    MDL_Viewport *v = currentViewport;
    if (!canProject(v)) return;
    MDL_Camera *cam = v->camera;
    const double k = delta * kWheelTurn;

    if (grabbed) {
        if (shift) {
            // Turn the object about the pick ray through the pointer.
            v3 nearPoint{0, 0, 0}, farPoint{0, 0, 0};
            v->toScene({mouseInViewport.x, mouseInViewport.y, 0}, nearPoint);
            v->toScene({mouseInViewport.x, mouseInViewport.y, 1}, farPoint);
            v3 axis = farPoint - nearPoint;
            MDL_Frame &f = grabbed->editGlobalFrame();
            const double c = std::cos(k), s = std::sin(k);
            for (v3 &column : f.basis.c) v3::rotateByCosSin(column, axis, c, s);
            f.inverseDirty = 1;
        } else {
            mouseInViewport.z += delta * kWheelDepth;
        }
        return;
    }

    switch (v->navigationMode) {
    case NAVIGATION_FREE: {
        MDL_Frame &f = cam->editLocalFrame();
        if (shift) {
            m33::rotateAxis(f.basis, 2, k);
            f.inverseDirty = 1;
        } else {
            // A turn away from the user moves the camera forward.
            f.position += f.basis.c[2] * (-delta * kWheelMove);
        }
        break;
    }
    case NAVIGATION_MIXED:
    case NAVIGATION_GLASSBALL:
        if (shift) {
            MDL_Frame &f = cam->editLocalFrame();
            m33::rotateAxis(f.basis, 2, k);
            f.inverseDirty = 1;
        } else {
            v->navRadius -= delta * kWheelMove * v3::length(cam->getGlobalFrame().basis.c[2]);
        }
        v->updateNavigation();
        break;
    default:
        break;
    }
}
