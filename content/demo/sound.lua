-- The sound of the demo: a soft looping drone that stands at the crate, heard
-- through a listener riding on the camera, so that it moves from ear to ear
-- as the camera turns; and a short click that `click(object)` plays at an
-- object (the pointer part calls it when an object is clicked).

if not (newSample and newSound and newMike) then
  print("sound: the sound classes are missing; the demo stays mute")
  return { click = function() end }
end

local base = require("scene")
local lit = require("lit")
local scene = base.scene

local ambientSample = newSample("ambient.ogg")
local clickSample = newSample("click.ogg")

-- The listener follows the camera (it is the camera's child).
local mike
if base.camera then
  mike = newMike(base.camera)
  if lit.viewport then
    lit.viewport:setMike(mike)
  end
end

-- The drone sits at the crate, or in the middle of the scene without one.
local ambient = newSound(base.objects["Crate"] or scene, ambientSample)
ambient:setLooping(true)
ambient:setAutoDelete(false)
ambient:setVolume(10)  -- the camera stands about 14 units away

local M = { ambient = ambient, listener = mike, clickSample = clickSample }

-- Plays the click once at an object; the sound goes when it has played.
function M.click(object)
  local s = newSound(object or scene, clickSample)
  s:setVolume(15)
  return s
end

print("sound: ambient drone at " .. (base.objects["Crate"] and "the crate" or "the centre")
      .. (mike and ", listener on the camera" or ", no listener"))

return M
