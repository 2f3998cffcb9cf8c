// The real platform layer: wx (GTK 3) windows with a GLX canvas as their
// client area, wx timers, menus and dialogs, and the services of
// PLAT_Services.cpp. wx events are turned into queued messages; the shell's
// own message loop takes them out with getMessage, which runs the toolkit's
// event loop while the queue is empty.

#include "platform/PLAT.h"
#include "platform/PLAT_Keys.h"
#include "platform/PLAT_Pointer.h"
#include "platform/PLAT_Services.h"

#include <wx/wx.h>
#include <wx/display.h>
#include <wx/evtloop.h>
#include <wx/glcanvas.h>
#include <wx/mstream.h>

#include <GL/glx.h>
#include <X11/XKBlib.h>
#include <dlfcn.h>

#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class PLAT_Real;
static PLAT_Real *g_real = nullptr;

namespace {

class PlatApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

class PlatCanvas;
class PlatFrame;

}  // namespace

struct PLAT_WxWindow {
    PLAT_WndProc proc = nullptr;
    void *userData = nullptr;
    PlatFrame *frame = nullptr;
    PlatCanvas *canvas = nullptr;
    uint32_t style = 0;
    const PLAT_MenuBar *menu = nullptr;  // attached description, or null
    const PLAT_MenuBar *builtFor = nullptr;
    wxMenuBar *bar = nullptr;            // built once, attached or detached
    std::map<int, uint32_t> commandOf;   // wx id -> command
    std::map<uint32_t, int> idOf;        // command -> wx id
    std::map<uint32_t, std::unique_ptr<wxTimer>> timers;
    bool alive = true;
    bool active = false;
    int menuDepth = 0;
};

struct PLAT_WxContext {
    wxGLContext *context = nullptr;
};

// The layer hands out its windows and contexts as the opaque PLAT_Window and
// PLAT_GLContext. Their records have names of their own: the fake backend
// defines PLAT_Window and PLAT_GLContext, and two layouts under one name
// would share one set of inline members in a program that links both.
static PLAT_Window *handle(PLAT_WxWindow *w) { return reinterpret_cast<PLAT_Window *>(w); }
static PLAT_WxWindow *wx(PLAT_Window *h) { return reinterpret_cast<PLAT_WxWindow *>(h); }

namespace {

constexpr int kFirstMenuId = 5000;  // wx ids stay well below 32767

uint32_t mouseFlags(const wxMouseState &m) {
    uint32_t f = 0;
    if (m.LeftIsDown()) f |= PLAT_MK_LBUTTON;
    if (m.RightIsDown()) f |= PLAT_MK_RBUTTON;
    if (m.ShiftDown()) f |= PLAT_MK_SHIFT;
    if (m.ControlDown()) f |= PLAT_MK_CONTROL;
    return f;
}

intptr_t packPoint(int x, int y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(x) & 0xFFFF) | ((static_cast<uint32_t>(y) & 0xFFFF) << 16));
}

wxGLAttributes glAttributes() {
    wxGLAttributes a;
    a.PlatformDefaults().RGBA().DoubleBuffer().MinRGBA(8, 8, 8, 8).Depth(32).Stencil(8).EndList();
    if (wxGLCanvas::IsDisplaySupported(a)) return a;
    // Software GL offers no 32-bit depth buffer.
    wxGLAttributes b;
    b.PlatformDefaults().RGBA().DoubleBuffer().MinRGBA(8, 8, 8, 8).Depth(24).Stencil(8).EndList();
    return b;
}

}  // namespace

class PLAT_Real : public PLAT_System {
public:
    PLAT_Real() { g_real = this; }
    ~PLAT_Real() override;

    std::deque<PLAT_Msg> queue;
    bool quit = false;
    std::vector<std::unique_ptr<PLAT_WxWindow>> windows;
    std::map<intptr_t, std::vector<uint8_t>> raw;
    intptr_t nextRaw = 1;
    std::unique_ptr<wxGUIEventLoop> loop;
    struct Class {
        PLAT_WndProc proc;
        const PLAT_MenuBar *menu;
    };
    std::map<std::string, Class> classes;
    std::vector<uint8_t> package;
    bool packageRead = false;

    PLAT_KeyTracker keyboard;
    bool collecting = false;  // inside collectEvents

