#include "base/MDL_XmlValues.h"

#include <charconv>
#include <cstring>

#include <tinyxml.h>

const char* MDL_iElementText(const TiXmlElement* element)
{
    if (!element) return nullptr;
    const TiXmlNode* child = element->FirstChild();
    if (!child) return nullptr;
    const TiXmlText* text = child->ToText();
    return text ? text->Value() : nullptr;
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

static inline int MDL_iHexDigit(char c)
{
    return MDL_gHex.value[static_cast<unsigned char>(c)];
}

size_t MDL_iCountHexBytes(const char* text)
{
    if (!text) return 0;
    size_t digits = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++)
        digits += MDL_gHex.value[*p] >= 0;
    return digits / 2;
}

const char* MDL_iDecodeHex(const char* text, size_t count, uint8_t* target, size_t* decoded)
{
    size_t n = 0;
    if (text) {
        int high = -1;
        while (n < count && *text) {
            int d = MDL_iHexDigit(*text++);
            if (d < 0) continue;
            if (high < 0) {
                high = d;
            } else {
                target[n++] = static_cast<uint8_t>(high << 4 | d);
                high = -1;
            }
        }
    }
    if (decoded) *decoded = n;
    return text;
}

// Little-endian words of the hex arrays.
static inline uint32_t MDL_iLittle32(const uint8_t* b)
{
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

const char* MDL_iDecodeDoubles(const char* text, int elementSize, size_t count, double* target,
                               size_t* decoded)
{
    size_t n = 0;
    if (elementSize == 8 || elementSize == 4) {
        uint8_t bytes[8];
        while (n < count) {
            size_t got = 0;
            text = MDL_iDecodeHex(text, size_t(elementSize), bytes, &got);
            if (got < size_t(elementSize)) break;
            if (elementSize == 8) {
                uint64_t bits = uint64_t(MDL_iLittle32(bytes + 4)) << 32 | MDL_iLittle32(bytes);
                double v;
                std::memcpy(&v, &bits, 8);
                target[n++] = v;
            } else {
                uint32_t bits = MDL_iLittle32(bytes);
                float v;
                std::memcpy(&v, &bits, 4);
                target[n++] = v;
            }
        }
    }
    if (decoded) *decoded = n;
    return text;
}

const char* MDL_iDecodeIndices(const char* text, int elementSize, size_t count, uint32_t* target,
                               size_t* decoded)
{
    size_t n = 0;
    if (elementSize == 4 || elementSize == 2) {
        uint8_t bytes[4];
        while (n < count) {
            size_t got = 0;
            text = MDL_iDecodeHex(text, size_t(elementSize), bytes, &got);
            if (got < size_t(elementSize)) break;
            if (elementSize == 4) {
                target[n++] = MDL_iLittle32(bytes);
            } else {
                uint32_t v = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8;
                target[n++] = v == 0xFFFF ? 0xFFFFFFFFu : v;
            }
        }
    }
    if (decoded) *decoded = n;
    return text;
}
