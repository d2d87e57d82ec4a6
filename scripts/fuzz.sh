#!/usr/bin/env bash
# Builds the framing fuzzer with clang and runs it for a bounded time (default 60 s) from the seed
# corpus. The corpus in the repository is only read: the run grows a temporary copy. Exits
# non-zero when the fuzzer finds a crash or a broken invariant, or when the build fails.
set -euo pipefail

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [seconds]   (a whole number of seconds, default 60)" >&2
    exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"
cxx="${VANDREL_FUZZ_CXX:-clang++-14}"
if ! command -v "$cxx" >/dev/null; then
    echo "fuzz.sh: $cxx not found (Debian: apt-get install clang-14 libclang-rt-14-dev)" >&2
    exit 2
fi

CXX="$cxx" cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVANDREL_FUZZ=ON -DVANDREL_BUILD_GUI=OFF -DVANDREL_BUILD_TESTS=OFF -DVANDREL_WERROR=ON \
    >/dev/null
ninja -C "$build" -j2 vandrel-fuzz-framing

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/artifacts"
cp "$root"/fuzz/corpus/* "$work/corpus/"

echo "fuzz.sh: fuzzing the framing rules for ${seconds} s"
status=0
(cd "$work" && "$build/bin/vandrel-fuzz-framing" -max_total_time="$seconds" -max_len=4096 \
    -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    corpus) >"$work/fuzz.log" 2>&1 || status=$?
tail -n 25 "$work/fuzz.log"

if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
    kept="$root/build-fuzz/crashes"
    mkdir -p "$kept"
    cp "$work"/artifacts/* "$kept/" 2>/dev/null || true
    cp "$work/fuzz.log" "$kept/fuzz.log"
    echo "fuzz.sh: the fuzzer failed (exit $status); inputs and log kept in $kept" >&2
    exit 1
fi
echo "fuzz.sh: no failure in ${seconds} s"