    void post(PLAT_WxWindow *w, uint32_t m, uintptr_t wp = 0, intptr_t lp = 0) {
        if (w && !w->alive) return;
        queue.push_back(PLAT_Msg{handle(w), m, wp, lp, keyboard.keyState()});
        wxWakeUpIdle();
    }
    void postKey(PLAT_WxWindow *w, PLAT_Msg m) {
        if (!w->alive) return;
        m.window = handle(w);
        queue.push_back(m);
        wxWakeUpIdle();
    }
    bool queued(PLAT_WxWindow *w, uint32_t m) const {
        for (const auto &q : queue)
            if (q.window == handle(w) && q.message == m) return true;
        return false;
    }
    // The live window behind a handle, or null.
    PLAT_WxWindow *live(PLAT_Window *h) const {
        for (auto &p : windows)
            if (handle(p.get()) == h) return p->alive ? p.get() : nullptr;
        return nullptr;
    }
    bool live(PLAT_WxWindow *w) const { return w && live(handle(w)) == w; }
    bool takeMessage(PLAT_Msg *msg) {
        if (queue.empty()) return false;
        *msg = queue.front();
        queue.pop_front();
        return true;
    }
    // Runs the toolkit once: pending events, then idle work, then waits.
    void runToolkitOnce();
    void activate(PLAT_WxWindow *w, bool on) {
        if (!w->alive || w->active == on) return;
        w->active = on;
        post(w, PLAT_WM_ACTIVATE, on ? PLAT_WA_ACTIVE : PLAT_WA_INACTIVE);
    }
    void pollDevices() {
        std::vector<std::vector<uint8_t>> records;
        PLAT_iHidPoll(&records);
        for (auto &r : records) {
            intptr_t id = nextRaw++;
            raw[id] = std::move(r);
            while (raw.size() > 256) raw.erase(raw.begin());
            for (auto &w : windows)
                if (w->alive) {
                    post(w.get(), PLAT_WM_INPUT, 0, id);
                    break;
                }
        }
    }
    void buildMenu(PLAT_WxWindow *w, const PLAT_MenuBar *desc);

    // PLAT_System.
    bool registerClass(const char *name, PLAT_WndProc proc, const PLAT_MenuBar *menu) override {
        classes[name] = Class{proc, menu};
        return true;
    }
    void unregisterClass(const char *name) override { classes.erase(name); }
    PLAT_Window *createWindow(const char *className, const char *title, uint32_t style, uint32_t exStyle, int32_t x,
                              int32_t y, int32_t width, int32_t height) override;
    bool destroyWindow(PLAT_Window *w) override;
    bool isWindow(PLAT_Window *h) override { return live(h) != nullptr; }
    void setWindowText(PLAT_Window *w, const char *text) override;
    void setUserData(PLAT_Window *h, void *data) override {
        if (PLAT_WxWindow *w = live(h)) w->userData = data;
    }
    void *getUserData(PLAT_Window *h) override {
        PLAT_WxWindow *w = live(h);
        return w ? w->userData : nullptr;
    }
    bool getClientRect(PLAT_Window *w, PLAT_Rect *r) override;
    bool getWindowRect(PLAT_Window *w, PLAT_Rect *r) override;
    bool setWindowPos(PLAT_Window *w, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags) override;
    uint32_t getWindowStyle(PLAT_Window *h) override {
        PLAT_WxWindow *w = live(h);
        return w ? w->style : 0;
    }
    void setWindowStyle(PLAT_Window *w, uint32_t style) override;
    bool getWindowPlacement(PLAT_Window *w, PLAT_Placement *p) override;
    bool setWindowPlacement(PLAT_Window *w, const PLAT_Placement &p) override;
    void showWindow(PLAT_Window *w, int32_t command) override;
    void setForegroundWindow(PLAT_Window *w) override;
    const PLAT_MenuBar *getMenu(PLAT_Window *h) override {
        PLAT_WxWindow *w = live(h);
        return w ? w->menu : nullptr;
    }
    void setMenu(PLAT_Window *w, const PLAT_MenuBar *menu) override;
    void drawMenuBar(PLAT_Window *w) override;
    void checkMenuItem(PLAT_Window *w, uint32_t command, bool checked) override;
    intptr_t dialogBox(PLAT_Window *parent, const PLAT_DialogDesc &dialog) override;
    bool getMessage(PLAT_Msg *msg) override;
    bool peekMessage(PLAT_Msg *msg, PLAT_Window *w, uint32_t first, uint32_t last, bool remove) override {
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if (w && it->window != w) continue;
            if (it->message < first || it->message > last) continue;
            *msg = *it;
            if (remove) queue.erase(it);
            return true;
        }
        return false;
    }
    void postMessage(PLAT_Window *h, uint32_t m, uintptr_t wp, intptr_t lp) override {
        if (!h)
            post(nullptr, m, wp, lp);
        else if (PLAT_WxWindow *w = live(h))
            post(w, m, wp, lp);
    }
    intptr_t sendMessage(PLAT_Window *h, uint32_t m, uintptr_t wp, intptr_t lp) override {
        PLAT_WxWindow *w = live(h);
        if (!w || !w->proc) return 0;
        return w->proc(h, m, wp, lp);
    }
    intptr_t dispatchMessage(const PLAT_Msg &m) override { return sendMessage(m.window, m.message, m.wParam, m.lParam); }
    void postQuitMessage(int32_t) override {
        quit = true;
        wxWakeUpIdle();
    }
    bool scanQueue(bool (*match)(const PLAT_Msg &, void *), void *context) override {
        for (const PLAT_Msg &m : queue)
            if (match(m, context)) return true;
        return false;
    }
    void collectEvents() override;
    intptr_t defWindowProc(PLAT_Window *h, uint32_t m, uintptr_t, intptr_t) override {
        if (m == PLAT_WM_CLOSE) destroyWindow(h);
        return 0;
    }
    bool isKeyDown(uint32_t vk) override { return keyboard.isDown(vk); }
    bool setTimer(PLAT_Window *w, uint32_t id, uint32_t ms) override;
    void killTimer(PLAT_Window *h, uint32_t id) override {
        if (PLAT_WxWindow *w = live(h)) w->timers.erase(id);
    }
    void beginPaint(PLAT_Window *) override {}
    void endPaint(PLAT_Window *) override {}
    void setCursor(PLAT_Cursor shape) override;
    bool clientToScreen(PLAT_Window *w, int32_t *x, int32_t *y) override;
    void setCursorPos(int32_t x, int32_t y) override;
    void setCapture(PLAT_Window *w) override;
    void releaseCapture() override;
    void setFocus(PLAT_Window *w) override;
    bool enumDisplay(uint32_t index, PLAT_Display *display) override;
    bool currentDisplaySettings(PLAT_Display *display) override;
    bool setPixelFormat(PLAT_Window *h, const PLAT_PixelFormat &) override { return isWindow(h); }
    PLAT_GLContext *createGLContext(PLAT_Window *w) override;
    void deleteGLContext(PLAT_GLContext *handle) override {
        PLAT_WxContext *c = reinterpret_cast<PLAT_WxContext *>(handle);
        if (!c) return;
        delete c->context;
        delete c;
    }
    bool makeCurrent(PLAT_Window *w, PLAT_GLContext *c) override;
    bool swapBuffers(PLAT_Window *w) override;
    bool hasSwapInterval() override;
    bool setSwapInterval(int32_t interval) override;
    PLAT_SoundBuffer *createSoundBuffer(PLAT_Window *, const PLAT_SoundFormat &f, uint32_t bytes) override {
        return PLAT_iSoundCreate(f, bytes);
    }
    void deleteSoundBuffer(PLAT_SoundBuffer *b) override { PLAT_iSoundDelete(b); }
    bool soundPlay(PLAT_SoundBuffer *b) override { return PLAT_iSoundPlay(b); }
    bool soundStop(PLAT_SoundBuffer *b) override { return PLAT_iSoundStop(b); }
    bool soundGetPosition(PLAT_SoundBuffer *b, uint32_t *p, uint32_t *w) override { return PLAT_iSoundPosition(b, p, w); }
    bool soundLock(PLAT_SoundBuffer *b, uint32_t o, uint32_t n, void **p1, uint32_t *n1, void **p2,
                   uint32_t *n2) override {
        return PLAT_iSoundLock(b, o, n, p1, n1, p2, n2);
    }
    bool soundUnlock(PLAT_SoundBuffer *b, void *, uint32_t, void *, uint32_t) override { return PLAT_iSoundUnlock(b); }
    int32_t listHidDevices(PLAT_HidInfo *out, int32_t max) override { return PLAT_iHidList(out, max); }
    uint32_t registerHidDevice(const PLAT_HidInfo &d) override { return PLAT_iHidRegister(d); }
    bool getHidDeviceName(uint32_t h, char *name, uint32_t size) override { return PLAT_iHidName(h, name, size); }
    int32_t writeHidDevice(const char *name, const uint8_t *bytes, uint32_t length) override {
        return PLAT_iHidWrite(name, bytes, length);
    }
    uint32_t getRawInputData(intptr_t input, void *data, uint32_t size) override {
        auto it = raw.find(input);
        if (it == raw.end()) return static_cast<uint32_t>(-1);
        uint32_t n = static_cast<uint32_t>(it->second.size());
        if (!data) return n;
        n = std::min(n, size);
        memcpy(data, it->second.data(), n);
        return n;
    }
    bool openURL(const char *text) override { return PLAT_iSpawnOpener(text); }
    bool getUILanguage(char *out, uint32_t size) override { return PLAT_iLocaleLanguage(out, size); }
    int64_t performanceCounter() override { return PLAT_iCounter(); }
    int64_t performanceFrequency() override { return PLAT_iFrequency(); }
    void debugOutput(const char *text) override {
        fputs(text, stderr);
        fflush(stderr);
    }
    bool findResource(uint32_t type, uint32_t id, const uint8_t **data, size_t *size) override {
        if (type != PLAT_RT_RCDATA || id != 130) return false;
        if (!packageRead) {
            packageRead = true;
            PLAT_iReadAppended("/proc/self/exe", &package);
        }
        if (package.empty()) return false;
        *data = package.data();
        *size = package.size();
        return true;
    }
};

