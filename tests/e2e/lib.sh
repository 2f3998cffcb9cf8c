# Shared steps of the end-to-end scripts; sourced, not run.
# The scripts keep the player's process id in $pid and its log in $log.

fail() { echo "FAIL: $*"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }

# need TOOL...: skips the test (exit 77) when a tool is missing.
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool not found: skipped"; exit 77; }
  done
}

# pack PACKER BARE_PLAYER CONTENT_DIR KEY OUT: packs a folder and embeds the
# package in a copy of the bare player at OUT.
pack() {
  "$1" build "$3" "$4" -o "$5.pkg" >/dev/null || fail "packing $3"
  "$1" embed "$2" "$5.pkg" -o "$5" >/dev/null || fail "embedding $5.pkg"
  chmod +x "$5"
}

# makecontent NAME FILE...: sets $content to a fresh folder $work/NAME-content
# holding copies of the files.
makecontent() {
  content="$work/$1-content"
  shift
  rm -rf "$content"
  mkdir -p "$content"
  cp "$@" "$content/"
}

# launch NAME: packs $content with the demo key into $work/halvorin-NAME and
# starts it, its output in $work/NAME.out and its log in $log; sets $pid.
launch() {
  pack "$packer" "$bare" "$content" "$src/content/keys/demo.key" "$work/halvorin-$1"
  log="$work/$1.err"
  "$work/halvorin-$1" >"$work/$1.out" 2>"$log" &
  pid=$!
}

# findwindow TENTHS [LINE]: waits for the player's top-level window (titled
# Halvorin, with a 1024x768 drawing area inside) and, when given, for LINE
# in $log; sets $wid. Fails when the player ends first.
findwindow() {
  wid=""
  for _ in $(seq 1 "$1"); do
    for id in $(xdotool search --name '^Halvorin$' 2>/dev/null || true); do
      if xwininfo -tree -id "$id" 2>/dev/null | grep -qE ' 1024x768\+'; then wid=$id; fi
    done
    if [ -n "$wid" ] && { [ -z "${2:-}" ] || grep -q "$2" "$log"; }; then return 0; fi
    kill -0 "$pid" 2>/dev/null || fail "player ended early: $(cat "$log")"
    sleep 0.1
  done
  [ -n "$wid" ] || fail "no window titled Halvorin with a 1024x768 client area"
}

# origin: sets $ox and $oy to the screen position of the drawing area of $wid.
origin() {
  at=$(xwininfo -tree -id "$wid" | grep -E ' 1024x768\+' | head -n 1 | awk '{print $NF}')
  [ -n "$at" ] || { xwininfo -tree -id "$wid"; fail "no 1024x768 client area"; }
  ox=$(echo "$at" | cut -d+ -f2) oy=$(echo "$at" | cut -d+ -f3)
}

# waitlog PATTERN [TENTHS]: waits (ten seconds unless told) for a line in
# $log; false when it does not come or the player ends first.
waitlog() {
  for _ in $(seq 1 "${2:-100}"); do
    grep -q "$1" "$log" && return 0
    kill -0 "$pid" 2>/dev/null || { grep -q "$1" "$log"; return; }
    sleep 0.1
  done
  return 1
}
