// Finding and extracting files from a bare package buffer: the record walk,
// its bounds, inflating and the text rule.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "pack.h"
#include "package/CTRL_PackageLoad.h"

namespace {

PackBytes bytesOf(const std::string& s) { return PackBytes(s.begin(), s.end()); }

void stored(PackBytes* pkg, const std::string& name, const std::string& body) {
  PACK_appendRecord(pkg, name, 0, bytesOf(body), uint32_t(body.size()));
}

void deflated(PackBytes* pkg, const std::string& name, const std::string& body) {
  PackBytes z;
  ASSERT_TRUE(PACK_deflate(bytesOf(body), &z));
  PACK_appendRecord(pkg, name, 8, z, uint32_t(body.size()));
}

CTRL_Extracted extract(const PackBytes& pkg, const std::string& name, bool text = false) {
  return CTRL_iExtractFile(pkg.data(), pkg.size(), name.data(), name.size(), text);
}

std::string contents(const CTRL_Extracted& e) {
  return e.data ? std::string(reinterpret_cast<const char*>(e.data), e.size) : "<null>";
}

void release(CTRL_Extracted& e) {
  if (e.owned) free(e.data);
  e = CTRL_Extracted();
}

}  // namespace

TEST(Records, NameLookup) {
  PackBytes pkg;
  stored(&pkg, "init.lua", "first");
  stored(&pkg, "init.lua", "second");
  deflated(&pkg, "data/big.txt", std::string(3000, 'x'));
  stored(&pkg, "Init.LUA", "case");
  stored(&pkg, "last", "end");  // data ends exactly at the end of the buffer

  struct Case {
    const char* name;
    const char* expect;  // null: not found
  } cases[] = {
      {"init.lua", "first"},  // the first of two records wins
      {"init", nullptr},      // a prefix of a name
      {"init.lua.bak", nullptr},
      {"Init.LUA", "case"},
      {"INIT.LUA", nullptr},  // case-sensitive
      {"last", "end"},
      {"after", nullptr},     // the walk ends at the end of the buffer
      {"", nullptr},
  };
  for (const Case& c : cases) {
    CTRL_Extracted e = extract(pkg, c.name);
    if (c.expect) {
      EXPECT_EQ(e.status, CTRL_EXTRACT_OK) << c.name;
      EXPECT_EQ(contents(e), c.expect) << c.name;
      EXPECT_FALSE(e.owned) << "stored files point into the package: " << c.name;
    } else {
      EXPECT_EQ(e.status, CTRL_EXTRACT_NOT_FOUND) << c.name;
      EXPECT_EQ(e.data, nullptr);
      EXPECT_EQ(e.size, 0u);
    }
    release(e);
  }
  CTRL_Extracted big = extract(pkg, "data/big.txt");
  EXPECT_EQ(big.status, CTRL_EXTRACT_OK);
  EXPECT_TRUE(big.owned);
  EXPECT_EQ(contents(big), std::string(3000, 'x'));
  release(big);
}

TEST(Records, WalkStopsAtTheFirstNonRecordAndAtTheBufferEnd) {
  PackBytes pkg;
  stored(&pkg, "a", "1");
  PackBytes junk = bytesOf("this is no record header at all, long enough");
  pkg.insert(pkg.end(), junk.begin(), junk.end());
  stored(&pkg, "b", "2");
  EXPECT_EQ(extract(pkg, "a").status, CTRL_EXTRACT_OK);
  EXPECT_EQ(extract(pkg, "b").status, CTRL_EXTRACT_NOT_FOUND);

  // Every truncation of a package: nothing is read past the buffer, and a
  // record that no longer fits is not found.
  PackBytes full;
  stored(&full, "one", "alpha");
  deflated(&full, "two", std::string(500, 'q') + "tail");
  full.insert(full.end(), 128, 0xAB);  // signature block
  size_t twoEnd = full.size() - 128;
  for (size_t len = 0; len <= full.size(); len++) {
    PackBytes cut(full.begin(), full.begin() + len);
    // A heap copy of exactly len bytes lets ASan catch any overread.
    uint8_t* heap = static_cast<uint8_t*>(malloc(len ? len : 1));
    if (len) memcpy(heap, cut.data(), len);
    CTRL_Extracted e = CTRL_iExtractFile(heap, len, "two", 3, false);
    EXPECT_EQ(e.status, len >= twoEnd ? CTRL_EXTRACT_OK : CTRL_EXTRACT_NOT_FOUND) << "length " << len;
    release(e);
    e = CTRL_iExtractFile(heap, len, "zzz", 3, true);
    EXPECT_EQ(e.status, CTRL_EXTRACT_NOT_FOUND);
    free(heap);
  }
}

