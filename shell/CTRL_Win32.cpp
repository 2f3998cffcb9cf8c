// CTRL_Win32: the controller of one window. It turns the window's messages
// into controller calls and input events, and supplies the platform services
// (cursor, URL, HID devices, language, fullscreen, frame timer).
#include "shell/CTRL_Win32.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base/CTRL_Keys.h"
#include "controller/CTRL_ScriptEngine.h"
#include "model/MDL_Object.h"
#include "model/MDL_Viewport.h"
#include "render/VIEW_OpenGL.h"
#include "script/LMP_Proxy.h"
#include "sound/VIEW_SoundWin32.h"

namespace {

PLAT_System *plat() { return PLAT_iGet(); }

int32_t lowSigned(intptr_t v) { return static_cast<int16_t>(static_cast<uint32_t>(v) & 0xFFFF); }
int32_t highSigned(intptr_t v) { return static_cast<int16_t>((static_cast<uint32_t>(v) >> 16) & 0xFFFF); }

// Takes every queued message of one kind for the window; answers the last.
bool dropQueued(PLAT_Window *window, uint32_t message, PLAT_Msg *last) {
    bool any = false;
    PLAT_Msg m;
    while (plat()->peekMessage(&m, window, message, message, true)) {
        any = true;
        if (last) *last = m;
    }
    return any;
}

// Takes the pointer moves queued right behind the one being handled and
// answers the last: a run of moves is one move. A move queued behind a
// button or any other message stays for later, so that a drag never jumps
// past its own release.
void takeFollowingMoves(PLAT_Window *window, PLAT_Msg *last) {
    PLAT_Msg m;
    while (plat()->peekMessage(&m, window, 0, UINT32_MAX, false) && m.message == PLAT_WM_MOUSEMOVE &&
           plat()->peekMessage(&m, window, PLAT_WM_MOUSEMOVE, PLAT_WM_MOUSEMOVE, true))
        *last = m;
}

}  // namespace

CTRL_Win32::CTRL_Win32(CTRL_ScriptEngine *scriptEngine, PLAT_Window *w) : CTRL_Generic(scriptEngine), window(w) {
    fullscreen = 0;
    tick = 0;
    plat()->setUserData(w, this);
    renderer = new VIEW_OpenGLWin32(w, true);
    sound = new VIEW_SoundWin32(w);
}

CTRL_Win32::~CTRL_Win32() {
    delete sound;
    sound = nullptr;
    delete renderer;
    renderer = nullptr;
}

int32_t CTRL_Win32::registerDevice(int32_t vendorId, int32_t productId, int32_t index) {
    static PLAT_HidInfo list[256];
    int32_t n = plat()->listHidDevices(list, 256);
    if (n < 0) return 0;
    if (n > 256) n = 256;
    int32_t matches = 0;
    for (int32_t i = 0; i < n; i++) {
        if (list[i].vendor != static_cast<uint16_t>(vendorId) || list[i].product != static_cast<uint16_t>(productId))
            continue;
        if (matches++ == index) return static_cast<int32_t>(plat()->registerHidDevice(list[i]));
    }
    return 0;
}

int32_t CTRL_Win32::sendToDevice(int32_t device, const uint8_t *bytes, int32_t length) {
    if (!bytes || length <= 0) return 0;
    char name[1024];
    if (!plat()->getHidDeviceName(static_cast<uint32_t>(device), name, sizeof name)) return 0;
    int32_t written = plat()->writeHidDevice(name, bytes, static_cast<uint32_t>(length));
    return written < 0 ? 0 : written;
}

void CTRL_Win32::setCursor(int32_t shape) {
    switch (shape) {
    case CURSOR_ARROW: plat()->setCursor(PLAT_CURSOR_ARROW); break;
    case CURSOR_SIZE_ALL: plat()->setCursor(PLAT_CURSOR_SIZEALL); break;
    case CURSOR_HAND_PRESSED:
    case CURSOR_HAND: plat()->setCursor(PLAT_CURSOR_HAND); break;
    default: break;
    }
}

