// The loading screen's picture, a PNG linked into the player.
#pragma once

#include <cstdint>

const uint8_t* VIEW_iSplashPngData();
uint32_t VIEW_iSplashPngSize();
