-- The physics room of the demo: crates and balls fall onto the floor,
-- bounce, stack and fall asleep, and a pendulum swings on a joint. The room
-- has a scene and a small viewport of its own, in the lower right corner of
-- the view; every few seconds after the last body fell asleep, everything
-- is dropped again. Each stage writes a line to the debug log.

if not (newRigidBody and newJoint and newViewport and newModelsSet and newMesh) then
  print("physics: the physics or viewport classes are missing; nothing to show")
  return {}
end

local set = newModelsSet("physics.xml")
local scene = newScene("physics room")
-- Walls on four sides; the floor is the plane z = 0.
scene:setBounds({-4, 4, -3, 3, 0, math.huge})

newMesh(scene, set:get("Room floor"))
newLamp(scene, set:get("Room lamp"))
newLamp(scene, set:get("Room sun"))
local camera = newCamera(scene, set:get("Room camera"))

-- Where each body starts: three columns of crates, a few balls above them.
local drops = {}
local function column(x, y, count, turn)
  for k = 1, count do
    drops[#drops + 1] = { kind = "Crate", at = v3(x + 0.03 * k, y - 0.02 * k, 0.6 + 0.9 * k), turn = turn * k }
  end
end
column(-2, 0.5, 3, 9)
column(-1, -0.4, 4, -6)
column(0.2, 0.6, 2, 15)
for i, at in ipairs({ v3(-2.1, 0.4, 5), v3(-0.6, -0.5, 6), v3(0.8, 0.2, 4), v3(-1.4, 1.3, 3) }) do
  drops[#drops + 1] = { kind = "Ball", at = at, turn = 0 }
end

local bodies = {}
for _, d in ipairs(drops) do
  local body = newRigidBody(scene, set:get(d.kind))
  -- Mass and inertia from the mesh's extent: a crate of 0.5 m weighs 1 kg.
  body:computeMassAndInertia(8)
  if d.kind == "Ball" then
    -- Lively bounces; more damping so that they stop rolling soon after.
    body:setElasticity(0.8)
    body:setFriction(0.4)
    body:setDamping(0.6)
    body:setAngularDamping(0.6)
  end
  d.body = body
  bodies[#bodies + 1] = body
end

local function dropAll()
  for _, d in ipairs(drops) do
    local body = d.body
    body:setBasis(m33())
    body:rotate(v3(0, 0, 1), d.turn)
    body:setPosition(d.at)
    body:setAngularSpeed(v3(0, 0, 0))
    body:setSpeed(v3(0, 0, 0))
    body:setStill(false)
  end
end
dropAll()

-- The pendulum: a bob hanging 1.5 m below a fixed pivot on a ball joint,
-- let go 50 degrees out, swinging across the view. It neither slows down
-- nor sleeps.
local pivot = v3(2.3, 0.3, 3.2)
local pin = newMesh(scene, set:get("Pivot"))
pin:setPosition(pivot)
local bob = newRigidBody(scene, set:get("Bob"))
bob:setMass(2)
bob:setInertia(v3(0.1, 0.1, 0.1))
bob:setDamping(0)
bob:setAngularDamping(0)
bob:setStillDelay(0)
bob:rotate(v3(0, 1, 0), 50)
bob:setPosition(pivot - bob:getAxis(AXIS_Z) * 1.5)
local joint = newJoint(JOINT_POINT_POINT, nil, pivot, v3(1, 0, 0), bob, pivot, v3(1, 0, 0))

-- Counts the bodies asleep; once all are, drops them again after a pause.
local resting = 0
local reported = false
scene:setCallback(CB_POST_INTEGRATION, function(dt)
  for _, body in ipairs(bodies) do
    if not body:getStill() then
      resting = 0
      return
    end
  end
  if not reported then
    reported = true
    print("physics: all " .. #bodies .. " bodies asleep")
  end
  resting = resting + dt
  if resting > 3 then
    resting = 0
    dropAll()
  end
end)

local view = newViewport(0.58, 0.25, 0.40, 0.30)
view:setBackgroundColor(color(0.2, 0.22, 0.28, 1))
view:setCamera(camera)

print("physics: " .. #bodies .. " bodies falling; pendulum hung from "
      .. string.format("(%.1f, %.1f, %.1f)", joint:getPointA():x(), joint:getPointA():y(), joint:getPointA():z()))

return { scene = scene, viewport = view, bodies = bodies, bob = bob, joint = joint }
