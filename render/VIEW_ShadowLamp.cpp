// Which lamp throws the shadows and which meshes throw them.
#include "render/VIEW_Shadow.h"

#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "render/VIEW_Scene3D.h"

MDL_Lamp* VIEW_iFindShadowLamp(const CTRL_Array<MDL_Object*>& lamps, int32_t* lightIndex)
{
    int32_t light = 0;
    for (int32_t i = 0; i < lamps.count && light < VIEW_MAX_LIGHTS; i++) {
        MDL_Object* o = lamps[i];
        if (!o || o->type != OBJECT_LAMP)
            continue;
        MDL_Lamp* lamp = static_cast<MDL_Lamp*>(o);
        if (!lamp->on)
            continue;
        if (lamp->shadows) {
            if (lightIndex)
                *lightIndex = light;
            return lamp;
        }
        light++;
    }
    if (lightIndex)
        *lightIndex = -1;
    return nullptr;
}

bool VIEW_iCastsShadow(MDL_Object* object)
{
    if (!object || (object->type != OBJECT_MESH && object->type != OBJECT_ANIMATED_MESH))
        return false;
    MDL_Mesh* mesh = static_cast<MDL_Mesh*>(object);
    if (!(mesh->state & STATE_VISIBLE) || !mesh->meshData || mesh->meshData->triangleCount == 0)
        return false;
    const MDL_Material* m = mesh->material;
    return !m || (m->castShadows && !VIEW_iIsTranslucent(m));
}
