// Render pass, sound pump and video advance of the controller.
#include "controller/CTRL_Generic.h"
#include "render/VIEW_Generic.h"
#include "sound/VIEW_Sound.h"

void CTRL_Generic::render(void*, VIEW_Generic* view)
{
    inverseFrequency = 1.0 / (double)CTRL_iGetClock()->frequency();
    if (!view)
        return;
}

void CTRL_Generic::pumpSound()
{
    if (!sound)
        return;
    sound->update(&viewports);
}

void CTRL_Generic::advanceVideos() {}
