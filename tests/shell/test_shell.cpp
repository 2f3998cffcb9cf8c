// The window controller and the window procedure against the fake platform:
// messages in, platform calls and controller state out.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "pack.h"
#include "platform/PLAT_Fake.h"
#include "script/LMP_Engine.h"
#include "shell/CTRL_Win32.h"
#include "shell_fixture.h"

namespace {

ScriptedEngine *g_lastEngine = nullptr;
CTRL_ScriptEngine *makeScripted() { return g_lastEngine = new ScriptedEngine(); }

intptr_t point(int x, int y) { return static_cast<intptr_t>((x & 0xFFFF) | ((y & 0xFFFF) << 16)); }

// The demo package's configuration, sealed with the demo key.
std::vector<uint8_t> goodPackage() {
    std::vector<PackEntry> entries;
    std::string error;
    EXPECT_TRUE(PACK_collectDirectory(HALVORIN_SOURCE_DIR "/content/demo", &entries, &error)) << error;
    PackBytes records, package;
    PackKey key;
    EXPECT_TRUE(PACK_readKey(HALVORIN_SOURCE_DIR "/content/keys/demo.key", &key, &error)) << error;
    EXPECT_TRUE(PACK_makeRecords(entries, false, &records, &error)) << error;
    EXPECT_TRUE(PACK_sealPackage(records, key, &package, &error)) << error;
    return package;
}

// The demo configuration with init.lua as given, sealed with the demo key.
std::vector<uint8_t> packageWithInit(const std::string &init) {
    std::vector<PackEntry> entries;
    std::string error;
    EXPECT_TRUE(PACK_collectDirectory(HALVORIN_SOURCE_DIR "/content/demo", &entries, &error)) << error;
    std::vector<PackEntry> chosen;
    for (auto &e : entries)
        if (e.name == "config.xml") chosen.push_back(e);
    chosen.push_back(PackEntry{"init.lua", PackBytes(init.begin(), init.end())});
    PackBytes records, package;
    PackKey key;
    EXPECT_TRUE(PACK_readKey(HALVORIN_SOURCE_DIR "/content/keys/demo.key", &key, &error)) << error;
    EXPECT_TRUE(PACK_makeRecords(chosen, false, &records, &error)) << error;
    EXPECT_TRUE(PACK_sealPackage(records, key, &package, &error)) << error;
    return package;
}

struct Shell : ::testing::Test {
    PLAT_Fake fake;
    CTRL_ManualClock clock;

