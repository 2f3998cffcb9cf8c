#include "base/MDL_XmlValues.h"

#include <charconv>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <tinyxml.h>

const char* MDL_iElementText(const TiXmlElement* element)
{
    if (!element) return nullptr;
    const TiXmlNode* child = element->FirstChild();
    if (!child) return nullptr;
    const TiXmlText* text = child->ToText();
    return text ? text->Value() : nullptr;
}

size_t MDL_iElementTextLength(const TiXmlElement* element)
{
    if (!element) return 0;
    const TiXmlNode* child = element->FirstChild();
    const TiXmlText* text = child ? child->ToText() : nullptr;
    return text ? text->ValueTStr().size() : 0;
}

const char* MDL_iElementTextEnd(const TiXmlElement* element, const char* text)
{
    return text ? text + MDL_iElementTextLength(element) : nullptr;
}

static bool MDL_iIsSeparator(char c)
{
    return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n';
}

// One token [begin, end) as a real; 0 when it is no number.
static double MDL_iTokenToDouble(const char* begin, const char* end)
{
    if (begin < end && *begin == '+') begin++;
    double v = 0.0;
    auto r = std::from_chars(begin, end, v);
    if (r.ec != std::errc()) return 0.0;
    return v;
}

int MDL_iParseNumbers(const char* text, double* target, int n)
{
    if (!text || n <= 0) return 0;
    int read = 0;
    const char* p = text;
    while (read < n) {
        while (*p && MDL_iIsSeparator(*p)) p++;
        if (!*p) break;
        const char* start = p;
        while (*p && !MDL_iIsSeparator(*p)) p++;
        target[read++] = MDL_iTokenToDouble(start, p);
    }
    return read;
}

int MDL_iParseInteger(const char* text, int32_t* target)
{
    if (!text) return 0;
    const char* p = text;
    while (*p && MDL_iIsSeparator(*p)) p++;
    if (!*p) return 0;
    const char* start = p;
    while (*p && !MDL_iIsSeparator(*p)) p++;
    if (start < p && *start == '+') start++;
    int64_t v = 0;
    auto r = std::from_chars(start, p, v);
    if (r.ec == std::errc::result_out_of_range) v = (*start == '-') ? INT32_MIN : INT32_MAX;
    else if (r.ec != std::errc()) v = 0;
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    *target = static_cast<int32_t>(v);
    return 1;
}

bool MDL_iGetChildNumbers(const TiXmlElement* element, const char* name, double* target, int n)
{
    if (!element) return false;
    const TiXmlElement* child = element->FirstChildElement(name);
    if (!child) return false;
    return MDL_iParseNumbers(MDL_iElementText(child), target, n) == n;
}

bool MDL_iGetChildBool(const TiXmlElement* element, const char* name, uint8_t* target)
{
    if (!element) return false;
    const TiXmlElement* child = element->FirstChildElement(name);
    if (!child) return false;
    int32_t v = 0;
    if (MDL_iParseInteger(MDL_iElementText(child), &v) != 1) return false;
    *target = v != 0;
    return true;
}

// Value of each lowercase hex digit, -1 for every other character.
static const struct MDL_HexTable {
    int8_t value[256];
    MDL_HexTable()
    {
        for (int i = 0; i < 256; i++) value[i] = -1;
        for (int i = 0; i < 10; i++) value['0' + i] = int8_t(i);
        for (int i = 0; i < 6; i++) value['a' + i] = int8_t(10 + i);
    }
} MDL_gHex;

static int MDL_iBestHexSteps();
static int MDL_gHexSteps = MDL_iBestHexSteps();

#if defined(__x86_64__)
// One bit per character of v that is a lowercase hex digit.
__attribute__((target("arch=x86-64-v3"))) static inline unsigned MDL_iHexDigits(__m256i v)
{
    // Signed compares: bytes from 128 up are negative and fail both.
    const __m256i digit = _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8('0' - 1)),
                                           _mm256_cmpgt_epi8(_mm256_set1_epi8('9' + 1), v));
    const __m256i letter = _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8('a' - 1)),
                                            _mm256_cmpgt_epi8(_mm256_set1_epi8('f' + 1), v));
    return unsigned(_mm256_movemask_epi8(_mm256_or_si256(digit, letter)));
}

