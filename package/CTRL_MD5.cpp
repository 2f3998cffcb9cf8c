// MD5 message digest (RFC 1321).
#include <cstring>

#include "package/CTRL_MD5Rounds.h"
#include "package/CTRL_PackageLoad.h"

namespace {

inline uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace

#define MD5_NO_EXTRA(i)

void CTRL_iMD5Transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; i++) x[i] = load32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  MD5_ROUNDS(MD5_NO_EXTRA)
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

void CTRL_iMD5Init(CTRL_MD5Context* ctx) {
  ctx->count[0] = ctx->count[1] = 0;
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  memset(ctx->buffer, 0, sizeof ctx->buffer);
  memset(ctx->digest, 0, sizeof ctx->digest);
}

void CTRL_iMD5Update(CTRL_MD5Context* ctx, const uint8_t* bytes, size_t length) {
  size_t used = (ctx->count[0] >> 3) & 63;
  // The bit count is 64 bits wide: low word first, carry into the high word.
  uint64_t bits = (uint64_t(ctx->count[1]) << 32 | ctx->count[0]) + uint64_t(length) * 8;
  ctx->count[0] = uint32_t(bits);
  ctx->count[1] = uint32_t(bits >> 32);
  if (used) {
    size_t take = 64 - used;
    if (length < take) {
      memcpy(ctx->buffer + used, bytes, length);
      return;
    }
    memcpy(ctx->buffer + used, bytes, take);
    CTRL_iMD5Transform(ctx->state, ctx->buffer);
    bytes += take;
    length -= take;
  }
  // Whole blocks are hashed straight from the input.
  for (; length >= 64; bytes += 64, length -= 64) CTRL_iMD5Transform(ctx->state, bytes);
  if (length) memcpy(ctx->buffer, bytes, length);
}

void CTRL_iMD5Final(CTRL_MD5Context* ctx) {
  uint8_t length[8];
  store32(length, ctx->count[0]);
  store32(length + 4, ctx->count[1]);
  static const uint8_t padding[64] = {0x80};
  size_t used = (ctx->count[0] >> 3) & 63;
  size_t pad = used < 56 ? 56 - used : 120 - used;
  CTRL_iMD5Update(ctx, padding, pad);
  CTRL_iMD5Update(ctx, length, 8);
  for (int i = 0; i < 4; i++) store32(ctx->digest + 4 * i, ctx->state[i]);
}
