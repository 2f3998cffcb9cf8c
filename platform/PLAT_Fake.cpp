#include "platform/PLAT_Fake.h"
#include "platform/PLAT_Pointer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::string name(const PLAT_Window *w) { return w ? "w" + std::to_string(w->id) : std::string("null"); }

std::string fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

}  // namespace

PLAT_Fake::PLAT_Fake() {
    PLAT_Display d;
    d.width = 1920;
    d.height = 1080;
    d.refreshHz = 60;
    displays.push_back(d);
}

PLAT_Fake::~PLAT_Fake() = default;

int PLAT_Fake::liveWindows() const {
    int n = 0;
    for (const auto &w : windows) n += w->alive ? 1 : 0;
    return n;
}

void PLAT_Fake::post(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    uint32_t state = keys_.keyState();
    if (keysDown.count(0x10)) state |= PLAT_KS_SHIFT;
    if (keysDown.count(0x11)) state |= PLAT_KS_CONTROL;
    if (keysDown.count(0x12)) state |= PLAT_KS_ALT;
    queue.push_back(PLAT_Msg{window, message, wParam, lParam, state});
}

void PLAT_Fake::postKey(PLAT_Window *window, PLAT_Msg m) {
    m.window = window;
    queue.push_back(m);
}

void PLAT_Fake::key(PLAT_Window *window, uint32_t keycode, bool down) {
    auto it = layout.find(keycode);
    uint32_t keysym = it != layout.end() ? it->second : 0;
    PLAT_Msg m;
    if (down ? keys_.press(keycode, PLAT_iKeyToVirtualKey(keycode, keysym, numLock), keysym, &m)
             : keys_.release(keycode, &m))
        postKey(window, m);
}

namespace {
intptr_t packClientPoint(int32_t x, int32_t y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(x) & 0xFFFF) | ((static_cast<uint32_t>(y) & 0xFFFF) << 16));
}
}  // namespace

void PLAT_Fake::pointerButton(PLAT_Window *window, int32_t button, bool down, int32_t x, int32_t y) {
    uint32_t message = 0;
    int32_t wheel = 0;
    if (!PLAT_iButtonMessage(button, down, &message, &wheel)) return;
    uint32_t bit = button == 1 ? uint32_t(PLAT_MK_LBUTTON) : button == 3 ? uint32_t(PLAT_MK_RBUTTON) : 0u;
    if (down)
        buttonsHeld |= bit;
    else
        buttonsHeld &= ~bit;
    uintptr_t flags = buttonsHeld | modifiers;
    if (message == PLAT_WM_MOUSEWHEEL) {
        // The wheel's position is in screen coordinates.
        int32_t sx = x, sy = y;
        clientToScreen(window, &sx, &sy);
        post(window, message, (static_cast<uintptr_t>(static_cast<uint16_t>(wheel)) << 16) | flags,
             packClientPoint(sx, sy));
        return;
    }
    post(window, message, flags, packClientPoint(x, y));
}

void PLAT_Fake::pointerMove(PLAT_Window *window, int32_t x, int32_t y) {
    post(window, PLAT_WM_MOUSEMOVE, buttonsHeld | modifiers, packClientPoint(x, y));
}

void PLAT_Fake::loseFocus(PLAT_Window *window) {
    buttonsHeld = 0;
    for (const PLAT_Msg &m : keys_.releaseAll()) postKey(window, m);
    post(window, PLAT_WM_KILLFOCUS);
}

int PLAT_Fake::pump() {
    int n = 0;
    while (!queue.empty()) {
        PLAT_Msg m = queue.front();
        queue.pop_front();
        dispatchMessage(m);
        n++;
    }
    return n;
}

bool PLAT_Fake::called(const std::string &line) const {
    return std::find(calls.begin(), calls.end(), line) != calls.end();
}

size_t PLAT_Fake::count(const std::string &prefix) const {
    return std::count_if(calls.begin(), calls.end(),
                         [&](const std::string &c) { return c.compare(0, prefix.size(), prefix) == 0; });
}

bool PLAT_Fake::registerClass(const char *className, PLAT_WndProc proc, const PLAT_MenuBar *menu) {
    log(fmt("registerClass %s", className));
    classes_[className] = Class{proc, menu};
    return true;
}

