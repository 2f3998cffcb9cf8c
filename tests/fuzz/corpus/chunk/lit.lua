-- The lit view of the demo: the prepared scene (scene.lua) standing on a
-- floor that mirrors, its lamp throwing shadows, the glass pillar as a
-- transparent pane, and a caption over it all, seen through one viewport.

if not (newViewport and newModelsSet and newMesh) then
  print("lit: the viewport and mesh classes are missing; nothing to show")
  return {}
end

-- The prepared scene of scene.lua.
local base = require("scene")
local scene = base.scene

-- The mirror floor of lit.xml takes the place of the plain one.
local set = newModelsSet("lit.xml")
local mirror = newMesh(scene, set:get("Mirror floor"))
local plain = base.objects["Floor"]
if plain then
  plain:disableState(STATE_VISIBLE)
end

-- Depth-fail shadows stay right wherever the camera goes, even inside a
-- shadow.
local lamp = base.objects["Lamp"]
if lamp then
  lamp:setShadow(true)
  lamp:setShadowType(SHADOW_ZFAIL)
  lamp:setShadowCoeff(0.6)
end

local view = newViewport(0, 0, 1, 0.75)
view:setBackgroundColor(color(0.55, 0.65, 0.8, 1))
view:setShadowRendering(SHADOW_3D)
if base.camera then
  view:setCamera(base.camera)
end

local caption
if newText then
  caption = newText(scene)
  caption:setText("Halvorin\nmirror floor, shadows, glass")
  caption:setSize(0.03)
  caption:setColor(color(1, 1, 1, 1))
  caption:setBackgroundColor(color(0, 0, 0, 0.4))
  caption:setPosition(v3(0.03, 0.04, 1))
end

print("lit: viewport with mirror floor, shadows from " .. (lamp and lamp:getName() or "no lamp"))

return { viewport = view, mirror = mirror, caption = caption }
