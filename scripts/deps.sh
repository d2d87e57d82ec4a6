#!/usr/bin/env bash
# Installs the Debian 12 packages of the named sets when any is missing, with sudo when not root.
# Usage: scripts/deps.sh [--list] SET...   (--list prints the packages instead of installing)
#   run       what the viewer needs at run time beyond its shared libraries: the fonts it draws with
#   build     compiler, CMake, Qt and xcb headers; help2man for the manual pages; file and dpkg-dev for cpack
#   headless  a virtual X server, window control and window capture (scripts/run.sh without a
#             display, and the tests of the real executable)
#   test      GoogleTest, Benchmark, the other Japanese fonts the package accepts, xwd for window
#             captures, a window manager (dialog frames), localedef's sources (a decimal-comma
#             locale), the validators of the desktop entry, metainfo and package; includes headless
#   fuzz      clang with libFuzzer
#   windows   the mingw-w64 cross-compilers for 64-bit and 32-bit Windows, GoogleTest's sources,
#             Wine and wixl, which builds the installers (scripts/build-windows.sh). Not wine32,
#             which runs the 32-bit tests: it needs the i386 architecture added to dpkg, which is
#             the machine owner's choice (docs/windows.md)
set -euo pipefail

packages_of() {
    case "$1" in
        run) echo fonts-liberation fonts-noto-cjk ;;
        build) echo g++ cmake ninja-build qt6-base-dev qt6-svg-dev libxcb1-dev help2man file dpkg-dev ;;
        headless) echo xvfb xdotool imagemagick ;;
        test)
            echo libgtest-dev libbenchmark-dev fonts-ipafont-gothic fonts-vlgothic x11-apps \
                x11-utils openbox locales appstream desktop-file-utils lintian
            packages_of headless
            ;;
        fuzz) echo clang-14 libclang-rt-14-dev ;;
        windows)
            echo cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
                g++-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest wine wine64 wixl
            ;;
        *)
            echo "deps.sh: unknown set '$1' (run, build, headless, test, fuzz, windows)" >&2
            return 2
            ;;
    esac
}

list=0
packages=()
for arg in "$@"; do
    if [ "$arg" = --list ]; then
        list=1
        continue
    fi
    set_packages=$(packages_of "$arg") || exit 2
    read -r -d "" -a more <<<"$set_packages" || true
    packages+=("${more[@]}")
done
if [ ${#packages[@]} -eq 0 ]; then
    echo "usage: scripts/deps.sh [--list] SET...   (sets: run build headless test fuzz windows)" >&2
    exit 2
fi
if [ "$list" -eq 1 ]; then
    printf '%s\n' "${packages[@]}" | sort -u
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
read -r -a missing <<<"$(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')"

echo "Installing missing packages: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
