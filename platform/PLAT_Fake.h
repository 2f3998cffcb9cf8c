// Scriptable platform layer for tests: messages are injected, every call is
// recorded as one line of text, and the clock, displays, devices and
// resources are set by the test.
#pragma once

#include "platform/PLAT.h"
#include "platform/PLAT_Keys.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct PLAT_Window {
    int id = 0;
    std::string className, title;
    PLAT_WndProc proc = nullptr;
    void *userData = nullptr;
    uint32_t style = 0, exStyle = 0;
    PLAT_Rect rect;                  // window rectangle, screen coordinates
    const PLAT_MenuBar *menu = nullptr;
    bool visible = false;
    bool alive = true;
    std::map<uint32_t, uint32_t> timers;  // id -> interval
    std::set<uint32_t> checked;           // checked menu commands
};

struct PLAT_GLContext {
    int id = 0;
};

struct PLAT_SoundBuffer {
    std::vector<uint8_t> bytes;
    bool playing = false;
    uint32_t play = 0, write = 0;
};

class PLAT_Fake : public PLAT_System {
public:
    PLAT_Fake();
    ~PLAT_Fake() override;

    // --- What the test sets.
    int32_t frameWidth = 16, frameHeight = 59;  // window minus client size
    std::vector<PLAT_Display> displays;         // enumDisplay; [0] is current
    bool displaysReadable = true;
    int64_t counter = 0, frequency = 1000000;
    bool glAvailable = true;                    // createGLContext succeeds
    bool makeCurrentFails = false;
    bool swapIntervalAvailable = true;
    bool soundAvailable = true;
    bool soundPositionFails = false, soundLockFails = false;
    std::vector<PLAT_HidInfo> hidDevices;
    bool hidListFails = false;
    bool hidWriteFails = false;
    std::string language = "en";
    std::map<uint32_t, std::vector<uint8_t>> resources;  // RCDATA id -> bytes
    std::set<uint32_t> keysDown;                         // isKeyDown
    std::map<intptr_t, std::vector<uint8_t>> rawInputs;  // WM_INPUT lParam -> record
    intptr_t dialogResult = 1;

    // --- What the test reads.
    std::vector<std::string> calls;         // one line per recorded call
    std::vector<std::string> debugLines;
    std::vector<std::string> urls;  // openURL runs on other threads: lock urlMutex
    std::mutex urlMutex;
    std::deque<PLAT_Msg> queue;
    bool quitPosted = false;
    int32_t quitCode = 0;
    PLAT_Cursor cursor = PLAT_CURSOR_ARROW;
    int32_t cursorX = 0, cursorY = 0;
    PLAT_Window *capture = nullptr, *focus = nullptr;
    PLAT_GLContext *current = nullptr;
    int32_t swapInterval = -1;
    std::vector<std::unique_ptr<PLAT_Window>> windows;  // every window made, alive or not
    std::vector<std::unique_ptr<PLAT_SoundBuffer>> soundBuffers;

