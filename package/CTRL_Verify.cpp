// Unscrambling and the signature check.
//
// The key stream is the low byte of a multiply-with-carry generator
// w := 18000 * (w & 0xFFFF) + (w >> 16), run from the last byte of the
// package towards the first. (A second generator z is part of the stream's
// definition but only reaches bits above the low byte, so it is not run.)
//
// Every generator value is the residue of 18000^k * seed modulo
// M = 18000 * 2^16 - 1, because 2^16 * w' = w (mod M). That lets us jump to
// any byte's value directly and walk the buffer forwards, unscrambling and
// hashing each 64-byte block while it is in cache: one pass over memory, with
// the key stream and the digest as independent dependency chains.
#include <tommath.h>

#include <cstring>

#include "package/CTRL_PackageLoad.h"
#include "halvorin_key.h"

namespace {

const uint32_t kSeedW = 14142135;
const uint64_t kMWC = 18000;
const uint64_t kModulus = kMWC * 65536 - 1;

inline uint32_t stepW(uint32_t w) { return 18000u * (w & 0xFFFFu) + (w >> 16); }

uint64_t mulMod(uint64_t a, uint64_t b) { return a * b % kModulus; }

uint64_t powMod(uint64_t base, uint64_t e) {
  uint64_t r = 1;
  base %= kModulus;
  while (e) {
    if (e & 1) r = mulMod(r, base);
    base = mulMod(base, base);
    e >>= 1;
  }
  return r;
}

// Generator value that scrambles byte i of a buffer of `size` bytes.
uint32_t wAt(size_t size, size_t i) { return uint32_t(mulMod(powMod(kMWC, size - i), kSeedW)); }

const uint8_t kExponent[3] = {0x01, 0x00, 0x01};

}  // namespace

void CTRL_iScramble(uint8_t* bytes, size_t size) {
  uint32_t w = kSeedW;
  for (size_t i = size; i-- > 0;) {
    w = stepW(w);
    bytes[i] ^= uint8_t(w);
  }
}

void CTRL_iUnscrambleAndHash(uint8_t* bytes, size_t size, size_t hashedSize, uint8_t digest[16]) {
  CTRL_MD5Context ctx;
  CTRL_iMD5Init(&ctx);
  if (hashedSize > size) hashedSize = size;
  size_t blocks = size / 64;
  // Four lanes per block, each walking 16 bytes down from its top byte.
  // Moving a lane to the next block up the buffer is 64 steps backwards,
  // a multiplication by 2^(16*64) modulo M.
  uint32_t lane[4] = {0, 0, 0, 0};
  const uint64_t back64 = powMod(65536, 64);
  if (blocks)
    for (int j = 0; j < 4; j++) lane[j] = wAt(size, 16 * j + 15);
  size_t hashedBlocks = hashedSize / 64;
  for (size_t b = 0; b < blocks; b++) {
    uint8_t* block = bytes + 64 * b;
    for (int j = 0; j < 4; j++) {
      uint32_t w = lane[j];
      uint8_t* p = block + 16 * j;
      for (int k = 15; k >= 0; k--) {
        p[k] ^= uint8_t(w);
        w = stepW(w);
      }
      lane[j] = uint32_t(mulMod(lane[j], back64));
    }
    if (b < hashedBlocks) CTRL_iMD5Transform(ctx.state, block);
  }
  // The last partial block: straight from the seed, last byte first.
  uint32_t w = kSeedW;
  for (size_t i = size; i-- > blocks * 64;) {
    w = stepW(w);
    bytes[i] ^= uint8_t(w);
  }
  // Account for the blocks hashed above, then the rest of the signed part.
  uint64_t bits = uint64_t(hashedBlocks) * 512;
  ctx.count[0] = uint32_t(bits);
  ctx.count[1] = uint32_t(bits >> 32);
  CTRL_iMD5Update(&ctx, bytes + hashedBlocks * 64, hashedSize - hashedBlocks * 64);
  CTRL_iMD5Final(&ctx);
  memcpy(digest, ctx.digest, 16);
}

bool CTRL_iCheckSignature(const uint8_t digest[16], const uint8_t signature[128],
                          const uint8_t modulus[128]) {
  mp_int n, e, s, r, d;
  if (mp_init_multi(&n, &e, &s, &r, &d, nullptr) != MP_OKAY) return false;
  bool ok = mp_from_ubin(&n, modulus, 128) == MP_OKAY && mp_from_ubin(&e, kExponent, 3) == MP_OKAY &&
            mp_from_ubin(&s, signature, 128) == MP_OKAY && mp_from_ubin(&d, digest, 16) == MP_OKAY &&
            !mp_iszero(&n) && mp_exptmod(&s, &e, &n, &r) == MP_OKAY && mp_cmp(&r, &d) == MP_EQ;
  mp_clear_multi(&n, &e, &s, &r, &d, nullptr);
  return ok;
}

const uint8_t* CTRL_iPublicModulus() { return HALVORIN_PUBLIC_MODULUS; }
