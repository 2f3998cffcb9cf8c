// The GL context of the GL benchmarks: one window of W x H pixels with depth
// and stencil on the X display, current on this thread. Without a display a
// benchmark runs itself again on a virtual server of its own.
#pragma once

#include <GL/glx.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace bench_gl {

inline bool openContext(int W, int H)
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return false;
    const int attrs[] = {GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, GLX_RED_SIZE, 8,
                         GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, 24, GLX_STENCIL_SIZE, 8,
                         GLX_DOUBLEBUFFER, True, None};
    int n = 0;
    GLXFBConfig* configs = glXChooseFBConfig(d, DefaultScreen(d), attrs, &n);
    if (!configs || n == 0)
        return false;
    XVisualInfo* vi = glXGetVisualFromFBConfig(d, configs[0]);
    if (!vi)
        return false;
    Window root = RootWindow(d, vi->screen);
    XSetWindowAttributes wa{};
    wa.colormap = XCreateColormap(d, root, vi->visual, AllocNone);
    Window w = XCreateWindow(d, root, 0, 0, W, H, 0, vi->depth, InputOutput, vi->visual, CWColormap, &wa);
    GLXWindow gw = glXCreateWindow(d, configs[0], w, nullptr);
    GLXContext c = glXCreateNewContext(d, configs[0], GLX_RGBA_TYPE, nullptr, True);
    XFree(vi);
    XFree(configs);
    return c && glXMakeContextCurrent(d, gw, gw, c);
}

// Starts the program again under tests/lit/with-xvfb, once; returns only
// when that cannot be done.
inline void runOnVirtualServer(int argc, char** argv)
{
    if (std::getenv("HALVORIN_BENCH_XVFB"))
        return;
    setenv("HALVORIN_BENCH_XVFB", "1", 1);
    std::string runner = HALVORIN_SOURCE_DIR "/tests/lit/with-xvfb";
    std::vector<char*> args{runner.data()};
    for (int i = 0; i < argc; i++)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    execv(runner.c_str(), args.data());
}

}  // namespace bench_gl
