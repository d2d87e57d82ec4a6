#!/usr/bin/env bash
# Cross-builds the Windows program (and its tests) into build-windows/ with mingw-w64, installing
# the Debian 12 packages that needs when any is missing. Executables land in build-windows/bin/,
# the installer and the zip (VandrelViewer-<version>-x64.msi, .zip) in build-windows/. Extra
# arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh windows

launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

cmake -S "$root" -B "$root/build-windows" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVANDREL_WERROR=ON -DVANDREL_BUILD_TESTS=ON "${launcher[@]}" "$@" \
    >/dev/null
cmake --build "$root/build-windows" -j "$(nproc)"
