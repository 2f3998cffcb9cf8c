-- The prepared part of the demo: a scene file (made by scenegen) with a
-- textured floor, two crates, a glass pillar, two lamps and a camera. Its
-- top-level objects are listed by type and cloned, with their children,
-- into a scene of their own. Each stage writes a line to the debug log.

local set = newModelsSet("scene.xml")
local scene = newScene("scene file")
local clones = {}

local function cloneAll(kind, class, label)
  local names = set:getNames(kind)
  if not names then
    return
  end
  for _, name in ipairs(names) do
    clones[name] = class(scene, set:get(name))
  end
  print("scene: " .. label .. ": " .. table.concat(names, ", "))
end

cloneAll(OBJECT_MESH, newMesh, "meshes")
cloneAll(OBJECT_LAMP, newLamp, "lamps")
cloneAll(OBJECT_CAMERA, newCamera, "cameras")

-- The clone of the crate carries its child; giving the copy a colour of
-- its own leaves the scene file's material as it was.
local crate = clones["Crate"]
if crate then
  crate:setColor(color(1, 0.8, 0.6, 1))
  print("scene: crate colour " .. tostring(crate:getColor()) .. ", file colour "
        .. tostring(set:get("Crate"):getColor()))
end

return { set = set, scene = scene, camera = clones["Camera"], objects = clones }
