// Pointer events of the controller: moves (click tolerance, hover), the
// left-button release with its object callbacks, and the wheel, which is
// offered to the scripts as a zoom event. Camera navigation and dragging
// follow the pointer state these keep.
#include <cmath>

#include "controller/CTRL_Generic.h"
#include "base/CTRL_Keys.h"
#include "controller/CTRL_ScriptEngine.h"
#include "model/MDL_Object.h"
#include "model/MDL_Viewport.h"
#include "script/LMP_Proxy.h"

namespace {

// Fires id on the hit object and up through its parents until one has a
// handler.
void fireUpwards(CTRL_Generic *c, MDL_Object *hit, int id, const v3 *point) {
    for (MDL_Object *o = hit; o; o = o->parent)
        if (LMP_iFireCallback(&o->proxy, c->engine, id, hit, point)) return;
}

}  // namespace

void CTRL_Generic::onMouseMove(double x, double y, bool shift, bool /*control*/) {
    if (!clickCancelled) {
        double dx = x - pressPoint.x, dy = y - pressPoint.y;
        if (dy * dy + dx * dx > 10) clickCancelled = 1;
    }
    if (!leftDown && !rightDown) {
        setMousePosition(x, y);
        viewportAt(x, y);
        pick();
        setCursor(hovered && (hovered->state & (STATE_ACTIVE | STATE_BACKGROUND)) == STATE_ACTIVE ? CURSOR_HAND
                                                                                                 : CURSOR_ARROW);
        grabbed = nullptr;
        return;
    }
    setMousePosition(x, y);
    if (leftDown && !rightDown && grabbed && !(grabbed->state & STATE_BACKGROUND) && shift) {
        // Moving the pointer down pushes the object away, up pulls it nearer.
        double z = mouseInViewport.z;
        double d = (mouse.y - previousMouse.y) * z * z * static_cast<double>(0.1f);
        if (std::abs(z - d) < 1.3407807929942596e154) mouseInViewport.z = z - d;
    }
}

void CTRL_Generic::onMouseUp(double x, double y) {
    if (hovered) {
        v3 hit{0, 0, 0};
        if (currentViewport) currentViewport->toScene(mouseInViewport, hit);
        v3 local;
        MDL_Frame::globalToLocalPoint(hovered->getGlobalFrame(), hit, local);
        MDL_Object *pressed = hovered;
        fireUpwards(this, pressed, CB_MOUSE_UP, &local);
        if (!clickCancelled) fireUpwards(this, pressed, CB_MOUSE_CLICK, &local);
    }
    hovered = nullptr;
    grabbed = nullptr;
    setMousePosition(x, y);
    pick();
    leftDown = 0;
    setCursor(hovered && (hovered->state & (STATE_ACTIVE | STATE_BACKGROUND)) == STATE_ACTIVE ? CURSOR_HAND
                                                                                             : CURSOR_ARROW);
}

void CTRL_Generic::onMouseWheel(double x, double y, double delta, bool /*shift*/) {
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
    // An object held under the pointer moves with the wheel.
    if (currentViewport && currentViewport->camera && grabbed)
        mouseInViewport.z += delta * static_cast<double>(2e-5f);
}
