// A switchable null GL driver for measuring the renderer's own CPU work on its
// real code path: this program defines the GL 1.x entry points the renderer
// calls, so the renderer's calls land here; with null_gl::on() they return at
// once (queries still answer from the real driver), otherwise they go on to
// the driver. The buffer-object entry points are pointers that GLEW fills;
// on() swaps them for do-nothing functions and off() puts them back.
// detach() turns it on for good with no driver behind it at all (no
// display, no context): the queries then answer as a GL 2.1 driver with
// buffer objects would, and a program that never calls the real glewInit
// gets do-nothing buffer entry points.
//
// Include in exactly one source file of a program, after <GL/glew.h>.
#pragma once

#include <dlfcn.h>

#include <type_traits>

namespace null_gl {

inline bool active = false;
inline bool detached = false;
// The extension list answered while detached; without buffer objects the
// renderer takes its client-array path.
inline const char* detachedExtensions = "GL_ARB_vertex_buffer_object GL_ARB_multitexture";

template <class F>
struct Nothing;
template <class R, class... A>
struct Nothing<R(GLAPIENTRY*)(A...)> {
    static R GLAPIENTRY call(A...)
    {
        if constexpr (!std::is_void_v<R>)
            return R();
    }
};

template <class F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// What the queries answer while detached.
inline GLenum answer_glGetError() { return GL_NO_ERROR; }
inline void answer_glGetIntegerv(GLenum name, GLint* out)
{
    if (out)
        *out = name == GL_MAX_TEXTURE_SIZE ? 2048 : name == GL_STENCIL_BITS ? 8 : 0;
}
// Every light parameter the renderer reads back is a colour of four floats.
inline void answer_glGetLightfv(GLenum, GLenum, GLfloat* out)
{
    if (out)
        out[0] = out[1] = out[2] = out[3] = 0;
}
inline const GLubyte* answer_glGetString(GLenum name)
{
    const char* s = name == GL_VERSION ? "2.1 null" : name == GL_EXTENSIONS ? detachedExtensions : "null";
    return reinterpret_cast<const GLubyte*>(s);
}

}  // namespace null_gl

