#!/usr/bin/env bash
# Checks the saver in a real window on a virtual X display (Xvfb): it goes full screen, shows
# pictures that change, keeps running when the mouse moves along one axis only, ends on a key
# press and on a mouse move of 4 pixels on both axes, and leaves no process behind. With
# --measure SECONDS it also reports the saver's CPU use and frames per second over that time;
# --renderer NAME (auto, software, gl) sets the saver's Renderer setting (default: none, auto).
#
#   scripts/window-check.sh [--build DIR] [--measure SECONDS] [--renderer NAME] [--screen WxH]
#                           [--saver-args "ARGS"]
#
# The virtual screen is 1024 x 768 unless --screen says otherwise, larger than the saver's 640 x 480
# picture, so the check also sees the picture scaled over the whole screen (no window manager runs
# there). On a screen of another shape than the picture the saver letterboxes it, and the check
# allows the bars that leaves, no more. The saver starts with /s, or with ARGS (its own options,
# such as "--size native --renderer software --threads 2") to measure other ways of running.
# Exits 77 (skipped) when Xvfb, xdotool or python3 is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build/release
measure=0
renderer=""
screen=1024x768
saver_args=/s
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --measure) measure=$2; shift 2 ;;
    --renderer) renderer=$2; shift 2 ;;
    --screen) screen=$2; shift 2 ;;
    --saver-args) saver_args=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--measure SECONDS] [--renderer NAME] [--screen WxH] [--saver-args \"ARGS\"]" >&2
       exit 2 ;;
  esac
done
saver=$(cd "$build" && pwd)/kalvor_saver
data=$(cd "$build" && pwd)/data
for tool in Xvfb xdotool python3; do
  command -v "$tool" >/dev/null || { echo "window check skipped: $tool is not installed"; exit 77; }
done
[ -x "$saver" ] && [ -f "$data/meta.bmp" ] || { echo "build $build first (kalvor_saver and its data)" >&2; exit 2; }

work=$(mktemp -d)
[ -z "$renderer" ] || printf '[KalvorGSaver]\nRenderer=%s\n' "$renderer" >"$work/Software_Kalvor_Soft.ini"
xvfb_pid=""
saver_pid=""
cleanup() {
  [ -n "$saver_pid" ] && kill "$saver_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "window check FAILED: $*" >&2; [ -f "$work/saver.log" ] && cat "$work/saver.log" >&2; exit 1; }

# A free display number, then the server, ready once a client can open it.
for n in $(seq 90 140); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
export DISPLAY=":$n"
unset WAYLAND_DISPLAY
Xvfb "$DISPLAY" -screen 0 "${screen}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  python3 "$root/scripts/xshot.py" >/dev/null 2>&1 && break
  sleep 0.1
done
python3 "$root/scripts/xshot.py" >/dev/null || fail "Xvfb did not start on $DISPLAY"

screen_print() { python3 "$root/scripts/xshot.py"; }

# Starts the saver and waits until its window shows a picture.
# Another saver of this user (a test holding the single-instance lock) makes it exit at once; then
# it is started again.
start_saver() {
  for _ in $(seq 20); do
    # In a sanitizer build, SDL's display drivers (D-Bus, GL) keep allocations to the process end,
    # so leaks are not checked here; the headless tests check the saver's own.
    (cd "$data" && KLV_CONFIG_DIR="$work" KLV_FRAME_REPORT=1 ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" \
      exec "$saver" $saver_args) >"$work/saver.log" 2>&1 &
    saver_pid=$!
    for _ in $(seq 100); do
      kill -0 "$saver_pid" 2>/dev/null || break
      read -r _ distinct _ < <(screen_print)
      [ "$distinct" -gt 1 ] && return 0
      sleep 0.1
    done
    wait "$saver_pid" 2>/dev/null || fail "the saver stopped with an error"
    saver_pid=""
    sleep 1
  done
  fail "the saver never showed a picture"
}

# Waits up to five seconds for the saver to end by itself; it must exit with 0.
expect_exit() {
  for _ in $(seq 50); do
    kill -0 "$saver_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$saver_pid" 2>/dev/null && fail "the saver is still running after $1"
  local status=0
  wait "$saver_pid" || status=$?
  saver_pid=""
  [ "$status" -eq 0 ] || fail "the saver exited with $status after $1"
  grep -q "frames in" "$work/saver.log" || fail "no frame report after $1"
  echo "  ended by $1: $(grep "frames in" "$work/saver.log")"
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# The percentage of the screen that letterboxing the picture leaves black, counted as xshot.py
# counts (rounded down); 0 for a picture of the screen's own size or shape. The picture is the
# saver's stand-alone default, 640 x 480, unless the saver's --size says otherwise.
letterbox_bars() {
  local screen_w=${screen%x*} screen_h=${screen#*x} picture_w=640 picture_h=480 size
  size=$(sed -n 's/.*--size \([^ ]*\).*/\1/p' <<<"$saver_args")
  case "$size" in
    native) echo 0; return ;;
    [0-9]*x[0-9]*) picture_w=${size%x*}; picture_h=${size#*x} ;;
  esac
  local shown_w=$(( screen_h * picture_w / picture_h )) shown_h=$screen_h
  if [ "$shown_w" -gt "$screen_w" ]; then
    shown_w=$screen_w
    shown_h=$(( screen_w * picture_h / picture_w ))
  fi
  echo $(( (screen_w * screen_h - shown_w * shown_h) * 100 / (screen_w * screen_h) ))
}

echo "== window check on $DISPLAY"
bars=$(letterbox_bars)
# A picture scaled to a bar's edge may leave one more row or column black than the arithmetic says.
allowed=$(( bars > 0 ? bars + 1 : 0 ))
start_saver
read -r first _ black < <(screen_print)
[ "$black" -le "$allowed" ] ||
  fail "$black% of the screen is black (letterboxing leaves $bars%): the picture does not fill it"
sleep 0.5
read -r second _ _ < <(screen_print)
[ "$first" != "$second" ] || fail "the picture does not change"
echo "  the picture fills the screen and changes"

if [ "$measure" -gt 0 ]; then
  ticks_before=$(cpu_ticks "$saver_pid")
  sleep "$measure"
  ticks_after=$(cpu_ticks "$saver_pid")
  hz=$(getconf CLK_TCK)
  echo "  CPU use over ${measure} s: $(( (ticks_after - ticks_before) * 100 / (hz * measure) ))% of one core"
fi
xdotool key space
expect_exit "a key press"

start_saver
# The saver took the cursor's position when it started; nothing has moved it since.
eval "$(xdotool getmouselocation --shell)"
xdotool mousemove $((X + 60)) "$Y"
sleep 0.5
xdotool mousemove "$X" $((Y > 100 ? Y - 100 : Y + 100))
sleep 0.5
kill -0 "$saver_pid" 2>/dev/null || fail "a mouse move along one axis ended the saver"
xdotool mousemove $((X + 4)) $((Y + 4))
expect_exit "a mouse move of 4 pixels on both axes"

# Savers of other checks running at the same time have other settings folders: only ours count.
ours() { tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null | grep -qx "KLV_CONFIG_DIR=$work"; }
for pid in $(pgrep -f "^$saver"); do
  ours "$pid" && fail "a saver process is left behind"
done
echo "window check passed"
