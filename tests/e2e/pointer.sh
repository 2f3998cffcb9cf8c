#!/bin/sh
# Drives the real window with the pointer on the virtual X server: a click
# on a mesh fires its callback, a drag moves a movable mesh.
#   pointer.sh PACKER BARE_PLAYER SOURCE_DIR WORKDIR
# The content is made here: a camera at (0, 0, 10) looking straight down
# with a field of view of 90 degrees, a pillar "target" under client pixel
# (320, 384) and a movable pillar "mover" under (704, 384). Moving the
# pointer 128 pixels up moves the mover's top (8 below the camera) by
# 128 / 512 * 8 = 2 along y.
set -eu
packer=$1 bare=$2 src=$3 work=$4
. "$(dirname "$0")/lib.sh"
need xdotool xwininfo
[ -x "$packer" ] && [ -x "$bare" ] || fail "no packer or player"

makecontent pointer "$src/content/demo/config.xml" "$src/content/demo/scene.xml"
cat >"$content/init.lua" <<'LUA'
local set = newModelsSet("scene.xml")
local scene = newScene("pointer")
local cam = newCamera(scene)
cam:setFOV(90)
cam:setPosition(v3(0, 0, 10))
local vp = newViewport(0, 0, 1, 0.75)
vp:setCamera(cam)
vp:setNavigationMode(NAVIGATION_FIXED)
local function pillar(name, x)
  local p = newMesh(scene, set:get("Pillar"))
  p:setName(name)
  p:setPosition(v3(x, 0, 0))
  p:enableState(STATE_ACTIVE)
  return p
end
pillar("target", -3):setCallback(CB_MOUSE_CLICK, function(owner, hit)
  print("e2e: clicked " .. hit:getName())
end)
local mover = pillar("mover", 3)
mover:enableState(STATE_MOVABLE)
mover:setCallback(CB_MOUSE_UP, function(self)
  local p = self:getPosition()
  print(string.format("e2e: mover at %.3f %.3f %.3f", p:x(), p:y(), p:z()))
end)
function startup() print("e2e: ready") end
LUA
launch pointer
findwindow 150 "e2e: ready"
origin
sleep 1

xdotool mousemove $((ox + 320)) $((oy + 384))
sleep 0.3
xdotool click 1
waitlog "e2e: clicked target" || fail "the click on the mesh fired no callback: $(cat "$log")"

xdotool mousemove $((ox + 704)) $((oy + 384))
sleep 0.3
xdotool mousedown 1
for step in 1 2 3 4 5 6 7 8; do
  xdotool mousemove $((ox + 704)) $((oy + 384 - 16 * step))
  sleep 0.2
done
sleep 1  # frames carry the mover to the pointer
xdotool mouseup 1
waitlog "e2e: mover at" || fail "the drag ended without a release: $(cat "$log")"
line=$(grep "e2e: mover at" "$log" | tail -n 1)
echo "$line"
echo "$line" | awk '{ dx = $4 - 3; dy = $5 - 2; dz = $6; exit !(dx * dx + dy * dy + dz * dz < 0.01) }' ||
  fail "the mover is not under the pointer (want 3 2 0): $line"

kill "$pid"
wait "$pid" 2>/dev/null || true
echo "pointer ok"
