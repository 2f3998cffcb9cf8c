#include "media/VIEW_YuvRows.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define YUV_WIDE 1
#endif

#include <cstdint>
#include <cstring>

// The plain path computes each channel's fixed-point sum (22 fraction bits)
// in 32-bit unsigned arithmetic, that is modulo 2^32, and takes its top 10
// bits as an index into a clamp table. Over all 8-bit inputs the true sums lie in
// [-1159036566, 2243852754], so the index says everything: 0..511 are the
// sums 0 to 2^31 (clamped to 255 above 255), 512..534 the sums past 2^31
// (255), and 747..1023 the negative sums (0). Nothing is read by the index
// outside a table of 1024 entries, whatever the inputs.

namespace {

// The factors and offsets of the one-pixel formula.
const int32_t kY = 4883779;
const int32_t kRCr = 6694222, kGCb = -1643170, kGCr = -3409833, kBCb = 8460885;
const int32_t kR0 = -932903662, kG0 = 570741154, kB0 = -1159036566;

// Largest and smallest true sums: the bounds the index mapping relies on.
static_assert(255LL * kY + 255LL * kBCb + kB0 == 2243852754LL, "largest sum (blue)");
static_assert(kB0 == -1159036566 && kR0 > kB0 && 255LL * kGCb + 255LL * kGCr + kG0 > kB0, "smallest sum (blue)");
static_assert((2243852754LL >> 22) < 640 && ((1LL << 32) - 1159036566LL) >> 22 >= 640, "the index ranges apart");

const unsigned kNegative = 640;  // indexes from here on stand for negative sums

struct Tables {
    uint32_t y[256], r[256], gCb[256], gCr[256], b[256];
    uint8_t clamp[1024];
    Tables()
    {
        for (uint32_t i = 0; i < 256; i++) {
            y[i] = uint32_t(kY) * i;
            r[i] = uint32_t(kRCr) * i + uint32_t(kR0);
            gCb[i] = uint32_t(kGCb) * i + uint32_t(kG0);
            gCr[i] = uint32_t(kGCr) * i;
            b[i] = uint32_t(kBCb) * i + uint32_t(kB0);
        }
        for (unsigned i = 0; i < 1024; i++) clamp[i] = uint8_t(i >= kNegative ? 0 : i > 255 ? 255 : i);
    }
};
const Tables kT;

inline void plainPixel(uint8_t* out, int y, int cb, int cr)
{
    const uint32_t yt = kT.y[y];
    out[0] = kT.clamp[(yt + kT.r[cr]) >> 22];
    out[1] = kT.clamp[(yt + kT.gCb[cb] + kT.gCr[cr]) >> 22];
    out[2] = kT.clamp[(yt + kT.b[cb]) >> 22];
}

#if defined(YUV_WIDE)

// The wide paths add the same terms modulo 2^32 (so the bits are those of
// the true sum) but take the sums less 128 * 2^22: they fit in 32 signed bits
// ([-1695907478, 1706981842]), so an arithmetic shift gives the channel
// less 128, which two signed saturating packs clamp to -128..127; flipping
// the top bit of each byte then adds the 128 back.
const int32_t kBias = 128 << 22;
static_assert(255LL * kY + 255LL * kBCb + kB0 - kBias <= INT32_MAX && kB0 - kBias >= INT32_MIN, "biased sums fit");

// Each factor as hi * 65536 + lo with both halves 16-bit signed, so that a
// product with an 8-bit value is two multiply-adds of 16-bit halves (exact
// in 32 bits) and a shift: hi * v << 16 wraps as the sum does.
inline constexpr int32_t hiOf(int32_t f) { return (f - int16_t(f & 0xFFFF)) / 65536; }
inline constexpr int32_t loOf(int32_t f) { return int16_t(f & 0xFFFF); }
static_assert(hiOf(kY) * 65536 + loOf(kY) == kY && hiOf(kBCb) * 65536 + loOf(kBCb) == kBCb, "factor halves");

// A pair of 16-bit factors for a 32-bit lane (low half first).
inline constexpr int32_t pair(int32_t lo, int32_t hi) { return int32_t(uint32_t(lo & 0xFFFF) | (uint32_t(hi & 0xFFFF) << 16)); }

// The sums' chroma parts for four chroma samples given as (Cb, Cr) pairs of
// 16-bit values in 32-bit lanes.
struct Chroma4 {
    __m128i r, g, b;
};

inline __m128i term(__m128i v, int32_t loPair, int32_t hiPair)
{
    return _mm_add_epi32(_mm_madd_epi16(v, _mm_set1_epi32(loPair)),
                         _mm_slli_epi32(_mm_madd_epi16(v, _mm_set1_epi32(hiPair)), 16));
}

inline Chroma4 chroma4(__m128i cbcr)
{
    Chroma4 c;
    c.r = _mm_add_epi32(term(cbcr, pair(0, loOf(kRCr)), pair(0, hiOf(kRCr))), _mm_set1_epi32(kR0 - kBias));
    c.g = _mm_add_epi32(term(cbcr, pair(loOf(kGCb), loOf(kGCr)), pair(hiOf(kGCb), hiOf(kGCr))), _mm_set1_epi32(kG0 - kBias));
    c.b = _mm_add_epi32(term(cbcr, pair(loOf(kBCb), 0), pair(hiOf(kBCb), 0)), _mm_set1_epi32(kB0 - kBias));
    return c;
}

// Eight channel values less 128 as 16-bit values, from two vectors of four
// biased sums.
inline __m128i shift8(__m128i a, __m128i b) { return _mm_packs_epi32(_mm_srai_epi32(a, 22), _mm_srai_epi32(b, 22)); }

// Signed bytes to channel values: 128 added back.
inline __m128i unbias(__m128i v) { return _mm_xor_si128(v, _mm_set1_epi8(char(0x80))); }

// The luma term of eight 16-bit luma values, as four 32-bit values for
// pixels 0-3 (lo) and 4-7 (hi): the product's 16-bit halves.
inline void luma8(__m128i y16, __m128i* lo, __m128i* hi)
{
    const uint16_t low = uint16_t(kY & 0xFFFF);
    const __m128i l = _mm_mullo_epi16(y16, _mm_set1_epi16(int16_t(low)));
    const __m128i h = _mm_add_epi16(_mm_mulhi_epu16(y16, _mm_set1_epi16(int16_t(low))),
                                    _mm_mullo_epi16(y16, _mm_set1_epi16(int16_t(kY >> 16))));
    *lo = _mm_unpacklo_epi16(l, h);
    *hi = _mm_unpackhi_epi16(l, h);
}

// Four pixels of (R, G, B, 0) as 12 bytes at the bottom, 4 zero bytes on top.
inline __m128i compact4(__m128i p)
{
    const __m128i t = _mm_or_si128(_mm_and_si128(p, _mm_set1_epi64x(0xFFFFFF)),
                                   _mm_and_si128(_mm_srli_epi64(p, 8), _mm_set1_epi64x(0xFFFFFF000000)));
    return _mm_or_si128(_mm_move_epi64(t), _mm_slli_si128(_mm_srli_si128(t, 8), 6));
}

// Eight pixels: luma as eight 16-bit values, chroma parts per pixel for
// pixels 0-3 (lo) and 4-7 (hi). Writes 24 bytes.
inline void pixels8(__m128i y16, const Chroma4& lo, const Chroma4& hi, uint8_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i ya, yb;
    luma8(y16, &ya, &yb);
    const __m128i r = shift8(_mm_add_epi32(ya, lo.r), _mm_add_epi32(yb, hi.r));
    const __m128i g = shift8(_mm_add_epi32(ya, lo.g), _mm_add_epi32(yb, hi.g));
    const __m128i b = shift8(_mm_add_epi32(ya, lo.b), _mm_add_epi32(yb, hi.b));
    const __m128i rg = unbias(_mm_packs_epi16(r, g));  // R0..R7 G0..G7
    const __m128i bb = unbias(_mm_packs_epi16(b, b));
    const __m128i rgPairs = _mm_unpacklo_epi8(rg, _mm_srli_si128(rg, 8));
    const __m128i b0 = _mm_unpacklo_epi8(bb, zero);
    const __m128i c0 = compact4(_mm_unpacklo_epi16(rgPairs, b0)), c1 = compact4(_mm_unpackhi_epi16(rgPairs, b0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_srli_si128(c1, 4));
}

inline __m128i load4(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

inline Chroma4 dupLo(const Chroma4& c)
{
    return {_mm_unpacklo_epi32(c.r, c.r), _mm_unpacklo_epi32(c.g, c.g), _mm_unpacklo_epi32(c.b, c.b)};
}
inline Chroma4 dupHi(const Chroma4& c)
{
    return {_mm_unpackhi_epi32(c.r, c.r), _mm_unpackhi_epi32(c.g, c.g), _mm_unpackhi_epi32(c.b, c.b)};
}

// n pixels, a multiple of 8, of one row or two (y1 and out1 not null) that
// share their chroma; chroma for each pair of pixels.
void halfSse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb, const uint8_t* cr, int64_t n, uint8_t* out0,
              uint8_t* out1)
{
    const __m128i zero = _mm_setzero_si128();
    for (int64_t x = 0; x < n; x += 8, cb += 4, cr += 4) {
        const __m128i cbcr = _mm_unpacklo_epi16(_mm_unpacklo_epi8(load4(cb), zero), _mm_unpacklo_epi8(load4(cr), zero));
        const Chroma4 c = chroma4(cbcr);
        const Chroma4 lo = dupLo(c), hi = dupHi(c);
        pixels8(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y0 + x)), zero), lo, hi,
                out0 + 3 * x);
        if (y1)
            pixels8(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y1 + x)), zero), lo, hi,
                    out1 + 3 * x);
    }
}

