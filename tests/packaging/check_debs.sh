#!/usr/bin/env bash
# check_debs.sh BUILD WORK VERSION LIBDIR PYTHON PROGRAM...
# Builds the Debian packages of the built tree (`cpack -G DEB`, output under
# WORK) and checks them: exactly libctrl-lumo1, libctrl-lumo-c1,
# python3-ctrl-lumo, libctrl-lumo-dev and cmdora, all of VERSION-n and free of
# lintian's errors and warnings, with hardened programs and libraries; each
# library under its SONAME with shlibs and the ldconfig trigger, nothing to
# build with; the Python package for every architecture, needing the C
# library, with its metadata (PYTHON reads the version from the unpacked
# package) and the scripts that compile and remove its byte code; the
# development files depending on those exact library versions with
# pkg-config files for /usr; the programs, each with its man page, with the
# menu entry, and the exporter's systemd unit with its configuration (a
# conffile), in cmdora; no file in two packages.
set -euo pipefail
build=$1 work=$2 version=$3 libdir=/usr/$4 python3=$5
shift 5
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"
command -v lintian >/dev/null || fail "lintian is not installed: run scripts/install-deps.sh"
rm -rf "$work"
mkdir -p "$work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/log" 2>&1 || { cat "$work/log"; fail "cpack"; }

arch=$(dpkg --print-architecture)
lib=$(echo "$work"/libctrl-lumo1_"$version"-*_$arch.deb)
debversion=$(dpkg-deb -f "$lib" Version)
[[ $debversion =~ ^$version-[0-9]+$ ]] || fail "libctrl-lumo1 has the version '$debversion'"
clib=$work/libctrl-lumo-c1_${debversion}_$arch.deb
python=$work/python3-ctrl-lumo_${debversion}_all.deb
dev=$work/libctrl-lumo-dev_${debversion}_$arch.deb
console=$work/cmdora_${debversion}_$arch.deb
debs=("$work"/*.deb)
[[ ${#debs[@]} == 5 && -f $lib && -f $clib && -f $python && -f $dev && -f $console ]] ||
    fail "packages made: ${debs[*]}"

# One lintian run for the five (it takes seconds per call): no error, no
# warning, and no hardening note (the information tags that stay are
# explained in packaging/lintian.md).
lintian -I --tag-display-limit 0 --fail-on none "${debs[@]}" >"$work/lintian" 2>"$work/lintian.err" ||
    { cat "$work/lintian.err"; fail "lintian could not check the packages"; }
if grep -q '^[EW]: \|^I: [^:]*: hardening-' "$work/lintian"; then
    cat "$work/lintian"
    fail "lintian: $(grep -c '^E: ' "$work/lintian") errors, $(grep -c '^W: ' "$work/lintian") warnings"
fi

# The files (not folders) of a package, as /usr/...
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print substr($6, 2) }' | sort; }
has() { grep -qx "$2" <<<"$(files "$1")" || fail "$(basename "$1") lacks $2"; }
lacks() { ! grep -q "$2" <<<"$(files "$1")" || fail "$(basename "$1") holds $2"; }

has "$lib" $libdir/libCtrl_Lumo.so.$version
has "$lib" $libdir/libCtrl_Lumo.so.1
lacks "$lib" "^$libdir/libCtrl_Lumo.so\$\|^/usr/include\|^/usr/bin"
[[ $(dpkg-deb -I "$lib" shlibs) == "libCtrl_Lumo 1 libctrl-lumo1 (>= $debversion)" ]] ||
    fail "shlibs: $(dpkg-deb -I "$lib" shlibs)"

has "$clib" $libdir/libctrl_lumo_c.so.1
lacks "$clib" "^$libdir/libctrl_lumo_c.so\$\|^/usr/include\|^/usr/bin"
[[ $(dpkg-deb -I "$clib" shlibs) == "libctrl_lumo_c 1 libctrl-lumo-c1 (>= $debversion)" ]] ||
    fail "shlibs: $(dpkg-deb -I "$clib" shlibs)"
for package in "$lib" "$clib"; do
    [[ $(dpkg-deb -I "$package" triggers) == "activate-noawait ldconfig" ]] ||
        fail "$(basename "$package") does not trigger ldconfig"
done

has "$python" /usr/lib/python3/dist-packages/ctrl_lumo/__init__.py
[[ $(dpkg-deb -f "$python" Depends) == *"libctrl-lumo-c1 (= $debversion)"* ]] ||
    fail "python3-ctrl-lumo depends on: $(dpkg-deb -f "$python" Depends)"
lacks "$python" '\.pyc$'
dpkg-deb -x "$python" "$work/python-root"
found=$("$python3" -I -c 'import sys, importlib.metadata as m; sys.path.insert(0, sys.argv[1]); print(m.version("ctrl-lumo"))' \
    "$work/python-root/usr/lib/python3/dist-packages") || fail "python3-ctrl-lumo has no metadata for ctrl-lumo"
[[ $found == "$version" ]] || fail "the metadata of python3-ctrl-lumo give the version $found"
grep -q '^ *py3compile -p python3-ctrl-lumo$' <<<"$(dpkg-deb -I "$python" postinst)" &&
    grep -q '^ *py3clean -p python3-ctrl-lumo$' <<<"$(dpkg-deb -I "$python" prerm)" ||
    fail "python3-ctrl-lumo neither compiles its modules on installing nor removes them on removing"

[[ $(dpkg-deb -f "$dev" Depends) == "libctrl-lumo-c1 (= $debversion), libctrl-lumo1 (= $debversion)" ]] ||
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
has "$console" /usr/lib/systemd/system/lumo-exporter.service
has "$console" /etc/lumo/exporter.conf
[[ $(dpkg-deb -I "$console" conffiles) == /etc/lumo/exporter.conf ]] ||
    fail "cmdora's conffiles: $(dpkg-deb -I "$console" conffiles)"
grep -qx 'ExecStart=/usr/bin/lumo exporter .* @/etc/lumo/exporter.conf' \
    <<<"$(dpkg-deb --fsys-tarfile "$console" | tar -xO ./usr/lib/systemd/system/lumo-exporter.service)" ||
    fail "lumo-exporter.service does not run /usr/bin/lumo on /etc/lumo/exporter.conf"
lacks "$console" '^/usr/lib/[^s]\|^/usr/include'
grep -q libqt6widgets6 <<<"$(dpkg-deb -f "$console" Depends)" || fail "cmdora does not depend on Qt: $(dpkg-deb -f "$console" Depends)"

twice=$(for deb in "${debs[@]}"; do files "$deb"; done | sort | uniq -d)
[[ -z $twice ]] || fail "in two packages: $twice"
echo "packages: $(cd "$work" && echo *.deb)"
