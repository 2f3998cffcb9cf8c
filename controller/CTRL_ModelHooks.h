// Frame work that the controller hands to records whose behaviour lives with
// the animation, rigid-body and video code. The controller calls these and
// nothing else of those records.
#pragma once

class MDL_Object;
class MDL_Animation;
class VIEW_Stream;

// Skins an animated mesh from its bones when one of them moved (not forced).
void MDL_iUpdateAnimatedMesh(MDL_Object* mesh);
// Advances a keyframe track by dt when it is playing.
void MDL_iUpdateAnimation(MDL_Animation* animation, double dt);
// Friction of a rigid body (an object of type RigidBody).
double MDL_iGetBodyFriction(MDL_Object* body);
void MDL_iSetBodyFriction(MDL_Object* body, double friction);
// Destroys and frees a video.
void VIEW_iDestroyStream(VIEW_Stream* stream);