// n pixels, a multiple of 8; chroma for each pixel.
void fullSse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int64_t n, uint8_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    for (int64_t x = 0; x < n; x += 8, out += 24) {
        const __m128i y16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), zero);
        const __m128i cb16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x)), zero);
        const __m128i cr16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x)), zero);
        pixels8(y16, chroma4(_mm_unpacklo_epi16(cb16, cr16)), chroma4(_mm_unpackhi_epi16(cb16, cr16)), out);
    }
}

// Sixteen at a time on AVX2, the same sums in 256-bit lanes. The 128-bit
// halves work side by side (pixels 0-7 and 8-15), as the packing steps do.
#define WIDE __attribute__((target("avx2")))

struct Chroma8 {
    __m256i r, g, b;
};

WIDE inline __m256i term8(__m256i v, int32_t loPair, int32_t hiPair)
{
    return _mm256_add_epi32(_mm256_madd_epi16(v, _mm256_set1_epi32(loPair)),
                            _mm256_slli_epi32(_mm256_madd_epi16(v, _mm256_set1_epi32(hiPair)), 16));
}

WIDE inline Chroma8 chroma8(__m256i cbcr)
{
    Chroma8 c;
    c.r = _mm256_add_epi32(term8(cbcr, pair(0, loOf(kRCr)), pair(0, hiOf(kRCr))), _mm256_set1_epi32(kR0 - kBias));
    c.g = _mm256_add_epi32(term8(cbcr, pair(loOf(kGCb), loOf(kGCr)), pair(hiOf(kGCb), hiOf(kGCr))),
                           _mm256_set1_epi32(kG0 - kBias));
    c.b = _mm256_add_epi32(term8(cbcr, pair(loOf(kBCb), 0), pair(hiOf(kBCb), 0)), _mm256_set1_epi32(kB0 - kBias));
    return c;
}

