// The platform layer: the one interface through which the player reaches
// windows, the message queue, timers, menus, dialogs, the cursor, displays,
// the GL context, the looping sound buffer, HID devices, URLs, the locale,
// the performance counter, the debugger output and its own resources.
//
// Message kinds, command numbers, style bits and flags keep the values the
// window procedure expects, so the shell reads like a plain window procedure.
// Two backends implement it: the real one (wx, GLX, SDL audio, hidapi) and a
// scriptable fake for tests (PLAT_Fake.h).
//
// This header has no dependency on any toolkit; the core library includes it
// without linking the platform library (all calls are virtual).
#pragma once

#include <cstddef>
#include <cstdint>

struct PLAT_Window;      // a top-level window with its GL drawing surface
struct PLAT_GLContext;   // a GL rendering context
struct PLAT_SoundBuffer; // a looping 16-bit stereo output buffer
struct PLAT_MenuBar;     // a menu description (static data of the caller)

using PLAT_WndProc = intptr_t (*)(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam);

enum : uint32_t {
    PLAT_WM_NULL = 0x0000,
    PLAT_WM_DESTROY = 0x0002,
    PLAT_WM_SIZE = 0x0005,
    PLAT_WM_ACTIVATE = 0x0006,
    PLAT_WM_KILLFOCUS = 0x0008,        // the window lost the keyboard focus
    PLAT_WM_PAINT = 0x000F,
    PLAT_WM_CLOSE = 0x0010,
    PLAT_WM_QUIT = 0x0012,
    PLAT_WM_ERASEBKGND = 0x0014,
    PLAT_WM_INPUT = 0x00FF,
    PLAT_WM_KEYDOWN = 0x0100,
    PLAT_WM_KEYUP = 0x0101,
    PLAT_WM_SYSKEYDOWN = 0x0104,
    PLAT_WM_SYSKEYUP = 0x0105,
    PLAT_WM_COMMAND = 0x0111,
    PLAT_WM_SYSCOMMAND = 0x0112,
    PLAT_WM_TIMER = 0x0113,
    PLAT_WM_MOUSEMOVE = 0x0200,
    PLAT_WM_LBUTTONDOWN = 0x0201,
    PLAT_WM_LBUTTONUP = 0x0202,
    PLAT_WM_LBUTTONDBLCLK = 0x0203,
    PLAT_WM_RBUTTONDOWN = 0x0204,
    PLAT_WM_RBUTTONUP = 0x0205,
    PLAT_WM_MOUSEWHEEL = 0x020A,
    PLAT_WM_ENTERMENULOOP = 0x0211,
    PLAT_WM_EXITMENULOOP = 0x0212,
    PLAT_WM_SIZING = 0x0214,
    PLAT_WM_CAPTURECHANGED = 0x0215,   // the window lost the pointer capture
};

enum : uint32_t {
    PLAT_WA_INACTIVE = 0,
    PLAT_WA_ACTIVE = 1,
    PLAT_WA_CLICKACTIVE = 2,
    PLAT_SC_KEYMENU = 0xF100,
    PLAT_MK_LBUTTON = 0x0001,
    PLAT_MK_RBUTTON = 0x0002,
    PLAT_MK_SHIFT = 0x0004,
    PLAT_MK_CONTROL = 0x0008,
};

// Window styles.
enum : uint32_t {
    PLAT_WS_OVERLAPPEDWINDOW = 0x00CF0000,
    PLAT_WS_CLIPSIBLINGS = 0x04000000,
    PLAT_WS_CLIPCHILDREN = 0x02000000,
    PLAT_WS_POPUP = 0x80000000,
    PLAT_WS_VISIBLE = 0x10000000,
    PLAT_WS_SYSMENU = 0x00080000,
    PLAT_WS_EX_APPWINDOW = 0x00040000,
    PLAT_WS_EX_WINDOWEDGE = 0x00000100,
};

// setWindowPos flags.
enum : uint32_t {
    PLAT_SWP_NOSIZE = 0x0001,
    PLAT_SWP_NOMOVE = 0x0002,
    PLAT_SWP_NOZORDER = 0x0004,
    PLAT_SWP_FRAMECHANGED = 0x0020,
    PLAT_SWP_SHOWWINDOW = 0x0040,
};

