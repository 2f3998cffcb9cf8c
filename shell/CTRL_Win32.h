// The window side of the player: process entry, the window class and main
// window, the message loop, menu and accelerators, the About box, the
// language switch, the window procedure, and CTRL_Win32, the controller bound
// to one window that supplies the platform services.
#pragma once

#include <cstdint>

#include "controller/CTRL_Generic.h"
#include "platform/PLAT.h"

class CTRL_ScriptEngine;

// Menu commands.
enum : uint32_t {
    CMD_ABOUT = 100,
    CMD_EXIT = 101,
    CMD_FULLSCREEN = 32779,
    CMD_LANGUAGE_FIRST = 32784,  // "FR"
    CMD_LANGUAGE_LAST = 32790,   // "US"
};

class CTRL_Win32 : public CTRL_Generic {
public:
    CTRL_Win32(CTRL_ScriptEngine *engine, PLAT_Window *window);
    ~CTRL_Win32() override;

    int32_t registerDevice(int32_t vendorId, int32_t productId, int32_t index) override;
    int32_t sendToDevice(int32_t device, const uint8_t *bytes, int32_t length) override;
    void setCursor(int32_t shape) override;
    void warpCursor(void *paintContext, const v2 &point) override;
    void openURL(const char *text) override;
    void getLanguage(char *out) override;

    intptr_t handleMessage(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam);
    void paint(PLAT_Window *window);
    void startFrameTimer(PLAT_Window *window);
    void toggleFullscreen(PLAT_Window *window, bool on);

    // Offers an event to the current viewport's event function, then to the
    // engine; true when one of them consumed it. Nothing while halted.
    bool offerEvent(const CTRL_Event &event);

    // Releases the pointer capture; the capture-changed message this may
    // bring is not taken for a lost pointer.
    void releaseCapture();

    PLAT_Window *window;
    uint8_t releasingCapture = 0;
    const PLAT_MenuBar *savedMenu = nullptr;
    uint8_t fullscreen = 0;
    PLAT_Placement savedPlacement;
    uint32_t savedStyle = 0;
};

// Process-wide state of the shell.
struct CTRL_ShellState {
    PLAT_Window *mainWindow = nullptr;
    char language[3] = {0, 0, 0};  // chosen in the menu; empty until then
};
extern CTRL_ShellState CTRL_gShell;

// Makes the script engine of a new player; tests put their own engine here.
extern CTRL_ScriptEngine *(*CTRL_gMakeEngine)();

// The menu bar and the About dialog of the main window.
extern const PLAT_MenuBar CTRL_gMenuBar;
const PLAT_DialogDesc &CTRL_iAboutDialog();

// The About picture, compiled into the program (PNG).
const uint8_t *CTRL_iAboutPictureData();
uint32_t CTRL_iAboutPictureSize();

// Timer interval for a display refresh rate (0: unknown).
uint32_t CTRL_iTimerInterval(bool settingsRead, int32_t refreshHz);
// The minimum-size rule while an edge of the window is dragged: corrects the
// proposed window rectangle given the frame sizes (window minus client).
void CTRL_iApplyMinimumSize(uint32_t edge, int32_t frameWidth, int32_t frameHeight, PLAT_Rect *rect);
// Accelerators: Escape toggles fullscreen, Ctrl+Q exits. True when the
// message became a command.
bool CTRL_iTranslateAccelerator(PLAT_Window *window, const PLAT_Msg &msg);
// True when a request to end the player (the window closed, Exit, Ctrl+Q)
// waits in the queue; first brings in what the toolkit has received. Asked
// by a script that runs long, which then stops.
bool CTRL_iQuitRequested();

// Process entry, first window, language switch, window procedure.
int CTRL_iWinMain();
bool CTRL_iInitInstance(int32_t showCommand);
bool CTRL_iReloadWithLanguage();
intptr_t CTRL_iWndProc(PLAT_Window *window, uint32_t message, uintptr_t wParam, intptr_t lParam);

extern const char CTRL_WINDOW_CLASS[];  // "zivozezavorozo"
extern const char CTRL_WINDOW_TITLE[];  // "Halvorin"
