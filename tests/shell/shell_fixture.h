// Test doubles shared by the shell tests: a scripted engine and a renderer
// that records its calls.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "controller/CTRL_Generic.h"
#include "controller/CTRL_ScriptEngine.h"
#include "render/VIEW_Generic.h"

struct ScriptedEngine : CTRL_ScriptEngine {
    CTRL_Generic *controller = nullptr;
    std::vector<CTRL_Event> events;
    bool consume = false;       // answer of handleEvent
    bool startOk = true;
    int starts = 0;
    bool handleEvent(const CTRL_Event *event) override {
        events.push_back(*event);
        return consume;
    }
    void update(double) override {}
    void aspectRatioChanged(double) override {}
    bool start() override {
        starts++;
        if (controller) controller->stage = startOk ? STAGE_RUNNING : STAGE_LOADING;
        return startOk;
    }
    void registerModule(const CTRL_ScriptModule *, void *) override {}
    void setGlobal(const char *, const CTRL_Variant *) override {}
    bool getGlobal(const char *, CTRL_Variant *) override { return false; }
    bool callFunction(const char *, const CTRL_Array<CTRL_Variant *> *, CTRL_Variant *) override { return false; }
    void collectGarbage() override {}
    void attachController(CTRL_Generic *c) override { controller = c; }
};

struct RecordingView : VIEW_Generic {
    std::vector<std::string> calls;
    void add(const char *f, ...) __attribute__((format(printf, 2, 3))) {
        char b[512];
        va_list a;
        va_start(a, f);
        vsnprintf(b, sizeof b, f, a);
        va_end(a);
        calls.push_back(b);
    }
    void beginFrame(void *, uint8_t w) override { add("beginFrame %d", w); }
    void endFrame(void *) override { add("endFrame"); }
    void clear(const double *c) override { add("clear %g %g %g %g", c[0], c[1], c[2], c[3]); }
    void releaseImageTexture(VIEW_Texture *) override { add("releaseImageTexture"); }
    void drawScene(MDL_Viewport *, const v2 &p, const v2 &s) override {
        add("drawScene %g %g %g %g", p.x, p.y, s.x, s.y);
    }
    void drawLoadingScreen(const v2 &p, const v2 &s, const char *text, VIEW_Font *, MDL_Image *image) override {
        add("drawLoadingScreen %g %g %g %g [%s] %s", p.x, p.y, s.x, s.y, text, image ? "image" : "none");
    }
    void drawStatusText(const v2 &p, const v2 &s, const char *text, VIEW_Font *) override {
        add("drawStatusText %g %g %g %g [%s]", p.x, p.y, s.x, s.y, text);
    }
};