// showWindow commands.
enum : int32_t { PLAT_SW_HIDE = 0, PLAT_SW_SHOWNORMAL = 1, PLAT_SW_SHOW = 5 };

// Cursor shapes.
enum PLAT_Cursor : uint32_t { PLAT_CURSOR_ARROW = 0, PLAT_CURSOR_SIZEALL = 1, PLAT_CURSOR_HAND = 2 };

constexpr int32_t PLAT_USEDEFAULT = INT32_MIN;

// Modifier keys held when a message was posted (PLAT_Msg::keyState).
enum : uint32_t { PLAT_KS_SHIFT = 1, PLAT_KS_CONTROL = 2, PLAT_KS_ALT = 4 };

struct PLAT_Msg {
    PLAT_Window *window = nullptr;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    uint32_t keyState = 0;  // PLAT_KS_ bits at the time of posting
};

struct PLAT_Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct PLAT_Placement {
    PLAT_Rect normal;  // the window's rectangle when neither fullscreen nor minimised
    int32_t showCmd = PLAT_SW_SHOWNORMAL;
};

// One display device with its current settings.
struct PLAT_Display {
    bool attached = true;          // part of the desktop
    bool settingsReadable = true;  // its current settings can be read
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t refreshHz = 0;         // 0 when unknown
};

// Menus: a bar of popups, each a list of items. Command numbers are the
// caller's own; the layer maps them to whatever its toolkit needs.
struct PLAT_MenuItem {
    const char *text;  // "E&xit\tCtrl+Q"; text after a tab is the shortcut shown
    uint32_t command;
    bool bindShortcut; // false: the shortcut is only shown, the key reaches the window
    bool checkable;    // can carry a check mark
};
struct PLAT_MenuPopup {
    const char *text;
    const PLAT_MenuItem *items;
    size_t count;
};
struct PLAT_MenuBar {
    const PLAT_MenuPopup *popups;
    size_t count;
};

// A simple modal dialog: a title, one picture and an OK button.
struct PLAT_DialogDesc {
    const char *title;
    int32_t width, height;        // client size in pixels
    const uint8_t *picture;       // PNG data, may be null
    size_t pictureSize;
    uint32_t okId;                // the id returned when OK is pressed
};

// GL pixel format request.
struct PLAT_PixelFormat {
    bool doubleBuffer = true;
    int32_t colourBits = 32, alphaBits = 8, depthBits = 32, stencilBits = 8;
};

// Raw input data of one WM_INPUT message: header then the HID reports.
struct PLAT_RawInputHeader {
    uint32_t type;     // PLAT_RIM_TYPEHID
    uint32_t size;     // whole record in bytes
    uint32_t device;   // device handle from registerHidDevice
    uint32_t reportSize;
    uint32_t reportCount;
};
enum : uint32_t { PLAT_RIM_TYPEHID = 2 };

struct PLAT_HidInfo {
    uint16_t vendor = 0, product = 0;
    uint16_t usagePage = 0, usage = 0;
    char path[256] = {};
};

struct PLAT_SoundFormat {
    uint32_t rate = 44100;
    uint16_t channels = 2;
    uint16_t bits = 16;
};

// Resource types.
enum : uint32_t { PLAT_RT_RCDATA = 10 };

class PLAT_System {
public:
    virtual ~PLAT_System() = default;