// The 16 bytes of 32 characters, two a byte; right for each pair of digits.
__attribute__((target("arch=x86-64-v3"))) static inline __m128i MDL_iHexBytes(__m256i v)
{
    const __m256i digit = _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8('0' - 1)),
                                           _mm256_cmpgt_epi8(_mm256_set1_epi8('9' + 1), v));
    const __m256i base = _mm256_blendv_epi8(_mm256_set1_epi8('a' - 10), _mm256_set1_epi8('0'), digit);
    // 16 for the first character of a pair, 1 for the second; then words to
    // bytes within each half, and the two halves' bytes together.
    const __m256i words = _mm256_maddubs_epi16(_mm256_sub_epi8(v, base), _mm256_set1_epi16(0x0110));
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0xD8));
}

// Lines of 64 digits and one character after each (a line break), as the
// arrays are written: while at least 32 bytes are wanted and a line and the
// character after it lie before limit. Moves p past the lines used and the
// character after each, stepped over as one between pairs (a NUL there ends
// the text: p is left on it, and so is it after the last digit wanted);
// stops before a line that is not all digits. Returns the bytes written.
// Two AVX2 registers a line, or one on AVX-512.
__attribute__((target("arch=x86-64-v3"))) static size_t MDL_iDecodeLines256(const unsigned char*& at,
                                                                           const unsigned char* limit, size_t count,
                                                                           uint8_t* target)
{
    const unsigned char* p = at;  // kept apart from the bytes written
    size_t n = 0;
    while (limit - p >= 65 && count - n >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        if ((MDL_iHexDigits(v) & MDL_iHexDigits(next)) != 0xFFFFFFFFu) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + n), MDL_iHexBytes(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + n + 16), MDL_iHexBytes(next));
        n += 32;
        p += 64;
        if (n < count && MDL_gHex.value[*p] < 0) {  // nothing is read past the last digit wanted
            if (!*p) break;
            p++;
        }
    }
    at = p;
    return n;
}

__attribute__((target("avx512bw,avx512vl"))) static size_t MDL_iDecodeLines512(const unsigned char*& at,
                                                                              const unsigned char* limit,
                                                                              size_t count, uint8_t* target)
{
    const __m512i zero = _mm512_set1_epi8('0'), a = _mm512_set1_epi8('a'), ten = _mm512_set1_epi8(10),
                  six = _mm512_set1_epi8(6), weights = _mm512_set1_epi16(0x0110);
    const unsigned char* p = at;  // kept apart from the bytes written
    size_t n = 0;
    while (limit - p >= 65 && count - n >= 32) {
        const __m512i v = _mm512_loadu_si512(p);
        const __m512i digits = _mm512_sub_epi8(v, zero), letters = _mm512_sub_epi8(v, a);
        const __mmask64 digit = _mm512_cmplt_epu8_mask(digits, ten), letter = _mm512_cmplt_epu8_mask(letters, six);
        if ((digit | letter) != ~__mmask64(0)) break;
        // 16 for the first digit of a pair and 1 for the second, then the
        // words to bytes.
        const __m512i values = _mm512_mask_blend_epi8(digit, _mm512_add_epi8(letters, ten), digits);
        const __m512i words = _mm512_maddubs_epi16(values, weights);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + n),
                            _mm512_mask_cvtepi16_epi8(_mm256_setzero_si256(), ~__mmask32(0), words));
        n += 32;
        p += 64;
        if (n < count && MDL_gHex.value[*p] < 0) {  // nothing is read past the last digit wanted
            if (!*p) break;
            p++;
        }
    }
    at = p;
    return n;
}

