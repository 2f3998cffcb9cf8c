#include "physics/MDL_Contact.h"
#include "physics/MDL_Scene.h"

void MDL_Scene::resolveContacts(CTRL_ScriptEngine*) {}
bool MDL_Scene::collide(MDL_CollisionVolume*, MDL_CollisionVolume*, v3&, v3&, double&) { return false; }
