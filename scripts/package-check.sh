#!/bin/bash
# Builds the Debian package from a configured and built tree and checks what a user would get:
# the package's dependencies and files, the desktop entry and metainfo, the icons, and that the
# unpacked programs start. Also checks that `cmake --install` lays out the same files.
#
#   scripts/package-check.sh [BUILD_DIR]     (default build-ci; quarrymoth and quarrymoth-cli
#                                             must be built there)
# The package is left in BUILD_DIR/package. Exits non-zero after listing every failed check.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=$(realpath -m "${1:-$ROOT/build-ci}")
PKG_SRC="$ROOT/packaging"
DESKTOP="$PKG_SRC/quarrymoth.desktop"
METAINFO="$PKG_SRC/io.github.quarrymoth.Quarrymoth.metainfo.xml"
# Keep in step with QM_ICON_SIZES in cmake/Packaging.cmake.
ICON_SIZES=(16 22 24 32 48 64 128 256)

failures=0
passes=0
fail() {
    echo "package-check: FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { passes=$((passes + 1)); }
expect() { # expect FAILURE-MESSAGE TEST...: counts a pass when the test command succeeds
    local what=$1
    shift
    if "$@"; then pass; else fail "$what"; fi
}
check() { # check DESCRIPTION COMMAND...: runs the command quietly, its output only on failure
    local what=$1 out
    shift
    if out=$("$@" 2>&1); then
        pass
    else
        fail "$what"
        [ -n "$out" ] && printf '%s\n' "$out" | sed 's/^/    /' >&2
    fi
    return 0
}
die() {
    echo "package-check: $*" >&2
    exit 1
}

for tool in cpack dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli readelf; do
    command -v "$tool" >/dev/null ||
        die "$tool is missing: run scripts/install-deps.sh (dpkg-dev, file, desktop-file-utils, appstream)"
done
[ -f "$BUILD_DIR/CPackConfig.cmake" ] ||
    die "$BUILD_DIR has no CPackConfig.cmake: configure it with cmake/Packaging.cmake included"
for program in quarrymoth quarrymoth-cli; do
    [ -x "$BUILD_DIR/$program" ] ||
        die "$BUILD_DIR/$program is not built: cmake --build $BUILD_DIR --target $program"
done

work=$(mktemp -d /tmp/qm-package-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The files every install must hold, relative to the prefix.
expected=(
    bin/quarrymoth
    bin/quarrymoth-cli
    share/applications/quarrymoth.desktop
    share/metainfo/io.github.quarrymoth.Quarrymoth.metainfo.xml
    share/icons/hicolor/scalable/apps/quarrymoth.svg
)
for size in "${ICON_SIZES[@]}"; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/quarrymoth.png")
done

# --- The source files as they ship ---------------------------------------------------------
check "desktop-file-validate rejects $DESKTOP" desktop-file-validate "$DESKTOP"
check "appstreamcli rejects $METAINFO" appstreamcli validate --no-net "$METAINFO"

# The desktop entry, the metainfo and the installed names have to agree, or the menu entry
# launches nothing or shows no icon, and software centres cannot match the metainfo to it.
desktop_key() { sed -n "s/^$1=//p" "$DESKTOP" | head -n 1; }
exec_name=$(desktop_key Exec | awk '{print $1}')
icon_name=$(desktop_key Icon)
expect "desktop entry runs '$exec_name', not the installed quarrymoth" [ "$exec_name" = quarrymoth ]
expect "desktop entry names the icon '$icon_name', not the installed quarrymoth" [ "$icon_name" = quarrymoth ]
expect "metainfo does not launch quarrymoth.desktop" \
    grep -q '<launchable type="desktop-id">quarrymoth.desktop</launchable>' "$METAINFO"
project_version=$(sed -n 's/^project(quarrymoth VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
expect "metainfo has no release entry for the project version $project_version" \
    grep -q "<release version=\"$project_version\"" "$METAINFO"

# Each PNG must be rendered at the size its folder claims: a mis-sized icon is scaled blurry.
png_size() { # width x height from the IHDR chunk
    od -An -tu1 -j16 -N8 "$1" | awk '{printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'
}
for size in "${ICON_SIZES[@]}"; do
    png="$PKG_SRC/icons/hicolor/${size}x${size}/apps/quarrymoth.png"
    if [ ! -f "$png" ]; then
        fail "missing icon $png"
    elif [ "$(png_size "$png")" != "${size}x${size}" ]; then
        fail "$png is $(png_size "$png"), not ${size}x${size}"
    else
        pass
    fi
done
# The resource file compiled into the window must name files that exist.
while read -r f; do
    expect "icons.qrc lists $f, which does not exist" [ -f "$PKG_SRC/icons/$f" ]
done < <(sed -n 's|.*<file[^>]*>\(.*\)</file>.*|\1|p' "$PKG_SRC/icons/icons.qrc")

# --- The Debian package --------------------------------------------------------------------
out_dir="$BUILD_DIR/package"
rm -rf "$out_dir"
mkdir -p "$out_dir"
if ! (cd "$BUILD_DIR" && cpack -G DEB -B "$out_dir") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    die "cpack -G DEB failed in $BUILD_DIR"
fi
debs=("$out_dir"/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    die "cpack made no single .deb in $out_dir: ${debs[*]}"
fi
deb=${debs[0]}
echo "package-check: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"

field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
echo "package-check: Depends: $depends"
expect "package name is '$(field Package)'" [ "$(field Package)" = quarrymoth ]
case "$(field Version)" in
"$project_version" | "$project_version"-*) pass ;;
*) fail "package version '$(field Version)' is not the project version $project_version" ;;
esac
expect "package section is '$(field Section)', not net" [ "$(field Section)" = net ]
expect "package has no maintainer" [ -n "$(field Maintainer)" ]
# Computed by dpkg-shlibdeps from the programs: Qt Widgets for the window, libc for both.
for lib in libqt6widgets6 libc6 libstdc++6; do
    if printf '%s\n' "$depends" | tr ',|' '\n' | awk '{print $1}' | grep -qxF "$lib"; then
        pass
    else
        fail "Depends does not list $lib: '$depends'"
    fi
done

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' >"$work/contents"
for f in "${expected[@]}"; do
    expect "the package does not hold /usr/$f" grep -qxF "usr/$f" "$work/contents"
done
# Anything outside /usr would be a file no prefix setting controls.
stray=$(grep -v -e '^usr/' -e '^$' "$work/contents" || true)
expect "the package holds files outside /usr: $stray" [ -z "$stray" ]

root="$work/root"
dpkg-deb -x "$deb" "$root"
for program in quarrymoth quarrymoth-cli; do
    bin="$root/usr/bin/$program"
    expect "/usr/bin/$program is not executable in the package" [ -x "$bin" ]
    missing=$(ldd "$bin" 2>&1 | grep 'not found' || true)
    expect "/usr/bin/$program needs libraries that are not installed: $missing" [ -z "$missing" ]
    if readelf -S "$bin" | grep -q '\.debug_info'; then
        fail "/usr/bin/$program still carries debug info (CPACK_STRIP_FILES)"
    else
        pass
    fi
done
# Both print their usage before any window system is needed, so this runs without a display.
for program in quarrymoth quarrymoth-cli; do
    if "$root/usr/bin/$program" --help >"$work/help.txt" 2>&1 && grep -q -- '--profile' "$work/help.txt"; then
        pass
    else
        fail "the packaged $program --help did not print its usage: $(head -c 300 "$work/help.txt")"
    fi
done

# --- cmake --install --------------------------------------------------------------------
prefix="$work/prefix"
if cmake --install "$BUILD_DIR" --prefix "$prefix" >"$work/install.log" 2>&1; then
    for f in "${expected[@]}"; do
        expect "cmake --install did not install $f" [ -f "$prefix/$f" ]
    done
    expect "cmake --install left bin/quarrymoth not executable" [ -x "$prefix/bin/quarrymoth" ]
else
    cat "$work/install.log" >&2
    fail "cmake --install $BUILD_DIR failed"
fi

if [ "$failures" -ne 0 ]; then
    echo "package-check: $failures check(s) failed, $passes passed" >&2
    exit 1
fi
echo "package-check: all $passes checks passed"