namespace {

class PlatTimer : public wxTimer {
public:
    PlatTimer(PLAT_WxWindow *w, uint32_t id) : window_(w), id_(id) {}
    void Notify() override {
        if (!g_real || !window_->alive) return;
        g_real->pollDevices();
        g_real->post(window_, PLAT_WM_TIMER, id_, 0);
    }

private:
    PLAT_WxWindow *window_;
    uint32_t id_;
};

// What the active layout group puts unshifted on a hardware key, and the
// NumLock state, asked of the X server's keyboard description.
uint32_t unshiftedKeysym(uint32_t keycode, bool *numLock) {
    *numLock = false;
    Display *display = wxGetX11Display();
    if (!display) return 0;
    XkbStateRec state;
    int group = XkbGetState(display, XkbUseCoreKbd, &state) == Success ? state.group : 0;
    Bool on = False;
    if (XkbGetNamedIndicator(display, XInternAtom(display, "Num Lock", False), nullptr, &on, nullptr, nullptr))
        *numLock = on;
    XkbDescPtr xkb = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (!xkb) return 0;
    uint32_t keysym = 0;
    if (keycode >= xkb->min_key_code && keycode <= xkb->max_key_code) {
        int groups = XkbKeyNumGroups(xkb, keycode);
        if (groups > 0) {
            if (group >= groups) group %= groups;  // the keymap's wrap rule for short keys
            if (XkbKeyGroupWidth(xkb, keycode, group) > 0) keysym = XkbKeySymEntry(xkb, keycode, 0, group);
        }
    }
    XkbFreeKeyboard(xkb, 0, True);
    return keysym;
}

void onKey(PLAT_WxWindow *w, wxKeyEvent &e, bool down) {
    if (!g_real || !w->alive) return;
    uint32_t keycode = e.GetRawKeyFlags();  // the hardware keycode
    PLAT_Msg m;
    if (down) {
        bool numLock = false;
        uint32_t keysym = unshiftedKeysym(keycode, &numLock);
        if (keysym == 0) keysym = e.GetRawKeyCode();
        if (!g_real->keyboard.press(keycode, PLAT_iKeyToVirtualKey(keycode, keysym, numLock), keysym, &m)) return;
    } else if (!g_real->keyboard.release(keycode, &m)) {
        return;
    }
    g_real->postKey(w, m);
}

// The focus went elsewhere: the keys still down are released now, as their
// releases will go to another window.
void releaseKeys(PLAT_WxWindow *w) {
    if (!g_real) return;
    for (const PLAT_Msg &m : g_real->keyboard.releaseAll()) g_real->postKey(w, m);
}

class PlatCanvas : public wxGLCanvas {
public:
    PlatCanvas(wxWindow *parent, PLAT_WxWindow *w, const wxGLAttributes &attrs)
        : wxGLCanvas(parent, attrs, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxWANTS_CHARS), window_(w) {
        Bind(wxEVT_PAINT, &PlatCanvas::onPaint, this);
        Bind(wxEVT_ERASE_BACKGROUND, [](wxEraseEvent &) {});
        Bind(wxEVT_SIZE, &PlatCanvas::onSize, this);
        Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent &e) { onKey(window_, e, true); });
        Bind(wxEVT_KEY_UP, [this](wxKeyEvent &e) { onKey(window_, e, false); });
        Bind(wxEVT_MOTION, [this](wxMouseEvent &e) { mouse(PLAT_WM_MOUSEMOVE, e); });
        Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent &e) { mouse(PLAT_WM_LBUTTONDOWN, e); });
        Bind(wxEVT_LEFT_DCLICK, [this](wxMouseEvent &e) { mouse(PLAT_WM_LBUTTONDBLCLK, e); });
        Bind(wxEVT_LEFT_UP, [this](wxMouseEvent &e) { mouse(PLAT_WM_LBUTTONUP, e); });
        Bind(wxEVT_RIGHT_DOWN, [this](wxMouseEvent &e) { mouse(PLAT_WM_RBUTTONDOWN, e); });
        Bind(wxEVT_RIGHT_UP, [this](wxMouseEvent &e) { mouse(PLAT_WM_RBUTTONUP, e); });
        Bind(wxEVT_MOUSEWHEEL, &PlatCanvas::onWheel, this);
        // Losing the capture or the focus in the middle of a press means the
        // release may never come: the window is told, so that nothing stays
        // grabbed.
        Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent &) {
            leftHeld_ = false;
            if (g_real) g_real->post(window_, PLAT_WM_CAPTURECHANGED);
        });
        Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent &e) {
            if (g_real) g_real->activate(window_, true);
            e.Skip();
        });
        Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent &e) {
            leftHeld_ = false;
            releaseKeys(window_);
            if (g_real) g_real->post(window_, PLAT_WM_KILLFOCUS);
            e.Skip();
        });
    }

