-- A small object tree: built in its own scene, placed, cloned, and partly
-- deleted. Each stage writes a line to the debug log.

local scene = newScene("world")

local function place(object)
  local p = object:getPosition()
  local text = string.format("(%.2f, %.2f, %.2f)", p:x(), p:y(), p:z()):gsub("%-0%.00", "0.00")
  return text
end

local base = newObject(scene)
base:setName("base")
base:setPosition(v3(0, 0, 1))

local arm = newObject(base)
arm:setName("arm")
arm:translate(v3(2, 0, 0), REF_LOCAL)

local lamp = newLamp(arm)
lamp:setName("lamp")
lamp:setEnergy(2)
lamp:translate(v3(0, 0, 1), REF_LOCAL)

local camera = newCamera(scene)
camera:setName("eye")
camera:setFOV(60)
camera:setPosition(v3(0, -10, 3))
newMike(camera):setName("ear")

-- Turning the base carries the arm and the lamp with it.
base:rotate(v3(0, 0, 1), 90)
print("world: lamp at " .. place(lamp) .. " after turning the base")

local copy = newObject(scene, base)
copy:setPosition(v3(0, 5, 1))
local copiedLamp = copy:getDescendant("LAMP")
print("world: copy's lamp at " .. place(copiedLamp) .. ", original still at " .. place(lamp))

copy:getChild("arm"):delete()
print("world: copy has " .. copy:getChildrenCount() .. " children after deleting its arm; "
      .. "its lamp exists: " .. tostring(copiedLamp:exist()) .. ", the original's: " .. tostring(lamp:exist()))

return scene
