// Key symbols of the X server turned into the virtual-key codes that the
// player's key tables and KEY_ constants use (US layout for the symbols
// that a shifted key gives).
#pragma once

#include <cstdint>

// 0 for a symbol without a virtual key.
uint32_t PLAT_iKeysymToVirtualKey(uint32_t keysym);
