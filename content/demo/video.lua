-- The video of the demo: a Theora clip with its sound, shown on a screen
-- standing in the scene, and a caption set in a font of the package.

local base = require("scene")
local scene = base.scene

local clip = newStream("video.ogv", FILTER_LINEAR)
print(string.format("video: %.2f s, frame %d", clip:getDuration(), clip:getCurrentFrame()))

-- The screen: a flattened copy of the crate, facing the camera, with the
-- clip's picture as its texture.
local screen
local crate = base.set and base.set:get("Crate")
if crate then
  screen = newMesh(scene, crate)
  screen:setScale(v3(1.6, 0.05, 1.2))
  screen:setPosition(v3(1.2, 3, 2.6))
  screen:setTexture(clip:getTexture())
  screen:setCastShadow(false)
end

-- Its sound plays at the screen, heard through the camera's listener.
local voice
if newSound and screen then
  voice = newSound(screen, clip:getSample())
  voice:setAutoDelete(false)
  voice:setVolume(12)
end

-- The caption, in the serif face shipped in the package.
local caption = newText(scene)
local serif = newFont("fonts/DejaVuSerif.ttf")
caption:setFont(serif)
caption:setText("Now showing: a Theora clip with its Vorbis sound")
caption:setSize(0.026)
caption:setColor(color(1, 1, 0.85, 1))
caption:setBackgroundColor(color(0, 0, 0, 0.4))
caption:setPosition(v3(0.03, 0.66, 0.5))

return { clip = clip, screen = screen, voice = voice, caption = caption, font = serif }
