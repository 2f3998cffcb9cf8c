#include <gtest/gtest.h>

#include <string>

#include "package/CTRL_File.h"

TEST(DebugLog, FormatsCutsAtBufferAndEndsWithNewline) {
  CTRL_DebugCapture capture;
  CTRL_iDebugLog("value %d of %s", 7, "x");
  EXPECT_EQ(capture.text(), "value 7 of x\n");

  capture.clear();
  std::string big(5000, 'a');
  CTRL_iDebugLog("%s", big.c_str());
  EXPECT_EQ(capture.text(), std::string(1023, 'a') + "\n");

  // Text handed in as it stands keeps its percent signs.
  capture.clear();
  CTRL_iDebugLogText("100% %s done");
  EXPECT_EQ(capture.text(), "100% %s done\n");
}

TEST(DebugLog, CaptureRestoresThePreviousSink) {
  CTRL_DebugCapture outer;
  {
    CTRL_DebugCapture inner;
    CTRL_iDebugLog("inner");
    EXPECT_EQ(inner.text(), "inner\n");
  }
  CTRL_iDebugLog("outer");
  EXPECT_EQ(outer.text(), "outer\n");
}
