#!/usr/bin/env bash
# Installs what the build and the tests need on Debian. Idempotent: when every
# package is already installed it does nothing (no apt-get update either).
set -euo pipefail

# scdoc turns the man pages into roff; dpkg-dev and file serve cpack; the
# packaging tests validate with desktop-file-utils, appstream, pkgconf and groff;
# libxml2-utils gives xmllint, which checks the JUnit reports of lumo, and
# libre2-dev the regular expressions of lumo's command lists, and
# libcpp-httplib-dev the HTTP server of lumo exporter, whose metrics are read
# back by python3-prometheus-client and its page by curl; lintian checks the
# Debian packages. The Python package is tested with pytest and installed
# with pip into a venv (setuptools and wheel build it without the network;
# setuptools also writes its metadata for the Debian package). The Windows
# build uses the MinGW-w64 cross-compiler (POSIX threads) and runs its tests
# under Wine; GoogleTest's source (googletest) is built for it, and zip
# serves cpack's Windows archive.
packages=(cmake g++ make libgtest-dev libgmock-dev qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth binutils
    scdoc dpkg-dev file desktop-file-utils appstream pkgconf groff-base libxml2-utils libre2-dev lintian
    libcpp-httplib-dev curl python3-prometheus-client python3 python3-pytest python3-pip python3-venv python3-setuptools python3-wheel
    g++-mingw-w64-x86-64-posix wine wine64 googletest zip)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    echo "install-deps: all ${#packages[@]} packages present"
    exit 0
fi

as_root=()
if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "install-deps: missing ${missing[*]}; run as root to install them" >&2
        exit 1
    fi
    as_root=(sudo -n) # never prompt: the script may run without a terminal
fi

# apt_get ARGS...: apt-get as root. While another program holds the package
# manager's lock (an unattended upgrade, a package manager window) apt-get
# fails at once with "Could not get lock"; wait for the lock instead, trying
# again every 5 seconds for up to LUMO_APT_LOCK_WAIT seconds (five minutes).
apt_get() {
    local err wait=${LUMO_APT_LOCK_WAIT:-300} waited=0
    err=$(mktemp)
    while ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "$@" </dev/null 2>"$err"; do
        if ! grep -q 'Could not get lock' "$err" || ((waited >= wait)); then
            cat "$err" >&2
            ((waited == 0)) || echo "install-deps: gave up waiting for the package manager's lock after ${waited}s" >&2
            rm -f "$err"
            return 1
        fi
        ((waited > 0)) || echo "install-deps: $(grep -m 1 'Could not get lock' "$err" | sed 's/^E: //');" \
            "waiting for it (up to ${wait}s)" >&2
        sleep 5
        waited=$((waited + 5))
    done
    cat "$err" >&2 # apt-get's warnings
    rm -f "$err"
}

echo "install-deps: installing ${missing[*]}"
apt_get update
apt_get install -y --no-install-recommends "${missing[@]}"
