// Scene files: the XML loader with all its sections and passes, then the
// mesh operations that walk what it built (copies, ray picking).
#include <cstdint>
#include <cstring>
#include <string>

#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    MDL_ModelsSet* set = MDL_iLoadModelsSetFromText("fuzz.xml", text.c_str());
    if (!set) return 0;
    for (MDL_Object* o : set->objects) {
        if (o->type != OBJECT_MESH && o->type != OBJECT_ANIMATED_MESH) continue;
        MDL_Mesh* mesh = static_cast<MDL_Mesh*>(o);
        double t = 1e300;
        uint32_t tri = 0;
        mesh->intersectRay({0.1, 0.2, 10}, {0.1, 0.2, -10}, &t, &tri);
        MDL_Mesh* copy = new MDL_Mesh(*mesh);
        copy->setOwnMaterial();
        delete copy;
    }
    MDL_ModelsSet::release(set);
    return 0;
}
