// Stages of keyframe animations, which have no records yet: their list
// stays empty and these do nothing.
#include "physics/MDL_SceneStages.h"

void MDL_iDestroyAnimation(MDL_Animation*) {}
bool MDL_iAnimationTargetDeleted(const MDL_Animation*) { return false; }
