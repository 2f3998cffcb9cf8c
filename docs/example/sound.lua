-- Step 5: a click sound at the box, heard through a listener on the camera.
local room = require("lit")

local sample = newSample("click.ogg")
local ear = newMike(room.camera)
room.viewport:setMike(ear)

room.box:setCallback(CB_MOUSE_DOWN, function(box)
  newSound(box, sample)
  print("example: click sound at the box")
end)

print("example: sound ready")
return {}
