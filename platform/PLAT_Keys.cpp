#include "platform/PLAT_Keys.h"

#include <algorithm>
#include <iterator>

namespace {

struct KeyPair {
    uint32_t keysym;
    uint32_t vk;
};

// Sorted by key symbol.
constexpr KeyPair kKeys[] = {
    {0x0020, 0x20}, {0x0021, '1'},  {0x0022, 0xDE}, {0x0023, '3'},  {0x0024, '4'},  {0x0025, '5'},
    {0x0026, '7'},  {0x0027, 0xDE}, {0x0028, '9'},  {0x0029, '0'},  {0x002A, '8'},  {0x002B, 0xBB},
    {0x002C, 0xBC}, {0x002D, 0xBD}, {0x002E, 0xBE}, {0x002F, 0xBF}, {0x003A, 0xBA}, {0x003B, 0xBA},
    {0x003C, 0xBC}, {0x003D, 0xBB}, {0x003E, 0xBE}, {0x003F, 0xBF}, {0x0040, '2'},  {0x005B, 0xDB},
    {0x005C, 0xDC}, {0x005D, 0xDD}, {0x005E, '6'},  {0x005F, 0xBD}, {0x0060, 0xC0}, {0x007B, 0xDB},
    {0x007C, 0xDC}, {0x007D, 0xDD}, {0x007E, 0xC0}, {0xFE20, 0x09}, {0xFF08, 0x08}, {0xFF09, 0x09},
    {0xFF0B, 0x0C}, {0xFF0D, 0x0D}, {0xFF13, 0x13}, {0xFF14, 0x91}, {0xFF1B, 0x1B}, {0xFF50, 0x24},
    {0xFF51, 0x25}, {0xFF52, 0x26}, {0xFF53, 0x27}, {0xFF54, 0x28}, {0xFF55, 0x21}, {0xFF56, 0x22},
    {0xFF57, 0x23}, {0xFF60, 0x29}, {0xFF61, 0x2C}, {0xFF62, 0x2B}, {0xFF63, 0x2D}, {0xFF67, 0x5D},
    {0xFF6A, 0x2F}, {0xFF7F, 0x90}, {0xFF8D, 0x0D}, {0xFF95, 0x24}, {0xFF96, 0x25}, {0xFF97, 0x26},
    {0xFF98, 0x27}, {0xFF99, 0x28}, {0xFF9A, 0x21}, {0xFF9B, 0x22}, {0xFF9C, 0x23}, {0xFF9D, 0x0C},
    {0xFF9E, 0x2D}, {0xFF9F, 0x2E}, {0xFFAA, 0x6A}, {0xFFAB, 0x6B}, {0xFFAC, 0x6C}, {0xFFAD, 0x6D},
    {0xFFAE, 0x6E}, {0xFFAF, 0x6F}, {0xFFE1, 0x10}, {0xFFE2, 0x10}, {0xFFE3, 0x11}, {0xFFE4, 0x11},
    {0xFFE5, 0x14}, {0xFFE7, 0x5B}, {0xFFE8, 0x5C}, {0xFFE9, 0x12}, {0xFFEA, 0x12}, {0xFFEB, 0x5B},
    {0xFFEC, 0x5C}, {0xFFFF, 0x2E},
};

}  // namespace

uint32_t PLAT_iKeysymToVirtualKey(uint32_t keysym) {
    if (keysym >= 'a' && keysym <= 'z') return keysym - 'a' + 'A';
    if ((keysym >= 'A' && keysym <= 'Z') || (keysym >= '0' && keysym <= '9')) return keysym;
    if (keysym >= 0xFFB0 && keysym <= 0xFFB9) return 0x60 + (keysym - 0xFFB0);  // keypad digits
    if (keysym >= 0xFFBE && keysym <= 0xFFD5) return 0x70 + (keysym - 0xFFBE);  // F1 to F24
    auto it = std::lower_bound(std::begin(kKeys), std::end(kKeys), keysym,
                               [](const KeyPair &p, uint32_t k) { return p.keysym < k; });
    if (it != std::end(kKeys) && it->keysym == keysym) return it->vk;
    return 0;
}