private:
    PLAT_WxWindow *window_;
    bool leftHeld_ = false;
    void onPaint(wxPaintEvent &) {
        wxPaintDC dc(this);
        if (g_real && window_->alive && !g_real->queued(window_, PLAT_WM_PAINT)) g_real->post(window_, PLAT_WM_PAINT);
    }
    void onSize(wxSizeEvent &e) {
        wxSize s = GetClientSize();
        if (g_real) g_real->post(window_, PLAT_WM_SIZE, 0, packPoint(s.x, s.y));
        Refresh(false);
        e.Skip();
    }
    void mouse(uint32_t m, wxMouseEvent &e) {
        // The toolkit reports the second press of a double click twice (a
        // press, then a double click); the window sees it once, as a double
        // click in place of the press.
        if (m == PLAT_WM_LBUTTONDBLCLK && leftHeld_) return;
        if (m == PLAT_WM_LBUTTONDOWN || m == PLAT_WM_LBUTTONDBLCLK) leftHeld_ = true;
        if (m == PLAT_WM_LBUTTONUP) leftHeld_ = false;
        if (g_real) g_real->post(window_, m, mouseFlags(e), packPoint(e.GetX(), e.GetY()));
        if (m == PLAT_WM_LBUTTONDOWN || m == PLAT_WM_RBUTTONDOWN) e.Skip();  // let the toolkit focus us
    }
    void onWheel(wxMouseEvent &e) {
        if (!g_real) return;
        if (e.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL) return;
        // X buttons 4 and 5 arrive here as one notch each: +120 and -120.
        int delta = PLAT_iWheelDelta(e.GetWheelRotation(), e.GetWheelDelta());
        if (delta == 0) return;
        wxPoint p = ClientToScreen(e.GetPosition());
        uintptr_t wp = (static_cast<uintptr_t>(static_cast<uint16_t>(delta)) << 16) | mouseFlags(e);
        g_real->post(window_, PLAT_WM_MOUSEWHEEL, wp, packPoint(p.x, p.y));
    }
};

