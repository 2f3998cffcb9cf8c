// Unscrambling and the signature check.
//
// The key stream is the low byte of a multiply-with-carry generator
// w := 18000 * (w & 0xFFFF) + (w >> 16), run from the last byte of the
// package towards the first. (The stream also adds a second generator z
// shifted left by 16 bits; it never reaches the low byte, so it is not run.)
//
// Every generator value is the residue of 18000^k * seed modulo
// M = 18000 * 2^16 - 1, because 2^16 * w' = w (mod M), and the values stay
// below M since the seed's high half is below 18000. That lets us jump to
// any byte's value directly and walk the buffer forwards, unscrambling and
// hashing each 64-byte block while it is in cache: one pass over memory, with
// the key stream and the digest as independent dependency chains.
#include <tommath.h>

#include <cstring>

#include "package/CTRL_MD5Rounds.h"
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

namespace {

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);  // little-endian host
  return v;
}

// The key of a block is kept as eight little-endian words, built in
// registers: storing it byte by byte and reading it back as words would
// stall every read on the stores it overlaps.
inline void xorBlock(uint8_t* block, const uint64_t key[8]) {
  for (int i = 0; i < 8; i++) {
    uint64_t a;
    memcpy(&a, block + 8 * i, 8);
    a ^= key[i];
    memcpy(block + 8 * i, &a, 8);
  }
}

#define KEY_BYTE(key, k, w) (key)[(k) >> 3] |= uint64_t(uint8_t(w)) << (8 * ((k) & 7))

// Key bytes of one block from two lanes: lane A walks down from byte 31,
// lane B from byte 63.
inline void blockKey(uint32_t wa, uint32_t wb, uint64_t key[8]) {
  for (int i = 0; i < 8; i++) key[i] = 0;
  for (int k = 31; k >= 0; k--) {
    KEY_BYTE(key, k, wa);
    KEY_BYTE(key, k + 32, wb);
    wa = stepW(wa);
    wb = stepW(wb);
  }
}

// One key-stream step per MD5 step, alternating the lanes.
#define KEY_STEP(i)                          \
  if ((i) & 1) {                             \
    KEY_BYTE(key, 63 - ((i) >> 1), wb);      \
    wb = stepW(wb);                          \
  } else {                                   \
    KEY_BYTE(key, 31 - ((i) >> 1), wa);      \
    wa = stepW(wa);                          \
  }

// Hashes one block while making the key bytes of another: the two are
// independent dependency chains, so the core runs them side by side.
inline void transformWithKey(uint32_t state[4], const uint8_t* block, uint32_t wa, uint32_t wb, uint64_t key[8]) {
  for (int i = 0; i < 8; i++) key[i] = 0;
  uint32_t x[16];
  for (int i = 0; i < 16; i++) x[i] = load32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  MD5_ROUNDS(KEY_STEP)
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void CTRL_iUnscrambleAndHash(uint8_t* bytes, size_t size, size_t hashedSize, uint8_t digest[16]) {
  CTRL_MD5Context ctx;
  CTRL_iMD5Init(&ctx);
  if (hashedSize > size) hashedSize = size;
  const size_t blocks = size / 64, hashedBlocks = hashedSize / 64;
  if (blocks) {
    // Moving a lane one block up the buffer is 64 steps backwards, a
    // multiplication by 2^(16*64) modulo M.
    const uint64_t up = powMod(65536, 64);
    uint32_t wa = wAt(size, 31), wb = wAt(size, 63);
    uint64_t key[8];
    blockKey(wa, wb, key);
    xorBlock(bytes, key);
    for (size_t b = 0; b < blocks; b++) {
      wa = uint32_t(mulMod(wa, up));
      wb = uint32_t(mulMod(wb, up));
      if (b < hashedBlocks)
        transformWithKey(ctx.state, bytes + 64 * b, wa, wb, key);
      else
        blockKey(wa, wb, key);
      if (b + 1 < blocks) xorBlock(bytes + 64 * (b + 1), key);
    }
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
