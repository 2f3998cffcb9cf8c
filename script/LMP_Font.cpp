#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "media/VIEW_Font.h"
#include "model/MDL_ModelsSet.h"
#include "model/MDL_Object.h"
#include "model/MDL_Text.h"
#include "package/CTRL_PackageLoad.h"
#include "physics/MDL_Scene.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_FontClass.h"

namespace {

// Texts set in a font that goes fall back to the default font.
void replaceFont(CTRL_Array<MDL_Object*>& objects, VIEW_Font* gone, VIEW_Font* fallback)
{
    for (MDL_Object* o : objects) {
        if (o->type != OBJECT_TEXT) continue;
        auto* t = static_cast<MDL_Text*>(o);
        if (t->font != gone) continue;
        t->font = fallback;
        t->invalidateLayout();
    }
}

}  // namespace

LMP_Font::LMP_Font(lua_State* L)
{
    CTRL_Generic* controller = LMP_iGetController(L);
    if (!controller) return;
    const char* name = nullptr;
    if (!LMP_iCheckArgs(L, "S", &name)) return;
    uint8_t* data = nullptr;
    uint32_t size = 0;
    bool owned = CTRL_iReadPackageFile(controller, name, &data, &size, false);
    if (!data || size < 1) {
        if (owned) std::free(data);
        LMP_iReportError(L, "File %s not found", name);
        return;
    }
    // The face reads the bytes while it lives: a font keeps its own copy
    // when the package lends them.
    if (!owned) {
        auto* copy = static_cast<uint8_t*>(std::malloc(size));
        if (!copy) {
            LMP_iReportError(L, "File %s not found", name);
            return;
        }
        std::memcpy(copy, data, size);
        data = copy;
    }
    VIEW_Font* f = new VIEW_Font(name, data, size, 1);
    if (!controller->fonts.append(f)) {
        delete f;
        LMP_iReportError(L, "File %s not found", name);
        return;
    }
    model = f;
    LMP_iAssignProxy(&f->proxy, this);
}

int LMP_Font::deleteFont(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    CTRL_Generic* controller = LMP_iGetController(L);
    VIEW_Font* f = font();
    if (!controller || !f) return 0;
    // The default font is not in the list: it and its proxy, which texts'
    // getters hand out again, stay as they are.
    int32_t i = controller->fonts.indexOf(f);
    if (i < 0) return 0;
    for (MDL_Scene* scene : controller->scenes) replaceFont(scene->objects, f, controller->defaultFont);
    for (MDL_ModelsSet* set : controller->modelsSets) replaceFont(set->objects, f, controller->defaultFont);
    controller->fonts.removeAt(i);
    delete f;
    model = nullptr;
    return 0;
}

const LMP_MethodEntry<LMP_Font> LMP_Font::methods[] = {
    {"delete", &LMP_Font::deleteFont},
    {nullptr, nullptr},
};

int LMP_iPushFont(lua_State* L, VIEW_Font* font)
{
    if (!font) return 0;
    LMP_Binding<LMP_Font>::pushRecord(L, font);
    return 1;
}

LMP_BIND_CLASS(Font, LMP_Font);
