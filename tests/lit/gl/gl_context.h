// One off-screen GL context (an unshown window on the X display) for the whole test
// program, current on the calling thread; 64 by 64 pixels with depth and
// stencil.
#pragma once

namespace lit {

constexpr int GL_TEST_WIDTH = 64, GL_TEST_HEIGHT = 64;

// Makes the context on first use; false without a display or a usable
// configuration.
bool glContextReady();

}   // namespace lit