    void SetUp() override {
        PLAT_iSet(&fake);
        CTRL_gMakeEngine = makeScripted;
        fake.glAvailable = false;  // no GL in unit tests: frames draw nothing
        fake.registerClass(CTRL_WINDOW_CLASS, CTRL_iWndProc, &CTRL_gMenuBar);
        CTRL_iSetClock(&clock);
    }
    void TearDown() override {
        for (auto &w : fake.windows)
            if (w->alive) fake.destroyWindow(w.get());
        CTRL_iSetClock(nullptr);
        PLAT_iSet(nullptr);
        CTRL_gShell = CTRL_ShellState{};
    }
    // Starts the player; with a package the first frame starts the scripts.
    CTRL_Win32 *start(bool withPackage = true) {
        if (withPackage) fake.resources[130] = goodPackage();
        EXPECT_TRUE(CTRL_iInitInstance(PLAT_SW_SHOWNORMAL));
        loop();
        return controller();
    }
    CTRL_Win32 *controller() {
        return static_cast<CTRL_Win32 *>(fake.getUserData(CTRL_gShell.mainWindow));
    }
    PLAT_Window *window() { return CTRL_gShell.mainWindow; }
    // The message loop of the program, until the queue is empty.
    void loop() {
        while (!fake.queue.empty()) {
            PLAT_Msg m = fake.queue.front();
            fake.queue.pop_front();
            if (m.message == PLAT_WM_QUIT) break;
            if (!CTRL_iTranslateAccelerator(CTRL_gShell.mainWindow, m)) fake.dispatchMessage(m);
        }
    }
    void send(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) {
        fake.post(window(), message, wParam, lParam);
        loop();
    }
};

TEST_F(Shell, StartUpOpensTheTitledWindowWithA1024By768ClientArea) {
    CTRL_Win32 *c = start();
    ASSERT_NE(c, nullptr);
    PLAT_Window *w = window();
    EXPECT_EQ(w->className, "zivozezavorozo");
    EXPECT_EQ(w->title, "Halvorin");
    EXPECT_EQ(w->style, 0x06CF0000u);
    EXPECT_EQ(w->exStyle, 0x00040100u);
    PLAT_Rect client;
    fake.getClientRect(w, &client);
    EXPECT_EQ(client.right, 1024);
    EXPECT_EQ(client.bottom, 768);
    EXPECT_TRUE(w->visible);
    EXPECT_EQ(w->menu, &CTRL_gMenuBar);
    EXPECT_TRUE(fake.called("drawMenuBar w1"));
    // Brought to the front, the window is activated and its timer paced to
    // the 60 Hz display.
    EXPECT_EQ(w->timers.at(0), 15u);
    EXPECT_FALSE(c->halted);
    EXPECT_EQ(c->package != nullptr, true);
}

TEST_F(Shell, MenuHoldsItsTextsAndCommands) {
    const PLAT_MenuBar &m = CTRL_gMenuBar;
    ASSERT_EQ(m.count, 4u);
    std::vector<std::string> got;
    for (size_t p = 0; p < m.count; p++) {
        got.push_back(m.popups[p].text);
        for (size_t i = 0; i < m.popups[p].count; i++)
            got.push_back(std::string("  ") + m.popups[p].items[i].text + " " +
                          std::to_string(m.popups[p].items[i].command));
    }
    EXPECT_EQ(got, (std::vector<std::string>{"&File", "  E&xit\tCtrl+Q 101", "Langage", "  French 32784",
                                             "  English 32790", "View", "  Fullscreen\tAlt+Enter 32779", "&Help",
                                             "  &About ...\tF1 100"}));
}

TEST_F(Shell, MissingOrDamagedPackageHaltsWithTheOpeningMessage) {
    for (int damaged = 0; damaged < 2; damaged++) {
        if (damaged) {
            fake.resources[130] = goodPackage();
            fake.resources[130][40] ^= 0x5A;
        }
        CTRL_Win32 *c = start(false);
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(c->halted);
        EXPECT_STREQ(c->message,
                     "Error opening the file, the file is corrupted.\nPlease check with your content provider.");
        EXPECT_TRUE(window()->visible);
        EXPECT_EQ(g_lastEngine->starts, 0);
        fake.destroyWindow(window());
    }
}

TEST_F(Shell, TimerIntervalFollowsTheRefreshRate) {
    struct Case {
        bool read;
        int32_t hz;
        uint32_t ms;
    } cases[] = {{true, 60, 15}, {true, 75, 12}, {true, 100, 10}, {true, 144, 10}, {true, 30, 32},
                 {true, 1, 999}, {true, 0, 16},   {false, 60, 16}, {true, -5, 16}};
    for (const Case &k : cases) EXPECT_EQ(CTRL_iTimerInterval(k.read, k.hz), k.ms) << k.hz;

    CTRL_Win32 *c = start();
    fake.displays[0].refreshHz = 144;
    c->startFrameTimer(window());
    EXPECT_EQ(window()->timers.at(0), 10u);
    fake.displaysReadable = false;
    c->startFrameTimer(window());
    EXPECT_EQ(window()->timers.at(0), 16u);
}

TEST_F(Shell, MinimumSizeRuleMovesTheDraggedEdgesOnly) {
    // Frame 16 x 59; proposed window rectangle; result.
    struct Case {
        uint32_t edge;
        PLAT_Rect in, out;
    } cases[] = {
        {1, {500, 100, 616, 900}, {350, 100, 616, 900}},   // left edge to client width 100
        {2, {500, 100, 616, 900}, {500, 100, 766, 900}},   // right edge
        {3, {0, 800, 1040, 900}, {0, 653, 1040, 900}},     // top edge: 59 + 187.5 rounds to 247
        {6, {0, 0, 100, 100}, {0, 0, 266, 247}},            // bottom edge
        {4, {100, 100, 200, 200}, {-66, -47, 200, 200}},    // top-left corner
        {8, {0, 0, 2000, 1500}, {0, 0, 2000, 1500}},        // large enough: unchanged
    };
    for (const Case &k : cases) {
        PLAT_Rect r = k.in;
        CTRL_iApplyMinimumSize(k.edge, 16, 59, &r);
        EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}),
                  (std::vector<int>{k.out.left, k.out.top, k.out.right, k.out.bottom}))
            << "edge " << k.edge;
    }
    start();
    PLAT_Rect r{500, 100, 616, 900};
    EXPECT_EQ(fake.sendMessage(window(), PLAT_WM_SIZING, 1, reinterpret_cast<intptr_t>(&r)), 1);
    EXPECT_EQ(r.left, 350);  // client width 250, right edge in place
    EXPECT_EQ(r.right, 616);
}

