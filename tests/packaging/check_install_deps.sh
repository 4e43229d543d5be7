#!/usr/bin/env bash
# check_install_deps.sh SCRIPT WORK
# Runs scripts/install-deps.sh with stand-ins for dpkg-query (every package
# missing), sudo, sleep (returns at once) and apt-get (reports "Could not get
# lock" while another program would hold it): the script waits for the lock
# and installs, and gives up with apt-get's message once the wait is over.
set -euo pipefail
script=$1 work=$2
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"
rm -rf "$work"
mkdir -p "$work/bin"
cd "$work"
stub() {
    printf '#!/usr/bin/env bash\n%s\n' "$2" >"bin/$1"
    chmod +x "bin/$1"
}
stub dpkg-query 'exit 1'
stub sudo 'shift; exec "$@"'
stub sleep 'exit 0'
# apt-get fails while the file "held" counts down, then logs its arguments.
stub apt-get "held=\$(cat '$work/held')
if ((held > 0)); then
    echo \$((held - 1)) >'$work/held'
    echo 'E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)' >&2
    exit 100
fi
echo \"\$*\" >>'$work/apt-get.log'"

echo 3 >held
PATH=$work/bin:$PATH bash "$script" >out 2>&1 || { cat out; fail "install-deps failed while the lock was held 3 times"; }
grep -q '^update$' apt-get.log && grep -q '^install -y --no-install-recommends cmake ' apt-get.log ||
    fail "apt-get ran as: $(cat apt-get.log)"
[[ $(grep -c 'waiting for it' out) == 1 ]] && grep -q 'held by process 4242' out || { cat out; fail "no word of the wait"; }

echo 1000 >held
rc=0
PATH=$work/bin:$PATH LUMO_APT_LOCK_WAIT=20 bash "$script" >out 2>&1 || rc=$?
[[ $rc != 0 && $(cat held) == 995 ]] || fail "status $rc after $((1000 - $(cat held))) tries of a lock never freed"
grep -q 'E: Could not get lock' out && grep -q 'gave up .* after 20s' out || { cat out; fail "no reason given"; }
echo "install-deps waits for the package manager's lock and gives up after its time"
