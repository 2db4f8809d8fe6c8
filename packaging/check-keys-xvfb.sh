#!/usr/bin/env bash
# Starts Korvelin on a private X server with a clip and presses keys as a user would (xdotool):
#   Right steps the preview to the next frame, Left steps back to the same picture,
#   F shows the preview on the whole screen with its aspect kept, Esc returns; a second start
#   with another file ends at once and the running window opens that file.
#   packaging/check-keys-xvfb.sh PROGRAM [SCREENSHOT_DIR]
# With SCREENSHOT_DIR the screenshots it compares are kept there.
set -euo pipefail
program=$1
shots=${2:-}
work=$(mktemp -d /tmp/korvelin-keys.XXXXXX)
xvfb_pid=""
app_pid=""
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-keys-xvfb: $*" >&2; exit 1; }

# The machine may be busy (every test of the project runs beside this one): each step waits for
# the state it needs, up to a minute, instead of for a fixed time.
patience=60
# Runs a check until it holds; false when it never did within the patience.
eventually() {
  local deadline=$((SECONDS + patience))
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.25
  done
}

# A private display; Xvfb writes the number it chose.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
eventually test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(cat "$work/display")"

# Twenty-five numbered frames: each differs from the next.
ffmpeg -loglevel error -f lavfi -i testsrc2=size=640x360:rate=25 -t 1 -c:v mpeg4 -q:v 3 "$work/clip.avi"

export KORVELIN_REGISTRY_DIR="$work/registry" KORVELIN_SETTINGS_DIR="$work/settings" KORVELIN_LOCK_DIR="$work/lock"
unset KORVELIN_PROGRAM_DIR QT_QPA_PLATFORM
mkdir -p "$KORVELIN_REGISTRY_DIR" "$KORVELIN_SETTINGS_DIR"
"$program" "$work/clip.avi" >"$work/app.log" 2>&1 &
app_pid=$!

# The visible window with this title, into $found. One search at a time, repeated: a search
# reads every window's title, and xdotool ends with BadWindow when a window goes away while it
# reads (the program opens and closes windows of its own: a splash, a progress box, tooltips).
found=""
titled() {
  found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) || true
  [[ -n "$found" ]]
}

# The title names the open file once the clip is open (and the language file was found).
eventually titled "^clip\.avi — Korvelin$" ||
  fail "no window titled \"clip.avi — Korvelin\" appeared; program output: $(cat "$work/app.log")"
window=$found
xdotool mousemove 1279 799          # no tooltip over the window
focused() { timeout 10 xdotool windowfocus --sync "$window" 2>/dev/null; }
eventually focused || fail "the window did not take the focus"

# The preview: VideoView1 inside FrameCutEditor, a margin inside its 308 x 222 pixels.
preview() { import -window "$window" -crop 280x200+30+125 +repage "$work/$1.png"; }
differing() { compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1 || true; }
stepped() { preview "$1" && [[ $(differing first "$1") -gt 1000 ]]; }
unchanged() { preview "$1" && [[ $(differing first "$1") -eq 0 ]]; }

# The first frame on show: two captures alike.
settled() { preview first && sleep 0.5 && preview settled && [[ $(differing first settled) -eq 0 ]]; }
eventually settled || fail "the preview does not settle on the first frame"
xdotool key --window "$window" --clearmodifiers Right
eventually stepped second || fail "Right did not step the preview ($(differing first second) pixels differ)"
xdotool key --window "$window" --clearmodifiers Left
eventually unchanged back || fail "Left did not step back to the first frame ($(differing first back) pixels differ)"

# Full screen: a 16:9 picture on a 16:10 screen, above the timeline strip, leaves thin black
# bands above and below it.
pixel() { convert "$work/$1.png" -format "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]" \
  -crop "1x1+$2+$3" +repage info:; }
full_screen() {
  import -window root "$work/$1.png" && [[ $(pixel "$1" 640 2) == "0,0,0" ]] &&
    [[ $(pixel "$1" 640 400) != "0,0,0" ]] && [[ $(pixel "$1" 5 400) != "0,0,0" ]]
}
xdotool key --window "$window" --clearmodifiers f
eventually full_screen fullscreen || fail "F did not show the picture full screen with its aspect kept" \
  "(pixels at (640,2) (640,400) (5,400): $(pixel fullscreen 640 2) $(pixel fullscreen 640 400)" \
  "$(pixel fullscreen 5 400))"
xdotool key --clearmodifiers Escape
returned() { ! full_screen returned && unchanged returned-preview; }
eventually returned || fail "Esc did not bring the preview back into the window"
eventually titled "^clip\.avi — Korvelin$" || fail "the window is gone after Esc"

# A second start hands its file to the running window and ends at once; without a file it only
# brings the window to the front.
cp "$work/clip.avi" "$work/second clip.avi"
timeout "$patience" "$program" "$work/second clip.avi" >"$work/second.log" 2>&1 ||
  fail "the second start did not end by itself with status 0: $(cat "$work/second.log")"
eventually titled "^second clip\.avi — Korvelin$" ||
  fail "the running window did not open the file of the second start; program output: $(cat "$work/app.log")"
timeout "$patience" "$program" >"$work/third.log" 2>&1 ||
  fail "a start without a file did not end: $(cat "$work/third.log")"
kill -0 "$app_pid" 2>/dev/null || fail "the running window ended after the later starts"

if [[ -n "$shots" ]]; then
  mkdir -p "$shots"
  cp "$work"/*.png "$shots"/
fi
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=""
echo "check-keys-xvfb: Right and Left step the preview, F shows it full screen, Esc returns;" \
  "a second start hands its file to the running window"