TEST_F(Shell, KeysMarkTheTableAndReachTheScriptsUnlessHalted) {
    CTRL_Win32 *c = start();
    send(PLAT_WM_KEYDOWN, 0x141);  // above 255: the low 8 bits
    EXPECT_EQ(c->currentKeys[0x41], 1);
    ASSERT_EQ(g_lastEngine->events.size(), 1u);
    EXPECT_EQ(g_lastEngine->events[0].type, EVENT_KEY_DOWN);
    EXPECT_EQ(g_lastEngine->events[0].code, 0x141);
    send(PLAT_WM_KEYUP, 0x41);
    EXPECT_EQ(c->currentKeys[0x41], 0);
    EXPECT_EQ(g_lastEngine->events.back().type, EVENT_KEY_UP);

    // F1 has no accelerator: it is a key like any other.
    send(PLAT_WM_KEYDOWN, 0x70);
    EXPECT_EQ(g_lastEngine->events.back().code, 0x70);
    EXPECT_EQ(fake.count("dialogBox"), 0u);

    c->stopOnError("x");
    size_t before = g_lastEngine->events.size();
    send(PLAT_WM_KEYDOWN, 0x42);
    EXPECT_EQ(c->currentKeys[0x42], 1);
    EXPECT_EQ(g_lastEngine->events.size(), before);
}

TEST_F(Shell, QueuedTimerTicksAndMouseMovesCollapse) {
    CTRL_Win32 *c = start();
    fake.clearCalls();
    fake.post(window(), PLAT_WM_TIMER, 0);
    fake.post(window(), PLAT_WM_TIMER, 0);
    loop();
    EXPECT_EQ(fake.count("beginPaint"), 1u);
    EXPECT_EQ(c->tick, 1);
    send(PLAT_WM_SIZE);
    EXPECT_EQ(c->tick, 0);

    for (int i = 0; i < 10; i++) fake.post(window(), PLAT_WM_MOUSEMOVE, 0, point(10 + i, 20 + i));
    loop();
    EXPECT_EQ(c->mouse.x, 19);
    EXPECT_EQ(c->mouse.y, 29);
    EXPECT_EQ(c->previousMouse.x, 0);  // one move only
}

TEST_F(Shell, CloseIsVetoedByTheScriptsOrDestroysThePlayer) {
    CTRL_Win32 *c = start();
    g_lastEngine->consume = true;
    send(PLAT_WM_CLOSE);
    EXPECT_TRUE(fake.isWindow(window()));
    EXPECT_EQ(controller(), c);
    EXPECT_NE(c->renderer, nullptr);
    EXPECT_EQ(g_lastEngine->events.back().type, EVENT_CLOSE);

    g_lastEngine->consume = false;
    send(PLAT_WM_CLOSE);
    EXPECT_FALSE(fake.isWindow(window()));
    EXPECT_EQ(CTRL_Generic::liveControllers, 0);
    EXPECT_TRUE(fake.quitPosted);
}

TEST_F(Shell, ClosingAHaltedPlayerAsksNobody) {
    start(false);
    g_lastEngine->consume = true;  // would veto, if it were asked
    send(PLAT_WM_CLOSE);
    EXPECT_FALSE(fake.isWindow(window()));  // the engine went with the player
}

