#!/usr/bin/env bash
# Per-frame cost of the Windows view's picture under Wine: runs
# build-windows/bin/vandrel-render-cost.exe on a virtual X server in a private prefix, where every
# COM name leads to no device and Times New Roman is drawn by its metric twin, as in the Windows
# tests. --runs N runs it N times and adds the median of each figure; other arguments go to the
# program (--size WxH, --wave square|noise, --frames N, --compare). Prints figures, judges nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
program=$PWD/build-windows/bin/vandrel-render-cost.exe
[ -x "$program" ] || {
    echo "missing $program: build it (cmake --build build-windows --target vandrel-render-cost)" >&2
    exit 2
}

# One X server for every run; Wine's processes leave before it does.
if [ -z "${VANDREL_RENDER_COST_DISPLAY:-}" ]; then
    VANDREL_RENDER_COST_DISPLAY=1 exec xvfb-run -a "$0" "$@"
fi

runs=1
arguments=()
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=$2; shift 2 ;;
    *) arguments+=("$1"); shift ;;
    esac
done

work=$(mktemp -d /tmp/vandrel-render-cost.XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
# Wine reads the map when its server starts: write it, then restart the server.
{
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 20); do printf '"COM%d"="%s/no-such-port"\r\n' "$n" "$work"; done
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    printf '"Times New Roman"="Liberation Serif"\r\n"Microsoft Sans Serif"="Liberation Sans"\r\n'
} >"$work/prefix.reg"
wine reg import "Z:${work//\//\\}\\prefix.reg" >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -w
[ "$(wine reg query 'HKLM\Software\Wine\Ports' | grep -c "REG_SZ *$work/no-such-port")" -eq 20 ] \
    || { echo "COM1-COM20 are not all mapped to no device" >&2; exit 1; }

for run in $(seq "$runs"); do
    echo "=== run $run of $runs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    timeout 1800 wine "$program" "${arguments[@]}" 2>&1 | tr -d '\r' \
        | tee -a "$work/figures"
done

if [ "$runs" -gt 1 ]; then
    echo "=== median of $runs runs"
    # Lines "NAME WxH WAVE: X ms/frame (cpu Y ms), Z frames/s of one core", grouped by their
    # first three words in the order they came.
    sed -n 's/^\(\S\+\) \+\([0-9]\+x[0-9]\+\) \+\(\S\+\) *: *\([0-9.]\+\) ms\/frame (cpu \([0-9.]\+\) ms).*/\1 \2 \3 \4 \5/p' \
        "$work/figures" | awk '
        function median(list,    n, values, i, j, t) {
            n = split(list, values, " ")
            for (i = 2; i <= n; ++i)
                for (j = i; j > 1 && values[j - 1] + 0 > values[j] + 0; --j) {
                    t = values[j]; values[j] = values[j - 1]; values[j - 1] = t
                }
            return n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
        }
        {
            key = $1 " " $2 " " $3
            if (!(key in wall)) order[++count] = key
            wall[key] = wall[key] " " $4
            cpu[key] = cpu[key] " " $5
        }
        END {
            for (k = 1; k <= count; ++k) {
                m = median(wall[order[k]])
                c = median(cpu[order[k]])
                printf "%-32s %8.3f ms/frame (cpu %.3f ms), %6.0f frames/s of one core\n",
                       order[k] ":", m, c, (c > 0 ? 1000 / c : 0)
            }
        }'
fi
