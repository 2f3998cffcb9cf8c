#!/bin/sh
# Packs and plays the content guide's walk-through (docs/example), one step
# at a time: the package of step k starts the first k modules of its
# init.lua. Each step must log what it built; the last one is clicked.
#   example.sh PACKER BARE_PLAYER SOURCE_DIR WORKDIR
set -eu
packer=$1 bare=$2 src=$3 work=$4
fail() { echo "FAIL: $*"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }
for tool in xdotool xwininfo; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool not found: skipped"; exit 77; }
done
[ -x "$packer" ] && [ -x "$bare" ] || fail "no packer or player"
mkdir -p "$work"

# Waits up to twenty seconds for a line in the log.
waitlog() {
  for _ in $(seq 1 200); do
    grep -q "$1" "$log" && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

expect1="example: lit scene with Box and Floor"
expect2="example: label says Click the box"
expect3="example: box waits for a click"
expect4="example: crate came to rest at height"
expect5="example: sound ready"

for step in 1 2 3 4 5; do
  content="$work/example-$step"
  rm -rf "$content"
  cp -r "$src/docs/example" "$content"
  # Keep the first $step require lines of startup.
  awk -v keep="$step" '/require\(/ { n++; if (n > keep) next } { print }' \
    "$src/docs/example/init.lua" >"$content/init.lua"
  "$packer" build "$content" "$src/content/keys/demo.key" -o "$work/example-$step.pkg" 2>"$work/pack.err" ||
    fail "step $step: packing: $(cat "$work/pack.err")"
  [ -s "$work/pack.err" ] && fail "step $step: the packer warns: $(cat "$work/pack.err")"
  "$packer" embed "$bare" "$work/example-$step.pkg" -o "$work/halvorin-example" >/dev/null || fail "embedding"

  log="$work/example-$step.err"
  "$work/halvorin-example" >/dev/null 2>"$log" &
  pid=$!
  i=1
  while [ "$i" -le "$step" ]; do
    eval "want=\$expect$i"
    waitlog "$want" || fail "step $step: no '$want' in the log: $(cat "$log")"
    i=$((i + 1))
  done

  if [ "$step" -eq 5 ]; then
    wid=""
    for _ in $(seq 1 100); do
      for id in $(xdotool search --name '^Halvorin$' 2>/dev/null || true); do
        if xwininfo -tree -id "$id" 2>/dev/null | grep -qE ' 1024x768\+'; then wid=$id; fi
      done
      [ -n "$wid" ] && break
      sleep 0.1
    done
    [ -n "$wid" ] || fail "no player window"
    origin=$(xwininfo -tree -id "$wid" | grep -E ' 1024x768\+' | head -n 1 | awk '{print $NF}')
    ox=$(echo "$origin" | cut -d+ -f2) oy=$(echo "$origin" | cut -d+ -f3)
    # The box stands in the middle of the picture.
    xdotool mousemove $((ox + 512)) $((oy + 400))
    sleep 0.3
    xdotool click 1
    waitlog "example: click sound at the box" || fail "no sound on the click: $(cat "$log")"
    waitlog "example: box clicked 1 time" || fail "the click did not reach the box: $(cat "$log")"
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
  echo "step $step: ok"
done
echo "example: all steps played"