TEST_F(Shell, EscapeAndAltEnterToggleFullscreenOnTheDisplayHoldingTheCentre) {
    PLAT_Display second;
    second.x = 1920;
    second.width = 1280;
    second.height = 1024;
    second.refreshHz = 75;
    PLAT_Display twin = second;  // a second display at the same place
    fake.displays.push_back(second);
    fake.displays.push_back(twin);
    CTRL_Win32 *c = start();
    fake.setWindowPos(window(), 2100, 200, 0, 0, PLAT_SWP_NOSIZE);
    PLAT_Rect before = window()->rect;

    fake.post(window(), PLAT_WM_KEYDOWN, 0x1B);  // Escape, through the accelerator
    loop();
    EXPECT_EQ(c->fullscreen, 1);
    EXPECT_EQ(window()->style, 0x90080000u);
    EXPECT_EQ(window()->menu, nullptr);
    EXPECT_EQ((std::vector<int>{window()->rect.left, window()->rect.top, window()->rect.right, window()->rect.bottom}),
              (std::vector<int>{1920, 0, 3200, 1024}));
    EXPECT_EQ(c->tick, 0);

    send(PLAT_WM_SYSCOMMAND, PLAT_SC_KEYMENU, 13);  // Alt+Enter
    EXPECT_EQ(c->fullscreen, 0);
    EXPECT_EQ(window()->style, 0x06CF0000u);
    EXPECT_EQ(window()->menu, &CTRL_gMenuBar);
    EXPECT_EQ(window()->rect.left, before.left);
    EXPECT_EQ(window()->rect.right, before.right);
    EXPECT_TRUE(fake.called("setWindowPos w1 0 0 0 0 27"));

    // Outside mode 1 neither key does anything.
    c->mode = 0;
    fake.post(window(), PLAT_WM_KEYDOWN, 0x1B);
    loop();
    send(PLAT_WM_SYSCOMMAND, PLAT_SC_KEYMENU, 13);
    EXPECT_EQ(c->fullscreen, 0);

    // No display holds the centre: nothing changes.
    c->mode = 1;
    fake.setWindowPos(window(), -5000, -5000, 0, 0, PLAT_SWP_NOSIZE);
    send(PLAT_WM_COMMAND, CMD_FULLSCREEN);
    EXPECT_EQ(c->fullscreen, 0);
    EXPECT_EQ(window()->menu, &CTRL_gMenuBar);
}

TEST_F(Shell, CtrlQExitsAndEscapeWithModifiersDoesNot) {
    CTRL_Win32 *c = start();
    fake.keysDown = {0x10};
    fake.post(window(), PLAT_WM_KEYDOWN, 0x1B);
    loop();
    EXPECT_EQ(c->fullscreen, 0);  // Shift+Escape is a key for the scripts
    fake.keysDown = {0x11};
    fake.post(window(), PLAT_WM_KEYDOWN, 'Q');
    loop();
    EXPECT_FALSE(fake.isWindow(window()));
    EXPECT_TRUE(fake.quitPosted);
}

TEST_F(Shell, LanguageChoiceRebuildsThePlayerAtTheOldRectangle) {
    start();
    PLAT_Window *old = window();
    fake.setWindowPos(old, 300, 200, 900, 700, 0);
    for (uint32_t command : {32784u, 32784u, 32789u}) {
        PLAT_Window *before = window();
        send(PLAT_WM_COMMAND, command);
        ASSERT_NE(window(), before);
        EXPECT_FALSE(fake.isWindow(before));
        EXPECT_EQ(window()->rect.left, 300);
        EXPECT_EQ(window()->rect.top, 200);
        EXPECT_EQ(window()->rect.right, 1200);
        EXPECT_EQ(window()->rect.bottom, 900);
        EXPECT_EQ(window()->title, "Halvorin");
        EXPECT_EQ(CTRL_Generic::liveControllers, 1);
        EXPECT_FALSE(fake.quitPosted);
        EXPECT_FALSE(controller()->halted);
    }
    char code[8];
    controller()->getLanguage(code);
    EXPECT_STREQ(code, "ZH");
}

TEST_F(Shell, MenuLoopStopsTheTimerAndMarksFullscreen) {
    CTRL_Win32 *c = start();
    send(PLAT_WM_ENTERMENULOOP);
    EXPECT_EQ(window()->timers.count(0), 0u);
    EXPECT_TRUE(fake.called("checkMenuItem w1 32779 0"));
    EXPECT_EQ(c->tick, 0);
    send(PLAT_WM_EXITMENULOOP);
    EXPECT_EQ(window()->timers.count(0), 1u);
    send(PLAT_WM_COMMAND, CMD_ABOUT);
    EXPECT_TRUE(fake.called("dialogBox w1 \"About Halvorin\""));
}

