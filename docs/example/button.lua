-- Step 3: the box answers a click by changing colour.
local room = require("lit")
local label = require("label").label

local colours = { color(0.85, 0.45, 0.2, 1), color(0.2, 0.5, 0.9, 1) }
local clicks = 0

room.box:enableState(STATE_ACTIVE)
room.box:setCallback(CB_MOUSE_CLICK, function(box)
  clicks = clicks + 1
  box:setColor(colours[clicks % 2 + 1])
  label:setText("Clicks: " .. clicks)
  print("example: box clicked " .. clicks .. " time(s)")
end)

print("example: box waits for a click")
return {}
