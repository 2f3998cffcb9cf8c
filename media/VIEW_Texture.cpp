#include "media/VIEW_Texture.h"

#include <cstdlib>
#include <cstring>

#include <tinyxml.h>

#include "base/CTRL_Array.h"
#include "base/MDL_XmlValues.h"

static uint32_t VIEW_gInstanceCounter = 1;

uint32_t VIEW_iTakeInstanceId()
{
    return VIEW_gInstanceCounter++;
}

static char* VIEW_iCopyString(const char* s)
{
    if (!s) return nullptr;
    size_t n = std::strlen(s) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

VIEW_Texture::VIEW_Texture() : instanceId(VIEW_iTakeInstanceId()) {}

VIEW_Texture::VIEW_Texture(const char* n, uint8_t* d, uint32_t size, uint8_t owns)
    : name(VIEW_iCopyString(n)), dataSize(size), data(d), ownsData(owns),
      instanceId(VIEW_iTakeInstanceId())
{
    probe();
}

VIEW_Texture::~VIEW_Texture()
{
    std::free(name);
    if (ownsData && !rawPixels) std::free(data);
    LMP_iReleaseProxy(&proxy);
}

bool VIEW_Texture::read(const TiXmlElement* element)
{
    std::free(name);
    name = VIEW_iCopyString(element->Attribute("name"));
    if (ownsData && !rawPixels) std::free(data);
    data = nullptr;
    dataSize = 0;
    ownsData = 0;
    decodeFailed = 0;

    int size = 0;
    if (element->QueryIntAttribute("size", &size) != TIXML_SUCCESS || size < 0) size = 0;
    const char* text = MDL_iElementText(element);
    // Two characters a byte bound the storage (the length the document
    // keeps, found without a pass over the text); the bytes are decoded
    // once, and the size is what they filled.
    size_t available = text ? MDL_iElementTextLength(element) / 2 : 0;
    size_t want = size_t(size) < available ? size_t(size) : available;
    if (want > 0) {
        data = static_cast<uint8_t*>(std::malloc(want));
        if (data) {
            size_t got = 0;
            MDL_iDecodeHex(text, want, data, &got, MDL_iElementTextEnd(element, text));
            if (got == 0) {
                std::free(data);
                data = nullptr;
            } else {
                if (got < want) {
                    uint8_t* fitted = static_cast<uint8_t*>(std::realloc(data, got));
                    if (fitted) data = fitted;
                }
                dataSize = static_cast<uint32_t>(got);
                ownsData = 1;
            }
        }
    }

    const char* f = element->Attribute("filter");
    filter = FILTER_DEFAULT;
    if (f) {
        if (std::strcmp(f, "mipmap") == 0) filter = FILTER_MIPMAP;
        else if (std::strcmp(f, "linear") == 0) filter = FILTER_LINEAR;
        else if (std::strcmp(f, "nearest_point") == 0) filter = FILTER_NEAREST_POINT;
    }
    probe();
    return true;
}

static uint32_t VIEW_iBe16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
static uint32_t VIEW_iBe32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

static bool VIEW_iSameNoCase(const uint8_t* p, const char* s, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        int a = p[i], b = static_cast<unsigned char>(s[i]);
        if (a >= 'a' && a <= 'z') a -= 32;
        if (b >= 'a' && b <= 'z') b -= 32;
        if (a != b) return false;
    }
    return true;
}

// Every read below is bounds-checked against the data size; positions are
// 64-bit so that a huge chunk or segment length cannot wrap around, and each
// step moves forward, so the walks end.
void VIEW_Texture::probe()
{
    width = height = 0;
    transparent = 0;
    const uint64_t size = dataSize;
    const uint8_t* d = data;
    if (!d) return;

    if (size >= 10 && (VIEW_iSameNoCase(d + 6, "JFIF", 4) || VIEW_iSameNoCase(d + 6, "EXIF", 4))) {
        uint64_t s = 2;
        uint64_t L = VIEW_iBe16(d + 4);
        if (2 + L + 2 >= size) return;
        while (true) {
            if (s + 2 > size) return;
            if (VIEW_iBe16(d + s) == 0xFFC0) {
                if (s + 9 > size) return;
                height = VIEW_iBe16(d + s + 5);
                width = VIEW_iBe16(d + s + 7);
                return;
            }
            s += L + 2;
            if (s + 4 > size) return;
            L = VIEW_iBe16(d + s + 2);
            if (!(s + L + 2 < size)) return;
        }
    }

    static const uint8_t signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (size >= 8 && std::memcmp(d, signature, 8) == 0) {
        uint64_t c = 8;
        if (size < c + 8) return;
        if (!(uint64_t(VIEW_iBe32(d + c)) + 12 + 8 < size)) return;
        while (c + 8 <= size) {
            uint64_t length = VIEW_iBe32(d + c);
            const uint8_t* type = d + c + 4;
            if (VIEW_iSameNoCase(type, "IEND", 4)) break;
            if (VIEW_iSameNoCase(type, "tRNS", 4)) transparent = 1;
            if (VIEW_iSameNoCase(type, "IHDR", 4) && c + 18 <= size) {
                width = VIEW_iBe32(d + c + 8);
                height = VIEW_iBe32(d + c + 12);
                if (d[c + 17] & 4) transparent = 1;
            }
            c += length + 12;
        }
    }
}

void CTRL_iFreeImageList(CTRL_Array<VIEW_Texture*>* list)
{
    if (list)
        list->deleteAll();
}
