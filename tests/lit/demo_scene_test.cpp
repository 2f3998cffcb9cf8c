// The demo's mirror floor scene file loads into a mirror mesh that the scene
// drawing can take its plane from.
#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"
#include "render/VIEW_Scene3D.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

TEST(DemoScene, MirrorFloorLoadsAsAMirror)
{
    std::ifstream in(HALVORIN_SOURCE_DIR "/content/demo/lit.xml");
    ASSERT_TRUE(in.good());
    std::stringstream text;
    text << in.rdbuf();
    MDL_ModelsSet* set = MDL_iLoadModelsSetFromText("lit.xml", text.str().c_str());
    ASSERT_NE(set, nullptr);
    MDL_Object* o = MDL_ModelsSet::getObject(set, "Mirror floor");
    ASSERT_NE(o, nullptr);
    ASSERT_EQ(o->type, OBJECT_MESH);
    MDL_Mesh* floor = static_cast<MDL_Mesh*>(o);
    ASSERT_NE(floor->material, nullptr);
    EXPECT_TRUE(floor->material->mirror);
    EXPECT_FALSE(VIEW_iDrawsOpaque(*floor));
    EXPECT_FALSE(VIEW_iDrawsTransparent(*floor));
    VIEW_MirrorPlane plane;
    ASSERT_TRUE(VIEW_iMirrorPlane(*floor, plane));
    EXPECT_DOUBLE_EQ(plane.point.z, 0);
    EXPECT_DOUBLE_EQ(plane.normal.z, 1);
    delete set;
}
