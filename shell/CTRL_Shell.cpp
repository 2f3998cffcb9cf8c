// Process entry, the main window, the language switch, the window procedure,
// the menu, accelerators and the About box.
#include <cmath>
#include <cstring>

#include "base/CTRL_Array.h"
#include "controller/CTRL_Generic.h"
#include "media/VIEW_Font.h"
#include "package/CTRL_PackageLoad.h"
#include "script/LMP_Engine.h"
#include "shell/CTRL_Win32.h"

const char CTRL_WINDOW_CLASS[] = "zivozezavorozo";
const char CTRL_WINDOW_TITLE[] = "Halvorin";

CTRL_ShellState CTRL_gShell;

namespace {

CTRL_ScriptEngine *makeLuaEngine() { return new LMP_Engine(); }

PLAT_System *plat() { return PLAT_iGet(); }

constexpr uint32_t kStyle = PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_CLIPCHILDREN | PLAT_WS_CLIPSIBLINGS;  // 0x06CF0000
constexpr uint32_t kExStyle = PLAT_WS_EX_APPWINDOW | PLAT_WS_EX_WINDOWEDGE;                          // 0x00040100

// Shortcuts are shown in the menu texts; the keys themselves go through the
// accelerator table below (and F1 reaches the scripts).
const PLAT_MenuItem kFileItems[] = {{"E&xit\tCtrl+Q", CMD_EXIT, false, false}};
const PLAT_MenuItem kLanguageItems[] = {{"French", 32784, false, false}, {"English", 32790, false, false}};
const PLAT_MenuItem kViewItems[] = {{"Fullscreen\tAlt+Enter", CMD_FULLSCREEN, false, true}};
const PLAT_MenuItem kHelpItems[] = {{"&About ...\tF1", CMD_ABOUT, false, false}};
const PLAT_MenuPopup kPopups[] = {
    {"&File", kFileItems, 1},
    {"Langage", kLanguageItems, 2},
    {"View", kViewItems, 1},
    {"&Help", kHelpItems, 1},
};

const char *const kLanguageCodes[] = {"FR", "DE", "IT", "ES", "RU", "ZH", "US"};

// The controller reads the performance counter through the platform layer.
class PlatformClock : public CTRL_Clock {
public:
    int64_t counter() override { return plat()->performanceCounter(); }
    int64_t frequency() override {
        int64_t f = plat()->performanceFrequency();
        return f > 0 ? f : 1;
    }
};
PlatformClock g_clock;

// A fresh package buffer holding a copy of the embedded package; null when
// the program carries none.
CTRL_Package *copyEmbeddedPackage() {
    const uint8_t *data = nullptr;
    size_t size = 0;
    if (!plat()->findResource(PLAT_RT_RCDATA, 130, &data, &size) || size == 0 || size > 0xFFFFFFFFu) return nullptr;
    auto *package = new CTRL_Package();
    if (!CTRL_iResizeByteBuffer(package, static_cast<uint32_t>(size))) {
        delete package;
        return nullptr;
    }
    memcpy(package->data, data, size);
    return package;
}

PLAT_Window *createMainWindow(int32_t x, int32_t y, int32_t width, int32_t height) {
    return plat()->createWindow(CTRL_WINDOW_CLASS, "", kStyle, kExStyle, x, y, width, height);
}

// Engine and controller on a new window, drawing size 1024 by 768.
CTRL_Win32 *makePlayer(PLAT_Window *w) {
    CTRL_ScriptEngine *engine = CTRL_gMakeEngine ? CTRL_gMakeEngine() : nullptr;
    if (!engine) return nullptr;
    auto *controller = new CTRL_Win32(engine, w);
    controller->setViewportSize(1024, 768);
    controller->aspect = 0.75;
    plat()->setWindowText(w, CTRL_WINDOW_TITLE);
    return controller;
}

}  // namespace

CTRL_ScriptEngine *(*CTRL_gMakeEngine)() = makeLuaEngine;

const PLAT_MenuBar CTRL_gMenuBar = {kPopups, 4};

const PLAT_DialogDesc &CTRL_iAboutDialog() {
    // 308 x 306 dialog units of an 8-point dialog font.
    static PLAT_DialogDesc dialog{"About Halvorin", 462, 497, nullptr, 0, 1};
    dialog.picture = CTRL_iAboutPictureData();
    dialog.pictureSize = CTRL_iAboutPictureSize();
    return dialog;
}

namespace {

// The accelerator table: Escape toggles fullscreen, Ctrl+Q exits; 0 for any
// other message. The modifiers are those held when the key was pressed.
uint32_t acceleratorCommand(const PLAT_Msg &msg) {
    if (msg.message != PLAT_WM_KEYDOWN && msg.message != PLAT_WM_SYSKEYDOWN) return 0;
    const uint32_t modifiers = msg.keyState & (PLAT_KS_SHIFT | PLAT_KS_CONTROL | PLAT_KS_ALT);
    if (msg.wParam == 0x1B && modifiers == 0) return CMD_FULLSCREEN;
    if (msg.wParam == 'Q' && modifiers == PLAT_KS_CONTROL) return CMD_EXIT;
    return 0;
}

// A queued message that will end the player: the window closed, Exit from
// the menu or its key, or the quit message.
bool isQuitRequest(const PLAT_Msg &msg, void *window) {
    if (msg.message == PLAT_WM_QUIT) return true;
    if (msg.window != window) return false;
    if (msg.message == PLAT_WM_CLOSE) return true;
    if (msg.message == PLAT_WM_COMMAND && (msg.wParam & 0xFFFF) == CMD_EXIT) return true;
    return acceleratorCommand(msg) == CMD_EXIT;
}

}  // namespace

