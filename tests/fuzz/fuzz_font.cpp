// Fuzz target for fonts and text: font bytes opened from memory, a UTF-8
// text measured with them and laid out into overlay geometry.
// Input: tab size (1 signed byte), text length n (1 byte), n text bytes,
// then the font file (none: the compiled-in font).
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/VIEW_Font.h"
#include "model/MDL_Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    int32_t tab = (int8_t)data[0];
    size_t n = data[1];
    if (n > size - 2)
        n = size - 2;
    std::vector<char> text(data + 2, data + 2 + n);
    text.push_back(0);
    const uint8_t* fontBytes = data + 2 + n;
    size_t fontSize = size - 2 - n;
    // The font keeps reading its bytes while it lives: give it its own copy.
    uint8_t* copy = nullptr;
    if (fontSize > 0) {
        copy = static_cast<uint8_t*>(std::malloc(fontSize));
        std::memcpy(copy, fontBytes, fontSize);
    }
    VIEW_Font font(fontSize > 0 ? "fuzz" : "default", copy, (uint32_t)fontSize, 1);
    MDL_Text t;
    t.font = &font;
    t.tabSize = tab;
    t.size = 0.05;
    t.setText(text.data());
    t.hitTest(0.01, 0.01);
    font.setScreenSize(24);
    double b[4];
    font.measure(text.data(), tab, 1.0, b);
    return 0;
}
