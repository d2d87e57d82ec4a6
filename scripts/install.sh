#!/usr/bin/env bash
# Installs the program built by scripts/run.sh, or removes it again; as root directly, otherwise
# through sudo.
#   scripts/install.sh                    cmake --install into /usr/local, stripped
#   scripts/install.sh --uninstall        removes the files and folders that put there
#   scripts/install.sh --deb              builds the two Debian packages (cpack) and installs them
#   scripts/install.sh --deb --uninstall  removes both packages (apt-get purge)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build

deb=0
uninstall=0
for arg in "$@"; do
    case "$arg" in
        --deb) deb=1 ;;
        --uninstall) uninstall=1 ;;
        -h | --help) sed -n '2,7s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "install.sh: unknown option $arg (see --help)" >&2; exit 2 ;;
    esac
done

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
prefix=/usr/local
manifest=$build/install_manifest.txt
created=$build/install_created_dirs.txt

if [ "$deb" -eq 1 ] && [ "$uninstall" -eq 1 ]; then
    exec "${as_root[@]}" apt-get purge -y vandrelviewer vandrelviewer-instrument
fi

if [ "$uninstall" -eq 1 ]; then
    [ -f "$manifest" ] || { echo "install.sh: nothing installed from $build" >&2; exit 1; }
    xargs -d '\n' "${as_root[@]}" rm -f -- <"$manifest"
    # Then the folders the installation made, deepest first, as far as they are empty now.
    if [ -f "$created" ]; then
        sort -r "$created" | xargs -r -d '\n' "${as_root[@]}" rmdir --ignore-fail-on-non-empty --
    fi
    "${as_root[@]}" rm -f -- "$manifest" "$created"
    echo "removed the files listed in $manifest"
    exit 0
fi

[ -x "$build/bin/VandrelViewer" ] || { echo "install.sh: build first: scripts/run.sh" >&2; exit 1; }
# Brings the build up to date first, so that nothing stale or missing is installed.
cmake --build "$build"

if [ "$deb" -eq 0 ]; then
    # cmake --install records files only; note which folders it is about to make, so that an
    # uninstall removes those and no folder that was there before.
    staging=$(mktemp -d)
    trap 'rm -rf "$staging"' EXIT
    DESTDIR=$staging cmake --install "$build" --prefix "$prefix" >/dev/null
    (cd "$staging" && find ".$prefix" -mindepth 1 -type d | sed 's/^\.//') |
        while read -r dir; do [ -e "$dir" ] || echo "$dir"; done >"$created"
    "${as_root[@]}" cmake --install "$build" --prefix "$prefix" --strip
    exit 0
fi

(cd "$build" && cpack -G DEB)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get install -y --no-install-recommends \
    "$build/vandrelviewer_${version}_${arch}.deb" \
    "$build/vandrelviewer-instrument_${version}_${arch}.deb"