WIDE inline __m256i shift16(__m256i a, __m256i b)
{
    return _mm256_packs_epi32(_mm256_srai_epi32(a, 22), _mm256_srai_epi32(b, 22));
}

WIDE inline __m256i unbias16(__m256i v) { return _mm256_xor_si256(v, _mm256_set1_epi8(char(0x80))); }

// Byte k of eight RGB pixels from R0..R7 G0..G7 (rg) or B0..B7 (b).
constexpr int8_t rgSource(int k) { return k % 3 == 2 ? -1 : int8_t(k / 3 + (k % 3) * 8); }
constexpr int8_t bSource(int k) { return k % 3 == 2 ? int8_t(k / 3) : -1; }

// Sixteen pixels: luma as sixteen 16-bit values; chroma parts per pixel for
// pixels 0-3 | 8-11 (lo) and 4-7 | 12-15 (hi). Writes 48 bytes.
WIDE inline void pixels16(__m256i y16, const Chroma8& lo, const Chroma8& hi, uint8_t* out)
{
    const int16_t low = int16_t(uint16_t(kY & 0xFFFF));
    const __m256i l = _mm256_mullo_epi16(y16, _mm256_set1_epi16(low));
    const __m256i h = _mm256_add_epi16(_mm256_mulhi_epu16(y16, _mm256_set1_epi16(low)),
                                       _mm256_mullo_epi16(y16, _mm256_set1_epi16(int16_t(kY >> 16))));
    const __m256i ya = _mm256_unpacklo_epi16(l, h), yb = _mm256_unpackhi_epi16(l, h);
    const __m256i r = shift16(_mm256_add_epi32(ya, lo.r), _mm256_add_epi32(yb, hi.r));
    const __m256i g = shift16(_mm256_add_epi32(ya, lo.g), _mm256_add_epi32(yb, hi.g));
    const __m256i b = shift16(_mm256_add_epi32(ya, lo.b), _mm256_add_epi32(yb, hi.b));
    const __m256i rg = unbias16(_mm256_packs_epi16(r, g));  // per half: R0..R7 G0..G7
    const __m256i bb = unbias16(_mm256_packs_epi16(b, b));
#define S(k) rgSource(k)
#define T(k) bSource(k)
    const __m256i rgA = _mm256_setr_epi8(S(0), S(1), S(2), S(3), S(4), S(5), S(6), S(7), S(8), S(9), S(10), S(11), S(12),
                                         S(13), S(14), S(15), S(0), S(1), S(2), S(3), S(4), S(5), S(6), S(7), S(8),
                                         S(9), S(10), S(11), S(12), S(13), S(14), S(15));
    const __m256i bA = _mm256_setr_epi8(T(0), T(1), T(2), T(3), T(4), T(5), T(6), T(7), T(8), T(9), T(10), T(11), T(12),
                                        T(13), T(14), T(15), T(0), T(1), T(2), T(3), T(4), T(5), T(6), T(7), T(8), T(9),
                                        T(10), T(11), T(12), T(13), T(14), T(15));
    const __m256i rgB = _mm256_setr_epi8(S(16), S(17), S(18), S(19), S(20), S(21), S(22), S(23), -1, -1, -1, -1, -1, -1,
                                         -1, -1, S(16), S(17), S(18), S(19), S(20), S(21), S(22), S(23), -1, -1, -1, -1,
                                         -1, -1, -1, -1);
    const __m256i bB = _mm256_setr_epi8(T(16), T(17), T(18), T(19), T(20), T(21), T(22), T(23), -1, -1, -1, -1, -1, -1,
                                        -1, -1, T(16), T(17), T(18), T(19), T(20), T(21), T(22), T(23), -1, -1, -1, -1,
                                        -1, -1, -1, -1);
#undef S
#undef T
    const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(rg, rgA), _mm256_shuffle_epi8(bb, bA));
    const __m256i rest = _mm256_or_si256(_mm256_shuffle_epi8(rg, rgB), _mm256_shuffle_epi8(bb, bB));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(first));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_castsi256_si128(rest));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm256_extracti128_si256(first, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 40), _mm256_extracti128_si256(rest, 1));
}