void PLAT_Fake::unregisterClass(const char *className) {
    log(fmt("unregisterClass %s", className));
    classes_.erase(className);
}

PLAT_Window *PLAT_Fake::createWindow(const char *className, const char *title, uint32_t style, uint32_t exStyle,
                                     int32_t x, int32_t y, int32_t width, int32_t height) {
    auto it = classes_.find(className);
    if (it == classes_.end()) return nullptr;
    auto w = std::make_unique<PLAT_Window>();
    w->id = nextId_++;
    w->className = className;
    w->title = title ? title : "";
    w->proc = it->second.proc;
    w->menu = it->second.menu;
    w->style = style;
    w->exStyle = exStyle;
    if (x == PLAT_USEDEFAULT) x = 100;
    if (y == PLAT_USEDEFAULT) y = 80;
    if (width == PLAT_USEDEFAULT) width = 800;
    if (height == PLAT_USEDEFAULT) height = 600;
    w->rect = PLAT_Rect{x, y, x + width, y + height};
    log(fmt("createWindow w%d %s \"%s\" %08x %08x %d %d %d %d", w->id, className, w->title.c_str(), style, exStyle, x,
            y, width, height));
    windows.push_back(std::move(w));
    return windows.back().get();
}

bool PLAT_Fake::destroyWindow(PLAT_Window *w) {
    if (!isWindow(w)) return false;
    log("destroyWindow " + name(w));
    if (w->proc) w->proc(w, PLAT_WM_DESTROY, 0, 0);
    w->alive = false;
    w->visible = false;
    w->timers.clear();
    queue.erase(std::remove_if(queue.begin(), queue.end(), [&](const PLAT_Msg &m) { return m.window == w; }),
                queue.end());
    if (capture == w) capture = nullptr;
    if (focus == w) focus = nullptr;
    return true;
}

bool PLAT_Fake::isWindow(PLAT_Window *w) {
    for (const auto &p : windows)
        if (p.get() == w) return w->alive;
    return false;
}

void PLAT_Fake::setWindowText(PLAT_Window *w, const char *text) {
    if (!isWindow(w)) return;
    w->title = text ? text : "";
    log("setWindowText " + name(w) + " \"" + w->title + "\"");
}

void PLAT_Fake::setUserData(PLAT_Window *w, void *data) {
    if (isWindow(w)) w->userData = data;
}

void *PLAT_Fake::getUserData(PLAT_Window *w) { return isWindow(w) ? w->userData : nullptr; }

bool PLAT_Fake::getClientRect(PLAT_Window *w, PLAT_Rect *r) {
    if (!isWindow(w)) return false;
    int32_t fw = (w->style & PLAT_WS_POPUP) ? 0 : frameWidth;
    int32_t fh = (w->style & PLAT_WS_POPUP) ? 0 : frameHeight;
    *r = PLAT_Rect{0, 0, std::max(0, w->rect.right - w->rect.left - fw), std::max(0, w->rect.bottom - w->rect.top - fh)};
    return true;
}

bool PLAT_Fake::getWindowRect(PLAT_Window *w, PLAT_Rect *r) {
    if (!isWindow(w)) return false;
    *r = w->rect;
    return true;
}

bool PLAT_Fake::setWindowPos(PLAT_Window *w, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags) {
    if (!isWindow(w)) return false;
    log(fmt("setWindowPos %s %d %d %d %d %02x", name(w).c_str(), x, y, width, height, flags));
    int32_t cw = w->rect.right - w->rect.left, ch = w->rect.bottom - w->rect.top;
    if (!(flags & PLAT_SWP_NOMOVE)) {
        w->rect.left = x;
        w->rect.top = y;
    }
    if (!(flags & PLAT_SWP_NOSIZE)) {
        cw = width;
        ch = height;
    }
    w->rect.right = w->rect.left + cw;
    w->rect.bottom = w->rect.top + ch;
    if (flags & PLAT_SWP_SHOWWINDOW) w->visible = true;
    return true;
}

uint32_t PLAT_Fake::getWindowStyle(PLAT_Window *w) { return isWindow(w) ? w->style : 0; }

void PLAT_Fake::setWindowStyle(PLAT_Window *w, uint32_t style) {
    if (!isWindow(w)) return;
    log(fmt("setWindowStyle %s %08x", name(w).c_str(), style));
    w->style = style;
}