TEST(Records, SizesThatWouldWrapIn32BitsAreOutOfBounds) {
  // A compressed size near 2^32 added to the data offset wraps a 32-bit sum
  // back into the buffer.
  for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u}) {
    PackBytes pkg;
    stored(&pkg, "a", "xy");
    uint32_t v = size;
    memcpy(&pkg[18], &v, 4);
    stored(&pkg, "b", "zw");
    EXPECT_EQ(extract(pkg, "a").status, CTRL_EXTRACT_NOT_FOUND);
    EXPECT_EQ(extract(pkg, "b").status, CTRL_EXTRACT_NOT_FOUND);
  }
  // Name and extra lengths at their maximum.
  PackBytes pkg;
  stored(&pkg, "a", "xy");
  pkg[26] = pkg[27] = pkg[28] = pkg[29] = 0xFF;
  EXPECT_EQ(extract(pkg, "a").status, CTRL_EXTRACT_NOT_FOUND);
}

TEST(Records, MethodsAndDamagedStreams) {
  std::string body = "hello hello hello hello hello hello\n";
  PackBytes z;
  ASSERT_TRUE(PACK_deflate(bytesOf(body), &z));

  struct Case {
    const char* what;
    uint16_t method;
    PackBytes data;
    uint32_t uncompressed;
    CTRL_ExtractStatus expect;
  };
  PackBytes garbled = z;
  garbled[0] ^= 0xFF;
  garbled[garbled.size() / 2] ^= 0x5A;
  PackBytes truncated(z.begin(), z.begin() + z.size() / 2);
  Case cases[] = {
      {"good", 8, z, uint32_t(body.size()), CTRL_EXTRACT_OK},
      {"bzip2", 12, z, uint32_t(body.size()), CTRL_EXTRACT_BAD_METHOD},
      {"implode", 6, z, uint32_t(body.size()), CTRL_EXTRACT_BAD_METHOD},
      {"garbled stream", 8, garbled, uint32_t(body.size()), CTRL_EXTRACT_DAMAGED},
      {"truncated stream", 8, truncated, uint32_t(body.size()), CTRL_EXTRACT_DAMAGED},
      {"stated size too small", 8, z, uint32_t(body.size() - 1), CTRL_EXTRACT_DAMAGED},
      {"stated size too large", 8, z, uint32_t(body.size() + 1), CTRL_EXTRACT_DAMAGED},
      {"stated size impossible", 8, z, 0xFFFFFFFFu, CTRL_EXTRACT_DAMAGED},
      {"empty stream", 8, PackBytes(), 0, CTRL_EXTRACT_DAMAGED},
  };
  for (const Case& c : cases) {
    PackBytes pkg;
    PACK_appendRecord(&pkg, "f", c.method, c.data, c.uncompressed);
    CTRL_Extracted e = extract(pkg, "f");
    EXPECT_EQ(e.status, c.expect) << c.what;
    if (c.expect == CTRL_EXTRACT_OK)
      EXPECT_EQ(contents(e), body);
    else
      EXPECT_EQ(e.data, nullptr) << c.what;
    release(e);
  }
}

TEST(Records, TextRule) {
  struct Case {
    const char* what;
    std::string body;
    std::string expect;  // bytes handed out, NUL included
    bool noNewline;
  } cases[] = {
      {"CR LF", "ab\r\n", std::string("ab\r\0", 4), false},
      {"LF", "ab\n", std::string("ab\0", 3), false},
      {"NUL", std::string("ab\0", 3), std::string("ab\0", 3), false},
      {"letter", "abc", std::string("ab\0", 3), true},
      {"empty", "", "", false},
  };
  for (bool deflate : {false, true}) {
    for (const Case& c : cases) {
      PackBytes pkg;
      if (deflate && !c.body.empty())
        deflated(&pkg, "t.xml", c.body);
      else
        stored(&pkg, "t.xml", c.body);
      PackBytes before = pkg;
      CTRL_Extracted e = extract(pkg, "t.xml", true);
      ASSERT_EQ(e.status, CTRL_EXTRACT_OK) << c.what;
      EXPECT_EQ(contents(e), c.expect) << c.what;
      EXPECT_EQ(e.noNewline, c.noNewline) << c.what;
      ASSERT_NE(e.data, nullptr);
      EXPECT_EQ(e.data[e.size], 0) << "a NUL follows the data: " << c.what;
      // The package itself is never written: a binary read sees the bytes.
      EXPECT_EQ(pkg, before) << c.what;
      release(e);
      CTRL_Extracted bin = extract(pkg, "t.xml", false);
      EXPECT_EQ(contents(bin), c.body) << c.what;
      release(bin);
    }
  }
}
