#!/bin/sh
# Opens the About box from the Help menu while the demo animates and plays
# its sound through SDL's disk driver, closes it after two seconds, and
# checks that updates went on behind the box (their steps adding up to the
# time it was open) and that the sound recorded meanwhile is not one ring
# played over and over.
#   about.sh PACKER BARE_PLAYER DEMO_STAGE RING_REPEAT SOURCE_DIR WORKDIR
set -eu
packer=$1 bare=$2 stage=$3 repeat=$4 src=$5 work=$6
. "$(dirname "$0")/lib.sh"
need xdotool xwininfo
[ -x "$packer" ] && [ -x "$bare" ] && [ -x "$repeat" ] && [ -d "$stage" ] || fail "no packer, player or demo"

content="$work/about-content"
rm -rf "$content"
cp -r "$stage" "$content"
cat >>"$content/init.lua" <<'LUA'
local frames, elapsed = 0, 0
local demoStartup = startup
function startup()
  demoStartup()
  setCallback(CB_UPDATE, function(dt)
    frames = frames + 1
    elapsed = elapsed + dt
    print(string.format("e2e: update %d %.3f", frames, elapsed))
  end)
  print("e2e: ready")
end
LUA
pack "$packer" "$bare" "$content" "$src/content/keys/demo.key" "$work/halvorin-about"

log="$work/about.err" sound="$work/about.raw"
rm -f "$sound"
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$sound" "$work/halvorin-about" >"$work/about.out" 2>"$log" &
pid=$!
findwindow 200 "e2e: ready"
sleep 2  # the sound gets going

# The menu bar runs along the top of the window: File, Langage, View, Help.
x=$(xwininfo -id "$wid" | awk '/Absolute upper-left X:/ {print $4}')
y=$(xwininfo -id "$wid" | awk '/Absolute upper-left Y:/ {print $4}')
last() { grep "e2e: update" "$log" | tail -n 1 | awk '{print $3, $4}'; }
# A slow (sanitizer) build may miss the first clicks: a few tries.
box=""
for try in 1 2 3 4; do
  xdotool mousemove $((x + 180)) $((y + 12)) click 1
  sleep $try
  xdotool mousemove $((x + 200)) $((y + 38)) click 1
  for _ in $(seq 1 50); do
    box=$(xdotool search --name '^About Halvorin$' 2>/dev/null | head -n 1 || true)
    [ -n "$box" ] && break
    sleep 0.1
  done
  [ -n "$box" ] && break
  # A click on Help closes a menu left open; the next try opens it again.
  echo "try $try: no About box yet"
  sleep 1
done
[ -n "$box" ] || fail "the Help menu opened no About box"
sleep 0.3
size() { stat -c %s "$sound"; }
before=$(last) from=$(size)
sleep 2
after=$(last) to=$(size)
xdotool search --name '^About Halvorin$' >/dev/null 2>&1 || fail "the About box went by itself"
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
for _ in $(seq 1 50); do
  xdotool search --name '^About Halvorin$' >/dev/null 2>&1 || break
  sleep 0.1
done
sleep 1
kill "$pid"
wait "$pid" 2>/dev/null || true

echo "updates before [$before] after [$after]"
# The steps add up to the two seconds, except that each is at most 0.1 s
# (a slow build's long frames count short).
echo "$before $after" | awk '{ frames = $3 - $1; time = $4 - $2; least = 0.8 * frames * 0.1;
  if (least > 1.5) least = 1.5; exit !(frames >= 5 && time >= least && time <= 3) }' ||
  fail "updates stood still behind the About box: [$before] then [$after]"
[ -s "$sound" ] || fail "no sound was recorded"
# While the box was open (the disk driver writes in real time).
result=$("$repeat" "$sound" 16384 "$from" "$to") || fail "cannot read the recording"
echo "recording behind the box: $result"
echo "$result" | awk '{ exit !($2 >= 1 && $4 < 0.5) }' || fail "the sound repeated one ring: $result"
echo "about ok"