bool PLAT_Fake::getWindowPlacement(PLAT_Window *w, PLAT_Placement *p) {
    if (!isWindow(w)) return false;
    p->normal = w->rect;
    p->showCmd = PLAT_SW_SHOWNORMAL;
    return true;
}

bool PLAT_Fake::setWindowPlacement(PLAT_Window *w, const PLAT_Placement &p) {
    if (!isWindow(w)) return false;
    log(fmt("setWindowPlacement %s %d %d %d %d", name(w).c_str(), p.normal.left, p.normal.top, p.normal.right,
            p.normal.bottom));
    w->rect = p.normal;
    return true;
}

void PLAT_Fake::showWindow(PLAT_Window *w, int32_t command) {
    if (!isWindow(w)) return;
    log(fmt("showWindow %s %d", name(w).c_str(), command));
    w->visible = command != PLAT_SW_HIDE;
}

void PLAT_Fake::setForegroundWindow(PLAT_Window *w) {
    if (!isWindow(w)) return;
    log("setForegroundWindow " + name(w));
    if (focus != w) {
        focus = w;
        post(w, PLAT_WM_ACTIVATE, PLAT_WA_ACTIVE, 0);
    }
}

const PLAT_MenuBar *PLAT_Fake::getMenu(PLAT_Window *w) { return isWindow(w) ? w->menu : nullptr; }

void PLAT_Fake::setMenu(PLAT_Window *w, const PLAT_MenuBar *menu) {
    if (!isWindow(w)) return;
    log(std::string("setMenu ") + name(w) + (menu ? " menu" : " null"));
    w->menu = menu;
}

void PLAT_Fake::drawMenuBar(PLAT_Window *w) { log("drawMenuBar " + name(w)); }

void PLAT_Fake::checkMenuItem(PLAT_Window *w, uint32_t command, bool checked) {
    if (!isWindow(w)) return;
    log(fmt("checkMenuItem %s %u %d", name(w).c_str(), command, checked ? 1 : 0));
    if (checked)
        w->checked.insert(command);
    else
        w->checked.erase(command);
}

intptr_t PLAT_Fake::dialogBox(PLAT_Window *parent, const PLAT_DialogDesc &dialog) {
    log(fmt("dialogBox %s \"%s\"", name(parent).c_str(), dialog.title));
    return dialogResult;
}

bool PLAT_Fake::getMessage(PLAT_Msg *msg) {
    if (queue.empty()) {
        // Nothing more will arrive in a test: behave as if the user quit.
        msg->message = PLAT_WM_QUIT;
        return false;
    }
    *msg = queue.front();
    queue.pop_front();
    if (msg->message == PLAT_WM_QUIT) return false;
    return true;
}

bool PLAT_Fake::peekMessage(PLAT_Msg *msg, PLAT_Window *w, uint32_t first, uint32_t last, bool remove) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (w && it->window != w) continue;
        if (it->message < first || it->message > last) continue;
        *msg = *it;
        if (remove) queue.erase(it);
        return true;
    }
    return false;
}

void PLAT_Fake::postMessage(PLAT_Window *w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    post(w, message, wParam, lParam);
}

intptr_t PLAT_Fake::sendMessage(PLAT_Window *w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (!isWindow(w) || !w->proc) return 0;
    return w->proc(w, message, wParam, lParam);
}

intptr_t PLAT_Fake::dispatchMessage(const PLAT_Msg &m) { return sendMessage(m.window, m.message, m.wParam, m.lParam); }

void PLAT_Fake::postQuitMessage(int32_t code) {
    log(fmt("postQuitMessage %d", code));
    quitPosted = true;
    quitCode = code;
    post(nullptr, PLAT_WM_QUIT, static_cast<uintptr_t>(code), 0);
}

intptr_t PLAT_Fake::defWindowProc(PLAT_Window *w, uint32_t message, uintptr_t, intptr_t) {
    log(fmt("defWindowProc %s %04x", name(w).c_str(), message));
    if (message == PLAT_WM_CLOSE) destroyWindow(w);
    return 0;
}

bool PLAT_Fake::isKeyDown(uint32_t vk) { return keysDown.count(vk) != 0 || keys_.isDown(vk); }

bool PLAT_Fake::scanQueue(bool (*match)(const PLAT_Msg &, void *), void *context) {
    for (const PLAT_Msg &m : queue)
        if (match(m, context)) return true;
    return false;
}

