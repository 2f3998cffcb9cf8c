#!/bin/sh
# Types on the virtual X server with a French layout: the digit row gives
# KEY_1 to KEY_0 to the scripts whatever the layout and Shift make of it, a
# key pressed with Shift and released without keeps its code, and nothing
# stays pressed. F1 is a key for the scripts (its menu text opens nothing),
# and Alt alone stays with the system.
#   keys.sh PACKER BARE_PLAYER SOURCE_DIR WORKDIR
set -eu
packer=$1 bare=$2 src=$3 work=$4
. "$(dirname "$0")/lib.sh"
need xdotool xwininfo setxkbmap
[ -x "$packer" ] && [ -x "$bare" ] || fail "no packer or player"

makecontent keys "$src/content/demo/config.xml"
cat >"$content/init.lua" <<'LUA'
setCallback(CB_EVENT, function(kind, a)
  if kind == EVENT_KEY_DOWN then
    print("e2e: down " .. a)
  elseif kind == EVENT_KEY_UP then
    print("e2e: up " .. a)
    if a == KEY_F2 then
      local held = {}
      for k = 1, 254 do
        if isKeyPressed(k) then held[#held + 1] = k end
      end
      print("e2e: held [" .. table.concat(held, " ") .. "]")
    end
  end
  return false
end)
function startup() print("e2e: ready") end
LUA
launch keys
findwindow 150 "e2e: ready"

# The layout changes while the player runs (the server would reset it when
# its last client left).
setxkbmap fr || fail "setxkbmap fr"
sleep 1
xdotool windowfocus --sync "$wid" 2>/dev/null || true
# The unshifted symbols of the French digit row, then the 1 key shifted, and
# the 1 key pressed with Shift and released after Shift.
xdotool key --delay 50 ampersand eacute quotedbl apostrophe parenleft minus egrave underscore ccedilla agrave
xdotool keydown Shift_L key ampersand keyup Shift_L
xdotool keydown Shift_L keydown ampersand keyup Shift_L keyup ampersand
xdotool key Alt_L F1
sleep 0.5
about=$(xdotool search --name '^About Halvorin$' 2>/dev/null || true)
xdotool key F2
waitlog "e2e: held" || true
setxkbmap us || true
kill "$pid"
wait "$pid" 2>/dev/null || true

codes() { grep "e2e: $1 " "$log" | awk '{print $3}' | grep -vxE '16|112|113' | tr '\n' ' '; }
want="49 50 51 52 53 54 55 56 57 48 49 49 "
[ "$(codes down)" = "$want" ] || fail "key presses gave [$(codes down)], want [$want]"
[ "$(codes up)" = "$want" ] || fail "key releases gave [$(codes up)], want [$want]"
[ -z "$about" ] || fail "F1 opened the About box"
grep -q "e2e: down 112" "$log" || fail "F1 did not reach the scripts"
held=$(grep "e2e: held" "$log" | tail -n 1)
echo "$held" | grep -q "e2e: held \[\]$" || fail "keys still pressed: $held"
echo "keys ok"
