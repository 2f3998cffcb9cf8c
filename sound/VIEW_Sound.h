// The sound output interface. The defaults output nothing.
#pragma once

#include <cstdint>

#include "base/CTRL_Array.h"

class MDL_Viewport;

class VIEW_Sound {
public:
    virtual ~VIEW_Sound() {}
    virtual uint32_t getSampleRate() { return 44100; }
    // Mixes what the viewports' listeners hear into the output and answers
    // the number of frames written.
    virtual int32_t update(const CTRL_Array<MDL_Viewport*>* /*viewports*/) { return 0; }
    virtual void stop() {}
    virtual void play() {}
};
