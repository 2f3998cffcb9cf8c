// The demo package as the player embeds it: verified, then started through
// the real engine; its entry script greets through print.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "package/CTRL_PackageLoad.h"
#include "script_rig.h"

namespace {

TEST(Demo, StartsAndGreets) {
  std::ifstream in(HALVORIN_BINARY_DIR "/content/demo.pkg", std::ios::binary);
  ASSERT_TRUE(in) << "the demo package is built with the player";
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  auto* engine = new LMP_Engine();
  TestController controller(engine);
  auto* package = new CTRL_Package();
  ASSERT_TRUE(CTRL_iResizeByteBuffer(package, uint32_t(bytes.size())));
  std::copy(bytes.begin(), bytes.end(), package->data);
  ASSERT_TRUE(CTRL_iLoadPackage(&controller, package));
  CTRL_DebugCapture log;
  EXPECT_TRUE(engine->start()) << (controller.errors.empty() ? "" : controller.errors.front());
  EXPECT_NE(log.text().find("Hello from the Halvorin demo"), std::string::npos) << log.text();
  EXPECT_EQ(controller.stage, STAGE_RUNNING);
}

}  // namespace
