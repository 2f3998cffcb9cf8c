-- Things to touch in the demo: the crates and the pillar change colour
-- when clicked, the big crate (with the small one riding on it) can be
-- dragged across the floor, and the camera orbits the scene with the mouse
-- (drag with the right button, or the left one on empty floor) and zooms
-- with the wheel. Each touch writes a line to the debug log.

local loaded = package.loaded
local base = type(loaded.scene) == "table" and loaded.scene or nil
local lit = type(loaded.lit) == "table" and loaded.lit or nil
if not (base and base.scene and lit and lit.viewport) then
  print("touch: the prepared scene or its viewport is missing; nothing to touch")
  return {}
end

local scene, view, objects = base.scene, lit.viewport, base.objects

-- Colours a click cycles through, per object.
local palette = {
  color(1, 0.8, 0.6, 1), color(0.9, 0.3, 0.25, 1), color(0.3, 0.75, 0.35, 1),
  color(0.3, 0.5, 0.95, 1), color(0.95, 0.85, 0.2, 1),
}
local turn = {}

local function clickable(object, name)
  if not object then
    return nil
  end
  object:enableState(STATE_ACTIVE, SCOPE_OBJECT)
  turn[name] = 1
  object:setCallback(CB_MOUSE_CLICK, function(owner, hit)
    turn[name] = turn[name] % #palette + 1
    owner:setColor(palette[turn[name]])
    print("touch: clicked " .. hit:getName() .. ", colour " .. turn[name])
  end)
  return object
end

local crate = clickable(objects["Crate"], "Crate")
clickable(crate and crate:getChild("Small crate"), "Small crate")
clickable(objects["Pillar"], "Pillar")

-- The big crate slides on the floor: whatever height the pointer asks
-- for, it stays standing on it, and the scene's bounds keep it on the
-- floor's area.
if crate then
  crate:enableState(STATE_MOVABLE, SCOPE_OBJECT)
  scene:setBounds({-9, 9, -9, 9, 0, 20})
  local height = crate:getPosition():z()
  local from
  -- Back down onto the floor along the line of sight, so that it stays
  -- under the pointer.
  local eye = base.camera
  crate:setCallback(CB_MOVED, function(self)
    local p = self:getPosition()
    if p:z() ~= height then
      local c = eye and eye:getPosition() or p
      local s = c:z() ~= p:z() and (height - c:z()) / (p:z() - c:z()) or 1
      if not (s > 0 and s < 10) then
        s = 1
        c = p
      end
      self:setPosition(v3(c:x() + (p:x() - c:x()) * s, c:y() + (p:y() - c:y()) * s, height))
    end
  end)
  crate:setCallback(CB_MOUSE_DOWN, function(self)
    from = self:getPosition()
  end)
  crate:setCallback(CB_MOUSE_UP, function(self)
    local p = self:getPosition()
    if from and (p:x() ~= from:x() or p:y() ~= from:y()) then
      print(string.format("touch: crate dragged to (%.2f, %.2f)", p:x(), p:y()))
    end
    from = nil
  end)
end

-- The camera orbits a point just above the middle of the floor, starting
-- where the scene file put it (0, -12, 5).
view:setNavigationMode(NAVIGATION_MIXED)
view:setNavigationPosition(v3(0, 0, 1))
view:setNavigationRadius(math.sqrt(12 * 12 + 4 * 4), 4, 30)
view:setNavigationElevation(math.deg(math.atan(4 / 12)), 5, 85)
view:setNavigationAzimuth(90)

print("touch: click the crates and the pillar, drag the big crate, orbit with the mouse, zoom with the wheel")

return { crate = crate }