class PlatFrame : public wxFrame {
public:
    PlatFrame(PLAT_WxWindow *w, const wxString &title, const wxPoint &pos, const wxSize &size)
        : wxFrame(nullptr, wxID_ANY, title, pos, size), window_(w) {
        Bind(wxEVT_CLOSE_WINDOW, &PlatFrame::onClose, this);
        Bind(wxEVT_ACTIVATE, [this](wxActivateEvent &e) {
            if (g_real) g_real->activate(window_, e.GetActive());
            e.Skip();
        });
        Bind(wxEVT_MENU, [this](wxCommandEvent &e) {
            auto it = window_->commandOf.find(e.GetId());
            if (g_real && it != window_->commandOf.end()) g_real->post(window_, PLAT_WM_COMMAND, it->second, 0);
        });
        Bind(wxEVT_MENU_OPEN, [this](wxMenuEvent &) {
            if (g_real && window_->menuDepth++ == 0) g_real->post(window_, PLAT_WM_ENTERMENULOOP);
        });
        Bind(wxEVT_MENU_CLOSE, [this](wxMenuEvent &) {
            if (g_real && window_->menuDepth > 0 && --window_->menuDepth == 0)
                g_real->post(window_, PLAT_WM_EXITMENULOOP);
        });
        Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent &e) { onKey(window_, e, true); });
        Bind(wxEVT_KEY_UP, [this](wxKeyEvent &e) { onKey(window_, e, false); });
    }

private:
    PLAT_WxWindow *window_;
    void onClose(wxCloseEvent &e) {
        if (!g_real || !window_->alive) {
            Destroy();
            return;
        }
        if (e.CanVeto()) {
            e.Veto();
            g_real->post(window_, PLAT_WM_CLOSE);
        } else {
            g_real->destroyWindow(handle(window_));
        }
    }
};

}  // namespace

PLAT_Real::~PLAT_Real() {
    for (auto &w : windows)
        if (w->alive) destroyWindow(handle(w.get()));
    PLAT_iHidShutdown();
    loop.reset();
    g_real = nullptr;
    wxEntryCleanup();
}

PLAT_Window *PLAT_Real::createWindow(const char *className, const char *title, uint32_t style, uint32_t,
                                     int32_t x, int32_t y, int32_t width, int32_t height) {
    auto c = classes.find(className);
    if (c == classes.end()) return nullptr;
    auto w = std::make_unique<PLAT_WxWindow>();
    w->proc = c->second.proc;
    w->style = style;
    wxPoint pos = (x == PLAT_USEDEFAULT || y == PLAT_USEDEFAULT) ? wxDefaultPosition : wxPoint(x, y);
    wxSize size = (width == PLAT_USEDEFAULT || height == PLAT_USEDEFAULT) ? wxSize(800, 600) : wxSize(width, height);
    w->frame = new PlatFrame(w.get(), wxString::FromUTF8(title ? title : ""), pos, size);
    w->canvas = new PlatCanvas(w->frame, w.get(), glAttributes());
    if (c->second.menu) {
        buildMenu(w.get(), c->second.menu);
        w->frame->SetMenuBar(w->bar);
        w->menu = c->second.menu;
    }
    // The smallest client area: 250 by 187.5 pixels, rounded up. The toolkit
    // keeps it whichever edge is dragged.
    w->frame->SetMinClientSize(wxSize(250, 188));
    windows.push_back(std::move(w));
    return handle(windows.back().get());
}

namespace {

// Shows a shortcut text ("Ctrl+Q", "Alt+Enter", "F1") beside a menu item
// without making it a shortcut: the toolkit's accelerator label is given the
// key to display, and no accelerator is registered (the keys stay with the
// window's own accelerator table, or reach the scripts). The toolkit's
// functions are looked up in the running program, which the toolkit is
// loaded into.
void showShortcut(wxMenuItem *item, const std::string &text) {
    using BinChild = void *(*)(void *);
    using TypeOf = unsigned long (*)();
    using IsA = int (*)(void *, unsigned long);
    using SetAccel = void (*)(void *, unsigned, unsigned);
    static auto child = reinterpret_cast<BinChild>(dlsym(RTLD_DEFAULT, "gtk_bin_get_child"));
    static auto labelType = reinterpret_cast<TypeOf>(dlsym(RTLD_DEFAULT, "gtk_accel_label_get_type"));
    static auto isA = reinterpret_cast<IsA>(dlsym(RTLD_DEFAULT, "g_type_check_instance_is_a"));
    static auto setAccel = reinterpret_cast<SetAccel>(dlsym(RTLD_DEFAULT, "gtk_accel_label_set_accel"));
    if (!child || !labelType || !isA || !setAccel || !item->GetMenuItem()) return;
    unsigned mods = 0;  // GDK_SHIFT_MASK 1, GDK_CONTROL_MASK 4, GDK_MOD1_MASK 8
    std::string rest = text;
    for (;;) {
        size_t plus = rest.find('+');
        if (plus == std::string::npos || plus + 1 == rest.size()) break;
        std::string mod = rest.substr(0, plus);
        if (mod == "Ctrl")
            mods |= 4;
        else if (mod == "Alt")
            mods |= 8;
        else if (mod == "Shift")
            mods |= 1;
        else
            return;
        rest = rest.substr(plus + 1);
    }
    if (rest == "Enter") rest = "Return";
    KeySym key = XStringToKeysym(rest.c_str());
    if (key == NoSymbol) return;
    void *label = child(item->GetMenuItem());
    if (label && isA(label, labelType())) setAccel(label, static_cast<unsigned>(key), mods);
}

}  // namespace

