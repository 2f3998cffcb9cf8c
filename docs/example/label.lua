-- Step 2: a line of text over the picture, near the top left corner.
local room = require("lit")

local label = newText(room.scene)
label:setText("Click the box")
label:setSize(0.04)
label:setColor(color(1, 1, 1, 1))
label:setBackgroundColor(color(0, 0, 0, 0.5))
label:setPosition(v3(0.03, 0.03, 0.5))

print("example: label says " .. label:getText())
return { label = label }
