#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with mingw-w64 for both architectures from the
# same sources, installing the Debian 12 packages that needs when any is missing: 64-bit into
# build-windows/, 32-bit into build-windows-x86/. Executables land in bin/ of each, the installer
# and the zip (VandrelViewer-<version>-x64.msi and .zip, or -x86) next to it. Extra arguments go to
# CMake's configure steps.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh windows

launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# cross_build DIR TOOLCHAIN [CMAKE ARGUMENTS...]
cross_build() {
    local dir=$1 toolchain=$2
    shift 2
    echo "=== $dir: cross-build with $toolchain"
    cmake -S "$root" -B "$root/$dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DVANDREL_WERROR=ON -DVANDREL_BUILD_TESTS=ON "${launcher[@]}" "$@" \
        >/dev/null
    cmake --build "$root/$dir" -j "$(nproc)"
}

cross_build build-windows mingw-w64-x86_64.cmake "$@"
cross_build build-windows-x86 mingw-w64-i686.cmake "$@"