namespace {

// X keycodes (evdev numbering) by their place on the keyboard, with the
// virtual key of that place. Sorted by keycode.
constexpr KeyPair kPlaces[] = {
    {9, 0x1B},    {10, '1'},    {11, '2'},    {12, '3'},    {13, '4'},    {14, '5'},    {15, '6'},
    {16, '7'},    {17, '8'},    {18, '9'},    {19, '0'},    {20, 0xBD},   {21, 0xBB},   {22, 0x08},
    {23, 0x09},   {24, 'Q'},    {25, 'W'},    {26, 'E'},    {27, 'R'},    {28, 'T'},    {29, 'Y'},
    {30, 'U'},    {31, 'I'},    {32, 'O'},    {33, 'P'},    {34, 0xDB},   {35, 0xDD},   {36, 0x0D},
    {37, 0x11},   {38, 'A'},    {39, 'S'},    {40, 'D'},    {41, 'F'},    {42, 'G'},    {43, 'H'},
    {44, 'J'},    {45, 'K'},    {46, 'L'},    {47, 0xBA},   {48, 0xDE},   {49, 0xC0},   {50, 0x10},
    {51, 0xDC},   {52, 'Z'},    {53, 'X'},    {54, 'C'},    {55, 'V'},    {56, 'B'},    {57, 'N'},
    {58, 'M'},    {59, 0xBC},   {60, 0xBE},   {61, 0xBF},   {62, 0x10},   {63, 0x6A},   {64, 0x12},
    {65, 0x20},   {66, 0x14},   {67, 0x70},   {68, 0x71},   {69, 0x72},   {70, 0x73},   {71, 0x74},
    {72, 0x75},   {73, 0x76},   {74, 0x77},   {75, 0x78},   {76, 0x79},   {77, 0x90},   {78, 0x91},
    {82, 0x6D},   {86, 0x6B},   {94, 0xE2},   {95, 0x7A},   {96, 0x7B},   {104, 0x0D},  {105, 0x11},
    {106, 0x6F},  {107, 0x2C},  {108, 0x12},  {110, 0x24},  {111, 0x26},  {112, 0x21},  {113, 0x25},
    {114, 0x27},  {115, 0x23},  {116, 0x28},  {117, 0x22},  {118, 0x2D},  {119, 0x2E},  {121, 0xAD},
    {122, 0xAE},  {123, 0xAF},  {127, 0x13},  {133, 0x5B},  {134, 0x5C},  {135, 0x5D},  {150, 0x5F},
    {163, 0xB4},  {164, 0xAB},  {166, 0xA6},  {167, 0xA7},  {171, 0xB0},  {172, 0xB3},  {173, 0xB1},
    {174, 0xB2},  {180, 0xAC},  {181, 0xA8},  {191, 0x7C},  {192, 0x7D},  {193, 0x7E},  {194, 0x7F},
    {195, 0x80},  {196, 0x81},  {197, 0x82},  {198, 0x83},  {199, 0x84},  {200, 0x85},  {201, 0x86},
    {202, 0x87},  {225, 0xAA},
};

// The keypad's number keys: keycode, the code with NumLock on, with it off.
struct KeypadKey {
    uint32_t keycode, on, off;
};
constexpr KeypadKey kKeypad[] = {
    {79, 0x67, 0x24}, {80, 0x68, 0x26}, {81, 0x69, 0x21}, {83, 0x64, 0x25}, {84, 0x65, 0x0C},
    {85, 0x66, 0x27}, {87, 0x61, 0x23}, {88, 0x62, 0x28}, {89, 0x63, 0x22}, {90, 0x60, 0x2D},
    {91, 0x6E, 0x2E},
};

uint32_t place(uint32_t keycode) {
    auto it = std::lower_bound(std::begin(kPlaces), std::end(kPlaces), keycode,
                               [](const KeyPair &p, uint32_t k) { return p.keysym < k; });
    return it != std::end(kPlaces) && it->keysym == keycode ? it->vk : 0;
}

bool isLatinLetter(uint32_t keysym) { return (keysym >= 'a' && keysym <= 'z') || (keysym >= 'A' && keysym <= 'Z'); }

constexpr uint32_t kAltGr = 0xFE03;  // ISO_Level3_Shift

}  // namespace