// Drawing and state calls: nothing while the null driver is on.
#define NULL_GL(R, name, params, args)                                      \
    extern "C" R GLAPIENTRY name params                                     \
    {                                                                       \
        static auto forward = null_gl::real<R(GLAPIENTRY*) params>(#name); \
        if (null_gl::active)                                                \
            return R();                                                     \
        return forward args;                                                \
    }
// Queries always answer from the driver.
#define QUERY_GL(R, name, params, args)                                     \
    extern "C" R GLAPIENTRY name params                                     \
    {                                                                       \
        static auto forward = null_gl::real<R(GLAPIENTRY*) params>(#name); \
        if (null_gl::detached)                                              \
            return null_gl::answer_##name args;                              \
        return forward args;                                                \
    }

NULL_GL(void, glAlphaFunc, (GLenum a0, GLclampf a1), (a0, a1))
NULL_GL(void, glBindTexture, (GLenum a0, GLuint a1), (a0, a1))
NULL_GL(void, glBlendFunc, (GLenum a0, GLenum a1), (a0, a1))
NULL_GL(void, glClear, (GLbitfield a0), (a0))
NULL_GL(void, glClearColor, (GLclampf a0, GLclampf a1, GLclampf a2, GLclampf a3), (a0, a1, a2, a3))
NULL_GL(void, glClearDepth, (GLclampd a0), (a0))
NULL_GL(void, glClearStencil, (GLint a0), (a0))
NULL_GL(void, glClipPlane, (GLenum a0, const GLdouble* a1), (a0, a1))
NULL_GL(void, glColor4d, (GLdouble a0, GLdouble a1, GLdouble a2, GLdouble a3), (a0, a1, a2, a3))
NULL_GL(void, glColor4dv, (const GLdouble* a0), (a0))
NULL_GL(void, glColorMask, (GLboolean a0, GLboolean a1, GLboolean a2, GLboolean a3), (a0, a1, a2, a3))
NULL_GL(void, glColorMaterial, (GLenum a0, GLenum a1), (a0, a1))
NULL_GL(void, glColorPointer, (GLint a0, GLenum a1, GLsizei a2, const GLvoid* a3), (a0, a1, a2, a3))
NULL_GL(void, glCullFace, (GLenum a0), (a0))
NULL_GL(void, glDeleteTextures, (GLsizei a0, const GLuint* a1), (a0, a1))
NULL_GL(void, glDepthFunc, (GLenum a0), (a0))
NULL_GL(void, glDepthMask, (GLboolean a0), (a0))
NULL_GL(void, glDisable, (GLenum a0), (a0))
NULL_GL(void, glDisableClientState, (GLenum a0), (a0))
NULL_GL(void, glDrawArrays, (GLenum a0, GLint a1, GLsizei a2), (a0, a1, a2))
NULL_GL(void, glDrawElements, (GLenum a0, GLsizei a1, GLenum a2, const GLvoid* a3), (a0, a1, a2, a3))
NULL_GL(void, glEnable, (GLenum a0), (a0))
NULL_GL(void, glEnableClientState, (GLenum a0), (a0))
NULL_GL(void, glFinish, (), ())
NULL_GL(void, glFrontFace, (GLenum a0), (a0))
NULL_GL(void, glGenTextures, (GLsizei a0, GLuint* a1), (a0, a1))
NULL_GL(void, glHint, (GLenum a0, GLenum a1), (a0, a1))
NULL_GL(void, glLightModelfv, (GLenum a0, const GLfloat* a1), (a0, a1))
NULL_GL(void, glLightModeli, (GLenum a0, GLint a1), (a0, a1))
NULL_GL(void, glLightf, (GLenum a0, GLenum a1, GLfloat a2), (a0, a1, a2))
NULL_GL(void, glLightfv, (GLenum a0, GLenum a1, const GLfloat* a2), (a0, a1, a2))
NULL_GL(void, glLoadIdentity, (), ())
NULL_GL(void, glLoadMatrixd, (const GLdouble* a0), (a0))
NULL_GL(void, glMaterialf, (GLenum a0, GLenum a1, GLfloat a2), (a0, a1, a2))
NULL_GL(void, glMaterialfv, (GLenum a0, GLenum a1, const GLfloat* a2), (a0, a1, a2))
NULL_GL(void, glMatrixMode, (GLenum a0), (a0))
NULL_GL(void, glMultMatrixd, (const GLdouble* a0), (a0))
NULL_GL(void, glNormal3d, (GLdouble a0, GLdouble a1, GLdouble a2), (a0, a1, a2))
NULL_GL(void, glNormalPointer, (GLenum a0, GLsizei a1, const GLvoid* a2), (a0, a1, a2))
NULL_GL(void, glPixelStorei, (GLenum a0, GLint a1), (a0, a1))
NULL_GL(void, glPolygonMode, (GLenum a0, GLenum a1), (a0, a1))
NULL_GL(void, glPopClientAttrib, (), ())
NULL_GL(void, glPopMatrix, (), ())
NULL_GL(void, glPushClientAttrib, (GLbitfield a0), (a0))
NULL_GL(void, glPushMatrix, (), ())
NULL_GL(void, glScaled, (GLdouble a0, GLdouble a1, GLdouble a2), (a0, a1, a2))
NULL_GL(void, glScissor, (GLint a0, GLint a1, GLsizei a2, GLsizei a3), (a0, a1, a2, a3))
NULL_GL(void, glShadeModel, (GLenum a0), (a0))
NULL_GL(void, glStencilFunc, (GLenum a0, GLint a1, GLuint a2), (a0, a1, a2))
NULL_GL(void, glStencilOp, (GLenum a0, GLenum a1, GLenum a2), (a0, a1, a2))
NULL_GL(void, glTexCoordPointer, (GLint a0, GLenum a1, GLsizei a2, const GLvoid* a3), (a0, a1, a2, a3))
NULL_GL(void, glTexImage2D,
        (GLenum a0, GLint a1, GLint a2, GLsizei a3, GLsizei a4, GLint a5, GLenum a6, GLenum a7, const GLvoid* a8),
        (a0, a1, a2, a3, a4, a5, a6, a7, a8))
NULL_GL(void, glTexParameteri, (GLenum a0, GLenum a1, GLint a2), (a0, a1, a2))
NULL_GL(void, glTexSubImage2D,
        (GLenum a0, GLint a1, GLint a2, GLint a3, GLsizei a4, GLsizei a5, GLenum a6, GLenum a7, const GLvoid* a8),
        (a0, a1, a2, a3, a4, a5, a6, a7, a8))
NULL_GL(void, glTranslated, (GLdouble a0, GLdouble a1, GLdouble a2), (a0, a1, a2))
NULL_GL(void, glVertexPointer, (GLint a0, GLenum a1, GLsizei a2, const GLvoid* a3), (a0, a1, a2, a3))
NULL_GL(void, glViewport, (GLint a0, GLint a1, GLsizei a2, GLsizei a3), (a0, a1, a2, a3))
NULL_GL(void, glReadPixels, (GLint a0, GLint a1, GLsizei a2, GLsizei a3, GLenum a4, GLenum a5, GLvoid* a6),
        (a0, a1, a2, a3, a4, a5, a6))
QUERY_GL(GLenum, glGetError, (), ())
QUERY_GL(void, glGetIntegerv, (GLenum a0, GLint* a1), (a0, a1))
QUERY_GL(void, glGetLightfv, (GLenum a0, GLenum a1, GLfloat* a2), (a0, a1, a2))
QUERY_GL(const GLubyte*, glGetString, (GLenum a0), (a0))

#undef NULL_GL
#undef QUERY_GL

namespace null_gl {

struct Saved {
    PFNGLBINDBUFFERPROC bindBuffer;
    PFNGLBUFFERDATAPROC bufferData;
    PFNGLBUFFERSUBDATAPROC bufferSubData;
    PFNGLDELETEBUFFERSPROC deleteBuffers;
    PFNGLGENBUFFERSPROC genBuffers;
};
inline Saved saved{};

inline void on()
{
    if (active)
        return;
    saved = {__glewBindBuffer, __glewBufferData, __glewBufferSubData, __glewDeleteBuffers, __glewGenBuffers};
    __glewBindBuffer = &Nothing<PFNGLBINDBUFFERPROC>::call;
    __glewBufferData = &Nothing<PFNGLBUFFERDATAPROC>::call;
    __glewBufferSubData = &Nothing<PFNGLBUFFERSUBDATAPROC>::call;
    __glewDeleteBuffers = &Nothing<PFNGLDELETEBUFFERSPROC>::call;
    __glewGenBuffers = &Nothing<PFNGLGENBUFFERSPROC>::call;
    active = true;
}

inline void off()
{
    if (!active)
        return;
    __glewBindBuffer = saved.bindBuffer;
    __glewBufferData = saved.bufferData;
    __glewBufferSubData = saved.bufferSubData;
    __glewDeleteBuffers = saved.deleteBuffers;
    __glewGenBuffers = saved.genBuffers;
    active = false;
}

inline void detach()
{
    __glewBindBuffer = &Nothing<PFNGLBINDBUFFERPROC>::call;
    __glewBufferData = &Nothing<PFNGLBUFFERDATAPROC>::call;
    __glewBufferSubData = &Nothing<PFNGLBUFFERSUBDATAPROC>::call;
    __glewDeleteBuffers = &Nothing<PFNGLDELETEBUFFERSPROC>::call;
    __glewGenBuffers = &Nothing<PFNGLGENBUFFERSPROC>::call;
    active = true;
    detached = true;
}

}  // namespace null_gl
