#!/bin/sh
# Starts the player on the virtual X server, checks its window and picture,
# and drives it with keys.
#   player.sh PLAYER WORKDIR ok|damaged
#   ok:      title, a 1024 x 768 client area under a menu bar, Escape covers
#            the display, Ctrl+Q ends the program.
#   damaged: a copy of the player with one byte of its package changed shows
#            the halted screen: white, with the message in dark text at the
#            top left and no loading picture.
set -eu
player=$1 work=$2 mode=$3
mkdir -p "$work"
. "$(dirname "$0")/lib.sh"
need xdotool xwininfo import convert
[ -x "$player" ] || fail "no player at $player"

if [ "$mode" = damaged ]; then
  copy="$work/halvorin-damaged"
  cp "$player" "$copy"
  size=$(stat -c %s "$copy")
  at=$((size - 16 - 300))  # inside the package, before its trailer
  old=$(od -An -tu1 -j "$at" -N1 "$copy" | tr -d ' ')
  new=$(( (old + 85) % 256 ))
  printf "$(printf '\\%03o' "$new")" | dd of="$copy" bs=1 seek="$at" conv=notrunc 2>/dev/null
  player=$copy
fi

log="$work/$mode.err"
"$player" >"$work/$mode.out" 2>"$log" &
pid=$!
findwindow 150
[ "$(xdotool getwindowname "$wid")" = Halvorin ] || fail "title is not Halvorin"
sleep 2  # frames run

origin
height=$(xwininfo -id "$wid" | awk '/Height:/ {print $2}')
[ "$height" -gt 768 ] || fail "no menu bar above the client area (window height $height)"

shot="$work/$mode.png"
import -window root "$shot"
mean() { convert "$shot" -crop "$1" +repage -colorspace Gray -format '%[fx:mean]' info:; }
dark() { convert "$shot" -crop "$1" +repage -colorspace Gray -threshold 50% -negate -format '%[fx:mean]' info:; }
above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }

if [ "$mode" = damaged ]; then
  whole=$(mean "1024x768+$ox+$oy")
  above "$whole" 0.9 || fail "halted screen is not white (mean $whole)"
  text=$(dark "600x50+$ox+$oy")
  above "$text" 0.002 || fail "no message text at the top left (dark fraction $text)"
  middle=$(mean "400x200+$((ox + 312))+$((oy + 110))")
  above "$middle" 0.99 || fail "loading picture on the halted screen (mean $middle)"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "halted screen ok"
  exit 0
fi

whole=$(mean "1024x768+$ox+$oy")
echo "client area mean brightness $whole"

xdotool windowfocus --sync "$wid" 2>/dev/null || true
# Software GL frames are slow: give each key up to ten seconds to act.
width() { xwininfo -id "$wid" | awk '/Width:/ {print $2}'; }
waitwidth() {  # waitwidth OP VALUE
  for _ in $(seq 1 100); do
    [ "$(width)" "$1" "$2" ] && return 0
    sleep 0.1
  done
  return 1
}
xdotool key Escape
waitwidth -ge 1280 || fail "Escape did not cover the display (width $(width))"
# Leaving fullscreen is checked against the fake platform; without a window
# manager the toolkit's timing of the restore varies, so here it only runs.
sleep 1
xdotool key Escape
sleep 1

xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key ctrl+q
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "Ctrl+Q did not end the player"
wait "$pid" || fail "player exit status $?"
echo "player ok"
