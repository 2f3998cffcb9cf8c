// The script class newSound: positioned sound sources, with the 41 Object
// methods before their own.
#include <lua.hpp>

#include <cmath>

#include "media/VIEW_Sample.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_Scene.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_ObjectClass.h"
#include "script/LMP_SampleClass.h"

class LMP_Sound : public LMP_Object {
public:
    LMP_Sound() = default;
    explicit LMP_Sound(lua_State* L);
    // The class keeps "newObject" as its name in messages.
    static constexpr const char* scriptName = "newSound";
    static const LMP_MethodEntry<LMP_Sound> methods[];
};

namespace {

MDL_Sound* rec(LMP_Sound* self) { return static_cast<MDL_Sound*>(self->object()); }

int soundSetSample(LMP_Sound* self, lua_State* L)
{
    // The last argument; none at all fails the same check.
    int last = lua_gettop(L) > 0 ? lua_gettop(L) : 1;
    VIEW_Sample* sample = LMP_iCheckSample(L, last);
    if (MDL_Sound* s = rec(self)) s->sample = sample;
    return 0;
}

// seconds x rate, truncated toward zero into the 32-bit range: negative and
// not-a-number give 0, values past the range its largest. A position past
// the sample's end stays allowed (it plays as silence or wraps).
int32_t framesAt(double seconds, uint32_t rate)
{
    double v = double(rate) * seconds;
    if (!(v > 0)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    return int32_t(v);
}

int soundSeek(LMP_Sound* self, lua_State* L)
{
    double seconds = 0;
    if (!LMP_iCheckArgs(L, "N", &seconds)) return 0;
    MDL_Sound* s = rec(self);
    if (!s || !s->sample) return 0;
    s->position = framesAt(seconds, s->sample->sampleRate);
    return 0;
}

int soundGetTime(LMP_Sound* self, lua_State* L)
{
    MDL_Sound* s = rec(self);
    if (!s) return 0;
    // Without a sample, or with one that did not decode (rate 0): 0 seconds.
    uint32_t rate = s->sample ? s->sample->sampleRate : 0;
    lua_pushnumber(L, rate ? double(s->position) / double(rate) : 0.0);
    return 1;
}

}  // namespace

// newSound(scene or parent object, [sample]): the object constructor's
// argument count and scene steps, then a new sound with its defaults; the
// second argument must be a sample and becomes the sound's.
LMP_Sound::LMP_Sound(lua_State* L)
{
    MDL_Object* parent = nullptr;
    MDL_Scene* scene = LMP_iObjectTarget(L, "newObject", &parent);
    if (!scene) return;
    // Checked before the sound is made, so that a refused sample leaves no
    // sound behind.
    VIEW_Sample* sample = lua_gettop(L) >= 2 ? LMP_iCheckSample(L, 2) : nullptr;
    auto* snd = new MDL_Sound();
    snd->sample = sample;
    LMP_iPlaceNewObject(this, snd, scene, parent);
}

const LMP_MethodEntry<LMP_Sound> LMP_Sound::methods[] = {
    {"setSample", nullptr, &soundSetSample},
    LMP_iGetter<LMP_Sound, &MDL_Sound::volume>("getVolume"),
    LMP_iSetter<LMP_Sound, &MDL_Sound::volume>("setVolume"),
    LMP_iGetter<LMP_Sound, &MDL_Sound::looping>("getLooping"),
    LMP_iSetter<LMP_Sound, &MDL_Sound::looping>("setLooping"),
    {"seek", nullptr, &soundSeek},
    {"getTime", nullptr, &soundGetTime},
    LMP_iSetter<LMP_Sound, &MDL_Sound::autoDelete>("setAutoDelete"),
    LMP_iGetter<LMP_Sound, &MDL_Sound::autoDelete>("getAutoDelete"),
    {nullptr, nullptr},
};

LMP_BIND_CLASS(Sound, LMP_Sound);
