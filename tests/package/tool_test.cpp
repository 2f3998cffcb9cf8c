// halvorin-pack on the command line: keys, packages, embedding and errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/CTRL_Array.h"
#include "package/CTRL_Embedded.h"
#include "package/CTRL_PackageLoad.h"
#include "pack.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int status;
  std::string out, err;
};

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("halvorin_tool_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Result run(const std::string& args) {
    std::string cmd = std::string(HALVORIN_PACK_TOOL) + " " + args + " >" + (dir_ / "out").string() + " 2>" +
                      (dir_ / "err").string();
    int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir_ / "out"), slurp(dir_ / "err")};
  }
  static std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void put(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }
  std::string path(const std::string& name) { return (dir_ / name).string(); }

  fs::path dir_;
};

std::string noise(size_t n) {
  std::string s(n, 0);
  uint32_t x = 99;
  for (char& c : s) {
    x = x * 1664525u + 1013904223u;
    c = char(x >> 24);
  }
  return s;
}

}  // namespace

TEST_F(Tool, HelpAndUsage) {
  Result help = run("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"keygen KEYFILE", "build DIR KEYFILE -o PACKAGE [--store]", "embed PLAYER PACKAGE -o OUTPUT"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  Result none = run("");
  EXPECT_NE(none.status, 0);
  EXPECT_NE(none.err.find("usage: halvorin-pack"), std::string::npos);
}

// A folder without the version file or the entry script still packs, with a
// warning naming what is missing; a complete folder packs silently.
TEST_F(Tool, BuildWarnsOfAMissingConfigOrEntryScript) {
  ASSERT_EQ(run("keygen " + path("k.key")).status, 0);
  put(dir_ / "none/readme.txt", "x");
  put(dir_ / "half/init.lua", "");
  put(dir_ / "full/init.lua", "");
  put(dir_ / "full/config.xml", "<kolma><version major=\"1\"/></kolma>");
  struct {
    const char* dir;
    bool warnsConfig, warnsInit;
  } cases[] = {{"none", true, true}, {"half", true, false}, {"full", false, false}};
  for (const auto& c : cases) {
    Result r = run("build " + path(c.dir) + " " + path("k.key") + " -o " + path("p.pkg"));
    EXPECT_EQ(r.status, 0) << c.dir;
    EXPECT_EQ(r.err.find("no config.xml") != std::string::npos, c.warnsConfig) << c.dir << ": " << r.err;
    EXPECT_EQ(r.err.find("no init.lua") != std::string::npos, c.warnsInit) << c.dir << ": " << r.err;
  }
  EXPECT_EQ(run("build " + path("full") + " " + path("k.key") + " -o " + path("p.pkg")).err, "");
}

// A version file the player would refuse and an entry script that does not
// compile still pack, each with one warning naming the file and the line.
TEST_F(Tool, BuildWarnsOfAVersionOrScriptThePlayerRefuses) {
  ASSERT_EQ(run("keygen " + path("k.key")).status, 0);
  const std::string good = "<?xml version=\"1.0\"?>\n<kolma>\n  <version major=\"1\" minor=\"6\" patch=\"4\"/>\n</kolma>\n";
  struct {
    const char* config;  // null: the good one
    const char* init;
    const char* warning;  // null: none
  } cases[] = {
      {nullptr, "function startup() end\n", nullptr},
      {"<kolma>\n\n<version major=\"1\" minor=\"7\"/>\n</kolma>\n", "", "config.xml:3: asks for version 1.7.0"},
      {"<nerl>\n<version major=\"2\"/></nerl>\n", "", "config.xml:2: asks for version 2.0.0"},
      {"<kolma><version major=\"0\" minor=\"99\"/></kolma>", "", nullptr},
      {"<kolma>\n<other/></kolma>\n", "", "config.xml: has no <version> element"},
      {"<kolma>\n<version major=\"1\">\n</kolma>\n", "", "config.xml:3: is not well-formed XML"},
      {nullptr, "x = 1\nfunction startup()\n  y = = 2\nend\n", "init.lua:3: unexpected symbol near '='"},
      {nullptr, "\xEF\xBB\xBF#!/usr/bin/lua\n\nstartup(\n", "init.lua:4: unexpected symbol near <eof>"},
      {nullptr, "#!/usr/bin/lua\nfunction startup() end\n", nullptr},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_ / "src");
    put(dir_ / "src/config.xml", c.config ? c.config : good);
    put(dir_ / "src/init.lua", c.init);
    Result r = run("build " + path("src") + " " + path("k.key") + " -o " + path("p.pkg"));
    EXPECT_EQ(r.status, 0) << r.err;
    if (!c.warning) {
      EXPECT_EQ(r.err, "") << c.init;
      continue;
    }
    EXPECT_EQ(r.err.rfind(std::string("halvorin-pack: warning: ") + c.warning, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

TEST_F(Tool, BuildsASignedPackageThatReadsBack) {
  ASSERT_EQ(run("keygen " + path("k.key")).status, 0);
  PackKey key;
  std::string error;
  ASSERT_TRUE(PACK_readKey(path("k.key"), &key, &error)) << error;

  const std::string text(4000, 'z'), random = noise(3000);
  put(dir_ / "src/config.xml", "<kolma/>\n");
  put(dir_ / "src/deep/er/text.txt", text);
  put(dir_ / "src/random.bin", random);
  put(dir_ / "src/empty", "");

  for (bool store : {false, true}) {
    Result r = run("build " + path("src") + " " + path("k.key") + " -o " + path("p.pkg") + (store ? " --store" : ""));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string pkg = slurp(dir_ / "p.pkg");
    PackBytes bytes(pkg.begin(), pkg.end());
    uint8_t digest[16];
    CTRL_iUnscrambleAndHash(bytes.data(), bytes.size(), bytes.size() - 128, digest);
    EXPECT_TRUE(CTRL_iCheckSignature(digest, bytes.data() + bytes.size() - 128, key.modulus.data()));

    struct {
      const char* name;
      const std::string& body;
      uint16_t method;
    } files[] = {{"deep/er/text.txt", text, uint16_t(store ? 0 : 8)},
                 {"random.bin", random, 0},  // deflating would not shrink it
                 {"empty", "", 0}};
    for (const auto& f : files) {
      CTRL_Record rec;
      ASSERT_TRUE(CTRL_iFindRecord(bytes.data(), bytes.size(), f.name, strlen(f.name), &rec)) << f.name;
      EXPECT_EQ(rec.method, f.method) << f.name;
      CTRL_Extracted e = CTRL_iExtractFile(bytes.data(), bytes.size(), f.name, strlen(f.name), false);
      ASSERT_EQ(e.status, CTRL_EXTRACT_OK);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(e.data), e.size), f.body) << f.name;
      if (e.owned) free(e.data);
    }
  }
}

TEST_F(Tool, EmbedReplacesThePackageOfAPlayer) {
  put(dir_ / "player", "\x7f" "ELF pretend player " CTRL_PLAYER_MARK);
  put(dir_ / "a.pkg", std::string(200, 'a'));
  put(dir_ / "b.pkg", std::string(300, 'b'));
  ASSERT_EQ(run("embed " + path("player") + " " + path("a.pkg") + " -o " + path("p1")).status, 0);
  ASSERT_EQ(run("embed " + path("p1") + " " + path("b.pkg") + " -o " + path("p2")).status, 0);

  struct stat st;
  ASSERT_EQ(stat(path("p2").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  std::string p2 = slurp(dir_ / "p2");
  EXPECT_EQ(p2.size(), slurp(dir_ / "player").size() + 300 + CTRL_EMBED_TRAILER);
  EXPECT_EQ(p2.rfind("\x7f" "ELF pretend player " CTRL_PLAYER_MARK, 0), 0u);

  CTRL_Package* pkg = CTRL_iReadEmbeddedPackage(path("p2").c_str());
  ASSERT_NE(pkg, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(pkg->data), pkg->size), std::string(300, 'b'));
  CTRL_iFreePackage(pkg);
  EXPECT_EQ(CTRL_iReadEmbeddedPackage(path("player").c_str()), nullptr);  // none embedded
  EXPECT_EQ(CTRL_iReadEmbeddedPackage(path("missing").c_str()), nullptr);
}

TEST_F(Tool, FailuresAreOneLineAndNonZero) {
  ASSERT_EQ(run("keygen " + path("k.key")).status, 0);
  put(dir_ / "src/a.txt", "a\n");
  put(dir_ / "garbage.key", "modulus 1234\n");
  put(dir_ / "small.pkg", "tiny");
  put(dir_ / "big.pkg", std::string(300, 'p') + CTRL_PLAYER_MARK);
  put(dir_ / "program", "\x7f" "ELF some other program");
  const std::string cases[] = {
      "frobnicate",
      "keygen",
      "keygen " + path("no/such/dir/k.key"),
      "build " + path("missing") + " " + path("k.key") + " -o " + path("p.pkg"),
      "build " + path("src") + " " + path("nokey") + " -o " + path("p.pkg"),
      "build " + path("src") + " " + path("garbage.key") + " -o " + path("p.pkg"),
      "build " + path("src") + " " + path("k.key"),
      "build " + path("src") + " " + path("k.key") + " -o " + path("p.pkg") + " --bogus",
      "build " + path("src") + " " + path("k.key") + " -o " + path("no/dir/p.pkg"),
      "embed " + path("missing") + " " + path("small.pkg") + " -o " + path("out"),
      "embed " + path("small.pkg") + " " + path("small.pkg") + " -o " + path("out"),
      // Only a player takes a package: not a text, not another program, not the tool itself.
      "embed " + path("big.pkg") + " " + path("big.pkg") + " -o " + path("made"),
      "embed " + path("program") + " " + path("big.pkg") + " -o " + path("made"),
      "embed " + std::string(HALVORIN_PACK_TOOL) + " " + path("big.pkg") + " -o " + path("made"),
  };
  for (const std::string& args : cases) {
    Result r = run(args);
    EXPECT_NE(r.status, 0) << args;
    EXPECT_EQ(r.err.rfind("halvorin-pack: ", 0), 0u) << args << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
  }
  EXPECT_FALSE(fs::exists(dir_ / "p.pkg"));
  EXPECT_FALSE(fs::exists(dir_ / "made"));
}

TEST(PackRecords, NamesOutsideTheRecordLimitsAreRefused) {
  PackBytes out;
  std::string error;
  EXPECT_FALSE(PACK_makeRecords({{std::string(70000, 'n'), PackBytes{1}}}, false, &out, &error));
  EXPECT_NE(error.find("name does not fit"), std::string::npos);
  EXPECT_FALSE(PACK_makeRecords({{"", PackBytes{1}}}, false, &out, &error));
  EXPECT_TRUE(PACK_makeRecords({{std::string(65535, 'n'), PackBytes{1}}}, false, &out, &error));
}
