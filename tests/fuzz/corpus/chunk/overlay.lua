-- Overlays of the demo: a title, a picture and a framed polyline drawn in
-- 2-D over the view. They join the prepared scene and its viewport when the
-- other parts of the demo made them, else a scene and viewport of their own.
-- Each stage writes a line to the debug log.

local loaded = package.loaded
local base = type(loaded.scene) == "table" and loaded.scene or {}
local lit = type(loaded.lit) == "table" and loaded.lit or {}

local scene = base.scene
if not scene then
  scene = newScene("overlay")
  local camera = newCamera(scene)
  camera:setPosition(v3(0, -8, 2))
  base = { scene = scene, camera = camera, objects = {} }
end

local viewport = lit.viewport
if not viewport then
  viewport = newViewport(0, 0, 1, 0.75)
  viewport:setBackgroundColor(color(0.55, 0.65, 0.75, 1))
  if base.camera then
    viewport:setCamera(base.camera)
  end
end

-- The title, on a translucent band along the bottom edge.
local title = newText(scene)
title:setText("Halvorin \226\128\148 overlays: text, picture, polyline")
title:setSize(0.028)
title:setColor(color(1, 1, 1, 1))
title:setBackgroundColor(color(0, 0, 0, 0.45))
title:setPosition(v3(0.03, 0.72, 0.5))
local box = title:getBoundingBox()
print(string.format("overlay: title box %.3f %.3f %.3f %.3f", box[1], box[2], box[3], box[4]))

-- A picture in the top right corner: the crate's texture when the scene
-- has one, else a plain colour.
local picture = newImage(scene)
local crate = base.objects and base.objects["Crate"]
local texture = crate and crate.getTexture and crate:getTexture()
if texture then
  picture:setTexture(texture)
else
  picture:setColor(color(0.9, 0.6, 0.2, 1))
end
picture:setScale(v3(0.16, 0.16, 1))
picture:setPosition(v3(0.81, 0.04, 0.2))

-- A frame round the picture, filled translucent under it.
local frame = newPolyline(scene)
frame:setPoints({v2(0.8, 0.03), v2(0.98, 0.03), v2(0.98, 0.21), v2(0.8, 0.21)})
frame:setThickness(0.004)
frame:setColor(color(1, 1, 1, 1))
frame:setFillColor(color(0, 0, 0, 0.3))
frame:setPosition(v3(0, 0, 0.1))
print("overlay: frame of " .. frame:getPointsCount() .. " points, centre "
      .. string.format("%.3f", frame:distanceToPoint(v2(0.89, 0.12))) .. " from its outline")

return { viewport = viewport, title = title, picture = picture, frame = frame }
