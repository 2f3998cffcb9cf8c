#!/bin/sh
# A script that never returns from its update keeps the window's thread, yet
# Ctrl+Q still ends the player, within two seconds.
#   runaway.sh PACKER BARE_PLAYER SOURCE_DIR WORKDIR
set -eu
packer=$1 bare=$2 src=$3 work=$4
. "$(dirname "$0")/lib.sh"
# A player held by the script may not end on a plain kill.
fail() { echo "FAIL: $*"; [ -n "${pid:-}" ] && kill -9 "$pid" 2>/dev/null; exit 1; }
need xdotool xwininfo
[ -x "$packer" ] && [ -x "$bare" ] || fail "no packer or player"

makecontent runaway "$src/content/demo/config.xml"
cat >"$content/init.lua" <<'LUA'
function startup()
  setCallback(CB_UPDATE, function()
    print("e2e: looping")
    while true do end
  end)
end
LUA
launch runaway
findwindow 150 "e2e: looping"
grep -q "e2e: looping" "$log" || fail "the update never ran"
sleep 1
kill -0 "$pid" 2>/dev/null || fail "player ended by itself"
xdotool windowfocus "$wid" 2>/dev/null || true
sleep 0.2
xdotool key ctrl+q
start=$(date +%s%N)
for _ in $(seq 1 40); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$pid" 2>/dev/null && fail "Ctrl+Q did not end the player held by a runaway script"
took=$(( ($(date +%s%N) - start) / 1000000 ))
wait "$pid" || fail "player exit status $?"
echo "runaway ok: ended ${took} ms after Ctrl+Q"