void PLAT_Fake::collectEvents() {
    collected++;
    if (onCollectEvents) onCollectEvents();
}

bool PLAT_Fake::setTimer(PLAT_Window *w, uint32_t id, uint32_t ms) {
    if (!isWindow(w)) return false;
    log(fmt("setTimer %s %u %u", name(w).c_str(), id, ms));
    w->timers[id] = ms;
    return true;
}

void PLAT_Fake::killTimer(PLAT_Window *w, uint32_t id) {
    if (!isWindow(w)) return;
    log(fmt("killTimer %s %u", name(w).c_str(), id));
    w->timers.erase(id);
}

void PLAT_Fake::beginPaint(PLAT_Window *w) { log("beginPaint " + name(w)); }
void PLAT_Fake::endPaint(PLAT_Window *w) { log("endPaint " + name(w)); }

void PLAT_Fake::setCursor(PLAT_Cursor shape) {
    log(fmt("setCursor %u", static_cast<unsigned>(shape)));
    cursor = shape;
}

bool PLAT_Fake::clientToScreen(PLAT_Window *w, int32_t *x, int32_t *y) {
    if (!isWindow(w)) return false;
    *x += w->rect.left + frameWidth / 2;
    *y += w->rect.top + frameHeight - frameWidth / 2;
    return true;
}

void PLAT_Fake::setCursorPos(int32_t x, int32_t y) {
    log(fmt("setCursorPos %d %d", x, y));
    cursorX = x;
    cursorY = y;
}

void PLAT_Fake::setCapture(PLAT_Window *w) {
    log("setCapture " + name(w));
    capture = w;
}

void PLAT_Fake::releaseCapture() {
    log("releaseCapture");
    capture = nullptr;
}

void PLAT_Fake::setFocus(PLAT_Window *w) {
    log("setFocus " + name(w));
    focus = w;
}

bool PLAT_Fake::enumDisplay(uint32_t index, PLAT_Display *display) {
    if (index >= displays.size()) return false;
    *display = displays[index];
    return true;
}

bool PLAT_Fake::currentDisplaySettings(PLAT_Display *display) {
    if (!displaysReadable || displays.empty()) return false;
    *display = displays[0];
    return true;
}

bool PLAT_Fake::setPixelFormat(PLAT_Window *w, const PLAT_PixelFormat &f) {
    log(fmt("setPixelFormat %s %d %d %d %d", name(w).c_str(), f.colourBits, f.alphaBits, f.depthBits, f.stencilBits));
    return true;
}

PLAT_GLContext *PLAT_Fake::createGLContext(PLAT_Window *w) {
    log("createGLContext " + name(w));
    if (!glAvailable || !isWindow(w)) return nullptr;
    contexts_.push_back(std::make_unique<PLAT_GLContext>());
    contexts_.back()->id = static_cast<int>(contexts_.size());
    return contexts_.back().get();
}

void PLAT_Fake::deleteGLContext(PLAT_GLContext *c) {
    log(fmt("deleteGLContext c%d", c ? c->id : 0));
    if (current == c) current = nullptr;
}

bool PLAT_Fake::makeCurrent(PLAT_Window *w, PLAT_GLContext *c) {
    log(fmt("makeCurrent %s c%d", name(w).c_str(), c ? c->id : 0));
    if (c && (makeCurrentFails || !isWindow(w))) return false;
    current = c;
    return true;
}

bool PLAT_Fake::swapBuffers(PLAT_Window *w) {
    log("swapBuffers " + name(w));
    return isWindow(w);
}

bool PLAT_Fake::hasSwapInterval() { return swapIntervalAvailable; }

bool PLAT_Fake::setSwapInterval(int32_t interval) {
    log(fmt("setSwapInterval %d", interval));
    if (!swapIntervalAvailable) return false;
    swapInterval = interval;
    return true;
}

PLAT_SoundBuffer *PLAT_Fake::createSoundBuffer(PLAT_Window *w, const PLAT_SoundFormat &f, uint32_t bytes) {
    log(fmt("createSoundBuffer %s %u %u %u %u", name(w).c_str(), f.rate, f.channels, f.bits, bytes));
    if (!soundAvailable) return nullptr;
    soundBuffers.push_back(std::make_unique<PLAT_SoundBuffer>());
    soundBuffers.back()->bytes.assign(bytes, 0xAA);  // garbage until the owner clears it
    return soundBuffers.back().get();
}

