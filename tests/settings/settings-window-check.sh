#!/usr/bin/env bash
# Checks the settings program in a real window on a virtual X display (Xvfb), driven with
# xdotool as a person would:
#   - Cancel, and OK with a missing or incomplete data folder, leave the settings file byte for byte;
#   - the device dialog (Custom, driver 0, device 2, Start), a new data folder picked in the folder
#     chooser, then OK, writes exactly those values;
#   - the preview pane shows changing pixels and restarts with a changed setting; OK and closing
#     the window end the preview process;
#   - the device dialog alone (as the saver's SelectDevices(-4) shows it) stores and reports on
#     "Start" and stores nothing on "Exit";
#   - a settings file that cannot be written (the program run as nobody) is left as it was;
#   - "kalvor_saver /c" started in the data folder opens the window, with no message box.
#
#   tests/settings/settings-window-check.sh [--build DIR] [--screenshot FILE.png]
#
# --screenshot saves a picture of the window (with the device choice made and the preview
# running) for the README. Exits 77 (skipped) when Xvfb, xdotool, ImageMagick or python3 is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=build/release
screenshot=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --screenshot) screenshot=$(realpath -m "$2"); shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--screenshot FILE.png]" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
settings="$build/kalvor-settings"
saver="$build/kalvor_saver"
data="$build/data"
for tool in Xvfb xdotool import python3; do
  command -v "$tool" >/dev/null || { echo "settings window check skipped: $tool is not installed"; exit 77; }
done
[ -x "$settings" ] && [ -x "$saver" ] && [ -f "$data/meta.bmp" ] ||
  { echo "build $build first (kalvor-settings, kalvor_saver and the data set)" >&2; exit 2; }

work=$(mktemp -d)
chmod 755 "$work"
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "settings window check FAILED: $*" >&2
  [ -f "$work/app.log" ] && cat "$work/app.log" >&2
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb on $DISPLAY has ended:" >&2; cat "$work/xvfb.log" >&2; }
  exit 1
}

for n in $(seq 141 190); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
export DISPLAY=":$n"
unset WAYLAND_DISPLAY
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  python3 "$root/scripts/xshot.py" >/dev/null 2>&1 && break
  sleep 0.1
done
python3 "$root/scripts/xshot.py" >/dev/null || fail "Xvfb did not start on $DISPLAY"

# The settings file of every run but the last: written by hand, so any rewrite would show.
config="$work/config"
mkdir -p "$config"
ini="$config/Software_Kalvor_Soft.ini"
printf '; written by hand\n[KalvorGSaver]\nDataPath = %s/\n\n[KalvorG]\nEnum_Checkbox=-1\n' "$data" >"$ini"
cp "$ini" "$work/original.ini"
export KLV_CONFIG_DIR="$config"
# The settings program's own temporary folders, where the preview keeps its scratch settings.
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
# GTK asks D-Bus for accessibility and settings; there is no session bus here.
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
# Sanitizer builds: GTK and its libraries keep allocations to the process end.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
title="Kalvor saver settings"

