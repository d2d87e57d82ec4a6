#!/usr/bin/env bash
# Builds what is missing and starts the viewer connected to the simulated instrument (COM1 is
# mapped to the instrument's pseudo-terminal). Press Space in the window to connect.
# Without a display it runs the same under a virtual X server, connects by itself, saves a
# screenshot of the window and prints the PNG's path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sets=(run build)
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || sets+=(headless)
scripts/deps.sh "${sets[@]}"
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
# The whole default target: installing needs the icons and manual pages as well as the programs.
cmake --build "$root/build" -j "$(nproc)"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

# The instrument prints the device path on its first line.
coproc INSTRUMENT { exec "$root/build/bin/vandrel-instrument" --wave sine; }
pids+=("$INSTRUMENT_PID")
read -r -t 10 device <&"${INSTRUMENT[0]}" || { echo "the simulated instrument did not start" >&2; exit 1; }
export VANDREL_COM1=$device
echo "Simulated instrument on $device (COM1)"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Press Space in the window to connect."
    "$root/build/bin/VandrelViewer" || true
    exit 0
fi

# No display: a virtual one, sized like a laptop screen.
screen=99
while [ -e "/tmp/.X11-unix/X$screen" ] || [ -e "/tmp/.X$screen-lock" ]; do screen=$((screen + 1)); done
Xvfb ":$screen" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=("$!")
export DISPLAY=":$screen"
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

"$root/build/bin/VandrelViewer" &
viewer=$!
pids+=("$viewer")
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^VandrelViewer$' | head -n 1)
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --window "$window" space
# Let a few frames (about 15 a second) arrive and be drawn.
sleep 2
mkdir -p "$root/out"
shot="$root/out/vandrelviewer-$(date +%Y%m%d-%H%M%S).png"
import -window "$window" "$shot"
echo "$shot"
