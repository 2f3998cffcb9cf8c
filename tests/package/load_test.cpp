// Loading a package into a controller: signature, "config.xml" and the
// error stop of each stage.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "halvorin_key.h"
#include "package/CTRL_File.h"
#include "package/CTRL_PackageLoad.h"
#include "test_controller.h"

namespace {

PackBytes bytesOf(const std::string& s) { return PackBytes(s.begin(), s.end()); }

const PackKey& playerKey() {
  static PackKey key;
  static bool loaded = false;
  if (!loaded) {
    std::string error;
    loaded = PACK_readKey(HALVORIN_KEY_FILE, &key, &error);
    EXPECT_TRUE(loaded) << error;
  }
  return key;
}

PackBytes sealed(const PackBytes& records) {
  PackBytes pkg;
  std::string error;
  EXPECT_TRUE(PACK_sealPackage(records, playerKey(), &pkg, &error)) << error;
  return pkg;
}

PackBytes packageWith(const std::string& config, bool store = true) {
  std::vector<PackEntry> entries = {{"config.xml", bytesOf(config)}, {"init.lua", bytesOf("startup = nil\n")}};
  PackBytes records;
  std::string error;
  EXPECT_TRUE(PACK_makeRecords(entries, store, &records, &error)) << error;
  return sealed(records);
}

std::string versionXml(const std::string& attrs, const std::string& root = "kolma") {
  return "<?xml version=\"1.0\"?>\n<" + root + ">\n  <version " + attrs + "/>\n</" + root + ">\n";
}

}  // namespace

TEST(Load, ConfigVersions) {
  struct Case {
    std::string config;
    bool accepted;
    int major, minor, patch;
  } cases[] = {
      {versionXml("major=\"1\" minor=\"6\" patch=\"4\""), true, 1, 6, 4},
      {versionXml("major=\"1\" minor=\"6\" patch=\"5\""), false, 1, 6, 5},
      {versionXml("major=\"1\" minor=\"7\" patch=\"0\""), false, 1, 7, 0},
      {versionXml("major=\"2\" minor=\"0\" patch=\"0\""), false, 2, 0, 0},
      {versionXml("major=\"0\" minor=\"9\" patch=\"9\""), true, 0, 9, 9},
      {versionXml("major=\"1\" minor=\"5\" patch=\"99\""), true, 1, 5, 99},
      {versionXml(""), true, 0, 0, 0},  // no attributes: 0.0.0
      {versionXml("major=\"x\" minor=\"6\""), true, 0, 6, 0},  // not an integer: left at 0
      {versionXml("major=\"1\" minor=\"6\" patch=\"4\"", "nerl"), true, 1, 6, 4},
      {versionXml("major=\"1\"", "Kolma"), false, 0, 0, 0},  // root names are case-sensitive
      {"<kolma><other/></kolma>\n", false, 0, 0, 0},
      {"<kolma><version major=\"1\"></kolma>\n", false, 0, 0, 0},  // not well-formed
      {"", false, 0, 0, 0},
      {"\n", false, 0, 0, 0},
      {"\xEF\xBB\xBF" + versionXml("major=\"1\" minor=\"2\""), true, 1, 2, 0},  // byte-order mark
  };
  for (const Case& c : cases) {
    for (bool store : {true, false}) {
      TestController ctl;
      CTRL_Package* pkg = newPackage(packageWith(c.config, store));
      bool ok = CTRL_iLoadPackage(&ctl, pkg);
      EXPECT_EQ(ok, c.accepted) << c.config;
      EXPECT_EQ(bool(ctl.halted), !c.accepted) << c.config;
      EXPECT_EQ(ctl.stage, STAGE_CONFIG) << c.config;
      EXPECT_EQ(ctl.package != nullptr, c.accepted) << c.config;
      EXPECT_EQ(ctl.version[0], c.major) << c.config;
      EXPECT_EQ(ctl.version[1], c.minor) << c.config;
      EXPECT_EQ(ctl.version[2], c.patch) << c.config;
      if (!c.accepted) {
        ASSERT_NE(ctl.message, nullptr);
        EXPECT_STREQ(ctl.message, "You are trying to open a file not compatible with your player.");
        ASSERT_FALSE(ctl.errors.empty());
        EXPECT_EQ(ctl.errors.back().rfind("Problem reading ", 0), 0u);
      }
    }
  }
}

// A configuration nested far deeper than the parser's stack allows is
// refused at the configuration stage; moderate nesting is still read.
TEST(Load, DeeplyNestedConfigIsRefusedAtTheConfigStage) {
  auto nested = [](int levels) {
    std::string s;
    for (int i = 0; i < levels; i++) s += "<n>";
    for (int i = 0; i < levels; i++) s += "</n>";
    return s;
  };
  const std::string version = "<version major=\"1\" minor=\"2\"/>";
  struct Case {
    std::string config;
    bool accepted;
  } cases[] = {
      {"<kolma>" + nested(100000) + version + "</kolma>\n", false},
      {"<kolma>" + version + nested(100) + "</kolma>\n", true},
  };
  for (const Case& c : cases) {
    TestController ctl;
    EXPECT_EQ(CTRL_iLoadPackage(&ctl, newPackage(packageWith(c.config))), c.accepted);
    EXPECT_EQ(ctl.stage, STAGE_CONFIG);
    EXPECT_EQ(bool(ctl.halted), !c.accepted);
    if (!c.accepted) {
      EXPECT_STREQ(ctl.message, "You are trying to open a file not compatible with your player.");
    }
  }
}