WIDE inline __m256i luma16(const uint8_t* y)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
}

WIDE void halfAvx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb, const uint8_t* cr, int64_t n,
                   uint8_t* out0, uint8_t* out1)
{
    for (int64_t x = 0; x < n; x += 16, cb += 8, cr += 8) {
        const __m128i cb16 = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)));
        const __m128i cr16 = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)));
        const Chroma8 c = chroma8(_mm256_set_m128i(_mm_unpackhi_epi16(cb16, cr16), _mm_unpacklo_epi16(cb16, cr16)));
        const Chroma8 lo = {_mm256_unpacklo_epi32(c.r, c.r), _mm256_unpacklo_epi32(c.g, c.g),
                            _mm256_unpacklo_epi32(c.b, c.b)};
        const Chroma8 hi = {_mm256_unpackhi_epi32(c.r, c.r), _mm256_unpackhi_epi32(c.g, c.g),
                            _mm256_unpackhi_epi32(c.b, c.b)};
        pixels16(luma16(y0 + x), lo, hi, out0 + 3 * x);
        if (y1) pixels16(luma16(y1 + x), lo, hi, out1 + 3 * x);
    }
}

WIDE void fullAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int64_t n, uint8_t* out)
{
    for (int64_t x = 0; x < n; x += 16, out += 48) {
        const __m256i cb16 = luma16(cb + x), cr16 = luma16(cr + x);
        pixels16(luma16(y + x), chroma8(_mm256_unpacklo_epi16(cb16, cr16)), chroma8(_mm256_unpackhi_epi16(cb16, cr16)),
                 out);
    }
}

