// Scene files: the XML loader with all its sections and passes, then the
// mesh operations that walk what it built (copies, ray picking), and the
// skeletons: the file's trees cloned into a world (bones remapped), every
// animated mesh skinned and copied, every bone reaching for a point, and
// every animation played on an object.
#include <cstdint>
#include <cstring>
#include <string>

#include "model/MDL_Animation.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"
#include "physics/MDL_Scene.h"

static void MDL_iExerciseSkeletons(MDL_ModelsSet* set)
{
    MDL_Scene world;
    for (MDL_Object* o : set->objects)
        if (!o->parent) world.clone(o);
    const int32_t count = world.objects.count;
    for (int32_t i = 0; i < count; i++) {
        MDL_Object* o = world.objects[i];
        if (o->type == OBJECT_BONE) {
            auto* bone = static_cast<MDL_Bone*>(o);
            v3 tip;
            MDL_Frame::localToGlobalPoint(bone->getGlobalFrame(), {1, 0, 0}, tip);
            bone->movePoint(tip, {0.3, 0.7, 1.1}, nullptr);
            bone->applyLimits();
        }
    }
    for (int32_t i = 0; i < count; i++) {
        MDL_Object* o = world.objects[i];
        if (o->type != OBJECT_ANIMATED_MESH) continue;
        auto* mesh = static_cast<MDL_AnimatedMesh*>(o);
        mesh->update(false);
        mesh->update(true);
        MDL_AnimatedMesh copy(*mesh);
        copy.update(true);
    }
    if (count > 0)
        for (MDL_AnimationData* d : set->animationData) {
            MDL_Animation track(world.objects[0], d);
            for (int step = 0; step < 8; step++) track.update(0.37);
            track.time = -1;
            track.update(0);
        }
}

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
    MDL_iExerciseSkeletons(set);
    MDL_ModelsSet::release(set);
    return 0;
}
