// The demo package's overlay part: started as the player starts it, it
// leaves a viewport with a camera and a scene holding its three overlays.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Text.h"
#include "model/MDL_Viewport.h"
#include "package/CTRL_PackageLoad.h"
#include "physics/MDL_Scene.h"
#include "tests/overlay/overlay_rig.h"

namespace {

// Loads the demo package as the player embeds it and starts its scripts.
void startDemo(ScriptRig& rig)
{
    std::ifstream in(HALVORIN_BINARY_DIR "/content/demo.pkg", std::ios::binary);
    ASSERT_TRUE(in) << "the demo package is built with the player";
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto* package = new CTRL_Package();
    ASSERT_TRUE(CTRL_iResizeByteBuffer(package, uint32_t(bytes.size())));
    std::copy(bytes.begin(), bytes.end(), package->data);
    ASSERT_TRUE(CTRL_iLoadPackage(rig.controller, package));
    ASSERT_TRUE(rig.engine->start()) << rig.firstError();
}

}  // namespace

TEST(DemoOverlay, ViewportAndOverlaysExist)
{
    ScriptRig rig;
    ASSERT_NO_FATAL_FAILURE(startDemo(rig));
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

// No viewport drawn later covers a caption of an earlier one: every text of
// a viewport's scene, laid out and placed in drawing-area units, lies clear
// of every viewport that follows it in the list.
TEST(DemoOverlay, NoViewportCoversACaption)
{
    ScriptRig rig;
    ASSERT_NO_FATAL_FAILURE(startDemo(rig));

    const auto& vps = rig.controller->viewports;
    int captions = 0;
    for (int32_t i = 0; i < vps.count; i++) {
        MDL_Viewport* vp = vps[i];
        MDL_Scene* scene = vp->camera ? vp->camera->scene : nullptr;
        if (!scene) continue;
        for (MDL_Object* o : scene->overlays) {
            if (o->type != OBJECT_TEXT || !(o->state & STATE_VISIBLE)) continue;
            auto* text = static_cast<MDL_Text*>(o);
            text->layout();
            const v3& at = text->getGlobalFrame().position;
            // The text's rectangle in drawing-area units.
            double x0 = vp->originX + (at.x + text->bounds[0]) * vp->width;
            double x1 = vp->originX + (at.x + text->bounds[2]) * vp->width;
            double y0 = vp->originY + (at.y + text->bounds[1]) * vp->width;
            double y1 = vp->originY + (at.y + text->bounds[3]) * vp->width;
            if (x1 <= x0 || y1 <= y0) continue;
            captions++;
            for (int32_t j = i + 1; j < vps.count; j++) {
                MDL_Viewport* over = vps[j];
                if (!over->camera) continue;
                bool apart = x1 <= over->originX || x0 >= over->originX + over->width || y1 <= over->originY ||
                             y0 >= over->originY + over->height;
                EXPECT_TRUE(apart) << "viewport " << j << " covers the caption \""
                                   << (text->text ? text->text : "") << "\" of viewport " << i;
            }
        }
    }
    EXPECT_GE(captions, 3);
}