void PLAT_Real::buildMenu(PLAT_WxWindow *w, const PLAT_MenuBar *desc) {
    w->bar = new wxMenuBar();
    w->builtFor = desc;
    int next = kFirstMenuId;
    for (size_t p = 0; p < desc->count; p++) {
        const PLAT_MenuPopup &popup = desc->popups[p];
        auto *menu = new wxMenu();
        for (size_t i = 0; i < popup.count; i++) {
            const PLAT_MenuItem &item = popup.items[i];
            std::string text = item.text, shortcut;
            size_t tab = text.find('\t');
            if (!item.bindShortcut && tab != std::string::npos) {
                shortcut = text.substr(tab + 1);
                text.resize(tab);
            }
            int id = next++;
            w->commandOf[id] = item.command;
            w->idOf[item.command] = id;
            wxMenuItem *added = menu->Append(id, wxString::FromUTF8(text.c_str()), wxEmptyString,
                                             item.checkable ? wxITEM_CHECK : wxITEM_NORMAL);
            if (added && !shortcut.empty()) showShortcut(added, shortcut);
        }
        w->bar->Append(menu, wxString::FromUTF8(popup.text));
    }
}

bool PLAT_Real::destroyWindow(PLAT_Window *h) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return false;
    if (w->proc) w->proc(h, PLAT_WM_DESTROY, 0, 0);
    w->alive = false;
    w->timers.clear();
    for (auto it = queue.begin(); it != queue.end();)
        it = it->window == h ? queue.erase(it) : it + 1;
    if (w->canvas && w->canvas->HasCapture()) w->canvas->ReleaseMouse();
    if (w->bar && !w->menu) delete w->bar;  // detached: the frame does not own it
    w->bar = nullptr;
    w->frame->Destroy();
    return true;
}

void PLAT_Real::setWindowText(PLAT_Window *h, const char *text) {
    PLAT_WxWindow *w = wx(h);
    if (live(w)) w->frame->SetTitle(wxString::FromUTF8(text ? text : ""));
}

bool PLAT_Real::getClientRect(PLAT_Window *h, PLAT_Rect *r) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return false;
    wxSize s = w->frame->GetClientSize();
    *r = PLAT_Rect{0, 0, s.x, s.y};
    return true;
}

bool PLAT_Real::getWindowRect(PLAT_Window *h, PLAT_Rect *r) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return false;
    wxRect rc = w->frame->GetRect();
    *r = PLAT_Rect{rc.x, rc.y, rc.x + rc.width, rc.y + rc.height};
    return true;
}

bool PLAT_Real::setWindowPos(PLAT_Window *h, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return false;
    wxRect rc = w->frame->GetRect();
    if (!(flags & PLAT_SWP_NOMOVE)) rc.SetPosition(wxPoint(x, y));
    if (!(flags & PLAT_SWP_NOSIZE)) rc.SetSize(wxSize(width, height));
    w->frame->SetSize(rc);
    if (flags & PLAT_SWP_SHOWWINDOW) w->frame->Show(true);
    return true;
}

void PLAT_Real::setWindowStyle(PLAT_Window *h, uint32_t style) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return;
    bool wasPopup = (w->style & PLAT_WS_POPUP) != 0, popup = (style & PLAT_WS_POPUP) != 0;
    w->style = style;
    // A borderless window: the toolkit drops the frame and the title; the
    // display mode never changes.
    if (popup != wasPopup)
        w->frame->ShowFullScreen(popup, wxFULLSCREEN_NOBORDER | wxFULLSCREEN_NOCAPTION | wxFULLSCREEN_NOMENUBAR);
}

bool PLAT_Real::getWindowPlacement(PLAT_Window *h, PLAT_Placement *p) {
    PLAT_WxWindow *w = wx(h);
    if (!getWindowRect(h, &p->normal)) return false;
    p->showCmd = w->frame->IsIconized() ? 2 : PLAT_SW_SHOWNORMAL;
    return true;
}

bool PLAT_Real::setWindowPlacement(PLAT_Window *h, const PLAT_Placement &p) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return false;
    w->frame->SetSize(p.normal.left, p.normal.top, p.normal.right - p.normal.left, p.normal.bottom - p.normal.top);
    return true;
}

void PLAT_Real::showWindow(PLAT_Window *h, int32_t command) {
    PLAT_WxWindow *w = wx(h);
    if (live(w)) w->frame->Show(command != PLAT_SW_HIDE);
}

