-- The character of the demo: an arm of three bones (shoulder, elbow, wrist)
-- whose skin bends with them, waving by a keyframe track on its elbow, and
-- a door that a second track swings open and shut on its hinge. They stand
-- in the prepared scene when the other parts of the demo made it, else in a
-- scene and view of their own. Grabbing the arm stops the wave; the arm then
-- follows the pointer, bone by bone, while it is dragged. Each stage writes
-- a line to the debug log.

if not (newAnimation and newAnimatedMesh and newModelsSet and newViewport) then
  print("character: the animation classes are missing; nothing to show")
  return {}
end

local set = newModelsSet("character.xml")
local loaded = package.loaded
local base = type(loaded.scene) == "table" and loaded.scene or {}
local scene = base.scene
local view
if scene then
  print("character: joins the prepared scene")
else
  scene = newScene("character")
  newMesh(scene, set:get("CharacterGround"))
  newLamp(scene, set:get("CharacterLamp"))
  view = newViewport(0, 0, 1, 0.75)
  view:setBackgroundColor(color(0.18, 0.2, 0.26, 1))
  view:setCamera(newCamera(scene, set:get("CharacterCamera")))
end

local root = newObject(scene, set:get("Character"))
if base.scene then
  -- Behind the crates, on the left, the door on the far side of the arm.
  root:setPosition(v3(-4.9, 3.5, 0))
  root:rotate(v3(0, 0, 1), 180)
end

local arm = root:getDescendant("Arm")
local elbow = root:getDescendant("Elbow")
local hinge = root:getDescendant("DoorHinge")

-- Picking the skin picks the bone under the pointer; dragging moves it.
arm:enableState(STATE_ACTIVE)

local door = newAnimation(set:getAnimationData("DoorSwing"), hinge)
local wave = newAnimation(set:getAnimationData("Wave"), elbow)
local waving = true

-- A track runs on past its last key until its end time (the sum of its
-- key times) and stops there: every step of the scene takes each one back
-- to the start once it is past its last key (the wave only until the arm
-- is grabbed).
local function loop(track, lastKey)
  if track:getTime() > lastKey or not track:isPlaying() then
    track:seek(0)
    track:play()
  end
end
scene:setCallback(CB_MECHA, function()
  loop(door, 3)
  if waving then
    loop(wave, 4)
  end
end)

arm:setCallback(CB_MOUSE_DOWN, function()
  if waving then
    waving = false
    wave:pause()
    print("character: the arm is yours now")
  end
end)

print(string.format("character: arm of 3 bones, door track of %.1f s, wave track of %.1f s",
                    door:getDuration(), wave:getDuration()))

return { scene = scene, arm = arm, elbow = elbow, door = door, wave = wave, viewport = view }