void PLAT_Fake::deleteSoundBuffer(PLAT_SoundBuffer *) { log("deleteSoundBuffer"); }

bool PLAT_Fake::soundPlay(PLAT_SoundBuffer *b) {
    log("soundPlay");
    b->playing = true;
    return true;
}

bool PLAT_Fake::soundStop(PLAT_SoundBuffer *b) {
    log("soundStop");
    b->playing = false;
    return true;
}

bool PLAT_Fake::soundGetPosition(PLAT_SoundBuffer *b, uint32_t *play, uint32_t *write) {
    if (soundPositionFails) return false;
    // Like the real buffer, a stopped one has both cursors at one place.
    *play = b->play;
    *write = b->playing ? b->write : b->play;
    return true;
}

bool PLAT_Fake::soundLock(PLAT_SoundBuffer *b, uint32_t offset, uint32_t bytes, void **p1, uint32_t *n1, void **p2,
                          uint32_t *n2) {
    log(fmt("soundLock %u %u", offset, bytes));
    uint32_t size = static_cast<uint32_t>(b->bytes.size());
    if (soundLockFails || offset >= size || bytes > size) return false;
    uint32_t first = std::min(bytes, size - offset);
    *p1 = b->bytes.data() + offset;
    *n1 = first;
    *p2 = bytes > first ? b->bytes.data() : nullptr;
    *n2 = bytes - first;
    return true;
}

bool PLAT_Fake::soundUnlock(PLAT_SoundBuffer *, void *, uint32_t n1, void *, uint32_t n2) {
    log(fmt("soundUnlock %u %u", n1, n2));
    return true;
}

int32_t PLAT_Fake::listHidDevices(PLAT_HidInfo *out, int32_t max) {
    if (hidListFails) return -1;
    int32_t n = static_cast<int32_t>(hidDevices.size());
    for (int32_t i = 0; i < n && i < max; i++) out[i] = hidDevices[i];
    return n;
}

uint32_t PLAT_Fake::registerHidDevice(const PLAT_HidInfo &d) {
    log(fmt("registerHidDevice %04x %04x %s", d.vendor, d.product, d.path));
    registeredHid_.push_back(d.path);
    return static_cast<uint32_t>(registeredHid_.size());
}

bool PLAT_Fake::getHidDeviceName(uint32_t handle, char *out, uint32_t size) {
    if (handle == 0 || handle > registeredHid_.size() || size == 0) return false;
    snprintf(out, size, "%s", registeredHid_[handle - 1].c_str());
    return true;
}

int32_t PLAT_Fake::writeHidDevice(const char *deviceName, const uint8_t *, uint32_t length) {
    log(fmt("writeHidDevice %s %u", deviceName, length));
    return hidWriteFails ? -1 : static_cast<int32_t>(length);
}

uint32_t PLAT_Fake::getRawInputData(intptr_t input, void *data, uint32_t size) {
    auto it = rawInputs.find(input);
    if (it == rawInputs.end()) return static_cast<uint32_t>(-1);
    uint32_t n = static_cast<uint32_t>(it->second.size());
    if (!data) return n;
    n = std::min(n, size);
    memcpy(data, it->second.data(), n);
    return n;
}

bool PLAT_Fake::openURL(const char *text) {
    std::lock_guard<std::mutex> lock(urlMutex);
    urls.push_back(text ? text : "");
    return true;
}

bool PLAT_Fake::getUILanguage(char *out, uint32_t size) {
    if (language.empty() || size == 0) return false;
    snprintf(out, size, "%s", language.c_str());
    return true;
}

int64_t PLAT_Fake::performanceCounter() { return counter; }
int64_t PLAT_Fake::performanceFrequency() { return frequency; }

void PLAT_Fake::debugOutput(const char *text) { debugLines.push_back(text ? text : ""); }

bool PLAT_Fake::findResource(uint32_t type, uint32_t id, const uint8_t **data, size_t *size) {
    if (type != PLAT_RT_RCDATA) return false;
    auto it = resources.find(id);
    if (it == resources.end()) return false;
    *data = it->second.data();
    *size = it->second.size();
    return true;
}
