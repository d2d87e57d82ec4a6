#!/bin/bash
# Builds the Debian packages of a build tree into a temporary folder and checks what they carry and
# declare, runs lintian on them, and checks that a plain `cmake --install` lays out the same files.
# Usage: check-package.sh <build dir>. Exits 77 (skipped) when the Debian tools are absent, or
# after every other check has passed when lintian is.
set -u

build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
app_id=org.vandrel.VandrelViewer
icon_sizes="16 32 48 64 128 256"
cjk_fonts="fonts-noto-cjk | fonts-ipafont-gothic | fonts-vlgothic"

# Lintian warnings this package accepts, each with its reason; any other fails like an error.
accepted_warnings=()

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

viewer_files=(
    usr/bin/VandrelViewer
    usr/share/man/man1/VandrelViewer.1.gz
    usr/share/applications/$app_id.desktop
    usr/share/metainfo/$app_id.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/$app_id.svg
    usr/share/doc/vandrelviewer/copyright
    usr/share/doc/vandrelviewer/changelog.gz
    usr/share/doc/vandrelviewer/examples/70-vandrelviewer-modemmanager.rules
)
for size in $icon_sizes; do
    viewer_files+=(usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png)
done
instrument_files=(
    usr/bin/vandrel-instrument
    usr/share/man/man1/vandrel-instrument.1.gz
    usr/share/doc/vandrelviewer-instrument/copyright
    usr/share/doc/vandrelviewer-instrument/changelog.gz
)

for file in bin/VandrelViewer bin/vandrel-instrument icons/hicolor/scalable/apps/$app_id.svg; do
    [ -e "$build/$file" ] || fail "$build/$file is not built (build the whole tree first)"
done
[ "$failures" -eq 0 ] || exit 1

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack -G DEB failed"
    exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
viewer_deb=$work/cpack/vandrelviewer_${version}_${arch}.deb
instrument_deb=$work/cpack/vandrelviewer-instrument_${version}_${arch}.deb
made=$(cd "$work/cpack" && ls -- *.deb 2>/dev/null | tr '\n' ' ')
if [ ! -f "$viewer_deb" ] || [ ! -f "$instrument_deb" ] || [ "$(echo $made | wc -w)" -ne 2 ]; then
    fail "cpack made '$made' instead of $(basename "$viewer_deb") and $(basename "$instrument_deb")"
    exit 1
fi
echo "packages: $made"

# Contents of one package: every expected path and nothing of the other package's.
check_contents() {
    local deb=$1 name=$2
    shift 2
    local -n own=$1 other=$2
    dpkg-deb -c "$deb" >"$work/$name.contents" || fail "dpkg-deb -c cannot read $name"
    for path in "${own[@]}"; do
        grep -Eq " \./$path\$" "$work/$name.contents" || fail "$name lacks /$path"
    done
    for path in "${other[@]}"; do
        grep -Eq " \./$path\$" "$work/$name.contents" && fail "$name also holds /$path"
    done
    mkdir -p "$work/root"
    dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x cannot unpack $name"
    [ "$(dpkg-deb -f "$deb" Package)" = "$name" ] || fail "$(basename "$deb") is not named $name"
}
check_contents "$viewer_deb" vandrelviewer viewer_files instrument_files
check_contents "$instrument_deb" vandrelviewer-instrument instrument_files viewer_files
root=$work/root
for program in VandrelViewer vandrel-instrument; do
    grep -Eqh "^-rwxr-xr-x .* \./usr/bin/$program\$" "$work"/*.contents \
        || fail "/usr/bin/$program is not installed executable"
done

if command -v identify >/dev/null; then
    for size in $icon_sizes; do
        png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
        [ -f "$png" ] || continue
        actual=$(identify -format '%wx%h' "$png" 2>/dev/null)
        [ "$actual" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $actual"
    done
else
    echo "note: ImageMagick's identify is absent; icon sizes not measured"
fi

# Relations: the Qt libraries from dpkg-shlibdeps, the serif font and any of the Japanese fonts;
# nothing of Qt for the instrument; no platform plugin package (X11's is in libqt6gui6).
field_names() { echo ", $1," | grep -Eq "[ ,|]$2([ ,|(]|\$)"; }
depends=$(dpkg-deb -f "$viewer_deb" Depends)
echo "vandrelviewer Depends: $depends"
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 fonts-liberation; do
    field_names "$depends" "$package" || fail "vandrelviewer's Depends lacks $package"
done
echo ", $depends," | grep -Fq ", $cjk_fonts," || fail "vandrelviewer's Depends lacks '$cjk_fonts'"
field_names "$depends" qt6-qpa-plugins && fail "vandrelviewer depends on qt6-qpa-plugins"
[ "$(dpkg-deb -f "$viewer_deb" Recommends)" = qt6-wayland ] \
    || fail "vandrelviewer does not recommend qt6-wayland"
instrument_depends=$(dpkg-deb -f "$instrument_deb" Depends)
echo "vandrelviewer-instrument Depends: $instrument_depends"
field_names "$instrument_depends" libc6 || fail "vandrelviewer-instrument's Depends lacks libc6"
echo "$instrument_depends" | grep -q qt6 && fail "vandrelviewer-instrument depends on Qt"

# Each package's changelog opens with the version it is.
for name in vandrelviewer vandrelviewer-instrument; do
    changelog=$root/usr/share/doc/$name/changelog.gz
    [ -f "$changelog" ] || continue
    top=$(zcat "$changelog" | sed -n '1s/^[a-z0-9.+-]* (\([^)]*\)).*/\1/p')
    [ "$top" = "$version" ] || fail "$name's changelog opens with version '$top', not $version"
