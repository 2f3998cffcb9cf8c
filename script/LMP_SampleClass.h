// The resource class newSample: a decoded Ogg Vorbis sound from the content
// package. Its proxies are what newSound takes as its sample; a video's
// sample is handed out through the same class.
#pragma once

#include "script/LMP_Binding.h"

class CTRL_Generic;
class VIEW_Sample;

class LMP_Sample : public LMP_Proxy {
public:
    LMP_Sample() = default;             // a proxy for an existing sample
    explicit LMP_Sample(lua_State* L);  // newSample(file name)
    VIEW_Sample* sample() const { return static_cast<VIEW_Sample*>(model); }

    int deleteSample(lua_State* L);

    static constexpr const char* scriptName = "newSample";
    static const LMP_MethodEntry<LMP_Sample> methods[];
};

// Pushes the sample's proxy, making and linking it on first use; nil for
// null.
int LMP_iPushSample(lua_State* L, VIEW_Sample* sample);
// The sample of a newSample argument; raises the script argument error with
// "newSample" when the value is not one. Null when the proxy's sample is gone.
VIEW_Sample* LMP_iCheckSample(lua_State* L, int index);
// Sounds of every scene and models set that play the sample fall silent:
// their sample is cleared, so that nothing reads it once it is freed.
void LMP_iSilenceSample(CTRL_Generic* controller, const VIEW_Sample* sample);