void PLAT_Real::setForegroundWindow(PLAT_Window *h) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return;
    w->frame->Raise();
    w->canvas->SetFocus();
    // Without a window manager nobody activates the window: the focus it is
    // given here is its activation.
    activate(w, true);
}

void PLAT_Real::setMenu(PLAT_Window *h, const PLAT_MenuBar *menu) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w) || menu == w->menu) return;
    if (!menu) {
        w->frame->SetMenuBar(nullptr);  // detaches; we keep the bar
        w->menu = nullptr;
        return;
    }
    if (w->bar && w->builtFor != menu) {
        if (!w->menu) delete w->bar;
        w->bar = nullptr;
    }
    if (!w->bar) buildMenu(w, menu);
    w->frame->SetMenuBar(w->bar);
    w->menu = menu;
}

void PLAT_Real::drawMenuBar(PLAT_Window *h) {
    PLAT_WxWindow *w = wx(h);
    if (live(w) && w->frame->GetMenuBar()) w->frame->GetMenuBar()->Refresh();
}

void PLAT_Real::checkMenuItem(PLAT_Window *h, uint32_t command, bool checked) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w) || !w->bar) return;
    auto it = w->idOf.find(command);
    if (it == w->idOf.end()) return;
    wxMenuItem *item = w->bar->FindItem(it->second);
    if (item && item->IsCheckable()) item->Check(checked);
}

intptr_t PLAT_Real::dialogBox(PLAT_Window *h, const PLAT_DialogDesc &d) {
    PLAT_WxWindow *parent = wx(h);
    wxWindow *owner = live(parent) ? static_cast<wxWindow *>(parent->frame) : nullptr;
    wxDialog dialog(owner, wxID_ANY, wxString::FromUTF8(d.title), wxDefaultPosition, wxDefaultSize,
                    wxDEFAULT_DIALOG_STYLE);
    auto *sizer = new wxBoxSizer(wxVERTICAL);
    if (d.picture && d.pictureSize) {
        if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler());
        wxMemoryInputStream in(d.picture, d.pictureSize);
        wxImage image(in, wxBITMAP_TYPE_PNG);
        if (image.IsOk()) sizer->Add(new wxStaticBitmap(&dialog, wxID_ANY, wxBitmap(image)), 0, wxALL | wxCENTER, 8);
    }
    sizer->Add(new wxButton(&dialog, wxID_OK, "OK"), 0, wxALL | wxCENTER, 8);
    dialog.SetSizerAndFit(sizer);
    if (d.width > 0 && d.height > 0) dialog.SetClientSize(std::max(d.width, dialog.GetClientSize().x),
                                                          std::max(d.height, dialog.GetClientSize().y));
    // A modal loop of our own: the other windows take no input while the
    // box is up, but their queued messages (timers, paints, sizes, raw
    // input) keep being dispatched, so that frames and sound go on behind
    // the box as they do behind a modal box of the home platform.
    bool done = false;
    dialog.Bind(wxEVT_BUTTON, [&done](wxCommandEvent &e) {
        if (e.GetId() == wxID_OK || e.GetId() == wxID_CANCEL) done = true;
    });
    dialog.Bind(wxEVT_CLOSE_WINDOW, [&done](wxCloseEvent &) { done = true; });
    {
        wxWindowDisabler others(&dialog);
        dialog.Show();
        dialog.Raise();
        while (!done && !quit && dialog.IsShown()) {
            PLAT_Msg m;
            if (takeMessage(&m))
                dispatchMessage(m);
            else
                runToolkitOnce();
        }
        dialog.Hide();
    }
    // The focus goes back to the owner, as it does when a modal box ends.
    if (live(parent)) {
        parent->frame->Raise();
        parent->canvas->SetFocus();
    }
    return d.okId;
}

void PLAT_Real::runToolkitOnce() {
    if (wxTheApp) wxTheApp->ProcessPendingEvents();
    if (!queue.empty() || quit) return;
    if (!loop->Pending()) {
        loop->ProcessIdle();
        if (!queue.empty() || quit) return;
    }
    loop->Dispatch();
}

bool PLAT_Real::getMessage(PLAT_Msg *msg) {
    for (;;) {
        if (takeMessage(msg)) return true;
        if (quit) {
            msg->message = PLAT_WM_QUIT;
            return false;
        }
        runToolkitOnce();
    }
}

void PLAT_Real::collectEvents() {
    if (collecting || !loop) return;
    collecting = true;
    // Toolkit events only post messages (nothing here runs a window
    // procedure), so this is safe while a script runs. A bounded number,
    // so that a stream of events cannot keep the caller here.
    for (int i = 0; i < 64 && loop->Pending(); i++) loop->Dispatch();
    collecting = false;
}

bool PLAT_Real::setTimer(PLAT_Window *h, uint32_t id, uint32_t ms) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return false;
    auto t = std::make_unique<PlatTimer>(w, id);
    bool ok = t->Start(static_cast<int>(ms));
    w->timers[id] = std::move(t);
    return ok;
}

void PLAT_Real::setCursor(PLAT_Cursor shape) {
    wxStockCursor stock = shape == PLAT_CURSOR_SIZEALL ? wxCURSOR_SIZING
                          : shape == PLAT_CURSOR_HAND  ? wxCURSOR_HAND
                                                       : wxCURSOR_ARROW;
    wxCursor cursor(stock);
    for (auto &w : windows)
        if (w->alive) w->canvas->SetCursor(cursor);
}