TEST_F(Shell, RawInputBecomesDeviceEventsWhenItsSizeIsSound) {
    start();
    auto record = [](uint32_t device, uint32_t size, uint32_t count, std::vector<uint8_t> report) {
        PLAT_RawInputHeader h{PLAT_RIM_TYPEHID, 0, device, size, count};
        h.size = static_cast<uint32_t>(sizeof h + report.size());
        std::vector<uint8_t> r(sizeof h);
        memcpy(r.data(), &h, sizeof h);
        r.insert(r.end(), report.begin(), report.end());
        return r;
    };
    fake.rawInputs[1] = record(7, 4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    fake.rawInputs[2] = record(7, 64, 4, {1, 2});  // claims more than it holds
    send(PLAT_WM_INPUT, 0, 1);
    send(PLAT_WM_INPUT, 0, 2);
    send(PLAT_WM_INPUT, 0, 3);  // unknown: size cannot be read
    ASSERT_EQ(g_lastEngine->events.size(), 1u);
    const CTRL_Event &e = g_lastEngine->events[0];
    EXPECT_EQ(e.type, EVENT_DEVICE);
    EXPECT_EQ(e.code, 7);
    EXPECT_EQ(e.length, 8);
}

TEST_F(Shell, DeviceServicesGoThroughTheLayer) {
    CTRL_Win32 *c = start();
    auto device = [](uint16_t v, uint16_t p, const char *path) {
        PLAT_HidInfo d;
        d.vendor = v;
        d.product = p;
        snprintf(d.path, sizeof d.path, "%s", path);
        return d;
    };
    fake.hidDevices = {device(1, 2, "/dev/a"), device(3, 4, "/dev/b"), device(1, 2, "/dev/c")};
    int32_t second = c->registerDevice(1, 2, 1);
    EXPECT_NE(second, 0);
    EXPECT_TRUE(fake.called("registerHidDevice 0001 0002 /dev/c"));
    EXPECT_EQ(c->registerDevice(1, 2, 2), 0);
    EXPECT_EQ(c->registerDevice(9, 9, 0), 0);
    const uint8_t bytes[3] = {1, 2, 3};
    EXPECT_EQ(c->sendToDevice(second, bytes, 3), 3);
    EXPECT_TRUE(fake.called("writeHidDevice /dev/c 3"));
    EXPECT_EQ(c->sendToDevice(99, bytes, 3), 0);
    fake.hidWriteFails = true;
    EXPECT_EQ(c->sendToDevice(second, bytes, 3), 0);
    fake.hidListFails = true;
    EXPECT_EQ(c->registerDevice(1, 2, 0), 0);
}

TEST_F(Shell, CursorLanguageAndUrlServices) {
    CTRL_Win32 *c = start();
    struct Case {
        int32_t shape;
        PLAT_Cursor cursor;
    } cases[] = {{1, PLAT_CURSOR_SIZEALL}, {0, PLAT_CURSOR_ARROW}, {2, PLAT_CURSOR_HAND}, {3, PLAT_CURSOR_HAND},
                 {7, PLAT_CURSOR_HAND}};
    for (const Case &k : cases) {
        c->setCursor(k.shape);
        EXPECT_EQ(fake.cursor, k.cursor) << k.shape;
    }

    fake.post(window(), PLAT_WM_MOUSEMOVE, 0, point(1, 1));
    c->warpCursor(window(), v2{100.7, 50.2});
    EXPECT_TRUE(fake.queue.empty());
    EXPECT_EQ(fake.cursorX, 100 + window()->rect.left + 8);

    fake.language = "fr";
    char code[8];
    c->getLanguage(code);
    EXPECT_STREQ(code, "fr");
    fake.language = "toolongcode";
    c->language[0] = 0;
    c->getLanguage(code);
    EXPECT_STREQ(code, "");

    c->openURL("http://example.org/?q=1");
    for (int i = 0; i < 200; i++) {
        {
            std::lock_guard<std::mutex> lock(fake.urlMutex);
            if (!fake.urls.empty()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard<std::mutex> lock(fake.urlMutex);
    EXPECT_EQ(fake.urls, (std::vector<std::string>{"http://example.org/?q=1"}));
}

// Hardware keycodes (X, evdev numbering) of the keys the tables use.
enum : uint32_t {
    kTab = 23, kDigit1 = 10, kDigit2 = 11, kDigit5 = 14, kDigit7 = 16, kDigit9 = 18, kDigit0 = 19, kMinus = 20,
    kQ = 24, kBracket = 34, kEnter = 36, kCtrl = 37, kA = 38, kSemicolon = 47, kShift = 50, kZ = 52, kY = 29,
    kM = 58, kComma = 59, kAlt = 64, kF10 = 76, kKeypad1 = 87, kAltGr = 108, kUp = 111,
};

TEST_F(Shell, KeyCodesFollowThePhysicalKeyInEveryLayout) {
    struct Case {
        uint32_t keycode, keysym, vk;  // keysym: what the key types unshifted in the layout
    };
    struct Layout {
        const char *name;
        std::vector<Case> cases;
    } layouts[] = {
        {"us",
         {{kDigit1, '1', '1'}, {kDigit0, '0', '0'}, {kQ, 'q', 'Q'}, {kA, 'a', 'A'}, {kSemicolon, ';', 0xBA},
          {kComma, ',', 0xBC}, {kTab, 0xFF09, 0x09}, {kUp, 0xFF52, 0x26}}},
        {"fr",
         {{kDigit1, '&', '1'}, {kDigit2, 0xE9 /* é */, '2'}, {kDigit5, '(', '5'}, {kDigit7, 0xE8 /* è */, '7'},
          {kDigit9, 0xE7 /* ç */, '9'}, {kDigit0, 0xE0 /* à */, '0'}, {kQ, 'a', 'A'}, {kA, 'q', 'Q'},
          {kZ, 'w', 'W'}, {kSemicolon, 'm', 'M'}, {kComma, ';', 0xBC}}},
        {"de",
         {{kY, 'z', 'Z'}, {kZ, 'y', 'Y'}, {kSemicolon, 0xF6 /* ö */, 0xBA}, {kBracket, 0xFC /* ü */, 0xDB},
          {kMinus, 0xDF /* ß */, 0xBD}, {kDigit1, '1', '1'}}},
        {"ru",
         {{kQ, 0x6CA /* й */, 'Q'}, {kA, 0x6C6 /* ф */, 'A'}, {kM, 0x6D8 /* ь */, 'M'},
          {kSemicolon, 0x6D6 /* ж */, 0xBA}, {kDigit1, '1', '1'}}},
    };
    CTRL_Win32 *c = start();
    fake.layout[kShift] = 0xFFE1;
    for (const Layout &layout : layouts) {
        for (const Case &k : layout.cases) fake.layout[k.keycode] = k.keysym;
        for (const Case &k : layout.cases) {
            SCOPED_TRACE(std::string(layout.name) + " keycode " + std::to_string(k.keycode));
            // Unshifted; shifted; pressed with Shift and released without.
            for (int way = 0; way < 3; way++) {
                g_lastEngine->events.clear();
                if (way >= 1) fake.key(window(), kShift, true);
                fake.key(window(), k.keycode, true);
                if (way == 2) fake.key(window(), kShift, false);
                loop();
                EXPECT_EQ(c->currentKeys[k.vk], 1);
                fake.key(window(), k.keycode, false);
                if (way == 1) fake.key(window(), kShift, false);
                loop();
                EXPECT_EQ(c->currentKeys[k.vk], 0);
                std::vector<int32_t> codes;
                for (const CTRL_Event &e : g_lastEngine->events)
                    if (e.code != 0x10) codes.push_back(e.type == EVENT_KEY_DOWN ? e.code : -e.code);
                EXPECT_EQ(codes, (std::vector<int32_t>{int32_t(k.vk), -int32_t(k.vk)})) << "way " << way;
            }
        }
        for (const Case &k : layout.cases) fake.layout.erase(k.keycode);
    }
}

TEST_F(Shell, KeypadFollowsNumLockAloneAndFocusLossReleasesEveryKey) {
    CTRL_Win32 *c = start();
    fake.layout = {{kShift, 0xFFE1}, {kKeypad1, 0xFF9C}, {kA, 'a'}};
    fake.numLock = true;
    fake.key(window(), kKeypad1, true);
    fake.key(window(), kShift, true);  // Shift while the key is down changes nothing
    fake.key(window(), kKeypad1, false);
    loop();
    EXPECT_EQ(g_lastEngine->events.back().type, EVENT_KEY_UP);
    EXPECT_EQ(g_lastEngine->events.back().code, 0x61);  // KEY_NUMPAD1 both ways
    EXPECT_EQ(c->currentKeys[0x61], 0);
    EXPECT_EQ(c->currentKeys[0x23], 0);
    fake.key(window(), kShift, false);
    fake.numLock = false;
    fake.key(window(), kKeypad1, true);
    loop();
    EXPECT_EQ(g_lastEngine->events.back().code, 0x23);  // KEY_END

    // Keys still down when the focus goes are released, each with an event.
    fake.key(window(), kShift, true);
    fake.key(window(), kA, true);
    loop();
    g_lastEngine->events.clear();
    fake.loseFocus(window());
    loop();
    std::vector<int32_t> released;
    for (const CTRL_Event &e : g_lastEngine->events)
        if (e.type == EVENT_KEY_UP) released.push_back(e.code);
    EXPECT_EQ(released, (std::vector<int32_t>{0x23, 0x10, 'A'}));
    for (int vk = 0; vk < 256; vk++) EXPECT_EQ(c->currentKeys[vk], 0) << vk;
}

TEST_F(Shell, AltAndF10StayWithTheSystemAndAltEnterTogglesFullscreen) {
    CTRL_Win32 *c = start();
    fake.layout = {{kAlt, 0xFFE9}, {kF10, 0xFFC7}, {kEnter, 0xFF0D}, {kAltGr, 0xFE03}, {kDigit0, 0xE0},
                   {kCtrl, 0xFFE3}, {kA, 'q'}};
    for (uint32_t key : {kAlt, kF10}) {
        fake.key(window(), key, true);
        fake.key(window(), key, false);
    }
    loop();
    EXPECT_TRUE(g_lastEngine->events.empty());
    EXPECT_EQ(c->currentKeys[0x12], 0);
    EXPECT_EQ(c->currentKeys[0x79], 0);

    fake.key(window(), kAlt, true);
    fake.key(window(), kEnter, true);
    loop();
    EXPECT_EQ(c->fullscreen, 1);
    EXPECT_TRUE(g_lastEngine->events.empty());
    fake.key(window(), kEnter, false);
    fake.key(window(), kAlt, false);
    loop();

    // AltGr is no Alt: what it types is a key for the scripts.
    g_lastEngine->events.clear();
    fake.key(window(), kAltGr, true);
    fake.key(window(), kDigit0, true);
    loop();
    ASSERT_EQ(g_lastEngine->events.size(), 2u);
    EXPECT_EQ(g_lastEngine->events[1].code, '0');
    fake.key(window(), kDigit0, false);
    fake.key(window(), kAltGr, false);

    // Ctrl+Q goes by the key's code: on an AZERTY keyboard the key that types q.
    fake.key(window(), kCtrl, true);
    fake.key(window(), kA, true);
    loop();
    EXPECT_FALSE(fake.isWindow(window()));
    EXPECT_TRUE(fake.quitPosted);
}

TEST_F(Shell, ARunawayScriptStopsWhenTheUserQuits) {
    CTRL_gMakeEngine = [] { return static_cast<CTRL_ScriptEngine *>(new LMP_Engine()); };
    fake.glAvailable = false;

    // Content that merely runs long is never stopped.
    fake.resources[130] = packageWithInit(
        "function startup() setCallback(CB_UPDATE, function() local n = 0 for i = 1, 5000000 do n = n + i end "
        "print('long update done') end) end");
    CTRL_Win32 *c = start(false);
    auto tick = [this] {
        clock.advanceSeconds(0.02);
        send(PLAT_WM_TIMER);
    };
    for (int i = 0; i < 3; i++) tick();
    EXPECT_GT(fake.collected, 0);
    EXPECT_FALSE(c->halted);
    fake.destroyWindow(window());

    // A loop that never ends, even behind pcall, ends with the window's close.
    fake.resources[130] = packageWithInit(
        "function startup() setCallback(CB_UPDATE, function() while true do pcall(function() while true do end "
        "end) end end) end");
    fake.collected = 0;
    fake.quitPosted = false;
    fake.onCollectEvents = [this] {
        if (fake.collected == 3) fake.post(window(), PLAT_WM_CLOSE);
    };
    start(false);
    tick();
    tick();
    EXPECT_GE(fake.collected, 3);
    EXPECT_FALSE(fake.isWindow(window()));
    EXPECT_TRUE(fake.quitPosted);
    EXPECT_EQ(CTRL_Generic::liveControllers, 0);
    CTRL_gMakeEngine = makeScripted;
}

}  // namespace
