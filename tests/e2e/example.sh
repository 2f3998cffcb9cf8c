#!/bin/sh
# Packs and plays the content guide's walk-through (docs/example), one step
# at a time: the package of step k starts the first k modules of its
# init.lua. Each step must log what it built; the last one is clicked.
#   example.sh PACKER BARE_PLAYER SOURCE_DIR WORKDIR
set -eu
packer=$1 bare=$2 src=$3 work=$4
. "$(dirname "$0")/lib.sh"
need xdotool xwininfo
[ -x "$packer" ] && [ -x "$bare" ] || fail "no packer or player"
mkdir -p "$work"

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
    waitlog "$want" 200 || fail "step $step: no '$want' in the log: $(cat "$log")"
    i=$((i + 1))
  done

  if [ "$step" -eq 5 ]; then
    findwindow 100
    origin
    # The box stands in the middle of the picture.
    xdotool mousemove $((ox + 512)) $((oy + 400))
    sleep 0.3
    xdotool click 1
    waitlog "example: click sound at the box" 200 || fail "no sound on the click: $(cat "$log")"
    waitlog "example: box clicked 1 time" 200 || fail "the click did not reach the box: $(cat "$log")"
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
  echo "step $step: ok"
done
echo "example: all steps played"