#undef WIDE

int bestSteps() { return __builtin_cpu_supports("avx2") ? VIEW_YUV_AVX2 : VIEW_YUV_SSE2; }

#else

int bestSteps() { return VIEW_YUV_PLAIN; }

#endif

int g_steps = bestSteps();

}  // namespace

void VIEW_iYuvRowFull(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int64_t w, uint8_t* out)
{
    int64_t x = 0;
#if defined(YUV_WIDE)
    if (g_steps == VIEW_YUV_AVX2) {
        x = w & ~int64_t(15);
        fullAvx2(y, cb, cr, x, out);
    } else if (g_steps == VIEW_YUV_SSE2) {
        x = w & ~int64_t(7);
        fullSse2(y, cb, cr, x, out);
    }
#endif
    for (; x < w; x++) plainPixel(out + 3 * x, y[x], cb[x], cr[x]);
}

namespace {

// Half-chroma pixels x to w - 1 of a row, chroma sample c serving x first.
void halfPlain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int64_t x, int64_t c, int64_t w, uint8_t* out)
{
    for (; x + 1 < w; x += 2, c++) {
        plainPixel(out + 3 * x, y[x], cb[c], cr[c]);
        plainPixel(out + 3 * x + 3, y[x + 1], cb[c], cr[c]);
    }
    if (x < w) plainPixel(out + 3 * x, y[x], cb[c], cr[c]);  // an odd last column
}

// One row, or two sharing their chroma (y1 and out1 not null).
void halfRows(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb, const uint8_t* cr, int64_t px, int64_t w,
              uint8_t* out0, uint8_t* out1)
{
    int64_t x = 0, c = px >> 1;
    if ((px & 1) && w > 0) {
        plainPixel(out0, y0[0], cb[c], cr[c]);
        if (y1) plainPixel(out1, y1[0], cb[c], cr[c]);
        x = 1, c++;
    }
#if defined(YUV_WIDE)
    int64_t n = 0;
    if (g_steps == VIEW_YUV_AVX2) {
        n = (w - x) & ~int64_t(15);
        halfAvx2(y0 + x, y1 ? y1 + x : nullptr, cb + c, cr + c, n, out0 + 3 * x, y1 ? out1 + 3 * x : nullptr);
    } else if (g_steps == VIEW_YUV_SSE2) {
        n = (w - x) & ~int64_t(7);
        halfSse2(y0 + x, y1 ? y1 + x : nullptr, cb + c, cr + c, n, out0 + 3 * x, y1 ? out1 + 3 * x : nullptr);
    }
    x += n, c += n / 2;
#endif
    halfPlain(y0, cb, cr, x, c, w, out0);
    if (y1) halfPlain(y1, cb, cr, x, c, w, out1);
}

}  // namespace

void VIEW_iYuvRowHalf(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int64_t px, int64_t w, uint8_t* out)
{
    halfRows(y, nullptr, cb, cr, px, w, out, nullptr);
}

void VIEW_iYuvRowPairHalf(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb, const uint8_t* cr, int64_t px,
                          int64_t w, uint8_t* out0, uint8_t* out1)
{
    halfRows(y0, y1, cb, cr, px, w, out0, out1);
}

int VIEW_iYuvSteps(int widest)
{
    const int was = g_steps;
    const int best = bestSteps();
    g_steps = widest < VIEW_YUV_PLAIN ? VIEW_YUV_PLAIN : widest < best ? widest : best;
    return was;
}
