#!/usr/bin/env bash
# Instructions per rendered frame, counted by callgrind, at each size given (WxH), for the
# ordinary and the full-swing noise frame. Usage: bench/frame-cost.sh [build dir] WxH...
set -euo pipefail
build=build
if [ $# -gt 0 ] && [ -d "$1" ]; then
    build=$1
    shift
fi
[ $# -gt 0 ] || set -- 960x600 1916x1005 1916x1006 1920x1080 1920x1081 2556x1329 2556x1330 \
    3836x2049 3836x2050
frames=10
out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '%-11s %14s %14s\n' size "ordinary (M)" "noise (M)"
for size in "$@"; do
    row=$(printf '%-11s' "$size")
    for wave in signal noise; do
        QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --callgrind-out-file="$out" \
            --toggle-collect='*measuredFrames(*' "$build/bin/vandrel-frame-cost" --size "$size" \
            --wave "$wave" --frames "$frames" >/dev/null 2>&1
        total=$(sed -n 's/^summary: *//p;s/^totals: *//p' "$out" | head -1)
        row+=$(awk -v t="$total" -v n="$frames" 'BEGIN { printf " %14.2f", t / n / 1e6 }')
    done
    echo "$row"
done
