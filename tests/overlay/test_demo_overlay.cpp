// The demo package's overlay part: started as the player starts it, it
// leaves a viewport with a camera and a scene holding its three overlays.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "package/CTRL_PackageLoad.h"
#include "physics/MDL_Scene.h"
#include "tests/overlay/overlay_rig.h"

TEST(DemoOverlay, ViewportAndOverlaysExist)
{
    std::ifstream in(HALVORIN_BINARY_DIR "/content/demo.pkg", std::ios::binary);
    ASSERT_TRUE(in) << "the demo package is built with the player";
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ScriptRig rig;
    auto* package = new CTRL_Package();
    ASSERT_TRUE(CTRL_iResizeByteBuffer(package, uint32_t(bytes.size())));
    std::copy(bytes.begin(), bytes.end(), package->data);
    ASSERT_TRUE(CTRL_iLoadPackage(rig.controller, package));
    ASSERT_TRUE(rig.engine->start()) << rig.firstError();
    EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
    EXPECT_NE(rig.log.text().find("overlay: frame of 4 points"), std::string::npos) << rig.log.text();

    // Other parts of the demo add viewports of their own: find the one whose
    // scene holds the overlays.
    ASSERT_GE(rig.controller->viewports.count, 1);
    int texts = 0, images = 0, lines = 0;
    for (MDL_Viewport* vp : rig.controller->viewports) {
        MDL_Scene* scene = vp->camera ? vp->camera->scene : nullptr;
        if (!scene || scene->overlays.count == 0) continue;
        for (MDL_Object* o : scene->overlays) {
            texts += o->type == OBJECT_TEXT;
            images += o->type == OBJECT_IMAGE;
            lines += o->type == OBJECT_POLYLINE;
        }
        break;
    }
    EXPECT_GE(texts, 1);
    EXPECT_EQ(images, 1);
    EXPECT_EQ(lines, 1);
}
