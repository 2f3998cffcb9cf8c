-- Step 1: a scene with the box, the floor, the lamp and the camera of
-- room.xml, shown through a viewport.
local set = newModelsSet("room.xml")
local scene = newScene("room")

local box = newMesh(scene, set:get("Box"))
local floor = newMesh(scene, set:get("Floor"))
newLamp(scene, set:get("Light"))
local camera = newCamera(scene, set:get("Eye"))

local viewport = newViewport(0, 0, 1, 0.75)
viewport:setCamera(camera)
viewport:setBackgroundColor(color(0.75, 0.85, 0.95, 1))

print("example: lit scene with " .. set:getNames(OBJECT_MESH)[1] .. " and " .. floor:getName())
return { set = set, scene = scene, box = box, camera = camera, viewport = viewport }
