#!/usr/bin/env bash
# Remakes the README's screenshots (docs/screenshots/*.png) from the real
# windows: the station on an X server of its own (Xvfb) against the emulated
# lab: the main window before a test, the basic test's run panel mid-run,
# the moving test's run panel mid-drive and SUMMARY.html of a sequence.
#   docs/make-screenshots.sh [BUILD_DIR]      (default build/; needs Xvfb, chromium,
#                                              ImageMagick's import, xwininfo)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build}" && pwd)
out=$root/docs/screenshots
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
mkdir -p "$out" "$work/COM"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1400x1000x24 -nolisten tcp >/dev/null 2>&1 &
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$work/display")
export GNSS_TIME_SCALE=0.05 GNSS_COM_DIR=$work/COM

: >"$work/lab.log"
"$build/bin/qarn-emu" --port 0 --com-dir "$work/COM" --com 3 --storage "$root/emulator/routes" \
  --ttff 20 >"$work/lab.log" 2>&1 &
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$work/lab.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "qarn-emu did not start" >&2; exit 1; }
printf '%s\r\n' "DUTIP=127.0.0.1::$port::SOCKET" "LEVEL_OFFSET=0" \
  "BASIC=Y;8;8;0;4;6;4;AUTO;AUTO;AUTO;120.000000;48.117300;11.516700;520.000000;100.000000;0.000000;" \
  "MOVING=Y;120;8;4;6;4;AUTO;AUTO;AUTO;/city-loop.txt;0.000000;10.000000;" >"$work/CONFIG.INI"

# The id of the top-level window titled $1, once it is mapped.
window() {
  local id=""
  for _ in $(seq 200); do
    id=$(xwininfo -root -tree | grep -F "\"$1\"" | awk '{print $1}' | head -1 || true)
    [ -n "$id" ] && xwininfo -id "$id" | grep -q 'IsViewable' && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window \"$1\"" >&2
  return 1
}
shoot() { import -window "$(window "$1")" "$out/$2"; echo "docs/screenshots/$2"; }

station=("$build/bin/gnss-station" --workdir "$work" --do "set MAIN_COMPORT=3")
# The main window as the operator first sees it.
"${station[@]}" >/dev/null 2>&1 &
pid=$!
sleep 2
shoot "GNSS Receiver Test Station" main-window.png
kill $pid; wait $pid 2>/dev/null || true

# The basic test (about 1.5 s a point at this scale), mid-run.
"${station[@]}" --run 000 >"$work/basic.out" 2>&1 &
pid=$!
window "Basic Localization Test (Test 000)" >/dev/null
sleep 7
shoot "Basic Localization Test (Test 000)" basic-run-panel.png
wait $pid || true

# The moving test: the two-minute drive takes 6 s at this scale.
"${station[@]}" --run 001 >"$work/moving.out" 2>&1 &
pid=$!
window "Moving Receiver Test (Test 001)" >/dev/null
sleep 5
shoot "Moving Receiver Test (Test 001)" moving-run-panel.png
wait $pid || true

# SUMMARY.html of a sequence, as a browser shows it.
GNSS_TIME_SCALE=0.02 "${station[@]}" --headless --run seq >"$work/seq.out" 2>&1 || true
summary=$(ls -d "$work"/LOG/KELMAR_LOGS_* | tail -1)/SUMMARY.html
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1400,900 \
  --screenshot="$out/summary.png" "file://$summary" >/dev/null 2>&1
echo docs/screenshots/summary.png