void CTRL_Win32::warpCursor(void *paintContext, const v2 &point) {
    auto *w = static_cast<PLAT_Window *>(paintContext);
    int32_t x = static_cast<int32_t>(point.x), y = static_cast<int32_t>(point.y);
    if (plat()->clientToScreen(w, &x, &y)) plat()->setCursorPos(x, y);
    dropQueued(w, PLAT_WM_MOUSEMOVE, nullptr);
}

void CTRL_Win32::openURL(const char *text) {
    if (!text) return;
    // The opener runs on its own short-lived thread with its own copy.
    std::thread([copy = std::string(text)]() {
        if (PLAT_System *p = PLAT_iGet()) p->openURL(copy.c_str());
    }).detach();
}

void CTRL_Win32::getLanguage(char *out) {
    if (!language[0]) {
        char code[64] = {};
        if (plat()->getUILanguage(code, sizeof code) && strlen(code) <= 6) strcpy(language, code);
    }
    if (out) strcpy(out, language);
}

bool CTRL_Win32::offerEvent(const CTRL_Event &event) {
    if (halted) return false;
    if (currentViewport && LMP_iFireCallback(&currentViewport->proxy, engine, CB_EVENT, &event)) return true;
    if (halted || !engine) return false;
    return engine->handleEvent(&event);
}

// Our own release of the capture is no loss of the pointer.
void CTRL_Win32::releaseCapture() {
    releasingCapture = 1;
    plat()->releaseCapture();
    releasingCapture = 0;
}

void CTRL_Win32::paint(PLAT_Window *w) {
    plat()->beginPaint(w);
    frame(w, renderer);
    plat()->endPaint(w);
}

uint32_t CTRL_iTimerInterval(bool settingsRead, int32_t refreshHz) {
    if (!settingsRead || refreshHz < 1) return 16;
    int32_t ms = 1000 / refreshHz - 1;
    return ms < 10 ? 10 : static_cast<uint32_t>(ms);
}

void CTRL_Win32::startFrameTimer(PLAT_Window *w) {
    PLAT_Display d;
    bool read = plat()->currentDisplaySettings(&d);
    plat()->setTimer(w, 0, CTRL_iTimerInterval(read, d.refreshHz));
    tick = 0;
}

void CTRL_Win32::toggleFullscreen(PLAT_Window *w, bool on) {
    if ((fullscreen != 0) == on) return;
    if (on) {
        if (!plat()->getWindowPlacement(w, &savedPlacement)) return;
        const PLAT_Rect &r = savedPlacement.normal;
        int32_t cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
        PLAT_Display d;
        for (uint32_t i = 0; plat()->enumDisplay(i, &d); i++) {
            if (!d.attached || !d.settingsReadable) continue;
            if (cx < d.x || cx >= d.x + d.width || cy < d.y || cy >= d.y + d.height) continue;
            // The first display that holds the centre takes the window; the
            // saved style and menu stay those of the framed window.
            savedStyle = plat()->getWindowStyle(w);
            savedMenu = plat()->getMenu(w);
            plat()->setMenu(w, nullptr);
            plat()->setWindowStyle(w, PLAT_WS_POPUP | PLAT_WS_VISIBLE | PLAT_WS_SYSMENU);
            plat()->setWindowPos(w, d.x, d.y, d.width, d.height, PLAT_SWP_SHOWWINDOW);
            fullscreen = 1;
            return;
        }
        return;
    }
    plat()->setMenu(w, savedMenu);
    plat()->setWindowStyle(w, savedStyle);
    plat()->setWindowPlacement(w, savedPlacement);
    plat()->setWindowPos(w, 0, 0, 0, 0, PLAT_SWP_NOSIZE | PLAT_SWP_NOMOVE | PLAT_SWP_NOZORDER | PLAT_SWP_FRAMECHANGED);
    fullscreen = 0;
}

