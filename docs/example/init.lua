-- The walk-through's package: each step is one module, started in order.
function startup()
  require("lit")      -- 1: a lit mesh from a scene file
  require("label")    -- 2: a text overlay
  require("button")   -- 3: a clickable object
  require("fall")     -- 4: a falling body
  require("sound")    -- 5: a sound
end
