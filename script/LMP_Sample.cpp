// The script class newSample.
#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "media/VIEW_Sample.h"
#include "model/MDL_ModelsSet.h"
#include "model/MDL_Objects.h"
#include "package/CTRL_PackageLoad.h"
#include "physics/MDL_Scene.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_SampleClass.h"

namespace {

void forgetSample(CTRL_Array<MDL_Object*>& objects, const VIEW_Sample* sample) {
    for (MDL_Object* o : objects) {
        if (!o || o->type != OBJECT_SOUND) continue;
        auto* snd = static_cast<MDL_Sound*>(o);
        if (snd->sample == sample) snd->sample = nullptr;
    }
}

}  // namespace

void LMP_iSilenceSample(CTRL_Generic* controller, const VIEW_Sample* sample)
{
    for (MDL_Scene* scene : controller->scenes) forgetSample(scene->objects, sample);
    for (MDL_ModelsSet* set : controller->modelsSets) forgetSample(set->objects, sample);
}

LMP_Sample::LMP_Sample(lua_State* L)
{
    CTRL_Generic* controller = LMP_iGetController(L);
    if (!controller) return;
    const char* name = nullptr;
    if (!LMP_iCheckArgs(L, "S", &name)) return;
    uint8_t* data = nullptr;
    uint32_t size = 0;
    bool owned = CTRL_iReadPackageFile(controller, name, &data, &size, false);
    if (!data) {
        LMP_iReportError(L, "File %s not found", name);
        return;
    }
    // An undecodable file still makes a sample: one without channels, which
    // every sound plays as silence.
    VIEW_Sample* s = new VIEW_Sample(name, data, size, owned ? 1 : 0);
    if (!controller->samples.append(s)) {
        delete s;
        LMP_iReportError(L, "File %s not found", name);
        return;
    }
    model = s;
    LMP_iAssignProxy(&s->proxy, this);
}

int LMP_Sample::deleteSample(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    CTRL_Generic* controller = LMP_iGetController(L);
    VIEW_Sample* s = sample();
    if (!controller || !s) return 0;
    // Only samples of the list are freed here. A video's sample belongs to
    // its video: it and its proxy stay as they are, since the video's getter
    // hands out that proxy again.
    int32_t i = controller->samples.indexOf(s);
    if (i < 0) return 0;
    LMP_iSilenceSample(controller, s);
    controller->samples.removeAt(i);
    delete s;
    model = nullptr;
    return 0;
}

const LMP_MethodEntry<LMP_Sample> LMP_Sample::methods[] = {
    {"delete", &LMP_Sample::deleteSample},
    {nullptr, nullptr},
};

int LMP_iPushSample(lua_State* L, VIEW_Sample* sample)
{
    if (!sample) {
        lua_pushnil(L);
        return 1;
    }
    LMP_Binding<LMP_Sample>::pushRecord(L, sample);
    return 1;
}

VIEW_Sample* LMP_iCheckSample(lua_State* L, int index)
{
    return LMP_Binding<LMP_Sample>::check(L, index)->sample();
}

LMP_BIND_CLASS(Sample, LMP_Sample);
