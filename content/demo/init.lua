-- Entry script of the demo package: the player runs this file, then calls
-- the global startup. Each part of the demo is a module of its own; add one
-- require line per part below.
local greeting = require("lib.greeting")
require("world")
require("lit")
require("overlay")
require("scene")
require("physics")
require("sound")
require("video")
require("touch")
require("character")

function startup()
  print(greeting.text())
end
