// Stages of keyframe animations: the world frees its tracks and drops those
// whose target was deleted.
#include "physics/MDL_SceneStages.h"

#include "model/MDL_Animation.h"
#include "model/MDL_Object.h"

void MDL_iDestroyAnimation(MDL_Animation* animation) { delete animation; }
bool MDL_iAnimationTargetDeleted(const MDL_Animation* animation)
{
  return animation && (!animation->target || animation->target->deleted);
}