void CTRL_iApplyMinimumSize(uint32_t edge, int32_t frameWidth, int32_t frameHeight, PLAT_Rect *r) {
    double width = (r->right - r->left) - frameWidth;
    double height = (r->bottom - r->top) - frameHeight;
    if (width < 250) width = 250;
    if (height < 187.5) height = 187.5;
    int32_t w = static_cast<int32_t>(std::floor(frameWidth + width + 0.5));
    int32_t h = static_cast<int32_t>(std::floor(frameHeight + height + 0.5));
    if (edge == 1 || edge == 4 || edge == 7)
        r->left = r->right - w;
    else
        r->right = r->left + w;
    if (edge == 3 || edge == 4 || edge == 5)
        r->top = r->bottom - h;
    else
        r->bottom = r->top + h;
}

intptr_t CTRL_Win32::handleMessage(PLAT_Window *w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    PLAT_Rect client;
    if (plat()->getClientRect(w, &client)) setViewportSize(client.right - client.left, client.bottom - client.top);
    const double x = lowSigned(lParam), y = highSigned(lParam);
    const bool shift = (wParam & PLAT_MK_SHIFT) != 0;

    switch (message) {
    case PLAT_WM_SIZE:
        tick = 0;
        return 0;
    case PLAT_WM_ACTIVATE: {
        uint32_t state = static_cast<uint32_t>(wParam & 0xFFFF);
        if (state == PLAT_WA_ACTIVE || state == PLAT_WA_CLICKACTIVE) {
            startFrameTimer(w);
            if (sound) sound->play();
        }
        return 0;
    }
    case PLAT_WM_PAINT:
        paint(w);
        return 0;
    case PLAT_WM_CLOSE: {
        if (!halted) {
            CTRL_Event event{};
            event.type = EVENT_CLOSE;
            if (offerEvent(event)) return 1;
        }
        if (renderer) {
            if (auto *gl = dynamic_cast<VIEW_OpenGL *>(renderer)) {
                if (gl->makeCurrent(w)) {
                    gl->releaseGlyphTextures();
                    gl->releaseCurrent(w);
                }
                if (gl->makeCurrent(w)) {
                    gl->releaseImageTextures();
                    gl->releaseCurrent(w);
                }
            }
            delete renderer;
            renderer = nullptr;
        }
        return plat()->defWindowProc(w, message, wParam, lParam);
    }
    case PLAT_WM_ERASEBKGND:
        return 1;
    case PLAT_WM_INPUT: {
        uint32_t size = plat()->getRawInputData(lParam, nullptr, 0);
        if (size == static_cast<uint32_t>(-1) || size < sizeof(PLAT_RawInputHeader)) return 0;
        auto *data = static_cast<uint8_t *>(malloc(size));
        if (!data) return 0;
        if (plat()->getRawInputData(lParam, data, size) == size && !halted) {
            PLAT_RawInputHeader h;
            memcpy(&h, data, sizeof h);
            // The reports must lie inside what was read.
            uint64_t length = static_cast<uint64_t>(h.reportSize) * h.reportCount;
            if (h.type == PLAT_RIM_TYPEHID && length <= size - sizeof h) {
                CTRL_Event event{};
                event.type = EVENT_DEVICE;
                event.code = static_cast<int32_t>(h.device);
                event.bytes = data + sizeof h;
                event.length = static_cast<int32_t>(length);
                offerEvent(event);
            }
        }
        free(data);
        return 0;
    }
    case PLAT_WM_KEYDOWN:
    case PLAT_WM_KEYUP: {
        bool down = message == PLAT_WM_KEYDOWN;
        currentKeys[wParam & 255] = down ? 1 : 0;
        if (!halted) {
            CTRL_Event event{};
            event.type = down ? EVENT_KEY_DOWN : EVENT_KEY_UP;
            event.code = static_cast<int32_t>(wParam);
            offerEvent(event);
        }
        return 0;
    }
    case PLAT_WM_COMMAND: {
        uint32_t command = static_cast<uint32_t>(wParam & 0xFFFF);
        if (command == CMD_EXIT) {
            plat()->destroyWindow(w);
            return 0;
        }
        if (command == CMD_FULLSCREEN && mode == 1) {
            tick = 0;
            toggleFullscreen(w, !fullscreen);
        }
        return plat()->defWindowProc(w, message, wParam, lParam);
    }
    case PLAT_WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == PLAT_SC_KEYMENU && lParam == 13) {
            if (mode == 1) {
                tick = 0;
                toggleFullscreen(w, !fullscreen);
            }
            return 0;
        }
        return plat()->defWindowProc(w, message, wParam, lParam);
    case PLAT_WM_TIMER:
        paint(w);
        dropQueued(w, PLAT_WM_TIMER, nullptr);
        tick = 1;
        return 0;
    case PLAT_WM_MOUSEMOVE: {
        PLAT_Msg last{w, message, wParam, lParam};
        takeFollowingMoves(w, &last);
        const double mx = lowSigned(last.lParam), my = highSigned(last.lParam);
        // The pointer arrives asynchronously: a button that the move shows up
        // while we hold it down was released where we could not see it.
        const bool lostLeft = leftDown && !(last.wParam & PLAT_MK_LBUTTON);
        const bool lostRight = rightDown && !(last.wParam & PLAT_MK_RBUTTON);
        if (lostLeft || lostRight) {
            onPointerLost(lostLeft, lostRight);
            if (!leftDown && !rightDown) releaseCapture();
        }
        onMouseMove(mx, my, (last.wParam & PLAT_MK_SHIFT) != 0, (last.wParam & PLAT_MK_CONTROL) != 0);
        return 0;
    }
    case PLAT_WM_LBUTTONDOWN:
    case PLAT_WM_LBUTTONDBLCLK:
        plat()->setCapture(w);
        plat()->setFocus(w);
        onMouseDown(x, y);
        return 0;
    case PLAT_WM_LBUTTONUP:
        releaseCapture();
        onMouseUp(x, y);
        return 0;
    case PLAT_WM_RBUTTONDOWN:
        plat()->setCapture(w);
        plat()->setFocus(w);
        onRightButton(x, y, true);
        return 0;
    case PLAT_WM_RBUTTONUP:
        releaseCapture();
        onRightButton(x, y, false);
        return 0;
    case PLAT_WM_KILLFOCUS:
    case PLAT_WM_CAPTURECHANGED:
        // Focus or capture taken away in the middle of a press: nothing may
        // stay grabbed waiting for a release that will not come.
        if ((leftDown || rightDown) && !releasingCapture) {
            onPointerLost();
            if (message == PLAT_WM_KILLFOCUS) releaseCapture();
        }
        return 0;
    case PLAT_WM_MOUSEWHEEL:
        plat()->setFocus(w);
        onMouseWheel(mouse.x, mouse.y, highSigned(static_cast<intptr_t>(wParam)), shift);
        return 0;
    case PLAT_WM_ENTERMENULOOP:
        plat()->checkMenuItem(w, CMD_FULLSCREEN, fullscreen != 0);
        if (sound) sound->stop();
        plat()->killTimer(w, 0);
        tick = 0;
        return 0;
    case PLAT_WM_EXITMENULOOP:
        if (sound) sound->play();
        startFrameTimer(w);
        return 0;
    case PLAT_WM_SIZING: {
        auto *r = reinterpret_cast<PLAT_Rect *>(lParam);
        PLAT_Rect outer, inner;
        if (r && plat()->getWindowRect(w, &outer) && plat()->getClientRect(w, &inner)) {
            int32_t fw = (outer.right - outer.left) - (inner.right - inner.left);
            int32_t fh = (outer.bottom - outer.top) - (inner.bottom - inner.top);
            CTRL_iApplyMinimumSize(static_cast<uint32_t>(wParam), fw, fh, r);
        }
        return 1;
    }
    default:
        return plat()->defWindowProc(w, message, wParam, lParam);
    }
}