wait_window() {  # name [seconds] -> prints the window id
  for _ in $(seq $((${2:-10} * 10))); do
    local id
    id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
start_app() {
  "$@" >"$work/app.log" 2>&1 &
  app_pid=$!
  window=$(wait_window "$title") || fail "the settings window did not appear"
  sleep 0.5
  xdotool windowfocus --sync "$window"
}
# Waits for the settings program to end; sets app_exit to its exit status.
wait_app() {
  for _ in $(seq 50); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$app_pid" 2>/dev/null && fail "the settings program is still running after $1"
  app_exit=0
  wait "$app_pid" || app_exit=$?
  app_pid=""
}
same_file() { cmp -s "$work/original.ini" "$ini" || fail "the settings file changed after $1"; }
# Focuses the data folder (its label's Alt mnemonic) and types a new one over it.
type_folder() {
  xdotool key --clearmodifiers alt+d ctrl+a
  xdotool type --delay 2 "$1"
  sleep 0.3
}
# Prints the preview process once one has run for two seconds (started, not ended at once).
running_preview() {
  for _ in $(seq 50); do
    local pid
    pid=$(pgrep -P "$app_pid" -f kalvor_saver | head -1 || true)
    if [ -n "$pid" ]; then
      sleep 2
      kill -0 "$pid" 2>/dev/null && { echo "$pid"; return 0; }
    fi
    sleep 0.1
  done
  return 1
}
# The preview needs the saver's embedded mode (--window-id); without it the preview checks are
# skipped and the window's other checks still run.
embedded=0
"$saver" --help 2>&1 | grep -q -- "--window-id" && embedded=1
# Sends the window manager's close request, as a window's close box does.
close_window() {
  python3 - "$1" <<'EOF'
import ctypes, ctypes.util, sys
x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
d = x.XOpenDisplay(None)
e = ClientMessage()
e.type = 33  # ClientMessage
e.window = int(sys.argv[1])
e.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.format = 32
e.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XSendEvent(d, e.window, 0, 0, ctypes.byref(e))
x.XFlush.argtypes = [ctypes.c_void_p]
x.XFlush(d)
EOF
}

echo "== settings window check on $DISPLAY"
[ "$embedded" -eq 1 ] || echo "  SKIPPED preview checks: this saver has no embedded mode (--window-id)"

start_app "$settings"
xdotool key --clearmodifiers alt+c
wait_app Cancel
[ "$app_exit" -eq 1 ] || fail "Cancel ended the program with status $app_exit, not 1"
same_file Cancel
echo "  Cancel leaves the settings file byte for byte"

mkdir -p "$work/partial"
cp "$data/meta.bmp" "$data/sky.klv" "$work/partial/"
start_app "$settings"
for folder in "$work/nowhere" "$work/partial"; do
  type_folder "$folder"
  xdotool key --clearmodifiers alt+o
  sleep 0.5
  kill -0 "$app_pid" 2>/dev/null || fail "OK closed the window with the data folder $folder"
  same_file "OK with the data folder $folder"
done
import -window "$window" "$work/refused.png"
[ -n "$screenshot" ] && cp "$work/refused.png" "${screenshot%.png}-refused.png"
close_window "$window"
wait_app "the close box"
[ "$app_exit" -eq 1 ] || fail "the close box ended the program with status $app_exit, not 1"
same_file "the close box"
echo "  a missing or incomplete data folder is refused, nothing written"

# The main run: the device dialog, a new data folder, the preview, OK.
mkdir -p "$work/data2"
cp "$data"/*.bmp "$data"/*.klv "$work/data2/"
start_app "$settings"
xdotool key --clearmodifiers alt+e
dialog=$(wait_window KlvEnumWindow) || fail "the device dialog did not open"
sleep 0.3
xdotool windowfocus --sync "$dialog"
click() { xdotool mousemove --window "$dialog" "$1" "$2" click 1; sleep 0.3; }
# Positions from the dialog's layout: the group box at (8, 8) holds "Custom" at (16, 64) and the
# lists at (16, 104) and (248, 104); "Start" is at (8, 272).
click 40 80
click 60 125
click 300 125
xdotool key Down Down
sleep 0.3
import -window "$dialog" "$work/dialog.png"
[ -n "$screenshot" ] && cp "$work/dialog.png" "${screenshot%.png}-dialog.png"
click 45 284
for _ in $(seq 30); do xdotool search --name "^KlvEnumWindow\$" >/dev/null 2>&1 || break; sleep 0.1; done
xdotool search --name "^KlvEnumWindow\$" >/dev/null 2>&1 && fail "Start did not close the device dialog"
same_file "Start (it waits for OK)"
xdotool windowfocus --sync "$window"
# The folder chooser: its location field takes the folder typed in, Enter selects it.
xdotool key --clearmodifiers alt+h
chooser=$(wait_window "Data folder") || fail "the folder chooser did not open"
sleep 0.5
xdotool windowfocus --sync "$chooser"
xdotool key ctrl+l
xdotool type --delay 2 "$work/data2/"
sleep 0.3
xdotool key Return
for _ in $(seq 30); do xdotool search --name "^Data folder\$" >/dev/null 2>&1 || break; sleep 0.1; done
xdotool search --name "^Data folder\$" >/dev/null 2>&1 && fail "the folder chooser did not close on Enter"
xdotool windowfocus --sync "$window"

preview=""
if [ "$embedded" -eq 1 ]; then
  preview=$(running_preview) || fail "no preview process kept running"
  pane=$(tr '\0' ' ' <"/proc/$preview/cmdline" | sed -n 's/.*--window-id \([0-9]*\).*/\1/p')
  [ -n "$pane" ] || fail "the preview was not given the pane's window"
  import -window "$pane" "$work/pane1.png"
  sleep 1
  import -window "$pane" "$work/pane2.png"
  [ "$(compare -metric AE "$work/pane1.png" "$work/pane2.png" null: 2>&1 || true)" != "0" ] ||
    fail "the preview pane does not change"
  echo "  the preview pane shows changing pixels"
  # A changed setting restarts the preview with it; the old process ends.
  xdotool key --clearmodifiers alt+t ctrl+a
  xdotool type 2
  xdotool key Tab
  restarted=""
  for _ in $(seq 50); do
    restarted=$(pgrep -P "$app_pid" -f kalvor_saver | head -1 || true)
    [ -n "$restarted" ] && [ "$restarted" != "$preview" ] && break
    sleep 0.1
  done
  [ -n "$restarted" ] && [ "$restarted" != "$preview" ] || fail "a changed thread count did not restart the preview"
  kill -0 "$preview" 2>/dev/null && fail "the old preview process $preview is left after the restart"
  scratch=$(tr '\0' '\n' <"/proc/$restarted/environ" | sed -n 's/^KLV_CONFIG_DIR=//p')
  grep -qx "Threads=2" "$scratch/Software_Kalvor_Soft.ini" ||
    fail "the restarted preview does not get the changed thread count"
  preview=$restarted
  echo "  a changed setting restarts the preview with it"
else
  sleep 1
fi
[ -n "$screenshot" ] && import -window "$window" "$screenshot" && echo "  screenshot: $screenshot"
xdotool key --clearmodifiers alt+o
wait_app OK
[ "$app_exit" -eq 0 ] || fail "OK ended the program with status $app_exit, not 0"
[ -n "$preview" ] && kill -0 "$preview" 2>/dev/null && fail "the preview process $preview is left after OK"
for line in "Enum_Checkbox=-4" "DDraw_Device=0" "D3D_Device=2" "DataPath=$work/data2/"; do
  grep -qxF "$line" "$ini" || fail "the settings file lacks $line: $(cat "$ini")"
done
echo "  Custom, driver 0, device 2 and the new data folder are written on OK"

cp "$ini" "$work/original.ini"
if [ "$embedded" -eq 1 ]; then
  start_app "$settings"
  preview=$(running_preview) || fail "no preview process kept running"
  close_window "$window"
  wait_app "the close box"
  kill -0 "$preview" 2>/dev/null && fail "the preview process $preview is left after the close box"
  same_file "the close box"
  echo "  OK and the close box end the preview process"
  left=$(find "$TMPDIR" -maxdepth 1 -name 'kalvor-preview-*')
  [ -z "$left" ] || fail "the preview's scratch folders are left behind: $left $(ls -A $left)"
  echo "  the preview's scratch folders are removed"
fi

# The dialog alone, as the saver's SelectDevices(-4) shows it: "Start" stores the choice at once
# and reports it on standard output; "Exit" stores nothing.
dialog_alone() {  # prints the report
  "$settings" --device-dialog >"$work/report.txt" 2>"$work/app.log" &
  app_pid=$!
  dialog=$(wait_window KlvEnumWindow) || fail "the device dialog alone did not open"
  sleep 0.3
  xdotool windowfocus --sync "$dialog"
  click 40 80
  click 60 125
  click 300 125
  xdotool key Down
  sleep 0.3
  click "$1" 284
  wait_app "$2"
  [ "$app_exit" -eq 0 ] || fail "the device dialog ended with status $app_exit after $2"
}
dialog_alone 125 Exit
[ "$(cat "$work/report.txt")" = "0 -4 0 1 2 0" ] || fail "Exit reported \"$(cat "$work/report.txt")\""
same_file "Exit in the device dialog"
dialog_alone 45 Start
[ "$(cat "$work/report.txt")" = "1 -4 0 1 2 0" ] || fail "Start reported \"$(cat "$work/report.txt")\""
for line in "Enum_Checkbox=-4" "DDraw_Device=0" "D3D_Device=1"; do
  grep -qxF "$line" "$ini" || fail "Start in the device dialog did not store $line"
done
cp "$ini" "$work/original.ini"
echo "  the device dialog alone: Exit stores nothing, Start stores and reports driver 0, device 1"

# A settings file that cannot be written: the folder refuses the new file (as root, the program
# runs as nobody, for whom root's folder is read-only).
chmod 644 "$ini"
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$work/home"
  chown nobody "$work/home"
  chmod 755 "$config"
  as_other=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$work/home")
else
  chmod 555 "$config"
  as_other=()
fi
start_app "${as_other[@]}" "$settings"
xdotool key --clearmodifiers alt+t ctrl+a
xdotool type 3
xdotool key Tab
sleep 0.3
xdotool key --clearmodifiers alt+o
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "OK closed the window although the file could not be written"
import -window "$window" "$work/readonly.png"
[ -n "$screenshot" ] && cp "$work/readonly.png" "${screenshot%.png}-readonly.png"
same_file "a refused write"
xdotool key --clearmodifiers alt+c
wait_app Cancel
chmod 755 "$config"
echo "  a settings file that cannot be written stays as it was, the window stays open"

# The saver's configuration mode, started in the data folder with no DataPath stored.
printf '[KalvorGSaver]\n' >"$ini"
# Another saver of this user (another test) holds the single-instance lock and makes this one exit
# at once; then it is tried again. As root, the saver runs as nobody, whose lock no one else holds.
found=""
for _ in $(seq 20); do
  (cd "$data" && exec "${as_other[@]}" "$saver" /c) >"$work/saver.log" 2>&1
  found=$(wait_window "$title" 3) && break
done
[ -n "$found" ] || fail "kalvor_saver /c did not open the settings window: $(cat "$work/saver.log")"
xdotool search --name "えらー" >/dev/null 2>&1 && fail "kalvor_saver /c showed a message box"
app_pid=$(xdotool getwindowpid "$found" 2>/dev/null || pgrep -n -f "$settings")
close_window "$found"
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the settings window started by /c did not close"
app_pid=""
echo "  kalvor_saver /c in the data folder opens the settings window, no message box"
echo "settings window check passed"