// Whole pairs from p, lines or 32 characters at a time, while at least 16 bytes are
// still wanted; single other characters between pairs are skipped, and the
// decoding stops before a pair that another character splits. Only the
// characters before limit are read, none of which may be the terminator.
// Returns the bytes written; *end gets the position after the characters
// used.
__attribute__((target("arch=x86-64-v3"))) static size_t MDL_iDecodePairsWide(const unsigned char* p,
                                                                              const unsigned char* limit,
                                                                              size_t count, uint8_t* target,
                                                                              const unsigned char** end)
{
    size_t n = 0;
    while (limit - p >= 32 && count - n >= 16) {
        n += (MDL_gHexSteps >= MDL_HEX_AVX512 ? MDL_iDecodeLines512 : MDL_iDecodeLines256)(p, limit, count - n,
                                                                                          target + n);
        if (limit - p < 32 || count - n < 16) break;
        if (MDL_gHex.value[*p] < 0) {  // a line break between pairs, mostly
            if (!*p) break;            // a NUL ends the text, even before the limit
            p++;
            continue;
        }
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        // A byte of a pair that another character splits comes out wrong
        // here, but only the bytes before the first such character are kept.
        const unsigned mask = MDL_iHexDigits(v);
        const __m128i low = MDL_iHexBytes(v);
        if (mask == 0xFFFFFFFFu) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + n), low);
            n += 16;
            p += 32;
            continue;
        }
        // Up to the first character that is no digit; one that falls
        // between pairs (a line break, a space) is stepped over here, as
        // the pair-by-pair reading would.
        const unsigned digits = unsigned(__builtin_ctz(~mask));
        uint8_t part[16];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(part), low);
        std::memcpy(target + n, part, digits / 2);
        n += digits / 2;
        p += digits & ~1u;
        if (digits % 2 || !*p) break;  // the lone digit, or a NUL, is left to the caller
        p++;
    }
    *end = p;
    return n;
}

#endif

static int MDL_iBestHexSteps()
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")) return MDL_HEX_AVX512;
    if (__builtin_cpu_supports("avx2")) return MDL_HEX_AVX2;
#endif
    return MDL_HEX_PLAIN;
}

int MDL_iHexSteps(int widest)
{
    const int was = MDL_gHexSteps;
    const int best = MDL_iBestHexSteps();
    MDL_gHexSteps = widest < MDL_HEX_PLAIN ? MDL_HEX_PLAIN : widest < best ? widest : best;
    return was;
}

const char* MDL_iDecodeHex(const char* text, size_t count, uint8_t* target, size_t* decoded, const char* end)
{
    size_t n = 0;
    if (text) {
        const int8_t* value = MDL_gHex.value;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
        // Characters up to here are known to lie before the terminator; the
        // text is measured a page at a time as the decoding gets there, so
        // that nothing past the terminator is ever read.
        const bool given = end && end >= text;
        const unsigned char* known = given ? reinterpret_cast<const unsigned char*>(end) : p;
        bool ended = given;
        int high = -1;
        while (n < count) {
            // Whole pairs straight through, the usual case; a character is
            // looked at only once the one before it was a digit, so nothing
            // past the terminator is read.
            if (high < 0) {
#if defined(__x86_64__)
                if (MDL_gHexSteps >= MDL_HEX_AVX2 && count - n >= 16) {
                    if (!ended && known - p < 64) {
                        const size_t length = strnlen(reinterpret_cast<const char*>(p), 4096);
                        known = p + length;
                        ended = length < 4096;
                    }
                    n += MDL_iDecodePairsWide(p, known, count - n, target + n, &p);
                }
#endif
                while (n < count) {
                    int h = value[p[0]];
                    if (h < 0) break;
                    int l = value[p[1]];
                    if (l < 0) break;
                    target[n++] = static_cast<uint8_t>(h << 4 | l);
                    p += 2;
                }
                if (n == count) break;
            }
            if (!*p) break;
            int d = value[*p++];
            if (d < 0) continue;
            if (high < 0) {
                high = d;
            } else {
                target[n++] = static_cast<uint8_t>(high << 4 | d);
                high = -1;
            }
        }
        text = reinterpret_cast<const char*>(p);
    }
    if (decoded) *decoded = n;
    return text;
}

