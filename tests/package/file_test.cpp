// The file layer: package entries, "//" disk files and the standard-stream
// handles.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/CTRL_File.h"
#include "package/CTRL_PackageLoad.h"
#include "test_controller.h"

namespace fs = std::filesystem;

namespace {

PackBytes bytesOf(const std::string& s) { return PackBytes(s.begin(), s.end()); }

const std::string kInit = "-- the entry script\nprint('hello')\n";
const std::string kBig(5000, 'b');

// A controller holding an (already unscrambled) record run.
class FileLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    PackBytes records, z;
    PACK_appendRecord(&records, "init.lua", 0, bytesOf(kInit), uint32_t(kInit.size()));
    ASSERT_TRUE(PACK_deflate(bytesOf(kBig), &z));
    PACK_appendRecord(&records, "data/big.txt", 8, z, uint32_t(kBig.size()));
    PACK_appendRecord(&records, "./", 0, bytesOf("dot"), 3);
    records.insert(records.end(), 128, 0);
    ctl.package = newPackage(records);
  }
  std::string readAll(CTRL_File* f) {
    std::string s;
    char buf[7];
    size_t n;
    while ((n = CTRL_iFileRead(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
  }
  TestController ctl;
};

// Runs in a fresh current directory, restored afterwards.
class DiskFiles : public FileLayer {
 protected:
  void SetUp() override {
    FileLayer::SetUp();
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("halvorin_files_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "data");
    fs::create_directories(dir_ / "pkgdir" / "data");
    std::ofstream(dir_ / "data" / "a.txt") << "disk a\n";
    std::ofstream(dir_ / "pkgdir" / "data" / "a.txt") << "beside the package\n";
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  fs::path old_, dir_;
};

}  // namespace

TEST_F(FileLayer, OpensEntriesByExactName) {
  struct Case {
    const char* path;
    const char* content;  // null: not found
  } cases[] = {
      {"init.lua", kInit.c_str()},  {"./init.lua", kInit.c_str()}, {"./", "dot"},  // "./" alone stays as it is
      {"init", nullptr},            {"init.lua.bak", nullptr},     {"INIT.LUA", nullptr},
      {"", nullptr},                {".", nullptr},
  };
  for (const Case& c : cases) {
    CTRL_File* f = CTRL_iFileOpen(&ctl, c.path, "r");
    if (!c.content) {
      EXPECT_EQ(f, nullptr) << c.path;
      continue;
    }
    ASSERT_NE(f, nullptr) << c.path;
    EXPECT_EQ(f->data, nullptr) << "extracted only when first read";
    EXPECT_EQ(readAll(f), c.content) << c.path;
    EXPECT_EQ(CTRL_iFileClose(f), 0);
  }
  EXPECT_EQ(CTRL_iFileOpen(nullptr, "init.lua", "r"), nullptr);
  TestController empty;
  EXPECT_EQ(CTRL_iFileOpen(&empty, "init.lua", "r"), nullptr);
}

TEST_F(FileLayer, ReadSeekAndGetcStayInsideTheEntry) {
  for (const char* name : {"init.lua", "data/big.txt"}) {
    CTRL_File* f = CTRL_iFileOpen(&ctl, name, "rb");
    ASSERT_NE(f, nullptr);
    const std::string& body = std::string(name) == "init.lua" ? kInit : kBig;
    int32_t size = int32_t(body.size());
    char buf[100];

    EXPECT_EQ(CTRL_iFileSeek(f, -10, SEEK_END), 0);
    EXPECT_EQ(f->position, size - 10);
    EXPECT_EQ(CTRL_iFileRead(buf, 4, 100, f), 10u);  // bytes, whatever the element size
    EXPECT_EQ(std::string(buf, 10), body.substr(size - 10));
    EXPECT_EQ(CTRL_iFileRead(buf, 1, 100, f), 0u);
    EXPECT_EQ(CTRL_iFileGetc(f), -1);

    struct Seek {
      long offset;
      int whence;
      int32_t position;
    } seeks[] = {
        {-4, SEEK_END, size - 4}, {5, SEEK_END, size}, {-3, SEEK_SET, 0},   {7, SEEK_SET, 7},
        {-2, SEEK_CUR, 5},        {-9, SEEK_CUR, 0},   {1L << 40, SEEK_CUR, size}, {-(1L << 40), SEEK_END, 0},
        // Offsets at the ends of the type saturate from every origin.
        {LONG_MAX, SEEK_END, size}, {9223372036854774784L, SEEK_END, size}, {LONG_MIN, SEEK_END, 0},
        {LONG_MAX, SEEK_SET, size}, {LONG_MIN, SEEK_SET, 0},
        {3, SEEK_SET, 3},           {LONG_MAX, SEEK_CUR, size}, {LONG_MIN, SEEK_CUR, 0},
        {LONG_MAX - 2, SEEK_CUR, size}, {-LONG_MAX, SEEK_CUR, 0},
    };
    for (const Seek& s : seeks) {
      EXPECT_EQ(CTRL_iFileSeek(f, s.offset, s.whence), 0);
      EXPECT_EQ(f->position, s.position) << s.offset << " from " << s.whence;
    }
    CTRL_iFileSeek(f, 3, SEEK_SET);
    EXPECT_EQ(CTRL_iFileSeek(f, 0, 42), -1);  // unknown origin: position kept
    EXPECT_EQ(f->position, 3);
    CTRL_iFileSeek(f, 1, SEEK_SET);
    EXPECT_EQ(CTRL_iFileGetc(f), uint8_t(body[1]));
    EXPECT_EQ(f->position, 2);
    // Package entries are read-only.
    EXPECT_EQ(CTRL_iFileWrite("x", 1, 1, f), 0);
    EXPECT_EQ(CTRL_iFilePrintf(f, "%d", 5), 0);
    EXPECT_EQ(f->ownsData, std::string(name) == "init.lua" ? 0 : 1);
    EXPECT_EQ(CTRL_iFileClose(f), 0);
  }
}

TEST_F(FileLayer, StandardStreamHandlesGoToTheDebugLog) {
  CTRL_DebugCapture log;
  std::string big(5000, 'w');
  EXPECT_EQ(CTRL_iFileWrite(big.data(), 1, big.size(), CTRL_FILE_STDOUT), 0);
  EXPECT_EQ(log.text(), std::string(1023, 'w') + "\n");

  log.clear();
  EXPECT_EQ(CTRL_iFileWrite("50% %s done", 1, 6, CTRL_FILE_STDERR), 0);  // text as it stands
  EXPECT_EQ(log.text(), "50% %s\n");

  log.clear();
  EXPECT_EQ(CTRL_iFilePrintf(CTRL_FILE_STDERR, "%d%% of %s", 5, "%s"), 0);
  EXPECT_EQ(log.text(), "5% of %s\n");

  log.clear();
  std::string longFormat(3000, 'f');
  CTRL_iFilePrintf(CTRL_FILE_STDOUT, "%s", longFormat.c_str());
  EXPECT_EQ(log.text(), std::string(1023, 'f') + "\n");

  // Reading, seeking, getc and close never treat a handle as a record.
  char buf[4];
  for (CTRL_File* h : {CTRL_FILE_STDOUT, CTRL_FILE_STDERR}) {
    EXPECT_EQ(CTRL_iFileRead(buf, 1, 4, h), 0u);
    EXPECT_EQ(CTRL_iFileSeek(h, 0, SEEK_SET), -1);
    EXPECT_EQ(CTRL_iFileGetc(h), -1);
    EXPECT_EQ(CTRL_iFileClose(h), 0);
  }
}

TEST_F(DiskFiles, DoubleSlashPathsReachTheDisk) {
  // No package name: relative to the current directory.
  CTRL_File* f = CTRL_iFileOpen(&ctl, "//data/a.txt", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->isDisk);
  EXPECT_EQ(readAll(f), "disk a\n");
  EXPECT_EQ(CTRL_iFileClose(f), 0);

  // With a package name: relative to the package's directory.
  std::string name = (dir_ / "pkgdir" / "content.pkg").string();
  ctl.packageName = static_cast<char*>(malloc(name.size() + 1));
  memcpy(ctl.packageName, name.c_str(), name.size() + 1);
  f = CTRL_iFileOpen(&ctl, "//data/a.txt", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(CTRL_iFileGetc(f), 'b');
  EXPECT_EQ(CTRL_iFileSeek(f, -8, SEEK_END), 0);
  EXPECT_EQ(readAll(f), "package\n");
  CTRL_iFileClose(f);

  // Writing through the layer.
  f = CTRL_iFileOpen(&ctl, "//data/out.txt", "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(CTRL_iFileWrite("abc", 1, 3, f), 3);
  EXPECT_GT(CTRL_iFilePrintf(f, " %d%%", 42), 0);
  EXPECT_EQ(CTRL_iFileClose(f), 0);
  std::ifstream in(dir_ / "pkgdir" / "data" / "out.txt");
  std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, "abc 42%");

  EXPECT_EQ(CTRL_iFileOpen(&ctl, "//data/missing.txt", "r"), nullptr);
  EXPECT_EQ(CTRL_iFileOpen(&ctl, ("//" + std::string(1100, 'x')).c_str(), "r"), nullptr);  // path too long
  // "//" alone is not a disk path but a (missing) entry name.
  EXPECT_EQ(CTRL_iFileOpen(&ctl, "//", "r"), nullptr);
}

TEST_F(DiskFiles, DoubleSlashNamesStayInsideTheFolder) {
  fs::create_directories(dir_ / "data" / "sub");
  fs::remove(dir_.parent_path() / "halvorin_escape");  // what a faulty run left
  fs::remove("/tmp/halvorin_escape");
  ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  fs::create_symlink("/etc", dir_ / "out");                  // a folder link pointing out
  fs::create_symlink(dir_ / "data" / "a.txt", dir_ / "in.txt");  // a link to a file inside
  struct Case {
    const char* name;
    const char* mode;
    bool opens;
  } cases[] = {
      {"//data/a.txt", "r", true},
      {"//./data//a.txt", "rb", true},
      {"//data/../data/a.txt", "r", true},  // ".." that stays inside
      {"//data/sub/../a.txt", "r+", true},
      {"//data/sub/new.txt", "w", true},   // a new file in a subfolder
      {"//data/sub/new.txt", "a", true},
      {"//data/nofolder/new.txt", "w", false},
      {"///etc/hostname", "r", false},     // absolute
      {"///tmp/halvorin_escape", "w", false},
      {"//../halvorin_escape", "w", false},  // climbing
      {"//data/../../halvorin_escape", "w", false},
      {"//data/sub/../../../etc/hostname", "r", false},
      {"//data", "r", false},              // folders
      {"//data/", "r", false},
      {"//data/a.txt/", "r", false},
      {"//.", "r", false},
      {"//data/..", "r", false},
      {"//pipe", "r", false},              // a FIFO: its open would wait for a writer
      {"//pipe", "w", false},
      {"//out/hostname", "r", false},      // symbolic links, wherever they point
      {"//out/../data/a.txt", "r", true},  // a name, not a walk through the link
      {"//in.txt", "r", false},
      {"//data/a.txt", "q", false},        // a mode fopen refuses
  };
  for (const Case& c : cases) {
    errno = 0;
    CTRL_File* f = CTRL_iFileOpen(&ctl, c.name, c.mode);
    EXPECT_EQ(f != nullptr, c.opens) << c.name << " " << c.mode;
    if (f) {
      EXPECT_TRUE(f->isDisk);
      CTRL_iFileClose(f);
    } else if (std::string(c.mode) != "q" && std::string(c.name) != "//data/nofolder/new.txt") {
      EXPECT_EQ(errno, ENOENT) << c.name;  // refused as a missing file is
    }
  }
  EXPECT_FALSE(fs::exists(dir_.parent_path() / "halvorin_escape"));
  EXPECT_FALSE(fs::exists("/tmp/halvorin_escape"));
  EXPECT_TRUE(fs::exists(dir_ / "data" / "sub" / "new.txt"));

  // Devices: a folder that holds them (the package's folder is /dev).
  const char devPackage[] = "/dev/content.pkg";
  ctl.packageName = static_cast<char*>(malloc(sizeof devPackage));
  memcpy(ctl.packageName, devPackage, sizeof devPackage);
  for (const char* name : {"//zero", "//null", "//tty"}) {
    errno = 0;
    EXPECT_EQ(CTRL_iFileOpen(&ctl, name, "rb"), nullptr) << name;
    EXPECT_EQ(errno, ENOENT) << name;
  }
}
