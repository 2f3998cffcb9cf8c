#include "gl/gl_context.h"

#include <GL/glx.h>

namespace {

struct Context {
    Display* display = nullptr;
    Window window = 0;
    Colormap colormap = 0;
    GLXWindow drawable = 0;
    GLXContext context = nullptr;
    bool ready = false;

    Context()
    {
        display = XOpenDisplay(nullptr);
        if (!display)
            return;
        // A double-buffered window that is never shown or swapped: drawing
        // and reading back both use its back buffer.
        const int attrs[] = {GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, GLX_RED_SIZE, 8,
                             GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_ALPHA_SIZE, 8, GLX_DEPTH_SIZE, 24,
                             GLX_STENCIL_SIZE, 8, GLX_DOUBLEBUFFER, True, None};
        int n = 0;
        GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), attrs, &n);
        if (!configs || n == 0)
            return;
        XVisualInfo* visual = glXGetVisualFromFBConfig(display, configs[0]);
        if (!visual) {
            XFree(configs);
            return;
        }
        Window root = RootWindow(display, visual->screen);
        colormap = XCreateColormap(display, root, visual->visual, AllocNone);
        XSetWindowAttributes wa{};
        wa.colormap = colormap;
        window = XCreateWindow(display, root, 0, 0, lit::GL_TEST_WIDTH, lit::GL_TEST_HEIGHT, 0, visual->depth,
                               InputOutput, visual->visual, CWColormap, &wa);
        XFree(visual);
        drawable = glXCreateWindow(display, configs[0], window, nullptr);
        context = glXCreateNewContext(display, configs[0], GLX_RGBA_TYPE, nullptr, True);
        XFree(configs);
        ready = drawable && context && glXMakeContextCurrent(display, drawable, drawable, context);
    }
};

}   // namespace

// The context lives until the process ends: tearing it down unloads the
// driver, whose own allocations would then look like leaks.
bool lit::glContextReady()
{
    static Context* c = new Context();
    return c->ready;
}
