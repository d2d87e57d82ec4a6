#!/bin/bash
# Builds the Debian package of a build tree into a temporary folder and checks what it carries
# and declares; then checks that a plain `cmake --install` lays out the same files.
# Usage: check-package.sh <build dir>. Exits 77 (skipped) when the Debian tools are absent.
set -u

build=$(cd "$1" && pwd)
app_id=org.vandrel.VandrelViewer
icon_sizes="16 32 48 64 128 256"

for tool in cpack dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Every path the package must hold, relative to the root.
expected=(
    usr/bin/VandrelViewer
    usr/bin/vandrel-instrument
    usr/share/applications/$app_id.desktop
    usr/share/metainfo/$app_id.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/$app_id.svg
)
for size in $icon_sizes; do
    expected+=(usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png)
done

# The package needs the built program and icons; cpack only installs them.
for file in bin/VandrelViewer bin/vandrel-instrument icons/hicolor/scalable/apps/$app_id.svg; do
    [ -e "$build/$file" ] || fail "$build/$file is not built (build the whole tree first)"
done
[ "$failures" -eq 0 ] || exit 1

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack -G DEB failed"
    exit 1
fi
debs=("$work"/cpack/*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "cpack made no single .deb: ${debs[*]}"
    exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb")"

# Contents: every expected path, the programs executable, the PNGs of the size they claim.
dpkg-deb -c "$deb" >"$work/contents" || fail "dpkg-deb -c cannot read the package"
for path in "${expected[@]}"; do
    grep -Eq " \./$path\$" "$work/contents" || fail "the package lacks /$path"
done
for program in VandrelViewer vandrel-instrument; do
    grep -Eq "^-rwxr-xr-x .* \./usr/bin/$program\$" "$work/contents" \
        || fail "/usr/bin/$program is not installed executable"
done
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x cannot unpack the package"
if command -v identify >/dev/null; then
    for size in $icon_sizes; do
        png=$work/root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
        [ -f "$png" ] || continue
        actual=$(identify -format '%wx%h' "$png" 2>/dev/null)
        [ "$actual" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $actual"
    done
else
    echo "note: ImageMagick's identify is absent; icon sizes not measured"
fi

# Declared dependencies: the Qt 6 libraries the program links (found by dpkg-shlibdeps), the X11
# platform plugin and SVG support it loads at run time, and both font packages.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 qt6-qpa-plugins \
    fonts-liberation fonts-noto-cjk; do
    echo ", $depends," | grep -Eq "[ ,]$package([ ,(]|\$)" || fail "Depends does not name $package"
done
[ "$(dpkg-deb -f "$deb" Package)" = vandrelviewer ] || fail "the package is not named vandrelviewer"
[ -n "$(dpkg-deb -f "$deb" Architecture)" ] || fail "the package declares no architecture"

# The desktop entry: valid, and the name, command, icon and categories a menu needs.
desktop=$work/root/usr/share/applications/$app_id.desktop
if [ -f "$desktop" ]; then
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
    else
        echo "SKIP: desktop-file-validate is not installed; desktop entry not validated"
    fi
    grep -qx 'Name=VandrelViewer' "$desktop" || fail "the desktop entry's Name is not VandrelViewer"
    grep -qx 'Exec=VandrelViewer' "$desktop" || fail "the desktop entry does not run VandrelViewer"
    grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry's icon is not $app_id"
    categories=$(sed -n 's/^Categories=//p' "$desktop")
    for category in Science Electronics; do
        echo ";$categories" | grep -q ";$category;" || fail "Categories lacks $category"
    done
fi

# The metainfo: valid without network access, and pointing at the desktop entry.
metainfo=$work/root/usr/share/metainfo/$app_id.metainfo.xml
if [ -f "$metainfo" ]; then
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo"
    else
        echo "SKIP: appstreamcli is not installed; metainfo not validated"
    fi
    grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
        || fail "the metainfo does not launch $app_id.desktop"
fi

# A plain installation into a staging root lays out the same files as the package.
if DESTDIR="$work/destdir" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    (cd "$work/root" && find . -type f | sort) >"$work/package-files"
    (cd "$work/destdir" && find . -type f | sort) >"$work/install-files"
    diff -u "$work/package-files" "$work/install-files" \
        || fail "cmake --install and the package lay out different files"
else
    cat "$work/install.log"
    fail "cmake --install failed"
fi

# The dependencies resolve against this machine's package database; nothing is installed.
if command -v apt-get >/dev/null; then
    if ! apt-get install --simulate --no-install-recommends "$deb" >"$work/apt.log" 2>&1; then
        cat "$work/apt.log"
        fail "apt-get cannot resolve the package's dependencies"
    fi
else
    echo "SKIP: apt-get is not installed; dependency resolution not simulated"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package checks passed"