bool CTRL_iTranslateAccelerator(PLAT_Window *window, const PLAT_Msg &msg) {
    if (!window || msg.window != window) return false;
    uint32_t command = acceleratorCommand(msg);
    if (!command) return false;
    plat()->sendMessage(window, PLAT_WM_COMMAND, command, 0);
    return true;
}

bool CTRL_iQuitRequested() {
    if (!plat() || !CTRL_gShell.mainWindow) return false;
    plat()->collectEvents();
    return plat()->scanQueue(isQuitRequest, CTRL_gShell.mainWindow);
}

bool CTRL_iInitInstance(int32_t showCommand) {
    // A script that never returns must not keep the user from quitting.
    LMP_gInterruptCheck = CTRL_iQuitRequested;
    PLAT_Window *w = createMainWindow(PLAT_USEDEFAULT, PLAT_USEDEFAULT, PLAT_USEDEFAULT, PLAT_USEDEFAULT);
    if (!w) return false;
    CTRL_Win32 *controller = makePlayer(w);
    if (!controller) {
        plat()->destroyWindow(w);
        return false;
    }
    CTRL_gShell.mainWindow = w;
    // A missing or refused package halts the controller; the window opens all the same.
    CTRL_iLoadPackage(controller, copyEmbeddedPackage());

    PLAT_Rect outer, inner;
    if (plat()->getWindowRect(w, &outer) && plat()->getClientRect(w, &inner)) {
        int32_t fw = (outer.right - outer.left) - (inner.right - inner.left);
        int32_t fh = (outer.bottom - outer.top) - (inner.bottom - inner.top);
        int32_t clientHeight = static_cast<int32_t>(std::floor(1024 * controller->aspect + 0.5));
        plat()->setWindowPos(w, 0, 0, 1024 + fw, clientHeight + fh, PLAT_SWP_NOMOVE | PLAT_SWP_NOZORDER);
    }
    plat()->showWindow(w, showCommand);
    plat()->setForegroundWindow(w);
    if (plat()->getMenu(w)) plat()->drawMenuBar(w);
    return true;
}

bool CTRL_iReloadWithLanguage() {
    PLAT_Window *old = CTRL_gShell.mainWindow;
    CTRL_Package *package = copyEmbeddedPackage();
    PLAT_Rect r{};
    if (!old || !plat()->getWindowRect(old, &r)) r = PLAT_Rect{PLAT_USEDEFAULT, PLAT_USEDEFAULT, 0, 0};
    PLAT_Window *w = r.left == PLAT_USEDEFAULT
                         ? createMainWindow(PLAT_USEDEFAULT, PLAT_USEDEFAULT, PLAT_USEDEFAULT, PLAT_USEDEFAULT)
                         : createMainWindow(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (!w) {
        CTRL_iFreePackage(package);
        return false;
    }
    CTRL_Win32 *controller = makePlayer(w);
    if (!controller) {
        CTRL_iFreePackage(package);
        plat()->destroyWindow(w);
        return false;
    }
    if (strlen(CTRL_gShell.language) <= 6) strcpy(controller->language, CTRL_gShell.language);
    CTRL_iLoadPackage(controller, package);
    plat()->showWindow(w, PLAT_SW_SHOW);
    plat()->setForegroundWindow(w);
    // The new player lives before the old one goes, so the loop keeps running.
    if (old) plat()->destroyWindow(old);
    CTRL_gShell.mainWindow = w;
    plat()->drawMenuBar(w);
    return true;
}

intptr_t CTRL_iWndProc(PLAT_Window *w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == PLAT_WM_COMMAND) {
        uint32_t command = static_cast<uint32_t>(wParam & 0xFFFF);
        if (command == CMD_ABOUT) {
            plat()->dialogBox(w, CTRL_iAboutDialog());
            return 0;
        }
        if (command >= CMD_LANGUAGE_FIRST && command <= CMD_LANGUAGE_LAST) {
            memcpy(CTRL_gShell.language, kLanguageCodes[command - CMD_LANGUAGE_FIRST], 3);
            CTRL_iReloadWithLanguage();
            return 0;
        }
    }
    auto *controller = static_cast<CTRL_Win32 *>(plat()->getUserData(w));
    if (!controller) return plat()->defWindowProc(w, message, wParam, lParam);
    if (message == PLAT_WM_DESTROY) {
        plat()->killTimer(w, 0);
        controller->tick = 0;
        plat()->setUserData(w, nullptr);
        delete controller;
        if (CTRL_Generic::liveControllers <= 0) plat()->postQuitMessage(0);
        return 0;
    }
    return controller->handleMessage(w, message, wParam, lParam);
}

int CTRL_iWinMain() {
    if (!plat()) return 1;
    plat()->registerClass(CTRL_WINDOW_CLASS, CTRL_iWndProc, &CTRL_gMenuBar);
    CTRL_iSetClock(&g_clock);
    VIEW_iFreeTypeLibrary();
    CTRL_iInitInstance(PLAT_SW_SHOWNORMAL);
    PLAT_Msg msg;
    while (CTRL_Generic::liveControllers > 0) {
        if (!plat()->getMessage(&msg)) break;
        if (!CTRL_iTranslateAccelerator(CTRL_gShell.mainWindow, msg)) plat()->dispatchMessage(msg);
    }
    CTRL_iSetClock(nullptr);
    plat()->unregisterClass(CTRL_WINDOW_CLASS);
    return 0;
}