// Little-endian words of the hex arrays.
static inline uint32_t MDL_iLittle32(const uint8_t* b)
{
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// Values decode a block of bytes at a time into this much stack space; a
// block ends on a value boundary, so a value cut short by the end of the
// text is never stored, and the text is read no further than the values
// asked for.
static const size_t MDL_kHexBlock = 1024;

// Values of `size` bytes each, a block at a time, each turned into a T by
// `value`; stops at the first value the text cuts short.
template <typename T, typename Value>
static const char* MDL_iDecodeValues(const char* text, size_t size, size_t count, T* target, size_t* decoded,
                                     const char* end, Value value)
{
    const size_t perBlock = MDL_kHexBlock / size;
    uint8_t bytes[MDL_kHexBlock];
    size_t n = 0;
    while (n < count) {
        const size_t want = count - n < perBlock ? count - n : perBlock;
        size_t got = 0;
        text = MDL_iDecodeHex(text, want * size, bytes, &got, end);
        const size_t whole = got / size;
        for (size_t k = 0; k < whole; k++) target[n + k] = value(bytes + k * size);
        n += whole;
        if (whole < want) break;
    }
    if (decoded) *decoded = n;
    return text;
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Values whose little-endian bytes are their storage as they stand: decoded
// straight into the target, a block at a time. Each block's old bytes are
// kept first, so that the bytes of a value the text cuts short are put back
// and nothing past the values is changed.
static const size_t MDL_kRawBlock = 4096;

template <typename T>
static const char* MDL_iDecodeRaw(const char* text, size_t count, T* target, size_t* decoded, const char* end)
{
    const size_t perBlock = MDL_kRawBlock / sizeof(T);
    uint8_t kept[MDL_kRawBlock];
    size_t n = 0;
    while (n < count) {
        const size_t want = count - n < perBlock ? count - n : perBlock;
        uint8_t* at = reinterpret_cast<uint8_t*>(target + n);
        std::memcpy(kept, at, want * sizeof(T));
        size_t got = 0;
        text = MDL_iDecodeHex(text, want * sizeof(T), at, &got, end);
        const size_t whole = got / sizeof(T);
        n += whole;
        if (whole < want) {
            std::memcpy(at + whole * sizeof(T), kept + whole * sizeof(T), got % sizeof(T));
            break;
        }
    }
    if (decoded) *decoded = n;
    return text;
}
#define MDL_HEX_RAW 1
#endif

const char* MDL_iDecodeDoubles(const char* text, int elementSize, size_t count, double* target,
                               size_t* decoded, const char* end)
{
#if MDL_HEX_RAW
    if (elementSize == 8) return MDL_iDecodeRaw(text, count, target, decoded, end);
#endif
    if (elementSize == 8)
        return MDL_iDecodeValues(text, 8, count, target, decoded, end, [](const uint8_t* b) {
            const uint64_t bits = uint64_t(MDL_iLittle32(b + 4)) << 32 | MDL_iLittle32(b);
            double v;
            std::memcpy(&v, &bits, 8);
            return v;
        });
    if (elementSize == 4)
        return MDL_iDecodeValues(text, 4, count, target, decoded, end, [](const uint8_t* b) {
            const uint32_t bits = MDL_iLittle32(b);
            float v;
            std::memcpy(&v, &bits, 4);
            return double(v);
        });
    if (decoded) *decoded = 0;
    return text;
}

const char* MDL_iDecodeIndices(const char* text, int elementSize, size_t count, uint32_t* target,
                               size_t* decoded, const char* end)
{
#if MDL_HEX_RAW
    if (elementSize == 4) return MDL_iDecodeRaw(text, count, target, decoded, end);
#endif
    if (elementSize == 4)
        return MDL_iDecodeValues(text, 4, count, target, decoded, end,
                                 [](const uint8_t* b) { return MDL_iLittle32(b); });
    if (elementSize == 2)
        return MDL_iDecodeValues(text, 2, count, target, decoded, end, [](const uint8_t* b) {
            const uint32_t v = uint32_t(b[0]) | uint32_t(b[1]) << 8;
            return v == 0xFFFF ? 0xFFFFFFFFu : v;
        });
    if (decoded) *decoded = 0;
    return text;
}

// ---------------------------------------------------------------- nesting

// Character classes as the XML parser sees bytes: every byte from 127 up
// counts as a letter.
static bool MDL_iXmlSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

static bool MDL_iXmlNameStart(unsigned char c)
{
    return c >= 127 || c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static bool MDL_iXmlNameChar(unsigned char c)
{
    return MDL_iXmlNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}

static bool MDL_iStartsWith(const char* p, const char* prefix, bool ignoreCase)
{
    for (; *prefix; p++, prefix++) {
        unsigned char a = (unsigned char)*p, b = (unsigned char)*prefix;
        if (ignoreCase && a >= 'A' && a <= 'Z') a = (unsigned char)(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// The first end marker at or after p, or null when the text has none.
// A plain scan rather than strstr: a sanitizer's strstr measures the whole
// rest of the text on every call, which makes a long document quadratic.
static const char* MDL_iSkipPast(const char* p, const char* marker)
{
    const size_t n = std::strlen(marker);
    if (n == 0) return p;
    for (; *p; p++)
        if (*p == marker[0] && std::strncmp(p, marker, n) == 0) return p + n;
    return nullptr;
}

// The "<?xml" declaration, read as the parser reads it: quoted values only
// behind its version, encoding and standalone names, anything else skipped
// word by word up to the first '>'. Returns the position after it, or null
// where the parser gives up (the rest of the text is then never read).
static const char* MDL_iSkipDeclaration(const char* p)
{
    p += 5;
    while (*p) {
        if (*p == '>') return p + 1;
        while (MDL_iXmlSpace((unsigned char)*p)) p++;
        if (MDL_iStartsWith(p, "version", true) || MDL_iStartsWith(p, "encoding", true) ||
            MDL_iStartsWith(p, "standalone", true)) {
            while (MDL_iXmlNameChar((unsigned char)*p)) p++;
            while (MDL_iXmlSpace((unsigned char)*p)) p++;
            if (*p != '=') return nullptr;
            p++;
            while (MDL_iXmlSpace((unsigned char)*p)) p++;
            if (!*p) return nullptr;
            if (*p == '"' || *p == '\'') {
                const char* close = std::strchr(p + 1, *p);
                if (!close) return nullptr;
                p = close + 1;
            } else {
                for (; *p && !MDL_iXmlSpace((unsigned char)*p) && *p != '/' && *p != '>'; p++)
                    if (*p == '"' || *p == '\'') return nullptr;
            }
        } else {
            while (*p && *p != '>' && !MDL_iXmlSpace((unsigned char)*p)) p++;
        }
    }
    return nullptr;
}

bool MDL_iXmlDepthWithin(const char* text, int limit)
{
    if (!text) return true;
    int depth = 0;
    const char* p = text;
    while ((p = std::strchr(p, '<')) != nullptr) {
        if (p[1] == '/') {
            // An end tag closes the innermost element (a mismatched one stops
            // the parser, so nothing after it matters).
            if (depth > 0) depth--;
            p = MDL_iSkipPast(p + 2, ">");
        } else if (MDL_iStartsWith(p, "<?xml", true)) {
            p = MDL_iSkipDeclaration(p);
        } else if (MDL_iStartsWith(p, "<!--", false)) {
            p = MDL_iSkipPast(p + 4, "-->");
        } else if (MDL_iStartsWith(p, "<![CDATA[", false)) {
            p = MDL_iSkipPast(p + 9, "]]>");
        } else if (MDL_iXmlNameStart((unsigned char)p[1])) {
            // A start tag: attribute values in either quote may hold '<', '>'
            // and "/>"; the tag ends at the first '>' outside them.
            if (depth + 1 > limit) return false;
            for (p += 2; *p; p++) {
                if (*p == '"' || *p == '\'') {
                    const char* close = std::strchr(p + 1, *p);
                    if (!close) return true;
                    p = close;
                } else if (*p == '>') {
                    if (p[-1] != '/') depth++;
                    break;
                }
            }
            if (*p) p++;
        } else {
            // Other "<!" and "<?" constructs, and a '<' before anything that
            // starts no name, run to the first '>'.
            p = MDL_iSkipPast(p + 1, ">");
        }
        if (!p) break;
    }
    return true;
}