    // Window class and windows. destroyWindow sends PLAT_WM_DESTROY to the
    // window procedure before the window goes.
    virtual bool registerClass(const char *name, PLAT_WndProc proc, const PLAT_MenuBar *menu) = 0;
    virtual void unregisterClass(const char *name) = 0;
    virtual PLAT_Window *createWindow(const char *className, const char *title, uint32_t style, uint32_t exStyle,
                                      int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    virtual bool destroyWindow(PLAT_Window *window) = 0;
    virtual bool isWindow(PLAT_Window *window) = 0;
    virtual void setWindowText(PLAT_Window *window, const char *text) = 0;
    virtual void setUserData(PLAT_Window *window, void *data) = 0;
    virtual void *getUserData(PLAT_Window *window) = 0;
    virtual bool getClientRect(PLAT_Window *window, PLAT_Rect *rect) = 0;
    virtual bool getWindowRect(PLAT_Window *window, PLAT_Rect *rect) = 0;
    virtual bool setWindowPos(PLAT_Window *window, int32_t x, int32_t y, int32_t width, int32_t height,
                              uint32_t flags) = 0;
    virtual uint32_t getWindowStyle(PLAT_Window *window) = 0;
    virtual void setWindowStyle(PLAT_Window *window, uint32_t style) = 0;
    virtual bool getWindowPlacement(PLAT_Window *window, PLAT_Placement *placement) = 0;
    virtual bool setWindowPlacement(PLAT_Window *window, const PLAT_Placement &placement) = 0;
    virtual void showWindow(PLAT_Window *window, int32_t command) = 0;
    // Brings the window to the front and gives it the input focus; the
    // window then receives PLAT_WM_ACTIVATE.
    virtual void setForegroundWindow(PLAT_Window *window) = 0;

    // Menus. The menu is the caller's static description; null removes it.
    virtual const PLAT_MenuBar *getMenu(PLAT_Window *window) = 0;
    virtual void setMenu(PLAT_Window *window, const PLAT_MenuBar *menu) = 0;
    virtual void drawMenuBar(PLAT_Window *window) = 0;
    virtual void checkMenuItem(PLAT_Window *window, uint32_t command, bool checked) = 0;

    // Runs a modal dialog; returns the id of the button that ended it.
    virtual intptr_t dialogBox(PLAT_Window *parent, const PLAT_DialogDesc &dialog) = 0;

    // Message queue.
    virtual bool getMessage(PLAT_Msg *msg) = 0;  // false on PLAT_WM_QUIT
    // Takes (remove) or looks at the first queued message of window (null:
    // any window) whose kind lies in [first, last].
    virtual bool peekMessage(PLAT_Msg *msg, PLAT_Window *window, uint32_t first, uint32_t last, bool remove) = 0;
    virtual void postMessage(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    virtual intptr_t sendMessage(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    virtual intptr_t dispatchMessage(const PLAT_Msg &msg) = 0;
    virtual void postQuitMessage(int32_t code) = 0;
    // True when match answers true for a queued message; nothing is taken.
    virtual bool scanQueue(bool (*match)(const PLAT_Msg &msg, void *context), void *context) = 0;
    // Brings what the toolkit has received so far (input, close requests,
    // timers) into the queue without running a window procedure. For a
    // program that is busy on the window's thread (a long script) and wants
    // to know whether it is asked to quit; cheap when nothing is pending.
    virtual void collectEvents() = 0;
    // Default handling: PLAT_WM_CLOSE destroys the window; the rest answers 0.
    virtual intptr_t defWindowProc(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    // State of a key (virtual-key code) at the time of the last message.
    virtual bool isKeyDown(uint32_t vk) = 0;

    // Timers post PLAT_WM_TIMER with wParam = id; setting an id again replaces it.
    virtual bool setTimer(PLAT_Window *window, uint32_t id, uint32_t milliseconds) = 0;
    virtual void killTimer(PLAT_Window *window, uint32_t id) = 0;

    // Painting: the window itself is the paint context.
    virtual void beginPaint(PLAT_Window *window) = 0;
    virtual void endPaint(PLAT_Window *window) = 0;

    // Cursor, capture, focus.
    virtual void setCursor(PLAT_Cursor shape) = 0;
    virtual bool clientToScreen(PLAT_Window *window, int32_t *x, int32_t *y) = 0;
    virtual void setCursorPos(int32_t x, int32_t y) = 0;
    virtual void setCapture(PLAT_Window *window) = 0;
    virtual void releaseCapture() = 0;
    virtual void setFocus(PLAT_Window *window) = 0;

    // Displays: index from 0; false past the last one.
    virtual bool enumDisplay(uint32_t index, PLAT_Display *display) = 0;
    // The current settings of the display the desktop starts on.
    virtual bool currentDisplaySettings(PLAT_Display *display) = 0;

    // GL. The window's drawing surface carries the pixel format.
    virtual bool setPixelFormat(PLAT_Window *window, const PLAT_PixelFormat &format) = 0;
    virtual PLAT_GLContext *createGLContext(PLAT_Window *window) = 0;
    virtual void deleteGLContext(PLAT_GLContext *context) = 0;
    // context null releases the current context.
    virtual bool makeCurrent(PLAT_Window *window, PLAT_GLContext *context) = 0;
    virtual bool swapBuffers(PLAT_Window *window) = 0;
    // False when the driver offers no swap-interval control.
    virtual bool hasSwapInterval() = 0;
    virtual bool setSwapInterval(int32_t interval) = 0;

    // Looping sound buffer. createSoundBuffer answers null when there is no
    // device; the buffer starts stopped and silent.
    virtual PLAT_SoundBuffer *createSoundBuffer(PLAT_Window *window, const PLAT_SoundFormat &format,
                                                uint32_t bytes) = 0;
    virtual void deleteSoundBuffer(PLAT_SoundBuffer *buffer) = 0;
    virtual bool soundPlay(PLAT_SoundBuffer *buffer) = 0;
    virtual bool soundStop(PLAT_SoundBuffer *buffer) = 0;
    // play: the byte the device reads next; write: the first byte that is
    // safe to write (the span [play, write) is being read).
    virtual bool soundGetPosition(PLAT_SoundBuffer *buffer, uint32_t *play, uint32_t *write) = 0;
    virtual bool soundLock(PLAT_SoundBuffer *buffer, uint32_t offset, uint32_t bytes, void **part1,
                           uint32_t *bytes1, void **part2, uint32_t *bytes2) = 0;
    virtual bool soundUnlock(PLAT_SoundBuffer *buffer, void *part1, uint32_t bytes1, void *part2,
                             uint32_t bytes2) = 0;

    // HID devices. listHidDevices fills up to max entries and answers the
    // number of devices (-1 when the list cannot be read).
    virtual int32_t listHidDevices(PLAT_HidInfo *out, int32_t max) = 0;
    // Starts raw input from the device (reports arrive as PLAT_WM_INPUT);
    // answers a non-zero handle, or 0.
    virtual uint32_t registerHidDevice(const PLAT_HidInfo &device) = 0;
    virtual bool getHidDeviceName(uint32_t handle, char *name, uint32_t size) = 0;
    // Opens the device by name, writes once, closes; bytes written or -1.
    virtual int32_t writeHidDevice(const char *name, const uint8_t *bytes, uint32_t length) = 0;
    // With data null answers the size of the record of a PLAT_WM_INPUT
    // message (its lParam); else copies up to size bytes and answers the
    // count copied. (uint32_t)-1 on failure.
    virtual uint32_t getRawInputData(intptr_t input, void *data, uint32_t size) = 0;

    // Opens a URL or document with the desktop's handler, without a shell.
    virtual bool openURL(const char *text) = 0;
    // The user-interface language as an ISO 639 code ("en", "fr").
    virtual bool getUILanguage(char *out, uint32_t size) = 0;

    virtual int64_t performanceCounter() = 0;
    virtual int64_t performanceFrequency() = 0;
    virtual void debugOutput(const char *text) = 0;

    // Resource data of the running program (the content package is RCDATA
    // 130). The data stays valid while the layer lives.
    virtual bool findResource(uint32_t type, uint32_t id, const uint8_t **data, size_t *size) = 0;
};

// The layer in use; set once at start (the real backend by the program's
// entry, the fake by tests).
inline PLAT_System *PLAT_gSystem = nullptr;
inline PLAT_System *PLAT_iGet() { return PLAT_gSystem; }
inline void PLAT_iSet(PLAT_System *system) { PLAT_gSystem = system; }

// Backend factory of the real layer (platform library).
PLAT_System *PLAT_iCreateReal(int argc, char **argv);