done

# The manual pages stay true to --help: every option a program lists is in its page, and the
# page renders without complaint.
for program in VandrelViewer vandrel-instrument; do
    page=$root/usr/share/man/man1/$program.1.gz
    [ -f "$page" ] || continue
    help=$(QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 "$root/usr/bin/$program" --help)
    options=$(echo "$help" | grep -oE -- '--[a-z][a-z-]*' | sort -u)
    [ -n "$options" ] || fail "$program --help lists no option"
    text=$(zcat "$page" | sed 's/\\-/-/g')
    for option in $options; do
        echo "$text" | grep -Fq -- "$option" || fail "$program.1 does not mention $option"
    done
    if command -v groff >/dev/null; then
        warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1)
        [ -z "$warnings" ] || fail "$program.1 renders with warnings: $warnings"
    fi
done

desktop=$root/usr/share/applications/$app_id.desktop
if [ -f "$desktop" ]; then
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
    else
        echo "SKIP: desktop-file-validate is not installed; desktop entry not validated"
    fi
    grep -qx 'Exec=VandrelViewer' "$desktop" || fail "the desktop entry does not run VandrelViewer"
    grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry's icon is not $app_id"
fi

# The metainfo: valid even pedantically (the project's web host is not reached from here).
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
if [ -f "$metainfo" ]; then
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --pedantic --no-net "$metainfo" || fail "appstreamcli rejects the metainfo"
    else
        echo "SKIP: appstreamcli is not installed; metainfo not validated"
    fi
    for element in '<url type="homepage">' '<developer_name>' '<screenshot type="default">'; do
        grep -Fq "$element" "$metainfo" || fail "the metainfo lacks $element"
    done
fi

# Both packages together lay out the same files as a plain installation.
if DESTDIR="$work/destdir" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    (cd "$root" && find . -type f | sort) >"$work/package-files"
    (cd "$work/destdir" && find . -type f | sort) >"$work/install-files"
    diff -u "$work/package-files" "$work/install-files" \
        || fail "cmake --install and the packages lay out different files"
else
    cat "$work/install.log"
    fail "cmake --install failed"
fi

if command -v apt-get >/dev/null; then
    if ! apt-get install --simulate --no-install-recommends "$viewer_deb" "$instrument_deb" \
        >"$work/apt.log" 2>&1; then
        cat "$work/apt.log"
        fail "apt-get cannot resolve the packages' dependencies"
    fi
fi

# Sanitizer and Debug builds go without the distribution's hardening, which conflicts with the
# sanitizers or needs the optimiser; their packages are built only to check the packaging.
sanitize=$(sed -n 's/^VANDREL_SANITIZE:[A-Z]*=//p' "$build/CMakeCache.txt")
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ -n "$sanitize" ] || [ "$build_type" = Debug ]; then
    echo "note: a $build_type${sanitize:+ $sanitize-sanitizer} build; its hardening is not checked"
    accepted_warnings+=(hardening-no-fortify-functions hardening-no-bindnow hardening-no-relro)
fi

lintian_skipped=0
if command -v lintian >/dev/null; then
    # Root may run lintian only when it says so.
    lintian --allow-root --no-cfg --display-info --tag-display-limit 0 \
        "$viewer_deb" "$instrument_deb" >"$work/lintian.log" 2>&1
    cat "$work/lintian.log"
    grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors"
    while read -r tag; do
        accepted=0
        for allowed in "${accepted_warnings[@]}"; do
            [ "$tag" = "$allowed" ] && accepted=1
        done
        [ "$accepted" -eq 1 ] || fail "lintian warns: $tag"
    done < <(sed -n 's/^W: [^:]*: \([^ ]*\).*/\1/p' "$work/lintian.log" | sort -u)
else
    echo "SKIP: lintian is not installed; the packages are not checked against Debian policy"
    lintian_skipped=1
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
[ "$lintian_skipped" -eq 0 ] || exit 77
echo "package checks passed"
