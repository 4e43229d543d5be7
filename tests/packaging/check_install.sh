#!/usr/bin/env bash
# check_install.sh BUILD STAGE VERSION LIBDIR PROGRAM...
# Installs the built tree under STAGE (`cmake --install --prefix`, nothing is
# compiled) and checks what users and other programs rely on: the library's
# link chain and SONAME, headers that include only installed headers, the
# CMake package and pkg-config file, every program's --help, --version and
# man page, and the desktop file, icons and metainfo, validated.
set -euo pipefail
build=$1 stage=$2 version=$3 libdir=$4
shift 4
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"

rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
cd "$stage"

# lib.so -> .so.1 -> .so.VERSION, whose SONAME is lib.so.1, for the C++ library and its C interface.
for name in libCtrl_Lumo libctrl_lumo_c; do
    lib=$libdir/$name.so
    [[ -f $lib.$version && ! -L $lib.$version ]] || fail "$lib.$version is not installed"
    [[ $(readlink "$lib.1") == $name.so.$version ]] || fail "$lib.1 does not link to $name.so.$version"
    [[ $(readlink "$lib") == $name.so.1 ]] || fail "$lib does not link to $name.so.1"
    soname=$(objdump -p "$lib.$version" | awk '$1 == "SONAME" { print $2 }')
    [[ $soname == $name.so.1 ]] || fail "SONAME of $name is '$soname'"
done
[[ -f include/ctrl_lumo/ctrl_lumo_c.h ]] || fail "ctrl_lumo_c.h is not installed"
[[ -f lib/python3/dist-packages/ctrl_lumo/__init__.py && -f lib/python3/dist-packages/ctrl_lumo/py.typed ]] ||
    fail "the Python package ctrl_lumo is not installed"

# A public header may include only headers installed beside it.
for header in include/ctrl_lumo/*.h; do
    for included in $(sed -n 's/^#include "\(.*\)"/\1/p' "$header"); do
        [[ -f include/ctrl_lumo/$included ]] || fail "$header includes $included, which is not installed"
    done
done

[[ -f $libdir/cmake/CtrlLumo/CtrlLumoConfig.cmake && -f $libdir/cmake/CtrlLumo/CtrlLumoConfigVersion.cmake ]] ||
    fail "no CMake package under $libdir/cmake/CtrlLumo"
export PKG_CONFIG_PATH=$stage/$libdir/pkgconfig
[[ $(pkg-config --modversion ctrl-lumo) == "$version" ]] || fail "ctrl-lumo.pc has another version"
[[ $(pkg-config --variable=prefix ctrl-lumo) == "$stage" ]] || fail "ctrl-lumo.pc names another prefix"
[[ $(pkg-config --modversion ctrl-lumo-c) == "$version" && $(pkg-config --libs ctrl-lumo-c) == *-lctrl_lumo_c* ]] ||
    fail "ctrl-lumo-c.pc: $(pkg-config --modversion --libs ctrl-lumo-c)"

# Every program answers --help and --version, refuses an unknown option with
# its usage status (2; lumo, a tool for scripts, has 64 as in sysexits.h), and
# has its man page; none of this needs a display or touches the settings.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir "$home/config"
export HOME=$home XDG_CONFIG_HOME=$home/config
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
for program in "$@"; do
    [[ -x bin/$program ]] || fail "bin/$program is not installed"
    [[ $(bin/"$program" --version) == "$program $version" ]] || fail "$program --version: $(bin/"$program" --version)"
    grep -q "^usage: $program" <<<"$(bin/"$program" --help)" || fail "$program --help prints no usage"
    usage=2
    [[ $program == lumo ]] && usage=64
    rc=0
    bin/"$program" --no-such-option >/dev/null 2>"$home/err" || rc=$?
    [[ $rc == "$usage" ]] && grep -q -- --no-such-option "$home/err" || fail "$program --no-such-option: status $rc"
    page=share/man/man1/$program.1.gz
    [[ -f $page ]] || fail "$page is not installed"
    grep -q "^\.TH \"$program\" \"1\" .*\"Cmdora $version\"" <<<"$(zcat "$page")" || fail "$page: no title line naming $version"
    warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
    [[ -z $warnings ]] || fail "$page: $warnings"
done
[[ -z $(ls -A "$home/config") ]] || fail "the programs wrote under XDG_CONFIG_HOME: $(ls -AR "$home/config")"

# The menu entry starts an installed program with an installed icon; every
# PNG has the size its folder names; both files validate.
app=com.norvane.Cmdora
desktop=share/applications/$app.desktop
desktop-file-validate "$desktop" || fail "$desktop does not validate"
exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[[ -x bin/$exec ]] || fail "$desktop starts '$exec', which is not installed"
[[ $(sed -n 's/^Icon=//p' "$desktop") == "$app" && -f share/icons/hicolor/scalable/apps/$app.svg ]] ||
    fail "$desktop names no installed icon"
pngs=0
for png in share/icons/hicolor/*x*/apps/$app.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    [[ $(file -b "$png") == "PNG image data, ${size/x/ x },"* ]] || fail "$png is not a $size PNG"
    pngs=$((pngs + 1))
done
((pngs >= 4)) || fail "only $pngs PNG sizes"
grep -q "<release version=\"$version\"" share/metainfo/$app.metainfo.xml || fail "metainfo has no release $version"
grep -q '^zh |' share/cmdora/known-commands || fail "the known commands are not installed"
rule=share/doc/cmdora/examples/70-cmdora-serial.rules
grep -q 'GROUP="dialout".*SYMLINK+=.*ID_MM_DEVICE_IGNORE' "$rule" || fail "$rule is not installed"
appstreamcli validate-tree --no-net "$stage" >"$home/appstream" 2>&1 || { cat "$home/appstream"; fail "appstream"; }
echo "install tree under $stage: ${#@} programs, libraries, headers, Python package, packages for CMake and pkg-config, desktop files"
