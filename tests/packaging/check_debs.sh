#!/usr/bin/env bash
# check_debs.sh BUILD WORK VERSION LIBDIR PROGRAM...
# Builds the Debian packages of the built tree (`cpack -G DEB`, output under
# WORK) and checks them: exactly libctrl-lumo1, libctrl-lumo-c1,
# python3-ctrl-lumo, libctrl-lumo-dev and cmdora; each library under its
# SONAME with shlibs and ldconfig, nothing to build with; the Python package
# for every architecture, needing the C library; the development files
# depending on those exact library versions with pkg-config files for /usr;
# the programs, each with its man page, with the menu entry, in cmdora; no
# file in two packages.
set -euo pipefail
build=$1 work=$2 version=$3 libdir=/usr/$4
shift 4
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"
rm -rf "$work"
mkdir -p "$work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/log" 2>&1 || { cat "$work/log"; fail "cpack"; }

arch=$(dpkg --print-architecture)
lib=$work/libctrl-lumo1_${version}_$arch.deb
clib=$work/libctrl-lumo-c1_${version}_$arch.deb
python=$work/python3-ctrl-lumo_${version}_all.deb
dev=$work/libctrl-lumo-dev_${version}_$arch.deb
console=$work/cmdora_${version}_$arch.deb
debs=("$work"/*.deb)
[[ ${#debs[@]} == 5 && -f $lib && -f $clib && -f $python && -f $dev && -f $console ]] ||
    fail "packages made: ${debs[*]}"

# The files (not folders) of a package, as /usr/...
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print substr($6, 2) }' | sort; }
has() { grep -qx "$2" <<<"$(files "$1")" || fail "$(basename "$1") lacks $2"; }
lacks() { ! grep -q "$2" <<<"$(files "$1")" || fail "$(basename "$1") holds $2"; }

has "$lib" $libdir/libCtrl_Lumo.so.$version
has "$lib" $libdir/libCtrl_Lumo.so.1
lacks "$lib" "^$libdir/libCtrl_Lumo.so\$\|^/usr/include\|^/usr/bin"
[[ $(dpkg-deb -I "$lib" shlibs) == "libCtrl_Lumo 1 libctrl-lumo1 (>= $version)" ]] || fail "shlibs: $(dpkg-deb -I "$lib" shlibs)"
grep -q ldconfig <<<"$(dpkg-deb -I "$lib" postinst)" || fail "libctrl-lumo1 does not run ldconfig"

has "$clib" $libdir/libctrl_lumo_c.so.1
lacks "$clib" "^$libdir/libctrl_lumo_c.so\$\|^/usr/include\|^/usr/bin"
[[ $(dpkg-deb -I "$clib" shlibs) == "libctrl_lumo_c 1 libctrl-lumo-c1 (>= $version)" ]] ||
    fail "shlibs: $(dpkg-deb -I "$clib" shlibs)"

has "$python" /usr/lib/python3/dist-packages/ctrl_lumo/__init__.py
[[ $(dpkg-deb -f "$python" Depends) == *"libctrl-lumo-c1 (= $version)"* ]] ||
    fail "python3-ctrl-lumo depends on: $(dpkg-deb -f "$python" Depends)"

[[ $(dpkg-deb -f "$dev" Depends) == "libctrl-lumo-c1 (= $version), libctrl-lumo1 (= $version)" ]] ||
    fail "libctrl-lumo-dev depends on: $(dpkg-deb -f "$dev" Depends)"
for file in $libdir/libCtrl_Lumo.so /usr/include/ctrl_lumo/lumo_net.h $libdir/cmake/CtrlLumo/CtrlLumoConfig.cmake \
    $libdir/pkgconfig/ctrl-lumo.pc $libdir/libctrl_lumo_c.so /usr/include/ctrl_lumo/ctrl_lumo_c.h \
    $libdir/pkgconfig/ctrl-lumo-c.pc; do
    has "$dev" "$file"
done
grep -qx 'prefix=/usr' <<<"$(dpkg-deb --fsys-tarfile "$dev" | tar -xO .$libdir/pkgconfig/ctrl-lumo.pc)" ||
    fail "ctrl-lumo.pc in libctrl-lumo-dev is not for /usr"

for program in "$@"; do
    has "$console" "/usr/bin/$program"
    has "$console" "/usr/share/man/man1/$program.1.gz"
done
has "$console" /usr/share/applications/com.norvane.Cmdora.desktop
has "$console" /usr/share/metainfo/com.norvane.Cmdora.metainfo.xml
lacks "$console" '^/usr/lib\|^/usr/include'
grep -q libqt6widgets6 <<<"$(dpkg-deb -f "$console" Depends)" || fail "cmdora does not depend on Qt: $(dpkg-deb -f "$console" Depends)"

twice=$(for deb in "${debs[@]}"; do files "$deb"; done | sort | uniq -d)
[[ -z $twice ]] || fail "in two packages: $twice"
echo "packages: $(cd "$work" && echo *.deb)"