bool PLAT_Real::clientToScreen(PLAT_Window *h, int32_t *x, int32_t *y) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return false;
    int px = *x, py = *y;
    w->canvas->ClientToScreen(&px, &py);
    *x = px;
    *y = py;
    return true;
}

void PLAT_Real::setCursorPos(int32_t x, int32_t y) {
    for (auto &w : windows)
        if (w->alive && w->frame->IsShown()) {
            wxPoint p = w->canvas->ScreenToClient(wxPoint(x, y));
            w->canvas->WarpPointer(p.x, p.y);
            return;
        }
}

void PLAT_Real::setCapture(PLAT_Window *h) {
    PLAT_WxWindow *w = wx(h);
    if (live(w) && !w->canvas->HasCapture()) w->canvas->CaptureMouse();
}

void PLAT_Real::releaseCapture() {
    for (auto &w : windows)
        if (w->alive && w->canvas->HasCapture()) w->canvas->ReleaseMouse();
}

void PLAT_Real::setFocus(PLAT_Window *h) {
    PLAT_WxWindow *w = wx(h);
    if (live(w)) w->canvas->SetFocus();
}

bool PLAT_Real::enumDisplay(uint32_t index, PLAT_Display *d) {
    if (index >= wxDisplay::GetCount()) return false;
    wxDisplay display(index);
    wxRect g = display.GetGeometry();
    *d = PLAT_Display{};
    d->x = g.x;
    d->y = g.y;
    d->width = g.width;
    d->height = g.height;
    d->refreshHz = display.GetCurrentMode().GetRefresh();
    d->settingsReadable = g.width > 0 && g.height > 0;
    return true;
}

bool PLAT_Real::currentDisplaySettings(PLAT_Display *d) {
    if (wxDisplay::GetCount() == 0) return false;
    wxDisplay display;
    wxRect g = display.GetGeometry();
    *d = PLAT_Display{};
    d->x = g.x;
    d->y = g.y;
    d->width = g.width;
    d->height = g.height;
    d->refreshHz = display.GetCurrentMode().GetRefresh();
    return true;
}

PLAT_GLContext *PLAT_Real::createGLContext(PLAT_Window *h) {
    PLAT_WxWindow *w = wx(h);
    if (!live(w)) return nullptr;
    auto *context = new wxGLContext(w->canvas);
    if (!context->IsOK()) {
        delete context;
        return nullptr;
    }
    return reinterpret_cast<PLAT_GLContext *>(new PLAT_WxContext{context});
}

bool PLAT_Real::makeCurrent(PLAT_Window *h, PLAT_GLContext *context) {
    PLAT_WxWindow *w = wx(h);
    PLAT_WxContext *c = reinterpret_cast<PLAT_WxContext *>(context);
    if (!c) {
        Display *display = glXGetCurrentDisplay();
        if (!display) return true;
        return glXMakeCurrent(display, None, nullptr) == True;
    }
    if (!live(w) || !w->frame->IsShown()) return false;
    return c->context->SetCurrent(*w->canvas);
}

bool PLAT_Real::swapBuffers(PLAT_Window *h) {
    PLAT_WxWindow *w = wx(h);
    return live(w) && w->canvas->SwapBuffers();
}

namespace {
using SwapMesa = int (*)(unsigned);
using SwapSgi = int (*)(int);
SwapMesa swapMesa() {
    return reinterpret_cast<SwapMesa>(glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXSwapIntervalMESA")));
}
SwapSgi swapSgi() {
    return reinterpret_cast<SwapSgi>(glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXSwapIntervalSGI")));
}
}  // namespace

bool PLAT_Real::hasSwapInterval() { return swapMesa() || swapSgi(); }

bool PLAT_Real::setSwapInterval(int32_t interval) {
    if (SwapMesa f = swapMesa()) return f(static_cast<unsigned>(interval)) == 0;
    if (SwapSgi f = swapSgi()) return interval > 0 && f(interval) == 0;
    return false;
}

namespace {

// Toolkit assertions go to the debugger output instead of a dialog box.
void reportAssert(const wxString &file, int line, const wxString &, const wxString &cond, const wxString &msg) {
    fprintf(stderr, "wx: %s:%d: %s %s\n", static_cast<const char *>(file.utf8_str()), line,
            static_cast<const char *>(cond.utf8_str()), static_cast<const char *>(msg.utf8_str()));
}

}  // namespace

PLAT_System *PLAT_iCreateReal(int argc, char **argv) {
    // GLX needs the X11 backend of the toolkit.
    setenv("GDK_BACKEND", "x11", 0);
    wxSetAssertHandler(reportAssert);
    wxApp::SetInstance(new PlatApp());
    if (!wxEntryStart(argc, argv)) return nullptr;
    if (!wxTheApp || !wxTheApp->CallOnInit()) {
        wxEntryCleanup();
        return nullptr;
    }
    auto *real = new PLAT_Real();
    real->loop = std::make_unique<wxGUIEventLoop>();
    wxEventLoopBase::SetActive(real->loop.get());
    return real;
}