TEST(Load, BadPackagesStopAtTheFirstStage) {
  PackBytes good = packageWith(versionXml("major=\"1\""));
  PackBytes flipped = good;
  flipped[40] ^= 0x10;
  PackBytes badSignature = good;
  badSignature.back() ^= 0x01;
  struct Case {
    const char* what;
    PackBytes bytes;
  } cases[] = {
      {"empty", {}},
      {"shorter than a signature", PackBytes(good.end() - 100, good.end())},
      {"signature only", PackBytes(good.end() - 128, good.end())},
      {"a changed byte", flipped},
      {"a changed signature", badSignature},
      {"truncated", PackBytes(good.begin(), good.end() - 1)},
      {"not scrambled", PackBytes(good.size(), 0)},
  };
  for (const Case& c : cases) {
    TestController ctl;
    EXPECT_FALSE(CTRL_iLoadPackage(&ctl, newPackage(c.bytes))) << c.what;
    EXPECT_TRUE(ctl.halted) << c.what;
    EXPECT_EQ(ctl.stage, STAGE_PACKAGE) << c.what;
    EXPECT_EQ(ctl.package, nullptr) << c.what;  // and its bytes are freed
    ASSERT_NE(ctl.message, nullptr);
    EXPECT_STREQ(ctl.message, "Error opening the file, the file is corrupted.\nPlease check with your content provider.");
  }
  TestController ctl;
  EXPECT_FALSE(CTRL_iLoadPackage(&ctl, nullptr));
  EXPECT_TRUE(ctl.halted);
}

TEST(Load, AcceptedPackageIsTrimmedAndUnscrambled) {
  TestController ctl;
  PackBytes bytes = packageWith(versionXml("major=\"1\" minor=\"2\" patch=\"3\""));
  CTRL_Package* pkg = newPackage(bytes);
  // A buffer with spare capacity, as a growing copy would leave it.
  pkg->data = static_cast<uint8_t*>(realloc(pkg->data, bytes.size() + 4096));
  pkg->capacity = uint32_t(bytes.size() + 4096);
  ASSERT_TRUE(CTRL_iLoadPackage(&ctl, pkg));
  EXPECT_FALSE(ctl.halted);
  EXPECT_EQ(ctl.package, pkg);
  EXPECT_EQ(pkg->capacity, pkg->size);
  EXPECT_TRUE(ctl.errors.empty());

  uint8_t* data;
  uint32_t size;
  EXPECT_FALSE(CTRL_iReadPackageFile(&ctl, "init.lua", &data, &size, false));  // stored: not owned
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "startup = nil\n");
  EXPECT_GE(data, pkg->data);
  EXPECT_LT(data, pkg->data + pkg->size);
  EXPECT_FALSE(CTRL_iReadPackageFile(&ctl, "nothing", &data, &size, false));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(size, 0u);
}

TEST(Load, ConfigWithoutFinalNewlineHaltsAtTheConfigStage) {
  TestController ctl;
  ASSERT_TRUE(CTRL_iLoadPackage(&ctl, newPackage(packageWith("<kolma><version major=\"1\"/></kolma>x"))));
  EXPECT_TRUE(ctl.halted);
  ASSERT_EQ(ctl.errors.size(), 1u);
  EXPECT_EQ(ctl.errors[0], "No newline at end of file config.xml");
  EXPECT_STREQ(ctl.message, "You are trying to open a file not compatible with your player.");
  EXPECT_EQ(ctl.version[0], 1);  // the version was still read
}

TEST(Load, FileReadErrorsReachTheController) {
  std::string body = "<kolma><version/></kolma>\n";
  PackBytes z;
  ASSERT_TRUE(PACK_deflate(bytesOf(body), &z));
  PackBytes damaged = z;
  damaged[0] |= 0x06;  // block type 3 does not exist

  {  // Unknown compression stops the player.
    PackBytes records;
    PACK_appendRecord(&records, "config.xml", 14, bytesOf(body), uint32_t(body.size()));
    TestController ctl;
    EXPECT_FALSE(CTRL_iLoadPackage(&ctl, newPackage(sealed(records))));
    ASSERT_FALSE(ctl.errors.empty());
    EXPECT_EQ(ctl.errors[0], "Unknown compression type for file config.xml");
    EXPECT_EQ(ctl.stage, STAGE_CONFIG);
  }
  {  // A damaged stream is not handed out: the config is missing.
    PackBytes records;
    PACK_appendRecord(&records, "config.xml", 8, damaged, uint32_t(body.size()));
    TestController ctl;
    CTRL_DebugCapture log;
    EXPECT_FALSE(CTRL_iLoadPackage(&ctl, newPackage(sealed(records))));
    EXPECT_NE(log.text().find("config.xml"), std::string::npos);
    EXPECT_EQ(ctl.errors.size(), 1u);  // only the load failure
  }
  {  // Without a package nothing is found.
    TestController ctl;
    uint8_t* data = reinterpret_cast<uint8_t*>(&ctl);
    uint32_t size = 7;
    EXPECT_FALSE(CTRL_iReadPackageFile(&ctl, "config.xml", &data, &size, true));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
  }
}

TEST(Load, TheDemoPackageOfTheBuildIsAccepted) {
  std::string error;
  PackBytes bytes;
  ASSERT_TRUE(PACK_readFile(HALVORIN_BINARY_DIR "/content/demo.pkg", &bytes, &error)) << error;
  TestController ctl;
  EXPECT_TRUE(CTRL_iLoadPackage(&ctl, newPackage(bytes)));
  EXPECT_FALSE(ctl.halted);
  uint8_t* data;
  uint32_t size;
  bool owned = CTRL_iReadPackageFile(&ctl, "config.xml", &data, &size, false);
  EXPECT_NE(data, nullptr);
  if (owned) free(data);
}
