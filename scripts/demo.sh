#!/usr/bin/env bash
# The main job on simulated switches, needing no hardware and no network beyond loopback:
# sets up the machine, builds, starts the bundled simulated switch consoles on 127.0.0.x,
# updates one Brocade switch with a reboot at debug level 1 (its log scrolling by), then a
# small mixed fleet in which some switches fail, ending in the summary table. Cleans up after
# itself.
#   scripts/demo.sh                set up, build into build/, run
#   scripts/demo.sh --built DIR    run against an existing build (CI), without set-up
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
if [[ ${1:-} == --built ]]; then
  build=$(cd "${2:?--built needs the build folder}" && pwd)
else
  "$root/scripts/setup.sh"
  "$root/scripts/build.sh" build
fi
if [[ $(id -u) != 0 ]]; then
  # The library opens the switch consoles on port 23, as on real switches.
  echo "demo: the simulated switches listen on port 23 of 127.0.0.x, which needs root: sudo $0 $*" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/modburn-demo.XXXXXX")
sim_pid=
cleanup() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
modburn() { MODBURN_BUILD=$build "$root/scripts/modburn" "$@"; }

# Passwords live in files only this user can read; none is ever on a command line.
(umask 077; printf 'Dq7-xSw-K3y\n' >"$work/switch.pw"; printf 'Fz8-Tq2-J9p\n' >"$work/ftp.pw")

say "Starting the simulated switches (sim/scenarios/demo.conf)"
"$build/sim/switchsim" --config "$root/sim/scenarios/demo.conf" >"$work/switchsim.out" 2>&1 &
sim_pid=$!
switches=$(grep -c '^[0-9]' "$root/sim/scenarios/demo.conf")
for _ in $(seq 100); do
  (($(grep -c '^switchsim: listening on' "$work/switchsim.out" || true) >= switches)) && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if (($(grep -c '^switchsim: listening on' "$work/switchsim.out" || true) < switches)); then
  echo "demo: the simulated switches did not start:" >&2
  cat "$work/switchsim.out" >&2
  exit 1
fi
grep '^switchsim: listening on' "$work/switchsim.out" | sed "s|$root/||"

say "The families the tool knows"
modburn families

say "The versions one Brocade switch runs"
versions=(versions brocade 127.0.0.61 admin --password-file "$work/switch.pw")
echo "\$ scripts/modburn ${versions[*]}"
modburn "${versions[@]}"

say "That switch updated, with reboot, at debug level 1, its new version read back"
update=(update brocade 127.0.0.61 admin ftp://fw@127.0.0.1/fos/v9.9.9.bin --reboot --verify --debug 1
        --password-file "$work/switch.pw" --url-password-file "$work/ftp.pw")
echo "\$ scripts/modburn ${update[*]}"
modburn "${update[@]}"

say "A fleet of four: two Brocade and two Cisco IOS switches, two of which fail"
cat >"$work/fleet.csv" <<'CSV'
family,address,user,password,url,url_password,reboot,name
brocade,127.0.0.61,admin,file:switch.pw,ftp://fw@127.0.0.1/fos/v9.9.9.bin,file:ftp.pw,yes,brocade-a
brocade,127.0.0.62,admin,file:switch.pw,ftp://fw@127.0.0.1/fos/v9.9.9.bin,file:ftp.pw,no,brocade-b
cisco,127.0.0.11,admin,file:switch.pw,tftp://127.0.0.1/ios/c3750-universalk9.tar,,yes,cisco-a
cisco,127.0.0.12,admin,file:switch.pw,ftp://fw@127.0.0.1/ios/c3750-universalk9.tar,file:ftp.pw,no,cisco-b
CSV
cat "$work/fleet.csv"
echo "\$ scripts/modburn fleet $work/fleet.csv --parallel 4 --log-dir $work/logs"
rc=0
modburn fleet "$work/fleet.csv" --parallel 4 --log-dir "$work/logs" || rc=$?

say "The log of the switch that failed to download (brocade-b)"
cat "$work/logs/brocade-b.log"

# Two switches of the set fail on purpose: the fleet ends with status 1.
if ((rc != 1)); then
  echo "demo: the fleet ended with status $rc, expected 1 (two switches fail on purpose)" >&2
  exit 1
fi
if grep -rq -e Dq7-xSw-K3y -e Fz8-Tq2-J9p "$work/logs"; then
  echo "demo: a password reached a log file" >&2
  exit 1
fi
# The pre-flight check of the next rollout, and a fleet that waits for its rebooted switches.
"$root/scripts/demo-check.sh" "$build" "$work"
say "Done: the simulated switches are stopped and the demo's files removed"
