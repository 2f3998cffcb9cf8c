#include <cfloat>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "media/VIEW_Sample.h"
#include "media/VIEW_Stream.h"
#include "media/VIEW_Texture.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_FontClass.h"
#include "script/LMP_SampleClass.h"
#include "script/LMP_TextureClass.h"

LMP_Stream::LMP_Stream(lua_State* L)
{
    CTRL_Generic* controller = LMP_iGetController(L);
    if (!controller) return;
    const char* name = nullptr;
    int32_t filter = 0;
    if (!LMP_iCheckArgs(L, "S|I", &name, &filter)) return;
    VIEW_Stream* s = new VIEW_Stream(name, controller);
    if (!s->file || !controller->videos.append(s)) {
        delete s;
        LMP_iReportError(L, "File %s not found", name);
        return;
    }
    if (s->texture) s->texture->filter = uint32_t(filter);
    model = s;
    LMP_iAssignProxy(&s->proxy, this);
}

// The stream leaves the controller's list and is freed at once. Its frame
// texture goes to the controller's texture list, released, so that the
// render pass frees it (and its GL copy) once no material layer uses it;
// sounds that play its sample fall silent.
int LMP_Stream::deleteStream(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    CTRL_Generic* controller = LMP_iGetController(L);
    VIEW_Stream* s = stream();
    if (!controller || !s) return 0;
    int32_t i = controller->videos.indexOf(s);
    if (i >= 0) {
        controller->videos.removeAt(i);
        LMP_iSilenceSample(controller, &s->sample);
        if (VIEW_Texture* t = s->takeTexture()) {
            t->releaseRequested = 1;
            if (!controller->textures.append(t)) delete t;
        }
        delete s;
    }
    model = nullptr;
    return 0;
}

int LMP_Stream::getTexture(lua_State* L)
{
    if (!stream() || !stream()->texture) return 0;
    return LMP_iPushTexture(L, stream()->texture);
}

int LMP_Stream::getSample(lua_State* L)
{
    VIEW_Stream* s = stream();
    if (!s) return 0;
    return LMP_iPushSample(L, &s->sample);
}

int LMP_Stream::getTime(lua_State* L)
{
    if (!stream()) return 0;
    lua_pushnumber(L, stream()->time);
    return 1;
}

int LMP_Stream::getCurrentFrame(lua_State* L)
{
    if (!stream()) return 0;
    lua_pushnumber(L, stream()->currentFrame);
    return 1;
}

int LMP_Stream::getDuration(lua_State* L)
{
    if (!stream()) return 0;
    lua_pushnumber(L, stream()->duration());
    return 1;
}

int LMP_Stream::isPlaying(lua_State* L)
{
    if (!stream()) return 0;
    lua_pushboolean(L, stream()->sample.paused == 0);
    return 1;
}

int LMP_Stream::play(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    if (!stream()) return 0;
    stream()->sample.paused = 0;
    return 0;
}

int LMP_Stream::pause(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    if (!stream()) return 0;
    stream()->sample.paused = 1;
    return 0;
}

int LMP_Stream::seek(lua_State* L)
{
    double t = 0;
    if (!LMP_iCheckArgs(L, "N", &t) || !stream()) return 0;
    // Rounded to single precision, saturating: a time beyond the float
    // range has no float to round to.
    if (t > FLT_MAX) t = FLT_MAX;
    else if (t < -FLT_MAX) t = -FLT_MAX;
    stream()->seek((double)(float)t);
    return 0;
}

const LMP_MethodEntry<LMP_Stream> LMP_Stream::methods[] = {
    {"delete", &LMP_Stream::deleteStream},
    {"getTexture", &LMP_Stream::getTexture},
    {"getSample", &LMP_Stream::getSample},
    {"getTime", &LMP_Stream::getTime},
    {"getCurrentFrame", &LMP_Stream::getCurrentFrame},
    {"getDuration", &LMP_Stream::getDuration},
    {"isPlaying", &LMP_Stream::isPlaying},
    {"play", &LMP_Stream::play},
    {"pause", &LMP_Stream::pause},
    {"seek", &LMP_Stream::seek},
    {nullptr, nullptr},
};

LMP_BIND_CLASS(Stream, LMP_Stream);
