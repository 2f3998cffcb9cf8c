// The 64 steps of the MD5 block function, shared by the plain transform and
// the one-pass unscramble-and-hash, which runs one key-stream step beside
// each MD5 step. MD5_ROUNDS(EXTRA) expands to the steps on the words x[0..15]
// and the chaining values a, b, c, d, invoking EXTRA(i) after step i.
#pragma once

// Each step's critical path runs through b, the value the step before made;
// the forms below put as little after b as they can. G's two terms never
// share a bit, so they are added separately and the one without b is ready
// early; H xors the older c and d first.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_H(x, y, z) ((x) ^ ((y) ^ (z)))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_ROTL(x, c) (((x) << (c)) | ((x) >> (32 - (c))))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
  (a) += (x) + uint32_t(t);              \
  (a) += f((b), (c), (d));               \
  (a) = MD5_ROTL((a), (s));              \
  (a) += (b)
#define MD5_STEP_G(a, b, c, d, x, t, s)           \
  (a) += (x) + uint32_t(t) + ((c) & ~(d));        \
  (a) += (b) & (d);                               \
  (a) = MD5_ROTL((a), (s));                       \
  (a) += (b)

#define MD5_ROUNDS(EXTRA) \
  MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7); EXTRA(0); \
  MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12); EXTRA(1); \
  MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17); EXTRA(2); \
  MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22); EXTRA(3); \
  MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7); EXTRA(4); \
  MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12); EXTRA(5); \
  MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17); EXTRA(6); \
  MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22); EXTRA(7); \
  MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7); EXTRA(8); \
  MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12); EXTRA(9); \
  MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17); EXTRA(10); \
  MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22); EXTRA(11); \
  MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7); EXTRA(12); \
  MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12); EXTRA(13); \
  MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17); EXTRA(14); \
  MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22); EXTRA(15); \
  MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562, 5); EXTRA(16); \
  MD5_STEP_G(d, a, b, c, x[6], 0xc040b340, 9); EXTRA(17); \
  MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51, 14); EXTRA(18); \
  MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aa, 20); EXTRA(19); \
  MD5_STEP_G(a, b, c, d, x[5], 0xd62f105d, 5); EXTRA(20); \
  MD5_STEP_G(d, a, b, c, x[10], 0x02441453, 9); EXTRA(21); \
  MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681, 14); EXTRA(22); \
  MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8, 20); EXTRA(23); \
  MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6, 5); EXTRA(24); \
  MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6, 9); EXTRA(25); \
  MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87, 14); EXTRA(26); \
  MD5_STEP_G(b, c, d, a, x[8], 0x455a14ed, 20); EXTRA(27); \
  MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905, 5); EXTRA(28); \
  MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8, 9); EXTRA(29); \
  MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9, 14); EXTRA(30); \
  MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8a, 20); EXTRA(31); \
  MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4); EXTRA(32); \
  MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11); EXTRA(33); \
  MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16); EXTRA(34); \
  MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23); EXTRA(35); \
  MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4); EXTRA(36); \
  MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11); EXTRA(37); \
  MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16); EXTRA(38); \
  MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23); EXTRA(39); \
  MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4); EXTRA(40); \
  MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11); EXTRA(41); \
  MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16); EXTRA(42); \
  MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23); EXTRA(43); \
  MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4); EXTRA(44); \
  MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11); EXTRA(45); \
  MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16); EXTRA(46); \
  MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23); EXTRA(47); \
  MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6); EXTRA(48); \
  MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10); EXTRA(49); \
  MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15); EXTRA(50); \
  MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21); EXTRA(51); \
  MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6); EXTRA(52); \
  MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10); EXTRA(53); \
  MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15); EXTRA(54); \
  MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21); EXTRA(55); \
  MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6); EXTRA(56); \
  MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10); EXTRA(57); \
  MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15); EXTRA(58); \
  MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21); EXTRA(59); \
  MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6); EXTRA(60); \
  MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10); EXTRA(61); \
  MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15); EXTRA(62); \
  MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21); EXTRA(63);