    // Helpers for tests.
    PLAT_Window *lastWindow() const { return windows.empty() ? nullptr : windows.back().get(); }
    int liveWindows() const;
    void post(PLAT_Window *window, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
    // Dispatches queued messages until the queue is empty; answers the count.
    int pump();
    // The pointer as the X server delivers it: buttons by X number (1 left,
    // 3 right, 4 and 5 the wheel's notches), moves carrying the buttons held
    // and the modifiers, and the focus taken away. Client coordinates.
    uint32_t modifiers = 0;  // PLAT_MK_SHIFT, PLAT_MK_CONTROL
    uint32_t buttonsHeld = 0;  // PLAT_MK_LBUTTON, PLAT_MK_RBUTTON
    void pointerButton(PLAT_Window *window, int32_t button, bool down, int32_t x, int32_t y);
    void pointerMove(PLAT_Window *window, int32_t x, int32_t y);
    // Losing the focus also releases every key still down.
    void loseFocus(PLAT_Window *window);
    // The keyboard as the X server delivers it: hardware keycodes, mapped
    // through the active layout (keycode -> the symbol the key types
    // unshifted) and the NumLock state, as the real backend maps them.
    std::map<uint32_t, uint32_t> layout;
    bool numLock = false;
    void key(PLAT_Window *window, uint32_t keycode, bool down);
    // Called by collectEvents: a test brings "received" events in here.
    std::function<void()> onCollectEvents;
    int collected = 0;  // calls of collectEvents
    bool called(const std::string &line) const;
    size_t count(const std::string &prefix) const;
    void clearCalls() { calls.clear(); }

    // --- PLAT_System.
    bool registerClass(const char *name, PLAT_WndProc proc, const PLAT_MenuBar *menu) override;
    void unregisterClass(const char *name) override;
    PLAT_Window *createWindow(const char *className, const char *title, uint32_t style, uint32_t exStyle, int32_t x,
                              int32_t y, int32_t width, int32_t height) override;
    bool destroyWindow(PLAT_Window *window) override;
    bool isWindow(PLAT_Window *window) override;
    void setWindowText(PLAT_Window *window, const char *text) override;
    void setUserData(PLAT_Window *window, void *data) override;
    void *getUserData(PLAT_Window *window) override;
    bool getClientRect(PLAT_Window *window, PLAT_Rect *rect) override;
    bool getWindowRect(PLAT_Window *window, PLAT_Rect *rect) override;
    bool setWindowPos(PLAT_Window *window, int32_t x, int32_t y, int32_t width, int32_t height,
                      uint32_t flags) override;
    uint32_t getWindowStyle(PLAT_Window *window) override;
    void setWindowStyle(PLAT_Window *window, uint32_t style) override;
    bool getWindowPlacement(PLAT_Window *window, PLAT_Placement *placement) override;
    bool setWindowPlacement(PLAT_Window *window, const PLAT_Placement &placement) override;
    void showWindow(PLAT_Window *window, int32_t command) override;
    void setForegroundWindow(PLAT_Window *window) override;
    const PLAT_MenuBar *getMenu(PLAT_Window *window) override;
    void setMenu(PLAT_Window *window, const PLAT_MenuBar *menu) override;
    void drawMenuBar(PLAT_Window *window) override;
    void checkMenuItem(PLAT_Window *window, uint32_t command, bool checked) override;
    intptr_t dialogBox(PLAT_Window *parent, const PLAT_DialogDesc &dialog) override;
    bool getMessage(PLAT_Msg *msg) override;
    bool peekMessage(PLAT_Msg *msg, PLAT_Window *window, uint32_t first, uint32_t last, bool remove) override;
    void postMessage(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    intptr_t sendMessage(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    intptr_t dispatchMessage(const PLAT_Msg &msg) override;
    void postQuitMessage(int32_t code) override;
    bool scanQueue(bool (*match)(const PLAT_Msg &msg, void *context), void *context) override;
    void collectEvents() override;
    intptr_t defWindowProc(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    bool isKeyDown(uint32_t vk) override;
    bool setTimer(PLAT_Window *window, uint32_t id, uint32_t milliseconds) override;
    void killTimer(PLAT_Window *window, uint32_t id) override;
    void beginPaint(PLAT_Window *window) override;
    void endPaint(PLAT_Window *window) override;
    void setCursor(PLAT_Cursor shape) override;
    bool clientToScreen(PLAT_Window *window, int32_t *x, int32_t *y) override;
    void setCursorPos(int32_t x, int32_t y) override;
    void setCapture(PLAT_Window *window) override;
    void releaseCapture() override;
    void setFocus(PLAT_Window *window) override;
    bool enumDisplay(uint32_t index, PLAT_Display *display) override;
    bool currentDisplaySettings(PLAT_Display *display) override;
    bool setPixelFormat(PLAT_Window *window, const PLAT_PixelFormat &format) override;
    PLAT_GLContext *createGLContext(PLAT_Window *window) override;
    void deleteGLContext(PLAT_GLContext *context) override;
    bool makeCurrent(PLAT_Window *window, PLAT_GLContext *context) override;
    bool swapBuffers(PLAT_Window *window) override;
    bool hasSwapInterval() override;
    bool setSwapInterval(int32_t interval) override;
    PLAT_SoundBuffer *createSoundBuffer(PLAT_Window *window, const PLAT_SoundFormat &format, uint32_t bytes) override;
    void deleteSoundBuffer(PLAT_SoundBuffer *buffer) override;
    bool soundPlay(PLAT_SoundBuffer *buffer) override;
    bool soundStop(PLAT_SoundBuffer *buffer) override;
    bool soundGetPosition(PLAT_SoundBuffer *buffer, uint32_t *play, uint32_t *write) override;
    bool soundLock(PLAT_SoundBuffer *buffer, uint32_t offset, uint32_t bytes, void **part1, uint32_t *bytes1,
                   void **part2, uint32_t *bytes2) override;
    bool soundUnlock(PLAT_SoundBuffer *buffer, void *part1, uint32_t bytes1, void *part2, uint32_t bytes2) override;
    int32_t listHidDevices(PLAT_HidInfo *out, int32_t max) override;
    uint32_t registerHidDevice(const PLAT_HidInfo &device) override;
    bool getHidDeviceName(uint32_t handle, char *name, uint32_t size) override;
    int32_t writeHidDevice(const char *name, const uint8_t *bytes, uint32_t length) override;
    uint32_t getRawInputData(intptr_t input, void *data, uint32_t size) override;
    bool openURL(const char *text) override;
    bool getUILanguage(char *out, uint32_t size) override;
    int64_t performanceCounter() override;
    int64_t performanceFrequency() override;
    void debugOutput(const char *text) override;
    bool findResource(uint32_t type, uint32_t id, const uint8_t **data, size_t *size) override;

private:
    struct Class {
        PLAT_WndProc proc;
        const PLAT_MenuBar *menu;
    };
    std::map<std::string, Class> classes_;
    std::vector<std::unique_ptr<PLAT_GLContext>> contexts_;
    std::vector<std::string> registeredHid_;  // handle - 1 -> path
    int nextId_ = 1;
    PLAT_KeyTracker keys_;
    void postKey(PLAT_Window *window, PLAT_Msg m);
    void log(const std::string &line) { calls.push_back(line); }
};
