// A scene with listeners and sounds for the mixer tests, and samples made
// from plain arrays.
#pragma once

#include <memory>
#include <vector>

#include "base/CTRL_Array.h"
#include "media/VIEW_Sample.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"

// A sample over copies of the given channels.
inline std::unique_ptr<VIEW_Sample> SND_iSample(uint32_t rate, const std::vector<std::vector<float>>& data) {
  auto s = std::make_unique<VIEW_Sample>();
  s->sampleRate = rate;
  s->setChannelCount(int32_t(data.size()));
  for (size_t c = 0; c < data.size(); ++c) s->append(int32_t(c), data[c].data(), int32_t(data[c].size()));
  return s;
}

struct SND_Rig {
  MDL_Scene* scene = new MDL_Scene();
  CTRL_Array<MDL_Viewport*> viewports;
  std::vector<std::unique_ptr<MDL_Viewport>> owned;

  ~SND_Rig() { delete scene; }

  // A listener at a position with the given X axis (Y and Z completed to a
  // right-handed basis when X is a unit axis), heard through a new viewport.
  MDL_Mike* listen(v3 at, v3 xAxis = {1, 0, 0}, double gain = 1.0) {
    auto* mike = new MDL_Mike();
    scene->addObject(mike);
    MDL_Frame& f = mike->editGlobalFrame();
    f.position = at;
    v3 y = {-xAxis.y, xAxis.x, 0};
    if (xAxis.x == 0 && xAxis.y == 0) y = {0, 1, 0};
    f.basis.c[0] = xAxis;
    f.basis.c[1] = y;
    v3::cross(f.basis.c[2], xAxis, y);
    mike->gain = gain;
    owned.push_back(std::make_unique<MDL_Viewport>(0, 0, 1, 1));
    owned.back()->listener = mike;
    viewports.append(owned.back().get());
    return mike;
  }

  MDL_Sound* play(VIEW_Sample* sample, v3 at, double volume = 1.0) {
    auto* snd = new MDL_Sound();
    scene->addObject(snd);
    snd->editGlobalFrame().position = at;
    snd->sample = sample;
    snd->volume = volume;
    return snd;
  }
};