uint32_t PLAT_iKeyToVirtualKey(uint32_t keycode, uint32_t unshifted, bool numLock) {
    for (const KeypadKey &k : kKeypad)
        if (k.keycode == keycode) return numLock ? k.on : k.off;
    if (keycode >= 10 && keycode <= 19) return place(keycode);  // the digit row, in every layout
    if (isLatinLetter(unshifted)) return unshifted & ~0x20u;  // the letter, whatever its place
    // Any other key by its place; a letter's place that types no Latin
    // letter (Cyrillic, Greek) keeps the US letter of that place.
    uint32_t vk = place(keycode);
    return vk != 0 ? vk : PLAT_iKeysymToVirtualKey(unshifted);  // a key the table does not place
}

bool PLAT_KeyTracker::altHeld() const {
    bool alt = false, control = false;
    for (const auto &d : down_) {
        alt = alt || d.second.systemAlt;
        control = control || d.second.vk == 0x11;
    }
    return alt && !control;
}

// Alt and F10 themselves, and any key while Alt is held without Control.
bool PLAT_KeyTracker::isSystem(const Down &d) const { return d.systemAlt || d.vk == 0x79 || altHeld(); }

uint32_t PLAT_KeyTracker::keyState() const {
    uint32_t s = 0;
    for (const auto &d : down_) {
        if (d.second.vk == 0x10) s |= PLAT_KS_SHIFT;
        if (d.second.vk == 0x11) s |= PLAT_KS_CONTROL;
        if (d.second.systemAlt) s |= PLAT_KS_ALT;
    }
    return s;
}

bool PLAT_KeyTracker::isDown(uint32_t vk) const {
    for (const auto &d : down_)
        if (d.second.vk == vk) return true;
    return false;
}

bool PLAT_KeyTracker::press(uint32_t keycode, uint32_t vk, uint32_t unshifted, PLAT_Msg *out) {
    auto it = down_.find(keycode);
    if (it == down_.end()) {
        if (vk == 0) return false;
        bool alt = altHeld();
        it = down_.emplace(keycode, Down{vk, vk == 0x12 && unshifted != kAltGr, next_++}).first;
        if (alt && vk == 0x0D) {
            *out = PLAT_Msg{nullptr, PLAT_WM_SYSCOMMAND, PLAT_SC_KEYMENU, 13, keyState()};
            return true;
        }
    }
    // Auto-repeat keeps the first press's code.
    const Down &d = it->second;
    *out = PLAT_Msg{nullptr, isSystem(d) ? PLAT_WM_SYSKEYDOWN : PLAT_WM_KEYDOWN, d.vk, 1, keyState()};
    return true;
}

bool PLAT_KeyTracker::release(uint32_t keycode, PLAT_Msg *out) {
    auto it = down_.find(keycode);
    if (it == down_.end()) return false;
    Down d = it->second;
    bool system = isSystem(d);
    down_.erase(it);
    *out = PLAT_Msg{nullptr, system ? PLAT_WM_SYSKEYUP : PLAT_WM_KEYUP, d.vk, 1, keyState()};
    return true;
}

std::vector<PLAT_Msg> PLAT_KeyTracker::releaseAll() {
    std::vector<std::pair<uint64_t, uint32_t>> order;
    for (const auto &d : down_) order.emplace_back(d.second.order, d.first);
    std::sort(order.begin(), order.end());
    std::vector<PLAT_Msg> out;
    for (const auto &o : order) {
        PLAT_Msg m;
        if (release(o.second, &m)) out.push_back(m);
    }
    return out;
}
