// MD5, the key stream and the RSA check.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pack.h"
#include "package/CTRL_PackageLoad.h"

namespace {

std::string hexOf(const uint8_t* d, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; i++) {
    snprintf(b, sizeof b, "%02x", d[i]);
    s += b;
  }
  return s;
}

std::string md5(const std::string& text) {
  CTRL_MD5Context ctx;
  CTRL_iMD5Init(&ctx);
  CTRL_iMD5Update(&ctx, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  CTRL_iMD5Final(&ctx);
  return hexOf(ctx.digest, 16);
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1103515245u + 12345u;
    v[i] = uint8_t(seed >> 16);
  }
  return v;
}

}  // namespace

TEST(MD5, KnownAnswers) {
  struct Case {
    std::string input, digest;
  };
  const Case cases[] = {
      // The test suite of RFC 1321.
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      // Lengths around the padding boundaries (56 and 64 bytes modulo 64).
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
      {std::string(121, 'a'), "f6acfca2d47c87f2b14ca038234d3614"},
      {std::string(1000, 'a'), "cabe45dcc9ae5b66ba86600cca6b8ba8"},
  };
  for (const Case& c : cases) EXPECT_EQ(md5(c.input), c.digest) << "length " << c.input.size();
}

TEST(MD5, PiecewiseUpdatesMatchOneShot) {
  std::vector<uint8_t> data = pattern(1000, 7);
  CTRL_MD5Context whole;
  CTRL_iMD5Init(&whole);
  CTRL_iMD5Update(&whole, data.data(), data.size());
  CTRL_iMD5Final(&whole);
  for (size_t step : {1, 3, 55, 63, 64, 65, 200}) {
    CTRL_MD5Context ctx;
    CTRL_iMD5Init(&ctx);
    for (size_t at = 0; at < data.size(); at += step)
      CTRL_iMD5Update(&ctx, data.data() + at, std::min(step, data.size() - at));
    CTRL_iMD5Final(&ctx);
    EXPECT_EQ(hexOf(ctx.digest, 16), hexOf(whole.digest, 16)) << "step " << step;
  }
}

TEST(KeyStream, KnownAnswerRunsFromTheLastByte) {
  // The first twelve key bytes, applied to the last byte first.
  const uint8_t key[12] = {0x07, 0xdd, 0x89, 0x3d, 0x65, 0x51, 0x22, 0x0f, 0xff, 0xe3, 0xd1, 0xad};
  std::vector<uint8_t> buf(12, 0);
  CTRL_iScramble(buf.data(), buf.size());
  for (int i = 0; i < 12; i++) EXPECT_EQ(buf[11 - i], key[i]) << i;
  CTRL_iScramble(buf.data(), buf.size());
  EXPECT_EQ(buf, std::vector<uint8_t>(12, 0));  // its own inverse
  CTRL_iScramble(nullptr, 0);                    // nothing to do
}

TEST(KeyStream, OnePassUnscrambleAndHashMatchesTheTwoSteps) {
  for (size_t size : {0, 1, 63, 64, 65, 127, 128, 129, 191, 192, 193, 255, 256, 1000, 4099, 70001}) {
    std::vector<uint8_t> plain = pattern(size, uint32_t(size));
    std::vector<uint8_t> scrambled = plain;
    CTRL_iScramble(scrambled.data(), scrambled.size());
    size_t hashed = size >= 128 ? size - 128 : 0;
    uint8_t digest[16];
    CTRL_iUnscrambleAndHash(scrambled.data(), scrambled.size(), hashed, digest);
    EXPECT_EQ(scrambled, plain) << "size " << size;
    CTRL_MD5Context ctx;
    CTRL_iMD5Init(&ctx);
    CTRL_iMD5Update(&ctx, plain.data(), hashed);
    CTRL_iMD5Final(&ctx);
    EXPECT_EQ(hexOf(digest, 16), hexOf(ctx.digest, 16)) << "size " << size;
  }
}

TEST(Signature, SignedDigestVerifiesAndAnyChangeFails) {
  PackKey key, other;
  std::string error;
  ASSERT_TRUE(PACK_generateKey(&key, &error)) << error;
  ASSERT_TRUE(PACK_generateKey(&other, &error)) << error;
  ASSERT_EQ(key.modulus.size(), 128u);
  EXPECT_TRUE(key.modulus[0] & 0x80);

  std::vector<uint8_t> records = pattern(5000, 3);
  std::vector<uint8_t> package;
  ASSERT_TRUE(PACK_sealPackage(records, key, &package, &error)) << error;
  ASSERT_EQ(package.size(), records.size() + 128);

  auto verify = [](std::vector<uint8_t> pkg, const PackKey& k) {
    uint8_t digest[16];
    CTRL_iUnscrambleAndHash(pkg.data(), pkg.size(), pkg.size() - 128, digest);
    return CTRL_iCheckSignature(digest, pkg.data() + pkg.size() - 128, k.modulus.data());
  };
  EXPECT_TRUE(verify(package, key));
  EXPECT_FALSE(verify(package, other));
  for (size_t at : {size_t(0), records.size() / 2, records.size() - 1, records.size(), package.size() - 1}) {
    std::vector<uint8_t> tampered = package;
    tampered[at] ^= 0x01;
    EXPECT_FALSE(verify(tampered, key)) << "byte " << at;
  }
}

TEST(Signature, TheDemoKeyIsCompiledIn) {
  PackKey demo;
  std::string error;
  ASSERT_TRUE(PACK_readKey(HALVORIN_SOURCE_DIR "/content/keys/demo.key", &demo, &error)) << error;
  uint8_t digest[16] = {1, 2, 3};
  uint8_t sig[128];
  ASSERT_TRUE(PACK_sign(demo, digest, sig, &error)) << error;
  // The default build accepts what the demo key signs.
  if (memcmp(CTRL_iPublicModulus(), demo.modulus.data(), 128) == 0)
    EXPECT_TRUE(CTRL_iCheckSignature(digest, sig, CTRL_iPublicModulus()));
  else
    GTEST_SKIP() << "built for another key";
}
