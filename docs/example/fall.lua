-- Step 4: a crate that falls from above and lands beside the box.
local room = require("lit")

local crate = newRigidBody(room.scene, room.box)
crate:setPosition(v3(2, 0, 4))
crate:setSpeed(v3(0, 0, 0))

-- Its collision shape: a sphere (radius 1 until scaled), made as small as
-- the crate. The floor of the scene (z = 0) stops it.
local shape = newCollisionVolume(crate)
shape:setScale(v3(0.5, 0.5, 0.5))

local reported = false
setCallback(CB_UPDATE, function(dt)
  if not reported and crate:getStill() then
    reported = true
    print(string.format("example: crate came to rest at height %.2f", crate:getPosition():z()))
  end
end)

print("example: crate falls from height " .. crate:getPosition():z())
return { crate = crate }
